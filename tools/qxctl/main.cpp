// qxctl: the host command line for qxdll. Every capability of the library for
// a person at a terminal: human-readable by default, --json for scripts. It
// calls the library's exports only, as any host does.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {
namespace {

constexpr char kDescription[] =
    "qxctl drives the maker's ticket printers through qxdll: discovery, status, sheet, orientation and bin "
    "settings, raw printing and the language monitor's commands.";

constexpr char kFooter[] =
    "Exit codes: 0 done; 1 the printer, the spooler or the library said no; 2 the command line is wrong;\n"
    "3 no simulated world (POSIX) or print spooler (Windows) answers; 4 status: the printer reports a fault.\n"
    "--json: one JSON document on standard output, errors included as\n"
    "{\"error\": {\"code\", \"name\", \"message\", \"hint\"}}; lm flash and acquire write JSON lines (one document a\n"
    "line).\n"
    "Notices of waits longer than a second go to standard error.";

// Edit distance, for "did you mean".
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The candidate nearest to word when it is near enough to be a slip, else "".
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 3) + 1;
  for (const std::string& candidate : candidates) {
    const size_t d = Distance(word, candidate);
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  return best;
}

std::vector<std::string> SubcommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) names.push_back(sub->get_name());
  return names;
}

const CLI::App* FindSubcommand(const CLI::App& app, const std::string& name) {
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

// The usage failure for a word that names no command where one is expected.
Failure UnknownCommand(const std::string& word, const std::string& path, const std::vector<std::string>& names) {
  const std::string nearest = Nearest(word, names);
  const std::string where = path.empty() ? "" : " of '" + path + "'";
  return UsageFailure("unknown command '" + word + "'" + where,
                      (nearest.empty() ? "" : "did you mean '" + (path.empty() ? "" : path + " ") + nearest + "'? ") +
                          "qxctl help " + path + (path.empty() ? "" : " ") + "lists the commands");
}

// The words of the command line that are not options, the values of the
// global options left out: the command's words first, then its arguments.
std::vector<std::string> Words(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg.empty() || arg[0] != '-') {
      words.push_back(arg);
    } else if (arg == "--printer" || arg == "--timeout") {
      ++i;
    }
  }
  return words;
}

// Reads the command words before the parser does, so that a mistyped command
// is named with the nearest one. The walk ends at a command without
// subcommands, whose own arguments follow.
std::optional<Failure> CheckCommandWords(const CLI::App& app, const std::vector<std::string>& words) {
  const CLI::App* level = &app;
  std::string path;
  for (const std::string& word : words) {
    const CLI::App* sub = FindSubcommand(*level, word);
    if (sub == nullptr) return UnknownCommand(word, path, SubcommandNames(*level));
    if (word == "help" || sub->get_subcommands([](const CLI::App*) { return true; }).empty()) break;
    path += (path.empty() ? "" : " ") + word;
    level = sub;
  }
  return std::nullopt;
}

// The long option names of app and of the main application.
std::vector<std::string> OptionNames(const CLI::App& app, const CLI::App& main) {
  std::vector<std::string> names;
  for (const CLI::App* a : {&app, &main}) {
    for (const CLI::Option* option : a->get_options()) {
      for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    }
  }
  return names;
}

// The deepest command the parser entered, and its words ("lm flash").
const CLI::App* Deepest(const CLI::App& app, std::string* path) {
  const CLI::App* level = &app;
  for (;;) {
    const std::vector<const CLI::App*> parsed = level->get_subcommands([](const CLI::App* a) { return a->parsed(); });
    if (parsed.empty()) return level;
    level = parsed.front();
    *path += (path->empty() ? "" : " ") + level->get_name();
  }
}

// Whether the spooler answers at all. The exports report "no spooler" and
// "no printers" alike, so the spooler is asked once directly.
bool SpoolerAnswers() {
  DWORD needed = 0, returned = 0;
  SetLastError(ERROR_SUCCESS);
  if (EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &returned)) return true;
  return GetLastError() != RPC_S_SERVER_UNAVAILABLE;
}

std::string LibraryVersion() {
  char version[QX_DLL_VERSION_SIZE + 11] = {};
  DWORD length = 0;
  return qxGetDLLVersion(version, sizeof version, &length) ? version : "(no version)";
}

// Prints the help of the command its words name: qxctl help lm flash.
int Help(const Context& context, const CLI::App& app, const std::vector<std::string>& words) {
  const CLI::App* target = &app;
  std::string parent = "qxctl", said;
  for (const std::string& word : words) {
    const CLI::App* sub = FindSubcommand(*target, word);
    if (sub == nullptr || word == "help") return Fail(context, UnknownCommand(word, said, SubcommandNames(*target)));
    if (target != &app) parent += " " + target->get_name();
    said += (said.empty() ? "" : " ") + word;
    target = sub;
  }
  std::printf("%s", target == &app ? app.help().c_str() : target->help(parent).c_str());
  return kExitDone;
}

