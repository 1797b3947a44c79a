// names.h - qxwire, both sides: where a world lives. The runtime folder and
// the names of what qxsimd keeps in it. Only names and paths: whether the
// folder may be trusted is the platform layer's check (runtime_folder.h) and
// qxsimd's own.
#pragma once

#include <cstdint>
#include <string>

namespace qxwire {

constexpr const char* kSpoolerSocket = "spooler.sock";  // the spooler service
constexpr const char* kControlSocket = "control.sock";  // the control API
constexpr const char* kPidFile = "qxsimd.pid";          // held locked while qxsimd runs
constexpr const char* kReadyFile = "qxsimd.ready";      // written once both sockets listen
constexpr const char* kPipesFolder = "pipes";           // the named pipes' sockets

// How long (virtual ms, on the scaled clock) qxsimd waits for a connection:
// a request must arrive whole within this of the connection's opening or of
// the previous reply, and a reply must be taken within it; otherwise the
// connection is closed. Clients send each request at once and read its reply
// at once, so only a stalled or hostile client meets it (at the test suites'
// QX_TIME_SCALE of 1000 it is 3.6 real seconds).
constexpr uint64_t kIdleLimitMs = 60 * 60 * 1000;

// DefaultDir - the runtime folder: $QX_SIM_DIR, else /tmp/qxsim-<uid>.
// Read on every call, never cached, so that a process may switch worlds.
std::string DefaultDir();

// PathIn - name inside the folder dir ("dir/name").
std::string PathIn(const std::string& dir, const char* name);

}  // namespace qxwire
