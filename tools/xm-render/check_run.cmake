# cmake -DCOMMAND="tool;args" -DEXIT_CODE=n [-DSTDERR_MATCHES=regex] [-DSTDOUT_MATCHES=regex]
#       -P check_run.cmake
# Runs one command line and fails unless its exit code and its output are the expected ones.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL EXIT_CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT_CODE}\nstdout: ${out}\nstderr: ${err}")
endif()
if(DEFINED STDERR_MATCHES AND NOT err MATCHES "${STDERR_MATCHES}")
  message(FATAL_ERROR "stderr does not match '${STDERR_MATCHES}':\n${err}")
endif()
if(DEFINED STDOUT_MATCHES AND NOT out MATCHES "${STDOUT_MATCHES}")
  message(FATAL_ERROR "stdout does not match '${STDOUT_MATCHES}':\n${out}")
endif()
