// Port reassignment of the current printer through the spooler.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "port_world.h"

namespace {

using qx::g_state;
using qxtest::kBoarding;
using qxtest::kTicket;

class Reassign : public qxtest::PortWorld {};

TEST_F(Reassign, NumberChoosesAParallelPortByItsLowByte) {
  const std::vector<std::pair<DWORD, std::string>> cases = {
      {2, "LPT2:"}, {0, "LPT1:"}, {3, "LPT3:"}, {1, "LPT1:"}, {0x102, "LPT2:"}, {4, "LPT1:"}, {0x103, "LPT3:"}};
  for (const auto& [number, port] : cases) {
    EXPECT_EQ(qxSetNTPort(number), QX_ERR_OK) << number;
    EXPECT_EQ(PortOf(kBoarding), port) << number;
  }
  // The library's record of the current port stays as it was.
  EXPECT_STREQ(g_state.portName, "LPT1:");
}

TEST_F(Reassign, LogsEachStep) {
  ASSERT_EQ(qxSetNTPort(2), QX_ERR_OK);
  const std::vector<std::string> lines = qxplat::debug_captured();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "\nDLL - qxSeTPort. .. Open Printer passed - Printer = ");
  EXPECT_EQ(lines[1], kBoarding);
  EXPECT_EQ(lines[2].rfind("\nDLL - qxSetNTPort... Get printer needs ", 0), 0u);
  EXPECT_NE(lines[2].find(" bytes for PRINTER_INFO_2"), std::string::npos);
  EXPECT_EQ(lines[3], "\nDLL - qxSetNTPort. .. Memory allocation for pinfo 2 structure passed");
  EXPECT_EQ(lines[4], "\nDLL - qxSetNTPort. .. Second call to Get Printer passed");
}

TEST_F(Reassign, MonitorMarkStopsOnlyTheNumberedForm) {
  g_state.lmAvailable = 1;
  EXPECT_EQ(qxSetNTPort(2), QX_ERR_OK);
  EXPECT_EQ(PortOf(kBoarding), "LPT1:");
  EXPECT_TRUE(qxplat::debug_captured().empty());
  EXPECT_EQ(qxSetNTPortAscii("COM1:"), QX_ERR_OK);
  EXPECT_EQ(PortOf(kBoarding), "COM1:");
  g_state.lmAvailable = 0;
}

// A queue moved by hand is no business of the isolation record.
TEST_F(Reassign, NamedPortToFileIsNotUndoneByRelease) {
  ASSERT_EQ(qxSetNTPortAscii("FILE:"), QX_ERR_OK);
  EXPECT_TRUE(RecordEmpty());
  EXPECT_EQ(qxReleasePort(), QX_ERR_OK);
  EXPECT_EQ(PortOf(kBoarding), "FILE:");
  ASSERT_EQ(qxSetNTPortAscii("LPT1:"), QX_ERR_OK);
}

TEST_F(Reassign, FailuresGiveTheirCodes) {
  EXPECT_EQ(qxSetNTPortAscii(nullptr), QX_ERR_NULL_ARG);
  qxplat_fault_arm("SetPrinterA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxSetNTPort(2), QX_ERR_SETPRINTER);
  qxplat_fault_clear();
  qxplat_fault_arm("GetPrinterA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxSetNTPort(2), QX_ERR_GETPRINTER);
  qxplat_fault_clear();
  EXPECT_EQ(PortOf(kBoarding), "LPT1:");
  std::strcpy(g_state.printerName, "QX No Such Printer");
  EXPECT_EQ(qxSetNTPort(2), ERROR_INVALID_PRINTER_NAME);  // the Windows error, as it is
  EXPECT_EQ(qxSetNTPortAscii("LPT2:"), ERROR_INVALID_PRINTER_NAME);
  MakeCurrent(kBoarding);
}

TEST_F(Reassign, ReleasesEverythingOnEveryPath) {
  qxtest::SweepEveryClass<QXRESULT>(
      "qxSetNTPort", [] { return qxSetNTPort(3); },
      {QX_ERR_OK, QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY, QX_ERR_FAILED, QX_ERR_SETPRINTER,
       static_cast<QXRESULT>(ERROR_NOT_ENOUGH_MEMORY), static_cast<QXRESULT>(ERROR_INVALID_PRINTER_NAME)},
      {"open", "spool", "alloc"}, [this] { ASSERT_EQ(qxSetNTPortAscii("LPT1:"), QX_ERR_OK); });
  EXPECT_EQ(PortOf(kTicket), "USB001");
}

}  // namespace
