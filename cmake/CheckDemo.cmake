# Runs the demo and checks what it printed: the shared names re-pointed and a name cleared
# at the unload, the names back at the reload, the log's channel thresholds, the report's
# totals for the calls that the demo made, and the trace file. Run as a CTest script with
#   -DDEMO=<executable> -DTRACE=<trace path> [-DEMULATOR=<runner>]
file(REMOVE ${TRACE})
execute_process(COMMAND ${EMULATOR} ${DEMO} ${TRACE} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
set(failures "")
macro(expect text pattern what)
    if(NOT "${text}" MATCHES "${pattern}")
        string(APPEND failures "\n  ${what}")
    endif()
endmacro()

expect("${rc}" "^0$" "exit code 0")
string(REGEX MATCH "unloaded while[^[]*" unloaded "${out}")
string(REGEX MATCH "loaded again[^[]*" reloaded "${out}")
foreach(name Math::Transform Resource::Load)
    expect("${unloaded}" "${name} +index +[0-9]+  physics's text" "${name} re-pointed to physics")
    expect("${reloaded}" "${name} +index +[0-9]+  audio's text" "${name} back to audio")
endforeach()
foreach(name Audio::Mix Audio::Decode)
    string(REGEX MATCH "${name} +index +[0-9]+  \\(cleared\\)" cleared "${unloaded}")
    expect("${cleared}" "${name}" "${name} cleared")
    string(REGEX REPLACE "\\(cleared\\)" "audio's text" renamed "${cleared}")
    expect("${reloaded}" "${renamed}" "${name} named again at the same index")
endforeach()
expect("${out}" "\nINFO:PHYSICS: +collision mesh reloaded at frame 20\n" "PHYSICS info shown")
expect("${out}" "\nWARNING:AUDIO: +sound bank reloaded" "AUDIO warning shown")
if(out MATCHES "mixed frame")
    string(APPEND failures "\n  AUDIO info dropped")
endif()

# Timing rows: calls, total ms, mean us, longest us, calls over threshold, name.
set(row "\n +([0-9]+) +[0-9.]+ +[0-9.]+ +[0-9.]+ +([0-9]+)  ")
string(REGEX MATCH "workers stopped after ([0-9]+) jobs" stopped "${out}")
set(jobs "${CMAKE_MATCH_1}")
expect("${jobs}" "^[1-9]" "workers ran jobs")
foreach(expected "60 Main::Frame" "60 Physics::Step" "40 Audio::Mix" "40 Audio::Decode"
                 "${jobs} Worker::Job" "${jobs} Physics::Solve")
    separate_arguments(expected)
    list(GET expected 0 calls)
    list(GET expected 1 name)
    string(REGEX MATCH "${row}${name}\n" line "${out}")
    expect("${CMAKE_MATCH_1}" "^${calls}$" "${calls} calls of ${name}")
endforeach()
# Three slow loads in physics, one after each audio load: each one over its 2 ms threshold.
expect("${out}" "\n +5 +[0-9.]+ +[0-9.]+ +[0-9.]+ +5  Resource::Load\n" "5 slow loads")
expect("${out}" "Threads: 4\n.*  Main\n.*  Worker 3\n" "named threads")
expect("${out}" "Frames: 60 marked" "frame marks")

string(REGEX MATCH "trace written: [^\n]*" traced "${out}")
expect("${traced}" "profiler_demo_trace.json" "trace path printed")
if(EXISTS ${TRACE})
    file(READ ${TRACE} trace)
    expect("${trace}" "\"name\":\"Resource::Load\",\"ph\":\"X\"" "slow load in the trace")
else()
    string(APPEND failures "\n  trace file written")
endif()

if(failures)
    message(FATAL_ERROR "demo output failed these checks:${failures}\n${out}\n${err}")
endif()
