# Steps shared by the qxctl scripts: a fresh world folder, and commands run
# and checked one at a time.

# The scripts run against a world in DIR, made fresh here.
set(ENV{QX_SIM_DIR} ${DIR})
file(REMOVE_RECURSE ${DIR})

# run(<exit code> <out var> COMMAND...): runs the command, fails the script
# on another exit code, and gives its standard output and error together.
function(run expect_rc out_var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL expect_rc)
    message(FATAL_ERROR "${ARGN}: exit ${rc}, expected ${expect_rc}\n${out}${err}")
  endif()
  set(${out_var} "${out}${err}" PARENT_SCOPE)
endfunction()

# expect(<text> <regex>): fails the script unless the text matches.
function(expect text pattern)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "expected /${pattern}/ in:\n${text}")
  endif()
endfunction()

# run_split(<exit code> <out var> <err var> COMMAND...): runs the command,
# fails the script on another exit code, and gives its standard output and
# standard error apart.
function(run_split expect_rc out_var err_var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL expect_rc)
    message(FATAL_ERROR "${ARGN}: exit ${rc}, expected ${expect_rc}\n${out}${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${err_var} "${err}" PARENT_SCOPE)
endfunction()

# expect_json_lines(<text> <count>): fails the script unless the text is
# <count> lines (any count for 0), each one JSON document.
function(expect_json_lines text count)
  string(REGEX REPLACE "\n$" "" body "${text}")
  string(REPLACE ";" "\\;" body "${body}")
  string(REPLACE "\n" ";" lines "${body}")
  list(LENGTH lines n)
  if(NOT count EQUAL 0 AND NOT n EQUAL count)
    message(FATAL_ERROR "expected ${count} JSON line(s), got ${n}:\n${text}")
  endif()
  foreach(line IN LISTS lines)
    string(JSON type ERROR_VARIABLE error TYPE "${line}")
    if(error OR NOT line MATCHES "^[[{]")
      message(FATAL_ERROR "not a JSON document (${error}):\n${line}")
    endif()
  endforeach()
endfunction()

# expect_json(<text>): fails the script unless the text is one JSON document.
function(expect_json text)
  expect_json_lines("${text}" 1)
endfunction()
