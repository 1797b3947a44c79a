// Printer discovery against simulated worlds: the maker's printer, the
// enumeration export, the default-printer and identity queries, and the
// ticket sheet table.
#include <cstring>
#include <string>
#include <vector>

#include "core/discovery.h"
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

class Discovery : public qxtest::LibraryWorld {};

TEST_F(Discovery, LastMakerPrinterInSpoolerOrderWins) {
  char name[128];
  DWORD length = 0;
  ASSERT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_OK);
  EXPECT_STREQ(name, kBoarding);
  EXPECT_EQ(length, std::strlen(kBoarding));

  UseWorld(WorldFrom([](json& w) {
    json second = PrinterIn(w, kBoarding);
    second["name"] = "QX ZDA24 Second";
    w["printers"].push_back(second);
  }));
  ASSERT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_OK);
  EXPECT_STREQ(name, "QX ZDA24 Second");
}

TEST_F(Discovery, NoMakerPrinter) {
  UseWorld(WorldFrom([](json& w) {
    w["printers"] = json::array({PrinterIn(w, kOffice)});
    w["default_printer"] = kOffice;
  }));
  char name[128] = "unchanged";
  DWORD length = 7;
  EXPECT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_NO_PRINTER);
  EXPECT_STREQ(name, "unchanged");
  EXPECT_EQ(length, 7u);
  UseWorld(WorldFrom([](json& w) {
    w["printers"] = json::array();
    w["default_printer"] = nullptr;
  }));
  EXPECT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_NO_PRINTER);
}

TEST_F(Discovery, MakerPrinterSearchReportsFailedCalls) {
  char name[128];
  DWORD length = 0;
  qxplat_fault_arm("EnumPrintersA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_FAILED);
  qxplat_fault_clear();
  qxplat_fault_arm("HeapAlloc", 1, 0);
  EXPECT_EQ(qx::qxGetQXPrinter(name, sizeof name, &length), QX_ERR_FAILED);
}

TEST_F(Discovery, EnumPrintersCountQueryAndFill) {
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  ASSERT_EQ(qxEnumPrinters(nullptr, 0, 2, &needed, &count), QX_ERR_OK);
  EXPECT_GT(needed, 3 * sizeof(PRINTER_INFO_2A));
  EXPECT_EQ(count, QX_COUNT_QUERY);  // nothing was enumerated

  std::vector<BYTE> buffer(needed);
  count = 0;
  EXPECT_EQ(qxEnumPrinters(buffer.data(), static_cast<LONG>(needed - 1), 2, &needed, &count),
            QX_ERR_BUFFER_SMALL);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(qxEnumPrinters(buffer.data(), static_cast<LONG>(needed), 2, &needed, &count), QX_ERR_OK);
  ASSERT_EQ(count, 4);
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  EXPECT_STREQ(printers[0].pPrinterName, kTicket);
  EXPECT_STREQ(printers[0].pPortName, "USB001");
  EXPECT_STREQ(printers[3].pPrinterName, kOffice);
  EXPECT_EQ(printers[3].cJobs, 2u);
}

TEST_F(Discovery, EnumPrintersRefusesBadArgumentsBeforeAskingTheSpooler) {
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  EXPECT_EQ(qxEnumPrinters(nullptr, 0, 0, &needed, &count), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxEnumPrinters(nullptr, 0, 6, &needed, &count), QX_ERR_BAD_ARG);
  EXPECT_EQ(qxEnumPrinters(nullptr, 0, 2, nullptr, &count), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxEnumPrinters(nullptr, 0, 2, &needed, nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxplat_call_count("EnumPrintersA"), 0u);
}

TEST_F(Discovery, EnumPrintersReportsAFailedSecondEnumeration) {
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  ASSERT_EQ(qxEnumPrinters(nullptr, 0, 5, &needed, &count), QX_ERR_OK);
  std::vector<BYTE> buffer(needed);
  count = 0;
  qxplat_fault_arm("EnumPrintersA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxEnumPrinters(buffer.data(), static_cast<LONG>(needed), 5, &needed, &count),
            QX_ERR_FAILED);
  EXPECT_EQ(count, 0);
}

TEST_F(Discovery, EnumPrintersWithoutSpooler) {
  StopWorld();
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  EXPECT_EQ(qxEnumPrinters(nullptr, 0, 2, &needed, &count), QX_ERR_PRINTER_INFO);
}

TEST_F(Discovery, DefaultPrinterName) {
  char name[128] = {};
  DWORD size = sizeof name;
  ASSERT_EQ(qxNewGetDefaultPrinter(name, &size), QX_ERR_OK);
  EXPECT_STREQ(name, kTicket);
  // The size behaves as GetDefaultPrinterA defines it.
  size = 4;
  EXPECT_EQ(qxNewGetDefaultPrinter(name, &size), QX_ERR_FAILED);
  EXPECT_EQ(size, std::strlen(kTicket) + 1);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_MODULE), 0);

  qxplat_fault_arm("LoadLibraryA", 1, ERROR_MOD_NOT_FOUND);
  size = sizeof name;
  EXPECT_EQ(qxNewGetDefaultPrinter(name, &size), QX_ERR_FAILED);
  qxplat_fault_clear();

  UseWorld(WorldFrom([](json& w) { w["default_printer"] = nullptr; }));
  EXPECT_EQ(qxNewGetDefaultPrinter(name, &size), QX_ERR_FAILED);
}

