// qxctl: the host command line for qxdll. Every capability of the library for a
// person at a terminal: human-readable by default, --json for scripts.
#include <qxdll.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/discovery.h"
#include "core/state.h"
#include "monitor.h"
#include "qxctl.h"
#include "settings.h"
#include "sim.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

using qx::g_state;

using qxctl::JsonText;
using qxctl::ResultText;
using qxctl::Options;


const char* PlatformName(DWORD id) {
  switch (id) {
    case VER_PLATFORM_WIN32_NT: return "NT";
    case VER_PLATFORM_WIN32_WINDOWS: return "Windows 95/98/Me";
    case VER_PLATFORM_WIN32s: return "Win32s";
    default: return "unknown";
  }
}

// The library's attach, run for the commands that need the library's view.
// qxctl links the library's objects, so it can show the state record itself.
class Attached {
 public:
  Attached() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }
  ~Attached() { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); }
  Attached(const Attached&) = delete;
  Attached& operator=(const Attached&) = delete;
};

int CmdVersion(const Options& options, const std::vector<std::string>&) {
  char version[64] = {};
  DWORD length = 0;
  if (!qxGetDLLVersion(version, sizeof version, &length)) {
    std::fprintf(stderr, "qxctl: the library gave no version text\n");
    return 1;
  }
  OSVERSIONINFOA os = {};
  const QXRESULT rc = qxGetOSVersion(&os, nullptr);
  const bool nt = qxIsNT() != 0;
  if (options.json) {
    std::printf("{\"library\": %s, \"os\": ", JsonText(version).c_str());
    if (rc == QX_ERR_OK) {
      std::printf("{\"major\": %lu, \"minor\": %lu, \"build\": %lu, \"platform\": %lu, \"csd\": %s}",
                  (unsigned long)os.dwMajorVersion, (unsigned long)os.dwMinorVersion,
                  (unsigned long)os.dwBuildNumber, (unsigned long)os.dwPlatformId,
                  JsonText(os.szCSDVersion).c_str());
    } else {
      std::printf("{\"error\": %s}", JsonText(ResultText(rc)).c_str());
    }
    std::printf(", \"nt\": %s}\n", nt ? "true" : "false");
    return rc == QX_ERR_OK ? 0 : 1;
  }
  std::printf("library   qxdll %s\n", version);
  if (rc == QX_ERR_OK) {
    std::printf("os        %lu.%lu build %lu, %s platform%s%s\n", (unsigned long)os.dwMajorVersion,
                (unsigned long)os.dwMinorVersion, (unsigned long)os.dwBuildNumber,
                PlatformName(os.dwPlatformId), os.szCSDVersion[0] ? ", " : "", os.szCSDVersion);
  } else {
    std::printf("os        unavailable (%s)\n", ResultText(rc));
  }
  std::printf("nt        %s\n", nt ? "yes" : "no");
  return rc == QX_ERR_OK ? 0 : 1;
}

std::string DefaultPrinterName() {
  char name[qx::kNameSize] = {};
  DWORD size = sizeof name;
  return qxNewGetDefaultPrinter(name, &size) == QX_ERR_OK ? name : "";
}

