// The three transaction shapes: verdicts on reply codes, malformed and
// over-long replies, bounded copies, RFID argument checks, the locks, and
// several threads on one pipe.
#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "lm/frame.h"
#include "lm/pipe.h"
#include "lm/transact.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::Bytes;
using qxtest::Frame;

class Transactions : public qxtest::LmWorld {
 protected:
  QXRESULT Query(std::string* payload = nullptr) {
    BYTE reply[1024];
    DWORD length = 0;
    const QXRESULT r = qxLMGetPrinterName(reply, sizeof reply, &length);
    if (payload != nullptr) payload->assign(reinterpret_cast<char*>(reply), length);
    return r;
  }
  QXRESULT Generic(std::string* text = nullptr, LONG* replyLength = nullptr) {
    char buffer[64];
    LONG length = -7;
    const QXRESULT r = qx::qxLMSetGeneric(qx::kCmdResetPrinter, nullptr, 0, buffer, sizeof buffer, &length,
                                          g_state.pipeName, g_state.pipeTimeout);
    if (text != nullptr) *text = buffer;
    if (replyLength != nullptr) *replyLength = length;
    return r;
  }
  // An exchange that expects the served answer runs on real time (see
  // PatientClock); one that expects the read window to pass does not.
  QXRESULT Rfid(const std::string& request, std::string* reply = nullptr, DWORD replySize = 1024) {
    qxtest::PatientClock patient;
    return RfidOnTheFastClock(request, reply, replySize);
  }
  QXRESULT RfidOnTheFastClock(const std::string& request, std::string* reply = nullptr, DWORD replySize = 1024) {
    BYTE buffer[1024];
    DWORD length = 77;
    const QXRESULT r = qxLMRFIDPrinter(reinterpret_cast<const BYTE*>(request.data()),
                                       static_cast<DWORD>(request.size()), buffer, replySize, &length, 0);
    if (reply != nullptr) reply->assign(reinterpret_cast<char*>(buffer), length);
    return r;
  }
};

TEST_F(Transactions, ReplyCodeVerdictsOfEachShape) {
  std::atomic<int> code{0};
  Serve([&code](const std::string&) { return Frame(code, "x"); });
  struct Row {
    int code;
    QXRESULT query, generic, rfid;
  };
  const Row rows[] = {
      {'O', QX_ERR_NO_RESPONSE, QX_ERR_OK, QX_ERR_BAD_REPLY},
      {'T', QX_ERR_LM_TIMEOUT, QX_ERR_OK, QX_ERR_BAD_REPLY},
      {'F', QX_ERR_OK, QX_ERR_FAILED, QX_ERR_BAD_REPLY},
      {'J', QX_ERR_OK, QX_ERR_OK, QX_ERR_BAD_REPLY},
      {'B', QX_ERR_FAILED, QX_ERR_FAILED, QX_ERR_BAD_REPLY},
      {'N', QX_ERR_FAILED, QX_ERR_FAILED, QX_ERR_BAD_REPLY},
      {0x00, QX_ERR_OK, QX_ERR_OK, QX_ERR_BAD_REPLY},
      {0x12, QX_ERR_OK, QX_ERR_OK, QX_ERR_OK},
      {0x13, QX_ERR_OK, QX_ERR_OK, QX_ERR_NO_RESPONSE},
  };
  for (const Row& row : rows) {
    code = row.code;
    std::string payload;
    EXPECT_EQ(Query(&payload), row.query) << "code " << row.code;
    EXPECT_EQ(payload, "x") << "delivered whatever the verdict, code " << row.code;
    EXPECT_EQ(Generic(), row.generic) << "code " << row.code;
    std::string reply;
    EXPECT_EQ(Rfid("r", &reply), row.rfid) << "code " << row.code;
  }
  // The exports built on the shapes judge alike: "O" fails a query, not a command.
  code = 'O';
  EXPECT_EQ(qxLMResetPrinter(), QX_ERR_OK);
  code = 'F';
  EXPECT_EQ(qxLMAbortDocument(), QX_ERR_FAILED);
}

TEST_F(Transactions, BadChecksumAcceptedByQueryAndGenericRefusedByRfid) {
  std::string reply = Frame(0x12, "hello");
  reply.back() ^= 0x40;
  ServeReply(reply);
  std::string payload;
  EXPECT_EQ(Query(&payload), QX_ERR_OK);
  EXPECT_EQ(payload, "hello");
  std::string text;
  LONG length = 0;
  EXPECT_EQ(Generic(&text, &length), QX_ERR_OK);
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(Rfid("hello"), QX_ERR_BAD_REPLY);
}

