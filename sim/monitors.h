// monitors.h - qxsimd, daemon side: the language monitors of a world, one
// per port whose printer's driver has one, kept in line with the world's
// printers; and the world as their serving threads reach it (MonitorHost).
//
// Locks: the monitors' own mutex is never held together with the world's,
// because a monitor's thread calls back into the world while a control
// request may be stopping it; a device emulator is reached through the bay.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "lm.h"
#include "state.h"

namespace qxsim {

class Monitors : public MonitorHost {
 public:
  explicit Monitors(SharedWorld& world);
  ~Monitors() override;  // Stop()
  Monitors(const Monitors&) = delete;
  Monitors& operator=(const Monitors&) = delete;

  // Sync - one monitor per port whose printer's driver has a language
  // monitor (the first printer on a port), started as the driver says;
  // others stopped. restart_all: every monitor anew (reset).
  void Sync(bool restart_all);
  // Stop - every monitor stopped and dropped.
  void Stop();
  // Reload - the spooler's reload of stopped monitors that spooler calls
  // asked for; call with the world's mutex released.
  void Reload(const std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>>& reloads);

  // With - run f(port as the world spells it, monitor) on the monitor of
  // port under the monitors' lock; false when there is none.
  template <class F>
  bool With(const std::string& port, F f) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [name, monitor] : monitors_) {
      if (EqualNoCase(name, port)) {
        f(name, *monitor);
        return true;
      }
    }
    return false;
  }
  // List - every monitor: port, printer, version, running, busy.
  nlohmann::json List();
  // Json - one monitor's state; full adds settings, counts and the flash run.
  static nlohmann::json Json(const std::string& port, const LanguageMonitor& monitor, bool full);

  // MonitorHost: the world as the monitors' threads reach it, each call
  // under the world's mutex (the device through the bay).
  std::shared_ptr<DeviceEmulator> DeviceOn(const std::string& port) override;
  bool JobInProgress(const std::string& port) override;
  bool AbortJob(const std::string& port, std::string* document) override;
  bool WriteDataValue(const std::string& printer, const std::string& name, uint32_t value,
                      std::string* error) override;

 private:
  nlohmann::json ListLocked();

  SharedWorld& w_;
  std::mutex lock_;  // monitors_
  std::map<std::string, std::unique_ptr<LanguageMonitor>> monitors_;  // by port
};

}  // namespace qxsim
