# Ports and devices, SetupAPI, the registry and UUIDs against a qxsimd of
# their own, on a fast clock.
include(${PROJECT_SOURCE_DIR}/tests/support/support.cmake)

add_executable(ports_tests ports_test.cpp setupapi_test.cpp)
target_link_libraries(ports_tests PRIVATE qxsim_fixture GTest::gtest_main qxplatform Threads::Threads)
target_include_directories(ports_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
qx_warnings(ports_tests)
gtest_discover_tests(ports_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120 ENVIRONMENT "QX_TIME_SCALE=1000")
