// monitor_world_test.cpp - the language monitors of a running qxsimd with the
// world behind them: status from the device the control API sets, registry
// values landing in the printer data, print-in-progress and abort against the
// spooler's jobs, flash programming changing the device's firmware, the two
// reloads the spooler does for a stopped monitor, and the monitor control
// operations (settings, scripts, request log, state) with their refusals.
#include <windows.h>
#include <winspool.h>
#include <qxplatform.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/win32_expect.h"
#include "monitor_pipe.h"
#include "sim_fixture.h"

namespace {

using monitor_test::Bytes;
using monitor_test::Parse;
using monitor_test::Request;
using nlohmann::json;
using qxsim::ControlError;

constexpr const char* kTicket = "QX ZDA-38 Ticket Printer";
constexpr const char* kPipe = "\\\\.\\pipe\\QXNamedPipeUSB001";

monitor_test::Reply Ask(uint8_t command, const std::string& payload = "") {
  return Parse(monitor_test::Transact(kPipe, Request(command, payload)));
}

std::string StatusInquiry(const std::string& inquiry) { return Bytes("\x4e\x20") + inquiry; }

// The message of the refusal a control call gets, or "" when it is accepted.
template <class F>
std::string Refusal(F call) {
  try {
    call();
  } catch (const ControlError& e) {
    return e.what();
  }
  return "";
}

// A printer handle of the test, closed at the end.
class Printer {
 public:
  explicit Printer(const char* name, DWORD access = PRINTER_ALL_ACCESS) {
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, access};
    if (!OpenPrinterA(const_cast<LPSTR>(name), &h_, &defaults)) h_ = nullptr;
  }
  ~Printer() {
    if (h_ != nullptr) ClosePrinter(h_);
  }
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;
  HANDLE get() const { return h_; }

  // SetPrinterA level 2 with the printer's own record: the device mode
  // rewritten as it is.
  bool RewriteDevmode() {
    DWORD needed = 0;
    GetPrinterA(h_, 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    return needed != 0 && GetPrinterA(h_, 2, info.data(), needed, &needed) &&
           reinterpret_cast<PRINTER_INFO_2A*>(info.data())->pDevMode != nullptr &&
           SetPrinterA(h_, 2, info.data(), 0);
  }
  DWORD StartDocument(const char* document) {
    DOC_INFO_1A doc{const_cast<LPSTR>(document), nullptr, const_cast<LPSTR>("RAW")};
    return StartDocPrinterA(h_, 1, reinterpret_cast<LPBYTE>(&doc));
  }

 private:
  HANDLE h_ = nullptr;
};

class MonitorWorld : public qxsim::SimFixture {
 protected:
  void TearDown() override {
    SimFixture::TearDown();
    EXPECT_EQ(counts_.Leaks(), "");
  }
  bool Running() { return control().MonitorState("USB001")["running"].get<bool>(); }

