// daemon.cpp - qxsimd, daemon side: the spooler service and the control API
// over one world (see daemon.h).
//
// Every request is checked before it touches the world: a field of the wrong
// type, a number out of range or an unknown operation gives an error reply
// and changes nothing. Spooler replies carry a Win32 error code ("error", 0
// for success) that the platform layer hands to SetLastError; control replies
// carry "ok" and, when false, a message.
#include "daemon.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "wire.h"

namespace qxsim {
namespace {

using nlohmann::json;

constexpr size_t kMaxHandles = 4096;
constexpr const char* kEnvironment = "Windows x64";

// A request that does not have the shape its operation needs.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A spooler request that fails with a Win32 error.
struct SpoolerError {
  DWORD code;
  std::string message;
};

const json& Field(const json& request, const char* key) {
  auto it = request.find(key);
  if (it == request.end()) throw BadRequest(std::string("\"") + key + "\" is missing");
  return *it;
}

uint64_t Unsigned(const json& request, const char* key, uint64_t max) {
  const json& v = Field(request, key);
  if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0)) {
    throw BadRequest(std::string("\"") + key + "\" must be a non-negative integer");
  }
  const uint64_t n = v.get<uint64_t>();
  if (n > max) throw BadRequest(std::string("\"") + key + "\" is out of range");
  return n;
}

std::string Text(const json& request, const char* key, size_t max) {
  const json& v = Field(request, key);
  if (!v.is_string()) throw BadRequest(std::string("\"") + key + "\" must be a text");
  std::string text = v.get<std::string>();
  if (text.size() > max) throw BadRequest(std::string("\"") + key + "\" is too long");
  return text;
}

// A text that may be null or absent.
std::optional<std::string> OptionalText(const json& request, const char* key, size_t max) {
  auto it = request.find(key);
  if (it == request.end() || it->is_null()) return std::nullopt;
  return Text(request, key, max);
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// The printer's full device mode as the spooler hands it out.
std::vector<uint8_t> DevmodeBytes(const Printer& p) {
  DEVMODEA dm = p.devmode;
  dm.dmSize = sizeof(DEVMODEA);
  dm.dmDriverExtra = static_cast<WORD>(p.driver_extra.size());
  // Sized once, then filled: the record and the driver's private bytes.
  std::vector<uint8_t> bytes(sizeof dm + p.driver_extra.size());
  std::memcpy(bytes.data(), &dm, sizeof dm);
  if (!p.driver_extra.empty()) {
    std::memcpy(bytes.data() + sizeof dm, p.driver_extra.data(), p.driver_extra.size());
  }
  return bytes;
}

json PrinterInfo(const Printer& p, bool with_devmode) {
  json info = {
      {"name", p.name},
      {"port", p.port},
      {"driver", p.driver.name},
      {"share_name", p.share_name},
      {"comment", p.comment},
      {"location", p.location},
      {"sep_file", ""},
      {"print_processor", "winprint"},
      {"datatype", p.driver.default_datatype},
      {"parameters", ""},
      {"attributes", p.attributes},
      {"priority", p.priority},
      {"default_priority", 0},
      {"start_time", 0},
      {"until_time", 0},
      {"status", p.status},
      {"jobs", p.jobs.size()},
      {"average_ppm", 0},
      {"device_not_selected_timeout", p.device_not_selected_timeout},
      {"transmission_retry_timeout", p.transmission_retry_timeout},
  };
  if (with_devmode) info["devmode"] = ToHex(DevmodeBytes(p));
  return info;
}

json DriverInfo(const Printer& p) {
  json files = json::array();
  for (const DriverFile& f : p.driver.dependent_files) files.push_back(f.path);
  return {
      {"name", p.driver.name},
      {"version", p.driver.version},
      {"environment", kEnvironment},
      {"path", p.driver.file.path},
      {"data_file", p.driver.data_file},
      {"config_file", p.driver.config_file},
      {"help_file", p.driver.help_file},
      {"dependent_files", files},
      {"monitor_name",
       p.driver.language_monitor ? json(p.driver.language_monitor->name) : json(nullptr)},
      {"default_datatype", p.driver.default_datatype},
  };
}

bool KnownDatatype(const std::string& type) {
  static const char* const kTypes[] = {"RAW",          "RAW [FF appended]", "RAW [FF auto]",
                                       "NT EMF 1.003", "NT EMF 1.006",      "NT EMF 1.007",
                                       "NT EMF 1.008", "TEXT",              "XPS2GDI"};
  return std::any_of(std::begin(kTypes), std::end(kTypes),
                     [&](const char* t) { return EqualNoCase(type, t); });
}

json Ok() { return {{"ok", true}}; }

json Refused(const std::string& message) { return {{"ok", false}, {"error", message}}; }

}  // namespace

