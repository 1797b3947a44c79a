# Checks that the platform's shared library exports nothing of the wire
# library it links: no dynamic symbol in the qxwire namespace.
#   cmake -DTOOL=<nm> -DLIBRARY=<libqxplatform.so> -P check_hidden.cmake
execute_process(COMMAND ${TOOL} -D -C --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*qxwire::[^\n]*" leaked "${out}")
if(leaked)
  string(REPLACE ";" "\n" leaked "${leaked}")
  message(FATAL_ERROR "${LIBRARY} exports wire symbols:\n${leaked}")
endif()
message(STATUS "${LIBRARY}: no wire symbol exported")
