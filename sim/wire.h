// wire.h - qxsimd, both sides: the framing of every request and reply on the
// daemon's sockets. A frame is a 32-bit big-endian byte count followed by that
// many bytes of JSON text (UTF-8). Requests are at most kMaxRequest bytes;
// replies may be larger (a world with many printers), up to kMaxReply.
// The platform layer's spooler client speaks the same framing on its own
// (platform/src/simlink.cpp), since the layer does not link the daemon's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qxsim {

inline constexpr size_t kMaxRequest = size_t{1} << 20;
inline constexpr size_t kMaxReply = size_t{16} << 20;

inline constexpr const char* kSpoolerSocket = "spooler.sock";
inline constexpr const char* kControlSocket = "control.sock";
inline constexpr const char* kPidFile = "qxsimd.pid";
inline constexpr const char* kReadyFile = "qxsimd.ready";

// How long (virtual ms, on the scaled clock) the daemon waits for a
// connection: a request must arrive whole within this of the connection's
// opening or of the previous reply, and a reply must be taken within it;
// otherwise the connection is closed. Clients send each request at once and
// read its reply at once, so only a stalled or hostile client meets it (at
// the test suites' QX_TIME_SCALE of 1000 it is 3.6 real seconds).
inline constexpr uint64_t kIdleLimitMs = 60 * 60 * 1000;

enum class ReadResult { kFrame, kClosed, kTooLarge, kBroken, kGaveUp };

// Wait - called when fd has nothing to read (events POLLIN) or no room to
// write (POLLOUT); returns when it may have, or false to give up.
using Wait = std::function<bool(int fd, short events)>;

// ReadFrame - read one frame from fd into text.
//   max (in): the largest frame accepted; a larger announced count is not
//   read (kTooLarge), so the connection must be closed.
//   wait (in): empty to block in the reads; else reads do not block and
//   wait is asked when there is nothing to read.
// kClosed when the peer closed before a frame began; kBroken when it closed
// or failed inside one; kGaveUp when wait gave up, before or inside one.
ReadResult ReadFrame(int fd, std::string& text, size_t max, const Wait& wait = {});

// WriteFrame - write one frame; false when the peer is gone, the text is
// larger than a frame can announce, or wait (as for ReadFrame) gave up.
bool WriteFrame(int fd, std::string_view text, const Wait& wait = {});

// DefaultDir - the runtime folder: $QX_SIM_DIR, else /tmp/qxsim-<uid>.
std::string DefaultDir();

}  // namespace qxsim
