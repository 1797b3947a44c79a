// qxsimctl.cpp - qxsimctl, the side of a person or a script: the control API
// of a running qxsimd at the command line. Human-readable by default, the
// daemon's replies as JSON with --json. Exit status 0 on success, 1 when the
// daemon refuses or cannot be reached, 2 for a usage error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <qxwire/hex.h>
#include <qxwire/ops.h>

#include "client.h"
#include "qxsimctl_pages.h"
#include "wire.h"

namespace {

using nlohmann::json;
using qxwire::kOp;
namespace op = qxwire::control;

const char kUsage[] =
    "usage: qxsimctl [--dir DIR] [--json] COMMAND\n"
    "commands:\n"
    "  status                          the daemon, its folder and its world\n"
    "  world                           the current world, in the world file's form\n"
    "  printers                        every printer\n"
    "  printer NAME                    one printer in full\n"
    "  printer NAME set KEY=VALUE...   status=N|NAME,NAME  location=TEXT  comment=TEXT  port=PORT\n"
    "                                  refuse-open, refuse-set, refuse-start-doc, refuse-write,\n"
    "                                  refuse-delete=on|off|ERROR\n"
    "  printer NAME remove             take the printer out of the spooler\n"
    "  add-printer FILE|-              add a printer given as a JSON object\n"
    "  default NAME|none               set or clear the system default printer\n"
    "  jobs [PRINTER]                  queued jobs\n"
    "  job add PRINTER DOCUMENT        queue a job\n"
    "  job remove ID                   delete a job\n"
    "  ports                           ports with their printers and devices\n"
    "  devices                         the devices on the ports\n"
    "  device PORT set KEY=VALUE...    model=  firmware=  device-id=  faults=NAME,NAME|none\n"
    "                                  status-word=N (0x0100 out of paper)  temperature=C\n"
    "                                  form-length=N  version-detail=TEXT  reply-delay=MS\n"
    "                                  rfid=echo|silent|fixed:HEX  errors= tickets= head-travel=\n"
    "                                  jobs= cuts= (the printer's counters)  restart-ms=MS\n"
    "                                  fail-write=N\n"
    "                                  e.g. the printer out of paper (status word 0x8100):\n"
    "                                    qxsimctl device USB001 set faults=paper_out\n"
    "  device PORT received [raw|clear] what the port's device received from printed jobs:\n"
    "                                  a hex dump, the raw bytes, or the dump and then empty it\n"
    "  device PORT state [KEY=VALUE...] the printer as the port sees it: its mode (printing, flash,\n"
    "                                  restarting), firmware, image bytes, drawer pulses; settings\n"
    "                                  busy=  silent=  garbled=  refuse-flash=  never-restart= (on|off)\n"
    "                                  (busy: status word 0x0020 and the port's BUSY bit 0x40;\n"
    "                                  silent: it answers nothing; garbled: its answers inverted;\n"
    "                                  refuse-flash: ESC *FR is ignored; never-restart: a good\n"
    "                                  image leaves it in flash mode), fail-write=N (the Nth port\n"
    "                                  write from now times out; 0 none), restart-ms=MS\n"
    "  port PORT                       who holds the port open directly, the spooler on it,\n"
    "                                  the jobs waiting for it, its status byte\n"
    "  device PORT pages [--out DIR]   the pages its printer printed (the latest 32), each saved\n"
    "                                  as DIR/page-N.png with --out\n"
    "  device PORT page N --out FILE   page N's picture as PNG\n"
    "  monitors                        the language monitors\n"
    "  monitor PORT stop|start|crash   control a language monitor\n"
    "  monitor PORT busy on|off        keep every pipe instance taken, or free them\n"
    "  monitor PORT state              its settings, counts and flash programming run\n"
    "  monitor PORT set KEY=VALUE...   crc-error=on|off  reload-on-devmode=on|off\n"
    "                                  reload-on-job=on|off  reply-delay=MS  flash-block=MS\n"
    "  monitor PORT script JSON|clear  shape its next replies, e.g. '{\"reply_code\": 79, \"times\": 1}'\n"
    "  monitor PORT requests [--clear] the request frames it received, in hex\n"
    "  reset                           back to the world as it was loaded\n"
    "  stop                            stop the daemon\n"
    "DIR defaults to $QX_SIM_DIR, else /tmp/qxsim-<uid>.\n";

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "qxsimctl: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// A status or flag word given as a number (decimal or 0x hex) or as names.
json FlagValue(const std::string& text) {
  if (!text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) != 0)) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || n > 0xFFFFFFFFull) UsageError("\"" + text + "\" is not a 32-bit number");
    return n;
  }
  return SplitComma(text);
}

