// Port acquisition and release against a simulated spooler: which queues
// move to "FILE:" and back, what blocks the move, the pipe road, the detach
// hook, and that no path leaves a queue on "FILE:" behind or a block alive.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "port/port.h"
#include "port_world.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kBoarding;
using qxtest::kKiosk;
using qxtest::kLobby;
using qxtest::kTicket;

const std::vector<std::string> kAllOnLpt1 = {"LPT1:", "LPT1:", "LPT1:"};
const std::vector<std::string> kAllOnFile = {"FILE:", "FILE:", "FILE:"};

class Acquire : public qxtest::PortWorld {
 protected:
  std::vector<std::string> SharedPorts() { return Ports({kBoarding, kKiosk, kLobby}); }
};

TEST_F(Acquire, EveryQueueOnThePortMovesAndComesBack) {
  const qxplat::LiveCounts before;
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  EXPECT_EQ(SharedPorts(), kAllOnFile);
  EXPECT_EQ(PortOf(kTicket), "USB001");
  EXPECT_EQ(g_state.isolation.isolated, 1);
  EXPECT_EQ(g_state.lmAvailable, 0);
  EXPECT_TRUE(Logged("\nDLL The port to be moved = LPT1:"));
  EXPECT_TRUE(Logged(std::string("\nDLL Printer isolated = ") + kLobby));
  EXPECT_TRUE(Logged(std::string("\nDLL Call to Isolate Printer = ") + kKiosk));
  EXPECT_TRUE(Logged(std::string("\nDLL Printer NOT moved = ") + kTicket));
  EXPECT_TRUE(Logged("\nDLL - qxIsolatePort. .. Second call to Get Printer passed"));

  qxplat_debug_capture_clear();
  ASSERT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
  EXPECT_TRUE(RecordEmpty());
  EXPECT_TRUE(Logged(std::string("\nDLL Printer restored = ") + kBoarding));
  EXPECT_TRUE(Logged("\nDLL - qxRestoreNTPort. .. Second call to Get Printer passed"));
  EXPECT_TRUE(Logged("\nDLL Isolate structures freed"));
  EXPECT_EQ(before.Leaks(), "");
}

// The first lines of an acquisition, in order, up to the enumeration.
TEST_F(Acquire, LogsTheEnumeration) {
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  const std::vector<std::string> lines = qxplat::debug_captured();
  const auto at = std::find(lines.begin(), lines.end(), "\nDLL 1st Enum return value = 0");
  ASSERT_NE(at, lines.end());
  ASSERT_GE(lines.end() - at, 5);
  EXPECT_EQ(at[1].rfind("\nDLL Amount of memory needed for EnumPrinters = ", 0), 0u);
  EXPECT_EQ(at[2], "\nDLL Length of name = 30");
  EXPECT_EQ(at[3], "\nDLL 2nd Enum return value = 1");
  EXPECT_EQ(at[4], "\nDLL Number of printers Enumerated = " + std::to_string(control().Printers().size()));
}

TEST_F(Acquire, OneJobOnThePortBlocksEveryPrinterOnIt) {
  // A job on another port does not count.
  control().AddJob(kTicket, "elsewhere");
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  ASSERT_EQ(qxReleasePort(), QX_ERR_OK);

  control().AddJob(kLobby, "waiting");
  for (const char* printer : {kBoarding, kKiosk, kLobby}) {
    EXPECT_EQ(qxAcquirePort(printer), QX_ERR_JOBS_PENDING) << printer;
  }
  EXPECT_TRUE(Logged("\nDLL Printer-port to be moved has spooled job(s)"));
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
  EXPECT_TRUE(RecordEmpty());
}

