# Tests of the file and named-pipe areas.
#
# pipes_conformance_test uses only Win32 and must pass against real Windows
# too; pipes_extension_test checks the layer's own guarantees through the
# extension header and POSIX; pipes_process_test forks processes that serve
# and open pipes.
qx_add_gtest(pipes_tests
  pipes_conformance_test.cpp
  pipes_extension_test.cpp
  pipes_process_test.cpp
)
