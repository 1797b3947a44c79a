// qxctl status and language-monitor commands: the decoded status record,
// the monitor's information, the printer commands it carries, a flash run
// with its progress, RFID pass-through and the driver's data keys.
#include "monitor.h"

#include <windows.h>
#include <qxdll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qxctl {
namespace {

constexpr DWORD kReplySize = 1024;
constexpr DWORD kRfidReplySize = 1024;
constexpr DWORD kTextSize = 1024;

// Hexadecimal bytes, spaces allowed between pairs; false for anything else.
bool ParseHex(const std::string& text, std::vector<BYTE>& bytes) {
  bytes.clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') {
      if (high >= 0) return false;
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return false;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<BYTE>(high * 16 + v));
      high = -1;
    }
  }
  return high < 0;
}

std::string Hex(const BYTE* bytes, size_t count) {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

// A whole decimal number in the 32-bit range (negative allowed).
bool ParseNumber(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < -2147483648LL || v > 4294967295LL) return false;
  value = static_cast<long>(static_cast<LONG>(v));
  return true;
}

int Failed(const char* what, QXRESULT rc) {
  std::fprintf(stderr, "qxctl: %s: %s\n", what, ResultText(rc));
  return 1;
}

int Usage(const char* usage) {
  std::fprintf(stderr, "usage: qxctl %s\n", usage);
  return 2;
}

struct Condition {
  const char* key;
  const char* words;
  LONG mask;
};
// The conditions of the status word, in the order they are shown.
constexpr Condition kConditions[] = {
    {"notReady", "printer not ready", QX_STATUS_NOT_READY},
    {"manualDeselect", "manually deselected", QX_STATUS_MAN_DESELECT},
    {"paperJam", "paper jam", QX_STATUS_JAM},
    {"headLeverOpen", "head lever open", QX_STATUS_HEAD_LEVER_OPEN},
    {"outOfPaper", "out of paper", QX_STATUS_OUT_OF_PAPER},
    {"busy", "busy", QX_STATUS_BUSY},
    {"ticketNotTaken", "ticket not taken", QX_STATUS_TICKET_NOT_TAKEN},
    {"lowPaper", "low paper", QX_STATUS_LOW_PAPER},
};

void PrintRecord(const Options& options, const QX_STATUS_RECORD& r, const BYTE* reply, size_t length) {
  const std::string type(r.replyType, r.replyType[0] ? 1 : 0);
  if (options.json) {
    std::printf("{\"reply\": %s, \"replyType\": %s, \"statusWord\": %ld, \"conditions\": {",
                JsonText(Hex(reply, length)).c_str(), JsonText(type).c_str(), (long)r.statusWord);
    bool first = true;
    for (const Condition& c : kConditions) {
      std::printf("%s%s: %s", first ? "" : ", ", JsonText(c.key).c_str(),
                  (r.statusWord & c.mask) ? "true" : "false");
      first = false;
    }
    std::printf("}, \"temperatureC\": %ld, \"temperatureF\": %ld, \"formLength\": %ld, "
                "\"formLengthText\": %s, \"tag01\": %ld, \"tag02\": %ld, \"firmwareVersion\": %s, "
                "\"versionDetail\": %s}\n",
                (long)r.temperatureC, (long)r.temperatureF, (long)r.formLength,
                JsonText(r.formLengthText).c_str(), (long)r.tag01Value, (long)r.tag02Value,
                JsonText(r.firmwareVersion).c_str(), JsonText(r.versionDetail).c_str());
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
    std::printf("temperature  %ld C (%ld F)\n", (long)r.temperatureC, (long)r.temperatureF);
  }
  if (r.formLengthText[0] != '\0') std::printf("form length  %s\n", r.formLengthText);
  if (r.tag01Text[0] != '\0') std::printf("field 01     %ld\n", (long)r.tag01Value);
  if (r.tag02Text[0] != '\0') std::printf("field 02     %ld\n", (long)r.tag02Value);
  if (r.firmwareVersion[0] != '\0') std::printf("firmware     %s\n", r.firmwareVersion);
  if (r.versionDetail[0] != '\0') std::printf("version      %s\n", r.versionDetail);
}

