# Runs the probe (and its emulator, if any) given after "--" and writes what
# it printed, standard output then standard error, followed by one line
# "exit N" with its exit status, so one pattern checks both.
#
# -DINPUT_FILE=PATH feeds that file to the probe's standard input (without it
# the probe inherits this script's). -DPROBE_TIMEOUT=SECONDS ends a probe that runs
# longer, so a hang (under Wine, most likely) fails this case with "exit
# Process terminated due to timeout" instead of stalling the whole run; it is
# shorter than the test's own timeout so that this message is seen.
set(command)
set(take OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(take)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(take ON)
  endif()
endforeach()
if(NOT DEFINED PROBE_TIMEOUT)
  set(PROBE_TIMEOUT 60)
endif()
set(input)
if(DEFINED INPUT_FILE)
  set(input INPUT_FILE "${INPUT_FILE}")
endif()
execute_process(COMMAND ${command} ${input} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE status TIMEOUT ${PROBE_TIMEOUT})
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo_append "${out}${err}exit ${status}\n")
