// simlink.h - POSIX platform layer, internal: the link to the simulated
// world's daemon (qxsimd), used by the spooler and common-dialog areas and by
// GetVersionExA and GetACP.
//
// Each request opens its own connection to the spooler service socket of the
// runtime folder, so that a process may switch worlds (tests do) and forked
// processes share nothing. The framing, the folder's names and the codecs are
// the wire library's (wire/include/qxwire), which the daemon links too.
#ifndef QX_PLATFORM_SIMLINK_H
#define QX_PLATFORM_SIMLINK_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace qxplat {

// SimDir - the world's runtime folder: $QX_SIM_DIR, else /tmp/qxsim-<uid>.
// Read on every call, never cached.
std::string SimDir();

// SimRequest - one request to the spooler service of the world in dir.
//   reply (out): the daemon's reply object when the result is 0.
// Returns 0, the Win32 error the daemon reported, or RPC_S_SERVER_UNAVAILABLE
// when no daemon answers there, its answer is not a reply, or dir fails the
// runtime-folder check (runtime_folder.h; a line on standard error says so)
// or the daemon is not this user's. Leaves the thread's last error alone.
DWORD SimRequest(const std::string& dir, const nlohmann::json& request, nlohmann::json& reply);
// The same with bytes that travel as the request's binary body (a
// document's bytes for "write").
DWORD SimRequest(const std::string& dir, const nlohmann::json& request, std::string_view body,
                 nlohmann::json& reply);

// The world's system record (OS version and ANSI code page).
struct SimSystem {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  DWORD platform_id = 0;
  std::string csd;
  UINT code_page = 0;
};

// SimSystemInfo - the system record of the world in SimDir(); false when no
// world is reachable.
bool SimSystemInfo(SimSystem& out);

// DecodeHex - the bytes of a text of hex digit pairs, as the spooler service
// sends device modes; false for an odd length or a non-digit (the wire
// library's codec).
bool DecodeHex(const std::string& text, std::vector<uint8_t>& bytes);

}  // namespace qxplat

#endif  // QX_PLATFORM_SIMLINK_H
