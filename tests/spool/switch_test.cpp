// Switching the current printer with qxSetNewPrinter, and writing the
// driver's known settings with qxSetPrinterKeyByName, against the spooler
// and language monitors of a simulated world.
#include <cstring>
#include <string>

#include "core/state.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kTicket;
using qxtest::PrinterIn;
using qxtest::WorldFrom;

constexpr char kBoardingDriver[] = "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA24.DLL";

// The fields of the current printer record a switch may rewrite.
struct Record {
  std::string printer, port, driver, pipe;
  LONG lm;
  static Record Now() {
    return {g_state.printerName, g_state.portName, g_state.driverName, g_state.pipeName, g_state.lmAvailable};
  }
  bool operator==(const Record& o) const {
    return printer == o.printer && port == o.port && driver == o.driver && pipe == o.pipe && lm == o.lm;
  }
};

class Switch : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    Attach();
  }
  json Data(const char* printer = kTicket) { return control().Printer(printer)["data"]; }
};

TEST_F(Switch, NewPrinterRefillsTheRecordAndProbesItsMonitor) {
  ASSERT_STREQ(g_state.printerName, kTicket);
  ASSERT_EQ(g_state.lmAvailable, 1);

  ASSERT_EQ(qxSetNewPrinter(kBoarding), 1);
  EXPECT_STREQ(g_state.printerName, kBoarding);
  EXPECT_STREQ(g_state.portName, "LPT1:");
  EXPECT_STREQ(g_state.driverName, kBoardingDriver);
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeLPT1:");
  EXPECT_EQ(g_state.lmAvailable, 0);  // no monitor serves LPT1:

  ASSERT_EQ(qxSetNewPrinter(kTicket), 1);
  EXPECT_STREQ(g_state.portName, "USB001");
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipeUSB001");
  EXPECT_EQ(g_state.lmAvailable, 1);  // and the probe's pipe is closed again (leak check)
}

TEST_F(Switch, TheWholeSwitchRunsUnderThePipeMutex) {
  // The probe's pipe open, and its reload recovery on a port without a
  // monitor, run inside the one hold of the pipe mutex.
  qxplat_call_counts_reset();
  qxplat_mutex_trace_start();
  ASSERT_EQ(qxSetNewPrinter(kBoarding), 1);
  qxplat_mutex_trace_stop();
  const auto events = qxplat::mutex_trace();
  const auto pipe = reinterpret_cast<uintptr_t>(g_state.pipeMutex);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().handle, pipe);
  EXPECT_EQ(events.front().acquired, 1);
  EXPECT_EQ(events.back().handle, pipe);
  EXPECT_EQ(events.back().acquired, 0);
  int depth = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].handle != pipe) continue;
    depth += events[i].acquired ? 1 : -1;
    if (i + 1 < events.size()) {
      EXPECT_GT(depth, 0) << "the pipe mutex was let go at event " << i;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 3u);  // three open attempts, all inside
  // The blank document of the recovery left nothing behind.
  EXPECT_EQ(control().Received("LPT1:"), "");
  EXPECT_TRUE(control().Jobs(std::string(kBoarding)).empty());
}

TEST_F(Switch, ThePrinterNameIsMatchedAsTheSpoolerMatchesIt) {
  // The spooler opens the printer whatever the case; the record keeps the
  // name as the caller gave it.
  ASSERT_EQ(qxSetNewPrinter("qx zda24 boarding pass printer"), 1);
  EXPECT_STREQ(g_state.printerName, "qx zda24 boarding pass printer");
  EXPECT_STREQ(g_state.portName, "LPT1:");
}

TEST_F(Switch, APrinterThatCannotBeOpenedChangesNothing) {
  const Record before = Record::Now();
  EXPECT_EQ(qxSetNewPrinter("No Such Printer"), 0);
  EXPECT_TRUE(Record::Now() == before);
  control().SetRefuseOpen(kBoarding, true);
  EXPECT_EQ(qxSetNewPrinter(kBoarding), 0);
  EXPECT_TRUE(Record::Now() == before);
}

