// qxctl status and language-monitor commands: the decoded status record,
// the monitor's information, the printer commands it carries, a flash run
// with its progress, RFID pass-through and the driver's data keys.
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "qxctl.h"

namespace qxctl {
namespace {

constexpr DWORD kReplySize = 1024;
constexpr DWORD kTextSize = 1024;

// What a pipe call waits for, for the notice of a long wait.
std::string MonitorWait(const Context& context) {
  return "the language monitor of " + OrNone(CurrentPrinter(context)) + " (a busy pipe is waited for up to " +
         std::to_string(PipeTimeoutMs(context)) + " ms; --timeout MS changes that)";
}

struct Condition {
  const char* key;
  const char* words;
  LONG mask;
  bool fault;  // the printer cannot print until it is cleared
};
// The conditions of the status word, in the order they are shown.
constexpr Condition kConditions[] = {
    {"notReady", "printer not ready", QX_STATUS_NOT_READY, true},
    {"manualDeselect", "manually deselected", QX_STATUS_MAN_DESELECT, true},
    {"paperJam", "paper jam", QX_STATUS_JAM, true},
    {"headLeverOpen", "head lever open", QX_STATUS_HEAD_LEVER_OPEN, true},
    {"outOfPaper", "out of paper", QX_STATUS_OUT_OF_PAPER, true},
    {"busy", "busy", QX_STATUS_BUSY, false},
    {"ticketNotTaken", "ticket not taken", QX_STATUS_TICKET_NOT_TAKEN, false},
    {"lowPaper", "low paper", QX_STATUS_LOW_PAPER, false},
};

bool HasFault(const QX_STATUS_RECORD& r) {
  if (r.statusWordText[0] == '\0') return false;
  for (const Condition& c : kConditions) {
    if (c.fault && (r.statusWord & c.mask) != 0) return true;
  }
  return false;
}

// extra: fields added to the --json document (the port road's moved queues).
void PrintRecord(const Context& context, const QX_STATUS_RECORD& r, const BYTE* reply, size_t length,
                 const json& extra) {
  const std::string type(r.replyType, r.replyType[0] ? 1 : 0);
  if (context.json) {
    json conditions = json::object();
    for (const Condition& c : kConditions) conditions[c.key] = (r.statusWord & c.mask) != 0;
    json document = {{"reply", Hex(reply, length)},
          {"replyType", type},
          {"statusWord", r.statusWord},
          {"conditions", conditions},
          {"fault", HasFault(r)},
          {"temperatureC", r.temperatureC},
          {"temperatureF", r.temperatureF},
          {"formLength", r.formLength},
          {"formLengthText", r.formLengthText},
          {"tag01", r.tag01Value},
          {"tag02", r.tag02Value},
          {"firmwareVersion", r.firmwareVersion},
          {"versionDetail", r.versionDetail}};
    for (const auto& [key, value] : extra.items()) document[key] = value;
    Emit(document);
    return;
  }
  std::printf("reply        %s\n", Hex(reply, length).c_str());
  std::printf("reply type   %s\n", type.c_str());
  if (r.statusWordText[0] != '\0') {
    std::printf("status word  %s\n", r.statusWordText);
    bool any = false;
    for (const Condition& c : kConditions) {
      if ((r.statusWord & c.mask) == 0) continue;
      std::printf("  %s\n", c.words);
      any = true;
    }
    if (!any) std::printf("  ready, no condition\n");
  }
  if (r.temperatureText[0] != '\0') {
    std::printf("temperature  %ld C (%ld F)\n", static_cast<long>(r.temperatureC), static_cast<long>(r.temperatureF));
  }
  if (r.formLengthText[0] != '\0') std::printf("form length  %s\n", r.formLengthText);
  if (r.tag01Text[0] != '\0') std::printf("field 01     %ld\n", static_cast<long>(r.tag01Value));
  if (r.tag02Text[0] != '\0') std::printf("field 02     %ld\n", static_cast<long>(r.tag02Value));
  if (r.firmwareVersion[0] != '\0') std::printf("firmware     %s\n", r.firmwareVersion);
  if (r.versionDetail[0] != '\0') std::printf("version      %s\n", r.versionDetail);
}

// Decodes and shows a reply; record receives the decoded status.
int Decode(const Context& context, const BYTE* reply, DWORD length, QX_STATUS_RECORD* record,
           const json& extra = json::object()) {
  const QXRESULT rc = qxParseStatus(reply, static_cast<LONG>(length), record);
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "not a status reply: " + Hex(reply, length)));
  PrintRecord(context, *record, reply, length, extra);
  return kExitDone;
}