TEST_F(Acquire, NameMissingOrUnknown) {
  EXPECT_EQ(qxAcquirePort(nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxAcquirePort(""), QX_ERR_NULL_ARG);
  EXPECT_TRUE(Logged("\nDLL Error - Printer name NULL or length is 0!"));
  EXPECT_EQ(qxAcquirePort("QX zda24 boarding pass printer"), QX_ERR_NO_PRINTER);  // exact case
  EXPECT_TRUE(Logged("\nDLL ERROR could not find printer name in enumeration"));
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
  EXPECT_TRUE(RecordEmpty());
}

TEST_F(Acquire, TwiceGivesBackFirstThenMovesAfresh) {
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  qxplat_debug_capture_clear();
  ASSERT_EQ(qxAcquirePort(kKiosk), QX_ERR_OK);
  EXPECT_TRUE(Logged("\nDLL We did a restore All before an Isolate all"));
  // The second snapshot saw the queues on their own port, not on "FILE:".
  EXPECT_EQ(SharedPorts(), kAllOnFile);
  ASSERT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
}

TEST_F(Acquire, DetachGivesThePortBack) {
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  Detach();
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
  EXPECT_TRUE(RecordEmpty());
  Attach();
}

// A queue that cannot be moved ends the acquisition, and those moved before
// it go back: the library never holds a port the spooler may still print to.
TEST_F(Acquire, QueueThatCannotMoveUndoesTheOthers) {
  control().ChangePrinter(kLobby, {{"refuse_set", ERROR_ACCESS_DENIED}});  // the last of the three
  EXPECT_EQ(qxAcquirePort(kBoarding), QX_ERR_SETPRINTER);
  EXPECT_TRUE(Logged(std::string("\nDLL Printer isolated = ") + kKiosk));
  EXPECT_EQ(SharedPorts(), kAllOnLpt1);
  EXPECT_TRUE(RecordEmpty());
}

// A queue that cannot be given back stays in the record: release says so, and
// the next release (or the detach) gives it back.
TEST_F(Acquire, QueueThatCannotComeBackIsTriedAgain) {
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  control().ChangePrinter(kKiosk, {{"refuse_set", ERROR_ACCESS_DENIED}});
  EXPECT_EQ(qxReleasePort(), QX_ERR_SETPRINTER);
  EXPECT_EQ(OnFile(), std::vector<std::string>{kKiosk});
  EXPECT_EQ(g_state.isolation.isolated, 1);
  // A new acquisition must not take a snapshot with that queue on "FILE:".
  EXPECT_EQ(qxAcquirePort(kBoarding), QX_ERR_SETPRINTER);
  EXPECT_EQ(OnFile(), std::vector<std::string>{kKiosk});
  control().ChangePrinter(kKiosk, {{"refuse_set", 0}});
  Detach();
  EXPECT_TRUE(OnFile().empty());
  Attach();
}

TEST_F(Acquire, DeletedPrinterIsNotWaitedFor) {
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  control().RemovePrinter(kLobby);
  EXPECT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_TRUE(OnFile().empty());
  EXPECT_TRUE(RecordEmpty());
}

TEST_F(Acquire, UsbCurrentPortMovesNothing) {
  UseWorld(
      qxtest::SharedLptWorld([](json& w) { qxtest::PrinterIn(w, kTicket)["driver"]["language_monitor"] = nullptr; }));
  MakeCurrent(kTicket);
  ASSERT_EQ(g_state.lmAvailable, 0);
  EXPECT_EQ(qxAcquirePort(kTicket), QX_ERR_OK);
  EXPECT_TRUE(Logged("\nDLL About to test USB001 for USB"));
  EXPECT_TRUE(Logged("\nDLL Exit ACQUIRE because we are USB"));
  EXPECT_TRUE(OnFile().empty());
  EXPECT_TRUE(RecordEmpty());
}

TEST_F(Acquire, NotNtMovesNothing) {
  qxplat_set_os_version(4, 10, 2222, 1, " A ");
  Detach();
  Attach();
  MakeCurrent(kBoarding);
  const uint32_t job = control().AddJob(kKiosk, "waiting");
  EXPECT_EQ(qxAcquirePort(kBoarding), QX_ERR_JOBS_PENDING);  // the jobs test still runs
  control().RemoveJob(job);
  EXPECT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  EXPECT_TRUE(Logged("\nDLL Non-NT exit QX_ERR_OK"));
  EXPECT_TRUE(OnFile().empty());
  EXPECT_TRUE(RecordEmpty());
  qxplat_debug_capture_clear();
  EXPECT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_FALSE(Logged("\nDLL Isolate structures freed"));
  qxplat_reset_os_version();
}

class AcquireThroughMonitor : public qxtest::PortWorld {
 protected:
  void SetUp() override {
    PortWorld::SetUp();
    MakeCurrent(kTicket);
  }
};

TEST_F(AcquireThroughMonitor, TakesNoPortAndLooksOnlyAtTheCurrentPrinter) {
  EXPECT_EQ(qxAcquirePort(nullptr), QX_ERR_OK);
  EXPECT_EQ(g_state.lmAvailable, 1);
  EXPECT_TRUE(OnFile().empty());
  EXPECT_TRUE(RecordEmpty());
  // Jobs of the current printer count, whatever printer is named.
  control().AddJob(kTicket, "waiting");
  EXPECT_EQ(qxAcquirePort(kBoarding), QX_ERR_JOBS_PENDING);
  EXPECT_TRUE(OnFile().empty());
}

TEST_F(AcquireThroughMonitor, ReleaseOnlyClearsTheMark) {
  ASSERT_EQ(qxAcquirePort(kTicket), QX_ERR_OK);
  qxplat_debug_capture_clear();
  EXPECT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_EQ(g_state.lmAvailable, 0);
  EXPECT_EQ(qxplat::debug_captured(),
            std::vector<std::string>{"************ DLL-DLL-DLL-DLL-DLL-DLL-DLL *************** qxRelease Port\r\n"});
}

// Queues moved while the monitor of another printer later answers are given
// back all the same.
TEST_F(AcquireThroughMonitor, MovedQueuesComeBackWhateverTheMark) {
  MakeCurrent(kBoarding);
  ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
  MakeCurrent(kTicket);
  ASSERT_EQ(g_state.lmAvailable, 1);
  EXPECT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_TRUE(OnFile().empty());
  EXPECT_EQ(g_state.lmAvailable, 0);
}

TEST_F(Acquire, SpoolingStatus) {
  BOOL pending = 7;
  EXPECT_EQ(qxGetSpoolingStatus(nullptr), QX_ERR_NULL_ARG);
  ASSERT_EQ(qxGetSpoolingStatus(&pending), QX_ERR_OK);
  EXPECT_EQ(pending, 0);
  control().AddJob(kBoarding, "one");
  ASSERT_EQ(qxGetSpoolingStatus(&pending), QX_ERR_OK);
  EXPECT_EQ(pending, 1);
  std::strcpy(g_state.printerName, "QX No Such Printer");
  EXPECT_EQ(qxGetSpoolingStatus(&pending), QX_ERR_FAILED);
  MakeCurrent(kBoarding);
}

// Under every counted fault: acquisition either holds the port with every
// queue moved or holds nothing; release and detach leave nothing on "FILE:"
// (a release that failed keeps what it could not give back and the next one
// gives it back); no block or handle outlives them.
TEST_F(Acquire, NoPathLeavesAQueueBehind) {
  const std::set<QXRESULT> allowed = {QX_ERR_OK,        QX_ERR_NO_PRINTER,   QX_ERR_FAILED,     QX_ERR_GETPRINTER,
                                      QX_ERR_NO_MEMORY, QX_ERR_PRINTER_INFO, QX_ERR_SETPRINTER, QX_ERR_NO_PIPE};
  for (const std::string& what : qxtest::SweptClasses()) {
    SCOPED_TRACE(what);
    qxtest::SweepFaults<QXRESULT>(
        what,
        [&]() -> QXRESULT {
          const QXRESULT acquired = qxAcquirePort(kBoarding);
          const std::vector<std::string> ports = SharedPorts();
          if (acquired == QX_ERR_OK) {
            EXPECT_EQ(ports, kAllOnFile);
          } else {
            EXPECT_EQ(ports, kAllOnLpt1);
            EXPECT_TRUE(RecordEmpty());
          }
          QXRESULT released = qxReleasePort();
          if (released != QX_ERR_OK) released = qxReleasePort();  // a fault fires once
          EXPECT_EQ(released, QX_ERR_OK);
          EXPECT_EQ(SharedPorts(), kAllOnLpt1);
          EXPECT_TRUE(RecordEmpty());
          return acquired;
        },
        allowed);
  }
}

TEST_F(Acquire, DetachUnderFaultsLeavesNothingOnFile) {
  for (const std::string& what : {std::string("spool"), std::string("open"), std::string("alloc")}) {
    for (unsigned n = 1; n <= 40; ++n) {
      SCOPED_TRACE(what + " " + std::to_string(n));
      ASSERT_EQ(qxAcquirePort(kBoarding), QX_ERR_OK);
      qxplat_fault_arm(what.c_str(), n, 0);
      Detach();
      const bool fired = qxplat_fault_fired() > 0;
      qxplat_fault_clear();
      EXPECT_TRUE(OnFile().empty());
      Attach();
      MakeCurrent(kBoarding);
      if (!fired) break;
    }
  }
}

}  // namespace
