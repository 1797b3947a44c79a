// qxctl: what its commands share: reporting, the current printer as the
// exports show it, the checks of numbers, sizes, bytes and files, and the
// notice of a long wait.
#include "qxctl.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

namespace qxctl {

Failure LibraryFailure(QXRESULT code, std::string message, std::string hint) {
  const char* name = qxResultName(code);
  // A Windows error code returned in place of a result code has no name.
  return {kExitRefused, code, name != nullptr ? name : "WINDOWS_ERROR", std::move(message), std::move(hint)};
}

Failure UsageFailure(std::string message, std::string hint) {
  return {kExitUsage, std::nullopt, "USAGE", std::move(message), std::move(hint)};
}

void Emit(const json& document) {
  // Texts from printers and files need not be UTF-8: replace what is not.
  std::printf("%s\n", document.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

int Fail(const Context& context, const Failure& failure) {
  if (context.json) {
    json error = {{"code", nullptr}, {"name", failure.name}, {"message", failure.message}, {"hint", nullptr}};
    if (failure.code) error["code"] = *failure.code;
    if (!failure.hint.empty()) error["hint"] = failure.hint;
    Emit({{"error", error}});
  } else {
    std::fflush(stdout);
    if (failure.code) {
      std::fprintf(stderr, "qxctl: %s: %s (0x%04X)\n", failure.message.c_str(), failure.name.c_str(),
                   static_cast<unsigned>(*failure.code));
    } else {
      std::fprintf(stderr, "qxctl: %s\n", failure.message.c_str());
    }
    if (!failure.hint.empty()) std::fprintf(stderr, "hint: %s\n", failure.hint.c_str());
  }
  return failure.exit;
}

std::string OrNone(const std::string& text) { return text.empty() ? "(none)" : text; }

CLI::App* Commands::Add(CLI::App& parent, const std::string& name, const std::string& description, Needs needs,
                        std::function<int(const Context&)> run) {
  CLI::App* app = parent.add_subcommand(name, description);
  commands_.push_back({app, needs, std::move(run)});
  return app;
}

const Command* Commands::Chosen() const {
  for (const Command& command : commands_) {
    if (command.app->parsed()) return &command;
  }
  return nullptr;
}

namespace {

// The maker's printers carry this prefix (the header's QX_ERR_NO_PRINTER).
bool IsMakerName(const std::string& name) { return name.rfind("QX ", 0) == 0 || name.rfind("qx ", 0) == 0; }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

std::string CurrentPrinter(const Context& context) {
  if (!context.printer.empty()) return context.printer;
  char name[QX_NAME_SIZE] = {}, port[QX_NAME_SIZE] = {}, driver[QX_NAME_SIZE] = {};
  DWORD nameLength = 0, portLength = 0, driverLength = 0;
  // The name is copied before the driver is read, so it counts even when the
  // driver path cannot be had.
  qxGetPrinterNameAndPort(nullptr, name, &nameLength, port, &portLength, driver, &driverLength);
  if (name[0] != '\0') return name;
  DWORD size = sizeof name;
  if (qxNewGetDefaultPrinter(name, &size) == QX_ERR_OK && name[0] != '\0') return name;
  // No default printer: the library took the last of the maker's printers.
  DWORD needed = 0;
  LONG count = QX_COUNT_QUERY;
  if (qxEnumPrinters(nullptr, 0, 1, &needed, &count) != QX_ERR_OK || needed == 0) return "";
  std::vector<BYTE> buffer(needed);
  count = 0;
  if (qxEnumPrinters(buffer.data(), static_cast<LONG>(needed), 1, &needed, &count) != QX_ERR_OK) return "";
  const auto* printers = reinterpret_cast<const PRINTER_INFO_1A*>(buffer.data());
  std::string last;
  for (LONG i = 0; i < count; ++i) {
    if (printers[i].pName != nullptr && IsMakerName(printers[i].pName)) last = printers[i].pName;
  }
  return last;
}

// ---- checks of the command line ----------------------------------------

namespace {

bool ParseWhole(const std::string& text, long long* value) {
  if (text.empty() || text.find_first_of(" \t\n") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end != nullptr && *end == '\0';
}

// Sizes qxSetSheetSize takes are below this many inches.
constexpr float kMaxInches = 9999.0f;

// Inches as a float: above 0 and below kMaxInches, also once narrowed.
bool ParseInches(const std::string& text, float* inches) {
  if (text.empty() || text.find_first_of(" \t\n") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(value) || value <= 0.0) return false;
  const float narrowed = static_cast<float>(value);
  if (!(narrowed > 0.0f && narrowed < kMaxInches)) return false;
  *inches = narrowed;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends the bytes of one text; false when it is not whole hex pairs.
bool AppendHex(const std::string& text, std::vector<BYTE>* bytes) {
  int high = -1;
  bool any = false;
  for (char c : text) {
    if (c == ' ' || c == ':') {
      if (high >= 0) return false;
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes->push_back(static_cast<BYTE>(high * 16 + digit));
      high = -1;
      any = true;
    }
  }
  return high < 0 && any;
}

}  // namespace

CLI::Validator WholeNumber(long long low, long long high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        long long value = 0;
        if (!ParseWhole(text, &value)) return Quoted(text) + " is not a whole number";
        if (value < low || value > high) return Quoted(text) + " is outside " + range;
        return "";
      },
      range);
}

CLI::Validator SheetSize() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const size_t x = text.find_first_of("xX");
        if (x == std::string::npos) return Quoted(text) + " is not WIDTHxLENGTH (inches, e.g. 3.25x6)";
        float inches = 0;
        if (!ParseInches(text.substr(0, x), &inches)) {
          return Quoted(text) + ": the width " + Quoted(text.substr(0, x)) + " is not a number of inches above 0 and below 9999";
        }
        if (!ParseInches(text.substr(x + 1), &inches)) {
          return Quoted(text) + ": the length " + Quoted(text.substr(x + 1)) +
                 " is not a number of inches above 0 and below 9999";
        }
        return "";
      },
      "WIDTHxLENGTH");
}

CLI::Validator HexBytes() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::vector<BYTE> bytes;
        if (!AppendHex(text, &bytes)) return Quoted(text) + " is not hexadecimal bytes (pairs of 0-9 A-F)";
        return "";
      },
      "HEX");
}

