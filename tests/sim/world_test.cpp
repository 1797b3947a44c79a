// world_test.cpp - the world file: the embedded default world and what it
// holds, the round trip through the writer, and bad files rejected with the
// place in the file named.
#include "world.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;
using qxsim::LoadWorldText;
using qxsim::ParseWorld;
using qxsim::World;
using qxsim::WorldError;

// The sheets the library's sheet table keeps: name contains the printer's
// filter, paper code 42 or above.
std::vector<std::string> TicketSheets(const qxsim::Printer& p) {
  const char* filter = p.name.find("ZDA23") != std::string::npos   ? "x 3.3"
                       : p.name.find("ZDA24") != std::string::npos ? "x 4.4"
                                                                   : "L =";
  std::vector<std::string> kept;
  for (const auto& s : p.sheets) {
    if (s.name.find(filter) != std::string::npos && s.code >= 42) kept.push_back(s.name);
  }
  return kept;
}

TEST(DefaultWorld, ParsesAndIsASmallPointOfSaleInstallation) {
  const World w = LoadWorldText(qxsim::kDefaultWorldJson);
  ASSERT_EQ(w.printers.size(), 4u);
  ASSERT_TRUE(w.default_printer.has_value());

  const qxsim::Printer* ticket = w.FindPrinter(*w.default_printer);
  ASSERT_NE(ticket, nullptr);
  EXPECT_EQ(ticket->name.rfind("QX ", 0), 0u);
  EXPECT_EQ(ticket->port, "USB001");
  ASSERT_TRUE(ticket->driver.language_monitor.has_value());
  EXPECT_FALSE(ticket->driver.language_monitor->version.empty());

  int maker = 0, on_lpt = 0;
  for (const auto& p : w.printers) {
    if (p.name.rfind("QX ", 0) == 0) ++maker;
    if (p.port == "LPT1:") {
      ++on_lpt;
      EXPECT_FALSE(p.driver.language_monitor.has_value()) << p.name;
    }
    EXPECT_EQ(p.devmode.dmSize, sizeof(DEVMODEA)) << p.name;
    EXPECT_EQ(p.devmode.dmDriverExtra, p.driver_extra.size()) << p.name;
  }
  EXPECT_EQ(maker, 3);
  EXPECT_EQ(on_lpt, 1);
  // The maker's printer reached through its port: no language monitor, a
  // device with "MDL:" in its ID on a parallel port.
  const qxsim::Printer* kiosk = w.FindPrinter("QX KTP-58 Kiosk Printer");
  ASSERT_NE(kiosk, nullptr);
  EXPECT_EQ(kiosk->port, "LPT2:");
  EXPECT_FALSE(kiosk->driver.language_monitor.has_value());
  ASSERT_NE(w.FindDevice("LPT2:"), nullptr);
  EXPECT_NE(w.FindDevice("LPT2:")->device_id.find("MDL:KTP-58;"), std::string::npos);
  EXPECT_EQ(w.code_page, 1252u);
  EXPECT_EQ(w.os.major, 10u);
  EXPECT_EQ(w.os.build, 19045u);
  EXPECT_EQ(w.os.platform_id, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_NE(w.FindDevice("USB001"), nullptr);
  ASSERT_EQ(w.usb_interfaces.size(), 1u);
  EXPECT_EQ(w.usb_interfaces[0].port_name, "USB001");
}

TEST(DefaultWorld, SheetListsFeedEachSheetFilter) {
  const World w = LoadWorldText(qxsim::kDefaultWorldJson);
  const auto* ticket = w.FindPrinter("QX ZDA-38 Ticket Printer");
  const auto* boarding = w.FindPrinter("QX ZDA24 Boarding Pass Printer");
  ASSERT_NE(ticket, nullptr);
  ASSERT_NE(boarding, nullptr);
  EXPECT_EQ(TicketSheets(*ticket),
            (std::vector<std::string>{"2 x 5.5 L = 5.5", "3.25 x 5.5 L = 5.5", "3.25 x 6 L = 6",
                                      "3.25 x 8 L = 8", "3 x 6 L = 6", "2 x 3.25 L = 3.25"}));
  // "8 x 3.25 L = 8" has "L =" but not "x 4.4": the ZDA24 filter drops it.
  EXPECT_EQ(TicketSheets(*boarding),
            (std::vector<std::string>{"3.25 x 4.4", "2 x 4.4", "3.25 x 4.4 L = 4.4"}));
  // Ordinary sheets sit among them.
  EXPECT_EQ(ticket->sheets[0].name, "Letter");
  EXPECT_EQ(ticket->sheets[0].code, 1);
  EXPECT_EQ(ticket->sheets[1].name, "A4");
  EXPECT_EQ(ticket->sheets[1].code, 9);
}

TEST(WorldFile, WritesBackToAnEqualWorld) {
  const World w = LoadWorldText(qxsim::kDefaultWorldJson);
  const json once = qxsim::WorldToJson(w);
  const World again = ParseWorld(once);
  EXPECT_EQ(qxsim::WorldToJson(again), once);
}

TEST(WorldFile, DefaultsFillAMinimalWorld) {
  const World w = LoadWorldText(R"({
    "ports": ["LPT1:"],
    "printers": [{"name": "P", "port": "lpt1:", "driver": {"name": "D", "path": "C:\\d.dll"},
                  "devmode": {"orientation": 2, "paper_size": 257},
                  "jobs": [{"document": "a"}, {"document": "b", "status": ["paused"]}]}]
  })");
  ASSERT_EQ(w.printers.size(), 1u);
  const auto& p = w.printers[0];
  EXPECT_FALSE(w.default_printer.has_value());
  EXPECT_EQ(p.devmode.dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE))
      << "without \"fields\", the fields given are the ones set";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.devmode.dmDeviceName)), "P");
  EXPECT_EQ(p.jobs[0].id, 1u);
  EXPECT_EQ(p.jobs[1].id, 2u);
  EXPECT_EQ(p.jobs[1].status, static_cast<DWORD>(JOB_STATUS_PAUSED));
  EXPECT_EQ(p.attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL));
  EXPECT_EQ(p.device_not_selected_timeout, 15000u);
  EXPECT_EQ(p.transmission_retry_timeout, 45000u);
}

