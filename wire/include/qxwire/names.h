// names.h - qxwire, both sides: where a world lives. The runtime folder and
// the names of what qxsimd keeps in it. Only names and paths: whether the
// folder may be trusted is the platform layer's check (runtime_folder.h) and
// qxsimd's own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qxwire {

constexpr const char* kSpoolerSocket = "spooler.sock";  // the spooler service
constexpr const char* kControlSocket = "control.sock";  // the control API
constexpr const char* kPortsSocket = "ports.sock";      // direct opens of ports and devices
constexpr const char* kPidFile = "qxsimd.pid";          // held locked while qxsimd runs
constexpr const char* kReadyFile = "qxsimd.ready";      // written once both sockets listen
constexpr const char* kPipesFolder = "pipes";           // the named pipes' sockets
// The world's files (the drivers' files qxsimd writes): one folder per drive
// letter, in small letters, under this one ("drives/c/Windows/System32/...").
constexpr const char* kDrivesFolder = "drives";

// How long (virtual ms, on the scaled clock) qxsimd waits for a connection:
// a request must arrive whole within this of the connection's opening or of
// the previous reply, and a reply must be taken within it; otherwise the
// connection is closed. Clients send each request at once and read its reply
// at once, so only a stalled or hostile client meets it (at the test suites'
// QX_TIME_SCALE of 1000 it is 3.6 real seconds).
constexpr uint64_t kIdleLimitMs = 60 * 60 * 1000;

// The longest one read or write on a port waits (virtual ms), whatever its
// comm time-outs say: all-zero time-outs, which on Windows wait for good,
// wait this long.
constexpr uint64_t kMaxPortWaitMs = 60 * 1000;

// DefaultDir - the runtime folder: $QX_SIM_DIR, else /tmp/qxsim-<uid>.
// Read on every call, never cached, so that a process may switch worlds.
std::string DefaultDir();

// PathIn - name inside the folder dir ("dir/name").
std::string PathIn(const std::string& dir, const char* name);

// DrivePathParts - the folders and file name under kDrivesFolder that a
// Windows drive path names: "C:\\A\\.\\b\\..\\F.DLL" gives {"c", "A", "F.DLL"}.
// Backslash and slash both separate; "." and empty parts are dropped, ".."
// takes back the part before it (never the drive). False, with parts
// empty, for a path that is not "X:" followed by a separator, or that names
// no file (nothing after the drive).
bool DrivePathParts(std::string_view path, std::vector<std::string>& parts);

}  // namespace qxwire