TEST_F(Switch, NamesThatDoNotFitTheRecordAreRefusedUnopened) {
  const Record before = Record::Now();
  qxplat_call_counts_reset();
  EXPECT_EQ(qxSetNewPrinter(nullptr), 0);
  EXPECT_EQ(qxSetNewPrinter(std::string(128, 'Q').c_str()), 0);
  EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 0u);
  EXPECT_TRUE(Record::Now() == before);
  // 127 characters fit: the spooler is asked (and knows no such printer).
  EXPECT_EQ(qxSetNewPrinter(std::string(127, 'Q').c_str()), 0);
  EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 1u);
}

TEST_F(Switch, AFailedIdentityQueryLeavesNoTraceOfTheOldPort) {
  qxplat_fault_arm("GetPrinterA", 1, RPC_S_SERVER_UNAVAILABLE);
  ASSERT_EQ(qxSetNewPrinter(kBoarding), 1);
  EXPECT_TRUE(qxplat_fault_fired());
  EXPECT_STREQ(g_state.printerName, kBoarding);
  EXPECT_STREQ(g_state.portName, "");
  EXPECT_STREQ(g_state.pipeName, "\\\\.\\pipe\\QXNamedPipe");
  EXPECT_EQ(g_state.lmAvailable, 0);
}

TEST_F(Switch, KeysAreWrittenUnderTheListedName) {
  ASSERT_EQ(qxSetPrinterKeyByName("AUTOSIZE", 0), QX_ERR_OK);
  EXPECT_EQ(Data()["AUTOSIZE"], 0);
  ASSERT_EQ(qxSetPrinterKeyByName("BEEPER_CONTROL", -1), QX_ERR_OK);
  EXPECT_EQ(Data()["BEEPER_CONTROL"], 0xFFFFFFFFu);
}

TEST_F(Switch, KeysOutsideTheListOrMissingFromTheDriverAreUnknown) {
  qxplat_call_counts_reset();
  EXPECT_EQ(qxSetPrinterKeyByName("autosize", 1), QX_ERR_UNKNOWN_KEY);  // case matters
  EXPECT_EQ(qxSetPrinterKeyByName("END", 1), QX_ERR_UNKNOWN_KEY);
  EXPECT_EQ(qxSetPrinterKeyByName("", 1), QX_ERR_UNKNOWN_KEY);
  EXPECT_EQ(qxSetPrinterKeyByName(nullptr, 1), QX_ERR_UNKNOWN_KEY);
  EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 0u);
  // Listed, but the boarding printer's driver never stored it.
  ASSERT_EQ(qxSetNewPrinter(kBoarding), 1);
  EXPECT_EQ(qxSetPrinterKeyByName("BEEPER_CONTROL", 1), QX_ERR_UNKNOWN_KEY);
  EXPECT_FALSE(Data(kBoarding).contains("BEEPER_CONTROL"));
}

TEST_F(Switch, ALongerNameMatchesItsListedKeyButMustExistAsSpelled) {
  EXPECT_EQ(qxSetPrinterKeyByName("AUTOSIZE2", 5), QX_ERR_UNKNOWN_KEY);
  EXPECT_EQ(Data()["AUTOSIZE"], 1);
  EXPECT_FALSE(Data().contains("AUTOSIZE2"));
  // When the longer name exists, the value goes to the listed name.
  Detach();
  UseWorld(WorldFrom([](json& w) { PrinterIn(w, kTicket)["data"]["AUTOSIZE2"] = 9; }));
  Attach();
  ASSERT_EQ(qxSetPrinterKeyByName("AUTOSIZE2", 5), QX_ERR_OK);
  EXPECT_EQ(Data()["AUTOSIZE"], 5);
  EXPECT_EQ(Data()["AUTOSIZE2"], 9);
}

TEST_F(Switch, RefusedWritesAndUnopenablePrinters) {
  control().ChangePrinter(kTicket, {{"refuse_set", true}});
  qxplat_debug_capture_clear();
  EXPECT_EQ(qxSetPrinterKeyByName("AUTOSIZE", 0), QX_ERR_KEY_WRITE);
  EXPECT_EQ(qxplat::debug_captured(),
            (std::vector<std::string>{"Write Print data to registry failed Dec = 5 Hex = 5\r\n"}));
  EXPECT_EQ(Data()["AUTOSIZE"], 1);
  control().SetRefuseOpen(kTicket, true);
  EXPECT_EQ(qxSetPrinterKeyByName("AUTOSIZE", 0), QX_ERR_NO_PRINTER);
}

}  // namespace