struct Request {
  const char* name;
  LONG index;
};
constexpr Request kRequests[] = {
    {"IS", QX_REQ_IS},    {"IN", QX_REQ_IN},    {"IE", QX_REQ_IE}, {"IA2", QX_REQ_IA02},
    {"IA3", QX_REQ_IA03}, {"IA4", QX_REQ_IA04}, {"IC", QX_REQ_IC}, {"plain", QX_REQ_LM_STATUS},
};

// How status reads the printer.
enum class Road {
  kMonitor,  // through the language monitor
  kPort,     // --direct: the two-road read with the port taken, the monitor marked unavailable
  kNt,       // --nt: the direct read, through the port
};

int Status(const Context& context, const std::string& request, Road road) {
  LONG index = QX_REQ_IS;
  for (const Request& r : kRequests) {
    if (request == r.name) index = r.index;
  }
  BYTE reply[kReplySize];
  DWORD length = 0;
  if (road != Road::kMonitor) {
    if (index == QX_REQ_LM_STATUS) {
      return Fail(context, UsageFailure("--request plain is the language monitor's own", "use IS to IC on the port"));
    }
    json moved;
    const int exit = PortStatus(context, index, road == Road::kNt, reply, sizeof reply, &length, &moved);
    if (exit != kExitDone) return exit;
    QX_STATUS_RECORD record;
    const int decoded = Decode(context, reply, length, &record, {{"road", road == Road::kNt ? "nt" : "direct"},
                                                                 {"moved", moved}});
    return decoded == kExitDone && HasFault(record) ? kExitPrinterFault : decoded;
  }
  QXRESULT rc;
  {
    WaitNotice notice(MonitorWait(context));
    rc = qxLMGetStatus(index, reply, sizeof reply, &length);
  }
  if (rc != QX_ERR_OK) {
    return Fail(context, LibraryFailure(rc, "no status from the language monitor",
                                        rc == QX_ERR_PIPE_BUSY   ? "the monitor is busy with another caller; try again"
                                        : rc == QX_ERR_NO_PIPE ? "the current printer's port has no language "
                                                                 "monitor answering (qxctl current)"
                                                               : ""));
  }
  QX_STATUS_RECORD record;
  const int exit = Decode(context, reply, length, &record);
  return exit == kExitDone && HasFault(record) ? kExitPrinterFault : exit;
}

// Replies of the monitor's information commands are texts without a
// terminator; a zero the monitor sent ends them.
std::string ReplyText(const BYTE* reply, DWORD length) {
  const void* zero = std::memchr(reply, 0, length);
  return std::string(reinterpret_cast<const char*>(reply), zero ? static_cast<const BYTE*>(zero) - reply : length);
}

