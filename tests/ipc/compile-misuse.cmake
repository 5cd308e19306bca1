# Compiles tests/ipc/SharedRecordMisuse.cpp with one misuse and expects the
# compiler to refuse it with a message matching REASON; with an empty REASON
# it expects a clean compilation.
#   cmake -DCOMPILER=... -DSOURCE_DIR=... -DMISUSE=N -DREASON=regex -P compile-misuse.cmake
execute_process(
  COMMAND ${COMPILER} -std=c++17 -fsyntax-only -I${SOURCE_DIR} -DOKR_MISUSE=${MISUSE}
          ${SOURCE_DIR}/tests/ipc/SharedRecordMisuse.cpp
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(REASON STREQUAL "")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the right use does not compile:\n${err}")
  endif()
elseif(status EQUAL 0)
  message(FATAL_ERROR "misuse ${MISUSE} compiles")
elseif(NOT err MATCHES "${REASON}")
  message(FATAL_ERROR "misuse ${MISUSE} fails, but not for the reason \"${REASON}\":\n${err}")
endif()
