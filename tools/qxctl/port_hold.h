// qxctl: the current printer's port taken for one command, as the port-road
// commands take it (port.cpp, port_read.cpp).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {

// Every local printer's spooler port, by name; empty when they cannot be listed.
std::map<std::string, std::string> SpoolerPorts();

// Names as a JSON array, and as a text "a, b".
json Names(const std::vector<std::string>& names);
std::string Joined(const std::vector<std::string>& names);

// The current printer's port, taken with qxAcquirePort and given back with
// qxReleasePort when the hold ends (or Release is called). It notes which
// queues the acquisition moved to "FILE:".
class PortHold {
 public:
  PortHold() = default;
  ~PortHold() { Release(); }
  PortHold(const PortHold&) = delete;
  PortHold& operator=(const PortHold&) = delete;

  // Takes the port; the failure to report when it cannot be taken.
  std::optional<Failure> Take(const Context& context);
  // Gives the port back; QX_ERR_OK, or the code of a queue left on "FILE:".
  QXRESULT Release();
  const std::string& printer() const { return printer_; }
  const std::vector<std::string>& moved() const { return moved_; }

 private:
  std::string printer_;
  std::vector<std::string> moved_;
  bool taken_ = false;
};

// Says on standard error which queues the hold moved (not with --json, whose
// document carries them), so that standard output keeps the result.
void TellMoved(const Context& context, const PortHold& hold);

// Reports a release that left a queue on "FILE:"; returns its exit code.
int ReleaseFailed(const Context& context, QXRESULT rc);

}  // namespace qxctl
