# qxctl changes the current printer's settings and prints raw documents on a
# world it starts itself; qxsimctl shows the results:
#   cmake -DQXCTL=<qxctl> -DQXSIMCTL=<qxsimctl> -DDIR=<fresh folder> -DDATA=<file> -P qxctl_settings.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

set(ticket "QX ZDA-38 Ticket Printer")
run(0 out ${QXCTL} sim start)

run(0 out ${QXCTL} sheet 3.25x6)
expect("${out}" "sheet set to 3.25 x 6.00 in \\(matched\\)")
run(0 out ${QXCTL} sheet 3.333x6)
expect("${out}" "closest; the size asked for is not offered")
run(0 out ${QXCTL} orientation landscape)
run(0 out ${QXCTL} bin "Rear Feed")
run(0 out ${QXSIMCTL} printer ${ticket})
expect("${out}" "orientation 2, paper 259 .*bin 2")
run(0 out ${QXCTL} bin --id 4)
run(1 out ${QXCTL} bin "rear feed")
expect("${out}" "QX_ERR_BIN_NOT_FOUND")
run(0 out ${QXSIMCTL} printer ${ticket})
expect("${out}" "orientation 2, paper 259 .*bin 4")
run(0 out ${QXCTL} bins)
expect("${out}" "    2  Rear Feed")

run(0 out ${QXCTL} print-raw ${DATA} --name "Ticket 7")
expect("${out}" "sent 8 bytes to QX ZDA-38 Ticket Printer as \"Ticket 7\"")
run(0 out ${QXSIMCTL} device USB001 received)
expect("${out}" "48 45 4c 4c 4f 1b 49 53")

# The cash drawer: pulsed while the printer is in order, refused (exit 1,
# saying why) while it reports paper low.
run(0 out ${QXCTL} drawer)
expect("${out}" "drawer pulsed on ${ticket}")
run(0 out ${QXSIMCTL} device USB001 received clear)
expect("${out}" "1b 44 52 02")
run(0 out ${QXSIMCTL} device USB001 set faults=low_paper)
run(1 out ${QXCTL} --json drawer)
expect("${out}" "\"name\":\"PRINTER_NOT_OK\"")
run(0 out ${QXSIMCTL} device USB001 received)
expect("${out}" "USB001 received 0 bytes")

run(0 out ${QXCTL} sim stop)
file(REMOVE_RECURSE ${DIR})
