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

TEST_F(Qxsimctl, SetsThePrintersStatusAndEmulatorValues) {
  const CtlRun set = Ctl(dir(), "device USB001 set status-word=0x0100 temperature=-5 form-length=600 "
                                "version-detail=2019-01-01 reply-delay=30 rfid=fixed:e20010 tickets=12");
  ASSERT_EQ(set.status, 0) << set.out;
  const json d = control().Devices()[0];
  EXPECT_EQ(d["status_word"], 0x0100);
  EXPECT_EQ(d["temperature"], -5);
  EXPECT_EQ(d["form_length"], 600);
  EXPECT_EQ(d["version_detail"], "2019-01-01");
  EXPECT_EQ(d["reply_delay_ms"], 30);
  EXPECT_EQ(d["rfid"], (json{{"mode", "fixed"}, {"reply", "e20010"}}));
  EXPECT_EQ(d["counters"]["tickets"], 12);
  const CtlRun devices = Ctl(dir(), "devices");
  EXPECT_NE(devices.out.find("base status word 0x0100, -5 C, form length 600"), std::string::npos) << devices.out;
  // The one-word form of a status bit.
  EXPECT_EQ(Ctl(dir(), "device USB001 set faults=paper_out").status, 0);
  EXPECT_EQ(control().Devices()[0]["faults"], json::array({"paper_out"}));
  EXPECT_EQ(Ctl(dir(), "device USB001 set rfid=silent").status, 0);
  EXPECT_EQ(control().Devices()[0]["rfid"], (json{{"mode", "silent"}}));
  // Refused by the daemon (1) or by qxsimctl itself (2); nothing changes.
  EXPECT_EQ(Ctl(dir(), "device USB001 set rfid=loud").status, 1);
  EXPECT_EQ(Ctl(dir(), "device USB001 set status-word=0x10000").status, 2);
  EXPECT_EQ(Ctl(dir(), "device USB001 set temperature=warm").status, 2);
  EXPECT_EQ(Ctl(dir(), "device USB001 set tickets=-1").status, 2);
  EXPECT_EQ(control().Devices()[0]["status_word"], 0x0100);
}

TEST_F(Qxsimctl, ShowsAndSetsTheFlashSideOfADevice) {
  const CtlRun set = Ctl(dir(), "device LPT1: state refuse-flash=on never_restart=on fail-write=3 restart-ms=500");
  ASSERT_EQ(set.status, 0) << set.out;
  EXPECT_NE(set.out.find("faults refuse_flash,never_restart"), std::string::npos) << set.out;
  const CtlRun shown = Ctl(dir(), "device LPT1: state");
  EXPECT_NE(shown.out.find("firmware 1.03"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("mode printing, flash mode no, image bytes 0 (0 pending, 0 good, 0 bad images)"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("drawer pulses 0, restart 500 ms, port writes 0, fail write 3"), std::string::npos)
      << shown.out;
  EXPECT_EQ(control().Devices()[1]["fail_write"], 3);
  EXPECT_EQ(Ctl(dir(), "device LPT1: set restart-ms=20000 fail-write=0").status, 0);
  EXPECT_EQ(control().Devices()[1]["restart_ms"], 20000);
  EXPECT_EQ(Ctl(dir(), "device LPT1: state fail-write=-1").status, 2);
  EXPECT_EQ(Ctl(dir(), "device LPT1: state restart-ms=86400001").status, 2);
  EXPECT_EQ(Ctl(dir(), "device LPT1: state flash=on").status, 2);
}

TEST_F(Qxsimctl, ShowsSetsAndScriptsAMonitor) {
  const CtlRun set = Ctl(dir(), "monitor USB001 set crc-error=on reload-on-devmode=on reload_on_job=off "
                                "reply-delay=5 flash-block=7");
  ASSERT_EQ(set.status, 0) << set.out;
  const json state = control().MonitorState("USB001");
  EXPECT_EQ(state["crc_error"], true);
  EXPECT_EQ(state["reload_on_devmode"], true);
  EXPECT_EQ(state["reply_delay_ms"], 5);
  EXPECT_EQ(state["flash_block_ms"], 7);
  const CtlRun shown = Ctl(dir(), "monitor USB001 state");
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("crc error on, reply delay 5 ms, flash block 7 ms"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("flash idle 0/0 P Idle"), std::string::npos) << shown.out;

  EXPECT_EQ(Ctl(dir(), R"(monitor USB001 script '{"reply_code": 79, "times": 1}')").status, 0);
  EXPECT_EQ(Ctl(dir(), "monitor USB001 script clear").status, 0);
  EXPECT_EQ(Ctl(dir(), "monitor USB001 requests").out, "no requests\n");
  EXPECT_EQ(Ctl(dir(), "monitor USB001 requests --clear").status, 0);

  EXPECT_EQ(Ctl(dir(), "monitor USB001 set colour=red").status, 2);
  EXPECT_EQ(Ctl(dir(), "monitor USB001 set crc-error=maybe").status, 2);
  EXPECT_EQ(Ctl(dir(), "monitor USB001 script {").status, 2);
  EXPECT_EQ(Ctl(dir(), R"(monitor USB001 script '{"shout": 1}')").status, 1);
  EXPECT_EQ(Ctl(dir(), "monitor USB001 requests --all").status, 2);
  EXPECT_EQ(Ctl(dir(), "monitor LPT1: state").status, 1);
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
