// Orientation, bins and sheet sizes of the current printer, changed through
// the spooler of a simulated world.
#include <cstring>
#include <string>
#include <vector>

#include "core/state.h"
#include "spool/devmode.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kTicket;
using qxtest::PrinterIn;
using qxtest::WorldFrom;

bool Has(const std::string& line) {
  for (const auto& l : qxplat::debug_captured()) {
    if (l == line) return true;
  }
  return false;
}

class Settings : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(g_state.printerName, kTicket);
  }
  json DevMode(const char* printer = kTicket) { return control().Printer(printer)["devmode"]; }
  // A world whose ticket printer's device mode offers only these fields.
  void UseFields(const json& fields) {
    UseWorld(WorldFrom([&](json& w) { PrinterIn(w, kTicket)["devmode"]["fields"] = fields; }));
  }
};

TEST_F(Settings, OrientationIsChangedAndLogged) {
  ASSERT_EQ(qxSetOrientation(DMORIENT_LANDSCAPE), QX_ERR_OK);
  EXPECT_EQ(DevMode()["orientation"], 2);
  EXPECT_TRUE(Has("\nDLL - qxSetOrientation .. ID = 2"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. passed parameter = 2"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Open Printer passed - Printer = "));
  EXPECT_TRUE(Has(kTicket));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Action = Set Orientation"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. pPortName = USB001"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Status = 0 (Offline: 0 - Unknown: 0 - Busy: 0 - Not Available: 0)"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Document properties merge passed"));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. requested change made"));
  EXPECT_EQ(qx::g_state.lastStatus.statusRead, 1);
}

TEST_F(Settings, TheMergeSeesOnlyTheFieldBeingChanged) {
  auto asked = [&] { return control().Printer(kTicket)["last_merge_input"]; };
  ASSERT_EQ(qx::SetPrinterCharacteristics(kTicket, 260, qx::kActionPaperSize), QX_ERR_OK);
  EXPECT_EQ(asked()["fields"], DM_PAPERSIZE);
  EXPECT_EQ(asked()["paper_size"], 260);
  // A custom size held before gives way to the code.
  EXPECT_EQ(asked()["paper_length"], 0);
  EXPECT_EQ(asked()["paper_width"], 0);
  EXPECT_EQ(DevMode()["paper_size"], 260);

  ASSERT_EQ(qx::SetPrinterCharacteristics(kTicket, 2, qx::kActionOrientation), QX_ERR_OK);
  EXPECT_EQ(asked()["fields"], DM_ORIENTATION);
  EXPECT_EQ(asked()["orientation"], 2);
  ASSERT_EQ(qx::SetPrinterCharacteristics(kTicket, 4, qx::kActionOutputBin), QX_ERR_OK);
  EXPECT_EQ(asked()["fields"], DM_DEFAULTSOURCE);
  EXPECT_EQ(asked()["default_source"], 4);
  ASSERT_EQ(qx::SetPrinterCharacteristics(kTicket, 77, qx::kActionRefresh), QX_ERR_OK);
  EXPECT_EQ(asked()["fields"], DM_ORIENTATION);
  EXPECT_EQ(asked()["orientation"], 2);  // the value is ignored

  // Without an orientation bit the refresh hands over the fields as fetched.
  UseFields(json::array({"paper_size", "default_source"}));
  ASSERT_EQ(qx::SetPrinterCharacteristics(kTicket, 0, qx::kActionRefresh), QX_ERR_OK);
  EXPECT_EQ(asked()["fields"], DM_PAPERSIZE | DM_DEFAULTSOURCE);
}

TEST_F(Settings, MissingCapabilityRefusesTheChange) {
  UseFields(json::array({"paper_size", "default_source"}));
  EXPECT_EQ(qxSetOrientation(DMORIENT_LANDSCAPE), QX_ERR_FAILED);
  EXPECT_EQ(DevMode()["orientation"], 1);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Driver does NOT support orientation change"));
  // The status was read before the refusal.
  EXPECT_EQ(qx::g_state.lastStatus.statusRead, 1);

  UseFields(json::array({"orientation"}));
  EXPECT_EQ(qx::SetPrinterCharacteristics(kTicket, 259, qx::kActionPaperSize), QX_ERR_FAILED);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Driver does NOT support paper size changes"));
  EXPECT_EQ(qxSetBinByBinID(2), QX_ERR_FAILED);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Driver does NOT support paper bin change"));
}

