// lm_test.cpp - qxsimd's language monitor, served in the test process with a
// world of the test's own behind it, and reached as the library reaches it:
// CreateFileA on the port's pipe, SetNamedPipeHandleState to message mode,
// one WriteFile of a request frame, one ReadFile of the reply, CloseHandle.
// Checks the exact reply bytes, every command's reply code and its effect,
// waits on the virtual clock, reply scripts, the request log, bad frames,
// busy, stop and start, crash, and that no pipe handle is left open.
//
// Expected frames are written out byte for byte (their checksums worked out
// by hand), or built by the test's own frame builder (monitor_pipe.h), not
// by the code under test.
#include "lm.h"

#include <windows.h>
#include <qxplatform.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "../platform/win32_expect.h"
#include "monitor_pipe.h"

namespace {

using monitor_test::Busy;
using monitor_test::Bytes;
using monitor_test::Parse;
using monitor_test::Request;
using qxsim::LanguageMonitor;
using qxsim::MonitorInfo;

const char* const kPipe = "\\\\.\\pipe\\QXNamedPipeLPT1:";

// Request frames.
const std::string kAskStatus = Bytes("\x03\x00\x00\x00\x00\x00\x03");
const std::string kAskPrinter = Bytes("\x03\x00\x00\x00\x02\x00\x05");
const std::string kAskPort = Bytes("\x03\x00\x00\x00\x03\x00\x06");
const std::string kAskVersion = Bytes("\x03\x00\x00\x00\x08\x00\x0b");
const std::string kAskIS = Bytes("\x03\x00\x00\x05\x01\x4e\x20\x1b\x49\x53\x01\x2e");
// Reply frames.
const std::string kStatusReply =  // "S" "00" 00 00 "03" "025" "04" 00 00
    Bytes("\x03\x00\x00\x0e\x00\x53\x30\x30\x00\x00\x30\x33\x30\x32\x35\x30\x34\x00\x00\x02\x22");
const std::string kPrinterReply = Bytes(
    "\x03\x00\x00\x0f\x02\x51\x58\x20\x54\x68\x65\x72\x6d\x61\x6c\x20\x32\x30\x30\x00\x04\x5c");
const std::string kPortReply = Bytes("\x03\x00\x00\x06\x03\x4c\x50\x54\x31\x3a\x00\x01\x67");
const std::string kVersionReply =
    Bytes("\x03\x00\x00\x0b\x08\x4c\x4d\x20\x32\x2e\x30\x2e\x30\x2e\x39\x00\x02\x24");
const std::string kBadFrameReply = Bytes("\x03\x00\x00\x00\x42\x00\x45");
const std::string kNotSupportedReply = Bytes("\x03\x00\x00\x00\x4e\x00\x51");

// The device the world's printer is: idle, status word 0.
std::shared_ptr<qxsim::DeviceEmulator> IdlePrinter() {
  auto emulator = std::make_shared<qxsim::DeviceEmulator>("LPT1:");
  emulator->Attach(qxsim::Device{});
  return emulator;
}

// The world behind the monitor: one printer, its jobs and printer data.
class FakeWorld : public qxsim::MonitorHost {
 public:
  std::shared_ptr<qxsim::DeviceEmulator> DeviceOn(const std::string& port) override {
    std::lock_guard<std::mutex> guard(lock);
    return device ? emulator : nullptr;
  }
  bool JobInProgress(const std::string& port) override {
    std::lock_guard<std::mutex> guard(lock);
    return !documents.empty();
  }
  bool AbortJob(const std::string& port, std::string* document) override {
    std::lock_guard<std::mutex> guard(lock);
    if (documents.empty()) return false;
    *document = documents.front();
    documents.erase(documents.begin());
    return true;
  }
  bool WriteDataValue(const std::string& name, const std::string& value_name, uint32_t value,
                      std::string* error) override {
    std::lock_guard<std::mutex> guard(lock);
    if (name != "QX Thermal 200") {
      *error = "NO PRINTER";
      return false;
    }
    data[value_name] = value;
    return true;
  }
  // What the monitor's threads wrote, read under the lock.
  std::vector<std::string> Documents() {
    std::lock_guard<std::mutex> guard(lock);
    return documents;
  }
  std::map<std::string, uint32_t> Data() {
    std::lock_guard<std::mutex> guard(lock);
    return data;
  }
  std::string Firmware() { return emulator->Description().value_or(qxsim::Device{}).firmware; }

