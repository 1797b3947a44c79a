# qxctl driver-version against the embedded default world it starts itself:
#   cmake -DQXCTL=<qxctl> -DDIR=<fresh folder> -P qxctl_driver_version.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

function(qxctl expect_rc out_var)
  execute_process(COMMAND ${QXCTL} ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL expect_rc)
    message(FATAL_ERROR "qxctl ${ARGN}: exit ${rc}, expected ${expect_rc}\n${out}${err}")
  endif()
  set(${out_var} "${out}${err}" PARENT_SCOPE)
endfunction()

qxctl(0 out sim start)

# The current printer's: its user-interface module carries version 5.0.1.9.
qxctl(0 out driver-version)
expect("${out}" "^printer   QX ZDA-38 Ticket Printer\ndriver    QX ZDA-38 Driver\nversion   5\\.0\\.1\\.9\n$")

# A module the table knows by name and date, beside a version module.
qxctl(0 out --json driver-version "QX ZDA24 Boarding Pass Printer")
expect("${out}" "^\\{\"printer\":\"QX ZDA24 Boarding Pass Printer\",\"driver\":\"QX ZDA24 Driver\",\"version\":\"2\\.05\"\\}\n$")
qxctl(0 out --printer "QX ZDA24 Boarding Pass Printer" driver-version)
expect("${out}" "version   2\\.05\n")

# A driver with neither, and a printer that is not there.
qxctl(1 out --json driver-version "Office Laser MFP")
expect("${out}" "\"name\":\"NO_VERSION\",\"message\":\"no driver version found for 'Office Laser MFP'\"")
qxctl(1 out driver-version "No Such Printer")
expect("${out}" "there is no printer 'No Such Printer'")

qxctl(0 out sim stop)
file(REMOVE_RECURSE ${DIR})