TEST(WorldFile, DataValuesKeepTheirRegistryTypes) {
  const World w = LoadWorldText(R"({
    "ports": ["USB001"],
    "printers": [{"name": "P", "port": "USB001", "driver": {"name": "D", "path": "d"},
                  "data": {"N": -1, "S": "text", "B": {"binary": "00ff"}}}]
  })");
  const auto& data = w.printers[0].data;
  EXPECT_EQ(data.at("N").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data.at("N").bytes, (std::vector<uint8_t>{0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(data.at("S").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data.at("S").bytes.back(), 0);
  EXPECT_EQ(data.at("B").bytes, (std::vector<uint8_t>{0x00, 0xff}));
}

struct BadWorld {
  const char* what;
  const char* text;
  const char* message;  // must appear in the error
};

constexpr const char* kPrinter =
    R"("name": "P", "port": "LPT1:", "driver": {"name": "D", "path": "d"})";

std::string WithPrinter(const std::string& extra) {
  return std::string(R"({"ports": ["LPT1:"], "printers": [{)") + kPrinter + extra + "}]}";
}

class RejectedWorld : public ::testing::TestWithParam<BadWorld> {};

TEST_P(RejectedWorld, NamesThePlaceInTheFile) {
  const BadWorld& bad = GetParam();
  try {
    LoadWorldText(bad.text);
    FAIL() << bad.what << ": accepted";
  } catch (const WorldError& e) {
    EXPECT_NE(std::string(e.what()).find(bad.message), std::string::npos)
        << bad.what << ": got \"" << e.what() << "\"";
  }
}

const std::string kUnknownTop = R"({"printerz": []})";
const std::string kSheetCode = WithPrinter(R"(, "sheets": [{"name": "A", "code": 0, "width": 1, "length": 1}])");
const std::string kSheetName =
    WithPrinter(R"(, "sheets": [{"name": ")" + std::string(65, 'n') + R"(", "code": 1, "width": 1, "length": 1}])");
const std::string kBinName = WithPrinter(R"(, "bins": [{"name": ")" + std::string(25, 'b') + R"(", "code": 1}])");
const std::string kStatusName = WithPrinter(R"(, "status": ["offline", "asleep"])");
const std::string kDevmodeKey = WithPrinter(R"(, "devmode": {"orientation": 1, "colour": 2})");
const std::string kDevmodeRange = WithPrinter(R"(, "devmode": {"paper_size": 40000})");
const std::string kExtraHex = WithPrinter(R"(, "devmode": {"driver_extra": "abc"})");
const std::string kDate = WithPrinter(R"(, "driver": {"name": "D", "path": "d", "date": "23/10/2018"})");
const std::string kVersion =
    WithPrinter(R"(, "driver": {"name": "D", "path": "d", "dependent_files": [{"path": "x", "version": "1.2"}]})");
const std::string kJobIds = WithPrinter(R"(, "jobs": [{"id": 4, "document": "a"}, {"id": 4, "document": "b"}])");
const std::string kMonitorKey =
    WithPrinter(R"(, "driver": {"name": "D", "path": "d", "language_monitor": {"name": "M", "speed": 1}})");

const std::string kMonitorReload = WithPrinter(
    R"(, "driver": {"name": "D", "path": "d", "language_monitor": {"name": "M", "reload_on_job": 1}})");

const std::string kRefuseSet = WithPrinter(R"(, "refuse_set": "yes")");
const std::string kRefuseWrite = WithPrinter(R"(, "refuse_write": -5)");

const std::string kLongDeviceId =
    R"({"ports": ["LPT1:"], "devices": [{"port": "LPT1:", "device_id": ")" + std::string(1025, 'x') + R"("}]})";

const BadWorld kBadWorlds[] = {
    {"refusal of the wrong type", kRefuseSet.c_str(), "printers[0].refuse_set: must be an integer"},
    {"negative refusal", kRefuseWrite.c_str(), "printers[0].refuse_write: must be an integer from 0"},
    {"not JSON", R"({"ports": [)", "not valid JSON"},
    {"not an object", R"([1, 2])", "world: must be an object"},
    {"unknown top-level key", kUnknownTop.c_str(), "printerz: unknown key"},
    {"sheet code out of range", kSheetCode.c_str(), "printers[0].sheets[0].code: must be an integer from 1 to 32767"},
    {"sheet name too long", kSheetName.c_str(), "printers[0].sheets[0].name: longer than 64"},
    {"bin name too long", kBinName.c_str(), "printers[0].bins[0].name: longer than 24"},
    {"unknown status flag", kStatusName.c_str(), "printers[0].status[1]: unknown flag \"asleep\""},
    {"unknown devmode key", kDevmodeKey.c_str(), "printers[0].devmode.colour: unknown key"},
    {"devmode value out of range", kDevmodeRange.c_str(), "printers[0].devmode.paper_size"},
    {"odd hex", kExtraHex.c_str(), "printers[0].devmode.driver_extra: must have an even number"},
    {"bad date", kDate.c_str(), "printers[0].driver.date: must be a date"},
    {"bad version", kVersion.c_str(), "printers[0].driver.dependent_files[0].version"},
    {"job id twice", kJobIds.c_str(), "printers[0].jobs[1].id: job id 4 is used twice"},
    {"unknown monitor key", kMonitorKey.c_str(), "printers[0].driver.language_monitor.speed: unknown key"},
    {"port not declared", R"({"printers": [{"name": "P", "port": "LPT9:", "driver": {"name": "D", "path": "d"}}]})",
     "printers[0].port: names port \"LPT9:\""},
    {"driver missing", R"({"ports": ["LPT1:"], "printers": [{"name": "P", "port": "LPT1:"}]})",
     "printers[0].driver: is required"},
    {"printer name with comma",
     R"({"ports": ["LPT1:"], "printers": [{"name": "A,B", "port": "LPT1:", "driver": {"name": "D", "path": "d"}}]})",
     "printers[0].name: must not contain"},
    {"printer twice, other case",
     R"({"ports": ["LPT1:"], "printers": [{"name": "P", "port": "LPT1:", "driver": {"name": "D", "path": "d"}},
                                          {"name": "p", "port": "LPT1:", "driver": {"name": "D", "path": "d"}}]})",
     "printers[1].name: printer \"p\" is listed twice"},
    {"unknown default", R"({"default_printer": "Nobody"})", "default_printer: names \"Nobody\""},
    {"code page", R"({"code_page": 437})", "code_page: must be one of"},
    {"platform id", R"({"os": {"platform_id": 3}})", "os.platform_id: must be an integer from 0 to 2"},
    {"port twice", R"({"ports": ["COM1:", "com1:"]})", "ports[1]: port \"com1:\" is listed twice"},
    {"device on unknown port", R"({"devices": [{"port": "USB009"}]})", "devices[0].port: names port \"USB009\""},
    {"unknown fault", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "faults": ["on_fire"]}]})",
     "devices[0].faults[0]: unknown fault \"on_fire\""},
    {"monitor reload switch", kMonitorReload.c_str(),
     "printers[0].driver.language_monitor.reload_on_job: must be true or false"},
    {"status word", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "status_word": -1}]})",
     "devices[0].status_word: must be an integer from 0 to 65535"},
    {"temperature", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "temperature": -100}]})",
     "devices[0].temperature: must be an integer from -99 to 999"},
    {"form length", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "form_length": "600"}]})",
     "devices[0].form_length: must be an integer"},
    {"version detail", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "version_detail": "01234567890"}]})",
     "devices[0].version_detail: longer than 10 characters"},
    {"reply delay", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "reply_delay_ms": 1.5}]})",
     "devices[0].reply_delay_ms: must be an integer"},
    {"rfid mode", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "rfid": {"mode": "mute"}}]})",
     "devices[0].rfid.mode: must be"},
    {"rfid reply hex", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "rfid": {"mode": "fixed", "reply": "0g"}}]})",
     "devices[0].rfid.reply: holds a character"},
    {"counter key", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "counters": {"prints": 1}}]})",
     "devices[0].counters.prints: unknown key"},
    {"unknown device key", R"({"ports": ["USB001"], "devices": [{"port": "USB001", "colour": "red"}]})",
     "devices[0].colour: unknown key"},
    {"busy not a bool", R"({"ports": ["LPT1:"], "devices": [{"port": "LPT1:", "busy": 1}]})", "devices[0].busy"},
    {"device id too long",
     kLongDeviceId.c_str(),
     "devices[0].device_id"},
    {"usb path twice",
     R"({"ports": ["USB001"], "usb_interfaces": [{"device_path": "usb#a", "port_name": "USB001"},
                                                  {"device_path": "USB#A", "port_name": "USB001"}]})",
     "usb_interfaces[1].device_path: is listed twice"},
    {"usb interface port", R"({"usb_interfaces": [{"device_path": "x", "port_name": "USB001"}]})",
     "usb_interfaces[0].port_name"},
    {"string where number", R"({"os": {"major": "10"}})", "os.major: must be an integer"},
    {"boolean where number", R"({"code_page": true})", "code_page: must be an integer"},
    // Numbers the JSON reader itself cannot hold are refused like any bad text.
    {"number beyond double range", R"({"description": 1e400})", "number overflow parsing '1e400'"},
    {"negative number beyond double range", R"({"os": {"build": -1e999}})", "number overflow"},
};