TEST_F(Discovery, DriverNameAndPortOfANamedPrinter) {
  char text[128];
  ASSERT_EQ(qxNewGetPrinterDriver(kBoarding, text), QX_ERR_OK);
  EXPECT_STREQ(text, "QX ZDA24 Driver");
  ASSERT_EQ(qxNewGetPrinterPort(kBoarding, text), QX_ERR_OK);
  EXPECT_STREQ(text, "LPT1:");

  std::strcpy(text, "stale");
  EXPECT_EQ(qxNewGetPrinterDriver("QX No Such Printer", text), QX_ERR_PRINTER_INFO);
  EXPECT_STREQ(text, "");
  std::strcpy(text, "stale");
  EXPECT_EQ(qxNewGetPrinterPort("QX No Such Printer", text), QX_ERR_PRINTER_INFO);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(qxNewGetPrinterPort(nullptr, text), QX_ERR_PRINTER_INFO);
  EXPECT_EQ(qxNewGetPrinterPort(kBoarding, nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxNewGetPrinterDriver(kBoarding, nullptr), QX_ERR_NULL_ARG);

  qxplat_fault_arm("GetPrinterDriverA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxNewGetPrinterDriver(kBoarding, text), QX_ERR_FAILED);
  qxplat_fault_clear();
  qxplat_fault_arm("GlobalAlloc", 1, 0);
  EXPECT_EQ(qxNewGetPrinterPort(kBoarding, text), QX_ERR_FAILED);
  qxplat_fault_clear();
  qxplat_fault_arm("GetPrinterA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxNewGetPrinterPort(kBoarding, text), QX_ERR_PRINTER_INFO);
}

TEST_F(Discovery, PageSetupDefaultAndItsNames) {
  PAGESETUPDLGA record;
  std::memset(&record, 0x5A, sizeof record);
  ASSERT_EQ(qxGetDefaultPrinter(&record), 0u);
  EXPECT_EQ(record.lStructSize, 128u);
  EXPECT_EQ(record.Flags & PSD_RETURNDEFAULT, static_cast<DWORD>(PSD_RETURNDEFAULT));

  char name[128], port[128], driver[128];
  DWORD nameLength = 0, portLength = 0, driverLength = 0;
  ASSERT_EQ(qxGetPrinterNameAndPort(&record, name, &nameLength, port, &portLength, driver,
                                    &driverLength),
            QX_ERR_OK);
  EXPECT_STREQ(name, kTicket);
  EXPECT_EQ(nameLength, std::strlen(kTicket));
  EXPECT_STREQ(port, "USB001");
  EXPECT_EQ(portLength, 6u);
  EXPECT_STREQ(driver, "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.DLL");
  EXPECT_EQ(driverLength, std::strlen(driver));
  GlobalFree(record.hDevMode);
  GlobalFree(record.hDevNames);
}

TEST_F(Discovery, NamesAndPortNeedARecordWithDeviceNames) {
  char name[128], port[128], driver[128];
  DWORD n = 0, p = 0, d = 0;
  // The library's own record, before any attach filled it.
  g_state.pageSetup = PAGESETUPDLGA{};
  EXPECT_EQ(qxGetPrinterNameAndPort(nullptr, name, &n, port, &p, driver, &d), QX_ERR_PRINTER_INFO);
  PAGESETUPDLGA record = {};
  record.lStructSize = sizeof record;
  EXPECT_EQ(qxGetPrinterNameAndPort(&record, name, &n, port, &p, driver, &d), QX_ERR_PRINTER_INFO);

  // Offsets that point outside the block are refused, not followed.
  record.hDevNames = GlobalAlloc(GHND, sizeof(DEVNAMES) + 8);
  auto* names = static_cast<DEVNAMES*>(GlobalLock(record.hDevNames));
  names->wDeviceOffset = 60000;
  names->wOutputOffset = sizeof(DEVNAMES);
  GlobalUnlock(record.hDevNames);
  EXPECT_EQ(qxGetPrinterNameAndPort(&record, name, &n, port, &p, driver, &d), QX_ERR_PRINTER_INFO);
  GlobalFree(record.hDevNames);
}

TEST_F(Discovery, DefaultPrinterErrorWhenThereIsNone) {
  UseWorld(WorldFrom([](json& w) { w["default_printer"] = nullptr; }));
  PAGESETUPDLGA record;
  EXPECT_EQ(qxGetDefaultPrinter(&record), static_cast<DWORD>(PDERR_NODEFAULTPRN));
  EXPECT_EQ(record.hDevMode, nullptr);
  EXPECT_EQ(qxGetDefaultPrinter(nullptr), static_cast<DWORD>(QX_ERR_NULL_ARG));
}

TEST_F(Discovery, LongDriverPathIsCutTo126Characters) {
  const std::string path = "C:\\Drivers\\" + std::string(200, 'D') + ".DLL";
  UseWorld(WorldFrom([&](json& w) { PrinterIn(w, kTicket)["driver"]["path"] = path; }));
  PAGESETUPDLGA record;
  ASSERT_EQ(qxGetDefaultPrinter(&record), 0u);
  char name[128], port[128], driver[130];
  std::memset(driver, '#', sizeof driver);
  DWORD n = 0, p = 0, d = 0;
  ASSERT_EQ(qxGetPrinterNameAndPort(&record, name, &n, port, &p, driver, &d), QX_ERR_OK);
  EXPECT_EQ(std::string(driver), path.substr(0, 126));
  EXPECT_EQ(d, 126u);
  EXPECT_EQ(driver[127], '#');
  GlobalFree(record.hDevMode);
  GlobalFree(record.hDevNames);
}

TEST_F(Discovery, IdentityQueriesCutToSmallBuffers) {
  std::strcpy(g_state.printerName, kTicket);
  char name[128], port[8], driver[64 + 1];
  std::memset(driver, '#', sizeof driver);
  DWORD n = 0, p = 0, d = 0;
  ASSERT_EQ(qx::GetCurrentPrinterIdentity(nullptr, name, sizeof name, &n, port, sizeof port, &p,
                                          driver, 64, &d),
            QX_ERR_OK);
  EXPECT_STREQ(name, kTicket);
  EXPECT_STREQ(port, "USB001");
  EXPECT_EQ(p, 6u);
  EXPECT_EQ(std::string(driver), std::string("C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.DLL"));

  const std::string path = "C:\\Drivers\\" + std::string(100, 'D') + ".DLL";
  UseWorld(WorldFrom([&](json& w) { PrinterIn(w, kTicket)["driver"]["path"] = path; }));
  char port32[32];
  ASSERT_EQ(qx::GetPrinterIdentity(nullptr, kTicket, port32, sizeof port32, &p, driver, 64, &d),
            QX_ERR_OK);
  EXPECT_EQ(std::string(driver), path.substr(0, 63));
  EXPECT_EQ(d, 63u);
  EXPECT_EQ(driver[64], '#');

  EXPECT_EQ(qx::GetPrinterIdentity(nullptr, nullptr, port32, sizeof port32, &p, driver, 64, &d),
            QX_ERR_PRINTER_INFO);
  EXPECT_EQ(qxplat::debug_captured().back(), "Bad Open Printer");
  qxplat_fault_arm("GetPrinterA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qx::GetPrinterIdentity(nullptr, kTicket, port32, sizeof port32, &p, driver, 64, &d),
            QX_ERR_PRINTER_INFO);
}

// A world whose ticket printer offers the given sheets.
std::string WorldWithSheets(const std::string& printer, const json& sheets) {
  return WorldFrom([&](json& w) {
    json p = PrinterIn(w, kTicket);
    p["name"] = printer;
    p["sheets"] = sheets;
    w["printers"] = json::array({p});
    w["default_printer"] = printer;
  });
}

json Sheet(const std::string& name, int code, int width, int length) {
  return json{{"name", name}, {"code", code}, {"width", width}, {"length", length}};
}

TEST_F(Discovery, SheetFiltersFollowThePrinterName) {
  const json sheets = json::array({Sheet("2 x 3.3", 300, 508, 838), Sheet("3 x 4.4", 301, 762, 1118),
                                   Sheet("3 x 6 L = 6", 302, 762, 1524)});
  const struct {
    const char* printer;
    const char* kept;
  } cases[] = {{"QX ZDA23 Kiosk", "2 x 3.3"}, {"QX ZDA24 Kiosk", "3 x 4.4"}, {"QX Kiosk", "3 x 6 L = 6"}};
  for (const auto& c : cases) {
    UseWorld(WorldWithSheets(c.printer, sheets));
    qx::BuildSheetTable(c.printer, "USB001");
    ASSERT_EQ(g_state.sheets.count, 1) << c.printer;
    EXPECT_STREQ(g_state.sheets.sheets[0].name, c.kept) << c.printer;
  }
}

TEST_F(Discovery, SheetTableKeepsCodesFrom42AndAtMost100) {
  json sheets = json::array({Sheet("A L = 1", 41, 100, 100), Sheet("B L = 1", 42, 762, 1524)});
  for (int i = 0; i < 120; ++i) sheets.push_back(Sheet("S L = " + std::to_string(i), 300 + i, 508, 826));
  UseWorld(WorldWithSheets("QX Kiosk", sheets));
  qx::BuildSheetTable("QX Kiosk", "USB001");
  ASSERT_EQ(g_state.sheets.count, 100);
  const qx::TicketSheet& first = g_state.sheets.sheets[0];
  EXPECT_STREQ(first.name, "B L = 1");
  EXPECT_EQ(first.paperCode, 42u);
  EXPECT_FLOAT_EQ(first.widthInches, 3.0f);
  EXPECT_FLOAT_EQ(first.lengthInches, 6.0f);
  EXPECT_STREQ(g_state.sheets.sheets[99].name, "S L = 98");
}

TEST_F(Discovery, LongSheetNamesAreCutTo31Characters) {
  const std::string longName = "Continuous ticket stock L = 5.5 with tear-off stub";
  UseWorld(WorldWithSheets("QX Kiosk", json::array({Sheet(longName, 300, 826, 1397)})));
  qx::BuildSheetTable("QX Kiosk", "USB001");
  ASSERT_EQ(g_state.sheets.count, 1);
  EXPECT_EQ(std::string(g_state.sheets.sheets[0].name), longName.substr(0, 31));
}

TEST_F(Discovery, SheetTableIsEmptyWhenTheDriverCannotSay) {
  g_state.sheets.count = 5;
  qx::BuildSheetTable("QX No Such Printer", "USB001");
  EXPECT_EQ(g_state.sheets.count, 0);
  g_state.sheets.count = 5;
  qxplat_fault_arm("DeviceCapabilitiesA", 3, ERROR_INVALID_PARAMETER);
  qx::BuildSheetTable(kTicket, "USB001");
  EXPECT_EQ(g_state.sheets.count, 0);
}

TEST(MakerPrefix, IsCaseSensitiveOnThreeCharacters) {
  EXPECT_TRUE(qx::IsMakerPrinter("QX ZDA-38"));
  EXPECT_TRUE(qx::IsMakerPrinter("qx lower"));
  EXPECT_FALSE(qx::IsMakerPrinter("Qx Mixed"));
  EXPECT_FALSE(qx::IsMakerPrinter("QXZDA"));
  EXPECT_FALSE(qx::IsMakerPrinter("QX"));
  EXPECT_FALSE(qx::IsMakerPrinter(""));
  EXPECT_FALSE(qx::IsMakerPrinter(nullptr));
}

}  // namespace