int CmdPrinters(const Options& options, const std::vector<std::string>&) {
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  QXRESULT rc = qxEnumPrinters(nullptr, 0, 2, &needed, &count);
  std::vector<BYTE> buffer(needed > 0 ? needed : 1);
  count = 0;
  if (rc == QX_ERR_OK) {
    rc = qxEnumPrinters(buffer.data(), static_cast<LONG>(buffer.size()), 2, &needed, &count);
  }
  if (rc != QX_ERR_OK) {
    std::fprintf(stderr, "qxctl: cannot list the printers: %s\n", ResultText(rc));
    return 1;
  }
  const std::string def = DefaultPrinterName();
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  auto text = [](const char* t) { return std::string(t != nullptr ? t : ""); };
  size_t nameWidth = 4, portWidth = 4;
  for (LONG i = 0; i < count; ++i) {
    nameWidth = std::max(nameWidth, text(info[i].pPrinterName).size());
    portWidth = std::max(portWidth, text(info[i].pPortName).size());
  }
  if (options.json) std::printf("[");
  for (LONG i = 0; i < count; ++i) {
    const PRINTER_INFO_2A& p = info[i];
    const std::string name = text(p.pPrinterName);
    const bool maker = qx::IsMakerPrinter(name.c_str());
    const bool isDefault = name == def;
    const bool current = name == g_state.printerName;
    if (options.json) {
      std::printf("%s{\"name\": %s, \"port\": %s, \"driver\": %s, \"status\": %lu, \"jobs\": %lu, "
                  "\"maker\": %s, \"default\": %s, \"current\": %s}",
                  i ? ", " : "", JsonText(name).c_str(), JsonText(text(p.pPortName)).c_str(),
                  JsonText(text(p.pDriverName)).c_str(), (unsigned long)p.Status,
                  (unsigned long)p.cJobs, maker ? "true" : "false", isDefault ? "true" : "false",
                  current ? "true" : "false");
    } else {
      std::printf("%c%c%c %-*s  %-*s  %s, %lu job%s\n", current ? '>' : ' ', maker ? 'Q' : ' ',
                  isDefault ? '*' : ' ', static_cast<int>(nameWidth), name.c_str(),
                  static_cast<int>(portWidth), text(p.pPortName).c_str(), text(p.pDriverName).c_str(),
                  (unsigned long)p.cJobs, p.cJobs == 1 ? "" : "s");
    }
  }
  if (options.json) {
    std::printf("]\n");
  } else {
    std::printf("(> current printer, Q the maker's, * system default)\n");
  }
  return 0;
}

int CmdCurrent(const Options& options, const std::vector<std::string>&) {
  const bool lm = g_state.lmAvailable != 0;
  if (options.json) {
    std::printf("{\"printer\": %s, \"port\": %s, \"driver\": %s, \"pipe\": %s, "
                "\"monitor\": %s, \"pipeTimeout\": %lu, \"statusTimeout\": %lu}\n",
                JsonText(g_state.printerName).c_str(), JsonText(g_state.portName).c_str(),
                JsonText(g_state.driverName).c_str(), JsonText(g_state.pipeName).c_str(),
                lm ? "true" : "false", (unsigned long)g_state.pipeTimeout,
                (unsigned long)g_state.statusTimeout);
    return 0;
  }
  std::printf("printer   %s\n", g_state.printerName[0] ? g_state.printerName : "(none)");
  std::printf("port      %s\n", g_state.portName);
  std::printf("driver    %s\n", g_state.driverName);
  std::printf("pipe      %s\n", g_state.pipeName);
  std::printf("monitor   %s\n", lm ? "available" : "not available");
  return 0;
}

int CmdSheets(const Options& options, const std::vector<std::string>&) {
  const qx::TicketSheetTable& table = g_state.sheets;
  if (options.json) std::printf("[");
  for (WORD i = 0; i < table.count; ++i) {
    const qx::TicketSheet& s = table.sheets[i];
    if (options.json) {
      std::printf("%s{\"name\": %s, \"code\": %lu, \"widthInches\": %.3f, \"lengthInches\": %.3f, "
                  "\"widthTenthsMm\": %ld, \"lengthTenthsMm\": %ld}",
                  i ? ", " : "", JsonText(s.name).c_str(), (unsigned long)s.paperCode, s.widthInches,
                  s.lengthInches, (long)s.widthTenthsMm, (long)s.lengthTenthsMm);
    } else {
      std::printf("%-32s code %-4lu %6.3f x %6.3f in  (%ld x %ld tenths of a mm)\n", s.name,
                  (unsigned long)s.paperCode, s.widthInches, s.lengthInches, (long)s.widthTenthsMm,
                  (long)s.lengthTenthsMm);
    }
  }
  if (options.json) {
    std::printf("]\n");
  } else if (table.count == 0) {
    std::printf("(no ticket sheets)\n");
  }
  return 0;
}

struct Command {
  const char* name;
  const char* args;
  const char* help;
  int (*run)(const Options&, const std::vector<std::string>&);
  bool library;  // runs with the library attached
};

int CmdSheetsOrDriver(const Options& options, const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--driver") return qxctl::CmdDriverSheets(options);
  return CmdSheets(options, args);
}