Daemon::Daemon(World world, std::string source, std::string dir)
    : world_(world), original_(std::move(world)), source_(std::move(source)), dir_(std::move(dir)) {}

Daemon::~Daemon() { StopMonitors(); }

void Daemon::set_stop_notifier(void (*notify)(void*), void* context) {
  notify_stop_ = notify;
  notify_context_ = context;
}

// ---- Spooler service ----------------------------------------------------------

json Daemon::Spooler(const json& request, pid_t peer) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    std::lock_guard<std::mutex> guard(lock_);
    return SpoolerLocked(request, peer);
  } catch (const SpoolerError& e) {
    return {{"error", e.code}, {"message", e.message}};
  } catch (const BadRequest& e) {
    return {{"error", ERROR_INVALID_PARAMETER}, {"message", e.what()}};
  } catch (const std::exception& e) {  // json type errors and allocation failures
    return {{"error", ERROR_INVALID_PARAMETER}, {"message", e.what()}};
  }
}

void Daemon::ReapHandlesLocked() {
  for (auto it = handles_.begin(); it != handles_.end();) {
    if (kill(it->second.pid, 0) != 0 && errno == ESRCH) {
      it = handles_.erase(it);
    } else {
      ++it;
    }
  }
}

json Daemon::SpoolerLocked(const json& request, pid_t peer) {
  const std::string op = Text(request, "op", 64);

  // The printer behind a handle; the handle outlives a removed printer and
  // then reports it deleted.
  auto printer_of = [&](const json& req) -> const Printer& {
    const uint64_t id = Unsigned(req, "handle", UINT64_MAX);
    auto it = handles_.find(id);
    if (it == handles_.end()) throw SpoolerError{ERROR_INVALID_HANDLE, "unknown printer handle"};
    const Printer* p = world_.FindPrinter(it->second.printer);
    if (p == nullptr) throw SpoolerError{ERROR_PRINTER_DELETED, "the printer has been removed"};
    return *p;
  };
  auto named = [&](const std::string& name) -> const Printer& {
    const Printer* p = name.size() > kMaxNameLength ? nullptr : world_.FindPrinter(name);
    if (p == nullptr) throw SpoolerError{ERROR_INVALID_PRINTER_NAME, "no such printer"};
    return *p;
  };

  if (op == "system") {
    return {{"error", 0},
            {"os",
             {{"major", world_.os.major},
              {"minor", world_.os.minor},
              {"build", world_.os.build},
              {"platform_id", world_.os.platform_id},
              {"csd", world_.os.csd}}},
            {"code_page", world_.code_page}};
  }

  if (op == "enum_printers") {
    const auto flags = static_cast<DWORD>(Unsigned(request, "flags", 0xFFFFFFFFu));
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    const std::optional<std::string> server = OptionalText(request, "name", kMaxRequest);
    if (level != 1 && level != 2 && level != 4 && level != 5) {
      throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
    }
    json list = json::array();
    if (flags & PRINTER_ENUM_DEFAULT) {
      if (world_.default_printer) {
        if (const Printer* p = world_.FindPrinter(*world_.default_printer)) {
          list.push_back(PrinterInfo(*p, level == 2));
        }
      }
    } else if ((flags & PRINTER_ENUM_NAME) && server && !server->empty()) {
      // Only this machine's own spooler exists; other servers are not reachable.
      throw SpoolerError{ERROR_INVALID_NAME, "no other print servers exist"};
    } else if (flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) {
      for (const Printer& p : world_.printers) list.push_back(PrinterInfo(p, level == 2));
    }
    // PRINTER_ENUM_CONNECTIONS, _REMOTE, _NETWORK, _SHARED: there are none.
    return {{"error", 0}, {"printers", list}};
  }

  if (op == "open_printer") {
    const std::string name = Text(request, "name", kMaxRequest);
    const auto access = static_cast<DWORD>(Unsigned(request, "access", 0xFFFFFFFFu));
    const std::optional<std::string> datatype = OptionalText(request, "datatype", kMaxRequest);
    const Printer& p = named(name);
    if (datatype && !KnownDatatype(*datatype)) {
      throw SpoolerError{ERROR_INVALID_DATATYPE, "unknown data type"};
    }
    if (p.refuse_open_error != 0) throw SpoolerError{p.refuse_open_error, "the printer refuses opens"};
    if (handles_.size() >= kMaxHandles / 2) ReapHandlesLocked();
    if (handles_.size() >= kMaxHandles) {
      throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "too many open printer handles"};
    }
    const uint64_t id = next_handle_++;
    handles_[id] = OpenHandle{p.name, access, peer};
    return {{"error", 0}, {"handle", id}};
  }

  if (op == "close_printer") {
    const uint64_t id = Unsigned(request, "handle", UINT64_MAX);
    if (handles_.erase(id) == 0) throw SpoolerError{ERROR_INVALID_HANDLE, "unknown printer handle"};
    return {{"error", 0}};
  }

  if (op == "get_printer") {
    const Printer& p = printer_of(request);
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    if (level != 1 && level != 2 && level != 4 && level != 5) {
      throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
    }
    return {{"error", 0}, {"printer", PrinterInfo(p, level == 2)}};
  }

  if (op == "get_printer_driver") {
    const Printer& p = printer_of(request);
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    const std::optional<std::string> env = OptionalText(request, "environment", kMaxRequest);
    if (env && !EqualNoCase(*env, kEnvironment)) {
      throw SpoolerError{ERROR_INVALID_ENVIRONMENT, "only \"Windows x64\" drivers are installed"};
    }
    if (level < 1 || level > 3) throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1 to 3 are supported"};
    return {{"error", 0}, {"driver", DriverInfo(p)}};
  }

  if (op == "get_default_printer") {
    if (!world_.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    return {{"error", 0}, {"name", *world_.default_printer}};
  }

  if (op == "device_capabilities") {
    const Printer& p = named(Text(request, "device", kMaxRequest));
    json sheets = json::array();
    for (const Sheet& s : p.sheets) sheets.push_back({s.name, s.code, s.width, s.length});
    json bins = json::array();
    for (const Bin& b : p.bins) bins.push_back({b.name, b.code});
    json files = json::array();
    for (const DriverFile& f : p.driver.dependent_files) files.push_back(f.path);
    return {{"error", 0},
            {"sheets", sheets},
            {"bins", bins},
            {"devmode", ToHex(DevmodeBytes(p))},
            {"dependent_files", files}};
  }

  if (op == "default_devnames") {
    if (!world_.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    const Printer* p = world_.FindPrinter(*world_.default_printer);
    if (p == nullptr) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    if (p->refuse_open_error != 0) throw SpoolerError{p->refuse_open_error, "the printer refuses opens"};
    json sheets = json::array();
    for (const Sheet& s : p->sheets) sheets.push_back({s.name, s.code, s.width, s.length});
    return {{"error", 0},
            {"name", p->name},
            {"port", p->port},
            {"driver", p->driver.name},
            {"devmode", ToHex(DevmodeBytes(*p))},
            {"sheets", sheets}};
  }

  throw BadRequest("unknown operation \"" + op + "\"");
}

// ---- Control API -----------------------------------------------------------------

json Daemon::Control(const json& request) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    const std::string op = Text(request, "op", 64);
    if (op == "monitors" || op == "monitor") return ControlMonitor(request);
    if (op == "stop") {
      stop_requested_ = true;
      if (notify_stop_ != nullptr) notify_stop_(notify_context_);
      return Ok();
    }
    if (op == "reset") {
      {
        std::lock_guard<std::mutex> guard(lock_);
        world_ = original_;
      }
      SyncMonitors(true);
      return Ok();
    }
    bool monitors_changed = false;
    json reply;
    {
      std::lock_guard<std::mutex> guard(lock_);
      reply = ControlWorld(request, monitors_changed);
    }
    if (monitors_changed) SyncMonitors(false);
    return reply;
  } catch (const BadRequest& e) {
    return Refused(e.what());
  } catch (const WorldError& e) {
    return Refused(e.what());
  } catch (const std::exception& e) {
    return Refused(e.what());
  }
}

