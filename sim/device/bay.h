// bay.h - qxsimd, simulated-world side: the device emulators of a world, one
// per port, with the world's devices attached. The daemon's services and the
// language monitors reach a port's emulator here; the emulator itself is
// shared, so a monitor's exchange may outlive a reset that replaced it.
#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "device.h"
#include "world.h"

namespace qxsim {

class DeviceBay {
 public:
  // Load - an emulator for every port of world, the world's devices
  // attached (world.devices in order); replaces whatever was there.
  void Load(const World& world);
  // On - the emulator of port (names matched without regard to case); null
  // for a port the world does not have.
  std::shared_ptr<DeviceEmulator> On(std::string_view port) const;
  // Attached - the emulators with a printer attached, in the order their
  // printers were attached.
  std::vector<std::shared_ptr<DeviceEmulator>> Attached() const;
  // Devices - the attached printers' descriptions, in that order.
  std::vector<Device> Devices() const;
  // Attach - attach description to its port's emulator (a change when one
  // is attached there); false for an unknown port.
  bool Attach(const Device& description);

 private:
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<DeviceEmulator>> ports_;
  uint64_t next_order_ = 1;
};

}  // namespace qxsim