const Command kCommands[] = {
    {"version", "", "library version, operating-system version and NT flag", CmdVersion, true},
    {"printers", "", "the installed printers; marks the maker's, the default and the current one",
     CmdPrinters, true},
    {"current", "", "the current printer, its port, driver, pipe and language monitor", CmdCurrent, true},
    {"sheets", "[--driver]", "the ticket sheets of the current printer (--driver: all its driver's sheets)",
     CmdSheetsOrDriver, true},
    {"sheet", "WIDTHxLENGTH", "set the closest sheet to a size in inches, e.g. 3.25x6", qxctl::CmdSheet, true},
    {"orientation", "portrait|landscape", "set the current printer's orientation", qxctl::CmdOrientation, true},
    {"bins", "", "the output bins of the current printer's driver", qxctl::CmdBins, true},
    {"bin", "NAME | --id N", "set the output bin by name or by code", qxctl::CmdBin, true},
    {"print-raw", "FILE [--name DOC]", "send a file's bytes to the current printer as a raw document",
     qxctl::CmdPrintRaw, true},
    {"jobs", "[--delete NAME]", "the current printer's queued jobs, or delete those named NAME",
     qxctl::CmdJobs, true},
    {"status", "[--request IS|IN|IE|IA2|IA3|IA4|IC|plain]",
     "the printer's status through its language monitor, decoded, each condition in words",
     qxctl::CmdStatus, true},
    {"parse-status", "HEX", "decode a status reply given in hexadecimal", qxctl::CmdParseStatus, false},
    {"lm", "info|reset|abort|clear-crc|refresh", "the language monitor's information, or a printer command",
     qxctl::CmdMonitor, true},
    {"lm", "heartbeat N|heartbeat-rate MS|save-method N", "monitor settings", qxctl::CmdMonitor, true},
    {"lm", "wd-setup FLAG FLAG VALUE VALUE", "set up the WD function", qxctl::CmdMonitor, true},
    {"lm", "registry KEY VALUE", "have the monitor write a registry value", qxctl::CmdMonitor, true},
    {"lm", "flash FILE [--verify]", "program the printer's flash through the monitor, with progress",
     qxctl::CmdMonitor, true},
    {"rfid", "HEX", "bytes through the printer's RFID function; shows the reply", qxctl::CmdRfid, true},
    {"key", "NAME VALUE", "write one of the driver's known settings (AUTOSIZE, BEEPER_CONTROL, ...)",
     qxctl::CmdKey, true},
    {"sim", "start [--world FILE]|stop|status", "run the simulated world in the background",
     qxctl::CmdSim, false},
};

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: qxctl [--json] COMMAND [ARGS]\n"
               "\n"
               "Drives the maker's ticket printers through qxdll.\n"
               "\n"
               "commands:\n");
  for (const Command& c : kCommands) {
    std::string head = std::string(c.name) + (c.args[0] ? " " : "") + c.args;
    if (head.size() > 24) {
      std::fprintf(out, "  %s\n  %-24s %s\n", head.c_str(), "", c.help);
    } else {
      std::fprintf(out, "  %-24s %s\n", head.c_str(), c.help);
    }
  }
  std::fprintf(out,
               "\n"
               "options:\n"
               "  --json                   machine-readable output\n"
               "  --printer NAME           switch to that printer first (qxSetNewPrinter)\n"
               "  -h, --help               this help\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<std::string> args;
  const char* printer = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--printer") {
      if (i + 1 == argc) {
        std::fprintf(stderr, "qxctl: --printer needs a printer name\n");
        return 2;
      }
      printer = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      PrintHelp(stdout);
      return 0;
    } else {
      args.emplace_back(arg);
    }
  }
  if (args.empty()) {
    PrintHelp(stderr);
    return 2;
  }
  for (const Command& c : kCommands) {
    if (args[0] != c.name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!c.library) return c.run(options, rest);
    Attached library;
    if (printer != nullptr && !qxSetNewPrinter(printer)) {
      std::fprintf(stderr, "qxctl: cannot switch to printer '%s'\n", printer);
      return 1;
    }
    return c.run(options, rest);
  }
  std::fprintf(stderr, "qxctl: unknown command '%s' (try qxctl --help)\n", args[0].c_str());
  return 2;
}
