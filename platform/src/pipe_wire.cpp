// pipe_wire.cpp - POSIX platform layer, internal: named-pipe addresses and
// the handshake between a client and a pipe's listener (see pipe_wire.h).
#include "pipe_wire.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <qxwire/hex.h>
#include <qxwire/names.h>

#include "pipes.h"
#include "records.h"
#include "runtime_folder.h"
#include "simlink.h"

namespace qxplat {
namespace {

constexpr char kHelloMagic[4] = {'Q', 'X', 'P', '1'};
constexpr size_t kHelloFixed = 8;
constexpr size_t kAnswerSize = 8;

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The runtime folder without trailing slashes, which would only lengthen
// socket paths.
std::string RuntimeDir() {
  std::string path = SimDir();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string EscapedStem(std::string_view key) {
  std::string stem;
  for (const char ch : key) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      stem += ch;
    } else {
      stem += '%' + qxwire::ToHex(&ch, 1);
    }
  }
  return stem;
}

std::string HashedStem(std::string_view key) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const char ch : key) {
    h ^= static_cast<unsigned char>(ch);
    h *= 0x100000001b3ull;
  }
  char text[18];
  std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace

bool IsPipePath(std::string_view path) {
  if (path.size() < kPipePrefix.size()) return false;
  for (size_t i = 0; i < kPipePrefix.size(); ++i) {
    if (FoldAscii(path[i]) != kPipePrefix[i]) return false;
  }
  return true;
}

DWORD ResolvePipe(const char* name, PipeAddress* out) {
  const std::string_view text(name);
  if (text.size() > kMaxPipeName) return ERROR_FILENAME_EXCED_RANGE;
  if (!IsPipePath(text) || text.size() == kPipePrefix.size()) return ERROR_INVALID_NAME;
  out->key.clear();
  for (const char c : text.substr(kPipePrefix.size())) out->key += FoldAscii(c);
  out->runtime_dir = RuntimeDir();
  out->pipes_dir = qxwire::PathIn(out->runtime_dir, qxwire::kPipesFolder);
  // The path and its terminating zero must fit sun_path.
  constexpr size_t kRoom = sizeof(sockaddr_un::sun_path);
  auto fits = [&](const std::string& stem) {
    return out->pipes_dir.size() + 1 + stem.size() + 5 < kRoom;
  };
  std::string stem = EscapedStem(out->key);
  if (!fits(stem)) stem = HashedStem(out->key);
  if (!fits(stem)) return ERROR_BAD_PATHNAME;
  out->socket_path = out->pipes_dir + "/" + stem + ".sock";
  out->lock_path = out->pipes_dir + "/" + stem + ".lock";
  return 0;
}

bool FillSocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// ---- The listener's half -----------------------------------------------------

HelloState ReadHello(int fd, std::string* bytes, Hello* hello) {
  for (;;) {
    size_t need = kHelloFixed;
    if (bytes->size() >= kHelloFixed) {
      if (std::memcmp(bytes->data(), kHelloMagic, sizeof kHelloMagic) != 0) return HelloState::kBad;
      const auto op = static_cast<uint8_t>((*bytes)[4]);
      const size_t name_length = LoadLe16(&(*bytes)[6]);
      if ((op != kOpOpen && op != kOpWait) || name_length == 0 || name_length > kMaxPipeName) {
        return HelloState::kBad;
      }
      need += name_length;
      if (bytes->size() == need) {
        hello->op = op;
        hello->access = static_cast<uint8_t>((*bytes)[5]);
        hello->key = std::string_view(*bytes).substr(kHelloFixed);
        return HelloState::kComplete;
      }
    }
    char buffer[kHelloFixed + kMaxPipeName];
    const ssize_t n = recv(fd, buffer, need - bytes->size(), MSG_DONTWAIT);
    if (n > 0) {
      bytes->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return HelloState::kIncomplete;
    return HelloState::kBad;  // the client left
  }
}

bool SendAnswer(int fd, uint8_t status, DWORD pipe_type, DWORD default_timeout) {
  std::string answer;
  answer.push_back(static_cast<char>(status));
  answer.push_back(pipe_type == PIPE_TYPE_MESSAGE ? 1 : 0);
  answer.append(2, '\0');
  AppendLe32(&answer, default_timeout);
  return send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(answer.size());
}

// ---- The client's half -------------------------------------------------------

DWORD ReadAnswer(int fd, SteadyTime deadline, Answer* out) {
  char buffer[kAnswerSize];
  size_t have = 0;
  while (have < kAnswerSize) {
    const ssize_t n = recv(fd, buffer + have, kAnswerSize - have, MSG_DONTWAIT);
    if (n > 0) {
      have += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ERROR_FILE_NOT_FOUND;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ERROR_FILE_NOT_FOUND;
    const int ms = PollTimeoutMs(deadline);
    if (ms == 0) return ERROR_PIPE_BUSY;
    pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, ms);
  }
  const auto status = static_cast<uint8_t>(buffer[0]);
  if (status < kAnswerOpened || status > kAnswerDenied || static_cast<uint8_t>(buffer[1]) > 1) {
    return ERROR_FILE_NOT_FOUND;
  }
  out->status = status;
  out->type = buffer[1] != 0 ? PIPE_TYPE_MESSAGE : PIPE_TYPE_BYTE;
  out->default_timeout = LoadLe32(buffer + 4);
  return 0;
}

DWORD Ask(const PipeAddress& address, uint8_t op, uint8_t access, Fd* fd, Answer* answer) {
  if (DWORD e = CheckRuntimeFolder(address.runtime_dir, false)) return e;
  if (DWORD e = CheckRuntimeFolder(address.pipes_dir, false)) return e;
  sockaddr_un sa;
  if (!FillSocketAddress(address.socket_path, &sa)) return ERROR_BAD_PATHNAME;
  Fd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!sock) return ERROR_TOO_MANY_OPEN_FILES;
  while (connect(sock.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    switch (errno) {
      case EINTR:
        continue;
      case EAGAIN:
        return ERROR_PIPE_BUSY;  // the listener's backlog is full
      case EACCES:
      case EPERM:
        return ERROR_ACCESS_DENIED;
      default:
        return ERROR_FILE_NOT_FOUND;  // ENOENT, or ECONNREFUSED for a stale socket
    }
  }
  std::string hello(kHelloMagic, sizeof kHelloMagic);
  hello.push_back(static_cast<char>(op));
  hello.push_back(static_cast<char>(access));
  hello.push_back(static_cast<char>(address.key.size() & 0xFF));
  hello.push_back(static_cast<char>(address.key.size() >> 8));
  hello += address.key;
  if (send(sock.get(), hello.data(), hello.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(hello.size())) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (DWORD e = ReadAnswer(sock.get(), std::chrono::steady_clock::now() + kAnswerGuard, answer)) {
    return e;
  }
  *fd = std::move(sock);
  return 0;
}

}  // namespace qxplat