  std::mutex lock;
  bool device = true;  // false: no device on the port
  const std::shared_ptr<qxsim::DeviceEmulator> emulator = IdlePrinter();
  std::vector<std::string> documents;
  std::map<std::string, uint32_t> data;
};

// Each test: a world folder of its own, a fast clock, a monitor on "LPT1:"
// serving "QX Thermal 200" with the test's world behind it; afterwards no
// object may be left alive.
class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/qxlm-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    dir_ = path;
    setenv("QX_SIM_DIR", dir_.c_str(), 1);
    qxplat_clock_set_scale(1000);
    monitor_ = std::make_unique<LanguageMonitor>(MonitorInfo{"LPT1:", "QX Thermal 200", "LM 2.0.0.9"}, &world_);
    ASSERT_TRUE(monitor_->Start());
  }
  void TearDown() override {
    monitor_.reset();
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_SIM_DIR");
    std::filesystem::remove_all(dir_);
    EXPECT_EQ(counts_.Leaks(), "");
  }

  // The printer of the world, changed on its device.
  template <class F>
  void Printer(F change) {
    qxsim::Device d = world_.emulator->Description().value_or(qxsim::Device{});
    change(static_cast<qxsim::PrinterState&>(d));
    world_.emulator->Attach(d);
  }

  std::string dir_;
  FakeWorld world_;
  std::unique_ptr<LanguageMonitor> monitor_;
  const double scale_ = qxplat_clock_scale();
  const qxplat::LiveCounts counts_;
};

class LibraryPipe : public monitor_test::LibraryPipe {
 public:
  explicit LibraryPipe(Busy busy = Busy::kWait, const char* name = kPipe) : monitor_test::LibraryPipe(name, busy) {}
};

std::string Transact(const std::string& request, size_t read_size = 1024) {
  return monitor_test::Transact(kPipe, request, read_size);
}

monitor_test::Reply Ask(uint8_t command, const std::string& payload = "", size_t read_size = 1024) {
  return Parse(Transact(Request(command, payload), read_size));
}

// A status inquiry with its time-out bytes.
std::string Inquiry(unsigned timeout, const std::string& inquiry) {
  std::string payload;
  payload += static_cast<char>((timeout >> 8) & 0xFF);
  payload += static_cast<char>(timeout & 0xFF);
  return payload + inquiry;
}

// ---- Answers -------------------------------------------------------------------

TEST_F(Monitor, AnswersItsInformationCommands) {
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);
  EXPECT_EQ(Transact(kAskPort), kPortReply);
  EXPECT_EQ(Transact(kAskVersion), kVersionReply);
  EXPECT_EQ(Transact(kAskStatus), kStatusReply);
}

