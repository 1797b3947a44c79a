// The pipe client under a silent monitor, threads of both kinds, a host that
// opens the pipe itself, and names without a terminator. Silence is counted
// on the scaled clock: each wait is at least its limit and far below the
// monitor's day-long delay.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lm/transact.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kTicket;

constexpr uint64_t kDay = 86400000;  // ms the silent monitor holds its reply
// Far above any limit the library sets here, far below the monitor's day:
// a call that returns under it was cut short by the library.
constexpr uint64_t kReturnedEarly = kDay / 8;

// The default world, with a language monitor on the boarding-pass printer's
// port too, so that two ports answer.
class HostilePipe : public qxtest::LmWorld {
 protected:
  std::string WorldJson() const override {
    return qxtest::WorldFrom([](json& world) {
      qxtest::PrinterIn(world, kBoarding)["driver"]["language_monitor"] = {{"name", "QX Language Monitor"},
                                                                         {"version", "QXLM 2.0.0.4"}};
    });
  }
  void SilenceTicketMonitor() { control().ScriptMonitor("USB001", {{"delay_ms", kDay}}); }
};

TEST_F(HostilePipe, SilentMonitorFailsEachShapeWithinItsLimit) {
  SilenceTicketMonitor();
  qxLMSetPipeTimeOut(1000);
  qxLMSetStatusTimeOut(1500);

  // A query waits for the pipe time-out plus the status time-out.
  BYTE reply[1024];
  DWORD length = 77;
  uint64_t start = qxplat_clock_now_ms();
  EXPECT_EQ(qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_FAILED);
  uint64_t waited = qxplat_clock_now_ms() - start;
  EXPECT_GE(waited, 2500u);
  EXPECT_LT(waited, kReturnedEarly);

  // A command says so in words.
  char text[64];
  LONG textLength = -7;
  start = qxplat_clock_now_ms();
  EXPECT_EQ(qxLMSetRegistryKey("AUTOSIZE", 1, text, sizeof text, &textLength), QX_ERR_FAILED);
  waited = qxplat_clock_now_ms() - start;
  EXPECT_STREQ(text, "READ PIPE FAILED");
  EXPECT_EQ(textLength, 0);
  EXPECT_GE(waited, 2500u);
  EXPECT_LT(waited, kReturnedEarly);

  // The RFID exchange is bounded by its own window, whatever the time-outs.
  qxLMSetPipeTimeOut(20000);
  const BYTE request[] = {1, 2, 3};
  start = qxplat_clock_now_ms();
  EXPECT_EQ(qxLMRFIDPrinter(request, sizeof request, reply, sizeof reply, &length, 0), QX_ERR_PIPE_TIMEOUT);
  waited = qxplat_clock_now_ms() - start;
  EXPECT_EQ(length, 0u);
  EXPECT_GE(waited, 2200u);
  EXPECT_LT(waited, kReturnedEarly);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
}