int Run(int argc, char** argv) {
  Context context;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--json") context.json = true;
  }
  CLI::App app{kDescription, "qxctl"};
  app.footer(kFooter);
  app.allow_extras();
  app.fallthrough();
  app.set_version_flag("--version", [] { return "qxctl, qxdll " + LibraryVersion(); }, "The library's version");
  app.add_flag("--json", context.json, "Machine-readable output: one JSON document (lm flash, acquire: JSON lines)");
  app.add_option("--printer", context.printer, "Switch to that printer first (qxSetNewPrinter)")
      ->check(CLI::Validator([](std::string& name) { return name.empty() ? "the printer name is empty" : ""; }, "NAME"));
  app.add_option("--timeout", context.timeoutMs,
                 "Wait at most MS ms for a busy language-monitor pipe in this command (qxLMSetPipeTimeOut; "
                 "the library's default is 20000)")
      ->check(WholeNumber(0, 600000));

  Commands commands;
  AddLibraryCommands(app, commands);
  AddSettingsCommands(app, commands);
  AddMonitorCommands(app, commands);
  AddPortCommands(app, commands);
  AddPortReadCommands(app, commands);
  AddGraphicsCommands(app, commands);
  AddFlashCommands(app, commands);
  AddSimCommands(app, commands);
  // Listed for the help text; Run reads its words.
  app.add_subcommand("help", "Help on qxctl, or on one command: qxctl help lm flash");
  for (CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    sub->footer(kFooter);
    for (CLI::App* inner : sub->get_subcommands([](const CLI::App*) { return true; })) inner->footer(kFooter);
  }

  if (argc < 2) {
    std::fprintf(stderr, "%s", app.help().c_str());
    return kExitUsage;
  }
  const std::vector<std::string> words = Words(argc, argv);
  if (const std::optional<Failure> unknown = CheckCommandWords(app, words)) return Fail(context, *unknown);
  // help takes command words, which the parser would take for the commands
  // themselves: they are read here.
  if (!words.empty() && words.front() == "help") {
    return Help(context, app, std::vector<std::string>(words.begin() + 1, words.end()));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string path;
    Deepest(app, &path);
    return Fail(context, UsageFailure(e.what(), "qxctl " + (path.empty() ? "" : path + " ") + "--help"));
  }

  std::string path;
  const CLI::App* deepest = Deepest(app, &path);
  std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    const std::string& word = extras.front();
    if (word.size() > 1 && word[0] == '-') {
      const std::string nearest = Nearest(word, OptionNames(*deepest, app));
      return Fail(context, UsageFailure("unknown option '" + word + "'",
                                        (nearest.empty() ? "" : "did you mean '" + nearest + "'? ") + "qxctl " +
                                            (path.empty() ? "" : path + " ") + "--help lists the options"));
    }
    return Fail(context, UsageFailure("unexpected argument '" + word + "'" + (path.empty() ? "" : " to " + path),
                                      "qxctl " + (path.empty() ? "" : path + " ") + "--help"));
  }
  const Command* command = commands.Chosen();
  if (command == nullptr) return Fail(context, UsageFailure("no command given", "qxctl help lists the commands"));

  if (command->needs == Needs::kSpooler) {
    if (!SpoolerAnswers()) return Fail(context, NoSpoolerFailure());
    if (context.timeoutMs) qxLMSetPipeTimeOut(*context.timeoutMs);
    if (!context.printer.empty()) {
      BOOL switched;
      {
        WaitNotice notice("the language monitor of " + context.printer + " (the switch probes it, up to 10 s)");
        switched = qxSetNewPrinter(context.printer.c_str());
      }
      if (!switched) {
        return Fail(context, {kExitRefused, std::nullopt, "NO_PRINTER",
                              "cannot switch to the printer '" + context.printer + "': the spooler cannot open it",
                              "qxctl printers lists the printers"});
      }
      // Set again, whatever the switch set.
      if (context.timeoutMs) qxLMSetPipeTimeOut(*context.timeoutMs);
    }
  }
  return command->run(context);
}

}  // namespace
}  // namespace qxctl

int main(int argc, char** argv) {
  qxctl::LibraryLoaded();
  try {
    return qxctl::Run(argc, argv);
  } catch (const std::exception& e) {
    // Nothing the user types should get here; say what happened all the same.
    std::fprintf(stderr, "qxctl: internal error: %s\n", e.what());
    return qxctl::kExitRefused;
  }
}
