// lm_test.cpp - qxsimd's language monitor, served in the test process and
// reached as the library reaches it: CreateFileA on the port's pipe,
// SetNamedPipeHandleState to message mode, one WriteFile of a request frame,
// one ReadFile of up to 1024 bytes, CloseHandle. Checks the exact reply
// bytes, bad frames, busy, stop and start, crash, and that no pipe handle is
// left open.
//
// Expected frames are written out byte for byte (their checksums worked out
// by hand), not built by the code under test.
#include "lm.h"

#include <windows.h>
#include <qxplatform.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "../platform/win32_expect.h"

namespace {

using qxsim::LanguageMonitor;
using qxsim::MonitorInfo;

const char* const kPipe = "\\\\.\\pipe\\QXNamedPipeLPT1:";

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Request frames.
const std::string kAskStatus = Bytes("\x03\x00\x00\x00\x00\x00\x03");
const std::string kAskPrinter = Bytes("\x03\x00\x00\x00\x02\x00\x05");
const std::string kAskPort = Bytes("\x03\x00\x00\x00\x03\x00\x06");
const std::string kAskVersion = Bytes("\x03\x00\x00\x00\x08\x00\x0b");
const std::string kHeartBeat = Bytes("\x03\x00\x00\x01\x05\x01\x00\x0a");
// Reply frames.
const std::string kStatusReply = Bytes("\x03\x00\x00\x05\x00\x53\x30\x30\x00\x00\x00\xbb");
const std::string kPrinterReply = Bytes(
    "\x03\x00\x00\x0f\x02\x51\x58\x20\x54\x68\x65\x72\x6d\x61\x6c\x20\x32\x30\x30\x00\x04\x5c");
const std::string kPortReply = Bytes("\x03\x00\x00\x06\x03\x4c\x50\x54\x31\x3a\x00\x01\x67");
const std::string kVersionReply =
    Bytes("\x03\x00\x00\x0b\x08\x4c\x4d\x20\x32\x2e\x30\x2e\x30\x2e\x39\x00\x02\x24");
const std::string kBadFrameReply = Bytes("\x03\x00\x00\x00\x42\x00\x45");
const std::string kNotSupportedReply = Bytes("\x03\x00\x00\x00\x4e\x00\x51");

// Each test: a world folder of its own, a fast clock, a monitor on "LPT1:"
// serving "QX Thermal 200"; afterwards no object may be left alive.
class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/qxlm-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    dir_ = path;
    setenv("QX_SIM_DIR", dir_.c_str(), 1);
    qxplat_clock_set_scale(1000);
    monitor_ = std::make_unique<LanguageMonitor>(MonitorInfo{"LPT1:", "QX Thermal 200", "LM 2.0.0.9"});
    ASSERT_TRUE(monitor_->Start());
  }
  void TearDown() override {
    monitor_.reset();
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_SIM_DIR");
    std::filesystem::remove_all(dir_);
    EXPECT_EQ(counts_.Leaks(), "");
  }

  std::string dir_;
  std::unique_ptr<LanguageMonitor> monitor_;
  const double scale_ = qxplat_clock_scale();
  const qxplat::LiveCounts counts_;
};

enum class Busy { kWait, kFail };

