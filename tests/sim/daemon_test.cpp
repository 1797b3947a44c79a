// daemon_test.cpp - qxsimd as a process and its control API: start and
// readiness, the runtime folder, clean stops, inspection, run-time changes
// (each refused change leaving the world as it was) and reset.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace {

using nlohmann::json;
using qxsim::ControlError;
using qxsim::SimFixture;
using qxsim::SimWorld;

constexpr const char* kTicket = "QX ZDA-38 Ticket Printer";
constexpr const char* kBoarding = "QX ZDA24 Boarding Pass Printer";

class Daemon : public SimFixture {};

// Sockets, markers, the log the fixture keeps, the folder of the
// platform's named pipes (the language monitors serve theirs there) and the
// drive folders of the world's files.
TEST_F(Daemon, ServesOnlyInsideAPrivateFolder) {
  struct stat st;
  ASSERT_EQ(stat(dir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "spooler.sock" || name == "control.sock" || name == "ports.sock" || name == "qxsimd.pid" ||
                name == "qxsimd.ready" || name == "qxsimd.log" || name == "pipes" || name == "drives")
        << name;
  }
  ASSERT_EQ(lstat((dir() + "/drives").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const json status = control().Status();
  EXPECT_EQ(status["pid"], world().pid());
  EXPECT_EQ(status["source"], "embedded default");
  EXPECT_EQ(status["printers"], 4);
}

TEST_F(Daemon, StopRequestEndsItAndRemovesItsSockets) {
  control().Stop();
  EXPECT_TRUE(world().Stop()) << world().Log();
  EXPECT_FALSE(std::filesystem::exists(dir() + "/spooler.sock"));
  EXPECT_FALSE(std::filesystem::exists(dir() + "/control.sock"));
  EXPECT_FALSE(std::filesystem::exists(dir() + "/qxsimd.ready"));
  EXPECT_THROW(control().Status(), ControlError);
}

TEST_F(Daemon, ASecondDaemonForTheSameFolderRefusesToStart) {
  const std::string command = std::string(QXSIMD_PATH) + " --dir " + dir() + " 2>&1";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof chunk, out)) text.append(chunk, n);
  EXPECT_EQ(WEXITSTATUS(pclose(out)), 1);
  EXPECT_NE(text.find("another qxsimd serves this folder"), std::string::npos) << text;
  EXPECT_EQ(control().Status()["pid"], world().pid()) << "the first one serves on";
}

TEST(DaemonStart, ARefusedWorldReportsTheDaemonsMessage) {
  std::string error;
  auto world = SimWorld::Start(R"({"printers": 3})", &error);
  EXPECT_EQ(world, nullptr);
  EXPECT_NE(error.find("printers: must be a list"), std::string::npos) << error;
}

TEST(DaemonStart, StartsQuickly) {
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) {
    std::string error;
    auto world = SimWorld::Start("", &error);
    ASSERT_NE(world, nullptr) << error;
  }
  const auto each = (std::chrono::steady_clock::now() - begin) / 10;
  // Generous, for sanitizer builds on a loaded machine; typically a few ms.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(each).count(), 500);
}

TEST_F(Daemon, InspectsPrintersPortsDevicesJobsAndMonitors) {
  const json printers = control().Printers();
  ASSERT_EQ(printers.size(), 4u);
  EXPECT_EQ(printers[0]["name"], kTicket);
  EXPECT_EQ(printers[0]["default"], true);
  EXPECT_EQ(printers[1]["default"], false);

  const json ports = control().Ports();
  bool usb_seen = false;
  for (const json& p : ports) {
    if (p["name"] == "USB001") {
      usb_seen = true;
      EXPECT_EQ(p["printers"], json::array({kTicket}));
      EXPECT_EQ(p["device"], "ZDA-38");
      EXPECT_EQ(p["usb_interfaces"].size(), 1u);
    }
  }
  EXPECT_TRUE(usb_seen);

  EXPECT_EQ(control().Devices().size(), 3u);
  EXPECT_EQ(control().Jobs().size(), 2u);
  EXPECT_EQ(control().Jobs(std::string(kTicket)).size(), 0u);
  EXPECT_THROW(control().Jobs(std::string("Nobody")), ControlError);

  const json monitors = control().Monitors();
  ASSERT_EQ(monitors.size(), 1u) << "one monitor: the only port whose driver has one";
  EXPECT_EQ(monitors[0]["port"], "USB001");
  EXPECT_EQ(monitors[0]["printer"], kTicket);
  EXPECT_EQ(monitors[0]["version"], "QXLM 2.0.0.4");
}

