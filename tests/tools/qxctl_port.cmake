# qxctl's port-road commands on a world it starts itself; qxsimctl shows
# where the queues are:
#   cmake -DQXCTL=<qxctl> -DQXSIMCTL=<qxsimctl> -DDIR=<fresh folder> -DHOLD=<qxctl_acquire_hold.sh> -P qxctl_port.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

set(boarding "QX ZDA24 Boarding Pass Printer")
run(0 out ${QXCTL} sim start)

run(0 out ${QXCTL} --printer ${boarding} spooling)
expect("${out}" "QX ZDA24 Boarding Pass Printer: no jobs waiting")

# acquire with standard input closed takes the port and gives it back at once.
run_split(0 out err ${QXCTL} --printer ${boarding} acquire INPUT_FILE /dev/null)
expect("${out}" "holding the port of QX ZDA24 Boarding Pass Printer\nmoved to FILE:  QX ZDA24 Boarding Pass Printer\n")
expect("${out}" "gave the port back; restored: QX ZDA24 Boarding Pass Printer")
run_split(0 out err ${QXCTL} --json --printer ${boarding} acquire INPUT_FILE /dev/null)
expect_json_lines("${out}" 2)
expect("${out}" "\"moved\":\\[\"QX ZDA24 Boarding Pass Printer\"\\]")
run(0 out ${QXSIMCTL} printer ${boarding})
expect("${out}" "port +LPT1:")

# Held while standard input is open, given back when it closes or on Ctrl-C.
run(0 out sh ${HOLD} ${QXCTL} ${QXSIMCTL} ${DIR}/hold)
expect("${out}" "port held and given back")
run(0 out sh ${HOLD} ${QXCTL} ${QXSIMCTL} ${DIR}/hold interrupt)
expect("${out}" "gave the port back")

# Status and model through the port: the port is taken for the read and given back.
run(0 out ${QXCTL} --printer ${boarding} status --direct)
expect("${out}" "moved to FILE: QX ZDA24 Boarding Pass Printer")
expect("${out}" "reply type   S\nstatus word  0x0000\n  ready, no condition\ntemperature  31 C")
run(0 out ${QXCTL} --printer ${boarding} status --nt --request IN)
expect("${out}" "firmware     1.03")
run(0 out ${QXCTL} --json --printer ${boarding} status --nt)
expect_json("${out}")
expect("${out}" "\"road\":\"nt\",\"moved\":\\[\"QX ZDA24 Boarding Pass Printer\"\\]")
run(0 out ${QXCTL} --printer ${boarding} model)
expect("${out}" "model      VNP-24\ndevice ID  MANUFACTURER:QX;COMMAND SET:QXPL;MODEL:VNP-24;")
run(0 out ${QXSIMCTL} device LPT1: set faults=paper_out)
run(4 out ${QXCTL} --printer ${boarding} status --direct)
expect("${out}" "out of paper")
run(0 out ${QXSIMCTL} device LPT1: set faults=none)
run(2 out ${QXCTL} status --direct --nt)
run(0 out ${QXSIMCTL} printer ${boarding})
expect("${out}" "port +LPT1:")

# A job on the port keeps it with the spooler.
run(0 out ${QXSIMCTL} job add ${boarding} waiting)
run(0 out ${QXCTL} --printer ${boarding} spooling)
expect("${out}" "jobs waiting")
run(1 out ${QXCTL} --printer ${boarding} acquire INPUT_FILE /dev/null)
expect("${out}" "QX_ERR_JOBS_PENDING")
run(0 out ${QXSIMCTL} reset)

# port set and set-name change the spooler port for good.
run(0 out ${QXCTL} --printer ${boarding} port set 2)
expect("${out}" "QX ZDA24 Boarding Pass Printer: LPT1: -> LPT2:")
run(0 out ${QXSIMCTL} printer ${boarding})
expect("${out}" "port +LPT2:")
run(0 out ${QXCTL} --json --printer ${boarding} port set-name LPT1:)
expect_json("${out}")
expect("${out}" "\"was\":\"LPT2:\",\"port\":\"LPT1:\",\"changed\":true")
run(2 out ${QXCTL} port set 4)
run(2 out ${QXCTL} port set-name "")
# The ticket printer's monitor answers: the numbered form changes nothing.
run(0 out ${QXCTL} port set 2)
expect("${out}" "QX ZDA-38 Ticket Printer stays on USB001")

run(0 out ${QXCTL} sim stop)
file(REMOVE_RECURSE ${DIR})