TEST_F(Settings, RefreshNeedsNoCapability) {
  UseFields(json::array({"paper_size"}));
  EXPECT_EQ(qx::SetCurrentPrinterCharacteristics(0, qx::kActionRefresh), QX_ERR_OK);
  EXPECT_EQ(DevMode()["paper_size"], 258);
  UseFields(json::array({"orientation", "paper_size"}));
  EXPECT_EQ(qx::SetCurrentPrinterCharacteristics(0, qx::kActionRefresh), QX_ERR_OK);
  EXPECT_EQ(DevMode()["orientation"], 1);
}

TEST_F(Settings, UnknownActionsFailAfterTheStatusIsRead) {
  for (WORD action : {WORD{0}, WORD{5}}) {
    EXPECT_EQ(qx::SetPrinterCharacteristics(kTicket, 1, action), QX_ERR_FAILED);
    EXPECT_EQ(qx::g_state.lastStatus.statusRead, 1);
  }
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Action NOT supported"));
}

TEST_F(Settings, UnknownPrinterLeavesTheStatusUnread) {
  EXPECT_EQ(qx::SetPrinterCharacteristics("QX No Such Printer", 2, qx::kActionOrientation), QX_ERR_NO_PRINTER);
  EXPECT_EQ(qx::g_state.lastStatus.statusRead, 0);
  EXPECT_EQ(qx::g_state.lastStatus.status, 0u);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Open Printer failed"));
}

TEST_F(Settings, OfflinePrinterIsStillChanged) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_OFFLINE);
  ASSERT_EQ(qxSetOrientation(DMORIENT_LANDSCAPE), QX_ERR_OK);
  EXPECT_EQ(DevMode()["orientation"], 2);
  EXPECT_EQ(qx::g_state.lastStatus.status, static_cast<DWORD>(PRINTER_STATUS_OFFLINE));
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Status = 128 (Offline: 1 - Unknown: 0 - Busy: 0 - Not Available: 0)"));
}

TEST_F(Settings, FailedCallsReleaseEverything) {
  qxplat_fault_arm("GetPrinterA", 1, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxSetOrientation(2), QX_ERR_GETPRINTER);
  qxplat_fault_clear();
  qxplat_fault_arm("GlobalAlloc", 1, 0);
  EXPECT_EQ(qxSetOrientation(2), QX_ERR_NO_MEMORY);
  qxplat_fault_clear();
  qxplat_fault_arm("GetPrinterA", 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxSetOrientation(2), QX_ERR_FAILED);
  qxplat_fault_clear();
  qxplat_fault_arm("DocumentPropertiesA", 1, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxSetOrientation(2), QX_ERR_FAILED);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Document properties merge failed"));
  qxplat_fault_clear();
  qxplat_fault_arm("SetPrinterA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxSetOrientation(2), QX_ERR_FAILED);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. failed to make requested change"));
  EXPECT_EQ(DevMode()["orientation"], 1);
}

TEST_F(Settings, BinsAreListedAndCounted) {
  LONG count = QX_COUNT_QUERY;
  ASSERT_EQ(qxEnumBins(nullptr, nullptr, &count), QX_ERR_OK);
  ASSERT_EQ(count, 3);
  std::vector<char> names(24 * 3);
  std::vector<WORD> codes(3);
  ASSERT_EQ(qxEnumBins(names.data(), codes.data(), &count), QX_ERR_OK);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(names.data() + 24, "Rear Feed");
  EXPECT_EQ(codes[1], 2);
}

TEST_F(Settings, BinByNameIsCaseSensitiveAndTheLastMatchWins) {
  EXPECT_EQ(qxSetBinByBinName("rear feed"), QX_ERR_BIN_NOT_FOUND);
  EXPECT_EQ(DevMode()["default_source"], 1);
  ASSERT_EQ(qxSetBinByBinName("Rear Feed"), QX_ERR_OK);
  EXPECT_EQ(DevMode()["default_source"], 2);
  EXPECT_TRUE(Has("\nDLL - Found Bin"));
  EXPECT_EQ(qxSetBinByBinName(nullptr), QX_ERR_BIN_NOT_FOUND);

  const std::string full(24, 'B');  // fills its entry with no terminator
  UseWorld(WorldFrom([&](json& w) {
    PrinterIn(w, kTicket)["bins"] = json::array({{{"name", "Twin"}, {"code", 1}},
                                                 {{"name", full}, {"code", 2}},
                                                 {{"name", "Twin"}, {"code", 4}}});
  }));
  ASSERT_EQ(qxSetBinByBinName("Twin"), QX_ERR_OK);
  EXPECT_EQ(DevMode()["default_source"], 4);
  ASSERT_EQ(qxSetBinByBinName(full.c_str()), QX_ERR_OK);
  EXPECT_EQ(DevMode()["default_source"], 2);
  EXPECT_EQ(qxSetBinByBinName((full + "B").c_str()), QX_ERR_BIN_NOT_FOUND);
}

