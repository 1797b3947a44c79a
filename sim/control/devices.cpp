// devices.cpp - qxsimd, daemon side, the control API's room: ports and the
// device emulators on them (what is attached, what a port received).
#include <string_view>

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
    list.push_back({{"name", port.name},
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
  for (const Device& d : c.w.devices.Devices()) list.push_back(DeviceToJson(d));
  return {{"ok", true}, {"devices", list}};
}

// SetDevice - change the device on a port, or attach one; the keys of the
// world file's device object, checked the same way, all before any change.
json SetDevice(ControlCall& c) {
  const Port& known = KnownPort(c);
  const auto device = c.w.devices.On(known.name);
  Device changed = device ? device->Description().value_or(Device{}) : Device{};
  changed.port = known.name;
  for (auto it = c.request.begin(); it != c.request.end(); ++it) {
    const std::string& key = it.key();
    if (key == "op" || key == "port") continue;
    if (!SetDeviceKey(changed, key, it.value(), key)) {
      throw BadRequest("\"" + key + "\" cannot be set on a device");
    }
  }
  c.w.devices.Attach(changed);
  return {{"ok", true}, {"device", DeviceToJson(device ? device->Description().value_or(changed) : changed)}};
}

json RemoveDevice(ControlCall& c) {
  const std::string port = Text(c.request, "port", 64);
  const auto device = c.w.devices.On(port);
  if (device == nullptr || !device->attached()) throw BadRequest("no device on port \"" + port + "\"");
  device->Detach();
  return Ok();
}

}  // namespace qxsim::control