TEST_F(Transactions, NotAFrameIsABadReplyAndWritesNothing) {
  const std::string notFrames[] = {
      Bytes({0x02, 0x00, 0x00, 0x01, 0x02, 'a', 0x00, 0x06}),  // lead byte
      Bytes({0x03, 0x00, 0x00, 0x30, 0x02, 'a', 0x00, 0x66}),  // length past the message
  };
  for (const std::string& bytes : notFrames) {
    ServeReply(bytes);
    BYTE reply[16];
    std::memset(reply, 0xAA, sizeof reply);
    DWORD length = 55;
    EXPECT_EQ(qxLMGetPrinterName(reply, sizeof reply, &length), QX_ERR_BAD_REPLY);
    EXPECT_EQ(reply[0], 0xAA);
    EXPECT_EQ(length, 55u);

    std::string text;
    LONG textLength = 0;
    EXPECT_EQ(Generic(&text, &textLength), QX_ERR_BAD_REPLY);
    EXPECT_EQ(text, "Error qxLMSetGeneric");
    EXPECT_EQ(textLength, -7);  // not written

    std::string rfid = "unchanged";
    EXPECT_EQ(Rfid("q", &rfid), QX_ERR_BAD_REPLY);
    EXPECT_EQ(rfid, "");

    BOOL flag = 5;
    EXPECT_EQ(qxLMGetOutOfPaperStatus(&flag), QX_ERR_BAD_REPLY);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(qxLMGetPrintInProgress(&flag), QX_ERR_BAD_REPLY);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(qxLMGetCRCError(&flag), QX_ERR_BAD_REPLY);
    EXPECT_EQ(flag, 0);
  }
}

TEST_F(Transactions, OverLongMessageFailsTheSingleReadButRfidReadsTheRest) {
  // 1100 bytes: more than one read of 1024 (or 1034) takes.
  ServeReply(Frame(0x02, std::string(1093, 'p')));
  EXPECT_EQ(Query(), QX_ERR_FAILED);
  std::string text;
  EXPECT_EQ(Generic(&text), QX_ERR_FAILED);
  EXPECT_EQ(text, "READ PIPE FAILED");

  // The RFID read fails with more data; the next read takes the rest of the
  // message and that is judged as the frame.
  ServeReply(std::string(1034, '\xEE') + Frame(0x12, "tail"));
  std::string reply;
  EXPECT_EQ(Rfid("x", &reply), QX_ERR_OK);
  EXPECT_EQ(reply, "tail");
  ServeReply(std::string(1040, '\xEE'));
  EXPECT_EQ(Rfid("x"), QX_ERR_BAD_REPLY);
}

TEST_F(Transactions, PayloadIsCutToTheCallersBuffer) {
  ServeReply(Frame(0x12, std::string(100, 'z')));
  BYTE reply[16];
  std::memset(reply, 0xAA, sizeof reply);
  DWORD length = 0;
  EXPECT_EQ(qxLMGetLMVersion(reply, 10, &length), QX_ERR_OK);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(reply[9], 'z');
  EXPECT_EQ(reply[10], 0xAA);

  std::string rfid;
  EXPECT_EQ(Rfid("x", &rfid, 20), QX_ERR_OK);
  EXPECT_EQ(rfid, std::string(20, 'z'));
}

TEST_F(Transactions, TextCopyRuleIntoTheCallersSize) {
  std::string reply;
  Serve([&reply](const std::string&) { return Frame(0x0A, reply); });
  struct Case {
    std::string reply;
    DWORD size;
    std::string text;
  };
  const Case cases[] = {
      {"123456789", 10, "12345678"},  // one fewer than the buffer could hold
      {"1234567", 10, "1234567"},
      {std::string("ab\0cd", 5), 10, "ab"},  // text ends at the first zero
      {"xyz", 2, ""},
  };
  for (const Case& c : cases) {
    reply = c.reply;
    char text[16];
    std::memset(text, '#', sizeof text);
    LONG length = 0;
    EXPECT_EQ(qxLMGetProgress("p", text, c.size, &length), QX_ERR_OK);
    EXPECT_EQ(std::string(text), c.text);
    EXPECT_EQ(text[c.size], '#') << "nothing past the size";
    EXPECT_EQ(length, static_cast<LONG>(c.reply.size()));
  }
  // Sizes below 2 are never overrun.
  char one[2] = {'#', '#'};
  LONG length = 0;
  EXPECT_EQ(qxLMGetProgress("p", one, 1, &length), QX_ERR_OK);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(one[1], '#');
  one[0] = '#';
  EXPECT_EQ(qxLMGetProgress("p", one, 0, &length), QX_ERR_OK);
  EXPECT_EQ(one[0], '#');
}