json Daemon::ControlWorld(const json& request, bool& monitors_changed) {
  const std::string op = Text(request, "op", 64);

  auto printer_named = [&](const json& req, const char* key) -> Printer& {
    const std::string name = Text(req, key, kMaxRequest);
    Printer* p = world_.FindPrinter(name);
    if (p == nullptr) throw BadRequest("no printer named \"" + name + "\"");
    return *p;
  };
  auto with_extras = [&](const Printer& p) {
    json j = PrinterToJson(p);
    j["default"] = world_.default_printer && EqualNoCase(*world_.default_printer, p.name);
    j["open_handles"] = std::count_if(handles_.begin(), handles_.end(), [&](const auto& h) {
      return EqualNoCase(h.second.printer, p.name);
    });
    return j;
  };

  // Inspections count only handles whose processes still live.
  if (op == "status" || op == "printers" || op == "printer") ReapHandlesLocked();

  if (op == "status") {
    return {{"ok", true},
            {"pid", getpid()},
            {"dir", dir_},
            {"source", source_},
            {"printers", world_.printers.size()},
            {"open_handles", handles_.size()}};
  }
  if (op == "world") return {{"ok", true}, {"world", WorldToJson(world_)}};

  if (op == "printers") {
    json list = json::array();
    for (const Printer& p : world_.printers) list.push_back(with_extras(p));
    return {{"ok", true}, {"printers", list}};
  }
  if (op == "printer") return {{"ok", true}, {"printer", with_extras(printer_named(request, "name"))}};

  if (op == "jobs") {
    const std::optional<std::string> only = OptionalText(request, "printer", kMaxRequest);
    if (only && world_.FindPrinter(*only) == nullptr) throw BadRequest("no printer named \"" + *only + "\"");
    json list = json::array();
    for (const Printer& p : world_.printers) {
      if (only && !EqualNoCase(*only, p.name)) continue;
      for (const Job& job : p.jobs) {
        list.push_back({{"printer", p.name},
                        {"id", job.id},
                        {"document", job.document},
                        {"status", JobStatusToJson(job.status)},
                        {"owner", job.owner},
                        {"datatype", job.datatype},
                        {"pages", job.pages},
                        {"size", job.size}});
      }
    }
    return {{"ok", true}, {"jobs", list}};
  }

  if (op == "ports") {
    json list = json::array();
    for (const Port& port : world_.ports) {
      json printers = json::array();
      for (const Printer& p : world_.printers) {
        if (EqualNoCase(p.port, port.name)) printers.push_back(p.name);
      }
      json usb = json::array();
      for (const UsbInterface& u : world_.usb_interfaces) {
        if (EqualNoCase(u.port_name, port.name)) usb.push_back(u.device_path);
      }
      const Device* d = world_.FindDevice(port.name);
      list.push_back({{"name", port.name},
                      {"description", port.description},
                      {"printers", printers},
                      {"usb_interfaces", usb},
                      {"device", d != nullptr ? json(d->model) : json(nullptr)}});
    }
    return {{"ok", true}, {"ports", list}};
  }

  if (op == "devices") {
    json list = json::array();
    for (const Device& d : world_.devices) list.push_back(DeviceToJson(d));
    return {{"ok", true}, {"devices", list}};
  }

  if (op == "set_printer") {
    Printer& p = printer_named(request, "name");
    // Check everything first, then change: a refused request changes nothing.
    Printer changed = p;
    for (auto it = request.begin(); it != request.end(); ++it) {
      const std::string& key = it.key();
      const json& v = it.value();
      if (key == "op" || key == "name") continue;
      if (key == "status") {
        changed.status = ParsePrinterStatus(v, "status");
      } else if (key == "attributes") {
        changed.attributes = ParsePrinterAttributes(v, "attributes");
      } else if (key == "refuse_open") {
        if (v.is_boolean()) {
          changed.refuse_open_error = v.get<bool>() ? ERROR_ACCESS_DENIED : 0;
        } else {
          changed.refuse_open_error = static_cast<DWORD>(Unsigned(request, "refuse_open", 0xFFFFFFFFu));
        }
      } else if (key == "location" || key == "comment") {
        const std::string text = Text(request, key.c_str(), kMaxTextLength);
        (key == "location" ? changed.location : changed.comment) = text;
      } else if (key == "port") {
        const std::string port = Text(request, "port", 64);
        const Port* known = world_.FindPort(port);
        if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
        changed.port = known->name;
      } else {
        throw BadRequest("\"" + key + "\" cannot be set on a printer");
      }
    }
    monitors_changed = !EqualNoCase(changed.port, p.port);
    p = std::move(changed);
    return {{"ok", true}, {"printer", with_extras(p)}};
  }

  if (op == "add_printer") {
    if (world_.printers.size() >= kMaxPrinters) throw BadRequest("the world has as many printers as it can hold");
    DWORD next_id = world_.next_job_id;
    Printer p = ParsePrinter(Field(request, "printer"), world_, "printer", next_id);
    if (world_.FindPrinter(p.name) != nullptr) throw BadRequest("printer \"" + p.name + "\" exists already");
    for (const Job& job : p.jobs) {
      for (const Printer& other : world_.printers) {
        for (const Job& used : other.jobs) {
          if (used.id == job.id) throw BadRequest("job id " + std::to_string(job.id) + " is in use");
        }
      }
    }
    world_.next_job_id = next_id;
    world_.printers.push_back(std::move(p));
    monitors_changed = true;
    return {{"ok", true}, {"printer", with_extras(world_.printers.back())}};
  }

  if (op == "remove_printer") {
    Printer& p = printer_named(request, "name");
    if (world_.default_printer && EqualNoCase(*world_.default_printer, p.name)) {
      world_.default_printer.reset();
    }
    world_.printers.erase(world_.printers.begin() + (&p - world_.printers.data()));
    monitors_changed = true;
    return Ok();
  }

  if (op == "set_default") {
    const std::optional<std::string> name = OptionalText(request, "name", kMaxRequest);
    if (!name) {
      world_.default_printer.reset();
      return Ok();
    }
    const Printer* p = world_.FindPrinter(*name);
    if (p == nullptr) throw BadRequest("no printer named \"" + *name + "\"");
    world_.default_printer = p->name;
    return Ok();
  }

  if (op == "add_job") {
    Printer& p = printer_named(request, "printer");
    if (p.jobs.size() >= kMaxJobs) throw BadRequest("the printer has as many jobs as it can hold");
    Job job;
    job.document = Text(request, "document", kMaxTextLength);
    if (auto it = request.find("status"); it != request.end()) job.status = ParseJobStatus(*it, "status");
    job.id = world_.next_job_id++;
    p.jobs.push_back(job);
    return {{"ok", true}, {"id", job.id}};
  }

  if (op == "remove_job") {
    const auto id = static_cast<DWORD>(Unsigned(request, "id", 0xFFFFFFFFu));
    for (Printer& p : world_.printers) {
      for (auto it = p.jobs.begin(); it != p.jobs.end(); ++it) {
        if (it->id == id) {
          p.jobs.erase(it);
          return Ok();
        }
      }
    }
    throw BadRequest("no job with id " + std::to_string(id));
  }

  if (op == "set_device") {
    const std::string port = Text(request, "port", 64);
    const Port* known = world_.FindPort(port);
    if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
    Device* existing = world_.FindDevice(port);
    Device changed = existing != nullptr ? *existing : Device{known->name, "", "", "", {}};
    for (auto it = request.begin(); it != request.end(); ++it) {
      const std::string& key = it.key();
      if (key == "op" || key == "port") continue;
      if (key == "model") {
        changed.model = Text(request, "model", 63);
      } else if (key == "device_id") {
        changed.device_id = Text(request, "device_id", kMaxDeviceId);
      } else if (key == "firmware") {
        changed.firmware = Text(request, "firmware", 63);
      } else if (key == "faults") {
        changed.faults = ParseDeviceFaults(it.value(), "faults");
      } else {
        throw BadRequest("\"" + key + "\" cannot be set on a device");
      }
    }
    if (existing != nullptr) {
      *existing = std::move(changed);
    } else {
      world_.devices.push_back(std::move(changed));
    }
    return {{"ok", true}, {"device", DeviceToJson(*world_.FindDevice(port))}};
  }

  if (op == "remove_device") {
    const std::string port = Text(request, "port", 64);
    auto it = std::find_if(world_.devices.begin(), world_.devices.end(),
                           [&](const Device& d) { return EqualNoCase(d.port, port); });
    if (it == world_.devices.end()) throw BadRequest("no device on port \"" + port + "\"");
    world_.devices.erase(it);
    return Ok();
  }

  throw BadRequest("unknown operation \"" + op + "\"");
}