TEST_F(Monitor, AnswersUnknownCommandsNotSupported) {
  EXPECT_EQ(Transact(Bytes("\x03\x00\x00\x00\x0d\x00\x10")), kNotSupportedReply);
  for (const uint8_t command : {0x0D, 0x13, 0x42, 0xFF}) {
    EXPECT_EQ(Transact(Request(command, "x")), kNotSupportedReply) << int{command};
  }
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

// ---- Status through the printer ------------------------------------------------------

TEST_F(Monitor, PassesStatusInquiriesToThePrinter) {
  EXPECT_EQ(Transact(kAskIS), Bytes("\x03\x00\x00\x0e\x01\x53\x30\x30\x00\x00\x30\x33\x30\x32\x35\x30\x34"
                                    "\x00\x00\x02\x23"));
  Printer([](qxsim::PrinterState& p) {
    p.faults = {"paper_out"};
    p.firmware = "1.24";
    p.version_detail = "2018-10-23";
  });
  // The plain status carries the same "S" reply, now with the fault's bits.
  const auto plain = Ask(0x00);
  EXPECT_TRUE(plain.valid);
  EXPECT_EQ(plain.code, 0x00);
  EXPECT_EQ(plain.payload.substr(0, 5), Bytes("S00\x81\x00"));
  const auto version = Ask(0x01, Inquiry(20000, Bytes("\x1bIN")));
  EXPECT_EQ(version.code, 0x01);
  EXPECT_EQ(version.payload, Bytes("N0515" "1.24\0" "2018-10-23"));
  EXPECT_EQ(Ask(0x01, Inquiry(20000, Bytes("\x1bIA\x03"))).payload.substr(0, 6), "A01003");
  // A status inquiry without its time-out bytes is no request the monitor takes.
  EXPECT_EQ(Transact(Request(0x01, "x")), kBadFrameReply);
}

TEST_F(Monitor, APrinterThatDoesNotAnswerIsReportedAfterTheTimeOut) {
  Printer([](qxsim::PrinterState& p) { p.faults = {"not_responding"}; });
  ULONGLONG start = GetTickCount64();
  const auto silent = Ask(0x01, Inquiry(500, Bytes("\x1bIS")));
  EXPECT_EQ(silent.code, 'O');
  EXPECT_EQ(silent.payload, "");
  EXPECT_GE(GetTickCount64() - start, 500u);
  EXPECT_EQ(Ask(0x00).code, 'O');
  // An inquiry the printer does not know gets no answer either.
  Printer([](qxsim::PrinterState& p) { p.faults.clear(); });
  EXPECT_EQ(Ask(0x01, Inquiry(100, Bytes("\x1bIZ"))).code, 'O');
  // No device on the port at all.
  {
    std::lock_guard<std::mutex> guard(world_.lock);
    world_.device = false;
  }
  EXPECT_EQ(Ask(0x01, Inquiry(100, Bytes("\x1bIS"))).code, 'O');
}

TEST_F(Monitor, ASlowPrinterAnswersWithinTheTimeOutOrTimesOut) {
  Printer([](qxsim::PrinterState& p) { p.reply_delay_ms = 3000; });
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Ask(0x01, Inquiry(1000, Bytes("\x1bIS"))).code, 'T');
  EXPECT_GE(GetTickCount64() - start, 1000u);

  start = GetTickCount64();
  const auto slow = Ask(0x01, Inquiry(5000, Bytes("\x1bIS")));
  EXPECT_EQ(slow.code, 0x01);
  EXPECT_EQ(slow.payload[0], 'S');
  EXPECT_GE(GetTickCount64() - start, 3000u);

  // A time-out of 0 stands for 20000 ms.
  EXPECT_EQ(Ask(0x01, Inquiry(0, Bytes("\x1bIS"))).code, 0x01);
  Printer([](qxsim::PrinterState& p) { p.reply_delay_ms = 25000; });
  start = GetTickCount64();
  EXPECT_EQ(Ask(0x01, Inquiry(0, Bytes("\x1bIS"))).code, 'T');
  EXPECT_GE(GetTickCount64() - start, 20000u);
}

// ---- Information and settings -----------------------------------------------------------

TEST_F(Monitor, PrintInProgressFollowsTheJobsOnThePort) {
  EXPECT_EQ(Ask(0x04).payload, "I");
  {
    std::lock_guard<std::mutex> guard(world_.lock);
    world_.documents = {"Ticket 1", "Ticket 2"};
  }
  const auto printing = Ask(0x04);
  EXPECT_EQ(printing.code, 0x04);
  EXPECT_EQ(printing.payload, "D");

  // Abort removes the oldest job, one per command.
  const auto aborted = Ask(0x0B);
  EXPECT_EQ(aborted.code, 0x0B);
  EXPECT_EQ(aborted.text(), "DOCUMENT ABORTED");
  EXPECT_EQ(world_.Documents(), std::vector<std::string>{"Ticket 2"});
  EXPECT_EQ(Ask(0x0B).text(), "DOCUMENT ABORTED");
  EXPECT_EQ(Ask(0x0B).text(), "NO DOCUMENT");
  EXPECT_EQ(Ask(0x04).payload, "I");
  EXPECT_EQ(monitor_->Snapshot().aborts, 3u);
}