std::string Flags(const json& value) {
  if (value.is_number()) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value.get<unsigned>());
    return text;
  }
  std::string names;
  for (const json& name : value) names += (names.empty() ? "" : ",") + name.get<std::string>();
  return names.empty() ? "none" : names;
}

// An on/off switch.
bool OnOff(const std::string& key, const std::string& value) {
  if (value != "on" && value != "off") UsageError(key + " takes on or off");
  return value == "on";
}

// A number given in decimal or as 0x hex, at most max.
uint64_t Number(const std::string& key, const std::string& text, uint64_t max) {
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != '\0' || n > max) {
    UsageError(key + "=\"" + text + "\" is not a number from 0 to " + std::to_string(max));
  }
  return n;
}

// Hex digits of bytes, a space between bytes.
std::string HexLine(const std::string& bytes) {
  const std::string hex = qxwire::ToHex(bytes);
  std::string text;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) text += ' ';
    text.append(hex, i, 2);
  }
  return text;
}

// The bytes of a hex text from the daemon; what it cannot read stays out.
std::string Unhex(const json& hex) {
  std::string bytes;
  if (!hex.is_string() || !qxwire::FromHex(hex.get_ref<const std::string&>(), bytes)) bytes.clear();
  return bytes;
}

std::pair<std::string, std::string> KeyValue(const std::string& arg) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) UsageError("\"" + arg + "\" is not KEY=VALUE");
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

void PrintPrinters(const json& printers) {
  if (printers.empty()) std::printf("no printers\n");
  for (const json& p : printers) {
    const json& lm = p["driver"]["language_monitor"];
    std::printf("%s%s\n", p["name"].get<std::string>().c_str(), p["default"].get<bool>() ? "  (default)" : "");
    std::printf("  port      %s\n", p["port"].get<std::string>().c_str());
    std::printf("  driver    %s  (%s)\n", p["driver"]["name"].get<std::string>().c_str(),
                p["driver"]["path"].get<std::string>().c_str());
    std::printf("  monitor   %s\n", lm.is_null() ? "none"
                                                  : (lm["name"].get<std::string>() + ", " +
                                                     lm["version"].get<std::string>()).c_str());
    std::printf("  status    %s\n", Flags(p["status"]).c_str());
    std::printf("  jobs      %zu\n", p["jobs"].size());
    std::printf("  sheets    %zu, bins %zu\n", p["sheets"].size(), p["bins"].size());
    if (p["refuse_open"].get<unsigned>() != 0) {
      std::printf("  opens     refused (error %u)\n", p["refuse_open"].get<unsigned>());
    }
  }
}

void PrintPrinter(const json& p) {
  PrintPrinters(json::array({p}));
  std::printf("  location  %s\n", p["location"].get<std::string>().c_str());
  std::printf("  devmode   orientation %d, paper %d (%d x %d), bin %d, fields %s\n",
              p["devmode"]["orientation"].get<int>(), p["devmode"]["paper_size"].get<int>(),
              p["devmode"]["paper_width"].get<int>(), p["devmode"]["paper_length"].get<int>(),
              p["devmode"]["default_source"].get<int>(), Flags(p["devmode"]["fields"]).c_str());
  for (const json& s : p["sheets"]) {
    std::printf("  sheet     %5d  %-40s %5d x %d\n", s["code"].get<int>(), s["name"].get<std::string>().c_str(),
                s["width"].get<int>(), s["length"].get<int>());
  }
  for (const json& b : p["bins"]) {
    std::printf("  bin       %5d  %s\n", b["code"].get<int>(), b["name"].get<std::string>().c_str());
  }
  for (auto it = p["data"].begin(); it != p["data"].end(); ++it) {
    std::printf("  data      %s = %s\n", it.key().c_str(), it.value().dump().c_str());
  }
}

