// spooler_process_test.cpp - several host processes share one spooler: a
// second process sees what the control API changed and what this process
// holds open, handles left by a process that ended are cleaned up, and a
// handle is no handle in any other process.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;

// Runs the probe (it inherits QX_SIM_DIR); its output, or "exit N" on failure.
std::string Probe(const std::string& args) {
  const std::string command = std::string(SPOOLER_PROBE_PATH) + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string out;
  char chunk[512];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "exit " + std::to_string(WEXITSTATUS(status));
  return out;
}

class TwoProcesses : public qxsim::SimFixture {};

TEST_F(TwoProcesses, SeeTheSameSpoolerState) {
  EXPECT_EQ(Probe("enum"),
            "QX ZDA-38 Ticket Printer|USB001|0|0\n"
            "QX KTP-58 Kiosk Printer|LPT2:|0|0\n"
            "QX ZDA24 Boarding Pass Printer|LPT1:|0|0\n"
            "Office Laser MFP|IP_192.168.1.40|0|2\n");
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  control().RemovePrinter(kOffice);
  control().AddJob(kBoarding, "pass");
  EXPECT_EQ(Probe("enum"),
            "QX ZDA-38 Ticket Printer|USB001|1|0\n"
            "QX KTP-58 Kiosk Printer|LPT2:|0|0\n"
            "QX ZDA24 Boarding Pass Printer|LPT1:|0|1\n");

  // And this process sees the same as the other.
  DWORD needed = 0, count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data())[0].Status,
            static_cast<DWORD>(PRINTER_STATUS_PAUSED));
}

TEST_F(TwoProcesses, HandlesOfAnEndedProcessAreCleanedUp) {
  Printer mine(kTicket);
  ASSERT_NE(mine.h, nullptr);
  EXPECT_EQ(Probe("open \"QX ZDA-38 Ticket Printer\""), "opened\n");
  EXPECT_EQ(control().Printer(kTicket)["open_handles"], 1) << "only this process's handle is left";
  EXPECT_EQ(Probe("open \"No Such Printer\""), "error 1801\nexit 1");
}

// A forked child holds a copy of this process's handle table, so it names
// the spooler's handle number exactly as this process does; the spooler tells
// it the handle is not its own, and this process's document goes on.
TEST_F(TwoProcesses, AHandleIsNoHandleInAnotherProcess) {
  Printer mine(kTicket);
  ASSERT_NE(mine.h, nullptr);
  DOC_INFO_1A doc{const_cast<LPSTR>("Mine"), nullptr, const_cast<LPSTR>("RAW")};
  ASSERT_NE(StartDocPrinterA(mine.h, 1, reinterpret_cast<BYTE*>(&doc)), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WritePrinter(mine.h, const_cast<char*>("AB"), 2, &written));

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Exit status: 0 when every call failed with ERROR_INVALID_HANDLE, else
    // the number of the first call that did not.
    DWORD n = 0;
    int step = 1;
    if (WritePrinter(mine.h, const_cast<char*>("XX"), 2, &n) || GetLastError() != ERROR_INVALID_HANDLE) _exit(step);
    ++step;
    if (EndDocPrinter(mine.h) || GetLastError() != ERROR_INVALID_HANDLE) _exit(step);
    ++step;
    if (AbortPrinter(mine.h) || GetLastError() != ERROR_INVALID_HANDLE) _exit(step);
    ++step;
    ClosePrinter(mine.h);  // the child's copy goes; the spooler must not close the parent's
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "call " << WEXITSTATUS(status) << " of the child was not refused";

  ASSERT_TRUE(WritePrinter(mine.h, const_cast<char*>("CD"), 2, &written)) << GetLastError();
  ASSERT_TRUE(EndDocPrinter(mine.h)) << GetLastError();
  EXPECT_EQ(control().Received("USB001"), "ABCD");
}

}  // namespace
