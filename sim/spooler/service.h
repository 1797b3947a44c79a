// service.h - qxsimd, daemon side: the spooler service (spooler.sock), what
// the platform layer's winspool functions ask. One function per operation
// behind a table of the wire library's operation names (qxwire/ops.h);
// replies carry "error", 0 or the Win32 error of the call (with a
// "message"); a malformed request gets ERROR_INVALID_PARAMETER and changes
// nothing. docs/world.md describes every operation.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "monitors.h"
#include "state.h"

namespace qxsim {

class SpoolerService {
 public:
  // world: what the calls work on; monitors: what a call that moves a
  // printer or provokes a reload reaches, once the world's mutex is released.
  SpoolerService(SharedWorld& world, Monitors& monitors);

  // Handle - one request, already parsed, with its binary body when it has
  // one; peer is the client's process. Never throws.
  Reply Handle(const nlohmann::json& request, const std::optional<std::string>& body, pid_t peer);

 private:
  SharedWorld& w_;
  Monitors& monitors_;
};

}  // namespace qxsim
