// daemon.h - qxsimd, daemon side: the state of one running world and the two
// services over it: the spooler service (what the platform layer's winspool
// functions ask) and the control API (what tests, tools and qxsimctl ask).
//
// One Daemon is shared by every connection thread. The world and the printer
// handles are guarded by one mutex; the language monitors by another, never
// held together with the first, because a monitor's own thread calls back into
// the world (as its MonitorHost) while a control request may be stopping it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "lm.h"
#include "world.h"

namespace qxsim {

// One reply of a service: its JSON head and, for bulk bytes, a binary body.
struct Reply {
  nlohmann::json head;
  std::optional<std::string> body;
};

class Daemon : public MonitorHost {
 public:
  // world: what the daemon serves and what "reset" returns to; source: how it
  // was given (a file path or "embedded default"), for status replies.
  Daemon(World world, std::string source, std::string dir);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Starts the language monitors of the world. Call once the sockets exist.
  void StartMonitors();
  // Stops every monitor (before the daemon goes away).
  void StopMonitors();

  // One request of each service, already parsed, with its binary body when
  // it has one; never throws. peer is the client's process id (printer
  // handles belong to it).
  Reply Spooler(const nlohmann::json& request, const std::optional<std::string>& body, pid_t peer);
  Reply Control(const nlohmann::json& request);

  // Set by the control request "stop"; the server loop watches it.
  bool stop_requested() const { return stop_requested_.load(); }
  // Called when stop is requested, to wake the server loop.
  void set_stop_notifier(void (*notify)(void*), void* context);

  // MonitorHost: the world as the language monitors' threads reach it, each
  // call under the world's mutex.
  bool PrinterOn(const std::string& port, PrinterState* state) override;
  bool JobInProgress(const std::string& port) override;
  bool AbortJob(const std::string& port, std::string* document) override;
  bool WriteDataValue(const std::string& printer, const std::string& name, uint32_t value,
                      std::string* error) override;
  void SetFirmware(const std::string& port, const std::string& firmware) override;

 private:
  struct OpenHandle {
    std::string printer;  // by name: the handle follows a printer re-added by reset
    DWORD access = 0;
    pid_t pid = 0;
    DWORD job = 0;      // the document being spooled through this handle, 0 for none
    bool page = false;  // between StartPagePrinter and EndPagePrinter
  };

  nlohmann::json SpoolerLocked(const nlohmann::json& request, const std::optional<std::string>& body, pid_t peer);
  nlohmann::json ControlWorld(const nlohmann::json& request, bool& monitors_changed,
                              std::optional<std::string>& body);
  nlohmann::json ControlMonitor(const nlohmann::json& request);
  nlohmann::json MonitorsJson();
  void ReapHandlesLocked();
  // The document a handle spools leaves with it: deleted unless ended.
  void AbortDocLocked(OpenHandle& handle);
  // Prints every ended job of the printer that nothing holds back (a paused
  // printer or job): its bytes go to the port's device and it leaves the queue.
  void PrintReadyJobsLocked(Printer& printer);
  // Brings the monitors in line with the world's printers: one per port whose
  // printer's driver has a language monitor.
  void SyncMonitors(bool restart_all);
  // Reloads - the spooler's reload of stopped monitors that spooler calls
  // asked for (pending_reloads_), run once the world's mutex is released.
  void Reloads(std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> reloads);
  nlohmann::json MonitorJson(const std::string& port, const LanguageMonitor& monitor, bool full);

  std::mutex lock_;  // world_, handles_
  World world_;
  const World original_;
  const std::string source_;
  const std::string dir_;
  std::map<uint64_t, OpenHandle> handles_;
  // The device-mode fields of each printer's latest merge request, by lower-case name.
  std::map<std::string, nlohmann::json> last_merge_;
  uint64_t next_handle_ = 1;
  bool pending_monitor_sync_ = false;  // a spooler call moved a printer to another port
  // Ports whose stopped monitor a spooler call may reload, and why.
  std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> pending_reloads_;

  std::mutex monitors_lock_;  // monitors_
  std::map<std::string, std::unique_ptr<LanguageMonitor>> monitors_;  // by port

  std::atomic<bool> stop_requested_{false};
  void (*notify_stop_)(void*) = nullptr;
  void* notify_context_ = nullptr;
};

}  // namespace qxsim
