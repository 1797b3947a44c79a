// service.h - qxsimd, daemon side: the ports (ports.sock), what the platform
// layer's direct CreateFileA on "LPT1:", "COM1:" or a USB device interface
// path reaches. One connection is one port handle: its first request opens
// the port (with Windows' sharing rules against the other holders and the
// spooler), every later one works on the device behind it, and the end of
// the connection (CloseHandle, or the process ending) lets the port go.
//
// Reads and writes wait on the scaled clock as the handle's comm time-outs
// say, and never longer than kMaxPortWaitMs (qxwire/names.h); they wait
// without the world's mutex. docs/world.md describes the operations.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "state.h"

namespace qxsim {

class PortService {
 public:
  explicit PortService(SharedWorld& world);

  // Handle - one request on connection, from process peer; never throws.
  Reply Handle(const nlohmann::json& request, const std::optional<std::string>& body, pid_t peer,
               uint64_t connection);
  // Closed - the connection ended: its port is free again.
  void Closed(uint64_t connection);
  // Stop - waits in progress end at once (the daemon stops).
  void Stop() { stopping_ = true; }

 private:
  SharedWorld& w_;
  std::atomic<bool> stopping_{false};
};

}  // namespace qxsim
