# Installs the build into a fresh prefix, then builds an outside client against it: an
# executable and a plug-in using the kit, through find_package and again through the
# README's pkg-config lines, run each time with nothing but what the README states, and a
# plug-in built with PROFILER_KIT_DISABLE that must carry no trace of the profiler. Run as a
# CTest script with: -DBUILD_DIR -DCLIENT_DIR -DREADME -DWORK_DIR -DGENERATOR -DVERSION and
# the compiler settings to reuse.
file(REMOVE_RECURSE ${WORK_DIR})
# The programs find the shared library by their run path alone.
unset(ENV{LD_LIBRARY_PATH})
function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" version "${VERSION}")
set(major ${CMAKE_MATCH_1})
math(EXPR number "${CMAKE_MATCH_1} * 10000 + ${CMAKE_MATCH_2} * 100 + ${CMAKE_MATCH_3}")

# Every header in the package's own folder: the prefix's include/ gets that one name.
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB top RELATIVE ${prefix}/include ${prefix}/include/*)
set(include ${prefix}/include/profilercontext)
if(NOT top STREQUAL "profilercontext" OR NOT EXISTS ${include}/kit/profilerkit.h
   OR NOT EXISTS ${include}/profile/profilercontext_version.h)
    message(FATAL_ERROR "headers not in ${include} alone: include/ holds ${top}")
endif()
# The shared library under its versioned name, reached through the SONAME link.
file(GLOB sonames ${prefix}/lib*/libprofilercontext.so.${major})
file(GLOB full ${prefix}/lib*/libprofilercontext.so.${VERSION})
if(NOT sonames OR NOT full)
    message(FATAL_ERROR "no libprofilercontext.so.${VERSION} installed in ${prefix}")
endif()
get_filename_component(libdir ${sonames} DIRECTORY)

set(settings -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}"
    "-DCMAKE_MODULE_LINKER_FLAGS=${EXE_LINKER_FLAGS}" -DPC_EXPECTED_VERSION=${VERSION})
if(TOOLCHAIN_FILE)
    list(APPEND settings -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE})
endif()
run(${CMAKE_COMMAND} -S ${CLIENT_DIR} -B ${WORK_DIR}/cmake -G ${GENERATOR} ${settings})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(${WORK_DIR}/cmake/package_client ${WORK_DIR}/cmake/package_plugin.so)
if(NOT last_output MATCHES "package client: ok ${VERSION} ${number}\n")
    message(FATAL_ERROR "unexpected output of the find_package client: ${last_output}")
endif()

# The disabled plug-in: no record section, no kit code, no profiler library to load.
set(bare ${WORK_DIR}/cmake/package_plugin_disabled.so)
run(objdump -h -p ${bare})
if(last_output MATCHES "pcscopes|NEEDED +lib(profilercontext|profilerkit|platform)")
    message(FATAL_ERROR "the disabled plug-in still has the profiler:\n${last_output}")
endif()
run(nm ${bare})
if(last_output MATCHES "pcscopes|ProfilerKit|GetProfiler|CProfiler")
    message(FATAL_ERROR "the disabled plug-in still references the kit:\n${last_output}")
endif()
# Every macro of the kit header has an empty form: none of the disabled expansions names
# the kit, and the disabled header defines the same macros as the enabled one.
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")
file(WRITE ${WORK_DIR}/macros.cpp "#include \"kit/profilerkit.h\"\n")
foreach(mode enabled disabled)
    set(define)
    if(mode STREQUAL "disabled")
        set(define -DPROFILER_KIT_DISABLE)
    endif()
    run(${CXX_COMPILER} ${flags} -std=c++20 -I${include} ${define} -dM -E ${WORK_DIR}/macros.cpp)
    string(REGEX MATCHALL "#define PROFILE_[A-Za-z0-9_]+[^\n]*" ${mode} "${last_output}")
    string(REGEX MATCHALL "#define PROFILE_[A-Za-z0-9_]+" ${mode}_names "${last_output}")
    list(SORT ${mode}_names)
endforeach()
if(NOT enabled_names OR NOT enabled_names STREQUAL disabled_names
   OR disabled MATCHES "ProfilerKit|PLATFORM_|SProfiler|CProfiler|PROFILER_KIT_JOIN")
    message(FATAL_ERROR "kit macros not all compiled out:\n${enabled}\nbecome\n${disabled}")
endif()

# The README's own lines, run in the folder where its main.cpp and plugin.cpp are: the
# executable and the plug-in built, g++ standing for this configuration's compiler and
# flags, and the program started as it says.
file(STRINGS ${README} lines REGEX "^(g\\+\\+ .*pkg-config|\\./app)")
list(LENGTH lines count)
if(NOT count EQUAL 3 OR NOT lines MATCHES ";\\./app$")
    message(FATAL_ERROR "expected the README's two pkg-config build lines and ./app: ${lines}")
endif()
set(out ${WORK_DIR}/pkg-config)
file(COPY ${CLIENT_DIR}/main.cpp ${CLIENT_DIR}/plugin.cpp DESTINATION ${out})
set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
run(pkg-config --modversion profilercontext)
if(NOT last_output STREQUAL "${VERSION}\n")
    message(FATAL_ERROR "pkg-config gives version ${last_output}, not ${VERSION}")
endif()
foreach(line ${lines})
    string(REGEX REPLACE "^g\\+\\+" "${CXX_COMPILER} ${CXX_FLAGS} ${EXE_LINKER_FLAGS}" line "${line}")
    execute_process(COMMAND sh -c "${line}" WORKING_DIRECTORY ${out} RESULT_VARIABLE rc
        OUTPUT_VARIABLE output ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the README's line failed: ${line}\n${output}\n${err}")
    endif()
endforeach()
if(NOT output MATCHES "package client: ok ${VERSION} ${number}\n")
    message(FATAL_ERROR "unexpected output of the README's ./app: ${output}")
endif()
