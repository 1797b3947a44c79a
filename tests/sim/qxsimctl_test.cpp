// qxsimctl_test.cpp - qxsimctl as a person or a script uses it against a
// running world: readable listings, --json replies, changes, and its exit
// statuses for refusals and usage errors.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace {

using nlohmann::json;

struct CtlRun {
  int status;
  std::string out;
};

// Runs qxsimctl with args (already quoted for the shell) against the fixture's world.
CtlRun Ctl(const std::string& dir, const std::string& args) {
  const std::string command = std::string(QXSIMCTL_PATH) + " --dir " + dir + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  CtlRun run{-1, ""};
  if (pipe == nullptr) return run;
  char chunk[512];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class Qxsimctl : public qxsim::SimFixture {};

TEST_F(Qxsimctl, ListsPrintersForAPerson) {
  const CtlRun run = Ctl(dir(), "printers");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("QX ZDA-38 Ticket Printer  (default)\n  port      USB001\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  monitor   QX Language Monitor, QXLM 2.0.0.4\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Office Laser MFP\n"), std::string::npos) << run.out;
}

TEST_F(Qxsimctl, ShowsWhatADeviceReceivedAndSetsRefusals) {
  EXPECT_EQ(Ctl(dir(), "device USB001 received").out, "USB001 received 0 bytes\n");
  EXPECT_EQ(Ctl(dir(), "device LPT7: received").status, 1);
  EXPECT_EQ(Ctl(dir(), "device USB001 received hex").status, 2);
  const CtlRun set = Ctl(dir(), "printer 'QX ZDA-38 Ticket Printer' set refuse-set=on refuse-write=21 "
                                "refuse-start-doc=off refuse-delete=5");
  EXPECT_EQ(set.status, 0) << set.out;
  const json p = control().Printer("QX ZDA-38 Ticket Printer");
  EXPECT_EQ(p["refuse_set"], 5);
  EXPECT_EQ(p["refuse_write"], 21);
  EXPECT_EQ(p["refuse_start_doc"], 0);
  EXPECT_EQ(p["refuse_delete"], 5);
}

TEST_F(Qxsimctl, JsonIsTheDaemonsReply) {
  const CtlRun run = Ctl(dir(), "--json monitors");
  ASSERT_EQ(run.status, 0) << run.out;
  const json reply = json::parse(run.out);
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["monitors"][0]["port"], "USB001");
}

TEST_F(Qxsimctl, ChangesAPrinterAndResets) {
  EXPECT_EQ(Ctl(dir(), "printer 'QX ZDA-38 Ticket Printer' set status=offline,paper_out refuse-open=on").status, 0);
  const json p = control().Printer("QX ZDA-38 Ticket Printer");
  EXPECT_EQ(p["status"], json::array({"paper_out", "offline"}));
  EXPECT_EQ(p["refuse_open"], 5);
  EXPECT_EQ(Ctl(dir(), "printer 'QX ZDA-38 Ticket Printer' set status=0x10").status, 0);
  EXPECT_EQ(control().Printer("QX ZDA-38 Ticket Printer")["status"], json::array({"paper_out"}));
  EXPECT_EQ(Ctl(dir(), "reset").out, "ok\n");
  EXPECT_EQ(control().Printer("QX ZDA-38 Ticket Printer")["status"], json::array());
}

TEST_F(Qxsimctl, MonitorAndDeviceCommands) {
  EXPECT_EQ(Ctl(dir(), "monitor USB001 busy on").status, 0);
  EXPECT_EQ(control().Monitors()[0]["busy"], true);
  EXPECT_EQ(Ctl(dir(), "device USB001 set firmware=1.31 faults=jam").status, 0);
  EXPECT_EQ(control().Devices()[0]["faults"], json::array({"jam"}));
  const CtlRun jobs = Ctl(dir(), "jobs");
  EXPECT_NE(jobs.out.find("Daily sales report  [printing]"), std::string::npos) << jobs.out;
}

TEST_F(Qxsimctl, RefusalsAndUsageErrorsHaveTheirOwnExitStatus) {
  const CtlRun refused = Ctl(dir(), "printer Nobody set status=1");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("no printer named \"Nobody\""), std::string::npos) << refused.out;
  EXPECT_EQ(Ctl(dir(), "monitor USB001 dance").status, 2);
  EXPECT_EQ(Ctl(dir(), "printer X set colour=red").status, 2);
  EXPECT_EQ(Ctl(dir(), "").status, 2);
  const CtlRun nobody = Ctl(dir() + "/nowhere", "printers");
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.out.find("no qxsimd answers at"), std::string::npos) << nobody.out;
}

TEST_F(Qxsimctl, StopEndsTheDaemon) {
  EXPECT_EQ(Ctl(dir(), "stop").status, 0);
  EXPECT_TRUE(world().Stop()) << world().Log();
}

}  // namespace
