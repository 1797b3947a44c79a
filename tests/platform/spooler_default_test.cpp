// spooler_default_test.cpp - the system default printer as a host finds it:
// GetDefaultPrinterA reached only through LoadLibraryA("winspool.drv") and
// GetProcAddress, with its buffer rules; PageSetupDlgA with PSD_RETURNDEFAULT
// filling both movable handles; and the world's OS version and code page
// behind GetVersionExA and GetACP.
#include <dlfcn.h>

#include <qxplatform.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;

using GetDefaultPrinterFn = BOOL(WINAPI*)(LPSTR, LPDWORD);

class DefaultPrinter : public qxsim::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    module_ = LoadLibraryA("winspool.drv");
    ASSERT_NE(module_, nullptr);
    get_default_ = reinterpret_cast<GetDefaultPrinterFn>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module_, "GetDefaultPrinterA")));
    ASSERT_NE(get_default_, nullptr);
  }
  void TearDown() override {
    FreeLibrary(module_);
    qxplat_fault_clear();
    SimFixture::TearDown();
  }
  HMODULE module_ = nullptr;
  GetDefaultPrinterFn get_default_ = nullptr;
};

TEST_F(DefaultPrinter, IsNotAPlainExportOfThePlatformLayer) {
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "GetDefaultPrinterA"), nullptr);
}

TEST_F(DefaultPrinter, BufferRulesCountCharactersWithTheZero) {
  const DWORD length = static_cast<DWORD>(std::strlen(kTicket));
  DWORD size = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(get_default_(nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, length + 1);

  char name[128];
  std::memset(name, 'x', sizeof name);
  size = length;  // one short: no room for the zero
  SetLastError(kUntouched);
  EXPECT_FALSE(get_default_(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, length + 1);
  EXPECT_EQ(name[0], 'x') << "nothing written";

  size = sizeof name;
  SetLastError(kUntouched);
  EXPECT_TRUE(get_default_(name, &size));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_STREQ(name, kTicket);
  EXPECT_EQ(size, length + 1);

  SetLastError(kUntouched);
  EXPECT_FALSE(get_default_(name, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(DefaultPrinter, NoDefaultIsFileNotFound) {
  control().SetDefaultPrinter(std::nullopt);
  char name[128];
  DWORD size = sizeof name;
  SetLastError(kUntouched);
  EXPECT_FALSE(get_default_(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  control().SetDefaultPrinter(std::string(kOffice));
  size = sizeof name;
  EXPECT_TRUE(get_default_(name, &size));
  EXPECT_STREQ(name, kOffice);
}

TEST_F(DefaultPrinter, NoSpoolerMeansTheServerIsUnavailable) {
  StopWorld();
  char name[128];
  DWORD size = sizeof name;
  SetLastError(kUntouched);
  EXPECT_FALSE(get_default_(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

// ---- PageSetupDlgA --------------------------------------------------------------

PAGESETUPDLGA DefaultRecord() {
  PAGESETUPDLGA psd;
  std::memset(&psd, 0, sizeof psd);
  psd.lStructSize = sizeof psd;
  psd.Flags = PSD_RETURNDEFAULT;
  return psd;
}

TEST_F(DefaultPrinter, PageSetupFillsBothMovableHandles) {
  qxplat::LiveCounts counts;
  PAGESETUPDLGA psd = DefaultRecord();
  ASSERT_TRUE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  ASSERT_NE(psd.hDevMode, nullptr);
  ASSERT_NE(psd.hDevNames, nullptr);
  EXPECT_EQ(GlobalFlags(psd.hDevMode) & GMEM_LOCKCOUNT, 0u);

  auto* names = static_cast<const DEVNAMES*>(GlobalLock(psd.hDevNames));
  ASSERT_NE(names, nullptr);
  EXPECT_NE(GlobalLock(psd.hDevNames), psd.hDevNames) << "a movable block: the handle is not the address";
  GlobalUnlock(psd.hDevNames);
  const char* base = reinterpret_cast<const char*>(names);
  EXPECT_STREQ(base + names->wDeviceOffset, kTicket);
  EXPECT_STREQ(base + names->wOutputOffset, "USB001");
  EXPECT_STREQ(base + names->wDriverOffset, "winspool");
  EXPECT_EQ(names->wDefault, DN_DEFAULTPRN);
  EXPECT_LE(static_cast<SIZE_T>(names->wOutputOffset) + 7, GlobalSize(psd.hDevNames));
  GlobalUnlock(psd.hDevNames);

  auto* dm = static_cast<const DEVMODEA*>(GlobalLock(psd.hDevMode));
  ASSERT_NE(dm, nullptr);
  EXPECT_EQ(GlobalSize(psd.hDevMode), static_cast<SIZE_T>(dm->dmSize + dm->dmDriverExtra));
  EXPECT_STREQ(reinterpret_cast<const char*>(dm->dmDeviceName), kTicket);
  EXPECT_EQ(dm->dmPaperSize, 258);
  EXPECT_EQ(dm->dmPaperWidth, 826);
  EXPECT_EQ(dm->dmPaperLength, 1397);
  GlobalUnlock(psd.hDevMode);
  // 82.6 x 139.7 mm in thousandths of an inch.
  EXPECT_EQ(psd.ptPaperSize.x, 3252);
  EXPECT_EQ(psd.ptPaperSize.y, 5500);

  EXPECT_EQ(GlobalFree(psd.hDevMode), nullptr);
  EXPECT_EQ(GlobalFree(psd.hDevNames), nullptr);
  EXPECT_EQ(counts.Leaks(), "");
}

TEST_F(DefaultPrinter, PageSetupSizeInHundredthsOfAMillimetreWhenAsked) {
  control().SetDefaultPrinter(std::string(kOffice));
  PAGESETUPDLGA psd = DefaultRecord();
  psd.Flags |= PSD_INHUNDREDTHSOFMILLIMETERS;
  ASSERT_TRUE(PageSetupDlgA(&psd));
  EXPECT_EQ(psd.ptPaperSize.x, 21590) << "Letter, from its paper code";
  EXPECT_EQ(psd.ptPaperSize.y, 27940);
  GlobalFree(psd.hDevMode);
  GlobalFree(psd.hDevNames);
}

TEST_F(DefaultPrinter, PageSetupErrors) {
  PAGESETUPDLGA psd = DefaultRecord();
  psd.lStructSize = 120;
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));

  psd = DefaultRecord();
  psd.Flags = 0;  // a dialog with nobody to answer it: cancelled
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_EQ(psd.hDevMode, nullptr);

  psd = DefaultRecord();
  psd.hDevNames = GlobalAlloc(GMEM_MOVEABLE, 8);
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_RETDEFFAILURE));
  GlobalFree(psd.hDevNames);

  control().SetDefaultPrinter(std::nullopt);
  psd = DefaultRecord();
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_NODEFAULTPRN));
  EXPECT_EQ(psd.hDevMode, nullptr);
  EXPECT_EQ(psd.hDevNames, nullptr);

  control().SetDefaultPrinter(std::string(kTicket));
  control().SetRefuseOpen(kTicket, true);
  psd = DefaultRecord();
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_PRINTERNOTFOUND));

  EXPECT_FALSE(PageSetupDlgA(nullptr));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
}

TEST_F(DefaultPrinter, PageSetupReleasesEverythingWhenAnAllocationFails) {
  qxplat::LiveCounts counts;
  for (unsigned nth = 1; nth <= 2; ++nth) {
    ASSERT_EQ(qxplat_fault_arm("alloc", nth, 0), 0);
    PAGESETUPDLGA psd = DefaultRecord();
    EXPECT_FALSE(PageSetupDlgA(&psd)) << nth;
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_MEMALLOCFAILURE)) << nth;
    EXPECT_EQ(psd.hDevMode, nullptr);
    EXPECT_EQ(psd.hDevNames, nullptr);
    qxplat_fault_clear();
  }
  EXPECT_EQ(counts.Leaks(), "");
}

