// simlink.cpp - POSIX platform layer, internal: requests to the simulated
// world's spooler service (see simlink.h).
//
// Trust. Before every request the runtime folder must pass the check the
// named pipes make too (runtime_folder.h: a folder, not a link, of this
// user's own, with no access for group or others), and the daemon that
// answers must run as this user (the socket's peer credentials). Otherwise
// the call fails as when no spooler answers (RPC_S_SERVER_UNAVAILABLE), and
// the first refusal of a folder for a given reason writes one line to
// standard error:
//
//   qxplatform: runtime folder /tmp/qxsim-1000 refused: open to other users
//   (mode 0755); spooler calls fail until it is a folder of this user's own
//   with mode 0700
//
// (one line), so that a user whose folder someone else made, or made too
// open, learns why no world answers. Debug output is not used: it is the
// library's, and is often not captured.
#include "simlink.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <nlohmann/json.hpp>

#include "runtime_folder.h"

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
  ucred peer{};
  socklen_t peer_size = sizeof peer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peer_size) == 0 && peer.uid == geteuid()) {
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

// ReportRefusedFolder - one line on standard error the first time this
// process refuses dir for this reason (see the file comment).
void ReportRefusedFolder(const std::string& dir, const std::string& reason) {
  static std::mutex lock;
  static std::set<std::string> reported;
  constexpr size_t kMaxRemembered = 64;  // a process that tries many folders stays bounded
  {
    std::lock_guard<std::mutex> guard(lock);
    if (reported.size() >= kMaxRemembered || !reported.insert(dir + '\n' + reason).second) return;
  }
  const std::string line = "qxplatform: runtime folder " + dir + " refused: " + reason +
                           "; spooler calls fail until it is a folder of this user's own with mode 0700\n";
  const int saved_errno = errno;
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line.data(), line.size());
  errno = saved_errno;
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
    std::string reason;
    if (const DWORD folder = CheckRuntimeFolder(dir, false, &reason); folder != 0) {
      if (folder == ERROR_ACCESS_DENIED) ReportRefusedFolder(dir, reason);
      return RPC_S_SERVER_UNAVAILABLE;
    }
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