  const qxplat::LiveCounts counts_;
};

// ---- The printer behind the monitor ------------------------------------------------------

TEST_F(MonitorWorld, StatusFollowsTheDeviceTheControlApiSets) {
  const auto idle = Ask(0x01, StatusInquiry(Bytes("\x1bIS")));
  EXPECT_EQ(idle.code, 0x01);
  EXPECT_EQ(idle.payload, Bytes("S00\0\0" "03025" "04\0\0"));
  EXPECT_EQ(Ask(0x01, StatusInquiry(Bytes("\x1bIN"))).payload, Bytes("N0515" "1.24\0" "2018-10-23"));

  control().SetDevice("USB001", {{"faults", {"paper_out"}}});
  EXPECT_EQ(Ask(0x00).payload.substr(0, 5), Bytes("S00\x81\x00"));
  control().SetDevice("USB001", {{"faults", json::array()}, {"status_word", 0x0100}, {"temperature", -5},
                                 {"form_length", 500}});
  EXPECT_EQ(Ask(0x01, StatusInquiry(Bytes("\x1bIS"))).payload, Bytes("S00\x01\x00" "03-05" "04\x01\xf4"));
  control().SetDevice("USB001", {{"faults", {"garbled_reply"}}});
  EXPECT_EQ(static_cast<uint8_t>(Ask(0x00).payload[0]), static_cast<uint8_t>(~'S'));
  control().SetDevice("USB001", {{"faults", {"not_responding"}}});
  EXPECT_EQ(Ask(0x01, Bytes("\x00\x64\x1bIS")).code, 'O');
}

TEST_F(MonitorWorld, DeviceChangesAreCheckedAndARefusalChangesNothing) {
  const json before = control().Devices()[0];
  const struct {
    json changes;
    const char* message;
  } refused[] = {
      {{{"status_word", 65536}}, "status_word: must be an integer from 0 to 65535"},
      {{{"temperature", 1000}}, "temperature: must be an integer from -99 to 999"},
      {{{"version_detail", "2018-10-23b"}}, "version_detail: longer than 10"},
      {{{"reply_delay_ms", -1}}, "reply_delay_ms: must be an integer"},
      {{{"rfid", {{"mode", "loud"}}}}, "rfid.mode: must be"},
      {{{"rfid", {{"mode", "echo"}, {"reply", "00"}}}}, "rfid.reply: goes only with mode"},
      {{{"rfid", {{"mode", "fixed"}, {"reply", std::string(2056, '0')}}}}, "rfid.reply: longer than 1027"},
      {{{"counters", {{"tickets", 100000000}}}}, "counters.tickets"},
      {{{"counters", {{"pages", 1}}}}, "counters.pages: unknown key"},
      {{{"firmware", "2.00"}, {"colour", 1}}, "\"colour\" cannot be set on a device"},
  };
  for (const auto& r : refused) {
    const std::string message = Refusal([&] { control().SetDevice("USB001", r.changes); });
    EXPECT_NE(message.find(r.message), std::string::npos) << r.changes.dump() << ": " << message;
  }
  EXPECT_EQ(control().Devices()[0], before);

  control().SetDevice("USB001", {{"rfid", {{"mode", "fixed"}, {"reply", "e20010"}}},
                                 {"counters", {{"cuts", 12}}},
                                 {"reply_delay_ms", 10}});
  const json after = control().Devices()[0];
  EXPECT_EQ(after["rfid"], (json{{"mode", "fixed"}, {"reply", "e20010"}}));
  EXPECT_EQ(after["counters"]["cuts"], 12);
  EXPECT_EQ(after["counters"]["tickets"], 0);
  const auto rfid = Ask(0x12, "tag");
  EXPECT_EQ(rfid.code, 0x12);
  EXPECT_EQ(rfid.payload, Bytes("\xe2\x00\x10"));
  EXPECT_EQ(Ask(0x01, StatusInquiry(Bytes("\x1bIC"))).payload.substr(0, 11), "C0200000012");
}

// ---- The spooler behind the monitor ------------------------------------------------------

TEST_F(MonitorWorld, RegistryValuesLandInThePrinterData) {
  const auto set = Ask(0x0C, Bytes("\x2a\x00\x00\x00" "NEW_KEY\0"));
  EXPECT_EQ(set.code, 0x0C);
  EXPECT_EQ(set.text(), "REGISTRY KEY SET");
  // An existing name in other letters keeps its first spelling.
  EXPECT_EQ(Ask(0x0C, Bytes("\x00\x00\x00\x00" "autosize\0")).code, 0x0C);
  const json data = control().Printer(kTicket)["data"];
  EXPECT_EQ(data["NEW_KEY"], 42);
  EXPECT_EQ(data["AUTOSIZE"], 0);
  EXPECT_FALSE(data.contains("autosize"));
  EXPECT_EQ(Ask(0x0C, Bytes("\x2a\x00\x00\x00" "BAD")).code, 'F');
}

TEST_F(MonitorWorld, PrintInProgressAndAbortFollowTheSpoolersJobs) {
  EXPECT_EQ(Ask(0x04).payload, "I");
  Printer p(kTicket);
  ASSERT_NE(p.get(), nullptr);
  ASSERT_NE(p.StartDocument("Ticket 7"), 0u);
  EXPECT_EQ(Ask(0x04).payload, "D");

  EXPECT_EQ(Ask(0x0B).text(), "DOCUMENT ABORTED");
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty());
  DWORD written = 0;
  EXPECT_FAILS(WritePrinter(p.get(), const_cast<char*>("x"), 1, &written), ERROR_PRINT_CANCELLED);
  EXPECT_EQ(Ask(0x04).payload, "I");
  EXPECT_EQ(Ask(0x0B).text(), "NO DOCUMENT");
  EXPECT_EQ(control().MonitorState("USB001")["aborts"], 2);
}

