// qxctl: what its commands share. Every command reaches the library through
// its exports alone; a command reports through Emit (its result) or Fail (why
// it did not get one), so that --json gives exactly one document.
#pragma once

#include <qxdll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace qxctl {

using json = nlohmann::ordered_json;  // keys in the order they are written

// Exit codes, as --help and the README state them.
enum Exit : int {
  kExitDone = 0,
  kExitRefused = 1,      // the printer, the spooler or the library said no
  kExitUsage = 2,        // the command line is wrong
  kExitNoSpooler = 3,    // no world (POSIX) or no spooler (Windows) answers
  kExitPrinterFault = 4, // status: the printer reports a fault
};

// The global options, set before a command runs.
struct Context {
  bool json = false;                  // machine-readable output
  std::string printer;                // --printer: switched to before the command
  std::optional<uint32_t> timeoutMs;  // --timeout: the pipe time-out for this command
};

// Why a command has no result: a library result code where there is one,
// else the name of qxctl's own reason (USAGE, NO_SPOOLER, ...).
struct Failure {
  int exit = kExitRefused;
  std::optional<QXRESULT> code;
  std::string name;
  std::string message;
  std::string hint;
};

// A failure of the library: the code's name from qxResultName.
Failure LibraryFailure(QXRESULT code, std::string message, std::string hint = "");
// A failure of the command line (exit 2).
Failure UsageFailure(std::string message, std::string hint = "");

// Writes one result document (--json) on standard output.
void Emit(const json& document);
// Reports a failure, as text on standard error or as the one --json document
// {"error": {"code", "name", "message", "hint"}} on standard output; returns
// its exit code.
int Fail(const Context& context, const Failure& failure);

// A text, or "(none)" for an empty one, for the human-readable tables.
std::string OrNone(const std::string& text);

// What a command needs before it runs.
enum class Needs {
  kNothing,  // no spooler: version, parse-status, sim
  kSpooler,  // the spooler must answer, and --printer is applied first
};

// One command: its sub-application of the parser, and what runs once the
// command line is read.
struct Command {
  CLI::App* app;
  Needs needs;
  std::function<int(const Context&)> run;
};

// The commands, as each family adds them.
class Commands {
 public:
  // A command under parent (the main application or a command group).
  CLI::App* Add(CLI::App& parent, const std::string& name, const std::string& description, Needs needs,
                std::function<int(const Context&)> run);
  // The command the parser chose, or null.
  const Command* Chosen() const;

 private:
  std::vector<Command> commands_;
};

void AddLibraryCommands(CLI::App& app, Commands& commands);   // version printers current sheets driver-version
void AddSettingsCommands(CLI::App& app, Commands& commands);  // sheet orientation bins bin print-raw jobs drawer
void AddMonitorCommands(CLI::App& app, Commands& commands);   // status parse-status lm rfid key
void AddSimCommands(CLI::App& app, Commands& commands);       // sim (the POSIX build's simulated world)
void AddPortCommands(CLI::App& app, Commands& commands);      // acquire spooling port
void AddPortReadCommands(CLI::App& app, Commands& commands);  // model
void AddGraphicsCommands(CLI::App& app, Commands& commands);  // fonts font fit ticket
void AddFlashCommands(CLI::App& app, Commands& commands);     // flash check-firmware

// Whether this build can fetch the picture of a printed page (POSIX: the
// simulated world keeps one for every page a printer printed).
bool PagePicturesAvailable();
// SavePagePicture - the picture of the page that printer printed as job,
// saved as a PNG file at path; picture receives {"file", "port", "page",
// "width", "height"}. A failure when there is none to be had.
std::optional<Failure> SavePagePicture(const std::string& printer, unsigned job, const std::string& path,
                                       json* picture);

// The status reply through the printer's port, with the current printer's
// port taken for the read and given back after it: the two-road read with
// the language monitor marked unavailable, or the direct read (direct).
// reply/size receive the reply and length its size; moved the queues moved
// to "FILE:" meanwhile. Returns kExitDone, or the exit code of the failure
// it reported.
int PortStatus(const Context& context, LONG index, bool direct, BYTE* reply, DWORD size, DWORD* length, json* moved);

// The failure when no spooler answers, with the build's own hint: the world's
// folder and how to start one on POSIX, the spooler service on Windows.
Failure NoSpoolerFailure();

// The current printer as the exports show it: the --printer name once the
// switch succeeded, else the page-setup default the library chose at load,
// else the system default; "" when there is none.
std::string CurrentPrinter(const Context& context);

// Lists the driver's sheets or bins, as qxEnumSheetSizes and qxEnumBins give
// them: count query, then fill, with entrySize-byte names. A list that grew
// in between is filled again with the count the fill reported.
using ListExport = QXRESULT(QXAPI*)(LPSTR, WORD*, LONG*);
int PrintDriverList(const Context& context, ListExport list, size_t entrySize, const char* what);

// Number checks for the parser, naming the bad token in their message.
// A whole number from low to high.
CLI::Validator WholeNumber(long long low, long long high);
// A size WIDTHxLENGTH in inches, each a finite number above 0.
CLI::Validator SheetSize();
// Bytes in hexadecimal, pairs optionally separated by spaces or colons.
CLI::Validator HexBytes();
// A file that exists and is not a folder.
CLI::Validator ReadableFile();

// The size a SheetSize-checked text names.
void ParseSheetSize(const std::string& text, float* width, float* length);
// The bytes of HexBytes-checked texts, in order.
std::vector<BYTE> ParseHex(const std::vector<std::string>& texts);
// Bytes as "0A 0B 0C".
std::string Hex(const BYTE* bytes, size_t count);
// A path made absolute against the working folder, so that whoever opens it
// (the language monitor runs elsewhere) opens the same file.
std::string AbsolutePath(const std::string& path);

// Why path is not a firmware image (a regular file of 1 byte to 16 MiB whose
// first line is "QXFW <version>"), or "" when it is one.
std::string NotFirmware(const std::string& path);

// The name under which the library can open a host's file: POSIX: the file
// is copied into the simulated world's drive C: (the platform layer opens
// only the world's files) and its "C:\QXCTL\NAME" is returned; Windows: the
// file's absolute path. A failure when the copy cannot be made.
std::optional<std::string> LibraryFileName(const std::string& path, Failure* failure);

// PortWriteCounter - a reader of how many writes the printer's port has
// taken so far (POSIX: the simulated printer counts them), for a progress
// bar; null where nothing can be seen (Windows), or when the reader fails it
// returns nothing.
std::function<std::optional<uint64_t>()> PortWriteCounter(const std::string& printer);

// The pipe time-out the library uses for this command, in ms.
uint32_t PipeTimeoutMs(const Context& context);

// LibraryLoaded - main has begun, so the library's load-time attach is over:
// no notice of a long load is due (POSIX; nothing to do on Windows, where the
// loader runs the attach before any code of the program).
void LibraryLoaded();

// Says on standard error what a call waits for once it has waited longer
// than a second; quiet for a call that returns sooner.
class WaitNotice {
 public:
  explicit WaitNotice(std::string what);
  ~WaitNotice();
  WaitNotice(const WaitNotice&) = delete;
  WaitNotice& operator=(const WaitNotice&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qxctl
