// The small exported utilities, called as a host calls them through
// libqxdll.so, whose load-time attach has already run.
#include <gtest/gtest.h>
#include <qxdll.h>
#include <qxplatform.h>

#include <cstdint>
#include <cstring>
#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

TEST(DllVersion, NeedsRoomForTheTextAndItsZero) {
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  DWORD length = 99;
  EXPECT_EQ(qxGetDLLVersion(buffer, 20, &length), 0);
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(qxGetDLLVersion(nullptr, 64, &length), 0);

  EXPECT_EQ(qxGetDLLVersion(buffer, 21, &length), 1);
  EXPECT_EQ(length, 20u);
  EXPECT_STREQ(buffer, "2.0.0.9 (10/23/2018)");
  EXPECT_EQ(buffer[21], '#');
  EXPECT_EQ(qxGetDLLVersion(buffer, sizeof buffer, nullptr), 1);
}

TEST(OsVersionExport, LoadRecordedAnNtSystem) {
  EXPECT_EQ(qxIsNT(), 1);
  OSVERSIONINFOA record = {};
  LPCSTR text = nullptr;
  ASSERT_EQ(qxGetOSVersion(&record, &text), QX_ERR_OK);
  EXPECT_EQ(record.dwOSVersionInfoSize, 148u);
  EXPECT_EQ(record.dwMajorVersion, 10u);
  EXPECT_EQ(record.dwMinorVersion, 0u);
  EXPECT_EQ(record.dwBuildNumber, 19045u);
  EXPECT_STREQ(text, "2.0.0.9 (10/23/2018)");
  EXPECT_EQ(qxGetOSVersion(nullptr, nullptr), QX_ERR_OK);
}

TEST(UpperCase, TurnsOnlySmallLettersIntoCapitals) {
  char out[32];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(qxMakeUpperCase(out, "qx zda24 4.4-x"), QX_ERR_OK);
  EXPECT_STREQ(out, "QX ZDA24 4.4-X");
  EXPECT_EQ(out[15], '#');  // the source's length plus one, no more

  // Bytes outside a to z, other code pages' letters among them, stay.
  const char latin[] = "caf\xe9 [\x7f]";
  ASSERT_EQ(qxMakeUpperCase(out, latin), QX_ERR_OK);
  EXPECT_STREQ(out, "CAF\xe9 [\x7f]");
}

TEST(UpperCase, RefusesEmptySourceBeforeMissingDestination) {
  char out[4] = "abc";
  EXPECT_EQ(qxMakeUpperCase(nullptr, ""), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxMakeUpperCase(nullptr, nullptr), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxMakeUpperCase(out, ""), QX_ERR_BAD_LENGTH);
  EXPECT_EQ(qxMakeUpperCase(nullptr, "x"), QX_ERR_BAD_DATA);
  EXPECT_STREQ(out, "abc");
}

TEST(AutomationString, CarriesTheTextsBytesUnwidened) {
  qxplat::LiveCounts counts;
  BSTR text = qxGetStringFromLPSTR("QX 01");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 5u);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  uint32_t prefix;
  std::memcpy(&prefix, bytes - 4, sizeof prefix);
  EXPECT_EQ(prefix, 5u);
  EXPECT_EQ(std::memcmp(bytes, "QX 01\0\0", 7), 0);
  SysFreeString(text);

  BSTR empty = qxGetStringFromLPSTR(nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringByteLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
  EXPECT_EQ(counts.Leaks(), "");
}

TEST(AutomationString, FailedAllocationGivesNull) {
  qxplat_fault_arm("alloc", 1, 0);
  EXPECT_EQ(qxGetStringFromLPSTR("abc"), nullptr);
  qxplat_fault_clear();
}

TEST(CopyData, CopiesOnlyBetweenTwoAddresses) {
  const char source[] = "ticket";
  char destination[8] = "-------";
  EXPECT_EQ(qxCopyData(nullptr, destination, 4), destination);
  EXPECT_STREQ(destination, "-------");
  EXPECT_EQ(qxCopyData(source, nullptr, 4), nullptr);
  EXPECT_EQ(qxCopyData(source, destination, 0), destination);
  EXPECT_STREQ(destination, "-------");
  EXPECT_EQ(qxCopyData(source, destination, 3), destination);
  EXPECT_STREQ(destination, "tic----");
}

TEST(AddressForObject, KeepsTheLow32Bits) {
  EXPECT_EQ(qxGetAddressForObject(0), 0u);
  EXPECT_EQ(qxGetAddressForObject(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(qxGetAddressForObject(0x123456789ull), 0x23456789u);
  int variable = 0;
  const auto address = reinterpret_cast<ULONG_PTR>(&variable);
  EXPECT_EQ(qxGetAddressForObject(address), static_cast<DWORD>(address));
}

TEST(ScriptingHost, SetVbReturnsZero) {
  EXPECT_EQ(qxSetVB(1), 0);
  EXPECT_EQ(qxSetVB(-5), 0);
}

TEST(EntryPointExport, DetachAndAttachAgainThroughTheLibrary) {
  const int64_t kernel = qxplat_live_count(QXPLAT_KIND_KERNEL);
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), kernel - 2);
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), kernel);
  EXPECT_EQ(qxIsNT(), 1);
}

}  // namespace
