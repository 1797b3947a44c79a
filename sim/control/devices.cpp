// devices.cpp - qxsimd, daemon side, the control API's room: ports and the
// device emulators on them (what is attached, what a port received).
#include <algorithm>
#include <string_view>

#include <qxplatform.h>

#include <qxwire/hex.h>

#include "control/call.h"

namespace qxsim::control {

using nlohmann::json;

namespace {

// The port a request names, as the world spells it.
const Port& KnownPort(ControlCall& c) {
  const std::string port = Text(c.request, "port", 64);
  const Port* known = c.w.world.FindPort(port);
  if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
  return *known;
}

const char* ModeName(DeviceEmulator::Mode mode) {
  switch (mode) {
    case DeviceEmulator::Mode::kPrinting: return "printing";
    case DeviceEmulator::Mode::kFlash: return "flash";
    case DeviceEmulator::Mode::kRestarting: return "restarting";
  }
  return "?";
}

// DescribeDevice - the device's description with what it counts at the
// clock's now: its mode, the flash-reprogram mode's image bytes, the drawer
// pulses and the port writes.
json DescribeDevice(DeviceEmulator& device, const Device& d) {
  const DeviceEmulator::PortState s = device.State(qxplat_clock_now_ms());
  json j = DeviceToJson(d);
  j["mode"] = ModeName(s.mode);
  j["flash_mode"] = s.mode == DeviceEmulator::Mode::kFlash;
  j["image_bytes"] = s.image_bytes;
  j["image_pending"] = s.image_pending;
  j["good_images"] = s.good_images;
  j["bad_images"] = s.bad_images;
  j["restart_until"] = s.restart_until;
  j["flash_ready_owed"] = s.ready_owed;
  j["drawer_pulses"] = s.drawer_pulses;
  j["port_writes"] = s.port_writes;
  return j;
}

}  // namespace

// Ports with their printers, USB interfaces, device and received byte count.
json Ports(ControlCall& c) {
  json list = json::array();
  for (const Port& port : c.w.world.ports) {
    json printers = json::array();
    for (const Printer& p : c.w.world.printers) {
      if (EqualNoCase(p.port, port.name)) printers.push_back(p.name);
    }
    json usb = json::array();
    for (const UsbInterface& u : c.w.world.usb_interfaces) {
      if (EqualNoCase(u.port_name, port.name)) usb.push_back(u.device_path);
    }
    const auto device = c.w.devices.On(port.name);
    const std::optional<Device> d = device ? device->Description() : std::nullopt;
    json held_by = json::array();
    for (const auto& [id, hold] : c.w.port_holds) {
      if (EqualNoCase(hold.port, port.name)) held_by.push_back(hold.pid);
    }
    list.push_back({{"name", port.name},
                    {"held_by", held_by},
                    {"description", port.description},
                    {"printers", printers},
                    {"usb_interfaces", usb},
                    {"device", d ? json(d->model) : json(nullptr)},
                    {"received", device ? device->received_size() : 0}});
  }
  return {{"ok", true}, {"ports", list}};
}

// What the port received: as the reply's binary body when "binary" is
// true, else in hex as "data"; "clear" empties it after reading.
json Received(ControlCall& c) {
  const Port& known = KnownPort(c);
  const bool clear = OptionalBool(c.request, "clear").value_or(false);
  const bool binary = OptionalBool(c.request, "binary").value_or(false);
  const auto device = c.w.devices.On(known.name);
  const std::string bytes = device ? device->Received(clear) : std::string();
  json reply = {{"ok", true}, {"port", known.name}, {"size", bytes.size()}};
  if (binary) {
    c.body = bytes;
  } else {
    reply["data"] = qxwire::ToHex(bytes);
  }
  return reply;
}

json Devices(ControlCall& c) {
  json list = json::array();
  for (const auto& device : c.w.devices.Attached()) {
    if (const std::optional<Device> d = device->Description()) list.push_back(DescribeDevice(*device, *d));
  }
  return {{"ok", true}, {"devices", list}};
}

// SetDevice - change the device on a port, or attach one; the keys of the
// world file's device object, checked the same way, all before any change.
json SetDevice(ControlCall& c) {
  const Port& known = KnownPort(c);
  const auto device = c.w.devices.On(known.name);
  const bool attached = device && device->attached();
  Device changed = device ? device->Description().value_or(Device{}) : Device{};
  changed.port = known.name;
  // A new device that states no ID reports the maker's form of its model.
  if (!attached && !c.request.contains("device_id")) {
    changed.device_id = DefaultDeviceId(c.request.contains("model") && c.request["model"].is_string()
                                            ? c.request["model"].get<std::string>()
                                            : std::string());
  }
  for (auto it = c.request.begin(); it != c.request.end(); ++it) {
    const std::string& key = it.key();
    if (key == "op" || key == "port") continue;
    if (!SetDeviceKey(changed, key, it.value(), key)) {
      throw BadRequest("\"" + key + "\" cannot be set on a device");
    }
  }
  c.w.devices.Attach(changed);
  const std::optional<Device> now = device ? device->Description() : std::nullopt;
  return {{"ok", true}, {"device", now ? DescribeDevice(*device, *now) : DeviceToJson(changed)}};
}

// DeviceState - what the port road sees of a device: "busy" (status word
// 0x0020, the port's BUSY line), "silent" (the not_responding fault),
// "garbled" (garbled_reply), "refuse_flash", "never_restart" (those faults),
// "fail_write" and "restart_ms" (those settings); each optional, the other
// faults kept. The reply's device carries its mode and counts.
json DeviceState(ControlCall& c) {
  const Port& known = KnownPort(c);
  const auto device = c.w.devices.On(known.name);
  std::optional<Device> changed = device ? device->Description() : std::nullopt;
  if (!changed) throw BadRequest("no device on port \"" + known.name + "\"");
  const std::optional<bool> busy = OptionalBool(c.request, "busy");
  const std::optional<bool> silent = OptionalBool(c.request, "silent");
  const std::optional<bool> garbled = OptionalBool(c.request, "garbled");
  const std::optional<bool> refuse_flash = OptionalBool(c.request, "refuse_flash");
  const std::optional<bool> never_restart = OptionalBool(c.request, "never_restart");
  for (const char* key : {"fail_write", "restart_ms"}) {
    if (c.request.contains(key) && !SetDeviceKey(*changed, key, c.request[key], key)) {
      throw BadRequest(std::string("\"") + key + "\" cannot be set");
    }
  }
  auto set_fault = [&](const char* fault, std::optional<bool> on) {
    if (!on) return;
    auto& faults = changed->faults;
    faults.erase(std::remove(faults.begin(), faults.end(), fault), faults.end());
    if (*on) faults.emplace_back(fault);
  };
  if (busy) changed->busy = *busy;
  set_fault("not_responding", silent);
  set_fault("garbled_reply", garbled);
  set_fault("refuse_flash", refuse_flash);
  set_fault("never_restart", never_restart);
  device->Attach(*changed);
  return {{"ok", true}, {"device", DescribeDevice(*device, device->Description().value_or(*changed))}};
}

// PortOp - one port: its holders (direct opens by hosts), whether the
// spooler prints on it, the jobs waiting for it, its status byte.
json PortOp(ControlCall& c) {
  const Port& known = KnownPort(c);
  json holders = json::array();
  for (const auto& [id, hold] : c.w.port_holds) {
    if (!EqualNoCase(hold.port, known.name)) continue;
    holders.push_back({{"pid", hold.pid}, {"path", hold.path}, {"access", hold.access}, {"share", hold.share}});
  }
  size_t waiting = 0;
  for (const Printer& p : c.w.world.printers) {
    if (!EqualNoCase(p.port, known.name)) continue;
    for (const Job& job : p.jobs) {
      if (job.spooled && !(job.status & (JOB_STATUS_SPOOLING | JOB_STATUS_PAUSED))) ++waiting;
    }
  }
  const auto device = c.w.devices.On(known.name);
  return {{"ok", true},
          {"port", known.name},
          {"holders", holders},
          {"spooler_printing", c.w.SpoolerOnPortLocked(known.name)},
          {"waiting_jobs", waiting},
          {"status_byte", device ? device->StatusByte(qxplat_clock_now_ms()) : 0}};
}

json RemoveDevice(ControlCall& c) {
  const std::string port = Text(c.request, "port", 64);
  const auto device = c.w.devices.On(port);
  if (device == nullptr || !device->attached()) throw BadRequest("no device on port \"" + port + "\"");
  device->Detach();
  return Ok();
}

}  // namespace qxsim::control
