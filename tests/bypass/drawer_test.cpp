// The cash-drawer pulse against qxsimd: sent only while the language monitor
// reports the printer in order, as one 4-byte raw document.
#include <cstring>
#include <string>

#include "core/state.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::kNowhere;

class CashDrawer : public qxtest::LmWorld {
 protected:
  std::string Received() { return control().Received("USB001", true); }
};

TEST_F(CashDrawer, PulsesAPrinterInOrderWithOneRawDocument) {
  Received();
  ASSERT_EQ(qxPulseCashDrawerGPrinter(), 1);
  EXPECT_EQ(Received(), std::string("\x1b" "DR\x02", 4));
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
}

TEST_F(CashDrawer, SendsNothingUnlessThePrinterIsInOrder) {
  Received();
  const char* const refusing[] = {"low_paper", "paper_out", "not_ready"};
  for (const char* fault : refusing) {
    control().SetDevice("USB001", {{"faults", {fault}}});
    EXPECT_EQ(qxPulseCashDrawerGPrinter(), 0) << fault;
  }
  control().SetDevice("USB001", {{"faults", qxtest::json::array()}, {"status_word", 0x8000}});
  EXPECT_EQ(qxPulseCashDrawerGPrinter(), 0);
  // No language monitor: the drawer is never pulsed.
  control().SetDevice("USB001", {{"status_word", 0}});
  std::strcpy(g_state.pipeName, kNowhere);
  g_state.printerName[0] = '\0';
  EXPECT_EQ(qxPulseCashDrawerGPrinter(), 0);
  EXPECT_EQ(Received(), "");
  for (const auto& job : control().Jobs()) EXPECT_NE(job["document"], "Cash Drawer Command") << job.dump();
}

}  // namespace
