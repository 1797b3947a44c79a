// qxctl core and discovery commands: version, printers, current, sheets,
// driver-version.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "library_view.h"
#include "qxctl.h"

namespace qxctl {
namespace {

const char* PlatformName(DWORD id) {
  switch (id) {
    case VER_PLATFORM_WIN32_NT: return "NT";
    case VER_PLATFORM_WIN32_WINDOWS: return "Windows 95/98/Me";
    case VER_PLATFORM_WIN32s: return "Win32s";
    default: return "unknown";
  }
}

int Version(const Context& context) {
  char version[QX_DLL_VERSION_SIZE + 11] = {};
  DWORD length = 0;
  if (!qxGetDLLVersion(version, sizeof version, &length)) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_VERSION", "the library gave no version text", ""});
  }
  OSVERSIONINFOA os = {};
  const QXRESULT rc = qxGetOSVersion(&os, nullptr);
  const bool nt = qxIsNT() != 0;
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "the operating-system version cannot be read"));
  if (context.json) {
    Emit({{"library", version},
          {"os",
           {{"major", os.dwMajorVersion},
            {"minor", os.dwMinorVersion},
            {"build", os.dwBuildNumber},
            {"platform", os.dwPlatformId},
            {"csd", os.szCSDVersion}}},
          {"nt", nt}});
    return kExitDone;
  }
  std::printf("library   qxdll %s\n", version);
  std::printf("os        %lu.%lu build %lu, %s platform%s%s\n", static_cast<unsigned long>(os.dwMajorVersion),
              static_cast<unsigned long>(os.dwMinorVersion), static_cast<unsigned long>(os.dwBuildNumber),
              PlatformName(os.dwPlatformId), os.szCSDVersion[0] ? ", " : "", os.szCSDVersion);
  std::printf("nt        %s\n", nt ? "yes" : "no");
  return kExitDone;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

int Printers(const Context& context) {
  // A printer added between the size query and the fill asks for more room.
  QXRESULT rc = QX_ERR_BUFFER_SMALL;
  std::vector<BYTE> buffer;
  LONG count = 0;
  for (int attempt = 0; attempt < 3 && rc == QX_ERR_BUFFER_SMALL; ++attempt) {
    DWORD needed = 0;
    count = QX_COUNT_QUERY;
    rc = qxEnumPrinters(nullptr, 0, 2, &needed, &count);
    if (rc != QX_ERR_OK) break;
    buffer.assign(needed > 0 ? needed : 1, 0);
    count = 0;
    rc = qxEnumPrinters(buffer.data(), static_cast<LONG>(buffer.size()), 2, &needed, &count);
  }
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot list the printers"));
  char defaultName[QX_NAME_SIZE] = {};
  DWORD size = sizeof defaultName;
  if (qxNewGetDefaultPrinter(defaultName, &size) != QX_ERR_OK) defaultName[0] = '\0';
  const std::string current = CurrentPrinter(context);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());

  json list = json::array();
  size_t nameWidth = 4, portWidth = 4;
  for (LONG i = 0; i < count; ++i) {
    const std::string name = Text(info[i].pPrinterName);
    list.push_back({{"name", name},
                    {"port", Text(info[i].pPortName)},
                    {"driver", Text(info[i].pDriverName)},
                    {"status", info[i].Status},
                    {"jobs", info[i].cJobs},
                    {"maker", name.rfind("QX ", 0) == 0 || name.rfind("qx ", 0) == 0},
                    {"default", name == defaultName},
                    {"current", name == current}});
    nameWidth = std::max(nameWidth, name.size());
    portWidth = std::max(portWidth, Text(info[i].pPortName).size());
  }
  if (context.json) {
    Emit(list);
    return kExitDone;
  }
  for (const json& p : list) {
    const unsigned long jobs = p["jobs"].get<unsigned long>();
    std::printf("%c%c%c %-*s  %-*s  %s, %lu job%s\n", p["current"].get<bool>() ? '>' : ' ',
                p["maker"].get<bool>() ? 'Q' : ' ', p["default"].get<bool>() ? '*' : ' ',
                static_cast<int>(nameWidth), p["name"].get<std::string>().c_str(), static_cast<int>(portWidth),
                p["port"].get<std::string>().c_str(), p["driver"].get<std::string>().c_str(), jobs,
                jobs == 1 ? "" : "s");
  }
  std::printf(list.empty() ? "(no printers)\n" : "(> current printer, Q the maker's, * system default)\n");
  return kExitDone;
}

int Current(const Context& context) {
  const std::string printer = CurrentPrinter(context);
  if (printer.empty()) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_PRINTER", "the library has no current printer",
                          "the spooler has none of the maker's printers and no default printer (qxctl printers)"});
  }
  char port[QX_NAME_SIZE] = {}, driver[QX_NAME_SIZE] = {};
  qxNewGetPrinterPort(printer.c_str(), port);
  qxNewGetPrinterDriver(printer.c_str(), driver);
  const std::optional<LibraryView> view = InspectLibrary();
  json out = {{"printer", printer}, {"port", port}, {"driver", driver}, {"pipe", nullptr}, {"monitor", nullptr}};
  if (view) {
    // The library's own record of them, which is what its calls use.
    out["driver"] = view->driver;
    out["pipe"] = view->pipe;
    out["monitor"] = view->monitor;
    out["pipeTimeout"] = view->pipeTimeoutMs;
    out["statusTimeout"] = view->statusTimeoutMs;
  }
  if (context.json) {
    Emit(out);
    return kExitDone;
  }
  std::printf("printer   %s\n", printer.c_str());
  std::printf("port      %s\n", OrNone(port).c_str());
  std::printf("driver    %s\n", OrNone(out["driver"].get<std::string>()).c_str());
  if (view) {
    std::printf("pipe      %s\n", OrNone(view->pipe).c_str());
    std::printf("monitor   %s\n", view->monitor ? "available" : "not available");
  }
  return kExitDone;
}