TEST_F(Settings, BinByNameSucceedsEvenWhenTheDriverRefuses) {
  UseFields(json::array({"orientation"}));
  EXPECT_EQ(qxSetBinByBinName("Rear Feed"), QX_ERR_OK);
  EXPECT_EQ(DevMode()["default_source"], 1);
  EXPECT_TRUE(Has("\nDLL - SetPrinterCharc. .. Driver does NOT support paper bin change"));
}

TEST_F(Settings, SheetClosestInLengthThenWidth) {
  float width = 3.25f, length = 6.0f;
  ASSERT_EQ(qxSetSheetSize(&width, &length), QX_ERR_OK);
  EXPECT_EQ(DevMode()["paper_size"], 259);
  EXPECT_FLOAT_EQ(width, 3.25f);
  EXPECT_FLOAT_EQ(length, 6.0f);

  // 3.333 matches nothing exactly: the nearest sheet is set and its size
  // handed back.
  width = 3.333f;
  length = 6.0f;
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_SIZE_MISMATCH);
  EXPECT_EQ(DevMode()["paper_size"], 259);
  EXPECT_FLOAT_EQ(width, 3.25f);
  EXPECT_TRUE(Has("\nDLL - End width does not match input"));

  // Of the two 6-inch sheets the one nearer in width wins.
  width = 3.0f;
  length = 6.0f;
  ASSERT_EQ(qxSetSheetSize(&width, &length), QX_ERR_OK);
  EXPECT_EQ(DevMode()["paper_size"], 261);
}

TEST_F(Settings, SheetEqualCandidatesGoByDriverOrder) {
  auto sheet = [](const char* name, int code, int w, int l) {
    return json{{"name", name}, {"code", code}, {"width", w}, {"length", l}};
  };
  UseWorld(WorldFrom([&](json& w) {
    PrinterIn(w, kTicket)["sheets"] = json::array(
        {sheet("3.25 x 6", 300, 826, 1524), sheet("3.25 x 4", 301, 826, 1016), sheet("2.5 x 4", 302, 635, 1016),
         sheet("3.25 x 4 again", 303, 826, 1016)});
  }));
  float width = 3.25f, length = 4.0f;
  ASSERT_EQ(qxSetSheetSize(&width, &length), QX_ERR_OK);
  EXPECT_EQ(DevMode()["paper_size"], 301);
}

TEST_F(Settings, SheetSizeIsHandedBackWhenTheChangeFails) {
  UseFields(json::array({"orientation"}));
  float width = 3.0f, length = 5.9f;
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_FAILED);
  EXPECT_FLOAT_EQ(width, 3.0f);
  EXPECT_FLOAT_EQ(length, 6.0f);
  EXPECT_EQ(qxSetSheetSize(nullptr, &length), QX_ERR_NULL_ARG);
}

TEST_F(Settings, SheetSizeWithoutSheetsTouchesNothing) {
  UseWorld(WorldFrom([](json& w) { PrinterIn(w, kTicket)["sheets"] = json::array(); }));
  float width = 3.25f, length = 6.0f;
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_FAILED);
  EXPECT_FLOAT_EQ(width, 3.25f);
  EXPECT_EQ(qxplat_call_count("SetPrinterA"), 0u);
}

TEST_F(Settings, SheetListCountAndFill) {
  LONG count = QX_COUNT_QUERY;
  ASSERT_EQ(qxEnumSheetSizes(nullptr, nullptr, &count), QX_ERR_OK);
  ASSERT_EQ(count, 9);
  count = 9;
  EXPECT_EQ(qxEnumSheetSizes(nullptr, nullptr, &count), QX_ERR_NULL_ARG);
  std::vector<char> names(64 * 9);
  std::vector<WORD> codes(9);
  ASSERT_EQ(qxEnumSheetSizes(names.data(), codes.data(), &count), QX_ERR_OK);
  EXPECT_STREQ(names.data() + 64 * 2, "2 x 5.5 L = 5.5");
  EXPECT_EQ(codes[2], 257);
  std::strcpy(g_state.printerName, "QX No Such Printer");
  EXPECT_EQ(qxEnumSheetSizes(names.data(), codes.data(), &count), QX_ERR_PRINTER_INFO);
}

}  // namespace