TEST_F(Daemon, WorldRepliesInTheWorldFilesOwnForm) {
  const json world = control().World();
  std::string error;
  auto copy = SimWorld::Start(world.dump(), &error);
  ASSERT_NE(copy, nullptr) << error;
  EXPECT_EQ(copy->control().World(), world);
}

TEST_F(Daemon, SetPrinterChangesOnlyWhatItNames) {
  control().ChangePrinter(kTicket, {{"status", json::array({"offline", "paper_out"})}, {"location", "Lane 2"}});
  const json p = control().Printer(kTicket);
  EXPECT_EQ(p["status"], json::array({"paper_out", "offline"}));
  EXPECT_EQ(p["location"], "Lane 2");
  EXPECT_EQ(p["port"], "USB001");
  control().SetPrinterStatus(kTicket, 0x80);
  EXPECT_EQ(control().Printer(kTicket)["status"], json::array({"offline"}));
}

TEST_F(Daemon, RefusedChangesLeaveTheWorldAsItWas) {
  const json before = control().World();
  EXPECT_THROW(control().ChangePrinter(kTicket, {{"location", "x"}, {"status", "offline"}}), ControlError)
      << "a status that is neither a number nor a list";
  EXPECT_THROW(control().ChangePrinter(kTicket, {{"location", "x"}, {"colour", 1}}), ControlError);
  EXPECT_THROW(control().ChangePrinter(kTicket, {{"port", "LPT7:"}}), ControlError);
  EXPECT_THROW(control().ChangePrinter("Nobody", {{"status", 0}}), ControlError);
  EXPECT_THROW(control().ChangePrinter(kTicket, {{"location", std::string(300, 'x')}}), ControlError);
  EXPECT_THROW(control().AddPrinter({{"name", kBoarding}, {"port", "LPT1:"},
                                     {"driver", {{"name", "D"}, {"path", "d"}}}}),
               ControlError);
  EXPECT_THROW(control().AddPrinter({{"name", "New"}, {"port", "LPT1:"}}), ControlError);
  EXPECT_THROW(control().RemovePrinter("Nobody"), ControlError);
  EXPECT_THROW(control().SetDefaultPrinter(std::string("Nobody")), ControlError);
  EXPECT_THROW(control().SetDevice("USB001", {{"faults", json::array({"on_fire"})}}), ControlError);
  EXPECT_THROW(control().SetDevice("USB009", {{"model", "X"}}), ControlError);
  EXPECT_THROW(control().RemoveJob(999), ControlError);
  EXPECT_THROW(control().Call({{"op", "explode"}}), ControlError);
  EXPECT_THROW(control().Call({{"op", 7}}), ControlError);
  EXPECT_EQ(control().World(), before);
}

TEST_F(Daemon, AddAndRemovePrintersAndTheDefault) {
  control().AddPrinter({{"name", "QX Spare"},
                        {"port", "COM1:"},
                        {"driver",
                         {{"name", "QX Spare Driver"},
                          {"path", "C:\\spare.dll"},
                          {"language_monitor", {{"name", "QX Language Monitor"}, {"version", "QXLM 9"}}}}}});
  EXPECT_EQ(control().Printers().size(), 5u);
  EXPECT_EQ(control().Monitors().size(), 2u) << "a monitor for the new printer's port";

  control().RemovePrinter(kTicket);
  EXPECT_EQ(control().Printers().size(), 4u);
  EXPECT_TRUE(control().World()["default_printer"].is_null()) << "the default went with its printer";
  const json monitors = control().Monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0]["port"], "COM1:");

  control().SetDefaultPrinter(std::string("qx spare"));
  EXPECT_EQ(control().World()["default_printer"], "QX Spare") << "found without regard to case";
  control().SetDefaultPrinter(std::nullopt);
  EXPECT_TRUE(control().World()["default_printer"].is_null());
}

