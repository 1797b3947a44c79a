// The library attached to a world where the boarding-pass printer (no
// language monitor, on LPT1:) shares its port with two more queues, and is
// the current printer.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "core/state.h"
#include "world_test_util.h"

namespace qxtest {

inline constexpr char kKiosk[] = "QX Kiosk Printer";  // LPT1:, no monitor
inline constexpr char kLobby[] = "Lobby Printer";     // LPT1:, another maker's

// The default world with two more queues on LPT1:.
inline std::string SharedLptWorld(const std::function<void(json&)>& more = {}) {
  return WorldFrom([&](json& world) {
    json kiosk = PrinterIn(world, kBoarding);
    kiosk["name"] = kKiosk;
    kiosk.erase("share_name");
    json lobby = kiosk;
    lobby["name"] = kLobby;
    world["printers"].push_back(kiosk);
    world["printers"].push_back(lobby);
    world["ports"].push_back({{"name", "LPT3:"}, {"description", "Printer Port"}});
    if (more) more(world);
  });
}

class PortWorld : public LibraryWorld {
 protected:
  std::string WorldJson() const override { return SharedLptWorld(); }

  void SetUp() override {
    LibraryWorld::SetUp();
    Attach();
    MakeCurrent(kBoarding);
  }
  void TearDown() override {
    qxReleasePort();  // a test that failed half-way gives its queues back too
    LibraryWorld::TearDown();
  }

  // Makes a printer current, as qxSetNewPrinter does, and starts the debug
  // capture and counters afresh.
  void MakeCurrent(const char* printer) {
    ASSERT_EQ(qxSetNewPrinter(printer), 1);
    qxplat_debug_capture_clear();
    qxplat_call_counts_reset();
    qxplat_sleep_counters_reset();
  }

  std::string PortOf(const std::string& printer) { return control().Printer(printer)["port"]; }
  // Every printer's spooler port, by name.
  std::vector<std::string> Ports(std::initializer_list<const char*> printers) {
    std::vector<std::string> ports;
    for (const char* p : printers) ports.push_back(PortOf(p));
    return ports;
  }
  // The printers of the world whose queue is on "FILE:".
  std::vector<std::string> OnFile() {
    std::vector<std::string> names;
    for (const json& p : control().Printers()) {
      if (p["port"] == "FILE:") names.push_back(p["name"]);
    }
    return names;
  }
  static bool RecordEmpty() {
    const qx::Isolation& r = qx::g_state.isolation;
    return r.snapshot == nullptr && r.moved == nullptr && r.count == 0 && r.isolated == 0;
  }
  static bool Logged(const std::string& line) {
    for (const std::string& text : qxplat::debug_captured()) {
      if (text == line) return true;
    }
    return false;
  }
};

}  // namespace qxtest
