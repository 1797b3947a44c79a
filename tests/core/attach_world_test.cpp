// The load-time attach against simulated worlds: which printer becomes the
// current one, what it finds out about it, and what it writes to the debugger.
#include <string>
#include <vector>

#include "core/state.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kOffice;
using qxtest::kTicket;
using qxtest::PrinterIn;
using qxtest::WorldFrom;

constexpr char kNoQxLine[] = "DLL - DLL - DLL - NO QX PRINTER - DLL - DLL - DLL\r\n";
constexpr char kNoDefaultLine[] = "DLL - DLL - DLL - NO DEFAULT PRINTER - DLL - DLL - DLL\r\n";
constexpr char kDefaultFoundLine[] = "DLL - DEFAULT PRINTER FOUND - DLL\r\n";

std::vector<std::string> Lines() { return qxplat::debug_captured(); }

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines) {
    if (l == line) return true;
  }
  return false;
}

class LoadTimeAttach : public qxtest::LibraryWorld {};

TEST_F(LoadTimeAttach, DefaultWorldTakesTheSystemDefaultPrinter) {
  Attach();
  EXPECT_STREQ(g_state.printerName, kTicket);
  EXPECT_STREQ(g_state.portName, "USB001");
  // From the page-setup road: the driver's file path, not its name.
  EXPECT_STREQ(g_state.driverName, "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.DLL");
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeUSB001");
  EXPECT_EQ(g_state.lmAvailable, 1);
  EXPECT_NE(g_state.pageSetup.hDevMode, nullptr);
  EXPECT_NE(g_state.pageSetup.hDevNames, nullptr);
  EXPECT_EQ(g_state.pageSetup.Flags, 0u);
  EXPECT_EQ(g_state.pipeTimeout, 20000u);
  EXPECT_EQ(g_state.statusTimeout, 20000u);
  // The ticket sheets of the ZDA-38 driver: names with "L =" and codes of 42
  // and above, in driver order.
  ASSERT_EQ(g_state.sheets.count, 6);
  EXPECT_STREQ(g_state.sheets.sheets[0].name, "2 x 5.5 L = 5.5");
  EXPECT_STREQ(g_state.sheets.sheets[4].name, "3 x 6 L = 6");
  EXPECT_FLOAT_EQ(g_state.sheets.sheets[4].widthInches, 3.0f);
  EXPECT_FLOAT_EQ(g_state.sheets.sheets[4].lengthInches, 6.0f);
  EXPECT_EQ(g_state.sheets.sheets[4].widthTenthsMm, 762);
  EXPECT_EQ(g_state.sheets.sheets[4].lengthTenthsMm, 1524);

  const auto lines = Lines();
  EXPECT_TRUE(Has(lines, kDefaultFoundLine));
  EXPECT_FALSE(Has(lines, kNoQxLine));
  EXPECT_TRUE(Has(lines, "\nDLL - qxGetDefaultPrinter print parms\n"));
  EXPECT_TRUE(Has(lines, "\nDLL - Test - Printer width = 826"));
  EXPECT_TRUE(Has(lines, "\nDLL - Printer length = 1397"));
  EXPECT_TRUE(Has(lines, "\nDLL - Printer ID (Paper Size) = 258\n"));
  EXPECT_TRUE(Has(lines, "\nDLL - qxGetDefaultPrinter end print parms\n"));
}

TEST_F(LoadTimeAttach, NoPrintersLeavesEverythingEmpty) {
  UseWorld(WorldFrom([](json& w) {
    w["printers"] = json::array();
    w["default_printer"] = nullptr;
  }));
  Attach();
  EXPECT_STREQ(g_state.printerName, "");
  EXPECT_STREQ(g_state.portName, "");
  EXPECT_STREQ(g_state.pipeName, "");
  EXPECT_EQ(g_state.lmAvailable, 0);
  EXPECT_EQ(g_state.pageSetup.hDevNames, nullptr);
  EXPECT_EQ(g_state.pageSetup.lStructSize, 128u);
  const auto lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], kNoQxLine);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);
}

TEST_F(LoadTimeAttach, OrdinaryDefaultPrinterIsNamedButNotSetUp) {
  UseWorld(WorldFrom([](json& w) {
    json office = PrinterIn(w, kOffice);
    w["printers"] = json::array({office});
    w["default_printer"] = kOffice;
  }));
  Attach();
  EXPECT_STREQ(g_state.printerName, kOffice);
  EXPECT_STREQ(g_state.portName, "");
  EXPECT_EQ(g_state.pageSetup.hDevNames, nullptr);
  EXPECT_EQ(Lines(), std::vector<std::string>{kNoQxLine});
}