int Decode(const Options& options, const BYTE* reply, DWORD length) {
  QX_STATUS_RECORD record;
  const QXRESULT rc = qxParseStatus(reply, static_cast<LONG>(length), &record);
  if (rc != QX_ERR_OK) {
    std::fprintf(stderr, "qxctl: not a status reply (%s): %s\n", ResultText(rc), Hex(reply, length).c_str());
    return 1;
  }
  PrintRecord(options, record, reply, length);
  return 0;
}

struct Request {
  const char* name;
  LONG index;
};
constexpr Request kRequests[] = {
    {"IS", QX_REQ_IS},     {"IN", QX_REQ_IN},     {"IE", QX_REQ_IE}, {"IA2", QX_REQ_IA02},
    {"IA3", QX_REQ_IA03},  {"IA4", QX_REQ_IA04},  {"IC", QX_REQ_IC}, {"plain", QX_REQ_LM_STATUS},
};

// Replies of the monitor's information commands are texts without a
// terminator; a zero the monitor sent ends them.
std::string ReplyText(const BYTE* reply, DWORD length) {
  const void* zero = std::memchr(reply, 0, length);
  return std::string(reinterpret_cast<const char*>(reply),
                     zero ? static_cast<const BYTE*>(zero) - reply : length);
}

int MonitorInfo(const Options& options) {
  using Query = QXRESULT(QXAPI*)(BYTE*, DWORD, DWORD*);
  struct Item {
    const char* key;
    const char* label;
    Query query;
  };
  const Item items[] = {{"printer", "printer  ", qxLMGetPrinterName},
                        {"port", "port     ", qxLMGetPortName},
                        {"version", "version  ", qxLMGetLMVersion}};
  std::string texts[3];
  for (size_t i = 0; i < 3; ++i) {
    BYTE reply[kReplySize];
    DWORD length = 0;
    const QXRESULT rc = items[i].query(reply, sizeof reply, &length);
    if (rc != QX_ERR_OK) return Failed("the language monitor did not answer", rc);
    texts[i] = ReplyText(reply, length);
  }
  BOOL printing = FALSE, crc = FALSE;
  const QXRESULT rcPrinting = qxLMGetPrintInProgress(&printing);
  const QXRESULT rcCrc = qxLMGetCRCError(&crc);
  if (options.json) {
    std::printf("{\"printer\": %s, \"port\": %s, \"version\": %s, \"printing\": %s, \"crcError\": %s}\n",
                JsonText(texts[0]).c_str(), JsonText(texts[1]).c_str(), JsonText(texts[2]).c_str(),
                rcPrinting != QX_ERR_OK ? "null" : printing ? "true" : "false",
                rcCrc != QX_ERR_OK ? "null" : crc ? "true" : "false");
    return 0;
  }
  for (size_t i = 0; i < 3; ++i) std::printf("%s%s\n", items[i].label, texts[i].c_str());
  std::printf("printing   %s\n", rcPrinting != QX_ERR_OK ? ResultText(rcPrinting) : printing ? "yes" : "no");
  std::printf("crc error  %s\n", rcCrc != QX_ERR_OK ? ResultText(rcCrc) : crc ? "flagged" : "no");
  return 0;
}

int Done(const Options& options, const char* what, QXRESULT rc, const char* text = nullptr) {
  if (rc != QX_ERR_OK) {
    if (text != nullptr && text[0] != '\0') std::fprintf(stderr, "qxctl: %s: %s (%s)\n", what, ResultText(rc), text);
    else std::fprintf(stderr, "qxctl: %s: %s\n", what, ResultText(rc));
    return 1;
  }
  if (options.json) {
    std::printf("{\"done\": %s%s%s}\n", JsonText(what).c_str(), text ? ", \"reply\": " : "",
                text ? JsonText(text).c_str() : "");
  } else {
    std::printf("%s%s%s\n", what, text && text[0] ? ": " : "", text ? text : "");
  }
  return 0;
}