int MonitorInfo(const Context& context) {
  using Query = QXRESULT(QXAPI*)(BYTE*, DWORD, DWORD*);
  struct Item {
    const char* key;
    const char* label;
    Query query;
  };
  const Item items[] = {{"printer", "printer  ", qxLMGetPrinterName},
                        {"port", "port     ", qxLMGetPortName},
                        {"version", "version  ", qxLMGetLMVersion}};
  WaitNotice notice(MonitorWait(context));
  json out;
  for (const Item& item : items) {
    BYTE reply[kReplySize];
    DWORD length = 0;
    const QXRESULT rc = item.query(reply, sizeof reply, &length);
    if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "the language monitor did not answer"));
    out[item.key] = ReplyText(reply, length < sizeof reply ? length : sizeof reply);
  }
  BOOL printing = FALSE, crc = FALSE;
  const QXRESULT rcPrinting = qxLMGetPrintInProgress(&printing);
  const QXRESULT rcCrc = qxLMGetCRCError(&crc);
  out["printing"] = rcPrinting == QX_ERR_OK ? json(printing != 0) : json(nullptr);
  out["crcError"] = rcCrc == QX_ERR_OK ? json(crc != 0) : json(nullptr);
  if (context.json) {
    Emit(out);
    return kExitDone;
  }
  for (const Item& item : items) std::printf("%s%s\n", item.label, out[item.key].get<std::string>().c_str());
  std::printf("printing   %s\n", rcPrinting != QX_ERR_OK ? qxResultName(rcPrinting) : printing ? "yes" : "no");
  std::printf("crc error  %s\n", rcCrc != QX_ERR_OK ? qxResultName(rcCrc) : crc ? "flagged" : "no");
  return kExitDone;
}

// A printer command's result: done, with what it set, or why not.
int Commanded(const Context& context, const std::string& what, QXRESULT rc, const json& value = nullptr,
              const std::string& words = "", const char* reply = nullptr) {
  if (rc != QX_ERR_OK) {
    const std::string text = reply != nullptr && reply[0] != '\0' ? std::string(" (") + reply + ")" : "";
    return Fail(context, LibraryFailure(rc, what + " refused" + text));
  }
  if (context.json) {
    json out = value.is_null() ? json{{"done", what}} : json{{"set", what}, {"value", value}};
    if (reply != nullptr) out["reply"] = reply;
    Emit(out);
  } else if (value.is_null()) {
    std::printf("%s done\n", what.c_str());
  } else {
    std::printf("%s set to %s%s%s\n", what.c_str(), words.c_str(), reply && reply[0] ? ": " : "", reply ? reply : "");
  }
  return kExitDone;
}

// ---- flash -------------------------------------------------------------

}  // namespace

// What qxsimd's monitor (and the printer behind it) takes as a firmware
// image: a regular file of 1 byte to 16 MiB whose first line is
// "QXFW <version>".
constexpr char kFirmwareHeader[] = "QXFW ";
constexpr std::streamoff kMaxFirmwareFile = std::streamoff{16} << 20;

// Why path is not a firmware image, or "" when it is one.
std::string NotFirmware(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return "it cannot be read";
  const std::streamoff size = in.tellg();
  if (size <= 0) return "it is empty";
  if (size > kMaxFirmwareFile) return "it is larger than 16 MiB";
  in.seekg(0);
  char head[80] = {};
  in.read(head, sizeof head - 1);
  const size_t got = static_cast<size_t>(in.gcount());
  const size_t prefix = sizeof kFirmwareHeader - 1;
  size_t end = prefix;
  while (end < got && head[end] != '\n' && head[end] != '\r' && head[end] != '\0') ++end;
  if (got < prefix || std::memcmp(head, kFirmwareHeader, prefix) != 0 || end == prefix) {
    return "it does not begin with a line \"QXFW <version>\"";
  }
  return "";
}