int TicketSheets(const Context& context) {
  const std::optional<LibraryView> view = InspectLibrary();
  if (!view) {
    return Fail(context, {kExitRefused, std::nullopt, "NOT_IN_THIS_BUILD",
                          "the ticket sheet table is the library's own record, which only the POSIX developer "
                          "build can show",
                          "qxctl sheets --driver lists every sheet of the driver"});
  }
  if (context.json) {
    json list = json::array();
    for (const TicketSheetView& s : view->sheets) {
      list.push_back({{"name", s.name},
                      {"code", s.paperCode},
                      {"widthInches", s.widthInches},
                      {"lengthInches", s.lengthInches},
                      {"widthTenthsMm", s.widthTenthsMm},
                      {"lengthTenthsMm", s.lengthTenthsMm}});
    }
    Emit(list);
    return kExitDone;
  }
  for (const TicketSheetView& s : view->sheets) {
    std::printf("%-32s code %-4lu %6.3f x %6.3f in  (%ld x %ld tenths of a mm)\n", s.name.c_str(),
                static_cast<unsigned long>(s.paperCode), s.widthInches, s.lengthInches, s.widthTenthsMm,
                s.lengthTenthsMm);
  }
  if (view->sheets.empty()) std::printf("(no ticket sheets)\n");
  return kExitDone;
}

// The version of a printer's driver package, as qxLMGetDriverVersion reports it.
int DriverVersion(const Context& context, const std::string& named) {
  const std::string printer = named.empty() ? CurrentPrinter(context) : named;
  char port[QX_NAME_SIZE] = {}, driver[QX_NAME_SIZE] = {};
  if (printer.empty() || qxNewGetPrinterPort(printer.c_str(), port) != QX_ERR_OK) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_PRINTER",
                          printer.empty() ? "the library has no current printer"
                                          : "there is no printer '" + printer + "'",
                          "qxctl printers lists the installed printers"});
  }
  qxNewGetPrinterDriver(printer.c_str(), driver);
  char version[512] = {};
  DWORD length = 0;
  if (!qxLMGetDriverVersion(named.empty() ? nullptr : named.c_str(), version, sizeof version, &length)) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_VERSION",
                          "no driver version found for '" + printer + "'",
                          "the driver lists no known user-interface module and no version module with a "
                          "version resource"});
  }
  if (context.json) {
    Emit({{"printer", printer}, {"driver", driver}, {"version", std::string(version, length)}});
    return kExitDone;
  }
  std::printf("printer   %s\n", printer.c_str());
  std::printf("driver    %s\n", OrNone(driver).c_str());
  std::printf("version   %s\n", version);
  return kExitDone;
}

}  // namespace

int PrintDriverList(const Context& context, ListExport list, size_t entrySize, const char* what) {
  LONG count = QX_COUNT_QUERY;
  QXRESULT rc = list(nullptr, nullptr, &count);
  if (rc == QX_ERR_OK && count < 0) rc = QX_ERR_FAILED;
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, std::string("cannot list the ") + what));
  std::vector<char> names;
  std::vector<WORD> codes;
  for (int attempt = 0; attempt < 3; ++attempt) {
    names.assign(size_t(count) * entrySize + 1, '\0');
    codes.assign(size_t(count) + 1, 0);
    rc = list(names.data(), codes.data(), &count);
    if (rc != QX_ERR_BUFFER_SMALL || count < 0) break;
  }
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, std::string("cannot list the ") + what));
  json entries = json::array();
  for (LONG i = 0; i < count; ++i) {
    const char* entry = &names[size_t(i) * entrySize];
    entries.push_back({{"code", codes[i]}, {"name", std::string(entry, strnlen(entry, entrySize))}});
  }
  if (context.json) {
    Emit(entries);
    return kExitDone;
  }
  for (const json& e : entries) {
    std::printf("%5u  %s\n", e["code"].get<unsigned>(), e["name"].get<std::string>().c_str());
  }
  if (entries.empty()) std::printf("(no %s)\n", what);
  return kExitDone;
}

void AddLibraryCommands(CLI::App& app, Commands& commands) {
  commands.Add(app, "version", "Library version, operating-system version and NT flag", Needs::kNothing, Version);
  commands.Add(app, "printers", "The installed printers: > current, Q the maker's, * system default",
               Needs::kSpooler, Printers);
  commands.Add(app, "current",
               "The current printer, its port and driver; in the POSIX build also the library's pipe name and "
               "whether its language monitor answered",
               Needs::kSpooler, Current);
  auto driver = std::make_shared<bool>(false);
  CLI::App* sheets = commands.Add(
      app, "sheets", "The ticket sheet table the library built from the driver (POSIX build), or --driver",
      Needs::kSpooler, [driver](const Context& context) {
        return *driver ? PrintDriverList(context, qxEnumSheetSizes, QX_SHEET_NAME_SIZE, "driver sheets")
                       : TicketSheets(context);
      });
  sheets->add_flag("--driver", *driver, "Every sheet the driver offers, with its paper code");
  auto printer = std::make_shared<std::string>();
  CLI::App* version = commands.Add(
      app, "driver-version", "The version of a printer's driver package (the current printer by default)",
      Needs::kSpooler, [printer](const Context& context) { return DriverVersion(context, *printer); });
  version->add_option("PRINTER", *printer, "the printer's name, as qxctl printers shows it");
}

}  // namespace qxctl
