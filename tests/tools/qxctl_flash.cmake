# qxctl flash reprograms a printer through its port on a world it starts
# itself; an unsuitable file is refused with the rule's code and nothing
# sent, and a file that is no firmware image never reaches the library:
#   cmake -DQXCTL=<qxctl> -DQXSIMCTL=<qxsimctl> -DDIR=<fresh folder> -P qxctl_flash.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

set(boarding "QX ZDA24 Boarding Pass Printer")
file(WRITE ${DIR}-fwvnq_112.bin "QXFW 1.12\nimage bytes")
file(WRITE ${DIR}-notes.bin "not firmware")
run(0 out ${QXCTL} sim start)

# What the permission check says, and which rule decided.
run(0 out ${QXCTL} --printer ${boarding} check-firmware ${SAMPLE})
expect("${out}" "model    VNP-24\nversion  1\\.03\nverdict  allowed")
run(1 out ${QXCTL} --printer "QX KTP-58 Kiosk Printer" --json check-firmware FWKTP.BIN)
expect("${out}" "\"result\":\"QX_ERR_UNKNOWN_MODEL\"")

run(0 out ${QXCTL} flash ${DIR}-fwvnq_112.bin)
expect("${out}" "flashed .* onto QX ZDA-38 Ticket Printer; the printer now reports version 1\\.24")
run(0 out ${QXSIMCTL} device USB001 received clear)
expect("${out}" "QXFW 1\\.12\\.image")

run(1 out ${QXCTL} --printer ${boarding} --json flash --smart ${DIR}-fwvnq_112.bin)
expect("${out}" "\"name\":\"QX_ERR_NO_PERMISSION\"")
run(0 out ${QXSIMCTL} printer ${boarding})
expect("${out}" "port +LPT1:")  # given back
run(0 out ${QXSIMCTL} device LPT1: received)
expect("${out}" "LPT1: received [0-9]+ bytes")
if(out MATCHES "QXFW")
  message(FATAL_ERROR "a refused file reached the printer:\n${out}")
endif()

# Smart mode on the boarding-pass printer (VNP-24, firmware 1.03): the sample
# image suits it, the printer takes it and restarts into version 1.04, which
# the next direct read shows.
run(0 out ${QXCTL} --printer ${boarding} flash --smart ${SAMPLE})
expect("${out}" "now reports version 1\\.042026-12-08")
run(0 out ${QXCTL} --printer ${boarding} status --direct --request IC)
expect("${out}" "firmware +1\\.04")
run(0 out ${QXSIMCTL} device LPT1: state)
expect("${out}" "1 good")

run(2 out ${QXCTL} flash ${DIR}-notes.bin)
expect("${out}" "is not a firmware image")

run(0 out ${QXCTL} sim stop)
file(REMOVE_RECURSE ${DIR})
file(REMOVE ${DIR}-fwvnq_112.bin ${DIR}-notes.bin)
