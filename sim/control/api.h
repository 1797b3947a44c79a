// api.h - qxsimd, daemon side: the control API (control.sock), what tests,
// tools and qxsimctl ask. One function per operation behind a table of the
// wire library's operation names (qxwire/ops.h), in three rooms: printers,
// jobs and the world (api.cpp), ports and devices (devices.cpp), language
// monitors (monitor_ops.cpp). Replies carry "ok", and "error" (a message)
// when false; a refused request changes nothing. docs/world.md lists the
// operations.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "monitors.h"
#include "state.h"

namespace qxsim {

class ControlApi {
 public:
  ControlApi(SharedWorld& world, Monitors& monitors);

  // Handle - one request, already parsed. Never throws.
  Reply Handle(const nlohmann::json& request);

  // Set by the request "stop"; the server loop watches it.
  bool stop_requested() const { return stop_requested_.load(); }
  // Called when stop is requested, to wake the server loop.
  void set_stop_notifier(void (*notify)(void*), void* context);

 private:
  SharedWorld& w_;
  Monitors& monitors_;
  std::atomic<bool> stop_requested_{false};
  void (*notify_stop_)(void*) = nullptr;
  void* notify_context_ = nullptr;
};

}  // namespace qxsim