// ---- Language monitors ---------------------------------------------------------------

void Daemon::StartMonitors() { SyncMonitors(false); }

void Daemon::StopMonitors() {
  std::lock_guard<std::mutex> guard(monitors_lock_);
  for (auto& [port, monitor] : monitors_) monitor->Stop();
  monitors_.clear();
}

void Daemon::SyncMonitors(bool restart_all) {
  struct Wanted {
    MonitorInfo info;
    bool running;
  };
  std::vector<Wanted> wanted;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Printer& p : world_.printers) {
      if (!p.driver.language_monitor) continue;
      const bool taken = std::any_of(wanted.begin(), wanted.end(), [&](const Wanted& w) {
        return EqualNoCase(w.info.port, p.port);
      });
      if (taken) continue;  // one monitor per port: the first printer on it
      wanted.push_back({{p.port, p.name, p.driver.language_monitor->version},
                        p.driver.language_monitor->running});
    }
  }
  std::lock_guard<std::mutex> guard(monitors_lock_);
  if (restart_all) {
    for (auto& [port, monitor] : monitors_) monitor->Stop();
    monitors_.clear();
  }
  for (auto it = monitors_.begin(); it != monitors_.end();) {
    const bool keep = std::any_of(wanted.begin(), wanted.end(),
                                  [&](const Wanted& w) { return w.info.port == it->first; });
    if (keep) {
      ++it;
    } else {
      it->second->Stop();
      it = monitors_.erase(it);
    }
  }
  for (const Wanted& w : wanted) {
    auto it = monitors_.find(w.info.port);
    if (it != monitors_.end()) {
      if (it->second->info().printer != w.info.printer) it->second->SetPrinter(w.info.printer);
      continue;
    }
    auto monitor = std::make_unique<LanguageMonitor>(w.info);
    if (w.running) monitor->Start();
    monitors_.emplace(w.info.port, std::move(monitor));
  }
}

