// spooler_printer_test.cpp - printer handles: OpenPrinterA and ClosePrinter
// with their errors, refused opens, GetPrinterA and GetPrinterDriverA with
// size probing and levels, printers that go away under an open handle, and
// the accounting and fault injection of printer handles.
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;

class PrinterHandles : public qxsim::SimFixture {
 protected:
  void TearDown() override {
    qxplat_fault_clear();
    SimFixture::TearDown();
  }

  // GetPrinterA by the probe-then-fill rule; empty on failure.
  static std::vector<BYTE> Get(HANDLE h, DWORD level) {
    DWORD needed = 0;
    SetLastError(kUntouched);
    if (GetPrinterA(h, level, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> buffer(needed);
    DWORD again = 0;
    if (!GetPrinterA(h, level, buffer.data(), needed, &again) || again != needed) return {};
    return buffer;
  }
  static std::vector<BYTE> Driver(HANDLE h, DWORD level) {
    DWORD needed = 0;
    SetLastError(kUntouched);
    if (GetPrinterDriverA(h, nullptr, level, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return {};
    }
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterDriverA(h, nullptr, level, buffer.data(), needed, &needed)) return {};
    return buffer;
  }
};

TEST_F(PrinterHandles, OpenAndCloseAreCountedAsPrinterHandles) {
  const int64_t before = qxplat_live_count(QXPLAT_KIND_PRINTER);
  HANDLE h = nullptr;
  PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  SetLastError(kUntouched);
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>(kTicket), &h, &defaults));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), before + 1);
  EXPECT_EQ(control().Printer(kTicket)["open_handles"], 1) << "the spooler knows the handle";

  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(h)) << "printer handles are not closed by CloseHandle";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(ClosePrinter(h));
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), before);
  EXPECT_EQ(control().Printer(kTicket)["open_handles"], 0);
  SetLastError(kUntouched);
  EXPECT_FALSE(ClosePrinter(h)) << "closed twice";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PrinterHandles, NamesMatchWithoutRegardToCase) {
  Printer p("qx zda-38 TICKET printer");
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> info = Get(p.h, 5);
  ASSERT_FALSE(info.empty());
  EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_5A*>(info.data())->pPrinterName, kTicket)
      << "the spooler's own spelling";
}

TEST_F(PrinterHandles, UnknownNamesAndBadArguments) {
  HANDLE h = reinterpret_cast<HANDLE>(1);
  for (const std::string& name : {std::string("No Such Printer"), std::string(""), std::string(5000, 'Q'),
                                  std::string("QX ZDA-38 Ticket Printe")}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(name.c_str()), &h, nullptr)) << name.substr(0, 40);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME)) << name.substr(0, 40);
    EXPECT_EQ(h, nullptr);
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(nullptr, &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kTicket), nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  char bogus_type[] = "PCL6 please";
  PRINTER_DEFAULTSA defaults{bogus_type, nullptr, PRINTER_ACCESS_USE};
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kTicket), &h, &defaults));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  char raw[] = "raw";
  defaults.pDatatype = raw;
  SetLastError(kUntouched);
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>(kTicket), &h, &defaults)) << "a known type, any case";
  EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(PrinterHandles, APrinterSetToRefuseOpensFailsThem) {
  control().SetRefuseOpen(kBoarding, true);
  HANDLE h = nullptr;
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kBoarding), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  control().ChangePrinter(kBoarding, {{"refuse_open", ERROR_PRINTER_NOT_FOUND}});
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kBoarding), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_NOT_FOUND));
  control().SetRefuseOpen(kBoarding, false);
  Printer p(kBoarding);
  EXPECT_NE(p.h, nullptr);
}

TEST_F(PrinterHandles, GetPrinterLevel2CarriesStatusJobsAndTheDeviceMode) {
  control().SetPrinterStatus(kOffice, PRINTER_STATUS_PAPER_JAM);
  Printer p(kOffice);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> info = Get(p.h, 2);
  ASSERT_FALSE(info.empty());
  const auto& r = *reinterpret_cast<const PRINTER_INFO_2A*>(info.data());
  EXPECT_STREQ(r.pPrinterName, kOffice);
  EXPECT_STREQ(r.pPortName, "IP_192.168.1.40");
  EXPECT_STREQ(r.pDriverName, "Generic PCL6 Class Driver");
  EXPECT_STREQ(r.pLocation, "Back office");
  EXPECT_EQ(r.Status, static_cast<DWORD>(PRINTER_STATUS_PAPER_JAM));
  EXPECT_EQ(r.cJobs, 2u);
  ASSERT_TRUE(Inside(r.pDevMode, info, info.size()));
  EXPECT_EQ(r.pDevMode->dmPaperSize, DMPAPER_LETTER);
  EXPECT_EQ(r.pDevMode->dmDriverExtra, 0u);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.pDevMode->dmFormName), "Letter");
  ASSERT_TRUE(Inside(r.pSecurityDescriptor, info, info.size()));
  EXPECT_EQ(info.size(), reinterpret_cast<const BYTE*>(r.pSecurityDescriptor) + 20 - info.data())
      << "the buffer ends with the security descriptor, nothing unused";
}

