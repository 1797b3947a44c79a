// Raw printing under counted faults: with call N of each class failing
// (allocation, open, spooler call) a document reaches the device whole or not
// at all, the result says which, and no job or printer handle is left.
#include <cstring>
#include <functional>
#include <string>

#include "core/state.h"
#include "fault_sweep.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::kTicket;

class RawFaultSweep : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(g_state.printerName, kTicket);
    worldJobs_ = control().Jobs().size();
  }
  // What the device received since the last look, emptied.
  std::string Taken() { return control().Received("USB001", true); }
  void ExpectWholeOrNothing(BOOL result, const std::string& document) {
    const std::string received = Taken();
    EXPECT_EQ(received, result ? document : std::string()) << "result " << result;
    EXPECT_EQ(control().Jobs().size(), worldJobs_);
    EXPECT_EQ(g_state.bypass.printer, nullptr);
  }
  size_t worldJobs_ = 0;
};

TEST_F(RawFaultSweep, DocumentInOneCall) {
  const std::string document = "\x1b" "IS ticket 7";
  qxtest::SweepEveryClass<BOOL>(
      "qxPrintBypassPrintDocument",
      [&] {
        const BOOL r = qxPrintBypassPrintDocument("ticket 7", document.data(), static_cast<LONG>(document.size()));
        ExpectWholeOrNothing(r, document);
        return r;
      },
      {0, 1}, {"open", "spool"}, [&] { Taken(); });
}

TEST_F(RawFaultSweep, DocumentInSteps) {
  qxtest::SweepEveryClass<BOOL>(
      "open, write, write, close",
      [&] {
        BOOL r = qxPrintBypassOpenPrinter("steps");
        if (r) r = qxPrintBypassWritePrinter("PART-ONE ", 9);
        if (r) r = qxPrintBypassWritePrinter("PART-TWO", 8);
        // A failed step has discarded the document or left it open: close
        // then ends an open one, so only a document whose every step passed
        // may print.
        const BOOL closed = qxPrintBypassClosePrinter();
        r = r && closed;
        const std::string received = Taken();
        EXPECT_EQ(received, r ? "PART-ONE PART-TWO" : "") << "result " << r;
        EXPECT_EQ(g_state.bypass.printer, nullptr);
        return r;
      },
      {0, 1}, {"open", "spool"}, [&] { Taken(); });
}

}  // namespace
