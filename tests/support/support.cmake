# The GoogleTest fixture that gives each test its own qxsimd (qxsim_fixture).
# Included once, from tests/sim/sim.cmake; any test target may link it, and
# gets the shared helpers beside it: the library attached to a world
# (world_test_util.h, lm_world.h), pipes a test serves itself
# (served_pipe.h) and counted fault sweeps (fault_sweep.h).
if(NOT TARGET qxsim_fixture)
  add_library(qxsim_fixture STATIC ${CMAKE_CURRENT_LIST_DIR}/sim_fixture.cpp)
  target_include_directories(qxsim_fixture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(qxsim_fixture PUBLIC qxsim_client qxsim_world GTest::gtest qxplatform)
  target_compile_definitions(qxsim_fixture PRIVATE QXSIMD_PATH="$<TARGET_FILE:qxsimd>")
  add_dependencies(qxsim_fixture qxsimd)
  qx_warnings(qxsim_fixture)
endif()