// The monitor's progress request for a flash run, and the states of its
// progress text that end the run.
constexpr char kProgressRequest[] = "PROGRESS";
constexpr LONG kFlashDone = 4;
constexpr LONG kFlashFailed = 5;
constexpr DWORD kProgressPollMs = 200;
// A run whose progress text stays the same this long has stalled.
constexpr int kStalledPolls = 600;
constexpr int kBarWidth = 40;

int Flash(const Options& options, const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--verify")) {
    return Usage("lm flash FILE [--verify]");
  }
  char text[kTextSize];
  QXRESULT rc = qxLMProgramFlash(args[1].c_str(), args.size() == 3, text, sizeof text);
  if (rc != QX_ERR_OK) return Done(options, "flash", rc, text);
  if (!options.json) std::printf("flash started: %s\n", text);
  const bool tty = isatty(STDOUT_FILENO) != 0;
  QX_FLASH_PROGRESS progress;
  std::string last;
  for (int unchanged = 0;; ++unchanged) {
    LONG length = 0;
    rc = qxLMGetProgress(kProgressRequest, text, sizeof text, &length);
    if (rc != QX_ERR_OK) return Done(options, "flash progress", rc, text);
    qxLMParseFlashProgress(text, &progress);
    const bool finished = progress.State == kFlashDone;
    const bool failed = progress.State == kFlashFailed || progress.PassFail != 'P';
    if (text != last) {
      last = text;
      unchanged = 0;
      if (options.json) {
        std::printf("{\"state\": %ld, \"max\": %ld, \"current\": %ld, \"passFail\": \"%c\", \"note\": %s}\n",
                    (long)progress.State, (long)progress.Max, (long)progress.Current, progress.PassFail,
                    JsonText(progress.Note).c_str());
      } else {
        const long max = progress.Max > 0 ? progress.Max : 1;
        const long cur = progress.Current < 0 ? 0 : progress.Current > max ? max : progress.Current;
        const int filled = static_cast<int>(cur * kBarWidth / max);
        std::printf("%s[%.*s%*s] %3ld%%  %s%s", tty ? "\r" : "", filled,
                    "########################################", kBarWidth - filled, "", cur * 100 / max,
                    progress.Note, tty ? "\033[K" : "\n");
      }
      std::fflush(stdout);
    }
    if (failed || finished) {
      if (tty && !options.json) std::printf("\n");
      if (failed) {
        std::fprintf(stderr, "qxctl: flash failed: %s\n", progress.Note);
        return 1;
      }
      return 0;
    }
    if (unchanged == kStalledPolls) {
      std::fprintf(stderr, "\nqxctl: flash stalled at: %s\n", text);
      return 1;
    }
    Sleep(kProgressPollMs);
  }
}

}  // namespace

int CmdStatus(const Options& options, const std::vector<std::string>& args) {
  LONG index = QX_REQ_IS;
  if (args.size() == 2 && args[0] == "--request") {
    bool known = false;
    for (const Request& r : kRequests) {
      if (args[1] == r.name) {
        index = r.index;
        known = true;
      }
    }
    if (!known) return Usage("status [--request IS|IN|IE|IA2|IA3|IA4|IC|plain]");
  } else if (!args.empty()) {
    return Usage("status [--request IS|IN|IE|IA2|IA3|IA4|IC|plain]");
  }
  BYTE reply[kReplySize];
  DWORD length = 0;
  const QXRESULT rc = qxLMGetStatus(index, reply, sizeof reply, &length);
  if (rc != QX_ERR_OK) return Failed("no status from the language monitor", rc);
  return Decode(options, reply, length);
}

int CmdParseStatus(const Options& options, const std::vector<std::string>& args) {
  std::string hex;
  for (const std::string& a : args) hex += a;
  std::vector<BYTE> bytes;
  if (args.empty() || !ParseHex(hex, bytes) || bytes.empty()) return Usage("parse-status HEX");
  return Decode(options, bytes.data(), static_cast<DWORD>(bytes.size()));
}