namespace {

// The monitor's progress request for a flash run, and the states of its
// progress text that end the run.
constexpr char kProgressRequest[] = "PROGRESS";
constexpr LONG kFlashDone = 4;
constexpr LONG kFlashFailed = 5;
constexpr DWORD kProgressPollMs = 200;
// A run whose progress text stays the same this long has stalled.
constexpr int kStalledPolls = 600;
constexpr int kBarWidth = 40;

int Flash(const Context& context, const std::string& file, bool verify) {
  const std::string path = AbsolutePath(file);
  if (const std::string why = NotFirmware(path); !why.empty()) {
    return Fail(context, {kExitUsage, std::nullopt, "NOT_FIRMWARE", "'" + file + "' is not a firmware image: " + why,
                          "nothing was sent to the printer"});
  }
  char text[kTextSize] = {};
  QXRESULT rc;
  {
    WaitNotice notice(MonitorWait(context));
    rc = qxLMProgramFlash(path.c_str(), verify, text, sizeof text);
  }
  if (rc != QX_ERR_OK) return Commanded(context, "flash", rc, nullptr, "", text);
  if (!context.json) std::printf("flash started: %s\n", text);
  const bool tty = !context.json && isatty(STDOUT_FILENO) != 0;
  QX_FLASH_PROGRESS progress;
  std::string last;
  for (int unchanged = 0;; ++unchanged) {
    LONG length = 0;
    rc = qxLMGetProgress(kProgressRequest, text, sizeof text, &length);
    if (rc != QX_ERR_OK) return Commanded(context, "flash progress", rc, nullptr, "", text);
    qxLMParseFlashProgress(text, &progress);
    const bool finished = progress.State == kFlashDone;
    const bool failed = progress.State == kFlashFailed || progress.PassFail != 'P';
    if (text != last) {
      last = text;
      unchanged = 0;
      if (context.json) {
        Emit({{"progress",
               {{"state", progress.State},
                {"max", progress.Max},
                {"current", progress.Current},
                {"passFail", std::string(1, progress.PassFail)},
                {"note", progress.Note}}}});
      } else {
        const long max = progress.Max > 0 ? progress.Max : 1;
        const long cur = progress.Current < 0 ? 0 : progress.Current > max ? max : progress.Current;
        const int filled = static_cast<int>(cur * kBarWidth / max);
        std::printf("%s[%.*s%*s] %3ld%%  %s%s", tty ? "\r" : "", filled, "########################################",
                    kBarWidth - filled, "", cur * 100 / max, progress.Note, tty ? "\033[K" : "\n");
        std::fflush(stdout);
      }
    }
    if (failed || finished) {
      if (tty) std::printf("\n");
      if (failed) {
        return Fail(context, {kExitRefused, std::nullopt, "FLASH_FAILED", std::string("flash failed: ") + progress.Note,
                              ""});
      }
      if (context.json) Emit({{"done", "flash"}, {"file", path}, {"verify", verify}});
      return kExitDone;
    }
    if (unchanged == kStalledPolls) {
      if (tty) std::printf("\n");
      return Fail(context, {kExitRefused, std::nullopt, "FLASH_STALLED", std::string("flash stalled at: ") + text, ""});
    }
    Sleep(kProgressPollMs);
  }
}

int Rfid(const Context& context, const std::vector<std::string>& hex) {
  const std::vector<BYTE> request = ParseHex(hex);
  if (request.size() > QX_RFID_DATA_MAX) {
    return Fail(context, UsageFailure("the request is " + std::to_string(request.size()) + " bytes; at most " +
                                      std::to_string(QX_RFID_DATA_MAX) + " fit"));
  }
  std::vector<BYTE> reply(QX_RFID_DATA_MAX);
  DWORD length = 0;
  QXRESULT rc;
  {
    WaitNotice notice(MonitorWait(context));
    rc = qxLMRFIDPrinter(request.data(), static_cast<DWORD>(request.size()), reply.data(),
                         static_cast<DWORD>(reply.size()), &length, 0);
  }
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "no RFID answer"));
  const std::string bytes = Hex(reply.data(), length < reply.size() ? length : reply.size());
  if (context.json) {
    Emit({{"reply", bytes}});
  } else {
    std::printf("%s\n", bytes.c_str());
  }
  return kExitDone;
}

int Key(const Context& context, const std::string& name, long long value) {
  const QXRESULT rc = qxSetPrinterKeyByName(name.c_str(), static_cast<LONG>(value));
  if (rc != QX_ERR_OK) {
    return Fail(context, LibraryFailure(rc, "cannot write the key " + name,
                                        rc == QX_ERR_UNKNOWN_KEY ? "keys are the driver's known settings, in capitals "
                                                                   "(AUTOSIZE, BEEPER_CONTROL, ...)"
                                                                 : ""));
  }
  if (context.json) {
    Emit({{"set", name}, {"value", value}});
  } else {
    std::printf("%s set to %lld\n", name.c_str(), value);
  }
  return kExitDone;
}

