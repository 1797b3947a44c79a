// Printer commands over the pipe: their payloads on the wire, the texts that
// are too long for a request, the monitor refresh and the progress parser.
#include <string>
#include <vector>

#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::Bytes;
using qxtest::Frame;

class PipeCommands : public qxtest::LmWorld {
 protected:
  void SetUp() override {
    qxtest::LmWorld::SetUp();
    ServeEcho();
  }
  // The request frame the last command sent, and a check that it was one.
  std::string Sent(int command) {
    const std::string request = served().LastRequest();
    EXPECT_EQ(qxtest::CommandOf(request), command);
    served().Clear();
    return qxtest::PayloadOf(request);
  }
};

TEST_F(PipeCommands, PayloadLayouts) {
  EXPECT_EQ(qxLMAbortDocument(), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0B), "");
  EXPECT_EQ(qxLMClearCRCError(), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0F), "");
  EXPECT_EQ(qxLMResetPrinter(), QX_ERR_OK);
  EXPECT_EQ(Sent(0x10), "");
  EXPECT_EQ(qxLMSetHeartBeat(257), QX_ERR_OK);
  EXPECT_EQ(Sent(0x05), Bytes({0x01}));
  EXPECT_EQ(qxLMSetHeartBeatRate(1000), QX_ERR_OK);
  EXPECT_EQ(Sent(0x06), Bytes({0xE8, 0x03, 0x00, 0x00}));
  EXPECT_EQ(qxLMSetHeartBeatRate(-2), QX_ERR_OK);
  EXPECT_EQ(Sent(0x06), Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(qxLMSetSpoolerSaveMethod(0x1203), QX_ERR_OK);
  EXPECT_EQ(Sent(0x07), Bytes({0x03}));
  EXPECT_EQ(qxLMWDSetup(5, 0, 300, 7), QX_ERR_OK);
  EXPECT_EQ(Sent(0x11), Bytes({0x01, 0x00, 0x2C, 0x07}));

  char text[64];
  LONG length = -1;
  EXPECT_EQ(qxLMSetRegistryKey("Key", 1, text, sizeof text, &length), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0C), Bytes({0x01, 0x00, 0x00, 0x00, 'K', 'e', 'y', 0x00}));
  EXPECT_EQ(length, 8);  // the echoed payload
  EXPECT_EQ(qxLMProgramFlash("C:\\FW\\ZDA38.BIN", 0, text, sizeof text), QX_ERR_OK);
  EXPECT_EQ(Sent(0x09), "FC:\\FW\\ZDA38.BIN");
  EXPECT_EQ(qxLMProgramFlash("A.BIN", 2, text, sizeof text), QX_ERR_OK);
  EXPECT_EQ(Sent(0x09), "TA.BIN");
  EXPECT_STREQ(text, "TA.BIN");
  EXPECT_EQ(qxLMGetProgress("status?", text, sizeof text, &length), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0A), "status?");
  EXPECT_EQ(length, 7);
}

TEST_F(PipeCommands, TextsTooLongOrMissingAreRefusedUnsent) {
  char text[32] = "old";
  LONG length = 5;
  const std::string key508(508, 'k');
  EXPECT_EQ(qxLMSetRegistryKey(key508.c_str(), 1, text, sizeof text, &length), QX_ERR_BAD_LENGTH);
  EXPECT_STREQ(text, "");  // emptied first
  EXPECT_EQ(length, 0);
  const std::string name1017(1017, 'f');
  EXPECT_EQ(qxLMProgramFlash(name1017.c_str(), 1, text, sizeof text), QX_ERR_BAD_LENGTH);
  const std::string request128(128, 'r');
  EXPECT_EQ(qxLMGetProgress(request128.c_str(), text, sizeof text, &length), QX_ERR_BAD_LENGTH);

  EXPECT_EQ(qxLMSetRegistryKey(nullptr, 1, text, sizeof text, &length), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMSetRegistryKey("k", 1, nullptr, sizeof text, &length), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMSetRegistryKey("k", 1, text, sizeof text, nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMProgramFlash(nullptr, 1, text, sizeof text), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMProgramFlash("A.BIN", 1, nullptr, sizeof text), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMGetProgress(nullptr, text, sizeof text, &length), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMGetProgress("p", text, sizeof text, nullptr), QX_ERR_NULL_ARG);
  EXPECT_TRUE(served().Requests().empty());

  // The longest texts that fit are sent whole.
  const std::string key507(507, 'k');
  EXPECT_EQ(qxLMSetRegistryKey(key507.c_str(), 1, text, sizeof text, &length), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0C).size(), 512u);
  const std::string name1016(1016, 'f');
  EXPECT_EQ(qxLMProgramFlash(name1016.c_str(), 1, text, sizeof text), QX_ERR_OK);
  EXPECT_EQ(Sent(0x09).size(), 1017u);
  const std::string request127(127, 'r');
  EXPECT_EQ(qxLMGetProgress(request127.c_str(), text, sizeof text, &length), QX_ERR_OK);
  EXPECT_EQ(Sent(0x0A).size(), 127u);
}

