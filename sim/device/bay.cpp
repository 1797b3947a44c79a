// bay.cpp - qxsimd, simulated-world side: the device emulators of a world
// (see bay.h).
#include "bay.h"

#include <algorithm>

namespace qxsim {

void DeviceBay::Load(const World& world) {
  std::vector<std::shared_ptr<DeviceEmulator>> ports;
  for (const Port& port : world.ports) ports.push_back(std::make_shared<DeviceEmulator>(port.name));
  std::lock_guard<std::mutex> guard(lock_);
  ports_ = std::move(ports);
  next_order_ = 1;
  for (const Device& d : world.devices) {
    for (auto& e : ports_) {
      if (EqualNoCase(e->port(), d.port)) {
        e->Attach(d);
        e->set_attached_order(next_order_++);
      }
    }
  }
}

std::shared_ptr<DeviceEmulator> DeviceBay::On(std::string_view port) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& e : ports_) {
    if (EqualNoCase(e->port(), port)) return e;
  }
  return nullptr;
}

std::vector<std::shared_ptr<DeviceEmulator>> DeviceBay::Attached() const {
  std::vector<std::shared_ptr<DeviceEmulator>> list;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& e : ports_) {
      if (e->attached()) list.push_back(e);
    }
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return a->attached_order() < b->attached_order(); });
  return list;
}

std::vector<Device> DeviceBay::Devices() const {
  std::vector<Device> list;
  for (const auto& e : Attached()) {
    if (std::optional<Device> d = e->Description()) list.push_back(std::move(*d));
  }
  return list;
}

bool DeviceBay::Attach(const Device& description) {
  std::shared_ptr<DeviceEmulator> e = On(description.port);
  if (e == nullptr) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (!e->attached()) e->set_attached_order(next_order_++);
  e->Attach(description);
  return true;
}

}  // namespace qxsim
