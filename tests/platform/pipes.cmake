# Tests of the file and named-pipe areas.
#
# pipes_conformance_test uses only Win32 and must pass against real Windows
# too; pipes_extension_test checks the layer's own guarantees through the
# extension header and POSIX; pipes_process_test forks processes that serve
# and open pipes. stream_test, records_test and pipe_wire_test test the
# pieces pipes are built from through the layer's internal headers.
qx_add_gtest(pipes_tests
  pipes_conformance_test.cpp
  pipes_extension_test.cpp
  pipes_process_test.cpp
  pipe_wire_test.cpp
  records_test.cpp
  stream_test.cpp
)
target_include_directories(pipes_tests PRIVATE ${PROJECT_SOURCE_DIR}/platform/src)
