// spooler_process_test.cpp - several host processes share one spooler: a
// second process sees what the control API changed and what this process
// holds open, and handles left by a process that ended are cleaned up.
#include <sys/wait.h>

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
            "QX ZDA24 Boarding Pass Printer|LPT1:|0|0\n"
            "Office Laser MFP|IP_192.168.1.40|0|2\n");
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  control().RemovePrinter(kOffice);
  control().AddJob(kBoarding, "pass");
  EXPECT_EQ(Probe("enum"),
            "QX ZDA-38 Ticket Printer|USB001|1|0\n"
            "QX ZDA24 Boarding Pass Printer|LPT1:|0|1\n");

  // And this process sees the same as the other.
  DWORD needed = 0, count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
  ASSERT_EQ(count, 2u);
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

}  // namespace
