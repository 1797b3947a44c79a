// monitors.cpp - qxsimd, daemon side: the language monitors of a world and
// their host (see monitors.h).
#include "monitors.h"

#include <algorithm>
#include <cstring>

namespace qxsim {

using nlohmann::json;

namespace {

// The printer data value of that name, without regard to case.
auto FindDataValue(Printer& p, const std::string& name) {
  return std::find_if(p.data.begin(), p.data.end(), [&](const auto& v) { return EqualNoCase(v.first, name); });
}

}  // namespace

Monitors::Monitors(SharedWorld& world) : w_(world) {}

Monitors::~Monitors() { Stop(); }

void Monitors::Stop() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& [port, monitor] : monitors_) monitor->Stop();
  monitors_.clear();
}

void Monitors::Sync(bool restart_all) {
  struct Wanted {
    MonitorInfo info;
    bool running;
  };
  std::vector<Wanted> wanted;
  {
    std::lock_guard<std::mutex> guard(w_.lock);
    for (const Printer& p : w_.world.printers) {
      if (!p.driver.language_monitor) continue;
      const bool taken = std::any_of(wanted.begin(), wanted.end(), [&](const Wanted& w) {
        return EqualNoCase(w.info.port, p.port);
      });
      if (taken) continue;  // one monitor per port: the first printer on it
      const LanguageMonitorInfo& lm = *p.driver.language_monitor;
      wanted.push_back({{p.port, p.name, lm.version, lm.reload_on_devmode, lm.reload_on_job}, lm.running});
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
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
      if (it->second->info().printer != w.info.printer) it->second->SetPrinterName(w.info.printer);
      continue;
    }
    auto monitor = std::make_unique<LanguageMonitor>(w.info, this);
    if (w.running) monitor->Start();
    monitors_.emplace(w.info.port, std::move(monitor));
  }
}

json Monitors::Json(const std::string& port, const LanguageMonitor& monitor, bool full) {
  const MonitorSnapshot s = monitor.Snapshot();
  json j = {{"port", port},
            {"printer", s.info.printer},
            {"version", s.info.version},
            {"running", s.running},
            {"busy", s.busy}};
  if (!full) return j;
  j["crc_error"] = s.crc_error;
  j["reply_delay_ms"] = s.reply_delay_ms;
  j["flash_block_ms"] = s.flash_block_ms;
  j["heartbeat"] = s.heartbeat;
  j["heartbeat_rate"] = s.heartbeat_rate;
  j["save_method"] = s.save_method;
  j["wd_setup"] = {s.wd_setup[0], s.wd_setup[1], s.wd_setup[2], s.wd_setup[3]};
  j["aborts"] = s.aborts;
  j["resets"] = s.resets;
  j["reload_on_devmode"] = s.info.reload_on_devmode;
  j["reload_on_job"] = s.info.reload_on_job;
  j["reloads"] = s.reloads;
  j["exchanges"] = s.exchanges;
  j["flash"] = {{"state", FlashStateName(s.flash.state)},
                {"code", static_cast<int>(s.flash.state)},
                {"max", s.flash.max},
                {"current", s.flash.current},
                {"pass_fail", s.flash.pass ? "P" : "F"},
                {"note", s.flash.note},
                {"file", s.flash.file}};
  return j;
}

json Monitors::ListLocked() {
  json list = json::array();
  for (const auto& [port, monitor] : monitors_) list.push_back(Json(port, *monitor, false));
  return list;
}

json Monitors::List() {
  std::lock_guard<std::mutex> guard(lock_);
  return ListLocked();
}

void Monitors::Reload(const std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>>& reloads) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& [port, cause] : reloads) {
    auto it = std::find_if(monitors_.begin(), monitors_.end(),
                           [&](const auto& m) { return EqualNoCase(m.first, port); });
    if (it != monitors_.end()) it->second->Reload(cause);
  }
}

std::shared_ptr<DeviceEmulator> Monitors::DeviceOn(const std::string& port) { return w_.devices.On(port); }

bool Monitors::JobInProgress(const std::string& port) {
  std::lock_guard<std::mutex> guard(w_.lock);
  return std::any_of(w_.world.printers.begin(), w_.world.printers.end(),
                     [&](const Printer& p) { return EqualNoCase(p.port, port) && !p.jobs.empty(); });
}

bool Monitors::AbortJob(const std::string& port, std::string* document) {
  std::lock_guard<std::mutex> guard(w_.lock);
  // The oldest job is the one the port is printing: the lowest id.
  Printer* owner = nullptr;
  const Job* oldest = nullptr;
  for (Printer& p : w_.world.printers) {
    if (!EqualNoCase(p.port, port)) continue;
    for (const Job& job : p.jobs) {
      if (oldest == nullptr || job.id < oldest->id) {
        oldest = &job;
        owner = &p;
      }
    }
  }
  if (oldest == nullptr) return false;
  *document = oldest->document;
  // A handle spooling it gets ERROR_PRINT_CANCELLED at its next call.
  owner->jobs.erase(owner->jobs.begin() + (oldest - owner->jobs.data()));
  return true;
}

bool Monitors::WriteDataValue(const std::string& printer, const std::string& name, uint32_t value,
                            std::string* error) {
  std::lock_guard<std::mutex> guard(w_.lock);
  Printer* p = w_.world.FindPrinter(printer);
  if (p == nullptr) {
    *error = "NO PRINTER";
    return false;
  }
  auto it = FindDataValue(*p, name);
  if (it == p->data.end()) {
    if (p->data.size() >= kMaxDataValues) {
      *error = "TOO MANY VALUES";
      return false;
    }
    it = p->data.emplace(name, DataValue{}).first;
  }
  it->second.type = REG_DWORD;
  it->second.bytes.resize(4);
  std::memcpy(it->second.bytes.data(), &value, 4);
  return true;
}

}  // namespace qxsim
