// qxctl settings and raw printing: orientation, bins, sheet size, the
// driver's sheet list, raw documents and the current printer's queue.
#include "settings.h"

#include <qxdll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bypass/raw.h"
#include "core/state.h"

namespace qxctl {

namespace {

// Reports an export's result: what was done and 0, or what failed and 1.
int Report(QXRESULT rc, const std::string& done, const std::string& attempt) {
  if (rc == QX_ERR_OK) {
    std::printf("%s\n", done.c_str());
    return 0;
  }
  std::fprintf(stderr, "qxctl: %s: %s (0x%04X)\n", attempt.c_str(), ResultText(rc), rc);
  return 1;
}

// A text fixed in a list entry of size bytes, terminated or not.
std::string Entry(const char* entry, size_t size) {
  return std::string(entry, strnlen(entry, size));
}

// Lists a driver's codes and names, as qxEnumBins and qxEnumSheetSizes give
// them: count query, then fill, with entrySize-byte names. A list that grew
// in between (the printer added again) is filled again with the count the
// fill reported.
using ListExport = QXRESULT(QXAPI*)(LPSTR, WORD*, LONG*);
int PrintDriverList(const Options& options, ListExport list, size_t entrySize, const char* what) {
  LONG count = QX_COUNT_QUERY;
  QXRESULT rc = list(nullptr, nullptr, &count);
  if (rc != QX_ERR_OK || count < 0) return Report(rc != QX_ERR_OK ? rc : QX_ERR_FAILED, "", what);
  std::vector<char> names;
  std::vector<WORD> codes;
  for (int attempt = 0; attempt < 3; ++attempt) {
    names.assign(size_t(count) * entrySize + 1, '\0');
    codes.assign(size_t(count) + 1, 0);
    rc = list(names.data(), codes.data(), &count);
    if (rc != QX_ERR_BUFFER_SMALL) break;
  }
  if (rc != QX_ERR_OK) return Report(rc, "", what);
  if (options.json) std::printf("[");
  for (LONG i = 0; i < count; ++i) {
    const std::string name = Entry(&names[size_t(i) * entrySize], entrySize);
    if (options.json) {
      std::printf("%s{\"code\": %u, \"name\": %s}", i ? ", " : "", codes[i], JsonText(name).c_str());
    } else {
      std::printf("%5u  %s\n", codes[i], name.c_str());
    }
  }
  if (options.json) std::printf("]\n");
  return 0;
}

}  // namespace

int CmdOrientation(const Options&, const std::vector<std::string>& args) {
  if (args.size() != 1 || (args[0] != "portrait" && args[0] != "landscape")) {
    std::fprintf(stderr, "qxctl: orientation portrait|landscape\n");
    return 2;
  }
  const SHORT code = args[0] == "portrait" ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE;
  return Report(qxSetOrientation(code), "orientation set to " + args[0], "orientation " + args[0]);
}

int CmdBins(const Options& options, const std::vector<std::string>&) {
  return PrintDriverList(options, qxEnumBins, 24, "bins");
}

int CmdBin(const Options&, const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "--id") {
    const long id = std::strtol(args[1].c_str(), nullptr, 10);
    return Report(qxSetBinByBinID(static_cast<SHORT>(id)), "bin set to code " + args[1], "bin code " + args[1]);
  }
  if (args.size() != 1) {
    std::fprintf(stderr, "qxctl: bin NAME | bin --id N\n");
    return 2;
  }
  return Report(qxSetBinByBinName(args[0].c_str()), "bin set to " + args[0], "bin \"" + args[0] + "\"");
}

int CmdSheet(const Options& options, const std::vector<std::string>& args) {
  float width = 0, length = 0;
  if (args.size() != 1 || std::sscanf(args[0].c_str(), "%fx%f", &width, &length) != 2) {
    std::fprintf(stderr, "qxctl: sheet WIDTHxLENGTH (inches, e.g. 3.25x6)\n");
    return 2;
  }
  const QXRESULT rc = qxSetSheetSize(&width, &length);
  const bool set = rc == QX_ERR_OK || rc == QX_ERR_SIZE_MISMATCH;
  if (options.json) {
    std::printf("{\"result\": \"%s\", \"width\": %.2f, \"length\": %.2f, \"matched\": %s}\n", ResultText(rc),
                width, length, rc == QX_ERR_OK ? "true" : "false");
  } else if (set) {
    std::printf("sheet set to %.2f x %.2f in (%s)\n", width, length,
                rc == QX_ERR_OK ? "matched" : "closest; the size asked for is not offered");
  } else {
    std::fprintf(stderr, "qxctl: sheet: %s (0x%04X); closest sheet %.2f x %.2f in\n", ResultText(rc), rc, width,
                 length);
  }
  return set ? 0 : 1;
}

int CmdDriverSheets(const Options& options) {
  return PrintDriverList(options, qxEnumSheetSizes, 64, "driver sheets");
}

int CmdPrintRaw(const Options&, const std::vector<std::string>& args) {
  std::string file, name = "qxctl raw document";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--name" && i + 1 < args.size()) {
      name = args[++i];
    } else if (file.empty()) {
      file = args[i];
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "qxctl: print-raw FILE [--name DOC]\n");
    return 2;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qxctl: %s cannot be read\n", file.c_str());
    return 1;
  }
  const std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!qxPrintBypassPrintDocument(name.c_str(), data.data(), static_cast<LONG>(data.size()))) {
    std::fprintf(stderr, "qxctl: the spooler did not take the raw document\n");
    return 1;
  }
  std::printf("sent %zu bytes to %s as \"%s\"\n", data.size(), qx::g_state.printerName, name.c_str());
  return 0;
}

int CmdJobs(const Options& options, const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "--delete") {
    if (!qx::DeletePrintJobs(args[1].c_str())) {
      std::fprintf(stderr, "qxctl: the job list could not be read\n");
      return 1;
    }
    std::printf("deleted the jobs named \"%s\"\n", args[1].c_str());
    return 0;
  }
  if (!args.empty()) {
    std::fprintf(stderr, "qxctl: jobs [--delete NAME]\n");
    return 2;
  }
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  if (!OpenPrinterA(qx::g_state.printerName, &printer, &defaults)) {
    std::fprintf(stderr, "qxctl: no current printer to ask\n");
    return 1;
  }
  DWORD needed = 0, returned = 0;
  EnumJobsA(printer, 0, 1000, 1, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buffer(needed > 0 ? needed : 1);
  const BOOL ok = needed == 0 || EnumJobsA(printer, 0, 1000, 1, buffer.data(), needed, &needed, &returned);
  ClosePrinter(printer);
  if (!ok) {
    std::fprintf(stderr, "qxctl: the job list could not be read\n");
    return 1;
  }
  const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
  if (options.json) std::printf("[");
  for (DWORD i = 0; i < (needed ? returned : 0); ++i) {
    const char* doc = jobs[i].pDocument ? jobs[i].pDocument : "";
    if (options.json) {
      std::printf("%s{\"id\": %u, \"document\": %s, \"status\": %u}", i ? ", " : "",
                  static_cast<unsigned>(jobs[i].JobId), JsonText(doc).c_str(), static_cast<unsigned>(jobs[i].Status));
    } else {
      std::printf("%5u  %s\n", static_cast<unsigned>(jobs[i].JobId), doc);
    }
  }
  if (options.json) {
    std::printf("]\n");
  } else if (returned == 0) {
    std::printf("(no jobs)\n");
  }
  return 0;
}

}  // namespace qxctl
