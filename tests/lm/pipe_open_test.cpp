// Opening and closing the language-monitor pipe, against pipes this test
// serves itself.
#include <gtest/gtest.h>
#include <qxdll.h>
#include <qxplatform.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/state.h"
#include "lm/pipe.h"

namespace {

using qx::g_state;

// A private runtime folder for the pipes, a fast clock, and counted calls.
class PipeOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qxpipe-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    setenv("QX_SIM_DIR", dir_.c_str(), 1);
    scale_ = qxplat_clock_scale();
    qxplat_clock_set_scale(1000);
    qxplat_call_counts_reset();
    g_state.pipeHandle = INVALID_HANDLE_VALUE;
  }
  void TearDown() override {
    pipe_.Close();
    qxLMClosePipe();
    for (HANDLE h : {client_, server_}) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_SIM_DIR");
    std::string command = "rm -rf " + dir_;
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // One listening instance of a pipe with a single instance allowed.
  void Serve(DWORD type = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE) {
    server_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, type | PIPE_WAIT, 1, 1024, 1024,
                               0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
  }
  // Takes the only instance with another client, so the pipe is busy.
  void Occupy() {
    std::thread listen([this] { ConnectNamedPipe(server_, nullptr); });
    client_ = CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
    listen.join();
    ASSERT_NE(client_, INVALID_HANDLE_VALUE);
  }

  std::string dir_;
  double scale_ = 1;
  std::string name_ = std::string(qx::kPipePrefix) + "USB001";
  qx::FileHandle pipe_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  HANDLE client_ = INVALID_HANDLE_VALUE;
};

TEST(PipeName, PrefixThenPortWithNoSeparator) {
  char name[64];
  qx::FormPipeName(name, sizeof name, "LPT1:");
  EXPECT_STREQ(name, "\\\\.\\pipe\\QXNamedPipeLPT1:");
  char small[24];
  qx::FormPipeName(small, sizeof small, "USB001");
  EXPECT_STREQ(small, "\\\\.\\pipe\\QXNamedPipeUSB");
}

TEST_F(PipeOpen, MissingPipeFailsAtOnce) {
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 20000, &pipe_), QX_ERR_NO_PIPE);
  EXPECT_FALSE(pipe_.valid());
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 0u);
  EXPECT_EQ(qx::OpenPipeWaiting("", 20000, &pipe_), QX_ERR_NO_PIPE);
  EXPECT_EQ(qx::OpenPipeWaiting(nullptr, 20000, &pipe_), QX_ERR_NO_PIPE);
}

TEST_F(PipeOpen, FreePipeOpensInMessageMode) {
  Serve();
  std::thread listen([this] { ConnectNamedPipe(server_, nullptr); });
  ASSERT_EQ(qx::OpenPipeWaiting(name_.c_str(), 20000, &pipe_), QX_ERR_OK);
  listen.join();
  // Message read mode: a short read gets part of a message and ERROR_MORE_DATA.
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(server_, "frame", 5, &written, nullptr));
  char part[2];
  DWORD read = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReadFile(pipe_.get(), part, sizeof part, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 0u);
  pipe_.Close();
}

TEST_F(PipeOpen, ShortTimeoutMeansNoWait) {
  Serve();
  Occupy();
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 99, &pipe_), QX_ERR_PIPE_BUSY);
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 0u);
  EXPECT_FALSE(pipe_.valid());
}

TEST_F(PipeOpen, BusyPipeIsWaitedForInHundredMillisecondSlices) {
  Serve();
  Occupy();
  const uint64_t start = qxplat_clock_now_ms();
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 20000, &pipe_), QX_ERR_PIPE_BUSY);
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 200u);
  EXPECT_GE(qxplat_clock_now_ms() - start, 20000u);

  qxplat_call_counts_reset();
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 10000, &pipe_), QX_ERR_PIPE_BUSY);
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 100u);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 1u);
}

TEST_F(PipeOpen, PipeFreedDuringTheWaitIsOpened) {
  Serve();
  Occupy();
  qxplat_call_counts_reset();
  // After a few slices the other client leaves and the server listens again.
  std::thread release([this] {
    while (qxplat_call_count("WaitNamedPipeA") < 5) std::this_thread::yield();
    CloseHandle(client_);
    client_ = INVALID_HANDLE_VALUE;
    DisconnectNamedPipe(server_);
    ConnectNamedPipe(server_, nullptr);
  });
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 20000, &pipe_), QX_ERR_OK);
  release.join();
  EXPECT_GE(qxplat_call_count("WaitNamedPipeA"), 5u);
  EXPECT_LT(qxplat_call_count("WaitNamedPipeA"), 200u);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 2u);
}

TEST_F(PipeOpen, BytePipeRefusingMessageModeIsClosedAgain) {
  Serve(PIPE_TYPE_BYTE | PIPE_READMODE_BYTE);
  std::thread listen([this] { ConnectNamedPipe(server_, nullptr); });
  EXPECT_EQ(qx::OpenPipeWaiting(name_.c_str(), 20000, &pipe_), QX_ERR_NO_PIPE);
  listen.join();
  EXPECT_FALSE(pipe_.valid());
  // Only the server's end is left.
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 1);
}

TEST_F(PipeOpen, CloseAlwaysReportsOne) {
  EXPECT_EQ(qxLMClosePipe(), 1);
  g_state.pipeHandle = nullptr;
  EXPECT_EQ(qxLMClosePipe(), 1);
  EXPECT_EQ(qxLMClosePipe(), 1);
}

}  // namespace
