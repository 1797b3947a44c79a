// pipe_wire_test.cpp - named-pipe addresses and the handshake (pipe_wire.h)
// as pure pieces: where a name's socket goes, a hello taken in piece by
// piece or refused when malformed, and answers read back or refused.
#include "pipe_wire.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "pipes.h"
#include "socket_pair.h"

namespace {

// Sets QX_SIM_DIR for one test.
class PipeWire : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("QX_SIM_DIR"); }
};

TEST_F(PipeWire, PipePathsAreRecognisedInAnyCase) {
  EXPECT_TRUE(qxplat::IsPipePath("\\\\.\\pipe\\x"));
  EXPECT_TRUE(qxplat::IsPipePath("\\\\.\\PiPe\\"));
  EXPECT_FALSE(qxplat::IsPipePath("\\\\.\\pipe"));
  EXPECT_FALSE(qxplat::IsPipePath("\\\\?\\pipe\\x"));
  EXPECT_FALSE(qxplat::IsPipePath("LPT1:"));
}

TEST_F(PipeWire, ANameResolvesToItsSocketAndLockInTheWorldsFolder) {
  setenv("QX_SIM_DIR", "/tmp/world//", 1);
  qxplat::PipeAddress a;
  ASSERT_EQ(qxplat::ResolvePipe("\\\\.\\pipe\\QXNamedPipeLPT1:", &a), 0u);
  EXPECT_EQ(a.key, "qxnamedpipelpt1:");
  EXPECT_EQ(a.runtime_dir, "/tmp/world");
  EXPECT_EQ(a.pipes_dir, "/tmp/world/pipes");
  EXPECT_EQ(a.socket_path, "/tmp/world/pipes/qxnamedpipelpt1%3a.sock");
  EXPECT_EQ(a.lock_path, "/tmp/world/pipes/qxnamedpipelpt1%3a.lock");
  sockaddr_un sa;
  EXPECT_TRUE(qxplat::FillSocketAddress(a.socket_path, &sa));
  EXPECT_FALSE(qxplat::FillSocketAddress(std::string(sizeof sa.sun_path, 'p'), &sa));
}

TEST_F(PipeWire, NamesThatCannotBeResolvedSayWhy) {
  const std::string prefix = "\\\\.\\pipe\\";
  qxplat::PipeAddress a;
  EXPECT_EQ(qxplat::ResolvePipe("\\\\.\\pipe\\", &a), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(qxplat::ResolvePipe("C:\\pipe", &a), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(qxplat::ResolvePipe((prefix + std::string(257 - prefix.size(), 'n')).c_str(), &a),
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  setenv("QX_SIM_DIR", ("/tmp/" + std::string(100, 'd')).c_str(), 1);
  EXPECT_EQ(qxplat::ResolvePipe("\\\\.\\pipe\\x", &a), static_cast<DWORD>(ERROR_BAD_PATHNAME));
}

TEST_F(PipeWire, AHelloIsTakenInAsItArrives) {
  SocketPair pair(true);
  std::string bytes;
  qxplat::Hello hello;
  EXPECT_EQ(qxplat::ReadHello(pair.near.get(), &bytes, &hello), qxplat::HelloState::kIncomplete);
  pair.Send(std::string("QXP1\x01", 5));
  EXPECT_EQ(qxplat::ReadHello(pair.near.get(), &bytes, &hello), qxplat::HelloState::kIncomplete);
  pair.Send(std::string("\x03\x04\x00" "li", 5));
  EXPECT_EQ(qxplat::ReadHello(pair.near.get(), &bytes, &hello), qxplat::HelloState::kIncomplete);
  pair.Send("ne" "extra");  // what follows a hello is not taken with it
  ASSERT_EQ(qxplat::ReadHello(pair.near.get(), &bytes, &hello), qxplat::HelloState::kComplete);
  EXPECT_EQ(hello.op, qxplat::kOpOpen);
  EXPECT_EQ(hello.access, qxplat::kAccessRead | qxplat::kAccessWrite);
  EXPECT_EQ(hello.key, "line");
}

TEST_F(PipeWire, AMalformedHelloIsRefused) {
  const struct {
    const char* what;
    std::string bytes;
    bool leaves;  // the client closes after sending
  } cases[] = {
      {"another magic", std::string("QXP2\x01\x03\x01\x00" "x", 9), false},
      {"an unknown operation", std::string("QXP1\x07\x03\x01\x00" "x", 9), false},
      {"a name of 0 bytes", std::string("QXP1\x01\x03\x00\x00", 8), false},
      {"a name longer than any", std::string("QXP1\x02\x03\x01\x01", 8), false},
      {"half a hello, then gone", std::string("QXP1", 4), true},
  };
  for (const auto& c : cases) {
    SocketPair pair(true);
    pair.Send(c.bytes);
    if (c.leaves) pair.far.reset();
    std::string bytes;
    qxplat::Hello hello;
    EXPECT_EQ(qxplat::ReadHello(pair.near.get(), &bytes, &hello), qxplat::HelloState::kBad) << c.what;
  }
}

TEST_F(PipeWire, AnAnswerIsReadBackOrRefused) {
  const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  {
    SocketPair pair(true);
    ASSERT_TRUE(qxplat::SendAnswer(pair.far.get(), qxplat::kAnswerOpened, PIPE_TYPE_MESSAGE, 3000));
    qxplat::Answer answer;
    ASSERT_EQ(qxplat::ReadAnswer(pair.near.get(), soon, &answer), 0u);
    EXPECT_EQ(answer.status, qxplat::kAnswerOpened);
    EXPECT_EQ(answer.type, static_cast<DWORD>(PIPE_TYPE_MESSAGE));
    EXPECT_EQ(answer.default_timeout, 3000u);
  }
  const struct {
    const char* what;
    std::string bytes;
    bool leaves;
    DWORD error;
  } cases[] = {
      {"an unknown status", std::string("\x77\x00\x00\x00\x32\x00\x00\x00", 8), false, ERROR_FILE_NOT_FOUND},
      {"an unknown type", std::string("\x01\x02\x00\x00\x32\x00\x00\x00", 8), false, ERROR_FILE_NOT_FOUND},
      {"half an answer, then gone", std::string("\x01\x01", 2), true, ERROR_FILE_NOT_FOUND},
      {"no answer in time", "", false, ERROR_PIPE_BUSY},
  };
  for (const auto& c : cases) {
    SocketPair pair(true);
    if (!c.bytes.empty()) pair.Send(c.bytes);
    if (c.leaves) pair.far.reset();
    qxplat::Answer answer;
    EXPECT_EQ(qxplat::ReadAnswer(pair.near.get(), soon, &answer), c.error) << c.what;
  }
}

}  // namespace
