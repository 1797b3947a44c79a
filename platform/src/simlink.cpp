// simlink.cpp - POSIX platform layer, internal: requests to the simulated
// world's spooler service (see simlink.h).
#include "simlink.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

namespace qxplat {
namespace {

using nlohmann::json;

constexpr const char* kSpoolerSocket = "spooler.sock";
constexpr size_t kMaxReply = size_t{16} << 20;
// A daemon that accepts and never answers (stopped under a debugger) fails
// the call after this long rather than hanging the caller for good.
constexpr time_t kReplyLimitSeconds = 30;

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Exchange - one frame out, one frame back; false on any failure.
bool Exchange(const std::string& dir, const std::string& request, std::string& reply) {
  const std::string path = dir + "/" + kSpoolerSocket;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path || request.size() > 0xFFFFFFFFu) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  const int saved_errno = errno;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  const timeval limit{kReplyLimitSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const auto size = static_cast<uint32_t>(request.size());
    const char head[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8), static_cast<char>(size)};
    unsigned char back[4];
    if (SendAll(fd, head, 4) && SendAll(fd, request.data(), request.size()) &&
        ReceiveAll(fd, reinterpret_cast<char*>(back), 4)) {
      const size_t n = (size_t{back[0]} << 24) | (size_t{back[1]} << 16) | (size_t{back[2]} << 8) |
                       size_t{back[3]};
      if (n <= kMaxReply) {
        reply.assign(n, '\0');
        ok = n == 0 || ReceiveAll(fd, reply.data(), n);
      }
    }
  }
  close(fd);
  errno = saved_errno;
  return ok;
}

}  // namespace

std::string SimDir() {
  const char* dir = std::getenv("QX_SIM_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp/qxsim-" + std::to_string(getuid());
}

DWORD SimRequest(const std::string& dir, const json& request, json& reply) {
  std::string text;
  try {
    if (!Exchange(dir, request.dump(-1, ' ', false, json::error_handler_t::replace), text)) {
      return RPC_S_SERVER_UNAVAILABLE;
    }
    reply = json::parse(text, nullptr, false);
  } catch (const std::exception&) {  // allocation failure
    return RPC_S_SERVER_UNAVAILABLE;
  }
  if (!reply.is_object()) return RPC_S_SERVER_UNAVAILABLE;
  auto error = reply.find("error");
  if (error == reply.end() || !error->is_number_unsigned()) return RPC_S_SERVER_UNAVAILABLE;
  return static_cast<DWORD>(error->get<uint64_t>());
}

bool SimSystemInfo(SimSystem& out) {
  json reply;
  if (SimRequest(SimDir(), {{"op", "system"}}, reply) != 0) return false;
  const json& os = reply["os"];
  auto number = [](const json& j, const char* key) -> DWORD {
    auto it = j.find(key);
    return it != j.end() && it->is_number_unsigned() ? static_cast<DWORD>(it->get<uint64_t>()) : 0;
  };
  if (!os.is_object()) return false;
  out.major = number(os, "major");
  out.minor = number(os, "minor");
  out.build = number(os, "build");
  out.platform_id = number(os, "platform_id");
  auto csd = os.find("csd");
  out.csd = csd != os.end() && csd->is_string() ? csd->get<std::string>() : "";
  out.code_page = number(reply, "code_page");
  return true;
}

bool DecodeHex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bytes.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]);
    const int lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

}  // namespace qxplat
