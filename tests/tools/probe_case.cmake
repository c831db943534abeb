# Runs the probe (and its emulator, if any) given after "--" and writes what
# it printed, standard output then standard error, followed by one line
# "exit N" with its exit status, so one pattern checks both.
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
execute_process(COMMAND ${command} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo_append "${out}${err}exit ${status}\n")
