// qxctl flash: reprograms the current printer's firmware from a file through
// its port (qxProgramFlash), the port taken for the run and given back.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "library_view.h"
#include "port_hold.h"
#include "qxctl.h"

namespace qxctl {
namespace {

constexpr uint64_t kBlock = 512;
constexpr int kBarWidth = 30;

// A progress bar on standard error while the run goes on: the blocks the
// printer's port has taken of the blocks in the file, then the wait for the
// printer's restart. It reads the port's write count a few times a second.
class FlashProgress {
 public:
  FlashProgress(std::function<std::optional<uint64_t>()> writes, uint64_t blocks, bool smart)
      : writes_(std::move(writes)), blocks_(blocks) {
    const std::optional<uint64_t> start = writes_();
    if (!start) return;
    const uint64_t first = *start + (smart ? 2 : 0);  // smart mode writes the flash-mode command and inquiry first
    thread_ = std::thread([this, first] { Run(first); });
  }
  ~FlashProgress() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
      std::fprintf(stderr, "\n");
    }
  }
  FlashProgress(const FlashProgress&) = delete;
  FlashProgress& operator=(const FlashProgress&) = delete;

 private:
  void Run(uint64_t first) {
    std::unique_lock<std::mutex> guard(lock_);
    while (!wake_.wait_for(guard, std::chrono::milliseconds(250), [this] { return done_; })) {
      const std::optional<uint64_t> now = writes_();
      if (!now) continue;
      const uint64_t sent = *now > first ? std::min(*now - first, blocks_) : 0;
      const int filled = blocks_ == 0 ? kBarWidth : static_cast<int>(sent * kBarWidth / blocks_);
      std::fprintf(stderr, "\r[%s%s] %llu of %llu blocks%s", std::string(filled, '#').c_str(),
                   std::string(kBarWidth - filled, '.').c_str(), static_cast<unsigned long long>(sent),
                   static_cast<unsigned long long>(blocks_), sent >= blocks_ ? ", waiting for the restart" : "");
      std::fflush(stderr);
    }
  }

