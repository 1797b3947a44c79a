// wire.h - qxsimd, both sides: the framing of every request and reply on the
// daemon's sockets. A frame is a 32-bit big-endian byte count followed by that
// many bytes of JSON text (UTF-8). Requests are at most kMaxRequest bytes;
// replies may be larger (a world with many printers), up to kMaxReply.
// The platform layer's spooler client speaks the same framing on its own
// (platform/src/simlink.cpp), since the layer does not link the daemon's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qxsim {

inline constexpr size_t kMaxRequest = size_t{1} << 20;
inline constexpr size_t kMaxReply = size_t{16} << 20;

inline constexpr const char* kSpoolerSocket = "spooler.sock";
inline constexpr const char* kControlSocket = "control.sock";
inline constexpr const char* kPidFile = "qxsimd.pid";
inline constexpr const char* kReadyFile = "qxsimd.ready";

enum class ReadResult { kFrame, kClosed, kTooLarge, kBroken };

// ReadFrame - read one frame from fd into text.
//   max (in): the largest frame accepted; a larger announced count is not
//   read (kTooLarge), so the connection must be closed.
// kClosed when the peer closed before a frame began; kBroken when it closed
// or failed inside one.
ReadResult ReadFrame(int fd, std::string& text, size_t max);

// WriteFrame - write one frame; false when the peer is gone or the text is
// larger than a frame can announce.
bool WriteFrame(int fd, std::string_view text);

// DefaultDir - the runtime folder: $QX_SIM_DIR, else /tmp/qxsim-<uid>.
std::string DefaultDir();

}  // namespace qxsim