TEST_F(Transactions, OpenFailuresInWords) {
  qxLMSetPipeName(qxtest::kNowhere);
  g_state.printerName[0] = '\0';  // no recovery worth running
  std::string text;
  EXPECT_EQ(Generic(&text), QX_ERR_NO_PIPE);
  EXPECT_EQ(text, "COULD NOT OPEN PIPE");

  control().SetMonitorBusy("USB001", true);
  char usb[qx::kPipeNameSize];
  qx::FormPipeName(usb, sizeof usb, "USB001");
  qxLMSetPipeName(usb);
  qxLMSetPipeTimeOut(200);
  EXPECT_EQ(Generic(&text), QX_ERR_PIPE_BUSY);
  EXPECT_EQ(text, "NAMED PIPE IS BUSY");
  EXPECT_EQ(Query(), QX_ERR_PIPE_BUSY);
  EXPECT_EQ(Rfid("x"), QX_ERR_PIPE_BUSY);
  control().SetMonitorBusy("USB001", false);
}

TEST_F(Transactions, RfidArgumentsAreCheckedBeforeThePipe) {
  auto& served = ServeEcho();
  qxplat_call_counts_reset();
  const BYTE request[1025] = {1};
  BYTE reply[1025];
  DWORD length = 9;
  EXPECT_EQ(qxLMRFIDPrinter(nullptr, 1, reply, 10, &length, 0), QX_ERR_BAD_DATA);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(qxLMRFIDPrinter(request, 0, reply, 10, &length, 0), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxLMRFIDPrinter(request, 1025, reply, 10, &length, 0), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxLMRFIDPrinter(request, 1, nullptr, 10, &length, 0), QX_ERR_BAD_BUFFER);
  EXPECT_EQ(qxLMRFIDPrinter(request, 1, reply, 0, &length, 0), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxLMRFIDPrinter(request, 1, reply, 1025, &length, 0), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxLMRFIDPrinter(request, 1, reply, 10, nullptr, 0), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxLMPtrRFIDPrinter(nullptr, request, 1, reply, 10, &length, 0), QX_ERR_BAD_ARG);
  const std::string longName(128, 'Q');
  EXPECT_EQ(qxLMPtrRFIDPrinter(longName.c_str(), request, 1, reply, 10, &length, 0), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxLMPtrRFIDPrinter("No Such Printer", request, 1, reply, 10, &length, 0), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);
  EXPECT_TRUE(served.Requests().empty());

  // The limits themselves pass.
  qxtest::PatientClock patient;
  EXPECT_EQ(qxLMRFIDPrinter(request, 1024, reply, 1024, &length, 0), QX_ERR_OK);
  EXPECT_EQ(length, 1024u);
  EXPECT_EQ(reply[0], 1);
}

TEST_F(Transactions, RfidGivesUpAfterItsReadWindow) {
  ServeReply("");  // hangs up without a reply: every read fails
  const uint64_t start = qxplat_clock_now_ms();
  EXPECT_EQ(RfidOnTheFastClock("x"), QX_ERR_PIPE_TIMEOUT);
  EXPECT_GE(qxplat_clock_now_ms() - start, 2200u);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 1);  // only the server's end
}

TEST_F(Transactions, RfidNoResponseDeliversThePayload) {
  ServeReply(Frame(0x13, "nr"));
  std::string reply;
  EXPECT_EQ(Rfid("x", &reply), QX_ERR_NO_RESPONSE);
  EXPECT_EQ(reply, "nr");
}

TEST_F(Transactions, RequestTooLongForAFrameIsRefusedUnsent) {
  auto& served = ServeEcho();
  const std::vector<BYTE> payload(1018, 'a');
  BYTE reply[8];
  DWORD length = 0;
  EXPECT_EQ(qx::PipeQuery(0x01, payload.data(), 1018, reply, sizeof reply, &length), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qx::PipeQuery(0x01, payload.data(), 1017, reply, sizeof reply, &length), QX_ERR_OK);
  ASSERT_EQ(served.Requests().size(), 1u);
  EXPECT_EQ(served.Requests()[0].size(), 1024u);
}

TEST_F(Transactions, RunsWithoutAPipeMutexAndReleasesItOnEveryPath) {
  ServeEcho();
  const HANDLE mutex = g_state.pipeMutex;
  g_state.pipeMutex = nullptr;
  EXPECT_EQ(Query(), QX_ERR_OK);
  g_state.pipeMutex = mutex;

  qxplat_mutex_trace_start();
  EXPECT_EQ(Query(), QX_ERR_OK);
  EXPECT_EQ(Rfid("x"), QX_ERR_OK);
  std::strcpy(g_state.pipeName, qxtest::kNowhere);
  g_state.printerName[0] = '\0';
  EXPECT_EQ(Query(), QX_ERR_NO_PIPE);
  EXPECT_EQ(Generic(), QX_ERR_NO_PIPE);
  EXPECT_EQ(Rfid("x"), QX_ERR_NO_PIPE);
  qxplat_mutex_trace_stop();
  int acquired = 0;
  int released = 0;
  for (const qxplat_mutex_event& e : qxplat::mutex_trace()) {
    if (e.handle != reinterpret_cast<uintptr_t>(mutex)) continue;
    (e.acquired ? acquired : released)++;
  }
  EXPECT_EQ(acquired, 5);
  EXPECT_EQ(released, 5);
  // Free for another thread at once.
  std::thread other([mutex] {
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
  });
  other.join();
}