  std::function<std::optional<uint64_t>()> writes_;
  const uint64_t blocks_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

uint64_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

int Flash(const Context& context, const std::string& file, bool smart, bool verbose) {
  if (const std::string why = NotFirmware(file); !why.empty()) {
    return Fail(context, UsageFailure("'" + file + "' is not a firmware image: " + why,
                                      "nothing was sent to the printer"));
  }
  Failure failure;
  const std::optional<std::string> name = LibraryFileName(file, &failure);
  if (!name) return Fail(context, failure);
  const std::string printer = CurrentPrinter(context);
  std::string text = *name;  // the library turns it into capitals in place
  char version[64] = {};
  QXRESULT rc;
  {
    std::unique_ptr<FlashProgress> progress;
    auto writes = PortWriteCounter(printer);
    if (writes && !context.json && isatty(STDERR_FILENO)) {
      progress = std::make_unique<FlashProgress>(std::move(writes), (FileSize(file) + kBlock - 1) / kBlock, smart);
    }
    std::unique_ptr<WaitNotice> notice;
    if (!progress) {
      notice = std::make_unique<WaitNotice>("the flash run on " + OrNone(printer) + ": " +
                                            (smart ? "36 s of fixed waits" : "20 s of fixed waits") +
                                            " plus the transfer, twice that when the printer does not come back "
                                            "at once");
    }
    rc = qxProgramFlash(text.data(), smart ? 1 : 0, version, sizeof version, verbose ? 1 : 0);
  }
  if (rc != QX_ERR_OK) {
    const char* hint = rc == QX_ERR_NO_PERMISSION || rc == QX_ERR_UNKNOWN_MODEL || rc == QX_ERR_BAD_EXTENSION
                           ? "the file does not suit the printer's model or firmware version; nothing was sent"
                       : rc == QX_ERR_NO_FLASH_MODE ? "the printer did not enter its flash-reprogram mode"
                                                    : "";
    return Fail(context, LibraryFailure(rc, "the firmware of " + OrNone(printer) + " was not reprogrammed", hint));
  }
  if (context.json) {
    Emit({{"flashed", file}, {"printer", printer}, {"smart", smart}, {"version", version}});
  } else {
    std::printf("flashed %s onto %s; the printer now reports version %s\n", file.c_str(), printer.c_str(),
                OrNone(version).c_str());
  }
  return kExitDone;
}

// Which rule decided a permission check's result.
const char* RuleOf(QXRESULT rc) {
  switch (rc) {
    case QX_ERR_OK: return "the file's prefix and the printer's version allow it";
    case QX_ERR_BAD_EXTENSION: return "the name does not end in .BIN, .FUL or .ALL (capitals)";
    case QX_ERR_UNKNOWN_MODEL: return "the model is not in the firmware model table";
    case QX_ERR_NO_PERMISSION:
      return "the name has neither of the model's prefixes, or the printer's version is below the model's "
             "minimum, or below its full-file threshold for a file that is not .FUL";
    default: return "";
  }
}

int CheckFirmware(const Context& context, const std::string& file) {
  std::string base = file.substr(file.find_last_of('/') + 1);
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!CheckFirmwareName("", "", "X.BIN") || !ModelReadable()) {
    return Fail(context, {kExitRefused, std::nullopt, "NOT_AVAILABLE",
                          "the permission check is not available in this build: the library runs it only inside "
                          "its flash programming",
                          "the POSIX developer build shows it"});
  }
  PortHold hold;
  if (const auto failure = hold.Take(context)) return Fail(context, *failure);
  ModelView model;
  const bool read = ReadModel(&model);
  BYTE reply[2048] = {};
  DWORD length = 0;
  qxGetStatus(6, reply, sizeof reply, &length);
  QX_STATUS_RECORD record = {};
  const bool parsed = qxParseStatus(reply, sizeof reply, &record) == QX_ERR_OK;
  if (const QXRESULT rc = hold.Release(); rc != QX_ERR_OK) return ReleaseFailed(context, rc);
  if (!read || !parsed) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_ANSWER",
                          std::string("the printer gave no ") + (!read ? "device ID" : "version") + " on its port",
                          "qxctl model and qxctl status --direct --request IC show what it answers"});
  }
  const std::string version(record.firmwareVersion, strnlen(record.firmwareVersion, sizeof record.firmwareVersion));
  const QXRESULT rc = *CheckFirmwareName(model.model, version, base);
  const char* name = qxResultName(rc);
  if (context.json) {
    Emit({{"file", base}, {"model", model.model}, {"version", version}, {"allowed", rc == QX_ERR_OK},
          {"result", name != nullptr ? name : "?"}, {"rule", RuleOf(rc)}});
  } else {
    std::printf("file     %s\nmodel    %s\nversion  %s\nverdict  %s (%s)\nrule     %s\n", base.c_str(),
                OrNone(model.model).c_str(), OrNone(version).c_str(), rc == QX_ERR_OK ? "allowed" : "refused",
                name != nullptr ? name : "?", RuleOf(rc));
  }
  return rc == QX_ERR_OK ? kExitDone : kExitRefused;
}

}  // namespace

void AddFlashCommands(CLI::App& app, Commands& commands) {
  auto file = std::make_shared<std::string>();
  auto smart = std::make_shared<bool>(false);
  auto verbose = std::make_shared<bool>(false);
  CLI::App* flash = commands.Add(app, "flash",
                                 "Reprogram the current printer's firmware from a file through its port "
                                 "(qxProgramFlash); the port is taken for the run and given back",
                                 Needs::kSpooler, [file, smart, verbose](const Context& context) {
                                   return Flash(context, *file, *smart, *verbose);
                                 });
  flash->add_option("FILE", *file, "a firmware image: its first line is \"QXFW <version>\"")
      ->required()
      ->check(ReadableFile());
  flash->add_flag("--smart", *smart,
                  "check that the printer is ready and the file suits its model and version, and put it into its "
                  "flash-reprogram mode first");
  flash->add_flag("--verbose", *verbose, "the library's progress lines go to the debugger output");

  auto checked = std::make_shared<std::string>();
  CLI::App* check = commands.Add(app, "check-firmware",
                                 "What the library's permission check says of a firmware file for the current "
                                 "printer's model and version (read from its port), and the rule that decided it",
                                 Needs::kSpooler, [checked](const Context& context) {
                                   return CheckFirmware(context, *checked);
                                 });
  check->add_option("FILE", *checked, "the firmware file; only its name counts")->required();
}

}  // namespace qxctl
