// daemon.cpp - qxsimd, daemon side: the wiring of one running world (see
// daemon.h). Each service reads JSON heads; a head that is not JSON gets the
// service's own error reply, and the daemon and its world carry on.
#include "daemon.h"

#include <qxwire/names.h>

#include "driver_files.h"

namespace qxsim {
namespace {

using nlohmann::json;

// Slots of each service; a client process of the library holds one spooler
// connection per call in progress, so these are far beyond real use.
constexpr size_t kMaxSpoolerConnections = 256;
constexpr size_t kMaxControlConnections = 32;
// One connection is one open port handle.
constexpr size_t kMaxPortConnections = 64;

// A service's reply head as text: texts from the world are 8-bit; what is
// not UTF-8 is replaced rather than fail.
std::string Dump(const json& head) { return head.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

Daemon::Daemon(World world, std::string source, std::string dir)
    : world_(std::move(world), std::move(source), std::move(dir)),
      monitors_(world_),
      spooler_(world_, monitors_),
      ports_(world_),
      control_(world_, monitors_) {}

Daemon::~Daemon() { StopMonitors(); }

void Daemon::WriteDriverFiles() { RefreshDriverFiles(world_); }

void Daemon::StartMonitors() { monitors_.Sync(false); }

void Daemon::StopMonitors() {
  ports_.Stop();
  monitors_.Stop();
}

std::vector<Listener> Daemon::Listeners() {
  auto spooler_error = [](const std::string& message) {
    return Dump({{"error", ERROR_INVALID_PARAMETER}, {"message", message}});
  };
  auto control_error = [](const std::string& message) { return Dump({{"ok", false}, {"error", message}}); };
  Listener spooler{qxwire::kSpoolerSocket, kMaxSpoolerConnections,
                   [this, spooler_error](const qxwire::Message& in, pid_t peer) {
                     const json request = json::parse(in.head, nullptr, false);
                     if (request.is_discarded()) {
                       return qxwire::Message{spooler_error("the request is not valid JSON"), std::nullopt};
                     }
                     Reply reply = spooler_.Handle(request, in.body, peer);
                     return qxwire::Message{Dump(reply.head), std::move(reply.body)};
                   },
                   spooler_error, nullptr, nullptr, qxwire::kIdleLimitMs};
  Listener control{qxwire::kControlSocket, kMaxControlConnections,
                   [this, control_error](const qxwire::Message& in, pid_t) {
                     const json request = json::parse(in.head, nullptr, false);
                     if (request.is_discarded()) {
                       return qxwire::Message{control_error("the request is not valid JSON"), std::nullopt};
                     }
                     Reply reply = control_.Handle(request);
                     return qxwire::Message{Dump(reply.head), std::move(reply.body)};
                   },
                   control_error, nullptr, nullptr, qxwire::kIdleLimitMs};
  // One connection is one port handle, which stays open for as long as its
  // process likes.
  Listener ports{qxwire::kPortsSocket, kMaxPortConnections, nullptr, spooler_error,
                 [this, spooler_error](const qxwire::Message& in, pid_t peer, uint64_t connection) {
                   const json request = json::parse(in.head, nullptr, false);
                   if (request.is_discarded()) {
                     return qxwire::Message{spooler_error("the request is not valid JSON"), std::nullopt};
                   }
                   Reply reply = ports_.Handle(request, in.body, peer, connection);
                   return qxwire::Message{Dump(reply.head), std::move(reply.body)};
                 },
                 [this](uint64_t connection) { ports_.Closed(connection); }, UINT64_MAX};
  return {std::move(spooler), std::move(control), std::move(ports)};
}

}  // namespace qxsim
