# Tests of the wire library (qxwire): framing with binary bodies, the hex
# codec, the checked field reader, the device mode's wire form, connections;
# and that libqxplatform.so, which links it, exports none of it.
qx_add_gtest(wire_tests
  ${CMAKE_CURRENT_LIST_DIR}/connection_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/devmode_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fields_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hex_test.cpp
)
target_link_libraries(wire_tests PRIVATE qxwire)

find_program(QX_NM nm)
if(QX_NM)
  add_test(NAME wire_hidden_in_platform
           COMMAND ${CMAKE_COMMAND} -DTOOL=${QX_NM} -DLIBRARY=$<TARGET_FILE:qxplatform>
                   -P ${CMAKE_CURRENT_LIST_DIR}/check_hidden.cmake)
endif()
