// The settings exports under counted faults: with call N of each class
// failing (allocation, open, spooler call) each gives one of its own results
// and leaves nothing open or allocated.
#include <cstring>
#include <functional>
#include <set>

#include "core/state.h"
#include "fault_sweep.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::kTicket;
using Codes = std::set<QXRESULT>;

// What the device-mode change reports when a step of it fails.
const Codes kChangeResults = {QX_ERR_OK, QX_ERR_NO_PRINTER, QX_ERR_FAILED, QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY};
// A failed driver list is reported as the Windows error the call left.
constexpr QXRESULT kSpoolerGone = static_cast<QXRESULT>(RPC_S_SERVER_UNAVAILABLE);

Codes With(const Codes& base, std::initializer_list<QXRESULT> extra) {
  Codes codes = base;
  codes.insert(extra.begin(), extra.end());
  return codes;
}

class SettingsFaultSweep : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(g_state.printerName, kTicket);
    std::strcpy(g_state.portName, "USB001");
  }
};

TEST_F(SettingsFaultSweep, DeviceModeChanges) {
  qxtest::SweepEveryClass<QXRESULT>("qxSetOrientation", [] { return qxSetOrientation(DMORIENT_LANDSCAPE); },
                                    kChangeResults);
  qxtest::SweepEveryClass<QXRESULT>("qxSetBinByBinID", [] { return qxSetBinByBinID(2); }, kChangeResults);
  qxtest::SweepEveryClass<QXRESULT>("qxLMRefresh", [] { return qxLMRefresh(); }, kChangeResults);
  qxtest::SweepEveryClass<QXRESULT>(
      "qxSetSheetSize",
      [] {
        float width = 3.25f;
        float length = 6.0f;
        return qxSetSheetSize(&width, &length);
      },
      With(kChangeResults, {QX_ERR_SIZE_MISMATCH}));
}

TEST_F(SettingsFaultSweep, ListsAndLookUps) {
  const Codes lists = {QX_ERR_OK, QX_ERR_FAILED, QX_ERR_NO_MEMORY, QX_ERR_PRINTER_INFO, kSpoolerGone};
  qxtest::SweepEveryClass<QXRESULT>(
      "qxEnumBins",
      [] {
        char names[16 * 24];
        WORD codes[16];
        LONG count = 16;
        return qxEnumBins(names, codes, &count);
      },
      lists);
  qxtest::SweepEveryClass<QXRESULT>(
      "qxEnumSheetSizes",
      [] {
        char names[64 * 64];
        WORD codes[64];
        LONG count = 64;
        return qxEnumSheetSizes(names, codes, &count);
      },
      With(lists, {QX_ERR_NO_PRINTER}));
  qxtest::SweepEveryClass<QXRESULT>("qxSetBinByBinName", [] { return qxSetBinByBinName("Rear Feed"); },
                                    {QX_ERR_OK, QX_ERR_DEVICE, QX_ERR_BIN_NOT_FOUND});
}

TEST_F(SettingsFaultSweep, PrinterDataAndSwitching) {
  qxtest::SweepEveryClass<QXRESULT>("qxSetPrinterKeyByName", [] { return qxSetPrinterKeyByName("AUTOSIZE", 1); },
                                    {QX_ERR_OK, QX_ERR_NO_PRINTER, QX_ERR_UNKNOWN_KEY, QX_ERR_KEY_WRITE});
  qxtest::SweepEveryClass<BOOL>("qxSetNewPrinter", [] { return qxSetNewPrinter(kTicket); }, {0, 1});
  EXPECT_STREQ(g_state.printerName, kTicket);
}

}  // namespace