// What a device received: a hex dump of 16 bytes a line with their text, or
// the bytes themselves.
void PrintReceived(const json& reply, bool raw) {
  const std::string bytes = Unhex(reply["data"]);
  if (raw) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return;
  }
  std::printf("%s received %zu bytes\n", reply["port"].get<std::string>().c_str(), bytes.size());
  for (size_t at = 0; at < bytes.size(); at += 16) {
    std::string line;
    char cell[24];
    std::snprintf(cell, sizeof cell, "%08zx", at);
    line += cell;
    std::string text;
    for (size_t i = at; i < at + 16; ++i) {
      if (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::snprintf(cell, sizeof cell, " %02x", b);
        text += b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.';
      } else {
        std::snprintf(cell, sizeof cell, "   ");
      }
      line += cell;
    }
    std::printf("%s  %s\n", line.c_str(), text.c_str());
  }
}

void PrintDevice(const json& d) {
  std::string faults;
  for (const json& f : d["faults"]) faults += (faults.empty() ? "" : ",") + f.get<std::string>();
  std::printf("%-10s %-12s firmware %-8s faults %s\n  %s\n", d["port"].get<std::string>().c_str(),
              d["model"].get<std::string>().c_str(), d["firmware"].get<std::string>().c_str(),
              faults.empty() ? "none" : faults.c_str(), d["device_id"].get<std::string>().c_str());
  if (d.value("busy", false)) std::printf("  busy\n");
  std::printf("  base status word 0x%04x, %d C, form length %u, version detail \"%s\", reply delay %u ms, "
              "rfid %s\n",
              d["status_word"].get<unsigned>(), d["temperature"].get<int>(), d["form_length"].get<unsigned>(),
              d["version_detail"].get<std::string>().c_str(), d["reply_delay_ms"].get<unsigned>(),
              d["rfid"]["mode"].get<std::string>().c_str());
  if (!d.contains("mode")) return;
  std::printf("  mode %s%s, flash mode %s, image bytes %llu (%llu pending, %llu good, %llu bad images)\n",
              d["mode"].get<std::string>().c_str(),
              d["mode"] == "restarting" ? (" until " + d["restart_until"].dump() + " ms").c_str() : "",
              d["flash_mode"].get<bool>() ? "yes" : "no", d["image_bytes"].get<unsigned long long>(),
              d["image_pending"].get<unsigned long long>(), d["good_images"].get<unsigned long long>(),
              d["bad_images"].get<unsigned long long>());
  std::printf("  drawer pulses %llu, restart %u ms, port writes %llu, fail write %u\n",
              d["drawer_pulses"].get<unsigned long long>(), d["restart_ms"].get<unsigned>(),
              d["port_writes"].get<unsigned long long>(), d["fail_write"].get<unsigned>());
}

