// qxctl settings and raw printing: sheet size, orientation, bins, raw
// documents and the current printer's queue.
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {
namespace {

// A setter's echo: what it set, in words or as {"set": what, "value": value}.
int Set(const Context& context, const char* what, const json& value, const std::string& words) {
  if (context.json) {
    Emit({{"set", what}, {"value", value}});
  } else {
    std::printf("%s set to %s\n", what, words.c_str());
  }
  return kExitDone;
}

int Sheet(const Context& context, const std::string& size) {
  float width = 0, length = 0;
  ParseSheetSize(size, &width, &length);
  const float askedWidth = width, askedLength = length;
  const QXRESULT rc = qxSetSheetSize(&width, &length);
  if (rc != QX_ERR_OK && rc != QX_ERR_SIZE_MISMATCH) {
    return Fail(context, LibraryFailure(rc, "cannot set the sheet to " + size));
  }
  const bool matched = rc == QX_ERR_OK;
  if (context.json) {
    Emit({{"set", "sheet"},
          {"value", {{"width", width}, {"length", length}}},
          {"asked", {{"width", askedWidth}, {"length", askedLength}}},
          {"matched", matched}});
  } else {
    std::printf("sheet set to %.2f x %.2f in (%s)\n", width, length,
                matched ? "matched" : "closest; the size asked for is not offered");
  }
  return kExitDone;
}

int Orientation(const Context& context, const std::string& name) {
  const SHORT code = name == "portrait" ? QX_ORIENT_PORTRAIT : QX_ORIENT_LANDSCAPE;
  const QXRESULT rc = qxSetOrientation(code);
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot set the orientation to " + name));
  return Set(context, "orientation", name, name);
}

int Bin(const Context& context, const std::string& name, long long id) {
  if (!name.empty()) {
    const QXRESULT rc = qxSetBinByBinName(name.c_str());
    if (rc != QX_ERR_OK) {
      return Fail(context, LibraryFailure(rc, "cannot set the bin \"" + name + "\"",
                                          rc == QX_ERR_BIN_NOT_FOUND ? "names match case and all (qxctl bins)" : ""));
    }
    return Set(context, "bin", {{"name", name}}, "\"" + name + "\"");
  }
  const QXRESULT rc = qxSetBinByBinID(static_cast<SHORT>(id));
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot set the bin code " + std::to_string(id)));
  return Set(context, "bin", {{"id", id}}, "code " + std::to_string(id));
}

int PrintRaw(const Context& context, const std::string& file, const std::string& name) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0) {
    return Fail(context, {kExitRefused, std::nullopt, "FILE", "'" + file + "' cannot be read", ""});
  }
  // One raw document carries at most what a LONG length can say.
  if (size > std::numeric_limits<LONG>::max()) {
    return Fail(context, {kExitRefused, std::nullopt, "FILE", "'" + file + "' is too large for one raw document",
                          "a raw document holds at most 2 GiB"});
  }
  std::vector<char> data(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(data.data(), size)) {
    return Fail(context, {kExitRefused, std::nullopt, "FILE", "'" + file + "' cannot be read", ""});
  }
  const std::string printer = CurrentPrinter(context);
  if (!qxPrintBypassPrintDocument(name.c_str(), data.data(), static_cast<LONG>(data.size()))) {
    return Fail(context, {kExitRefused, std::nullopt, "NOT_SPOOLED",
                          "the spooler did not take the raw document for " + OrNone(printer), ""});
  }
  if (context.json) {
    Emit({{"sent", data.size()}, {"printer", printer}, {"document", name}});
  } else {
    std::printf("sent %zu bytes to %s as \"%s\"\n", data.size(), printer.c_str(), name.c_str());
  }
  return kExitDone;
}

// The current printer's queue, read with the spooler's own calls: no export
// lists jobs. Deleting is done here too, so that the count is known.
class Queue {
 public:
  explicit Queue(const std::string& printer) {
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (printer.empty() || !OpenPrinterA(const_cast<LPSTR>(printer.c_str()), &handle_, &defaults)) handle_ = nullptr;
  }
  ~Queue() {
    if (handle_ != nullptr) ClosePrinter(handle_);
  }
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  bool open() const { return handle_ != nullptr; }
  // The jobs as JOB_INFO_1A records in buffer; false when the list cannot be read.
  bool Read(std::vector<BYTE>& buffer, DWORD* count) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      DWORD needed = 0;
      *count = 0;
      if (EnumJobsA(handle_, 0, kMaxJobs, 1, nullptr, 0, &needed, count)) return true;  // no jobs
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
      buffer.assign(needed, 0);
      if (EnumJobsA(handle_, 0, kMaxJobs, 1, buffer.data(), needed, &needed, count)) return true;
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    }
    return false;
  }
  bool Delete(DWORD id) { return SetJobA(handle_, id, 0, nullptr, JOB_CONTROL_DELETE) != 0; }

 private:
  static constexpr DWORD kMaxJobs = 1000;
  HANDLE handle_ = nullptr;
};