int CmdMonitor(const Options& options, const std::vector<std::string>& args) {
  const char* usage =
      "lm info|reset|abort|clear-crc|refresh|heartbeat N|heartbeat-rate MS|save-method N|"
      "wd-setup FLAG FLAG VALUE VALUE|registry KEY VALUE|flash FILE [--verify]";
  if (args.empty()) return Usage(usage);
  const std::string& sub = args[0];
  std::vector<long> numbers;
  for (size_t i = 1; i < args.size(); ++i) {
    long v = 0;
    if (sub != "registry" && sub != "flash" && !ParseNumber(args[i], v)) return Usage(usage);
    numbers.push_back(v);
  }
  auto want = [&](size_t n) { return args.size() == n + 1; };
  if (sub == "info" && want(0)) return MonitorInfo(options);
  if (sub == "reset" && want(0)) return Done(options, "reset", qxLMResetPrinter());
  if (sub == "abort" && want(0)) return Done(options, "abort", qxLMAbortDocument());
  if (sub == "clear-crc" && want(0)) return Done(options, "clear-crc", qxLMClearCRCError());
  if (sub == "refresh" && want(0)) return Done(options, "refresh", qxLMRefresh());
  if (sub == "heartbeat" && want(1)) return Done(options, "heartbeat", qxLMSetHeartBeat(numbers[0]));
  if (sub == "heartbeat-rate" && want(1)) {
    return Done(options, "heartbeat-rate", qxLMSetHeartBeatRate(numbers[0]));
  }
  if (sub == "save-method" && want(1)) {
    return Done(options, "save-method", qxLMSetSpoolerSaveMethod(numbers[0]));
  }
  if (sub == "wd-setup" && want(4)) {
    return Done(options, "wd-setup",
                qxLMWDSetup(numbers[0] != 0, numbers[1] != 0, numbers[2], numbers[3]));
  }
  if (sub == "registry" && want(2)) {
    long value = 0;
    if (!ParseNumber(args[2], value)) return Usage(usage);
    char text[kTextSize];
    LONG length = 0;
    const QXRESULT rc = qxLMSetRegistryKey(args[1].c_str(), value, text, sizeof text, &length);
    return Done(options, "registry", rc, text);
  }
  if (sub == "flash") return Flash(options, args);
  return Usage(usage);
}

int CmdRfid(const Options& options, const std::vector<std::string>& args) {
  std::string hex;
  for (const std::string& a : args) hex += a;
  std::vector<BYTE> request;
  if (args.empty() || !ParseHex(hex, request) || request.empty()) return Usage("rfid HEX");
  std::vector<BYTE> reply(kRfidReplySize);
  DWORD length = 0;
  const QXRESULT rc = qxLMRFIDPrinter(request.data(), static_cast<DWORD>(request.size()), reply.data(),
                                      static_cast<DWORD>(reply.size()), &length, 0);
  if (rc != QX_ERR_OK) return Failed("rfid", rc);
  const size_t shown = length < reply.size() ? length : reply.size();
  if (options.json) {
    std::printf("{\"reply\": %s}\n", JsonText(Hex(reply.data(), shown)).c_str());
  } else {
    std::printf("%s\n", Hex(reply.data(), shown).c_str());
  }
  return 0;
}

int CmdKey(const Options& options, const std::vector<std::string>& args) {
  long value = 0;
  if (args.size() != 2 || !ParseNumber(args[1], value)) return Usage("key NAME VALUE");
  const QXRESULT rc = qxSetPrinterKeyByName(args[0].c_str(), value);
  if (rc != QX_ERR_OK) return Failed(("key " + args[0]).c_str(), rc);
  if (options.json) {
    std::printf("{\"key\": %s, \"value\": %ld}\n", JsonText(args[0]).c_str(), value);
  } else {
    std::printf("%s = %ld\n", args[0].c_str(), value);
  }
  return 0;
}

}  // namespace qxctl
