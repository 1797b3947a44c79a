# qxctl.exe's exit codes under wine, where the spooler answers with no
# printers: a printer that is not there is refused (1), the command line is
# checked as on POSIX (2), and the POSIX build's inspection is not there (1):
#   cmake -DQXCTL=<qxctl.exe> -DWINE=<wine> -P qxctl_exit_codes.cmake
function(expect_exit code)
  execute_process(COMMAND ${WINE} ${QXCTL} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "qxctl ${ARGN}: exit ${rc}, expected ${code}\n${out}${err}")
  endif()
  set(err "${err}" PARENT_SCOPE)
endfunction()

expect_exit(1 --printer "No Such Printer" current)
if(NOT err MATCHES "cannot switch to the printer 'No Such Printer'")
  message(FATAL_ERROR "no printer named:\n${err}")
endif()
expect_exit(1 current)
expect_exit(1 sheets)
expect_exit(2 statsu)
expect_exit(2 sheet nanxnan)
expect_exit(2 sim start)
expect_exit(0 parse-status "53 30 30 00 00")
