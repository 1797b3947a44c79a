// The shared debug-output and text routines.
#include <gtest/gtest.h>
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"

namespace {

using qxplat::debug_captured;

class DebugOutput : public ::testing::Test {
 protected:
  void SetUp() override { qxplat_debug_capture_start(); }
  void TearDown() override { qxplat_debug_capture_stop(); }
};

TEST_F(DebugOutput, LevelledLinesProduceNothing) {
  qx::LogLevel(1, "QXDLL - ATTACH version  = %s", "x");
  qx::LogLevel(2, "QXDLL - NO DEFAULT PRINTER");
  EXPECT_TRUE(debug_captured().empty());
}

TEST_F(DebugOutput, FlaggedLineFollowsTheFlag) {
  qx::DebugLineFlagged("hidden\r\n", 0);
  qx::DebugLineFlagged("\nshown", 1);
  qx::DebugLineFlagged("also shown\r\n", -7);
  EXPECT_EQ(debug_captured(), (std::vector<std::string>{"\nshown", "also shown\r\n"}));
}

TEST_F(DebugOutput, PlainLineIsWrittenExactlyOncePerCall) {
  qx::DebugLine("DLL - DLL - DLL - NO QX PRINTER - DLL - DLL - DLL\r\n");
  qx::DebugLine(nullptr);
  EXPECT_EQ(debug_captured(),
            (std::vector<std::string>{"DLL - DLL - DLL - NO QX PRINTER - DLL - DLL - DLL\r\n"}));
}

TEST_F(DebugOutput, FormattedLineIsCutAtItsBuffer) {
  const std::string long_text(300, 'a');
  qx::DebugLineFormat(128, "\nDLL - %s", long_text.c_str());
  qx::DebugLineFormat(1024, "\nDLL - Printer length = %d", -3);
  const auto lines = debug_captured();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 127u);
  EXPECT_EQ(lines[0].substr(0, 7), "\nDLL - ");
  EXPECT_EQ(lines[1], "\nDLL - Printer length = -3");
}

TEST_F(DebugOutput, SystemErrorLineCarriesTheSystemText) {
  qxplat::LiveCounts counts;
  SetLastError(ERROR_FILE_NOT_FOUND);
  qx::DebugSystemError();
  // A code with no system text writes nothing.
  SetLastError(0x2FFFFFFF);
  qx::DebugSystemError();
  EXPECT_EQ(debug_captured(),
            (std::vector<std::string>{"The system cannot find the file specified.\r\n"}));
  EXPECT_EQ(counts.Leaks(), "");
}

TEST_F(DebugOutput, SystemErrorLineWritesNothingWhenNoTextCanBeHad) {
  qxplat_fault_arm("alloc", 1, 0);
  SetLastError(ERROR_ACCESS_DENIED);
  qx::DebugSystemError();
  qxplat_fault_clear();
  EXPECT_TRUE(debug_captured().empty());
}

TEST(TextCopyRule, KeepsSizeLessTwoCharacters) {
  const std::string source(200, 'p');
  char buffer[130];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qx::CopyTextRule(buffer, 128, source.c_str()), 126u);
  EXPECT_EQ(std::string(buffer), std::string(126, 'p'));
  // Nothing past the 128 bytes it was given.
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(buffer[128], '#');
}

TEST(TextCopyRule, ShortSourcesAndTinyDestinations) {
  char buffer[8];
  EXPECT_EQ(qx::CopyTextRule(buffer, 8, "LPT1:"), 6u);
  EXPECT_STREQ(buffer, "LPT1:");
  EXPECT_EQ(qx::CopyTextRule(buffer, 8, nullptr), 6u);
  EXPECT_STREQ(buffer, "");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qx::CopyTextRule(buffer, 2, "abc"), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[1], '#');
  buffer[0] = '#';
  EXPECT_EQ(qx::CopyTextRule(buffer, 1, "abc"), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(qx::CopyTextRule(buffer, 0, "abc"), 0u);
  EXPECT_EQ(qx::CopyTextRule(nullptr, 8, "abc"), 0u);
}

TEST(BoundedCopy, CutsAndTerminates) {
  char buffer[6];
  EXPECT_EQ(qx::CopyText(buffer, sizeof buffer, "USB001"), 5u);
  EXPECT_STREQ(buffer, "USB00");
  EXPECT_EQ(qx::CopyText(buffer, sizeof buffer, "COM1"), 4u);
  EXPECT_STREQ(buffer, "COM1");
  EXPECT_EQ(qx::CopyText(buffer, 1, "COM1"), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(SubstringTest, IsCaseSensitiveAndNeverMatchesEmpty) {
  const char* port = "XUSB001";
  EXPECT_EQ(qx::FindSubstring(port, "USB"), port + 1);
  EXPECT_EQ(qx::FindSubstring("xusb001", "USB"), nullptr);
  EXPECT_EQ(qx::FindSubstring(port, ""), nullptr);
  EXPECT_EQ(qx::FindSubstring("", ""), nullptr);
  EXPECT_EQ(qx::FindSubstring("", "USB"), nullptr);
  EXPECT_EQ(qx::FindSubstring(nullptr, "USB"), nullptr);
  EXPECT_EQ(qx::FindSubstring(port, nullptr), nullptr);
  EXPECT_TRUE(qx::Contains("QX ZDA24 4.4", "ZDA24"));
  EXPECT_FALSE(qx::Contains("QX ZDA2", "ZDA24"));
}

}  // namespace