TEST_F(MonitorWorld, FlashProgrammingChangesTheDevicesFirmware) {
  const std::string file = dir() + "/FWZDA1_131.BIN";
  {
    std::string contents = "QXFW 1.31\n";
    contents.resize(2000, '\x11');
    std::ofstream(file, std::ios::binary) << contents;
  }
  control().SetMonitor("USB001", {{"flash_block_ms", 10}});
  EXPECT_EQ(Ask(0x09, "T" + file).text(), "FLASH STARTED");
  std::string progress;
  for (int polls = 0; polls < 100 && progress.rfind("4,", 0) != 0; ++polls) {
    Sleep(20);
    progress = Ask(0x0A, "PROGRESS").text();
  }
  EXPECT_EQ(progress, "4,4,4,P,Done");
  EXPECT_EQ(control().Devices()[0]["firmware"], "1.31");
  EXPECT_EQ(Ask(0x01, StatusInquiry(Bytes("\x1bIN"))).payload, Bytes("N0515" "1.31\0" "2018-10-23"));
  const json flash = control().MonitorState("USB001")["flash"];
  EXPECT_EQ(flash, (json{{"state", "done"}, {"code", 4}, {"max", 4}, {"current", 4}, {"pass_fail", "P"},
                         {"note", "Done"}, {"file", file}}));
}

// ---- Reloads -------------------------------------------------------------------------------

TEST_F(MonitorWorld, ADevmodeRewriteReloadsAStoppedMonitor) {
  control().SetMonitor("USB001", {{"reload_on_devmode", true}});
  control().Monitor("USB001", "stop");
  Printer p(kTicket);
  ASSERT_NE(p.get(), nullptr);
  // A job does not reload it: that switch is off.
  ASSERT_NE(p.StartDocument("Blank"), 0u);
  EXPECT_FALSE(Running());
  ASSERT_TRUE(AbortPrinter(p.get()));

  ASSERT_TRUE(p.RewriteDevmode());
  EXPECT_TRUE(Running());
  EXPECT_EQ(Ask(0x03).text(), "USB001");
  // A running monitor is left alone.
  ASSERT_TRUE(p.RewriteDevmode());
  const json state = control().MonitorState("USB001");
  EXPECT_EQ(state["reloads"], 1);
  EXPECT_EQ(state["reload_on_devmode"], true);
  EXPECT_EQ(state["reload_on_job"], false);
}

class MonitorWorldFile : public MonitorWorld {
 protected:
  std::string WorldJson() const override {
    json world = qxsim::DefaultWorld();
    json& lm = world["printers"][0]["driver"]["language_monitor"];
    lm["running"] = false;
    lm["reload_on_job"] = true;
    return world.dump();
  }
};

TEST_F(MonitorWorldFile, AJobReloadsAStoppedMonitor) {
  const json state = control().MonitorState("USB001");
  EXPECT_EQ(state["running"], false);
  EXPECT_EQ(state["reload_on_job"], true);
  EXPECT_EQ(state["reload_on_devmode"], false);
  Printer p(kTicket);
  ASSERT_NE(p.get(), nullptr);
  ASSERT_TRUE(p.RewriteDevmode());
  EXPECT_FALSE(Running());

  ASSERT_NE(p.StartDocument("Blank"), 0u);
  EXPECT_TRUE(Running());
  ASSERT_TRUE(AbortPrinter(p.get()));
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty());
  EXPECT_EQ(control().MonitorState("USB001")["reloads"], 1);
  // The world as loaded has the monitor stopped again, with its switches.
  control().Reset();
  EXPECT_FALSE(Running());
  EXPECT_EQ(control().World()["printers"][0]["driver"]["language_monitor"]["reload_on_job"], true);
}

// ---- Control operations ------------------------------------------------------------------