TEST_F(PrinterHandles, GetPrinterLevelsAndBufferRules) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  DWORD needed = 0;
  for (DWORD level : {0u, 3u, 6u, 8u}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(GetPrinterA(p.h, level, nullptr, 0, &needed)) << level;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << level;
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(p.h, 5, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, sizeof(PRINTER_INFO_5A) + std::strlen(kTicket) + 1 + std::strlen("USB001") + 1);
  std::vector<BYTE> buffer(needed);
  DWORD reported = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(p.h, 5, buffer.data(), needed - 1, &reported));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(reported, needed);
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(p.h, 2, nullptr, 10, &reported));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(reinterpret_cast<HANDLE>(0x1234), 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(mutex, 2, nullptr, 0, &needed)) << "a handle of another kind";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(mutex);
}

TEST_F(PrinterHandles, AHandleOutlivesItsRemovedPrinter) {
  Printer p(kBoarding);
  ASSERT_NE(p.h, nullptr);
  control().RemovePrinter(kBoarding);
  DWORD needed = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(p.h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DELETED));
  control().Reset();
  EXPECT_FALSE(Get(p.h, 5).empty()) << "the printer is back under its name";
}

TEST_F(PrinterHandles, DriverLevelsGiveNameAndFiles) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> two = Driver(p.h, 2);
  ASSERT_EQ(two.size() > sizeof(DRIVER_INFO_2A), true);
  const auto& d2 = *reinterpret_cast<const DRIVER_INFO_2A*>(two.data());
  EXPECT_EQ(d2.cVersion, 3u);
  EXPECT_STREQ(d2.pName, "QX ZDA-38 Driver");
  EXPECT_STREQ(d2.pEnvironment, "Windows x64");
  EXPECT_STREQ(d2.pDriverPath, "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.DLL");
  EXPECT_TRUE(TextInside(d2.pDataFile, two, two.size()));
  EXPECT_TRUE(TextInside(d2.pConfigFile, two, two.size()));

  const std::vector<BYTE> three = Driver(p.h, 3);
  ASSERT_FALSE(three.empty());
  const auto& d3 = *reinterpret_cast<const DRIVER_INFO_3A*>(three.data());
  EXPECT_STREQ(d3.pMonitorName, "QX Language Monitor");
  EXPECT_STREQ(d3.pDefaultDataType, "RAW");
  ASSERT_TRUE(Inside(d3.pDependentFiles, three, three.size()));
  std::vector<std::string> files;
  for (const char* f = d3.pDependentFiles; *f != '\0'; f += std::strlen(f) + 1) files.push_back(f);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[1], "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXLM.DLL");

  const std::vector<BYTE> one = Driver(p.h, 1);
  ASSERT_EQ(one.size(), sizeof(DRIVER_INFO_1A) + std::strlen("QX ZDA-38 Driver") + 1);
  EXPECT_STREQ(reinterpret_cast<const DRIVER_INFO_1A*>(one.data())->pName, "QX ZDA-38 Driver");

  Printer lpt(kBoarding);
  const std::vector<BYTE> no_monitor = Driver(lpt.h, 3);
  ASSERT_FALSE(no_monitor.empty());
  EXPECT_EQ(reinterpret_cast<const DRIVER_INFO_3A*>(no_monitor.data())->pMonitorName, nullptr);
  EXPECT_EQ(reinterpret_cast<const DRIVER_INFO_3A*>(no_monitor.data())->pHelpFile, nullptr);
}

TEST_F(PrinterHandles, DriverEnvironmentAndLevelErrors) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  DWORD needed = 0;
  char x64[] = "windows X64";
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterDriverA(p.h, x64, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "this machine's, any case";
  char nt[] = "Windows NT x86";
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterDriverA(p.h, nt, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterDriverA(p.h, nullptr, 4, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterDriverA(nullptr, nullptr, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PrinterHandles, OpenIsAnOpenFaultPointAndLeavesNothing) {
  qxplat::LiveCounts counts;
  ASSERT_EQ(qxplat_fault_arm("open", 1, 0), 0);
  HANDLE h = reinterpret_cast<HANDLE>(1);
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kTicket), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(qxplat_fault_fired(), 1u);
  ASSERT_EQ(qxplat_fault_arm("OpenPrinterA", 2, ERROR_ACCESS_DENIED), 0);
  {
    Printer first(kTicket);
    EXPECT_NE(first.h, nullptr);
    SetLastError(kUntouched);
    Printer second(kTicket);
    EXPECT_EQ(second.h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(counts.Leaks(), "");
  EXPECT_EQ(control().Status()["open_handles"], 0) << "nor in the spooler";
}

TEST_F(PrinterHandles, QueriesLeaveNoHandlesOrBlocks) {
  qxplat::LiveCounts counts;
  for (int i = 0; i < 20; ++i) {
    Printer p(i % 2 == 0 ? kTicket : kOffice);
    ASSERT_NE(p.h, nullptr);
    EXPECT_FALSE(Get(p.h, 2).empty());
    EXPECT_FALSE(Driver(p.h, 3).empty());
  }
  EXPECT_EQ(counts.Leaks(), "");
}

TEST_F(PrinterHandles, NoSpoolerMeansTheServerIsUnavailable) {
  Printer open_before(kTicket);
  ASSERT_NE(open_before.h, nullptr);
  StopWorld();
  HANDLE h = nullptr;
  SetLastError(kUntouched);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kTicket), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  DWORD needed = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(GetPrinterA(open_before.h, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  const int64_t live = qxplat_live_count(QXPLAT_KIND_PRINTER);
  EXPECT_TRUE(ClosePrinter(open_before.h)) << "the handle is released all the same";
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), live - 1);
  open_before.h = nullptr;
}

}  // namespace