INSTANTIATE_TEST_SUITE_P(BadFiles, RejectedWorld, ::testing::ValuesIn(kBadWorlds));

TEST(WorldFile, RefusalSwitchesLoadAndWriteBack) {
  const World w = LoadWorldText(std::string(R"({"ports": ["LPT1:"], "printers": [{)") + kPrinter +
                                R"(, "refuse_set": true, "refuse_start_doc": 21, "refuse_write": false,
                                      "refuse_delete": 5}]})");
  const qxsim::Printer& p = w.printers[0];
  EXPECT_EQ(p.refuse_set_error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(p.refuse_start_doc_error, 21u);
  EXPECT_EQ(p.refuse_write_error, 0u);
  EXPECT_EQ(p.refuse_delete_error, 5u);
  EXPECT_EQ(p.refuse_open_error, 0u);
  const nlohmann::json back = PrinterToJson(p);
  EXPECT_EQ(back["refuse_set"], 5);
  EXPECT_EQ(back["refuse_start_doc"], 21);
  EXPECT_EQ(back["refuse_write"], 0);
  EXPECT_EQ(WorldToJson(ParseWorld(WorldToJson(w))), WorldToJson(w));
}

TEST(WorldFile, EmulatorKeysOfADeviceLoadAndWriteBack) {
  const World w = LoadWorldText(R"({
    "ports": ["USB001", "LPT1:"],
    "printers": [{"name": "P", "port": "USB001", "driver": {"name": "D", "path": "d",
                  "language_monitor": {"name": "M", "reload_on_devmode": true}}}],
    "devices": [{"port": "USB001", "firmware": "1.24", "status_word": 33024, "temperature": -5,
                 "form_length": 600, "version_detail": "2018-10-23", "reply_delay_ms": 250,
                 "counters": {"tickets": 12, "cuts": 3}, "rfid": {"mode": "fixed", "reply": "E20010"}},
                {"port": "LPT1:"}]
  })");
  const qxsim::Device& d = w.devices[0];
  EXPECT_EQ(d.status_word, 0x8100);
  EXPECT_EQ(d.temperature, -5);
  EXPECT_EQ(d.form_length, 600);
  EXPECT_EQ(d.version_detail, "2018-10-23");
  EXPECT_EQ(d.reply_delay_ms, 250u);
  EXPECT_EQ(d.counters.tickets, 12u);
  EXPECT_EQ(d.counters.cuts, 3u);
  EXPECT_EQ(d.counters.errors, 0u);
  EXPECT_EQ(d.rfid.mode, qxsim::RfidBehaviour::Mode::kFixed);
  EXPECT_EQ(d.rfid.reply, std::string("\xe2\x00\x10", 3));
  // A device without them: an idle roll-stock printer at 25 degrees that echoes RFID.
  const qxsim::Device& bare = w.devices[1];
  EXPECT_EQ(bare.status_word, 0);
  EXPECT_EQ(bare.temperature, 25);
  EXPECT_EQ(bare.form_length, 0);
  EXPECT_EQ(bare.rfid.mode, qxsim::RfidBehaviour::Mode::kEcho);
  const auto& lm = *w.printers[0].driver.language_monitor;
  EXPECT_TRUE(lm.reload_on_devmode);
  EXPECT_FALSE(lm.reload_on_job);
  // The emulator sees the same state.
  const qxsim::PrinterState s = qxsim::EmulatorState(d);
  EXPECT_EQ(s.firmware, "1.24");
  EXPECT_EQ(s.counters.tickets, 12u);
  EXPECT_EQ(WorldToJson(ParseWorld(WorldToJson(w))), WorldToJson(w));
  EXPECT_EQ(WorldToJson(w)["devices"][0]["rfid"], (json{{"mode", "fixed"}, {"reply", "e20010"}}));
}

