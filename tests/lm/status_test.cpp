// Status and information over the pipe: the inquiries on the wire, the
// status word's conditions, the printer switch of qxLMPtrGetStatus, and what
// qxsimd's monitor reports.
#include <string>
#include <vector>

#include "lm/pipe.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::Bytes;
using qxtest::Frame;

class PipeStatus : public qxtest::LmWorld {
 protected:
  // The request frame qxLMGetStatus(index) sends.
  std::string RequestFor(LONG index) {
    served().Clear();
    BYTE reply[1024];
    DWORD length = 0;
    EXPECT_EQ(qxLMGetStatus(index, reply, sizeof reply, &length), QX_ERR_OK);
    return served().LastRequest();
  }
  // Serves an ESC "IS" reply with the two status-word bytes.
  void ServeStatusWord(int high, int low) { ServeReply(Frame(0x01, Bytes({'S', '0', '0', high, low}))); }

  struct Flags {
    BOOL outOfPaper, headLever, jam, manDeselect, ok, ok2, lowPaper, ticketNotTaken;
  };
  Flags ReadFlags() {
    Flags f{9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(qxLMGetOutOfPaperStatus(&f.outOfPaper), QX_ERR_OK);
    EXPECT_EQ(qxLMGetHeadLeverOpenStatus(&f.headLever), QX_ERR_OK);
    EXPECT_EQ(qxLMGetJamStatus(&f.jam), QX_ERR_OK);
    EXPECT_EQ(qxLMGetManDeselectStatus(&f.manDeselect), QX_ERR_OK);
    EXPECT_EQ(qxLMGetPrinterOKStatus(&f.ok), QX_ERR_OK);
    EXPECT_EQ(qxLMGetPrinterOKStatus2(&f.ok2), QX_ERR_OK);
    EXPECT_EQ(qxLMGetLowPaperStatus(&f.lowPaper), QX_ERR_OK);
    EXPECT_EQ(qxLMGetTicketNotTakenStatus(&f.ticketNotTaken), QX_ERR_OK);
    return f;
  }
};

TEST_F(PipeStatus, RequestIndexChoosesTheInquiry) {
  ServeEcho();
  const std::string is = Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'S'}));
  EXPECT_EQ(RequestFor(0), is);
  EXPECT_EQ(RequestFor(-1), is);
  EXPECT_EQ(RequestFor(8), is);
  EXPECT_EQ(RequestFor(1000), is);
  EXPECT_EQ(RequestFor(1), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'N'})));
  EXPECT_EQ(RequestFor(2), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'E'})));
  EXPECT_EQ(RequestFor(3), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'A', 0x02})));
  EXPECT_EQ(RequestFor(4), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'A', 0x03})));
  EXPECT_EQ(RequestFor(5), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'A', 0x04})));
  EXPECT_EQ(RequestFor(6), Frame(0x01, Bytes({0x4E, 0x20, 0x1B, 'I', 'C'})));
  EXPECT_EQ(RequestFor(7), Bytes({0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}));
}

