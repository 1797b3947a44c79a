// sim_fixture.h - test support, the side of tests: a simulated world of its
// own for each test.
//
// SimWorld starts one qxsimd in a fresh folder (mkdtemp) with a world given as
// JSON text (or the embedded default), waits until it is ready, and at its end
// stops the daemon and removes the folder. SimFixture is the GoogleTest
// fixture over it, which also points the test process at the world
// (QX_SIM_DIR, restored afterwards):
//
//   class Discovery : public qxsim::SimFixture {
//    protected:
//     std::string WorldJson() const override { return R"({"printers": []})"; }
//   };
//   TEST_F(Discovery, FindsNothing) { ... EnumPrintersA ...; control().Printers(); }
//
// The daemon inherits the test process's QX_TIME_SCALE, so both run on the
// same virtual clock; set it in the test's environment to make the daemon's
// waits fast.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "client.h"

namespace qxsim {

class SimWorld {
 public:
  struct Options {
    std::string world_json;            // empty: the embedded default world
    std::optional<double> time_scale;  // the daemon's QX_TIME_SCALE; unset: the test's own
  };

  // Start - a running world, or null with the reason in *error (the daemon's
  // own message for a world it refuses).
  static std::unique_ptr<SimWorld> Start(const Options& options, std::string* error);
  static std::unique_ptr<SimWorld> Start(const std::string& world_json, std::string* error);

  ~SimWorld();  // Stop(), then the folder goes
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  // Stop - end the daemon now (SIGTERM, then wait); the folder stays until
  // the object goes. True when it ended by itself with status 0.
  bool Stop();

  const std::string& dir() const { return dir_; }
  pid_t pid() const { return pid_; }
  const ControlClient& control() const { return control_; }
  // What the daemon wrote to its standard error.
  std::string Log() const;

 private:
  SimWorld(std::string dir, pid_t pid) : dir_(std::move(dir)), pid_(pid), control_(dir_) {}

  std::string dir_;
  pid_t pid_;
  ControlClient control_;
};

// The embedded default world as JSON, to be changed by tests before starting.
nlohmann::json DefaultWorld();

class SimFixture : public ::testing::Test {
 protected:
  // The world each test of the fixture starts with; empty for the embedded default.
  virtual std::string WorldJson() const { return ""; }

  void SetUp() override;
  void TearDown() override;

  // UseWorld - replace the running world by a new one (a fresh daemon and
  // folder); QX_SIM_DIR follows. Fails the test when it does not start.
  void UseWorld(const std::string& world_json);
  // StopWorld - end the daemon, leaving QX_SIM_DIR pointing at its folder,
  // where no spooler answers any more.
  void StopWorld();

  const std::string& dir() const { return world_->dir(); }
  const ControlClient& control() const { return world_->control(); }
  SimWorld& world() { return *world_; }

 private:
  std::unique_ptr<SimWorld> world_;
  std::optional<std::string> saved_dir_;
  bool saved_ = false;
};

}  // namespace qxsim
