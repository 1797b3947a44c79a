// Smoke tests of qxdll.dll on real Win32 (run under wine): the exports that
// need no printer, checked against what Windows itself reports.
#include <gtest/gtest.h>
#include <qxdll.h>

#include <cstring>
#include <string>

namespace {

TEST(WindowsSmoke, VersionText) {
  char text[32] = {};
  DWORD length = 0;
  EXPECT_FALSE(qxGetDLLVersion(text, 20, &length));
  EXPECT_EQ(length, 0u);
  ASSERT_TRUE(qxGetDLLVersion(text, 21, &length));
  EXPECT_STREQ(text, "2.0.0.9 (10/23/2018)");
  EXPECT_EQ(length, 20u);
}

TEST(WindowsSmoke, OsVersionMatchesWindows) {
  OSVERSIONINFOA expected = {};
  expected.dwOSVersionInfoSize = sizeof expected;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExA(&expected));
#pragma GCC diagnostic pop

  OSVERSIONINFOA record = {};
  LPCSTR text = nullptr;
  ASSERT_EQ(qxGetOSVersion(&record, &text), QX_ERR_OK);
  EXPECT_EQ(record.dwOSVersionInfoSize, 148u);
  EXPECT_EQ(record.dwMajorVersion, expected.dwMajorVersion);
  EXPECT_EQ(record.dwMinorVersion, expected.dwMinorVersion);
  EXPECT_EQ(record.dwBuildNumber, expected.dwBuildNumber);
  EXPECT_EQ(record.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "2.0.0.9 (10/23/2018)");
  // The load-time attach recorded the version already.
  EXPECT_EQ(qxIsNT(), 1);
}

TEST(WindowsSmoke, UpperCaseChangesLettersOnly) {
  char out[32];
  std::memset(out, 'x', sizeof out);
  ASSERT_EQ(qxMakeUpperCase(out, "qx ticket-42"), QX_ERR_OK);
  EXPECT_STREQ(out, "QX TICKET-42");
  EXPECT_EQ(qxMakeUpperCase(nullptr, ""), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxMakeUpperCase(nullptr, "a"), QX_ERR_BAD_DATA);
}

TEST(WindowsSmoke, CopyData) {
  const char source[] = "ticket";
  char destination[8] = {};
  EXPECT_EQ(qxCopyData(source, destination, sizeof source), destination);
  EXPECT_STREQ(destination, "ticket");
  EXPECT_EQ(qxCopyData(nullptr, destination, 4), destination);
  EXPECT_STREQ(destination, "ticket");
}

TEST(WindowsSmoke, AutomationStringKeepsBytes) {
  BSTR text = qxGetStringFromLPSTR("hello");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 5u);
  EXPECT_EQ(std::memcmp(text, "hello", 6), 0);
  SysFreeString(text);

  BSTR empty = qxGetStringFromLPSTR(nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringByteLen(empty), 0u);
  SysFreeString(empty);
}

TEST(WindowsSmoke, AddressForObjectKeepsLow32Bits) {
  EXPECT_EQ(qxGetAddressForObject(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(qxSetVB(7), 0);
}

// The decoders need no printer: the same bytes give the same record as on
// POSIX, through the real C run-time's number and text formatting.
TEST(WindowsSmoke, StatusReplyDecodes) {
  const char text[] = "S00\x81\x01" "03-05" "04\x01\xF4" "0515" "1.23A2019-01-01";
  QX_STATUS_RECORD record;
  ASSERT_EQ(qxParseStatus(reinterpret_cast<const BYTE*>(text), sizeof text - 1, &record), QX_ERR_OK);
  EXPECT_EQ(record.statusWord, 0x8101);
  EXPECT_STREQ(record.statusWordText, "0x8101");
  EXPECT_EQ(record.temperatureC, -5);
  EXPECT_EQ(record.temperatureF, 23);
  EXPECT_STREQ(record.formLengthText, "  5.00 in.");
  EXPECT_STREQ(record.firmwareVersion, "1.23A");
  EXPECT_STREQ(record.versionDetail, "2019-01-01");
  EXPECT_EQ(qxParseStatus(reinterpret_cast<const BYTE*>("X00"), 3, &record), QX_ERR_BAD_STATUS);
}

TEST(WindowsSmoke, FlashProgressParses) {
  QX_FLASH_PROGRESS progress;
  ASSERT_EQ(qxLMParseFlashProgress("2,100,45,P,Writing", &progress), QX_ERR_OK);
  EXPECT_EQ(progress.State, 2);
  EXPECT_EQ(progress.Max, 100);
  EXPECT_EQ(progress.Current, 45);
  EXPECT_EQ(progress.PassFail, 'P');
  EXPECT_STREQ(progress.Note, "Writing");
}

}  // namespace