CLI::Validator ReadableFile() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::error_code error;
        const auto status = std::filesystem::status(text, error);
        if (error || !std::filesystem::exists(status)) return Quoted(text) + " does not exist";
        if (std::filesystem::is_directory(status)) return Quoted(text) + " is a folder, not a file";
        return "";
      },
      "FILE");
}

void ParseSheetSize(const std::string& text, float* width, float* length) {
  const size_t x = text.find_first_of("xX");
  ParseInches(text.substr(0, x), width);
  ParseInches(text.substr(x + 1), length);
}

std::vector<BYTE> ParseHex(const std::vector<std::string>& texts) {
  std::vector<BYTE> bytes;
  for (const std::string& text : texts) AppendHex(text, &bytes);
  return bytes;
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

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

uint32_t PipeTimeoutMs(const Context& context) { return context.timeoutMs.value_or(QX_DEFAULT_TIMEOUT); }

// ---- the notice of a long wait -----------------------------------------

struct WaitNotice::State {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::thread thread;
};

WaitNotice::WaitNotice(std::string what) : state_(std::make_unique<State>()) {
  State* state = state_.get();
  state->thread = std::thread([state, what = std::move(what)] {
    std::unique_lock<std::mutex> guard(state->lock);
    if (!state->done.wait_for(guard, std::chrono::seconds(1), [state] { return state->finished; })) {
      std::fprintf(stderr, "qxctl: waiting for %s\n", what.c_str());
      std::fflush(stderr);
    }
  });
}

WaitNotice::~WaitNotice() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->finished = true;
  }
  state_->done.notify_all();
  state_->thread.join();
}

}  // namespace qxctl