TEST_F(Monitor, KeepsHeartbeatSaveMethodAndWdSetup) {
  EXPECT_EQ(Transact(Bytes("\x03\x00\x00\x01\x05\x01\x00\x0a")),
            Bytes("\x03\x00\x00\x0e\x05HEARTBEAT SET\x00\x03\xb2"));
  const auto rate = Ask(0x06, Bytes("\xe8\x03\x00\x00"));
  EXPECT_EQ(rate.code, 0x06);
  EXPECT_EQ(rate.text(), "HEARTBEAT RATE SET");
  EXPECT_EQ(Ask(0x07, Bytes("\x02")).text(), "SAVE METHOD SET");
  EXPECT_EQ(Ask(0x11, Bytes("\x01\x00\x2c\x07")).text(), "WD SETUP SET");
  qxsim::MonitorSnapshot s = monitor_->Snapshot();
  EXPECT_EQ(s.heartbeat, 1);
  EXPECT_EQ(s.heartbeat_rate, 1000);
  EXPECT_EQ(s.save_method, 2);
  EXPECT_EQ(std::vector<int>(s.wd_setup, s.wd_setup + 4), (std::vector<int>{1, 0, 44, 7}));
  EXPECT_EQ(Ask(0x06, Bytes("\xff\xff\xff\xff")).code, 0x06);
  EXPECT_EQ(monitor_->Snapshot().heartbeat_rate, -1);

  // A payload of the wrong length fails and changes nothing.
  for (const auto& [command, payload] : std::vector<std::pair<uint8_t, std::string>>{
           {0x05, ""}, {0x05, "ab"}, {0x06, "abc"}, {0x07, ""}, {0x11, "abcde"}}) {
    const auto bad = Ask(command, payload);
    EXPECT_EQ(bad.code, 'F') << int{command};
    EXPECT_EQ(bad.text(), "BAD LENGTH");
  }
  s = monitor_->Snapshot();
  EXPECT_EQ(s.heartbeat, 1);
  EXPECT_EQ(s.heartbeat_rate, -1);
  EXPECT_EQ(s.wd_setup[2], 44);
}

TEST_F(Monitor, CrcErrorFlagIsReportedClearedAndReset) {
  EXPECT_EQ(Ask(0x0E).payload, "0");
  monitor_->Change({true, {}, {}, {}, {}});
  const auto flagged = Ask(0x0E);
  EXPECT_EQ(flagged.code, 0x0E);
  EXPECT_EQ(flagged.payload, "1");
  EXPECT_EQ(Ask(0x0F).text(), "CRC ERROR CLEARED");
  EXPECT_EQ(Ask(0x0E).payload, "0");
  monitor_->Change({true, {}, {}, {}, {}});
  EXPECT_EQ(Ask(0x10).text(), "PRINTER RESET");
  EXPECT_EQ(Ask(0x0E).payload, "0");
  EXPECT_EQ(monitor_->Snapshot().resets, 1u);
}