// The 32-bit values a REG_DWORD takes, signed or not.
CLI::Validator DwordValue() { return WholeNumber(-2147483648LL, 4294967295LL); }

}  // namespace

void AddMonitorCommands(CLI::App& app, Commands& commands) {
  auto request = std::make_shared<std::string>("IS");
  auto direct = std::make_shared<bool>(false);
  auto nt = std::make_shared<bool>(false);
  CLI::App* status = commands.Add(
      app, "status",
      "The printer's status through its language monitor, each condition in words; exit 4 when the printer "
      "reports a fault (not ready, deselected, jam, head lever open, out of paper)",
      Needs::kSpooler, [request, direct, nt](const Context& context) {
        return Status(context, *request, *nt ? Road::kNt : *direct ? Road::kPort : Road::kMonitor);
      });
  CLI::Option* directFlag = status->add_flag(
      "--direct", *direct,
      "Through the printer's port instead: takes the port (the queues on it move to FILE: meanwhile), reads "
      "as if no monitor answered, gives it back");
  status->add_flag("--nt", *nt, "Through the port with the direct read: one attempt, busy printers answered at once")
      ->excludes(directFlag);
  status->add_option("--request", *request, "the inquiry: IS IN IE IA2 IA3 IA4 IC, or plain (the monitor's own)")
      ->check(CLI::IsMember({"IS", "IN", "IE", "IA2", "IA3", "IA4", "IC", "plain"}))
      ->capture_default_str();

  auto hex = std::make_shared<std::vector<std::string>>();
  CLI::App* parse = commands.Add(app, "parse-status", "Decode a status reply given in hexadecimal", Needs::kNothing,
                                 [hex](const Context& context) {
                                   const std::vector<BYTE> bytes = ParseHex(*hex);
                                   QX_STATUS_RECORD record;
                                   return Decode(context, bytes.data(), static_cast<DWORD>(bytes.size()), &record);
                                 });
  parse->add_option("HEX", *hex, "the reply's bytes, e.g. 53 30 30 81 00")->required()->check(HexBytes());

  CLI::App* lm = app.add_subcommand("lm", "The language monitor's information, printer commands and flashing");
  lm->require_subcommand(1);
  commands.Add(*lm, "info", "What the monitor reports: printer, port, version, printing, CRC error", Needs::kSpooler,
               MonitorInfo);
  struct Plain {
    const char* name;
    const char* description;
    QXRESULT(QXAPI* call)();
  };
  for (const Plain& p : {Plain{"reset", "Reset the printer", qxLMResetPrinter},
                         Plain{"abort", "Abort the document in progress", qxLMAbortDocument},
                         Plain{"clear-crc", "Clear a flagged CRC error", qxLMClearCRCError},
                         Plain{"refresh", "Have the spooler reload the monitor", qxLMRefresh}}) {
    commands.Add(*lm, p.name, p.description, Needs::kSpooler, [p](const Context& context) {
      WaitNotice notice(MonitorWait(context));
      return Commanded(context, p.name, p.call());
    });
  }
  struct Setting {
    const char* name;
    const char* description;
    const char* value;
    long long high;
    QXRESULT(QXAPI* call)(LONG);
  };
  for (const Setting& s :
       {Setting{"heartbeat", "Set the monitor's heartbeat", "N", 255, qxLMSetHeartBeat},
        Setting{"heartbeat-rate", "Set the heartbeat rate", "MS", 2147483647, qxLMSetHeartBeatRate},
        Setting{"save-method", "Set the spooler save method", "N", 255, qxLMSetSpoolerSaveMethod}}) {
    auto value = std::make_shared<long long>(0);
    CLI::App* sub = commands.Add(*lm, s.name, s.description, Needs::kSpooler, [s, value](const Context& context) {
      WaitNotice notice(MonitorWait(context));
      return Commanded(context, s.name, s.call(static_cast<LONG>(*value)), *value, std::to_string(*value));
    });
    sub->add_option(s.value, *value, std::string("0 to ") + std::to_string(s.high))
        ->required()
        ->check(WholeNumber(0, s.high));
  }

  auto wd = std::make_shared<std::array<long long, 4>>();
  CLI::App* wdSetup = commands.Add(
      *lm, "wd-setup", "Set up the WD function: two flags (0 or 1), then two values (0 to 255)", Needs::kSpooler,
      [wd](const Context& context) {
        const std::array<long long, 4>& v = *wd;
        WaitNotice notice(MonitorWait(context));
        const QXRESULT rc = qxLMWDSetup(v[0] != 0, v[1] != 0, static_cast<LONG>(v[2]), static_cast<LONG>(v[3]));
        return Commanded(context, "wd-setup", rc, v,
                         std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]) + " " +
                             std::to_string(v[3]));
      });
  const char* wdNames[] = {"FLAG1", "FLAG2", "VALUE1", "VALUE2"};
  for (size_t i = 0; i < 4; ++i) {
    wdSetup->add_option(wdNames[i], (*wd)[i], i < 2 ? "0 or 1" : "0 to 255")
        ->required()
        ->check(WholeNumber(0, i < 2 ? 1 : 255));
  }

  auto key = std::make_shared<std::string>();
  auto keyValue = std::make_shared<long long>(0);
  CLI::App* registry = commands.Add(*lm, "registry", "Have the monitor write a registry value", Needs::kSpooler,
                                    [key, keyValue](const Context& context) {
                                      char text[kTextSize] = {};
                                      LONG length = 0;
                                      WaitNotice notice(MonitorWait(context));
                                      const QXRESULT rc = qxLMSetRegistryKey(key->c_str(), static_cast<LONG>(*keyValue),
                                                                             text, sizeof text, &length);
                                      return Commanded(context, *key, rc, *keyValue, std::to_string(*keyValue), text);
                                    });
  registry->add_option("KEY", *key, "the value's name")->required();
  registry->add_option("VALUE", *keyValue, "a 32-bit number")->required()->check(DwordValue());

  auto firmware = std::make_shared<std::string>();
  auto verify = std::make_shared<bool>(false);
  CLI::App* flash = commands.Add(
      *lm, "flash",
      "Program the printer's flash through the monitor, with a progress bar; with --json, JSON lines: one "
      "{\"progress\": ...} object per change, then {\"done\": \"flash\", ...} or {\"error\": ...}",
      Needs::kSpooler, [firmware, verify](const Context& context) { return Flash(context, *firmware, *verify); });
  flash->add_option("FILE", *firmware, "a firmware image: its first line is \"QXFW <version>\"")
      ->required()
      ->check(ReadableFile());
  flash->add_flag("--verify", *verify, "verify what was written");

  CLI::App* rfid = commands.Add(app, "rfid", "Bytes through the printer's RFID function; shows the reply",
                                Needs::kSpooler, [hex](const Context& context) { return Rfid(context, *hex); });
  rfid->add_option("HEX", *hex, "1 to 1024 bytes, e.g. 0a 0b 0c")->required()->check(HexBytes());

  auto keyName = std::make_shared<std::string>();
  auto value = std::make_shared<long long>(0);
  CLI::App* keyCommand = commands.Add(
      app, "key", "Write one of the driver's known settings (AUTOSIZE, BEEPER_CONTROL, ...)", Needs::kSpooler,
      [keyName, value](const Context& context) { return Key(context, *keyName, *value); });
  keyCommand->add_option("NAME", *keyName, "the setting's name, in capitals")->required();
  keyCommand->add_option("VALUE", *value, "a 32-bit number")->required()->check(DwordValue());
}

}  // namespace qxctl
