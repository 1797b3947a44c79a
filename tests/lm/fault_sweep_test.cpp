// Every pipe export under counted faults: with call N of each class failing
// (allocation, open, spooler call) it gives one of its own results and
// leaves nothing open, and the current printer as it was.
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "fault_sweep.h"
#include "lm_world.h"

namespace {

using qx::g_state;
using qxtest::kBoarding;
using qxtest::kTicket;

using Codes = std::set<QXRESULT>;
using Flags = std::set<BOOL>;

class PipeFaultSweep : public qxtest::LmWorld {
 protected:
  void SetUp() override {
    qxtest::LmWorld::SetUp();
    worldJobs_ = control().Jobs().size();  // the world file's own, which never print
  }
  // Sweeps an export returning a result code over every class, the ticket
  // printer's monitor answering, then stopped (so that the reload
  // recoveries run too).
  void SweepCodes(const char* name, const std::function<QXRESULT()>& operation, const Codes& allowed) {
    for (bool stopped : {false, true}) {
      for (const std::string& what : qxtest::SweptClasses()) {
        SCOPED_TRACE(std::string(name) + (stopped ? ", monitor stopped, " : ", ") + what);
        const auto outcome =
            qxtest::SweepFaults<QXRESULT>(what, operation, allowed, [this, stopped] { Settle(!stopped); });
        EXPECT_TRUE(outcome.finished);
        // Every export opens the pipe; with the monitor stopped the reload
        // recovery calls the spooler too. A sweep that never fired proves nothing.
        if (what == "open" || (stopped && what == "spool")) {
          EXPECT_GT(outcome.calls, 0u);
        }
        EXPECT_STREQ(g_state.printerName, kTicket);
        EXPECT_STREQ(g_state.portName, "USB001");
      }
    }
    Settle(true);
  }
  void SweepFlag(const char* name, const std::function<BOOL()>& operation) {
    SweepCodes(name, [&] { return static_cast<QXRESULT>(operation()); }, {0, 1});
  }
  // Puts the ticket printer's monitor in the state a run expects (a reload
  // recovery restarts a stopped one) and checks no document was left queued.
  void Settle(bool running) {
    for (const auto& monitor : control().Monitors()) {
      if (monitor["port"] == "USB001" && monitor["running"].get<bool>() != running) {
        control().Monitor("USB001", running ? "start" : "stop");
      }
    }
    EXPECT_EQ(control().Jobs().size(), worldJobs_) << "a document was left queued";
  }

  size_t worldJobs_ = 0;
};

constexpr QXRESULT kPipeFailures[] = {QX_ERR_NO_PIPE, QX_ERR_PIPE_BUSY, QX_ERR_FAILED};

Codes With(std::initializer_list<QXRESULT> extra) {
  Codes codes(std::begin(kPipeFailures), std::end(kPipeFailures));
  codes.insert(extra.begin(), extra.end());
  return codes;
}

TEST_F(PipeFaultSweep, StatusAndInformationQueries) {
  SweepCodes("qxLMGetStatus", [] {
    BYTE reply[1024];
    DWORD length = 0;
    return qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length);
  }, With({QX_ERR_OK}));
  SweepCodes("qxLMGetOutOfPaperStatus", [] {
    BOOL flag = 0;
    return qxLMGetOutOfPaperStatus(&flag);
  }, With({QX_ERR_OK}));
  SweepCodes("qxLMGetCRCError", [] {
    BOOL flag = 0;
    return qxLMGetCRCError(&flag);
  }, With({QX_ERR_OK}));
  SweepCodes("qxLMPtrGetStatus", [] {
    BYTE reply[1024];
    DWORD length = 0;
    return qxLMPtrGetStatus(kBoarding, QX_REQ_IS, reply, sizeof reply, &length);
  }, With({}));
}

TEST_F(PipeFaultSweep, CommandsAndRfid) {
  // The RFID runs without a fault expect the monitor's answer; the runs with
  // one wait out the read window, so the clock is slowed only 100 times.
  qxtest::PatientClock patient(qxplat_clock_scale() / 100);
  SweepCodes("qxLMSetHeartBeat", [] { return qxLMSetHeartBeat(1); }, With({QX_ERR_OK}));
  SweepCodes("qxLMSetRegistryKey", [] {
    char text[64];
    LONG length = 0;
    return qxLMSetRegistryKey("AUTOSIZE", 1, text, sizeof text, &length);
  }, With({QX_ERR_OK}));
  SweepCodes("qxLMRFIDPrinter", [] {
    const BYTE request[] = {1, 2};
    BYTE reply[64];
    DWORD length = 0;
    return qxLMRFIDPrinter(request, sizeof request, reply, sizeof reply, &length, 0);
  }, With({QX_ERR_OK, QX_ERR_NO_RESPONSE, QX_ERR_PIPE_TIMEOUT}));
  SweepCodes("qxLMPtrRFIDPrinter", [] {
    const BYTE request[] = {1, 2};
    BYTE reply[64];
    DWORD length = 0;
    return qxLMPtrRFIDPrinter(kTicket, request, sizeof request, reply, sizeof reply, &length, 0);
  }, With({QX_ERR_OK, QX_ERR_NO_RESPONSE, QX_ERR_PIPE_TIMEOUT}));
  SweepCodes("qxLMRefresh", [] { return qxLMRefresh(); },
             {QX_ERR_OK, QX_ERR_NO_PRINTER, QX_ERR_FAILED, QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY, QX_ERR_SETPRINTER,
              QX_ERR_PRINTER_INFO});
}

TEST_F(PipeFaultSweep, ProbesOpensAndSwitches) {
  SweepFlag("qxLMIsPipe", [] { return qxLMIsPipe(); });
  SweepFlag("qxLMPtrIsPipe", [] { return qxLMPtrIsPipe(kTicket); });
  SweepCodes("qxLMOpenPipe", [] {
    const QXRESULT r = qxLMOpenPipe(g_state.pipeName, 1000);
    qxLMClosePipe();
    return r;
  }, With({QX_ERR_OK}));
  SweepFlag("qxSetNewPrinter", [] { return qxSetNewPrinter(kTicket); });
}

}  // namespace