TEST_F(Monitor, WritesRegistryValuesAsPrinterData) {
  const auto set = Ask(0x0C, Bytes("\x01\x00\x00\x00" "ABC\0"));
  EXPECT_EQ(set.code, 0x0C);
  EXPECT_EQ(set.text(), "REGISTRY KEY SET");
  EXPECT_EQ(Ask(0x0C, Bytes("\xfe\xff\xff\xff" "TNT_CONTROL\0")).code, 0x0C);
  EXPECT_EQ(world_.Data(), (std::map<std::string, uint32_t>{{"ABC", 1}, {"TNT_CONTROL", 0xFFFFFFFE}}));

  const struct {
    const char* what;
    std::string payload;
    const char* text;
  } bad[] = {
      {"no name", Bytes("\x01\x00\x00\x00\0"), "BAD REGISTRY REQUEST"},
      {"no terminator", Bytes("\x01\x00\x00\x00" "ABC"), "BAD REGISTRY REQUEST"},
      {"zero inside", Bytes("\x01\x00\x00\x00" "A\0B\0"), "BAD REGISTRY REQUEST"},
      {"too short", Bytes("\x01\x00"), "BAD REGISTRY REQUEST"},
      {"name too long", Bytes("\x01\x00\x00\x00") + std::string(260, 'K') + '\0', "KEY TOO LONG"},
  };
  for (const auto& b : bad) {
    const auto reply = Ask(0x0C, b.payload);
    EXPECT_EQ(reply.code, 'F') << b.what;
    EXPECT_EQ(reply.text(), b.text) << b.what;
  }
  EXPECT_EQ(Ask(0x0C, Bytes("\x01\x00\x00\x00") + std::string(259, 'K') + '\0').code, 0x0C);
  EXPECT_EQ(world_.Data().size(), 3u);
  // The world refuses: its reason comes back.
  monitor_->SetPrinterName("QX Gone");
  const auto gone = Ask(0x0C, Bytes("\x01\x00\x00\x00" "ABC\0"));
  EXPECT_EQ(gone.code, 'F');
  EXPECT_EQ(gone.text(), "NO PRINTER");
}

// ---- RFID ----------------------------------------------------------------------------------

TEST_F(Monitor, PassesRfidBytesThroughThePrinter) {
  const std::string tag = Bytes("\x01\x02\x00\xff");
  const auto echo = Ask(0x12, tag);
  EXPECT_TRUE(echo.valid);
  EXPECT_EQ(echo.code, 0x12);
  EXPECT_EQ(echo.payload, tag);

  std::string longest(1024, '\0');
  for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<char>(i * 7);
  const std::string reply = Transact(Request(0x12, longest), 1034);
  EXPECT_EQ(reply.size(), 1031u);
  EXPECT_EQ(Parse(reply).payload, longest);

  // A fixed answer of the most bytes a reply carries: a 1034-byte message.
  Printer([](qxsim::PrinterState& p) { p.rfid = {qxsim::RfidBehaviour::Mode::kFixed, std::string(1027, 'R')}; });
  const std::string fixed = Transact(Request(0x12, "x"), 1034);
  EXPECT_EQ(fixed.size(), 1034u);
  EXPECT_TRUE(Parse(fixed).valid);
  EXPECT_EQ(Parse(fixed).payload, std::string(1027, 'R'));

  Printer([](qxsim::PrinterState& p) { p.rfid = {qxsim::RfidBehaviour::Mode::kSilent, ""}; });
  const ULONGLONG start = GetTickCount64();
  const auto silent = Ask(0x12, tag);
  EXPECT_TRUE(silent.valid);
  EXPECT_EQ(silent.code, 0x13);
  EXPECT_EQ(silent.payload, "");
  EXPECT_GE(GetTickCount64() - start, 2000u);

  EXPECT_EQ(Ask(0x12, "").code, 'F');
  EXPECT_EQ(Ask(0x12, std::string(1025, 'x')).code, 'F');
}

// ---- Flash programming ------------------------------------------------------------------------

