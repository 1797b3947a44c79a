# The language monitor and the printer emulator, served in the test process
# and reached through the platform layer's pipes as the library reaches them.
qx_add_gtest(sim_lm_tests lm_test.cpp printer_test.cpp)
target_link_libraries(sim_lm_tests PRIVATE qxsim_lm)