int Jobs(const Context& context, const std::optional<std::string>& deleteName) {
  const std::string printer = CurrentPrinter(context);
  Queue queue(printer);
  if (!queue.open()) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_PRINTER",
                          "the queue of " + OrNone(printer) + " cannot be opened", "qxctl printers lists the printers"});
  }
  std::vector<BYTE> buffer;
  DWORD count = 0;
  if (!queue.Read(buffer, &count)) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_JOB_LIST", "the job list of " + printer + " cannot be read", ""});
  }
  const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
  auto document = [&](DWORD i) { return std::string(jobs[i].pDocument != nullptr ? jobs[i].pDocument : ""); };

  if (deleteName) {
    unsigned deleted = 0, refused = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (document(i) != *deleteName) continue;
      (queue.Delete(jobs[i].JobId) ? deleted : refused) += 1;
    }
    if (refused > 0) {
      return Fail(context, {kExitRefused, std::nullopt, "DELETE_REFUSED",
                            "the spooler refused to delete " + std::to_string(refused) + " of the " +
                                std::to_string(deleted + refused) + " jobs named \"" + *deleteName + "\"",
                            ""});
    }
    if (deleted == 0) {
      return Fail(context, {kExitRefused, std::nullopt, "NO_SUCH_JOB",
                            "no job of " + printer + " is named \"" + *deleteName + "\"; nothing deleted",
                            "qxctl jobs lists the queue; names match case and all"});
    }
    if (context.json) {
      Emit({{"deleted", deleted}, {"document", *deleteName}, {"printer", printer}});
    } else {
      std::printf("deleted %u job%s named \"%s\" from %s\n", deleted, deleted == 1 ? "" : "s", deleteName->c_str(),
                  printer.c_str());
    }
    return kExitDone;
  }

  json list = json::array();
  for (DWORD i = 0; i < count; ++i) {
    list.push_back({{"id", jobs[i].JobId}, {"document", document(i)}, {"status", jobs[i].Status}});
  }
  if (context.json) {
    Emit(list);
    return kExitDone;
  }
  for (const json& job : list) {
    std::printf("%5u  %s\n", job["id"].get<unsigned>(), job["document"].get<std::string>().c_str());
  }
  if (list.empty()) std::printf("(no jobs)\n");
  return kExitDone;
}

int Drawer(const Context& context) {
  const std::string printer = CurrentPrinter(context);
  WaitNotice notice("the language monitor of " + OrNone(printer) + " (the drawer is pulsed only when it answers)");
  if (!qxPulseCashDrawerGPrinter()) {
    // Say why: the library answers only 0, so ask the monitor the same question.
    BOOL ok = FALSE;
    const QXRESULT rc = qxLMGetPrinterOKStatus(&ok);
    if (rc != QX_ERR_OK) {
      return Fail(context, LibraryFailure(rc, "the drawer was not pulsed: the language monitor of " + OrNone(printer) +
                                                  " does not answer",
                                          "the drawer is pulsed only while the monitor reports the printer in order"));
    }
    return Fail(context, {kExitRefused, std::nullopt, ok ? "NOT_SPOOLED" : "PRINTER_NOT_OK",
                          ok ? "the drawer command could not be spooled to " + printer
                             : "the drawer was not pulsed: " + printer + " reports paper low or not ready",
                          ok ? "" : "qxctl status shows the printer's conditions"});
  }
  if (context.json) {
    Emit({{"drawer", "pulsed"}, {"printer", printer}});
  } else {
    std::printf("drawer pulsed on %s\n", printer.c_str());
  }
  return kExitDone;
}

}  // namespace

void AddSettingsCommands(CLI::App& app, Commands& commands) {
  auto size = std::make_shared<std::string>();
  CLI::App* sheet = commands.Add(
      app, "sheet", "Make the driver's sheet closest to a size in inches the default paper, e.g. 3.25x6",
      Needs::kSpooler, [size](const Context& context) { return Sheet(context, *size); });
  sheet->add_option("SIZE", *size, "WIDTHxLENGTH in inches, each a number above 0")->required()->check(SheetSize());

  auto orientation = std::make_shared<std::string>();
  CLI::App* orient = commands.Add(app, "orientation", "Set the current printer's orientation", Needs::kSpooler,
                                  [orientation](const Context& context) { return Orientation(context, *orientation); });
  orient->add_option("ORIENTATION", *orientation, "portrait or landscape")
      ->required()
      ->check(CLI::IsMember({"portrait", "landscape"}));

  commands.Add(app, "bins", "The output bins of the current printer's driver", Needs::kSpooler,
               [](const Context& context) { return PrintDriverList(context, qxEnumBins, QX_BIN_NAME_SIZE, "bins"); });

  auto binName = std::make_shared<std::string>();
  auto binId = std::make_shared<long long>(0);
  CLI::App* bin = commands.Add(app, "bin", "Set the output bin by name (exactly, case included) or by code",
                               Needs::kSpooler,
                               [binName, binId](const Context& context) { return Bin(context, *binName, *binId); });
  CLI::Option* name = bin->add_option("NAME", *binName, "the bin's name, as qxctl bins shows it");
  CLI::Option* id = bin->add_option("--id", *binId, "the bin's code instead")->check(WholeNumber(1, 32767));
  name->excludes(id);
  bin->require_option(1);

  auto file = std::make_shared<std::string>();
  auto document = std::make_shared<std::string>("qxctl raw document");
  CLI::App* raw = commands.Add(app, "print-raw", "Send a file's bytes to the current printer as a raw document",
                               Needs::kSpooler,
                               [file, document](const Context& context) { return PrintRaw(context, *file, *document); });
  raw->add_option("FILE", *file, "the bytes to send")->required()->check(ReadableFile());
  raw->add_option("--name", *document, "the document's name in the queue")->capture_default_str();

  auto deleteName = std::make_shared<std::optional<std::string>>();
  CLI::App* jobs = commands.Add(app, "jobs", "The current printer's queue, or delete the jobs of one name",
                                Needs::kSpooler,
                                [deleteName](const Context& context) { return Jobs(context, *deleteName); });
  jobs->add_option_function<std::string>(
      "--delete", [deleteName](const std::string& value) { *deleteName = value; },
      "delete the jobs whose document is named exactly NAME; says how many");

  commands.Add(app, "drawer", "Open the cash drawer on the current printer's drawer output (only while it is in order)",
               Needs::kSpooler, Drawer);
}

}  // namespace qxctl