class Flash : public Monitor {
 protected:
  // A firmware file of size bytes, its first line naming version when given.
  std::string FirmwareFile(size_t size, const std::string& version = "") {
    const std::string path = dir_ + "/FWZDA1_131.BIN";
    std::string contents = version.empty() ? "" : "QXFW " + version + "\r\n";
    contents.resize(size, '\x5a');
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  // The progress text, and the virtual clock around its exchange.
  std::string Progress(ULONGLONG* before = nullptr, ULONGLONG* after = nullptr) {
    if (before != nullptr) *before = GetTickCount64();
    const auto reply = Ask(0x0A, "PROGRESS");
    if (after != nullptr) *after = GetTickCount64();
    EXPECT_EQ(reply.code, 0x0A);
    return reply.text();
  }
};

TEST_F(Flash, RunsOnTheVirtualClockToTheEnd) {
  EXPECT_EQ(Progress(), "0,0,0,P,Idle");
  constexpr unsigned kBlockMs = 1000;
  monitor_->Change({{}, {}, {}, {}, kBlockMs});
  const std::string file = FirmwareFile(5000, "1.31");  // 10 blocks of 512
  const ULONGLONG s0 = GetTickCount64();
  const auto started = Ask(0x09, "T" + file);
  const ULONGLONG s1 = GetTickCount64();
  EXPECT_EQ(started.code, 0x09);
  EXPECT_EQ(started.text(), "FLASH STARTED");
  EXPECT_EQ(Ask(0x09, "T" + file).text(), "FLASH BUSY");

  // Erasing 4 blocks' time, writing 10, verifying a quarter of the writing.
  constexpr ULONGLONG kErase = 4 * kBlockMs, kWrite = 10 * kBlockMs, kVerify = 2500;
  constexpr ULONGLONG kSlice = 500;
  int polls = 0;
  int last_state = 0;
  unsigned last_current = 0;
  for (;;) {
    ULONGLONG t0, t1;
    const std::string text = Progress(&t0, &t1);
    ++polls;
    int state = -1;
    unsigned max = 0, current = 0;
    char pass = 0;
    char note[64] = "";
    ASSERT_EQ(std::sscanf(text.c_str(), "%d,%u,%u,%c,%63s", &state, &max, &current, &pass, note), 5) << text;
    EXPECT_EQ(max, 10u);
    EXPECT_EQ(pass, 'P');
    EXPECT_GE(state, last_state) << text;
    EXPECT_GE(current, last_current) << text;
    // What the clock allows: the run started between s0 and s1, the reply
    // was made between t0 and t1.
    const ULONGLONG least = t0 - s1, most = t1 - s0;
    switch (state) {
      case 1:
        EXPECT_LT(least, kErase) << text;
        EXPECT_STREQ(note, "Erasing");
        break;
      case 2:
        EXPECT_GE(most, kErase + current * kBlockMs) << text;
        EXPECT_LT(least, kErase + (current + 1) * kBlockMs) << text;
        EXPECT_STREQ(note, "Writing");
        break;
      case 3:
        EXPECT_EQ(current, 10u);
        EXPECT_GE(most, kErase + kWrite) << text;
        EXPECT_LT(least, kErase + kWrite + kVerify) << text;
        break;
      case 4:
        EXPECT_EQ(text, "4,10,10,P,Done");
        EXPECT_GE(most, kErase + kWrite + kVerify) << text;
        break;
      default:
        FAIL() << text;
    }
    last_state = state;
    last_current = current;
    if (state == 4) break;
    // Every round takes at least one slice of the clock.
    ASSERT_LE(polls, static_cast<int>((kErase + kWrite + kVerify) / kSlice + 1));
    Sleep(static_cast<DWORD>(kSlice));
  }
  // The version the file names is the device's now.
  EXPECT_EQ(world_.Firmware(), "1.31");
  const qxsim::MonitorSnapshot s = monitor_->Snapshot();
  EXPECT_EQ(s.flash.state, qxsim::FlashProgress::State::kDone);
  EXPECT_EQ(s.flash.file, file);
  EXPECT_EQ(Progress(), "4,10,10,P,Done");
}

TEST_F(Flash, VerifiesOnlyWhenAsked) {
  constexpr unsigned kBlockMs = 40000;
  monitor_->Change({{}, {}, {}, {}, kBlockMs});
  const std::string file = FirmwareFile(1024);  // 2 blocks, no version named
  for (const char* flag : {"F", "T"}) {
    EXPECT_EQ(Ask(0x09, flag + file).code, 0x09);
    const ULONGLONG s1 = GetTickCount64();
    // Past erasing and writing, within the verification a "T" run does
    // (half a block's time).
    const ULONGLONG written = s1 + 6 * kBlockMs;
    while (GetTickCount64() < written) Sleep(static_cast<DWORD>(written - GetTickCount64()));
    EXPECT_EQ(Progress(), std::string(flag) == "F" ? "4,2,2,P,Done" : "3,2,2,P,Verifying") << flag;
    if (std::string(flag) == "T") Sleep(kBlockMs);
  }
  EXPECT_EQ(Progress(), "4,2,2,P,Done");
  EXPECT_EQ(world_.Firmware(), "");  // the file named no version
}

TEST_F(Flash, RefusalsAndFailures) {
  const struct {
    std::string payload;
    const char* text;
  } refused[] = {
      {"T" + dir_ + "/missing.bin", "FILE NOT FOUND"},
      {"X" + dir_ + "/a.bin", "BAD FLASH REQUEST"},
      {"T", "BAD FLASH REQUEST"},
      {"", "BAD FLASH REQUEST"},
      {"T" + dir_, "FILE NOT READABLE"},
  };
  for (const auto& r : refused) {
    const auto reply = Ask(0x09, r.payload);
    EXPECT_EQ(reply.code, 'F') << r.payload;
    EXPECT_EQ(reply.text(), r.text) << r.payload;
  }
  EXPECT_EQ(Ask(0x09, "T" + FirmwareFile(0)).text(), "FILE EMPTY");
  const auto long_request = Ask(0x0A, std::string(128, 'P'));
  EXPECT_EQ(long_request.code, 'F');
  EXPECT_EQ(long_request.text(), "REQUEST TOO LONG");
  EXPECT_EQ(Ask(0x0A, std::string(127, 'P')).text(), "0,0,0,P,Idle");

  // The printer refuses the firmware once erased; a terminator sent with the
  // file name is taken off.
  monitor_->Change({{}, {}, {}, {}, 10});
  Printer([](qxsim::PrinterState& p) { p.faults = {"refuse_firmware"}; });
  EXPECT_EQ(Ask(0x09, "F" + FirmwareFile(600) + '\0').code, 0x09);
  Sleep(40);
  EXPECT_EQ(Progress(), "5,2,0,F,Refused by printer");
  Printer([](qxsim::PrinterState& p) { p.faults = {"not_responding"}; });
  EXPECT_EQ(Ask(0x09, "F" + FirmwareFile(600)).code, 0x09);
  Sleep(40);
  EXPECT_EQ(Progress(), "5,2,0,F,Printer not responding");
  {
    std::lock_guard<std::mutex> guard(world_.lock);
    world_.device = false;
  }
  EXPECT_EQ(Ask(0x09, "F" + FirmwareFile(600)).text(), "NO PRINTER");
}

// ---- Scripts and the request log -----------------------------------------------------------------

TEST_F(Monitor, ScriptsShapeTheNextReplies) {
  qxsim::ReplyScript s;
  s.reply_code = 'O';
  s.payload = Bytes("\x01\x02");
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPrinter), Bytes("\x03\x00\x00\x02\x4f\x01\x02\x00\x57"));
  // The command still does its work.
  EXPECT_TRUE(Parse(Transact(Request(0x05, "\x07"))).valid);
  EXPECT_EQ(monitor_->Snapshot().heartbeat, 7);

  s = {};
  s.bad_checksum = true;
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPort), Bytes("\x03\x00\x00\x06\x03\x4c\x50\x54\x31\x3a\x00\x01\x68"));

  s = {};
  s.lead_byte = 0x02;
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPort), Bytes("\x02\x00\x00\x06\x03\x4c\x50\x54\x31\x3a\x00\x01\x66"));

  s = {};
  s.declared_length = 0x0100;  // runs past the bytes sent
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPort), Bytes("\x03\x00\x01\x00\x03\x4c\x50\x54\x31\x3a\x00\x01\x62"));

  s = {};
  s.reply_size = 1100;  // longer than the library's read
  monitor_->SetScript(s);
  {
    LibraryPipe pipe;
    DWORD error = 0;
    EXPECT_EQ(pipe.Exchange(kAskPort, &error), "");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MORE_DATA));
  }
  const std::string padded = Transact(kAskPort, 2048);
  EXPECT_EQ(padded, kPortReply + std::string(1100 - kPortReply.size(), '\0'));
  s.reply_size = 4;  // cut short
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPort), kPortReply.substr(0, 4));

  s = {};
  s.delay_ms = 1500;
  monitor_->SetScript(s);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Transact(kAskPort), kPortReply);
  EXPECT_GE(GetTickCount64() - start, 1500u);

  monitor_->SetScript({});  // cleared
  EXPECT_EQ(Transact(kAskPort), kPortReply);
}

