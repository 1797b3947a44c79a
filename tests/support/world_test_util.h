// Test support for the library against a simulated world: worlds made from
// the embedded default by small changes, and the library attached to them.
#pragma once

#include <gtest/gtest.h>
#include <qxdll.h>
#include <qxplatform.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim_fixture.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace qxtest {

using nlohmann::json;

// The embedded default world after change(world).
inline std::string WorldFrom(const std::function<void(json&)>& change) {
  json world = qxsim::DefaultWorld();
  change(world);
  return world.dump();
}

// The printer of a world with the given name.
inline json& PrinterIn(json& world, const std::string& name) {
  for (json& p : world["printers"]) {
    if (p["name"] == name) return p;
  }
  ADD_FAILURE() << "no printer " << name;
  static json none;
  return none;
}

inline constexpr char kTicket[] = "QX ZDA-38 Ticket Printer";   // USB001, monitor, default
inline constexpr char kBoarding[] = "QX ZDA24 Boarding Pass Printer";  // LPT1:, no monitor
inline constexpr char kOffice[] = "Office Laser MFP";

// A world per test, and a check that nothing the library opened stays open.
class LibraryWorld : public qxsim::SimFixture {
 protected:
  void SetUp() override {
    qxsim::SimFixture::SetUp();
    qxplat_call_counts_reset();
    qxplat_debug_capture_start();
    counts_ = std::make_unique<qxplat::LiveCounts>();
  }
  void TearDown() override {
    if (attached_) Detach();
    qxplat_debug_capture_stop();
    qxplat_fault_clear();
    EXPECT_EQ(counts_->Leaks(), "");
    qxsim::SimFixture::TearDown();
  }
  void Attach() {
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
    attached_ = true;
  }
  void Detach() {
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    attached_ = false;
  }

 private:
  std::unique_ptr<qxplat::LiveCounts> counts_;
  bool attached_ = false;
};

}  // namespace qxtest