// A call to a healthy monitor waits for the pipe mutex no longer than the
// silent exchange ahead of it is allowed to take.
TEST_F(HostilePipe, HealthyMonitorWaitsOnlyForTheSilentOnesLimit) {
  SilenceTicketMonitor();
  qxLMSetPipeTimeOut(1000);
  qxLMSetStatusTimeOut(1000);
  std::atomic<bool> started{false};
  QXRESULT silent = QX_ERR_OK;
  std::thread stuck([&] {
    BYTE reply[1024];
    DWORD length = 0;
    started = true;
    silent = qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length);
  });
  while (!started) std::this_thread::yield();
  BYTE reply[1024];
  DWORD length = 0;
  const uint64_t start = qxplat_clock_now_ms();
  EXPECT_EQ(qxLMPtrGetStatus(kBoarding, QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_LT(qxplat_clock_now_ms() - start, kReturnedEarly);
  EXPECT_GT(length, 4u);
  stuck.join();
  EXPECT_EQ(silent, QX_ERR_FAILED);
}

// A reply message of no bytes is a failed read for every shape; the RFID
// exchange no longer spins on it.
TEST_F(HostilePipe, EmptyReplyMessageIsAFailedRead) {
  const HANDLE server = CreateNamedPipeA(qxtest::kTestPipe, PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0,
                                         nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::thread serve([server] {
    for (int exchange = 0; exchange < 2; ++exchange) {
      ConnectNamedPipe(server, nullptr);
      char request[2048];
      DWORD count = 0;
      ReadFile(server, request, sizeof request, &count, nullptr);
      WriteFile(server, request, 0, &count, nullptr);
      ReadFile(server, request, sizeof request, &count, nullptr);  // until the client leaves
      DisconnectNamedPipe(server);
    }
  });
  qxLMSetPipeName(qxtest::kTestPipe);
  qxLMSetPipeTimeOut(100);
  qxLMSetStatusTimeOut(100);
  BYTE reply[1024];
  DWORD length = 0;
  EXPECT_EQ(qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_FAILED);
  const BYTE request[] = {9};
  EXPECT_EQ(qxLMRFIDPrinter(request, 1, reply, sizeof reply, &length, 0), QX_ERR_PIPE_TIMEOUT);
  serve.join();
  CloseHandle(server);
}

// Plain pipe calls on several threads while another thread addresses the
// other printer by name: every plain call reaches the current printer's
// monitor, never the named one's.
TEST_F(HostilePipe, NamedPrinterCallsNeverRedirectOtherThreads) {
  constexpr int kPlainThreads = 4;
  constexpr int kRounds = 250;
  std::atomic<bool> done{false};
  std::atomic<int> misrouted{0};
  std::atomic<int> failed{0};
  std::atomic<int> named{0};
  std::thread switcher([&] {
    while (!done) {
      BYTE reply[1024];
      DWORD length = 0;
      if (qxLMPtrGetStatus(kBoarding, QX_REQ_LM_STATUS, reply, sizeof reply, &length) == QX_ERR_OK) ++named;
    }
  });
  std::vector<std::thread> plain;
  for (int t = 0; t < kPlainThreads; ++t) {
    plain.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        BYTE reply[1024];
        DWORD length = 0;
        if (qxLMGetPortName(reply, sizeof reply, &length) != QX_ERR_OK) {
          ++failed;
        } else if (std::string(reinterpret_cast<char*>(reply), strnlen(reinterpret_cast<char*>(reply), length)) !=
                   "USB001") {
          ++misrouted;
        }
      }
    });
  }
  for (std::thread& t : plain) t.join();
  done = true;
  switcher.join();
  EXPECT_EQ(misrouted, 0);
  EXPECT_EQ(failed, 0);
  EXPECT_GT(named, 0);
  EXPECT_STREQ(g_state.printerName, kTicket);
  EXPECT_STREQ(g_state.portName, "USB001");
}

// The host's own open keeps one handle at most: a second open closes the
// first, transactions in between use handles of their own, and after each
// close no instance of the monitor stays taken.
TEST_F(HostilePipe, HostOpenHoldsOneHandleAndTransactionsLeaveItAlone) {
  BYTE reply[1024];
  DWORD length = 0;
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(qxLMOpenPipe(g_state.pipeName, 1000), QX_ERR_OK) << round;
    const HANDLE hostPipe = g_state.pipeHandle;
    EXPECT_EQ(qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_OK);
    EXPECT_EQ(g_state.pipeHandle, hostPipe);
    EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 1);
    EXPECT_EQ(qxLMClosePipe(), 1);
    EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
  }
  ASSERT_EQ(qxLMOpenPipe(g_state.pipeName, 1000), QX_ERR_OK);
  ASSERT_EQ(qxLMOpenPipe(g_state.pipeName, 1000), QX_ERR_OK);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 1);
  // A failed open leaves nothing open either.
  EXPECT_EQ(qxLMOpenPipe("", 1000), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
  EXPECT_EQ(g_state.pipeHandle, INVALID_HANDLE_VALUE);
}

// Names without a terminator are read no further than the record holds.
TEST_F(HostilePipe, UnterminatedPrinterNamesAreRefused) {
  const std::string before = g_state.printerName;
  std::vector<char> name(300, 'Q');  // no zero anywhere: a read past it is caught by ASan
  EXPECT_EQ(qxSetNewPrinter(name.data()), 0);
  BYTE reply[16];
  DWORD length = 0;
  EXPECT_EQ(qxLMPtrGetStatus(name.data(), QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxLMPtrIsPipe(name.data()), 0);
  EXPECT_EQ(g_state.printerName, before);
  // Exactly 127 characters fit, 128 do not.
  std::vector<char> longest(128, 'Q');
  longest[127] = '\0';
  EXPECT_EQ(qxSetNewPrinter(longest.data()), 0);  // fits, but no such printer
  EXPECT_EQ(g_state.printerName, before);
}

}  // namespace