json Daemon::MonitorsJson() {
  json list = json::array();
  for (const auto& [port, monitor] : monitors_) {
    list.push_back({{"port", port},
                    {"printer", monitor->info().printer},
                    {"version", monitor->info().version},
                    {"running", monitor->running()},
                    {"busy", monitor->busy()}});
  }
  return list;
}

json Daemon::ControlMonitor(const json& request) {
  const std::string op = Text(request, "op", 64);
  std::lock_guard<std::mutex> guard(monitors_lock_);
  if (op == "monitors") return {{"ok", true}, {"monitors", MonitorsJson()}};

  const std::string port = Text(request, "port", 64);
  auto it = std::find_if(monitors_.begin(), monitors_.end(),
                         [&](const auto& m) { return EqualNoCase(m.first, port); });
  if (it == monitors_.end()) throw BadRequest("no language monitor on port \"" + port + "\"");
  LanguageMonitor& monitor = *it->second;
  const std::string action = Text(request, "action", 16);
  if (action == "start") {
    if (monitor.running()) return Refused("the language monitor on " + it->first + " is running already");
    if (!monitor.Start()) return Refused("the language monitor on " + it->first + " did not start");
  } else if (action == "stop") {
    monitor.Stop();
  } else if (action == "crash") {
    monitor.Crash();
  } else if (action == "busy") {
    const json& busy = Field(request, "busy");
    if (!busy.is_boolean()) throw BadRequest("\"busy\" must be true or false");
    monitor.SetBusy(busy.get<bool>());
  } else {
    throw BadRequest("unknown monitor action \"" + action + "\" (start, stop, crash, busy)");
  }
  return {{"ok", true},
          {"monitor",
           {{"port", it->first},
            {"printer", monitor.info().printer},
            {"version", monitor.info().version},
            {"running", monitor.running()},
            {"busy", monitor.busy()}}}};
}

}  // namespace qxsim
