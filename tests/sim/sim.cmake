# Tests of qxsimd: the world file, the control API and qxsimctl, the daemon's
# robustness against garbage on its sockets. Each test starts its own world.
include(${PROJECT_SOURCE_DIR}/tests/support/support.cmake)

qx_add_gtest(sim_tests
  world_test.cpp
  daemon_test.cpp
  robustness_test.cpp
  qxsimctl_test.cpp
  isolation_test.cpp
  daemon_folder_test.cpp
  binary_test.cpp
)
target_link_libraries(sim_tests PRIVATE qxsim_fixture qxsim_world qxsim_device qxsim_client)
target_compile_definitions(sim_tests PRIVATE
  QXSIMD_PATH="$<TARGET_FILE:qxsimd>" QXSIMCTL_PATH="$<TARGET_FILE:qxsimctl>")
add_dependencies(sim_tests qxsimd qxsimctl)

# The language monitors with the daemon's world behind them, on a fast clock.
add_executable(sim_monitor_tests monitor_world_test.cpp)
target_link_libraries(sim_monitor_tests PRIVATE qxsim_fixture GTest::gtest_main qxplatform Threads::Threads)
qx_warnings(sim_monitor_tests)
gtest_discover_tests(sim_monitor_tests DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120 ENVIRONMENT "QX_TIME_SCALE=1000")

# The printer's flash-reprogram mode and drawer: as a plain object, and
# through port handles against a world on a fast clock.
add_executable(sim_port_flash_tests port_flash_test.cpp)
target_link_libraries(sim_port_flash_tests PRIVATE qxsim_fixture qxsim_device GTest::gtest_main qxplatform
                      Threads::Threads)
qx_warnings(sim_port_flash_tests)
gtest_discover_tests(sim_port_flash_tests DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120 ENVIRONMENT "QX_TIME_SCALE=1000")