TEST(WorldFile, DeviceIdsAndTheBusyState) {
  const World w = LoadWorldText(R"({
    "ports": ["LPT1:", "LPT2:", "LPT3:"],
    "devices": [{"port": "LPT1:", "model": "KTP-58", "busy": true},
                {"port": "LPT2:", "model": "VNP-24", "device_id": "MODEL:VNP-24"},
                {"port": "LPT3:", "model": "X", "device_id": ""}]
  })");
  EXPECT_EQ(w.devices[0].device_id, "MFG:QX;MDL:KTP-58;CMD:QXPL;CLS:PRINTER;") << "the maker's form by default";
  EXPECT_TRUE(w.devices[0].busy);
  EXPECT_EQ(qxsim::StatusWord(w.devices[0]), qxsim::kStatusBusy);
  EXPECT_EQ(w.devices[1].device_id, "MODEL:VNP-24") << "any text as given";
  EXPECT_EQ(w.devices[2].device_id, "") << "none at all";
  EXPECT_FALSE(w.devices[1].busy);
  EXPECT_EQ(WorldToJson(ParseWorld(WorldToJson(w))), WorldToJson(w));
}

TEST(DefaultWorld, TheTicketPrinterIsIdleOnRollStock) {
  const World w = LoadWorldText(qxsim::kDefaultWorldJson);
  const qxsim::Device* d = w.FindDevice("USB001");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->model, "ZDA-38");
  EXPECT_EQ(d->firmware, "1.24");
  EXPECT_EQ(d->status_word, 0);
  EXPECT_EQ(d->temperature, 25);
  EXPECT_EQ(d->form_length, 0);
  EXPECT_EQ(d->version_detail, "2018-10-23");
}