TEST_F(DefaultPrinter, PageSetupWithoutASpoolerFindsNoDefault) {
  StopWorld();
  PAGESETUPDLGA psd = DefaultRecord();
  EXPECT_FALSE(PageSetupDlgA(&psd));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(PDERR_NODEFAULTPRN));
}

// ---- The world's system record ---------------------------------------------------

class OldSystem : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override {
    return R"({"os": {"major": 5, "minor": 1, "build": 2600, "platform_id": 2, "csd": "Service Pack 3"},
               "code_page": 932})";
  }
  void TearDown() override {
    qxplat_reset_os_version();
    qxplat_reset_code_page();
    SimFixture::TearDown();
  }
};

TEST_F(OldSystem, VersionAndCodePageComeFromTheWorld) {
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(v.dwMinorVersion, 1u);
  EXPECT_EQ(v.dwBuildNumber, 2600u);
  EXPECT_STREQ(v.szCSDVersion, "Service Pack 3");
  EXPECT_EQ(GetACP(), 932u);
}

TEST_F(OldSystem, ATestOverrideWinsUntilReset) {
  qxplat_set_os_version(6, 1, 7601, VER_PLATFORM_WIN32_NT, "");
  qxplat_set_code_page(1252);
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 6u);
  EXPECT_EQ(GetACP(), 1252u);
  qxplat_reset_os_version();
  qxplat_reset_code_page();
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(GetACP(), 932u);
}

TEST_F(OldSystem, WithoutAWorldTheLayersDefaults) {
  StopWorld();
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 10u);
  EXPECT_EQ(v.dwBuildNumber, 19045u);
  EXPECT_EQ(GetACP(), 1252u);
}

}  // namespace