TEST_F(Daemon, JobsAndDevicesChangeAtRunTime) {
  const uint32_t id = control().AddJob(kBoarding, "Boarding pass 0042");
  EXPECT_EQ(id, 9u) << "after the highest id of the world";
  json jobs = control().Jobs(std::string(kBoarding));
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0]["document"], "Boarding pass 0042");
  control().RemoveJob(id);
  EXPECT_EQ(control().Jobs(std::string(kBoarding)).size(), 0u);

  control().SetDevice("USB001", {{"firmware", "1.30"}, {"faults", json::array({"paper_out", "low_paper"})}});
  const json device = control().Devices()[0];
  EXPECT_EQ(device["firmware"], "1.30");
  EXPECT_EQ(device["model"], "ZDA-38");
  EXPECT_EQ(device["faults"], json::array({"paper_out", "low_paper"}));
  control().SetDevice("COM1:", {{"model", "VNQ-2002"}});
  EXPECT_EQ(control().Devices().size(), 4u);
}

TEST_F(Daemon, ReceivedBytesAndRefusalsThroughTheControlApi) {
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_EQ(control().Received("COM1:"), "") << "a port without a device has received nothing";
  EXPECT_THROW(control().Received("LPT7:"), qxsim::ControlError);
  const json refused = control().Send({{"op", "received"}, {"port", "USB001"}, {"clear", "yes"}});
  EXPECT_EQ(refused["ok"], false);
  control().ChangePrinter(kBoarding, {{"refuse_start_doc", 21}, {"refuse_delete", true}});
  json p = control().Printer(kBoarding);
  EXPECT_EQ(p["refuse_start_doc"], 21);
  EXPECT_EQ(p["refuse_delete"], 5);
  EXPECT_EQ(p["refuse_set"], 0);
  const json bad = control().Send({{"op", "set_printer"}, {"name", kBoarding}, {"refuse_write", -1}, {"location", "x"}});
  EXPECT_EQ(bad["ok"], false);
  EXPECT_EQ(control().Printer(kBoarding)["location"], p["location"]) << "a refused change changes nothing";
  const json ports = control().Ports();
  EXPECT_EQ(ports[0]["received"], 0);
  control().Reset();
  EXPECT_EQ(control().Printer(kBoarding)["refuse_start_doc"], 0);
}

TEST_F(Daemon, MonitorRequestsNameAPortWithAMonitor) {
  EXPECT_THROW(control().Monitor("LPT1:", "stop"), ControlError) << "no monitor on LPT1:";
  EXPECT_THROW(control().Monitor("USB001", "explode"), ControlError);
  EXPECT_THROW(control().Call({{"op", "monitor"}, {"port", "USB001"}, {"action", "busy"}}), ControlError);
  control().SetMonitorBusy("usb001", true);
  EXPECT_EQ(control().Monitors()[0]["busy"], true);
  control().SetMonitorBusy("USB001", false);
  EXPECT_EQ(control().Monitors()[0]["busy"], false);
  control().Monitor("USB001", "stop");
  EXPECT_EQ(control().Monitors()[0]["running"], false);
}

TEST_F(Daemon, ResetReturnsToTheWorldAsLoaded) {
  const json before = control().World();
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_OFFLINE);
  control().RemovePrinter(kBoarding);
  control().AddJob(kTicket, "stray");
  control().SetDevice("USB001", {{"firmware", "0.01"}});
  control().Reset();
  EXPECT_EQ(control().World(), before);
  EXPECT_EQ(control().Monitors().size(), 1u);
}

class EmptyWorld : public SimFixture {
 protected:
  std::string WorldJson() const override { return "{}"; }
};

TEST_F(EmptyWorld, HasNothingAndSaysSo) {
  EXPECT_EQ(control().Printers().size(), 0u);
  EXPECT_EQ(control().Monitors().size(), 0u);
  EXPECT_EQ(control().Status()["source"], dir() + "/world.json");
}

}  // namespace
