# The printed pages of qxsimd's devices as plain objects: reading page lines
# (malformed ones included), keeping the latest pages, drawing them as PNG.
qx_add_gtest(sim_pages_tests pages_test.cpp)
target_link_libraries(sim_pages_tests PRIVATE qxsim_device PkgConfig::CAIRO)
