// qxctl: the host command line for qxdll. Every capability of the library for a
// person at a terminal: human-readable by default, --json for scripts.
#include <qxdll.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
  bool json = false;
};

// Escapes a text for a JSON string value.
std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

const char* PlatformName(DWORD id) {
  switch (id) {
    case VER_PLATFORM_WIN32_NT: return "NT";
    case VER_PLATFORM_WIN32_WINDOWS: return "Windows 95/98/Me";
    case VER_PLATFORM_WIN32s: return "Win32s";
    default: return "unknown";
  }
}

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
      std::printf("{\"error\": %s}", JsonText(qxResultName(rc) ? qxResultName(rc) : "?").c_str());
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
    std::printf("os        unavailable (%s)\n", qxResultName(rc) ? qxResultName(rc) : "?");
  }
  std::printf("nt        %s\n", nt ? "yes" : "no");
  return rc == QX_ERR_OK ? 0 : 1;
}

struct Command {
  const char* name;
  const char* args;
  const char* help;
  int (*run)(const Options&, const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"version", "", "library version, operating-system version and NT flag", CmdVersion},
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
    std::fprintf(out, "  %-24s %s\n", head.c_str(), c.help);
  }
  std::fprintf(out,
               "\n"
               "options:\n"
               "  --json                   machine-readable output\n"
               "  -h, --help               this help\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--json") {
      options.json = true;
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
    if (args[0] == c.name) {
      return c.run(options, std::vector<std::string>(args.begin() + 1, args.end()));
    }
  }
  std::fprintf(stderr, "qxctl: unknown command '%s' (try qxctl --help)\n", args[0].c_str());
  return 2;
}
