// End to end against qxsimd's language monitor and printer emulator: the
// command table on the wire, scripted replies, RFID, and several threads.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::Bytes;
using qxtest::Frame;

class MonitorEndToEnd : public qxtest::LmWorld {
 protected:
  // The last request frame qxsimd's monitor received on USB001.
  std::string LastRequest() {
    const auto requests = control().MonitorRequests("USB001", true);
    return requests.empty() ? std::string() : requests.back();
  }
  // Runs on real time so that the monitor's answer, not the library's read
  // window, decides (see PatientClock).
  QXRESULT Rfid(const std::string& request, std::string* reply = nullptr) {
    qxtest::PatientClock patient;
    BYTE buffer[1024];
    DWORD length = 0;
    const QXRESULT r = qxLMRFIDPrinter(reinterpret_cast<const BYTE*>(request.data()),
                                       static_cast<DWORD>(request.size()), buffer, sizeof buffer, &length, 0);
    if (reply != nullptr) reply->assign(reinterpret_cast<char*>(buffer), length);
    return r;
  }
};

TEST_F(MonitorEndToEnd, CommandsArriveAsTheirFramesAndTakeEffect) {
  ASSERT_EQ(qxLMSetHeartBeat(257), QX_ERR_OK);
  EXPECT_EQ(LastRequest(), Frame(0x05, Bytes({0x01})));
  ASSERT_EQ(qxLMSetHeartBeatRate(1000), QX_ERR_OK);
  EXPECT_EQ(LastRequest(), Frame(0x06, Bytes({0xE8, 0x03, 0x00, 0x00})));
  ASSERT_EQ(qxLMSetSpoolerSaveMethod(2), QX_ERR_OK);
  ASSERT_EQ(qxLMWDSetup(5, 0, 300, 7), QX_ERR_OK);
  EXPECT_EQ(LastRequest(), Frame(0x11, Bytes({0x01, 0x00, 0x2C, 0x07})));
  const qxtest::json state = control().MonitorState("USB001");
  EXPECT_EQ(state["heartbeat"], 1);
  EXPECT_EQ(state["heartbeat_rate"], 1000);
  EXPECT_EQ(state["save_method"], 2);
  EXPECT_EQ(state["wd_setup"], qxtest::json::array({1, 0, 44, 7}));

  BYTE reply[1024];
  DWORD length = 0;
  ASSERT_EQ(qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(LastRequest(), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'S'})));
  ASSERT_GE(length, 5u);
  EXPECT_EQ(reply[0], 'S');

  control().SetMonitor("USB001", {{"crc_error", true}});
  BOOL crc = 0;
  EXPECT_EQ(qxLMGetCRCError(&crc), QX_ERR_OK);
  EXPECT_EQ(crc, 1);
  EXPECT_EQ(qxLMClearCRCError(), QX_ERR_OK);
  EXPECT_EQ(qxLMGetCRCError(&crc), QX_ERR_OK);
  EXPECT_EQ(crc, 0);
}

TEST_F(MonitorEndToEnd, ScriptedRepliesAreJudgedPerShape) {
  BYTE reply[1024];
  DWORD length = 0;
  control().ScriptMonitor("USB001", {{"reply_code", 'O'}});
  EXPECT_EQ(qxLMGetPrinterName(reply, sizeof reply, &length), QX_ERR_NO_RESPONSE);
  EXPECT_EQ(qxLMResetPrinter(), QX_ERR_OK);
  control().ScriptMonitor("USB001", {{"reply_code", 'F'}});
  EXPECT_EQ(qxLMAbortDocument(), QX_ERR_FAILED);
  EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_OK);
  control().ScriptMonitor("USB001", {{"reply_code", 'J'}});
  EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(qxLMResetPrinter(), QX_ERR_OK);

  control().ScriptMonitor("USB001", {{"bad_checksum", true}});
  EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(qxLMResetPrinter(), QX_ERR_OK);
  EXPECT_EQ(Rfid("tag"), QX_ERR_BAD_REPLY);

  for (const qxtest::json& script : {qxtest::json{{"lead_byte", 2}}, qxtest::json{{"declared_length", 900}}}) {
    control().ScriptMonitor("USB001", script);
    std::memset(reply, 0xAA, sizeof reply);
    length = 55;
    EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_BAD_REPLY) << script;
    EXPECT_EQ(reply[0], 0xAA);
    EXPECT_EQ(length, 55u);
    EXPECT_EQ(qxLMResetPrinter(), QX_ERR_BAD_REPLY) << script;
    EXPECT_EQ(Rfid("tag"), QX_ERR_BAD_REPLY) << script;
  }

  control().ScriptMonitor("USB001", {{"reply_size", 1100}});
  EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_FAILED);
  control().ScriptMonitor("USB001", qxtest::json::object());
  EXPECT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_OK);
}

TEST_F(MonitorEndToEnd, SlowPrinterIsAStatusTimeOut) {
  control().SetDevice("USB001", {{"reply_delay_ms", 500}});
  qxLMSetStatusTimeOut(100);
  // The monitor answers after the status time-out; the library waits that
  // and the pipe time-out, made long so that the margin holds on the fast clock.
  qxLMSetPipeTimeOut(10000000);
  BYTE reply[1024];
  DWORD length = 0;
  EXPECT_EQ(qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length), QX_ERR_LM_TIMEOUT);
  BOOL flag = 7;
  EXPECT_EQ(qxLMGetOutOfPaperStatus(&flag), QX_ERR_LM_TIMEOUT);
  EXPECT_EQ(flag, 7);
}

TEST_F(MonitorEndToEnd, RfidEchoesAndSilence) {
  std::string reply;
  EXPECT_EQ(Rfid(Bytes({0x01, 0x02, 0x00, 0xFF}), &reply), QX_ERR_OK);
  EXPECT_EQ(reply, Bytes({0x01, 0x02, 0x00, 0xFF}));
  EXPECT_EQ(LastRequest(), Frame(0x12, Bytes({0x01, 0x02, 0x00, 0xFF})));
  // The monitor gives a silent device 2000 ms before it answers "no
  // response"; the library's read window is 2200 ms.
  control().SetDevice("USB001", {{"rfid", {{"mode", "silent"}}}});
  EXPECT_EQ(Rfid("x"), QX_ERR_NO_RESPONSE);
}

TEST_F(MonitorEndToEnd, ThreadsEachGetTheirOwnReply) {
  qxtest::PatientClock patient;  // RFID exchanges among the threads expect answers
  constexpr int kThreads = 5;
  constexpr int kRounds = 8;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong, this] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string mine = "rfid " + std::to_string(t) + "/" + std::to_string(i);
        BYTE reply[1024];
        DWORD length = 0;
        if (i % 2 == 0) {
          std::string echoed;
          if (Rfid(mine, &echoed) != QX_ERR_OK || echoed != mine) ++wrong;
        } else if (qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length) != QX_ERR_OK || reply[0] != 'S') {
          ++wrong;
        } else if (qxLMSetHeartBeat(t) != QX_ERR_OK) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  // Every request the monitor took was one whole frame.
  for (const std::string& request : control().MonitorRequests("USB001")) {
    EXPECT_EQ(request.size(), qxtest::PayloadOf(request).size() + 7);
    EXPECT_EQ(request, Frame(qxtest::CommandOf(request), qxtest::PayloadOf(request)));
  }
}

}  // namespace
