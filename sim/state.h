// state.h - qxsimd, daemon side: the world as the daemon's rooms share it.
// The spooler service, the control API and the language monitors' host all
// work on one SharedWorld: the world's printers, jobs and settings and the
// printer handles under one mutex, the device emulators in their bay (each
// with a lock of its own, taken only after the world's when both are held).
//
// Also the helpers every room reads requests and writes records with: the
// request reader (the wire library's, in its request dialect) and the
// errors a request can fail with.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <qxwire/fields.h>

#include "device/bay.h"
#include "lm.h"
#include "world.h"

namespace qxsim {

// One reply of a service: its JSON head and, for bulk bytes, a binary body.
struct Reply {
  nlohmann::json head;
  std::optional<std::string> body;
};

// A request that does not have the shape its operation needs: the wire
// library's checked reader names the field.
using BadRequest = qxwire::FieldError;

// The checked reader of a request's members, and its common reads.
qxwire::Fields In(const nlohmann::json& request);
const nlohmann::json& Field(const nlohmann::json& request, const char* key);
uint64_t Unsigned(const nlohmann::json& request, const char* key, uint64_t max);
std::string Text(const nlohmann::json& request, const char* key, size_t max);
std::optional<std::string> OptionalText(const nlohmann::json& request, const char* key, size_t max);
std::optional<bool> OptionalBool(const nlohmann::json& request, const char* key);

// A printer name folded to lower case, as the spooler matches names.
std::string Lower(std::string text);

// A printer handle of the spooler service.
struct OpenHandle {
  std::string printer;  // by name: the handle follows a printer re-added by reset
  DWORD access = 0;
  pid_t pid = 0;
  DWORD job = 0;      // the document being spooled through this handle, 0 for none
  bool page = false;  // between StartPagePrinter and EndPagePrinter
};

// A direct open of a port by a host (a port handle of the platform layer),
// one per connection to ports.sock, held until the connection ends.
struct PortHold {
  std::string port;  // as the world spells it
  std::string path;  // as opened: the port name or a device interface path
  pid_t pid = 0;
  DWORD access = 0;  // GENERIC_READ, GENERIC_WRITE
  DWORD share = 0;   // FILE_SHARE_READ, FILE_SHARE_WRITE
};

struct SharedWorld {
  // world: what is served and what "reset" returns to; its devices go to
  // the bay. source: how it was given, for status replies; dir: the
  // runtime folder (print-to-file jobs are written there).
  SharedWorld(World world, std::string source, std::string dir);

  // Reset - back to the world as loaded: printers, jobs, devices; handles stay.
  void ResetLocked();
  // WorldLocked - the world as it stands, devices included.
  World WorldLocked() const;

  // ReapHandlesLocked - drop the handles of processes that have ended,
  // with the documents they were spooling.
  void ReapHandlesLocked();
  // AbortDocLocked - the document a handle spools leaves with it: deleted
  // unless ended.
  void AbortDocLocked(OpenHandle& handle);
  // PrintReadyJobsLocked - print every ended job of the printer that nothing
  // holds back (a paused printer or job): its bytes go to the port's device
  // and it leaves the queue.
  // A job waits while a host holds its port open directly.
  void PrintReadyJobsLocked(Printer& printer);

  // PortHeldLocked - whether a host holds port open directly.
  bool PortHeldLocked(std::string_view port) const;
  // SpoolerOnPortLocked - whether the spooler's port monitor holds port: a
  // document is being spooled to a printer on it, or a job of one is printing.
  bool SpoolerOnPortLocked(std::string_view port) const;
  // ReleasePortLocked - a port handle closed: its hold goes, and once the
  // port is free the jobs that waited for it print.
  void ReleasePortLocked(uint64_t connection);

  std::mutex lock;  // everything below but the bay
  World world;      // its devices are in the bay
  const World original;
  const std::string source;
  const std::string dir;
  std::map<uint64_t, OpenHandle> handles;
  // The device-mode fields of each printer's latest merge request, by lower-case name.
  std::map<std::string, nlohmann::json> last_merge;
  uint64_t next_handle = 1;
  bool pending_monitor_sync = false;  // a spooler call moved a printer to another port
  // Ports whose stopped monitor a spooler call may reload, and why.
  std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> pending_reloads;

  // Direct opens of ports, by the ports.sock connection that made them.
  std::map<uint64_t, PortHold> port_holds;

  DeviceBay devices;
};

}  // namespace qxsim