TEST_F(Monitor, ScriptsApplyToTheirCommandsAndTimes) {
  qxsim::ReplyScript s;
  s.reply_code = 'T';
  s.commands = std::vector<uint8_t>{0x02, 0x08};
  s.times = 2;
  monitor_->SetScript(s);
  EXPECT_EQ(Transact(kAskPort), kPortReply);  // not among its commands
  EXPECT_EQ(Parse(Transact(kAskPrinter)).code, 'T');
  EXPECT_EQ(Transact("junk"), kBadFrameReply);  // a bad frame has no command
  EXPECT_EQ(Parse(Transact(kAskVersion)).code, 'T');
  EXPECT_EQ(Transact(kAskPrinter), kPrinterReply);  // used up

  s = {};
  s.reply_code = 'N';  // every reply, until cleared, bad frames included
  monitor_->SetScript(s);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Parse(Transact(kAskPort)).code, 'N');
  EXPECT_EQ(Parse(Transact("junk")).code, 'N');
  monitor_->SetScript({});
  EXPECT_EQ(Transact("junk"), kBadFrameReply);
}

TEST_F(Monitor, LogsEveryRequestAsRead) {
  EXPECT_EQ(Transact(kAskPort), kPortReply);
  EXPECT_EQ(Transact("junk"), kBadFrameReply);
  EXPECT_EQ(Transact(""), kBadFrameReply);
  EXPECT_EQ(monitor_->Requests(false), (std::vector<std::string>{kAskPort, "junk", ""}));
  EXPECT_EQ(monitor_->Requests(true).size(), 3u);
  EXPECT_TRUE(monitor_->Requests(false).empty());

  for (int i = 0; i < 300; ++i) Transact(Request(0x05, std::string(1, static_cast<char>(i))));
  const std::vector<std::string> log = monitor_->Requests(false);
  ASSERT_EQ(log.size(), LanguageMonitor::kRequestLog);
  EXPECT_EQ(log.front(), Request(0x05, std::string(1, static_cast<char>(300 - 256))));
  EXPECT_EQ(log.back(), Request(0x05, std::string(1, static_cast<char>(299))));
  EXPECT_EQ(monitor_->Snapshot().exchanges, 303u);
}