// The daemon reports a bad file by its name and the place in it, and exits 2
// (never ends by a signal), whether the loader or the JSON reader refuses it.
TEST(WorldFile, DaemonRefusesABadFileNamingThePath) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {R"({"ports": ["LPT1:"], "printers": [{"name": "P", "port": "LPT1:", "drivr": {}}]})",
       "printers[0].driver: is required"},
      {R"({"description": 1e400})", "number overflow"},
      {R"({"ports": ["LPT1:"], "printers": [{"name": "P", "port": "LPT1:", "driver": {"name": "D", "path": "d"},
          "data": {"X": 1e400}}]})",
       "number overflow"},
  };
  for (const auto& c : cases) {
    char path[] = "/tmp/qxsim-bad-world-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << c.text;
    const std::string command = std::string(QXSIMD_PATH) + " --check --world " + path + " 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char chunk[256];
    while (size_t n = fread(chunk, 1, sizeof chunk, out)) text.append(chunk, n);
    const int status = pclose(out);
    std::remove(path);
    EXPECT_TRUE(WIFEXITED(status)) << c.text << ": ended by a signal\n" << text;
    EXPECT_EQ(WEXITSTATUS(status), 2) << c.text << "\n" << text;
    EXPECT_NE(text.find(std::string("qxsimd: ") + path + ": "), std::string::npos) << text;
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
  }
}

}  // namespace
