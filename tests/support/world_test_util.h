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

// PatientClock - this process's clock runs at the given scale (real time by
// default) for the scope.
// The library's RFID read window (2200 virtual ms) is a wall-clock race
// against the monitor's answer: on the suite's fast clock it lasts about 2 ms
// of real time, which a busy machine can miss. Exchanges that expect an answer
// run under this; the monitor in qxsimd keeps its own fast clock. Set it once
// per test, before any thread of the test starts.
class PatientClock {
 public:
  explicit PatientClock(double scale = 1.0) : scale_(qxplat_clock_scale()) { qxplat_clock_set_scale(scale); }
  ~PatientClock() { qxplat_clock_set_scale(scale_); }
  PatientClock(const PatientClock&) = delete;
  PatientClock& operator=(const PatientClock&) = delete;

 private:
  const double scale_;
};

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
