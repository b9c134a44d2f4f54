# Runs tvrun twice on one script and wants two different standard outputs,
# each a line of numbers in [0, 1): each process seeds its generator afresh.
#   cmake -DTVRUN=... -DSCRIPT=... -P tvrun_seeds.cmake
foreach(run first second)
  execute_process(COMMAND ${TVRUN} ${SCRIPT} RESULT_VARIABLE code OUTPUT_VARIABLE ${run} ERROR_VARIABLE err)
  if(NOT code STREQUAL 0)
    message(FATAL_ERROR "exit ${code}\nstdout: ${${run}}\nstderr: ${err}")
  endif()
  if(NOT ${run} MATCHES "^[0-9.e-]+( [0-9.e-]+)*\n$")
    message(FATAL_ERROR "not a line of draws in [0, 1): ${${run}}")
  endif()
endforeach()
if(first STREQUAL second)
  message(FATAL_ERROR "two runs drew the same numbers: ${first}")
endif()
