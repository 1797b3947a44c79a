# Checks that a built library exports exactly the names of exports.def.
#   cmake -DMODE=dll|so -DTOOL=<objdump or nm> -DLIBRARY=<file> -DDEF=<exports.def> -P check_exports.cmake
# On POSIX the library also exports DllMain, so hosts and tests can run detach
# and attach again.

set(QX_EXPORTS_DEF ${DEF})
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/QxExports.cmake)
qx_read_exports(${DEF} expected)
if(MODE STREQUAL "so")
  list(APPEND expected DllMain)
endif()

if(MODE STREQUAL "dll")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
  endif()
  # The name table lists "[ordinal] name" lines after its heading.
  # The table ends at the first empty line.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([^\n]+\n)*)" table "${out}")
  set(table "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_0-9@]+" entries "${table}")
  set(actual)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND actual ${name})
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" rows "${out}")
  set(actual)
  foreach(row IN LISTS rows)
    # "<address> <type> <name>"; only text (code) symbols are exports of ours.
    if(row MATCHES "^[0-9a-fA-F]+ [TtWi] ([^ @]+)")
      list(APPEND actual ${CMAKE_MATCH_1})
    endif()
  endforeach()
endif()

list(SORT expected)
list(SORT actual)
list(REMOVE_DUPLICATES actual)
if(NOT expected STREQUAL actual)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${actual})
  set(extra ${actual})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "export table differs from ${DEF}\n  missing: ${missing}\n  extra: ${extra}")
endif()
list(LENGTH actual count)
message(STATUS "${LIBRARY}: exactly the ${count} names of ${DEF}")
