// Opening the pipe with its reload recoveries, the probes, the pipe
// settings, and the blank document that provokes a reload.
#include <string>
#include <vector>

#include "bypass/raw.h"
#include "lm/pipe.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kTicket;

class PipeConnect : public qxtest::LmWorld {
 protected:
  // Opens a pipe nobody serves, as the current printer; counts the opens.
  QXRESULT OpenMissing() {
    qxplat_call_counts_reset();
    qxplat_sleep_counters_reset();
    const QXRESULT r = qxLMOpenPipe(qxtest::kNowhere, 20000);
    EXPECT_EQ(g_state.pipeHandle, INVALID_HANDLE_VALUE);
    return r;
  }
  std::vector<std::string> Documents() {
    std::vector<std::string> names;
    for (const json& job : control().Jobs(std::string(kTicket))) names.push_back(job["document"]);
    return names;
  }
};

TEST_F(PipeConnect, EmptyNameRunsNoRecovery) {
  EXPECT_EQ(qxLMOpenPipe("", 20000), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxLMOpenPipe(nullptr, 20000), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);
  EXPECT_EQ(qxplat_sleep_calls(), 0u);
}

TEST_F(PipeConnect, MissingPipeOnTheMakersPrinterRunsBothRecoveries) {
  control().Received("USB001", true);
  EXPECT_EQ(OpenMissing(), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 3u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 1500u);
  // The device mode was rewritten; the blank document was started, aborted
  // and never reached the printer.
  EXPECT_EQ(qxplat_call_count("SetPrinterA"), 1u);
  EXPECT_EQ(qxplat_call_count("StartDocPrinterA"), 1u);
  EXPECT_EQ(qxplat_call_count("AbortPrinter"), 1u);
  EXPECT_EQ(qxplat_call_count("EndDocPrinter"), 0u);
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_TRUE(Documents().empty());
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
}

TEST_F(PipeConnect, RefusedAbortEndsTheBlankJobForTheDeletion) {
  qxplat_fault_arm("AbortPrinter", 1, 0);
  EXPECT_EQ(OpenMissing(), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("EndDocPrinter"), 1u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 1500u);  // the pause before the deletion too
  EXPECT_TRUE(Documents().empty());
}

TEST_F(PipeConnect, OnlyTheRefreshWhenTheBlankDocumentIsNotWorthIt) {
  // Offline, unknown to the spooler, or not the maker's by the exact prefix.
  const std::vector<std::string> names = {"Qx ZDA-38 Ticket Printer", "QX-ZDA-38 Ticket Printer",
                                          "qX ZDA-38 Ticket Printer"};
  for (const std::string& name : names) {
    UseWorld(qxtest::WorldFrom([&name](json& world) {
      qxtest::PrinterIn(world, kTicket)["name"] = name;
      world["default_printer"] = name;
    }));
    std::strcpy(g_state.printerName, name.c_str());
    EXPECT_EQ(OpenMissing(), QX_ERR_NO_PIPE) << name;
    EXPECT_EQ(qxplat_call_count("CreateFileA"), 2u) << name;
    EXPECT_EQ(qxplat_call_count("SetPrinterA"), 1u) << name;
    EXPECT_EQ(qxplat_sleep_total_ms(), 500u) << name;
  }

  UseWorld("");
  std::strcpy(g_state.printerName, kTicket);
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_OFFLINE);
  EXPECT_EQ(OpenMissing(), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 2u);
  EXPECT_EQ(qxplat_call_count("StartDocPrinterA"), 0u);

  std::strcpy(g_state.printerName, "QX Not Installed");
  EXPECT_EQ(OpenMissing(), QX_ERR_NO_PIPE);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 2u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 500u);
}

TEST_F(PipeConnect, BusyPipeIsPresentButNotOpened) {
  control().SetMonitorBusy("USB001", true);
  qxLMSetPipeTimeOut(300);
  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMIsPipe(), 1);
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 3u);
  EXPECT_EQ(qxplat_call_count("SetPrinterA"), 0u);  // a busy pipe starts no recovery
  EXPECT_EQ(qxLMPtrIsPipe(kTicket), 1);
  BYTE reply[64];
  DWORD length = 0;
  EXPECT_EQ(qxLMGetPrinterName(reply, sizeof reply, &length), QX_ERR_PIPE_BUSY);
  control().SetMonitorBusy("USB001", false);
  qxLMSetPipeTimeOut(20000);
  EXPECT_EQ(qxLMGetPrinterName(reply, sizeof reply, &length), QX_ERR_OK);
}

