# Conformance tests of the spooler client and the page-setup dialog against a
# qxsimd of their own, and a second host process that shares its spooler.
include(${PROJECT_SOURCE_DIR}/tests/support/support.cmake)

add_executable(spooler_probe spooler_probe.cpp)
target_link_libraries(spooler_probe PRIVATE qxplatform)
qx_warnings(spooler_probe)

qx_add_gtest(spooler_tests
  spooler_enum_test.cpp
  spooler_printer_test.cpp
  spooler_default_test.cpp
  spooler_caps_test.cpp
  spooler_process_test.cpp
  spooler_settings_test.cpp
  spooler_jobs_test.cpp
  spooler_data_test.cpp
  runtime_folder_test.cpp
)
target_link_libraries(spooler_tests PRIVATE qxsim_fixture ${CMAKE_DL_LIBS})
target_compile_definitions(spooler_tests PRIVATE SPOOLER_PROBE_PATH="$<TARGET_FILE:spooler_probe>"
                                                 QXSIMCTL_PATH="$<TARGET_FILE:qxsimctl>")
add_dependencies(spooler_tests spooler_probe qxsimctl)
