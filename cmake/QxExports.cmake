# exports.def is the one list of the library's exported names. On Windows the
# linker takes it as the module-definition file; on POSIX it becomes a version
# script, so the shared library exports the same names (plus DllMain, so hosts
# and tests can run detach and attach again) and hides everything else.

if(NOT QX_EXPORTS_DEF)
  set(QX_EXPORTS_DEF ${PROJECT_SOURCE_DIR}/exports.def)
endif()

# qx_read_exports(<def-file> <out-var>): the names listed under EXPORTS, in
# file order.
function(qx_read_exports def out)
  file(STRINGS ${def} lines)
  set(names)
  set(in_exports FALSE)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^;")
      continue()
    endif()
    if(line STREQUAL "EXPORTS")
      set(in_exports TRUE)
      continue()
    endif()
    if(in_exports)
      string(REGEX REPLACE "[ \t].*$" "" name "${line}")
      list(APPEND names ${name})
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# qx_version_script(<target>): link <target> with a version script made from
# exports.def.
function(qx_version_script target)
  qx_read_exports(${QX_EXPORTS_DEF} names)
  set(script "{\n  global:\n    DllMain;\n")
  foreach(name IN LISTS names)
    string(APPEND script "    ${name};\n")
  endforeach()
  string(APPEND script "  local:\n    *;\n};\n")
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(WRITE ${map}.in "${script}")
  configure_file(${map}.in ${map} COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QX_EXPORTS_DEF})
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