TEST_F(PipeStatus, StatusTimeOutTravelsAsItsLow16BitsBigEndian) {
  auto& served = ServeEcho();
  BYTE reply[1024];
  DWORD length = 0;
  qxLMSetStatusTimeOut(256);
  EXPECT_EQ(qxtest::PayloadOf(RequestFor(0)), Bytes({0x01, 0x00, 0x1B, 'I', 'S'}));
  ASSERT_EQ(qxLMGetAddStatus("\x1bIA\x05", reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(qxtest::PayloadOf(served.LastRequest()), Bytes({0x01, 0x00, 0x1B, 'I', 'A', 0x05}));
  qxLMSetStatusTimeOut(0x12345);
  EXPECT_EQ(qxtest::PayloadOf(RequestFor(6)), Bytes({0x23, 0x45, 0x1B, 'I', 'C'}));
  ASSERT_EQ(qxLMGetAddStatus("", reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(qxtest::PayloadOf(served.LastRequest()), Bytes({0x23, 0x45}));
}

TEST_F(PipeStatus, InquiryTextMustFitOneFrame) {
  auto& served = ServeEcho();
  BYTE reply[1024];
  DWORD length = 0;
  const std::string longest(1015, 'i');
  EXPECT_EQ(qxLMGetAddStatus(longest.c_str(), reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(served.LastRequest().size(), 1024u);
  served.Clear();
  const std::string tooLong(1016, 'i');
  EXPECT_EQ(qxLMGetAddStatus(tooLong.c_str(), reply, sizeof reply, &length), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxLMGetAddStatus(nullptr, reply, sizeof reply, &length), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMGetAddStatus("x", nullptr, sizeof reply, &length), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMGetStatus(0, reply, sizeof reply, nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMGetPrinterName(nullptr, 10, &length), QX_ERR_NULL_ARG);
  for (auto getter : {qxLMGetOutOfPaperStatus, qxLMGetJamStatus, qxLMGetPrintInProgress, qxLMGetCRCError}) {
    EXPECT_EQ(getter(nullptr), QX_ERR_NULL_ARG);
  }
  EXPECT_TRUE(served.Requests().empty());
}

TEST_F(PipeStatus, GettersTestTheStatusWordBits) {
  ServeStatusWord(0x81, 0x00);
  Flags f = ReadFlags();
  EXPECT_EQ(f.outOfPaper, 1);
  EXPECT_EQ(f.ok, 0);
  EXPECT_EQ(f.ok2, 0);
  EXPECT_EQ(f.lowPaper, 0);
  EXPECT_EQ(f.jam, 0);

  ServeStatusWord(0x00, 0x01);
  f = ReadFlags();
  EXPECT_EQ(f.ok, 0);
  EXPECT_EQ(f.ok2, 1);
  EXPECT_EQ(f.lowPaper, 1);
  EXPECT_EQ(f.outOfPaper, 0);

  ServeStatusWord(0x08, 0x00);
  EXPECT_EQ(ReadFlags().jam, 1);

  ServeStatusWord(0x22, 0x08);
  f = ReadFlags();
  EXPECT_EQ(f.headLever, 1);
  EXPECT_EQ(f.manDeselect, 1);
  EXPECT_EQ(f.ticketNotTaken, 1);
  EXPECT_EQ(f.ok, 1);
  EXPECT_EQ(f.jam, 0);
}

// A reply that succeeds but is too short to hold the status word tells
// nothing of the printer: every getter fails and leaves its flag alone,
// rather than reading missing bytes as "in order".
TEST_F(PipeStatus, ShortRepliesFailClosed) {
  for (const std::string& reply : {Frame(0x01, ""), Frame(0x01, "S"), Frame(0x01, "S0"),
                                   Frame(0x01, Bytes({'S', '0', '0', 0x00})), Frame('F', "")}) {
    ServeReply(reply);
    for (auto getter : {qxLMGetOutOfPaperStatus, qxLMGetHeadLeverOpenStatus, qxLMGetJamStatus,
                        qxLMGetManDeselectStatus, qxLMGetPrinterOKStatus, qxLMGetPrinterOKStatus2,
                        qxLMGetLowPaperStatus, qxLMGetTicketNotTakenStatus}) {
      BOOL flag = 7;
      EXPECT_EQ(getter(&flag), QX_ERR_BAD_REPLY);
      EXPECT_EQ(flag, 7);
    }
  }
  // Five bytes are enough.
  ServeReply(Frame(0x01, Bytes({'S', '0', '0', 0x00, 0x00})));
  BOOL ok = 7;
  EXPECT_EQ(qxLMGetPrinterOKStatus(&ok), QX_ERR_OK);
  EXPECT_EQ(ok, 1);
}

TEST_F(PipeStatus, FailedQueryLeavesTheFlagsAlone) {
  ServeReply(Frame('O', Bytes({'S', '0', '0', 0xFF, 0xFF})));
  for (auto getter : {qxLMGetOutOfPaperStatus, qxLMGetHeadLeverOpenStatus, qxLMGetJamStatus,
                      qxLMGetManDeselectStatus, qxLMGetPrinterOKStatus, qxLMGetPrinterOKStatus2,
                      qxLMGetLowPaperStatus, qxLMGetTicketNotTakenStatus, qxLMGetPrintInProgress}) {
    BOOL flag = 7;
    EXPECT_EQ(getter(&flag), QX_ERR_NO_RESPONSE);
    EXPECT_EQ(flag, 7);
  }
}

TEST_F(PipeStatus, PrintInProgressAndCrcErrorFlags) {
  struct Case {
    std::string reply;
    QXRESULT result;
    BOOL inProgress;  // 7: untouched
    BOOL crc;
  };
  const Case cases[] = {
      {Frame(0x04, "D"), QX_ERR_OK, 1, 0},
      {Frame(0x04, "d"), QX_ERR_OK, 0, 0},  // case-sensitive
      {Frame(0x04, ""), QX_ERR_OK, 0, 0},
      {Frame(0x0E, "1"), QX_ERR_OK, 0, 1},
      {Frame('B', "1"), QX_ERR_FAILED, 7, 1},  // the CRC flag comes from the failed reply too
      {Frame('T', "D"), QX_ERR_LM_TIMEOUT, 7, 0},
  };
  for (const Case& c : cases) {
    ServeReply(c.reply);
    BOOL inProgress = 7;
    BOOL crc = 7;
    EXPECT_EQ(qxLMGetPrintInProgress(&inProgress), c.result);
    EXPECT_EQ(inProgress, c.inProgress);
    EXPECT_EQ(qxLMGetCRCError(&crc), c.result);
    EXPECT_EQ(crc, c.crc);
  }
  // No reply read: the CRC flag is written all the same.
  qxLMSetPipeName(qxtest::kNowhere);
  g_state.printerName[0] = '\0';
  BOOL crc = 7;
  EXPECT_EQ(qxLMGetCRCError(&crc), QX_ERR_NO_PIPE);
  EXPECT_EQ(crc, 0);
}

TEST_F(PipeStatus, MonitorReportsItsPrinterPortAndVersion) {
  BYTE reply[1024];
  DWORD length = 0;
  ASSERT_EQ(qxLMGetPrinterName(reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), length), std::string(qxtest::kTicket) + '\0');
  ASSERT_EQ(qxLMGetPortName(reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), length), std::string("USB001") + '\0');
  ASSERT_EQ(qxLMGetLMVersion(reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), length), std::string("QXLM 2.0.0.4") + '\0');
  ASSERT_EQ(qxLMGetStatus(QX_REQ_LM_STATUS, reply, sizeof reply, &length), QX_ERR_OK);
  ASSERT_GE(length, 1u);
  EXPECT_EQ(reply[0], 'S');
}

TEST_F(PipeStatus, PrinterEmulatorStatusWordReachesTheGetters) {
  control().SetDevice("USB001", {{"status_word", 0x0108}});
  BOOL flag = 7;
  ASSERT_EQ(qxLMGetOutOfPaperStatus(&flag), QX_ERR_OK);
  EXPECT_EQ(flag, 1);
  ASSERT_EQ(qxLMGetTicketNotTakenStatus(&flag), QX_ERR_OK);
  EXPECT_EQ(flag, 1);
  ASSERT_EQ(qxLMGetJamStatus(&flag), QX_ERR_OK);
  EXPECT_EQ(flag, 0);
}

TEST_F(PipeStatus, PtrGetStatusSwitchesAndPutsTheNamesBack) {
  std::strcpy(g_state.driverName, "marker");
  const std::string printer = g_state.printerName;
  const std::string port = g_state.portName;
  const std::string pipe = g_state.pipeName;
  BYTE reply[1024];
  DWORD length = 0;

  // Its own name: no switch, the driver name stays.
  EXPECT_EQ(qxLMPtrGetStatus(printer.c_str(), QX_REQ_LM_STATUS, reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_STREQ(g_state.driverName, "marker");

  // Another printer, with no monitor on its port: switched, then names put
  // back; the driver and the monitor flag keep the other printer's values.
  EXPECT_EQ(qxLMPtrGetStatus(qxtest::kBoarding, 0, reply, sizeof reply, &length), QX_ERR_NO_PIPE);
  EXPECT_EQ(g_state.printerName, printer);
  EXPECT_EQ(g_state.portName, port);
  EXPECT_EQ(g_state.pipeName, pipe);
  EXPECT_STRNE(g_state.driverName, "marker");
  EXPECT_EQ(g_state.lmAvailable, 0);

  // A printer the spooler does not know cannot be made current.
  std::strcpy(g_state.driverName, "marker");
  EXPECT_EQ(qxLMPtrGetStatus("No Such Printer", 0, reply, sizeof reply, &length), QX_ERR_NO_PIPE);
  EXPECT_STREQ(g_state.driverName, "marker");
  EXPECT_EQ(g_state.printerName, printer);

  // The current printer again: no switch, so the flag stays as the last switch left it.
  EXPECT_EQ(qxLMPtrGetStatus(qxtest::kTicket, QX_REQ_LM_STATUS, reply, sizeof reply, &length), QX_ERR_OK);
  EXPECT_EQ(g_state.lmAvailable, 0);

  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMPtrGetStatus(nullptr, 0, reply, sizeof reply, &length), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxLMPtrGetStatus(qxtest::kTicket, 0, nullptr, sizeof reply, &length), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxLMPtrGetStatus(qxtest::kTicket, 0, reply, 0, &length), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxLMPtrGetStatus(qxtest::kTicket, 0, reply, sizeof reply, nullptr), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);
}

}  // namespace