TEST_F(PipeConnect, ProbesLeaveTheCurrentPrinterAsItWas) {
  const std::string printer = g_state.printerName;
  const std::string pipe = g_state.pipeName;
  EXPECT_EQ(qxLMIsPipe(), 1);
  EXPECT_EQ(qxLMPtrIsPipe(kTicket), 1);
  EXPECT_EQ(qxLMPtrIsPipe(kBoarding), 0);  // LPT1: has no monitor
  EXPECT_EQ(g_state.printerName, printer);
  EXPECT_EQ(g_state.pipeName, pipe);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);

  // A probe for another printer runs its recoveries on that printer.
  qxplat_call_counts_reset();
  EXPECT_EQ(qx::ProbePipe(qxtest::kNowhere, kBoarding), 0);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 3u);
  EXPECT_EQ(g_state.printerName, printer);

  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMPtrIsPipe("No Such Printer"), 0);
  EXPECT_EQ(qxLMPtrIsPipe(nullptr), 0);
  EXPECT_EQ(qxLMPtrIsPipe(std::string(128, 'Q').c_str()), 0);
  EXPECT_EQ(qx::ProbePipe(pipe.c_str(), std::string(128, 'Q').c_str()), 0);
  EXPECT_EQ(qx::ProbePipe(nullptr, kTicket), 0);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 0u);

  control().Monitor("USB001", "stop");
  EXPECT_EQ(qxLMIsPipe(), 0);
  EXPECT_EQ(g_state.printerName, printer);
}

TEST_F(PipeConnect, PipeSettings) {
  const std::string longName = std::string(qx::kPipePrefix) + std::string(300, 'x');
  EXPECT_EQ(qxLMSetPipeName(longName.c_str()), 1);
  EXPECT_EQ(std::string(g_state.pipeName), longName.substr(0, 255));
  EXPECT_EQ(qxLMSetPipeName(nullptr), 1);
  EXPECT_EQ(std::string(g_state.pipeName), longName.substr(0, 255));
  EXPECT_EQ(qxLMSetPipeTimeOut(static_cast<DWORD>(-1)), 1);
  EXPECT_EQ(g_state.pipeTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(qxLMSetStatusTimeOut(70000), 1);
  EXPECT_EQ(g_state.statusTimeout, 70000u);
}

TEST_F(PipeConnect, BlankDocumentNeverReachesThePrinter) {
  control().Received("USB001", true);
  EXPECT_EQ(qx::FinishBlankDocument(), 0);  // no document open
  ASSERT_EQ(qxPrintBypassOpenPrinter(qx::kBlankDocName), 1);
  EXPECT_EQ(qx::FinishBlankDocument(), 1);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_TRUE(Documents().empty());
  EXPECT_EQ(control().Received("USB001"), "");

  // A page that cannot be ended: the document is ended, the printer closed, 0.
  ASSERT_EQ(qxPrintBypassOpenPrinter(qx::kBlankDocName), 1);
  qxplat_fault_arm("EndPagePrinter", 1, 0);
  EXPECT_EQ(qx::FinishBlankDocument(), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 0);  // nothing left open
}

// The spooler's reloads, as qxsimd plays them: a stopped monitor comes back
// when the device mode is rewritten, or when a job starts on its port.
// Needs ControlClient::SetMonitor and MonitorState (being added to sim/).
TEST_F(PipeConnect, RecoveriesReloadAStoppedMonitor) {
  control().SetMonitor("USB001", {{"reload_on_devmode", true}, {"reload_on_job", false}});
  control().Monitor("USB001", "stop");
  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMOpenPipe(g_state.pipeName, 20000), QX_ERR_OK);
  qxLMClosePipe();
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 2u);

  control().SetMonitor("USB001", {{"reload_on_devmode", false}, {"reload_on_job", true}});
  control().Monitor("USB001", "stop");
  control().Received("USB001", true);
  qxplat_call_counts_reset();
  EXPECT_EQ(qxLMOpenPipe(g_state.pipeName, 20000), QX_ERR_OK);
  qxLMClosePipe();
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 3u);
  EXPECT_EQ(control().MonitorState("USB001")["reloads"], 2);
  EXPECT_TRUE(Documents().empty());
  EXPECT_EQ(control().Received("USB001"), "");
}

}  // namespace