void PrintHuman(const std::string& command, const json& reply) {
  if (command == "status") {
    std::printf("qxsimd %d in %s, world %s, %zu printers, %zu open printer handles\n",
                reply["pid"].get<int>(), reply["dir"].get<std::string>().c_str(),
                reply["source"].get<std::string>().c_str(), reply["printers"].get<size_t>(),
                reply["open_handles"].get<size_t>());
  } else if (command == "world") {
    std::printf("%s\n", reply["world"].dump(2).c_str());
  } else if (command == "printers") {
    PrintPrinters(reply["printers"]);
  } else if (reply.contains("printer") && command == "printer") {
    PrintPrinter(reply["printer"]);
  } else if (command == "jobs") {
    if (reply["jobs"].empty()) std::printf("no jobs\n");
    for (const json& j : reply["jobs"]) {
      std::printf("%6u  %-32s %s  [%s]\n", j["id"].get<unsigned>(), j["printer"].get<std::string>().c_str(),
                  j["document"].get<std::string>().c_str(), Flags(j["status"]).c_str());
    }
  } else if (command == "ports") {
    for (const json& p : reply["ports"]) {
      std::string printers;
      for (const json& n : p["printers"]) printers += (printers.empty() ? "" : ", ") + n.get<std::string>();
      std::string held;
      for (const json& pid : p["held_by"]) held += (held.empty() ? "  held by pid " : ", ") + pid.dump();
      std::printf("%-18s %-30s device %-10s printers: %s%s\n", p["name"].get<std::string>().c_str(),
                  p["description"].get<std::string>().c_str(),
                  p["device"].is_null() ? "none" : p["device"].get<std::string>().c_str(),
                  printers.empty() ? "none" : printers.c_str(), held.c_str());
    }
  } else if (command == "port") {
    std::printf("%s  status byte 0x%02x  spooler %s  jobs waiting %u\n", reply["port"].get<std::string>().c_str(),
                reply["status_byte"].get<unsigned>(), reply["spooler_printing"].get<bool>() ? "printing" : "idle",
                reply["waiting_jobs"].get<unsigned>());
    if (reply["holders"].empty()) std::printf("not held\n");
    for (const json& h : reply["holders"]) {
      std::printf("held by pid %d as \"%s\" (access 0x%08x, share %u)\n", h["pid"].get<int>(),
                  h["path"].get<std::string>().c_str(), h["access"].get<unsigned>(), h["share"].get<unsigned>());
    }
  } else if (command == "devices") {
    if (reply["devices"].empty()) std::printf("no devices\n");
    for (const json& d : reply["devices"]) PrintDevice(d);
  } else if (command == "device" && reply.contains("device")) {
    PrintDevice(reply["device"]);
  } else if (command == "monitor" && reply.contains("requests")) {
    if (reply["requests"].empty()) std::printf("no requests\n");
    for (const json& r : reply["requests"]) {
      std::printf("%s\n", HexLine(Unhex(r)).c_str());
    }
  } else if (command == "monitor" && reply.contains("monitor") && reply["monitor"].contains("flash")) {
    const json& m = reply["monitor"];
    const json& f = m["flash"];
    std::printf("%s  %s  %s  %s%s\n", m["port"].get<std::string>().c_str(), m["printer"].get<std::string>().c_str(),
                m["version"].get<std::string>().c_str(), m["running"].get<bool>() ? "running" : "stopped",
                m["busy"].get<bool>() ? ", busy" : "");
    std::printf("  crc error %s, reply delay %u ms, flash block %u ms\n", m["crc_error"].get<bool>() ? "on" : "off",
                m["reply_delay_ms"].get<unsigned>(), m["flash_block_ms"].get<unsigned>());
    std::printf("  heartbeat %u, rate %d, save method %u, wd setup %s\n", m["heartbeat"].get<unsigned>(),
                m["heartbeat_rate"].get<int>(), m["save_method"].get<unsigned>(), m["wd_setup"].dump().c_str());
    std::printf("  reload on devmode %s, on job %s; reloads %llu, aborts %llu, resets %llu, exchanges %llu\n",
                m["reload_on_devmode"].get<bool>() ? "on" : "off", m["reload_on_job"].get<bool>() ? "on" : "off",
                m["reloads"].get<unsigned long long>(), m["aborts"].get<unsigned long long>(),
                m["resets"].get<unsigned long long>(), m["exchanges"].get<unsigned long long>());
    std::printf("  flash %s %u/%u %s %s%s%s\n", f["state"].get<std::string>().c_str(), f["current"].get<unsigned>(),
                f["max"].get<unsigned>(), f["pass_fail"].get<std::string>().c_str(), f["note"].get<std::string>().c_str(),
                f["file"].get<std::string>().empty() ? "" : ", file ", f["file"].get<std::string>().c_str());
  } else if (command == "monitors") {
    if (reply["monitors"].empty()) std::printf("no language monitors\n");
    for (const json& m : reply["monitors"]) {
      std::printf("%-10s %-32s %-16s %s%s\n", m["port"].get<std::string>().c_str(),
                  m["printer"].get<std::string>().c_str(), m["version"].get<std::string>().c_str(),
                  m["running"].get<bool>() ? "running" : "stopped", m["busy"].get<bool>() ? ", busy" : "");
    }
  } else if (reply.contains("id")) {
    std::printf("job %u\n", reply["id"].get<unsigned>());
  } else {
    std::printf("ok\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = qxsim::DefaultDir();
  bool as_json = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir") {
      if (i + 1 >= argc) UsageError("--dir needs a folder");
      dir = argv[++i];
    } else if (arg == "--json") {
      as_json = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) UsageError("no command");

  const std::string& command = args[0];
  auto need = [&](size_t n) {
    if (args.size() < n) UsageError("\"" + command + "\" needs more arguments");
  };
  json request;
  bool raw_received = false;
  if (command == "status" || command == "world" || command == "printers" || command == "ports" ||
      command == "devices" || command == "monitors" || command == "reset" || command == "stop") {
    if (args.size() != 1) UsageError("\"" + command + "\" takes no arguments");
    request = {{kOp, command}};
  } else if (command == "jobs") {
    request = {{kOp, op::kJobs}};
    if (args.size() > 1) request["printer"] = args[1];
  } else if (command == "printer") {
    need(2);
    if (args.size() == 2 || args[2] == "show") {
      request = {{kOp, op::kPrinter}, {"name", args[1]}};
    } else if (args[2] == "remove") {
      request = {{kOp, op::kRemovePrinter}, {"name", args[1]}};
    } else if (args[2] == "set") {
      need(4);
      request = {{kOp, op::kSetPrinter}, {"name", args[1]}};
      for (size_t i = 3; i < args.size(); ++i) {
        auto [key, value] = KeyValue(args[i]);
        if (key == "status" || key == "attributes") {
          request[key] = FlagValue(value);
        } else if (key == "refuse-open" || key == "refuse-set" || key == "refuse-start-doc" ||
                   key == "refuse-write" || key == "refuse-delete") {
          std::string field = key;
          for (char& c : field) c = c == '-' ? '_' : c;
          if (value == "on" || value == "off") {
            request[field] = value == "on";
          } else {
            request[field] = FlagValue(value);
          }
        } else if (key == "location" || key == "comment" || key == "port") {
          request[key] = value;
        } else {
          UsageError("a printer has no setting \"" + key + "\"");
        }
      }
    } else {
      UsageError("printer: unknown action \"" + args[2] + "\"");
    }
  } else if (command == "add-printer") {
    need(2);
    std::stringstream text;
    if (args[1] == "-") {
      text << std::cin.rdbuf();
    } else {
      std::ifstream in(args[1]);
      if (!in) UsageError(args[1] + ": cannot be read");
      text << in.rdbuf();
    }
    json printer = json::parse(text.str(), nullptr, false);
    if (printer.is_discarded()) UsageError(args[1] + ": not valid JSON");
    request = {{kOp, op::kAddPrinter}, {"printer", printer}};
  } else if (command == "default") {
    need(2);
    request = {{kOp, op::kSetDefault}, {"name", args[1] == "none" ? json(nullptr) : json(args[1])}};
  } else if (command == "job") {
    need(3);
    if (args[1] == "add") {
      need(4);
      request = {{kOp, op::kAddJob}, {"printer", args[2]}, {"document", args[3]}};
    } else if (args[1] == "remove") {
      char* end = nullptr;
      const unsigned long id = std::strtoul(args[2].c_str(), &end, 10);
      if (*end != '\0') UsageError("\"" + args[2] + "\" is not a job id");
      request = {{kOp, op::kRemoveJob}, {"id", id}};
    } else {
      UsageError("job: unknown action \"" + args[1] + "\"");
    }
  } else if (command == "device" && args.size() >= 3 && (args[2] == "pages" || args[2] == "page")) {
    return qxsimctl::Pages(dir, as_json, args);
  } else if (command == "device" && args.size() >= 3 && args[2] == "received") {
    if (args.size() > 4 || (args.size() == 4 && args[3] != "raw" && args[3] != "clear")) {
      UsageError("device PORT received takes raw or clear");
    }
    raw_received = args.size() == 4 && args[3] == "raw";
    request = {{kOp, op::kReceived}, {"port", args[1]}, {"clear", args.size() == 4 && args[3] == "clear"}};
  } else if (command == "device" && args.size() >= 3 && args[2] == "state") {
    request = {{kOp, op::kDeviceState}, {"port", args[1]}};
    for (size_t i = 3; i < args.size(); ++i) {
      auto [given, value] = KeyValue(args[i]);
      std::string key = given;
      for (char& c : key) c = c == '-' ? '_' : c;
      if (key == "busy" || key == "silent" || key == "garbled" || key == "refuse_flash" || key == "never_restart") {
        request[key] = OnOff(given, value);
      } else if (key == "fail_write") {
        request[key] = Number(given, value, 0xFFFFFFFF);
      } else if (key == "restart_ms" || key == "restart") {
        request["restart_ms"] = Number(given, value, 86400000);
      } else {
        UsageError("device state has no \"" + given + "\"");
      }
    }
  } else if (command == "port") {
    if (args.size() != 2) UsageError("port takes one port name");
    request = {{kOp, op::kPort}, {"port", args[1]}};
  } else if (command == "device") {
    need(4);
    if (args[2] != "set") UsageError("device: unknown action \"" + args[2] + "\"");
    request = {{kOp, op::kSetDevice}, {"port", args[1]}};
    for (size_t i = 3; i < args.size(); ++i) {
      auto [given, value] = KeyValue(args[i]);
      std::string key = given;
      for (char& c : key) c = c == '-' ? '_' : c;
      if (key == "model" || key == "firmware" || key == "device_id" || key == "version_detail") {
        request[key] = value;
      } else if (key == "faults") {
        request["faults"] = value == "none" ? json::array() : json(SplitComma(value));
      } else if (key == "status_word" || key == "form_length") {
        request[key] = Number(given, value, 0xFFFF);
      } else if (key == "temperature") {
        char* end = nullptr;
        const long t = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') UsageError(given + "=\"" + value + "\" is not a temperature");
        request[key] = t;
      } else if (key == "reply_delay" || key == "reply_delay_ms") {
        request["reply_delay_ms"] = Number(given, value, 86400000);
      } else if (key == "restart" || key == "restart_ms") {
        request["restart_ms"] = Number(given, value, 86400000);
      } else if (key == "fail_write") {
        request["fail_write"] = Number(given, value, 0xFFFFFFFF);
      } else if (key == "busy") {
        request["busy"] = OnOff(given, value);
      } else if (key == "errors" || key == "tickets" || key == "head_travel" || key == "jobs" || key == "cuts") {
        request["counters"][key] = Number(given, value, 99999999);
      } else if (key == "rfid") {
        if (value.rfind("fixed:", 0) == 0) {
          request["rfid"] = {{"mode", "fixed"}, {"reply", value.substr(6)}};
        } else {
          request["rfid"] = {{"mode", value}};
        }
      } else {
        UsageError("a device has no setting \"" + given + "\"");
      }
    }
  } else if (command == "monitor") {
    need(3);
    const std::string& action = args[2];
    request = {{kOp, op::kMonitor}, {"port", args[1]}, {"action", action}};
    if (action == "busy") {
      need(4);
      if (args[3] != "on" && args[3] != "off") UsageError("busy takes on or off");
      request["busy"] = args[3] == "on";
    } else if (action == "state") {
      request = {{kOp, op::kMonitorState}, {"port", args[1]}};
    } else if (action == "requests") {
      if (args.size() > 4 || (args.size() == 4 && args[3] != "--clear")) UsageError("requests takes --clear");
      request = {{kOp, op::kMonitorRequests}, {"port", args[1]}, {"clear", args.size() == 4}};
    } else if (action == "script") {
      need(4);
      json script = args[3] == "clear" ? json::object() : json::parse(args[3], nullptr, false);
      if (script.is_discarded() || !script.is_object()) UsageError("script takes a JSON object or clear");
      request = {{kOp, op::kScriptMonitor}, {"port", args[1]}, {"script", script}};
    } else if (action == "set") {
      need(4);
      request = {{kOp, op::kSetMonitor}, {"port", args[1]}};
      for (size_t i = 3; i < args.size(); ++i) {
        auto [given, value] = KeyValue(args[i]);
        std::string key = given;
        for (char& c : key) c = c == '-' ? '_' : c;
        if (key == "crc_error" || key == "reload_on_devmode" || key == "reload_on_job") {
          request[key] = OnOff(given, value);
        } else if (key == "reply_delay" || key == "reply_delay_ms") {
          request["reply_delay_ms"] = Number(given, value, 86400000);
        } else if (key == "flash_block" || key == "flash_block_ms") {
          request["flash_block_ms"] = Number(given, value, 86400000);
        } else {
          UsageError("a monitor has no setting \"" + given + "\"");
        }
      }
    } else if (action != "stop" && action != "start" && action != "crash") {
      UsageError("monitor: unknown action \"" + action + "\"");
    }
  } else {
    UsageError("unknown command \"" + command + "\"");
  }

  try {
    const json reply = qxsim::ControlClient(dir).Send(request);
    if (as_json) {
      std::printf("%s\n", reply.dump().c_str());
      return reply["ok"].get<bool>() ? 0 : 1;
    }
    if (!reply["ok"].get<bool>()) {
      std::fprintf(stderr, "qxsimctl: %s\n",
                   reply["error"].is_string() ? reply["error"].get<std::string>().c_str() : "refused");
      return 1;
    }
    if (reply.contains("data") && reply["data"].is_string()) {
      PrintReceived(reply, raw_received);
    } else {
      PrintHuman(command, reply);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qxsimctl: %s\n", e.what());
    return 1;
  }
  return 0;
}
