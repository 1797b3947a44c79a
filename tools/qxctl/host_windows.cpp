// qxctl, Windows build only: what differs from the POSIX build. qxctl.exe is
// a host of qxdll.dll like any other: it cannot look inside the library, and
// the spooler is the system's own, so there is no simulated world to run.
#include "library_view.h"
#include "qxctl.h"

namespace qxctl {

std::optional<LibraryView> InspectLibrary() { return std::nullopt; }

std::optional<uint16_t> CheckFirmwareName(const std::string&, const std::string&, const std::string&) {
  return std::nullopt;
}

bool ModelReadable() { return false; }
bool ReadModel(ModelView*) { return false; }

Failure NoSpoolerFailure() {
  return {kExitNoSpooler, std::nullopt, "NO_SPOOLER", "the print spooler does not answer",
          "start the Print Spooler service (net start spooler)"};
}

void AddSimCommands(CLI::App&, Commands&) {}

std::function<std::optional<uint64_t>()> PortWriteCounter(const std::string&) { return nullptr; }

std::optional<std::string> LibraryFileName(const std::string& path, Failure*) { return AbsolutePath(path); }

// The pictures of printed pages are the simulated world's; a real printer's
// paper is its own.
bool PagePicturesAvailable() { return false; }

std::optional<Failure> SavePagePicture(const std::string&, unsigned, const std::string&, json*) {
  return UsageFailure("--out is not available in this build");
}

// The Windows loader runs the library's attach under its own lock before
// qxctl.exe starts; nothing of the program can run alongside to announce it.
void LibraryLoaded() {}

}  // namespace qxctl
