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
