# Fails unless a module's record section holds its records back to back and nothing else:
# COUNT records of RECORD_SIZE bytes, plus the begin and end markers on PE. Read from the
# built file on the build machine, so the layout is proved whether or not the module can run.
# Run as: cmake -DLIBRARY=<file> -DTOOL=<objdump> -DKIND=<elf|pe> -DCOUNT=<n>
#         -DRECORD_SIZE=<12 or 16> -P CheckRecordSection.cmake
if(KIND STREQUAL "pe")
    set(section ".pcscope")
    math(EXPR expected "(${COUNT} + 2) * ${RECORD_SIZE}")
else()
    set(section "pcscopes")
    math(EXPR expected "${COUNT} * ${RECORD_SIZE}")
endif()
execute_process(COMMAND ${TOOL} -h ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
# A section row reads "  <index> <name> <size> <vma> <lma> <offset> <alignment>".
string(REGEX MATCH " ${section} +([0-9a-f]+) " row "${dump}")
if(NOT rc EQUAL 0 OR row STREQUAL "")
    message(FATAL_ERROR "no section ${section} in ${LIBRARY}")
endif()
math(EXPR size "0x${CMAKE_MATCH_1}")
if(NOT size EQUAL expected)
    message(FATAL_ERROR "${section} of ${LIBRARY} is ${size} bytes, expected ${expected}")
endif()
message(STATUS "${section} of ${LIBRARY}: ${size} bytes, ${COUNT} records of ${RECORD_SIZE}")
