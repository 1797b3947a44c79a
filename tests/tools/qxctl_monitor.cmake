# qxctl reads the status and commands the printer through its language
# monitor on a world it starts itself; qxsimctl changes the emulated printer
# and shows what the monitor received:
#   cmake -DQXCTL=<qxctl> -DQXSIMCTL=<qxsimctl> -DDIR=<fresh folder> -DFIRMWARE=<file> -P qxctl_monitor.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

run(0 out ${QXCTL} sim start)

run(0 out ${QXCTL} status)
expect("${out}" "reply type   S\nstatus word  0x0000\n  ready, no condition\ntemperature  25 C \\(77 F\\)")
# A printer that reports a fault: the status is shown, and exit 4 tells
# scripts; low paper alone is no fault.
run(0 out ${QXSIMCTL} device USB001 set faults=paper_out)
run(4 out ${QXCTL} status)
expect("${out}" "status word  0x8100\n  printer not ready\n  out of paper\n")
run(4 out ${QXCTL} --json status)
expect("${out}" "\"outOfPaper\":true")
expect("${out}" "\"fault\":true")
run(0 out ${QXSIMCTL} device USB001 set faults=low_paper)
run(0 out ${QXCTL} status)
expect("${out}" "  low paper\n")
run(0 out ${QXSIMCTL} device USB001 set faults=none)
run(0 out ${QXCTL} status --request IC)
expect("${out}" "firmware     1\\.24")

run(0 out ${QXCTL} lm info)
expect("${out}" "printer  QX ZDA-38 Ticket Printer\nport     USB001\nversion  QXLM 2\\.0\\.0\\.4")
run(0 out ${QXCTL} lm heartbeat 1)
run(0 out ${QXCTL} lm heartbeat-rate 1000)
run(0 out ${QXCTL} lm wd-setup 1 0 44 7)
run(0 out ${QXSIMCTL} monitor USB001 requests)
expect("${out}" "03 00 00 01 05 01 00 0a")
expect("${out}" "03 00 00 04 06 e8 03 00 00")
expect("${out}" "03 00 00 04 11 01 00 2c 07")
run(0 out ${QXCTL} key BEEPER_CONTROL -1)
run(0 out ${QXSIMCTL} --json printer "QX ZDA-38 Ticket Printer")
expect("${out}" "\"BEEPER_CONTROL\": ?4294967295")
run(1 out ${QXCTL} key beeper_control 1)
expect("${out}" "QX_ERR_UNKNOWN_KEY")
run(0 out ${QXCTL} rfid "0a 0b 0c")
expect("${out}" "0A 0B 0C")

run(0 out ${QXCTL} lm flash ${FIRMWARE} --verify)
expect("${out}" "100%  Done")
run(0 out ${QXCTL} status --request IC)
expect("${out}" "firmware     1\\.25A")

run(0 out ${QXCTL} --printer "QX ZDA24 Boarding Pass Printer" current)
expect("${out}" "port      LPT1:\n")
run(1 out ${QXCTL} --printer "No Such Printer" current)

run(0 out ${QXCTL} sim stop)
file(REMOVE_RECURSE ${DIR})
