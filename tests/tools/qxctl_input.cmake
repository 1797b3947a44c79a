# qxctl on a world it starts itself: bad input leaves the printer as it was,
# every command's --json is one JSON document (lm flash: JSON lines), what
# was done is said truthfully, and a long wait is announced and can be
# shortened:
#   cmake -DQXCTL=<qxctl> -DQXSIMCTL=<qxsimctl> -DDIR=<fresh folder> -DFIRMWARE=<file> -DDATA=<file>
#         -P qxctl_input.cmake
include(${CMAKE_CURRENT_LIST_DIR}/script_steps.cmake)

set(ticket "QX ZDA-38 Ticket Printer")
run(0 out ${QXCTL} sim start)

# Sizes that are no size change nothing.
run(0 before ${QXSIMCTL} printer ${ticket})
foreach(size nanxnan infxinf 1e308x1e308 99999999999999999999x6 -3x6)
  run(2 out ${QXCTL} sheet ${size})
endforeach()
run(2 out ${QXCTL} lm heartbeat -5)
run(2 out ${QXCTL} bin --id abc)
run(0 after ${QXSIMCTL} printer ${ticket})
if(NOT before STREQUAL after)
  message(FATAL_ERROR "bad input changed the printer:\n${before}\n${after}")
endif()
run(0 out ${QXSIMCTL} monitor USB001 requests)
if(out MATCHES "03 00 00 01 05")
  message(FATAL_ERROR "a refused heartbeat reached the monitor:\n${out}")
endif()

# Every command's --json output is one document.
foreach(command version printers current sheets "sheets;--driver" "sheet;3.25x6" "orientation;landscape"
        bins "bin;Rear Feed" "bin;--id;2" "print-raw;${DATA};--name;Ticket 7" jobs
        status "status;--request;IC" "parse-status;53 30 30 00 00" "lm;info" "lm;heartbeat;1"
        "lm;heartbeat-rate;1000" "lm;save-method;2" "lm;wd-setup;1;0;44;7" "lm;reset" "lm;abort" "lm;clear-crc"
        "lm;registry;QX_TEST;5" "rfid;0a 0b" "key;BEEPER_CONTROL;1" "sim;status" "sim;start")
  run_split(0 out err ${QXCTL} --json ${command})
  expect_json("${out}")
endforeach()
# Failures too, as {"error": ...} with the library's code and name.
run_split(1 out err ${QXCTL} --json bin "rear feed")
expect_json("${out}")
expect("${out}" "^{\"error\":{\"code\":49176,\"name\":\"QX_ERR_BIN_NOT_FOUND\",\"message\":\"cannot set the bin")

# Setters say what they set; jobs --delete says how many it deleted.
run(0 out ${QXCTL} lm heartbeat 1)
expect("${out}" "^heartbeat set to 1\n$")
run(0 out ${QXCTL} --json lm heartbeat 1)
expect("${out}" "^{\"set\":\"heartbeat\",\"value\":1}\n$")
run(0 out ${QXCTL} orientation portrait)
expect("${out}" "^orientation set to portrait\n$")
run(0 out ${QXCTL} bin "Rear Feed")
expect("${out}" "^bin set to \"Rear Feed\"\n$")
run(0 out ${QXSIMCTL} job add ${ticket} "Ticket 8")
run(0 out ${QXSIMCTL} job add ${ticket} "Ticket 8")
run(0 out ${QXSIMCTL} job add ${ticket} "Ticket 9")
run(1 out ${QXCTL} jobs --delete "Nothing here")
expect("${out}" "no job of ${ticket} is named \"Nothing here\"; nothing deleted")
run(0 out ${QXCTL} --json jobs --delete "Ticket 8")
expect("${out}" "^{\"deleted\":2,\"document\":\"Ticket 8\",\"printer\":\"${ticket}\"}\n$")
run(0 out ${QXCTL} jobs --delete "Ticket 9")
expect("${out}" "^deleted 1 job named \"Ticket 9\" from ${ticket}\n$")
run(0 out ${QXCTL} jobs)
expect("${out}" "^\\(no jobs\\)\n$")

# Firmware: a relative path reaches the monitor made absolute; a file that is
# not a firmware image is refused before anything is sent.
get_filename_component(folder ${FIRMWARE} DIRECTORY)
get_filename_component(name ${FIRMWARE} NAME)
run(0 out ${QXSIMCTL} monitor USB001 requests --clear)
string(RANDOM LENGTH 300 noise)
file(WRITE ${DIR}-noise.bin "${noise}")
run_split(2 out err ${QXCTL} lm flash ${DIR}-noise.bin)
expect("${err}" "is not a firmware image: it does not begin with a line \"QXFW <version>\"")
file(WRITE ${DIR}-empty.bin "")
run_split(2 out err ${QXCTL} lm flash ${DIR}-empty.bin)
expect("${err}" "it is empty")
run(0 out ${QXSIMCTL} monitor USB001 requests)
if(out MATCHES " 09 ")
  message(FATAL_ERROR "a refused file reached the monitor:\n${out}")
endif()
execute_process(COMMAND ${QXCTL} --json lm flash ${name} WORKING_DIRECTORY ${folder}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "relative flash: exit ${rc}\n${out}${err}")
endif()
expect_json_lines("${out}" 0)
expect("${out}" "^{\"progress\":{\"state\":[0-9]")
expect("${out}" "\n{\"done\":\"flash\",\"file\":\"${FIRMWARE}\",\"verify\":false}\n$")
file(REMOVE ${DIR}-noise.bin ${DIR}-empty.bin)

# A busy pipe: after a second the wait is announced on standard error (not in
# the --json output), and --timeout bounds it. On a clock 10 times as fast,
# 15000 ms of waiting take 1.5 s.
run(0 out ${QXSIMCTL} monitor USB001 busy on)
run_split(1 out err ${CMAKE_COMMAND} -E env QX_TIME_SCALE=10 ${QXCTL} --json --timeout 15000 status)
expect_json("${out}")
expect("${out}" "\"name\":\"QX_ERR_PIPE_BUSY\"")
# The library's load-time probe of the busy monitor (two tries of 10000 ms)
# is announced too, before qxctl's own notice.
expect("${err}" "^qxctl: waiting for the library to load: it looks for the current printer's language monitor")
expect("${err}" "\nqxctl: waiting for the language monitor of ${ticket} \\(a busy pipe is waited for up to 15000 ms")
run(0 out ${QXSIMCTL} monitor USB001 busy off)
run(0 out ${QXCTL} --timeout 1234 --json current)
expect("${out}" "\"pipeTimeout\":1234")

run(0 out ${QXCTL} sim stop)
file(REMOVE_RECURSE ${DIR})
