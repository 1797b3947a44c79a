// Discovery and the small utilities under counted faults: with call N of each
// class failing (allocation, open, spooler call) each export gives one of its
// own results and leaves nothing open or allocated but what it hands the
// caller (released here after each run).
#include <cstring>
#include <functional>
#include <set>

#include "core/state.h"
#include "fault_sweep.h"
#include "world_test_util.h"

namespace {

using qxtest::kBoarding;
using qxtest::kTicket;
using Codes = std::set<QXRESULT>;

class DiscoveryFaultSweep : public qxtest::LibraryWorld {};

TEST_F(DiscoveryFaultSweep, PrinterQueries) {
  qxtest::SweepEveryClass<QXRESULT>(
      "qxEnumPrinters",
      [] {
        BYTE buffer[8192];
        DWORD needed = 0;
        LONG count = 0;
        return qxEnumPrinters(buffer, sizeof buffer, 2, &needed, &count);
      },
      {QX_ERR_OK, QX_ERR_PRINTER_INFO, QX_ERR_BUFFER_SMALL, QX_ERR_NO_MEMORY, QX_ERR_FAILED}, {"spool"});
  qxtest::SweepEveryClass<QXRESULT>(
      "qxNewGetPrinterPort",
      [] {
        char port[128];
        return qxNewGetPrinterPort(kBoarding, port);
      },
      {QX_ERR_OK, QX_ERR_PRINTER_INFO, QX_ERR_FAILED});
  qxtest::SweepEveryClass<QXRESULT>(
      "qxNewGetPrinterDriver",
      [] {
        char driver[128];
        return qxNewGetPrinterDriver(kTicket, driver);
      },
      {QX_ERR_OK, QX_ERR_PRINTER_INFO, QX_ERR_FAILED});
  qxtest::SweepEveryClass<QXRESULT>(
      "qxNewGetDefaultPrinter",
      [] {
        char name[128];
        DWORD size = sizeof name;
        return qxNewGetDefaultPrinter(name, &size);
      },
      {QX_ERR_OK, QX_ERR_FAILED}, {"open", "spool"});
}

TEST_F(DiscoveryFaultSweep, PageSetupRecords) {
  // The record's blocks belong to the caller: freed after every run.
  qxtest::SweepEveryClass<DWORD>(
      "qxGetDefaultPrinter then qxGetPrinterNameAndPort",
      [] {
        PAGESETUPDLGA record;
        std::memset(&record, 0, sizeof record);
        DWORD result = qxGetDefaultPrinter(&record);
        if (result == 0) {
          char name[128], port[128], driver[128];
          DWORD n = 0, p = 0, d = 0;
          result = qxGetPrinterNameAndPort(&record, name, &n, port, &p, driver, &d);
        }
        if (record.hDevMode != nullptr) GlobalFree(record.hDevMode);
        if (record.hDevNames != nullptr) GlobalFree(record.hDevNames);
        return result;
      },
      {0, PDERR_NODEFAULTPRN, CDERR_MEMALLOCFAILURE, PDERR_PRINTERNOTFOUND, QX_ERR_PRINTER_INFO}, {"alloc", "spool"});
}

TEST_F(DiscoveryFaultSweep, LoadTimeAttach) {
  // The whole attach, then detach: loading never fails, and what a failed
  // step opened is gone after the detach.
  qxtest::SweepEveryClass<BOOL>(
      "DllMain",
      [] {
        const BOOL attached = DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
        return attached;
      },
      {TRUE}, {"alloc", "open", "spool"});
}

TEST_F(DiscoveryFaultSweep, Utilities) {
  qxtest::SweepEveryClass<bool>(
      "qxGetStringFromLPSTR",
      [] {
        BSTR text = qxGetStringFromLPSTR("ticket");
        const bool made = text != nullptr;
        SysFreeString(text);
        return made;
      },
      {true, false}, {"alloc"});
}

}  // namespace