// ---- Reload -----------------------------------------------------------------------------------

TEST_F(Monitor, ReloadsOnlyForTheCausesSwitchedOn) {
  using Cause = LanguageMonitor::ReloadCause;
  EXPECT_FALSE(monitor_->Reload(Cause::kDevmode));  // running
  monitor_->Stop();
  EXPECT_FALSE(monitor_->Reload(Cause::kDevmode));
  EXPECT_FALSE(monitor_->Reload(Cause::kJob));
  monitor_->Change({{}, true, {}, {}, {}});
  EXPECT_FALSE(monitor_->Reload(Cause::kJob));
  EXPECT_FALSE(monitor_->running());
  EXPECT_TRUE(monitor_->Reload(Cause::kDevmode));
  EXPECT_TRUE(monitor_->running());
  EXPECT_EQ(Transact(kAskPort), kPortReply);

  monitor_->Stop();
  monitor_->Change({{}, false, true, {}, {}});
  EXPECT_FALSE(monitor_->Reload(Cause::kDevmode));
  EXPECT_TRUE(monitor_->Reload(Cause::kJob));
  const qxsim::MonitorSnapshot s = monitor_->Snapshot();
  EXPECT_EQ(s.reloads, 2u);
  EXPECT_FALSE(s.info.reload_on_devmode);
  EXPECT_TRUE(s.info.reload_on_job);
}

}  // namespace
