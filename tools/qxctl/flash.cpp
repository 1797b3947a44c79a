// qxctl flash: reprograms the current printer's firmware from a file through
// its port (qxProgramFlash), the port taken for the run and given back.
#include <cstdio>
#include <memory>
#include <string>

#include "qxctl.h"

namespace qxctl {
namespace {

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
    WaitNotice notice("the flash run on " + OrNone(printer) + ": " +
                      (smart ? "36 s of fixed waits" : "20 s of fixed waits") +
                      " plus the transfer, twice that when the printer does not come back at once");
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
}

}  // namespace qxctl