// Whenever a thread holds the pipe mutex it never takes the printer-switch
// mutex: the switch mutex comes first, the pipe mutex inside it.
TEST_F(Transactions, SwitchMutexIsNeverTakenWhileThePipeMutexIsHeld) {
  const auto pipeMutex = reinterpret_cast<uintptr_t>(g_state.pipeMutex);
  const auto switchMutex = reinterpret_cast<uintptr_t>(g_state.switchMutex);
  qxplat_mutex_trace_start();
  BYTE reply[1024];
  DWORD length = 0;
  const BYTE request[] = {'r'};
  qxLMPtrIsPipe(qxtest::kTicket);
  qxLMPtrIsPipe(qxtest::kBoarding);
  qxLMPtrRFIDPrinter(qxtest::kTicket, request, 1, reply, sizeof reply, &length, 0);
  qxLMPtrGetStatus(qxtest::kBoarding, 0, reply, sizeof reply, &length);
  qxLMPtrGetStatus(qxtest::kTicket, 0, reply, sizeof reply, &length);
  qxLMGetStatus(0, reply, sizeof reply, &length);
  qxLMIsPipe();
  qxplat_mutex_trace_stop();

  std::map<uint32_t, int> pipeDepth;
  int switchTaken = 0;
  int pipeTaken = 0;
  for (const qxplat_mutex_event& e : qxplat::mutex_trace()) {
    int& depth = pipeDepth[e.thread_id];
    if (e.handle == pipeMutex) {
      depth += e.acquired ? 1 : -1;
      pipeTaken += e.acquired;
      EXPECT_GE(depth, 0);
    } else if (e.handle == switchMutex && e.acquired) {
      ++switchTaken;
      EXPECT_EQ(depth, 0) << "printer-switch mutex taken inside the pipe mutex";
    }
  }
  EXPECT_EQ(switchTaken, 5);
  EXPECT_GE(pipeTaken, 8);
  for (const auto& [thread, depth] : pipeDepth) EXPECT_EQ(depth, 0) << "thread " << thread;
}

// Status queries, RFID exchanges and commands from several threads at once:
// every request arrives as one whole frame, and every thread gets its own reply.
TEST_F(Transactions, ThreadsNeverShareAnExchange) {
  qxtest::PatientClock patient;  // RFID exchanges among the threads expect answers
  std::atomic<int> malformed{0};
  Serve(
      [&malformed](const std::string& request) {
        if (!qx::IsWholeFrame(reinterpret_cast<const BYTE*>(request.data()), static_cast<DWORD>(request.size())) ||
            request.size() != qxtest::PayloadOf(request).size() + 7) {
          ++malformed;
          return Frame('B', "");
        }
        return Frame(qxtest::CommandOf(request), qxtest::PayloadOf(request));
      },
      2);
  constexpr int kThreads = 6;
  constexpr int kRounds = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string mine = "thread " + std::to_string(t) + " round " + std::to_string(i);
        BYTE reply[1024];
        DWORD length = 0;
        switch ((t + i) % 3) {
          case 0: {  // the status inquiry echoed: time-out bytes, then the inquiry
            if (qxLMGetAddStatus(mine.c_str(), reply, sizeof reply, &length) != QX_ERR_OK ||
                std::string(reinterpret_cast<char*>(reply) + 2, length - 2) != mine) {
              ++wrong;
            }
            break;
          }
          case 1: {
            if (qxLMRFIDPrinter(reinterpret_cast<const BYTE*>(mine.data()), static_cast<DWORD>(mine.size()), reply,
                                sizeof reply, &length, 0) != QX_ERR_OK ||
                std::string(reinterpret_cast<char*>(reply), length) != mine) {
              ++wrong;
            }
            break;
          }
          default: {
            char text[128];
            LONG textLength = 0;
            if (qxLMGetProgress(mine.c_str(), text, sizeof text, &textLength) != QX_ERR_OK || mine != text) {
              ++wrong;
            }
            break;
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(malformed, 0);
  EXPECT_EQ(served().Requests().size(), static_cast<size_t>(kThreads * kRounds));
  EXPECT_EQ(served().Connections(), kThreads * kRounds);
}

}  // namespace
