# qxctl against the embedded default world it starts itself:
#   cmake -DQXCTL=<qxctl> -DDIR=<fresh folder> -P qxctl_world.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

# qxctl(<exit code> <out var> ARGS...): qxctl's standard output alone.
function(qxctl expect_rc out_var)
  execute_process(COMMAND ${QXCTL} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL expect_rc)
    message(FATAL_ERROR "qxctl ${ARGN}: exit ${rc}, expected ${expect_rc}\n${out}${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

qxctl(3 out sim status)
qxctl(0 out sim start)
expect("${out}" "simulated world \\(embedded default\\) runs in")

qxctl(0 out printers)
expect("${out}" ">Q\\* QX ZDA-38 Ticket Printer +USB001 +QX ZDA-38 Driver, 0 jobs")
expect("${out}" "\n Q  QX ZDA24 Boarding Pass Printer +LPT1:")
expect("${out}" "\n    Office Laser MFP +IP_192.168.1.40 +Generic PCL6 Class Driver, 2 jobs")

qxctl(0 out --json current)
expect("${out}" "\"printer\":\"QX ZDA-38 Ticket Printer\",\"port\":\"USB001\"")
expect("${out}" "\"pipe\":\"[\\\\.]+pipe[\\\\]+QXNamedPipeUSB001\",\"monitor\":true")

qxctl(0 out sheets)
expect("${out}" "^2 x 5.5 L = 5.5 +code 257 +2.000 x +5.500 in")
expect("${out}" "3 x 6 L = 6 +code 261 +3.000 x +6.000 in +\\(762 x 1524 tenths of a mm\\)")

qxctl(0 out sim stop)
qxctl(3 out sim status)
file(REMOVE_RECURSE ${DIR})
