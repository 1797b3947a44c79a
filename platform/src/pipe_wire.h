// pipe_wire.h - POSIX platform layer, internal: where a named pipe's socket
// lives in the world's runtime folder, and the handshake a client and the
// listener of the pipe's server exchange before records flow (records.h).
// Used by the pipe area (pipes.cpp, pipe_listener.cpp).
//
// Where. A server puts its socket in the "pipes" subfolder of the runtime
// folder (SimDir(), without trailing slashes):
//
//   pipes/<stem>.sock   the server's listening socket
//   pipes/<stem>.lock   held with flock(LOCK_EX) while a process serves it
//
// <stem> is the pipe name after "\\.\pipe\", ASCII letters folded to lower
// case (names are case-insensitive), each byte other than a-z, 0-9, '-' and
// '_' written as '%' and two lower-case hex digits ("QXNamedPipeLPT1:" gives
// "qxnamedpipelpt1%3a"). When the socket path would not fit a socket address
// (107 bytes), <stem> is '~' and the 16 hex digits of the 64-bit FNV-1a hash
// of the folded name; the handshake carries the full name, so a hash
// collision is refused rather than confused. Names are at most 256
// characters, "\\.\pipe\" included.
//
// Handshake. A client connects, sends a hello and reads an 8-byte answer:
//
//   hello:  "QXP1", op (1 open, 2 wait), access (bit 0 read, bit 1 write),
//           name length (16 bits, little-endian), the folded name
//   answer: status, pipe type (0 byte, 1 message), 0, 0,
//           the server's default time-out in ms (32 bits, little-endian)
//   status: 1 opened, 2 busy, 3 an instance listens, 4 none listens yet,
//           5 no such pipe, 6 access denied
//
// After "opened" the socket carries records. A wait stays connected after
// status 4 and receives status 3 once an instance listens; the client gives
// up by closing.
#ifndef QX_PLATFORM_PIPE_WIRE_H
#define QX_PLATFORM_PIPE_WIRE_H

#include <windows.h>

#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream.h"

namespace qxplat {

inline constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";
inline constexpr size_t kMaxPipeName = 256;
inline constexpr DWORD kSystemDefaultTimeOut = 50;  // used when nDefaultTimeOut is 0

inline constexpr uint8_t kOpOpen = 1;
inline constexpr uint8_t kOpWait = 2;
inline constexpr uint8_t kAccessRead = 1;
inline constexpr uint8_t kAccessWrite = 2;

inline constexpr uint8_t kAnswerOpened = 1;
inline constexpr uint8_t kAnswerBusy = 2;
inline constexpr uint8_t kAnswerReady = 3;
inline constexpr uint8_t kAnswerWaiting = 4;
inline constexpr uint8_t kAnswerNoPipe = 5;
inline constexpr uint8_t kAnswerDenied = 6;

// How long a client waits for a server's answer to its hello. Not a Win32
// time-out: a guard against a server process that is stopped.
inline constexpr auto kAnswerGuard = std::chrono::seconds(10);

struct PipeAddress {
  std::string key;          // the name after the prefix, folded
  std::string runtime_dir;  // the world's runtime folder
  std::string pipes_dir;    // runtime_dir + "/pipes"
  std::string socket_path;
  std::string lock_path;
};

// ResolvePipe - where the pipe named name lives in the current world.
//   name (in): not null.
// Returns 0, ERROR_FILENAME_EXCED_RANGE (name over 256 characters),
// ERROR_INVALID_NAME (no "\\.\pipe\" prefix or nothing after it) or
// ERROR_BAD_PATHNAME (a runtime folder so long that no socket fits in it).
DWORD ResolvePipe(const char* name, PipeAddress* out);

// FillSocketAddress - false when path does not fit a socket address.
bool FillSocketAddress(const std::string& path, sockaddr_un* address);

// ---- The listener's half -----------------------------------------------------

struct Hello {
  uint8_t op = 0;
  uint8_t access = 0;  // kAccessRead | kAccessWrite
  std::string_view key;
};

enum class HelloState { kIncomplete, kComplete, kBad };

// ReadHello - take in what has arrived of a hello on fd, without waiting,
// and check it as far as it goes. kBad also when the client left.
//   bytes (in/out): what arrived before; grows by what arrived now.
//   hello (out): on kComplete, the hello (its key points into bytes).
HelloState ReadHello(int fd, std::string* bytes, Hello* hello);

// SendAnswer - the 8-byte answer, without waiting; false when it did not go.
bool SendAnswer(int fd, uint8_t status, DWORD pipe_type, DWORD default_timeout);

// ---- The client's half -------------------------------------------------------

struct Answer {
  uint8_t status = 0;
  DWORD type = PIPE_TYPE_BYTE;
  DWORD default_timeout = kSystemDefaultTimeOut;
};

// ReadAnswer - one answer; waits until deadline at most.
// Returns 0, ERROR_FILE_NOT_FOUND (the server went or answered nonsense) or
// ERROR_PIPE_BUSY (no answer in time).
DWORD ReadAnswer(int fd, SteadyTime deadline, Answer* out);

// Ask - connect to the server of a pipe, send a hello and read the answer.
// Returns 0 with *fd connected and *answer filled, or the Win32 error:
// ERROR_FILE_NOT_FOUND (no server), ERROR_PIPE_BUSY (its backlog is full,
// or it does not answer), ERROR_ACCESS_DENIED (an unusable runtime folder),
// ERROR_BAD_PATHNAME, ERROR_TOO_MANY_OPEN_FILES.
DWORD Ask(const PipeAddress& address, uint8_t op, uint8_t access, Fd* fd, Answer* answer);

}  // namespace qxplat

#endif  // QX_PLATFORM_PIPE_WIRE_H