TEST_F(LoadTimeAttach, NameWithCapitalQAndSmallXIsNotTheMakers) {
  UseWorld(WorldFrom([](json& w) {
    json printer = PrinterIn(w, kBoarding);
    printer["name"] = "Qx Kiosk Printer";
    w["printers"] = json::array({printer});
    w["default_printer"] = nullptr;
  }));
  Attach();
  EXPECT_STREQ(g_state.printerName, "");
  EXPECT_EQ(Lines(), std::vector<std::string>{kNoQxLine});
}

TEST_F(LoadTimeAttach, MakerPrinterThatIsNotTheDefaultGivesWayToTheDefault) {
  UseWorld(WorldFrom([](json& w) {
    w["printers"] = json::array({PrinterIn(w, kBoarding), PrinterIn(w, kOffice)});
    w["default_printer"] = kOffice;
  }));
  Attach();
  // Stage 1 set up the boarding-pass printer; the page-setup default then
  // replaced name, port and driver, although it is not the maker's.
  EXPECT_STREQ(g_state.printerName, kOffice);
  EXPECT_STREQ(g_state.portName, "IP_192.168.1.40");
  EXPECT_STREQ(g_state.driverName, "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\PCL6CLASS.DLL");
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeIP_192.168.1.40");
  EXPECT_EQ(g_state.lmAvailable, 0);
  EXPECT_EQ(g_state.sheets.count, 0);  // no office sheet is a ticket sheet
  EXPECT_TRUE(Has(Lines(), kDefaultFoundLine));
}

TEST_F(LoadTimeAttach, WithoutThePageSetupDefaultStageOneStands) {
  // Two maker printers, the default among them but not last in spooler
  // order: stage 1 works on the default one.
  qxplat_fault_arm("PageSetupDlgA", 1, 0);
  Attach();
  EXPECT_STREQ(g_state.printerName, kTicket);
  EXPECT_STREQ(g_state.portName, "USB001");
  EXPECT_STREQ(g_state.driverName, "QX ZDA-38 Driver");  // the driver's name on this road
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeUSB001");
  EXPECT_EQ(g_state.sheets.count, 6);
  EXPECT_EQ(g_state.pageSetup.hDevNames, nullptr);
  EXPECT_TRUE(Has(Lines(), kNoDefaultLine));
  EXPECT_FALSE(Has(Lines(), kDefaultFoundLine));
}

TEST_F(LoadTimeAttach, NoDefaultPrinterStillSetsUpTheMakersPrinter) {
  UseWorld(WorldFrom([](json& w) { w["default_printer"] = nullptr; }));
  Attach();
  // The last maker printer in the spooler's order.
  EXPECT_STREQ(g_state.printerName, kBoarding);
  EXPECT_STREQ(g_state.portName, "LPT1:");
  EXPECT_STREQ(g_state.driverName, "QX ZDA24 Driver");
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeLPT1:");
  EXPECT_EQ(g_state.lmAvailable, 0);  // no monitor on LPT1:
  // The ZDA24 filter: names with "x 4.4", codes of 42 and above.
  ASSERT_EQ(g_state.sheets.count, 3);
  EXPECT_STREQ(g_state.sheets.sheets[0].name, "3.25 x 4.4");
  EXPECT_STREQ(g_state.sheets.sheets[2].name, "3.25 x 4.4 L = 4.4");
  EXPECT_TRUE(Has(Lines(), kNoDefaultLine));
}

TEST_F(LoadTimeAttach, NoDefaultAndNoMakerPrinter) {
  UseWorld(WorldFrom([](json& w) {
    w["printers"] = json::array({PrinterIn(w, kOffice)});
    w["default_printer"] = nullptr;
  }));
  Attach();
  EXPECT_STREQ(g_state.printerName, "");
  EXPECT_EQ(Lines(), std::vector<std::string>{kNoQxLine});
}

TEST_F(LoadTimeAttach, MonitorThatDoesNotAnswerLeavesTheFlagClear) {
  control().SetMonitorBusy("USB001", true);
  Attach();
  EXPECT_STREQ(g_state.printerName, kTicket);
  EXPECT_EQ(g_state.lmAvailable, 0);
  // Both probes waited their 100 slices of 100 ms.
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 200u);
}

TEST_F(LoadTimeAttach, DetachReleasesWhatAttachTook) {
  const int64_t kernel = qxplat_live_count(QXPLAT_KIND_KERNEL);
  const int64_t global = qxplat_live_count(QXPLAT_KIND_GLOBAL);
  Attach();
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), kernel + 2);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_GLOBAL), global + 2);  // the page-setup blocks
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
  Detach();
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), kernel);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_GLOBAL), global);
}

TEST_F(LoadTimeAttach, NoSpoolerService) {
  StopWorld();
  Attach();
  EXPECT_STREQ(g_state.printerName, "");
  EXPECT_EQ(g_state.lmAvailable, 0);
  EXPECT_EQ(Lines(), std::vector<std::string>{kNoQxLine});
}

}  // namespace
