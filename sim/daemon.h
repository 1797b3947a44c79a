// daemon.h - qxsimd, daemon side: the wiring of one running world. The world
// the rooms share (state.h), the device emulators in it (device/), the
// language monitors (monitors.h), the spooler service (spooler/) and the
// control API (control/), and the listeners the server (server.h) serves
// them on. Nothing here answers a request itself.
#pragma once

#include <string>
#include <vector>

#include "control/api.h"
#include "monitors.h"
#include "ports/service.h"
#include "server.h"
#include "spooler/service.h"
#include "state.h"
#include "world.h"

namespace qxsim {

class Daemon {
 public:
  // world: what the daemon serves and what "reset" returns to; source: how it
  // was given (a file path or "embedded default"), for status replies; dir:
  // the runtime folder.
  Daemon(World world, std::string source, std::string dir);
  ~Daemon();  // StopMonitors()
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Writes the world's driver files into the runtime folder (driver_files.h).
  void WriteDriverFiles();
  // Starts the language monitors of the world. Call once the sockets exist.
  void StartMonitors();
  // Stops every monitor (before the daemon goes away).
  void StopMonitors();

  // Listeners - the spooler service on spooler.sock, the control API on
  // control.sock and the ports on ports.sock, each with its own connection
  // slots.
  std::vector<Listener> Listeners();

  // Set by the control request "stop"; the server loop watches it.
  bool stop_requested() const { return control_.stop_requested(); }
  // Called when stop is requested, to wake the server loop.
  void set_stop_notifier(void (*notify)(void*), void* context) { control_.set_stop_notifier(notify, context); }

 private:
  SharedWorld world_;
  Monitors monitors_;
  SpoolerService spooler_;
  PortService ports_;
  ControlApi control_;
};

}  // namespace qxsim