TEST_F(MonitorWorld, StateShowsSettingsAndCounts) {
  control().SetMonitor("USB001", {{"crc_error", true}, {"reply_delay_ms", 5}, {"flash_block_ms", 7}});
  EXPECT_EQ(Ask(0x05, "\x02").code, 0x05);
  EXPECT_EQ(Ask(0x06, Bytes("\xe8\x03\x00\x00")).code, 0x06);
  EXPECT_EQ(Ask(0x07, "\x01").code, 0x07);
  EXPECT_EQ(Ask(0x11, Bytes("\x01\x00\x2c\x07")).code, 0x11);
  EXPECT_EQ(Ask(0x0E).payload, "1");
  EXPECT_EQ(Ask(0x10).code, 0x10);
  const json state = control().MonitorState("usb001");
  EXPECT_EQ(state["port"], "USB001");
  EXPECT_EQ(state["printer"], kTicket);
  EXPECT_EQ(state["version"], "QXLM 2.0.0.4");
  EXPECT_EQ(state["running"], true);
  EXPECT_EQ(state["busy"], false);
  EXPECT_EQ(state["crc_error"], false);  // the reset cleared it
  EXPECT_EQ(state["reply_delay_ms"], 5);
  EXPECT_EQ(state["flash_block_ms"], 7);
  EXPECT_EQ(state["heartbeat"], 2);
  EXPECT_EQ(state["heartbeat_rate"], 1000);
  EXPECT_EQ(state["save_method"], 1);
  EXPECT_EQ(state["wd_setup"], json::array({1, 0, 44, 7}));
  EXPECT_EQ(state["resets"], 1);
  EXPECT_EQ(state["exchanges"], 6);
  EXPECT_EQ(state["flash"]["state"], "idle");

  control().Reset();  // the monitors of the world as loaded
  EXPECT_EQ(control().MonitorState("USB001")["reply_delay_ms"], 0);
}

TEST_F(MonitorWorld, ScriptsAndTheRequestLogThroughTheControlApi) {
  control().ScriptMonitor("USB001", {{"reply_code", 79}, {"commands", {2}}, {"times", 1}});
  EXPECT_EQ(Ask(0x03).code, 0x03);
  EXPECT_EQ(Ask(0x02).code, 'O');
  EXPECT_EQ(Ask(0x02).code, 0x02);
  control().ScriptMonitor("USB001", {{"payload", "0102"}, {"bad_checksum", true}});
  const auto scripted = Ask(0x08);
  EXPECT_FALSE(scripted.valid);
  EXPECT_EQ(scripted.payload, Bytes("\x01\x02"));
  control().ScriptMonitor("USB001", json::object());
  EXPECT_TRUE(Ask(0x08).valid);

  const std::vector<std::string> log = control().MonitorRequests("USB001", true);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], Bytes("\x03\x00\x00\x00\x03\x00\x06"));
  EXPECT_EQ(log[4], Request(0x08));
  EXPECT_TRUE(control().MonitorRequests("USB001").empty());
}

TEST_F(MonitorWorld, RefusesBadMonitorRequests) {
  const struct {
    json request;
    const char* message;
  } refused[] = {
      {{{"op", "set_monitor"}, {"port", "USB001"}, {"colour", 1}}, "\"colour\" is not a monitor setting"},
      {{{"op", "set_monitor"}, {"port", "USB001"}, {"crc_error", 1}}, "\"crc_error\" must be true or false"},
      {{{"op", "set_monitor"}, {"port", "USB001"}, {"reply_delay_ms", -3}}, "\"reply_delay_ms\" must be"},
      {{{"op", "set_monitor"}, {"port", "LPT1:"}}, "no language monitor on port \"LPT1:\""},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", {{"reply_code", 256}}}}, "\"reply_code\" is out"},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", {{"payload", "abc"}}}}, "\"payload\" must be"},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", {{"commands", {300}}}}}, "\"commands\" must be"},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", {{"reply_size", 2000000}}}}, "\"reply_size\" is out"},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", {{"shout", true}}}}, "\"shout\" is not a script key"},
      {{{"op", "script_monitor"}, {"port", "USB001"}, {"script", "loud"}}, "\"script\" must be an object"},
      {{{"op", "script_monitor"}, {"port", "USB001"}}, "\"script\" is missing"},
      {{{"op", "monitor_requests"}, {"port", "USB001"}, {"clear", "yes"}}, "\"clear\" must be true or false"},
      {{{"op", "monitor_state"}}, "\"port\" is missing"},
  };
  for (const auto& r : refused) {
    const std::string message = Refusal([&] { control().Call(r.request); });
    EXPECT_NE(message.find(r.message), std::string::npos) << r.request.dump() << ": " << message;
  }
  // Nothing changed: no setting, no script.
  const json state = control().MonitorState("USB001");
  EXPECT_EQ(state["crc_error"], false);
  EXPECT_EQ(state["reply_delay_ms"], 0);
  EXPECT_EQ(Ask(0x02).code, 0x02);
}

}  // namespace