TEST_F(PipeCommands, ReplyTextAndFailureWords) {
  ServeReply(Frame('F', "flash refused"));
  char text[64];
  EXPECT_EQ(qxLMProgramFlash("A.BIN", 1, text, sizeof text), QX_ERR_FAILED);
  EXPECT_STREQ(text, "flash refused");
  ServeReply(Frame('T', "later"));
  EXPECT_EQ(qxLMProgramFlash("A.BIN", 1, text, sizeof text), QX_ERR_OK);
  EXPECT_STREQ(text, "later");
}

TEST_F(PipeCommands, RefreshRewritesTheDeviceModeAndOpensNoPipe) {
  qxplat_debug_capture_clear();
  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMRefresh(), QX_ERR_OK);
  const auto lines = qxplat::debug_captured();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "DLL-DLL **************** Language Monitor refresh\r\n");
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);
  std::strcpy(g_state.printerName, "No Such Printer");
  EXPECT_EQ(qxLMRefresh(), QX_ERR_NO_PRINTER);
}

// The progress parser writes these lines around its record.
std::vector<std::string> ParseLines(const std::string& text, QX_FLASH_PROGRESS* progress) {
  qxplat_debug_capture_clear();
  EXPECT_EQ(qxLMParseFlashProgress(text.c_str(), progress), QX_ERR_OK);
  return qxplat::debug_captured();
}

TEST(FlashProgress, FieldsAndDebugLines) {
  qxplat_debug_capture_start();
  const std::string rule = std::string(59, 'p') + "\r\n";
  QX_FLASH_PROGRESS p;
  std::vector<std::string> lines = ParseLines("2,100,45,P,Writing", &p);
  EXPECT_EQ(p.State, 2);
  EXPECT_EQ(p.Max, 100);
  EXPECT_EQ(p.Current, 45);
  EXPECT_EQ(p.PassFail, 'P');
  EXPECT_STREQ(p.Note, "Writing");
  const std::vector<std::string> expected = {
      rule,
      "PARSE PROGRESS PARSE PROGRESS PARSE PROGRESS PARSE PROGRESS\r\n",
      "2,100,45,P,Writing",
      "\r\n",
      "State = 2, Max = 100, Current = 45, PassFail = 50, Note = Writing\r\n",
      rule,
  };
  EXPECT_EQ(lines, expected);

  // An empty field takes no position.
  lines = ParseLines("3,,7", &p);
  EXPECT_EQ(p.State, 3);
  EXPECT_EQ(p.Max, 7);
  EXPECT_EQ(p.Current, 0);
  EXPECT_EQ(p.PassFail, 'F');
  EXPECT_STREQ(p.Note, " ");
  EXPECT_EQ(lines[4], "State = 3, Max = 7, Current = 0, PassFail = 46, Note =  \r\n");

  // The note ends at the next comma; fields beyond the fifth are ignored.
  ParseLines(",,1,2,3,Y,half, done,extra", &p);
  EXPECT_EQ(p.State, 1);
  EXPECT_EQ(p.PassFail, 'Y');
  EXPECT_STREQ(p.Note, "half");

  // A PassFail of 0x80 and above is a negative character: eight hex digits.
  lines = ParseLines("1,2,3,\xE9,x", &p);
  EXPECT_EQ(lines[4], "State = 1, Max = 2, Current = 3, PassFail = ffffffe9, Note = x\r\n");

  // Leading parts of numbers; saturation beyond 32 bits.
  ParseLines(" -12abc,x9,99999999999,P", &p);
  EXPECT_EQ(p.State, -12);
  EXPECT_EQ(p.Max, 0);
  EXPECT_EQ(p.Current, 2147483647);
  ParseLines("-99999999999999999999999", &p);
  EXPECT_EQ(p.State, -2147483647 - 1);

  ParseLines("", &p);
  EXPECT_EQ(p.State, 0);
  EXPECT_EQ(p.PassFail, 'F');

  // A text longer than the 1023 characters worked on is cut, never overrun.
  const std::string longNote = "1,2,3,P," + std::string(3000, 'n');
  ParseLines(longNote, &p);
  EXPECT_EQ(std::string(p.Note).size(), 1023u - 8u);

  EXPECT_EQ(qxLMParseFlashProgress(nullptr, &p), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxLMParseFlashProgress("1", nullptr), QX_ERR_NULL_ARG);
  qxplat_debug_capture_stop();
}

}  // namespace
