# The language monitor and the printer emulator, served in the test process
# and reached through the platform layer's pipes as the library reaches them;
# the device emulator with its state, its flash run and the bay of a world's
# devices, as plain objects.
qx_add_gtest(sim_lm_tests lm_test.cpp printer_test.cpp device_test.cpp flash_test.cpp lm_frame_test.cpp)
target_link_libraries(sim_lm_tests PRIVATE qxsim_lm)
