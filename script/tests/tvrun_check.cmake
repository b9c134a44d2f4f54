# Runs tvrun on one script and checks its exit code, its standard output
# and its standard error:
#   cmake -DTVRUN=... -DARGS=... -DEXIT=N -DOUT=regex -DERR=regex [-DLIMIT_KB=N] -P tvrun_check.cmake
# LIMIT_KB runs it under that limit of address space (ulimit -v).
separate_arguments(args UNIX_COMMAND "${ARGS}")
set(command ${TVRUN} ${args})
if(DEFINED LIMIT_KB)
  set(command sh -c "ulimit -v ${LIMIT_KB} && exec \"$0\" \"$@\"" ${command})
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL EXIT)
  message(FATAL_ERROR "exit ${code}, wanted ${EXIT}\nstdout: ${out}\nstderr: ${err}")
endif()
if(DEFINED OUT AND NOT out MATCHES "${OUT}")
  message(FATAL_ERROR "stdout does not match ${OUT}:\n${out}")
endif()
if(DEFINED ERR AND NOT err MATCHES "${ERR}")
  message(FATAL_ERROR "stderr does not match ${ERR}:\n${err}")
endif()
