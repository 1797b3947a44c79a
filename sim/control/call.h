// call.h - qxsimd, daemon side, the control API's room: one call and what
// its operations share. Internal to sim/control.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "monitors.h"
#include "state.h"
#include "wire.h"

namespace qxsim::control {

// One call: the world, the monitors, the request; the reply's binary body
// and whether the monitors must follow the world are set by the operation.
struct ControlCall {
  SharedWorld& w;
  Monitors& monitors;
  const nlohmann::json& request;
  std::optional<std::string>& body;
  bool monitors_changed = false;
};

inline nlohmann::json Ok() { return {{"ok", true}}; }
inline nlohmann::json Refused(const std::string& message) { return {{"ok", false}, {"error", message}}; }

// The operations by room; those of the world run with its mutex held,
// those of the monitors without it.
// World: printers, jobs, the world itself (api.cpp).
nlohmann::json Status(ControlCall& c);
nlohmann::json WorldOp(ControlCall& c);
nlohmann::json Printers(ControlCall& c);
nlohmann::json PrinterOp(ControlCall& c);
nlohmann::json Jobs(ControlCall& c);
nlohmann::json SetPrinter(ControlCall& c);
nlohmann::json AddPrinter(ControlCall& c);
nlohmann::json RemovePrinter(ControlCall& c);
nlohmann::json SetDefault(ControlCall& c);
nlohmann::json AddJob(ControlCall& c);
nlohmann::json RemoveJob(ControlCall& c);
// Ports and devices (devices.cpp).
nlohmann::json Ports(ControlCall& c);
nlohmann::json Received(ControlCall& c);
nlohmann::json Devices(ControlCall& c);
nlohmann::json SetDevice(ControlCall& c);
nlohmann::json RemoveDevice(ControlCall& c);
nlohmann::json DeviceState(ControlCall& c);
nlohmann::json PortOp(ControlCall& c);
// Language monitors (monitor_ops.cpp).
nlohmann::json MonitorsOp(ControlCall& c);
nlohmann::json MonitorOp(ControlCall& c);
nlohmann::json SetMonitor(ControlCall& c);
nlohmann::json ScriptMonitor(ControlCall& c);
nlohmann::json MonitorRequests(ControlCall& c);
nlohmann::json MonitorState(ControlCall& c);

}  // namespace qxsim::control