// A pipe opened as the library opens it, closed at the end. While the pipe
// is busy it waits in 100 ms slices as the library does (an instance whose
// client just left is taken until the monitor listens on it again), unless
// busy is the answer the test expects.
class LibraryPipe {
 public:
  explicit LibraryPipe(Busy busy = Busy::kWait, const char* name = kPipe) {
    for (int slice = 0;; ++slice) {
      h_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      open_error_ = h_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (open_error_ != ERROR_PIPE_BUSY || busy == Busy::kFail || slice == 10000) break;
      WaitNamedPipeA(name, 100);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (h_ != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(SetNamedPipeHandleState(h_, &mode, nullptr, nullptr));
    }
  }
  ~LibraryPipe() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  LibraryPipe(const LibraryPipe&) = delete;
  LibraryPipe& operator=(const LibraryPipe&) = delete;

  bool open() const { return h_ != INVALID_HANDLE_VALUE; }
  DWORD open_error() const { return open_error_; }
  HANDLE get() const { return h_; }

  // One write of the request, one read of up to 1024 bytes; the reply, or
  // "" with *error set when a call fails.
  std::string Exchange(const std::string& request, DWORD* error = nullptr) {
    DWORD count = 0;
    if (!WriteFile(h_, request.data(), static_cast<DWORD>(request.size()), &count, nullptr)) {
      if (error != nullptr) *error = GetLastError();
      return "";
    }
    char reply[1024];
    if (!ReadFile(h_, reply, sizeof reply, &count, nullptr)) {
      if (error != nullptr) *error = GetLastError();
      return "";
    }
    return std::string(reply, count);
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  DWORD open_error_ = 0;
};

// One whole transaction on a fresh connection.
std::string Transact(const std::string& request) {
  LibraryPipe pipe;
  EXPECT_TRUE(pipe.open()) << pipe.open_error();
  return pipe.open() ? pipe.Exchange(request) : "";
}

// ---- Answers -------------------------------------------------------------------

TEST_F(Monitor, AnswersItsInformationCommands) {
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
  EXPECT_EQ(Transact(kAskPort), kPortReply);
  EXPECT_EQ(Transact(kAskVersion), kVersionReply);
  EXPECT_EQ(Transact(kAskStatus), kStatusReply);
}

TEST_F(Monitor, AnswersOtherCommandsNotSupported) {
  EXPECT_EQ(Transact(kHeartBeat), kNotSupportedReply);
  EXPECT_EQ(Transact(Bytes("\x03\x00\x00\x01\x12\x01\x00\x17")), kNotSupportedReply);
}

TEST_F(Monitor, AnswersBadFramesAndGoesOn) {
  const struct {
    const char* what;
    std::string request;
  } cases[] = {
      {"wrong lead byte", Bytes("\x02\x00\x00\x00\x02\x00\x04")},
      {"wrong checksum", Bytes("\x03\x00\x00\x00\x02\x00\x06")},
      {"shorter than a frame", Bytes("\x03\x00\x00")},
      {"empty message", ""},
      {"length beyond the message", Bytes("\x03\x00\x00\x05\x02\x00\x0a")},
      {"bytes after the frame", kAskPrinter + "x"},
      {"longer than any frame", std::string(70000, '\x03')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Transact(c.request), kBadFrameReply) << c.what;
  }
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
}

TEST_F(Monitor, ReservedByteCountsOnlyInTheChecksum) {
  EXPECT_EQ(Transact(Bytes("\x03\x7f\x00\x00\x02\x00\x84")), kPrinterReply);
}

TEST_F(Monitor, ReportsThePrinterItIsGiven) {
  monitor_->SetPrinterName("QX Other");
  EXPECT_EQ(Transact(kAskPrinter),
            Bytes("\x03\x00\x00\x09\x02\x51\x58\x20\x4f\x74\x68\x65\x72\x00\x02\xd9"));
  EXPECT_EQ(monitor_->info().printer, "QX Other");
}

TEST_F(Monitor, CutsATextToTheLibrarysReadBuffer) {
  monitor_->SetPrinterName(std::string(5000, 'P'));
  const std::string reply = Transact(kAskPrinter);
  ASSERT_EQ(reply.size(), 1024u);
  EXPECT_EQ(reply.substr(0, 5), Bytes("\x03\x00\x03\xf9\x02"));  // 1017 payload bytes
  EXPECT_EQ(reply[5 + 1015], 'P');
  EXPECT_EQ(reply[5 + 1016], '\0');
}

TEST_F(Monitor, ServesOtherPortsByTheirOwnPipe) {
  LanguageMonitor usb(MonitorInfo{"USB001", "QX USB", "LM 2.0.0.9"});
  ASSERT_TRUE(usb.Start());
  LibraryPipe pipe(Busy::kWait, "\\\\.\\pipe\\QXNamedPipeUSB001");
  ASSERT_TRUE(pipe.open());
  EXPECT_EQ(pipe.Exchange(kAskPort), Bytes("\x03\x00\x00\x07\x03\x55\x53\x42\x30\x30\x31\x00\x01\x88"));
}

// ---- Connections -----------------------------------------------------------------

TEST_F(Monitor, ServesManyClientsOneAfterAnother) {
  for (int i = 0; i < 100; ++i) ASSERT_EQ(Transact(kAskPort), kPortReply) << i;
  // And several exchanges on one connection.
  LibraryPipe pipe;
  ASSERT_TRUE(pipe.open());
  EXPECT_EQ(pipe.Exchange(kAskPrinter), kPrinterReply);
  EXPECT_EQ(pipe.Exchange(kAskVersion), kVersionReply);
}

TEST_F(Monitor, ServesSeveralClientsAtOnce) {
  std::vector<std::unique_ptr<LibraryPipe>> pipes;
  for (int i = 0; i < 4; ++i) {
    pipes.push_back(std::make_unique<LibraryPipe>());
    ASSERT_TRUE(pipes.back()->open()) << i;
  }
  for (auto& pipe : pipes) EXPECT_EQ(pipe->Exchange(kAskPort), kPortReply);
}

TEST_F(Monitor, BusyKeepsEveryInstanceTaken) {
  monitor_->SetBusy(true);
  EXPECT_TRUE(monitor_->busy());
  LibraryPipe refused(Busy::kFail);
  EXPECT_EQ(refused.open_error(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  SetLastError(kUntouched);
  EXPECT_FALSE(WaitNamedPipeA(kPipe, 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));

  monitor_->SetBusy(false);
  EXPECT_FALSE(monitor_->busy());
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
}

TEST_F(Monitor, BusyLetsAClientInsideFinish) {
  {
    LibraryPipe inside;
    ASSERT_TRUE(inside.open());
    monitor_->SetBusy(true);
    EXPECT_EQ(inside.Exchange(kAskPort), kPortReply);
  }
  // Nobody else gets in, also not by the instance the client has left.
  LibraryPipe refused(Busy::kFail);
  EXPECT_EQ(refused.open_error(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  monitor_->SetBusy(false);
  EXPECT_EQ(Transact(kAskPort), kPortReply);
}

TEST_F(Monitor, BusyHoldsAcrossARestart) {
  monitor_->SetBusy(true);
  monitor_->Stop();
  ASSERT_TRUE(monitor_->Start());
  LibraryPipe refused(Busy::kFail);
  EXPECT_EQ(refused.open_error(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  monitor_->SetBusy(false);
  EXPECT_EQ(Transact(kAskVersion), kVersionReply);
}

// ---- Stopping and crashing ---------------------------------------------------------

TEST_F(Monitor, StopRemovesThePipeAndStartServesAgain) {
  EXPECT_FALSE(monitor_->Start());  // running already
  monitor_->Stop();
  EXPECT_FALSE(monitor_->running());
  LibraryPipe missing;
  EXPECT_EQ(missing.open_error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(WaitNamedPipeA(kPipe, 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  monitor_->Stop();  // stopping twice is harmless

  ASSERT_TRUE(monitor_->Start());
  EXPECT_TRUE(monitor_->running());
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
}

TEST_F(Monitor, CrashBreaksAnExchangeInProgress) {
  monitor_->SetReplyDelay(3600000);  // an hour: the reply never comes first
  LibraryPipe pipe;
  ASSERT_TRUE(pipe.open());
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(pipe.get(), kAskPrinter.data(), static_cast<DWORD>(kAskPrinter.size()),
                        &count, nullptr));
  monitor_->Crash();
  EXPECT_FALSE(monitor_->running());
  char reply[1024];
  SetLastError(kUntouched);
  EXPECT_FALSE(ReadFile(pipe.get(), reply, sizeof reply, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  LibraryPipe missing;
  EXPECT_EQ(missing.open_error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  monitor_->SetReplyDelay(0);
  ASSERT_TRUE(monitor_->Start());
  EXPECT_EQ(Transact(kAskPort), kPortReply);
}

TEST_F(Monitor, SlowMonitorStillAnswers) {
  monitor_->SetReplyDelay(2000);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Transact(kAskVersion), kVersionReply);
  EXPECT_GE(GetTickCount64() - start, 2000u);
}

TEST_F(Monitor, ASecondMonitorOfThePortDoesNotStart) {
  LanguageMonitor twin(MonitorInfo{"LPT1:", "QX Twin", "LM 0"});
  EXPECT_FALSE(twin.Start());
  EXPECT_FALSE(twin.running());
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
}

TEST_F(Monitor, HoldsOnlyItsOwnInstancesWhileIdle) {
  const int64_t serving = qxplat_live_count(QXPLAT_KIND_PIPE);
  EXPECT_EQ(Transact(kAskPort), kPortReply);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), serving);
  monitor_->SetBusy(true);
  monitor_->SetBusy(false);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), serving);
  monitor_->Stop();
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), serving - 4);
}

}  // namespace
