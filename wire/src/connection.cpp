// connection.cpp - qxwire, client side: a bounded connection to qxsimd (see
// connection.h).
#include "qxwire/connection.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace qxwire {

Connection::~Connection() { Close(); }

Connection::Connection(Connection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void Connection::Close() {
  if (fd_ < 0) return;
  const int saved_errno = errno;
  close(fd_);
  fd_ = -1;
  errno = saved_errno;
}

bool Connection::Open(const std::string& path, int limit_seconds, bool same_user, std::string* error) {
  Close();
  const int saved_errno = errno;
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    Close();
    errno = saved_errno;
    return false;
  };
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return fail(path + ": path too long for a socket");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  const timeval limit{std::max(limit_seconds, 1), 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return fail("no qxsimd answers at " + path + ": " + std::strerror(errno));
  }
  if (same_user) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
      return fail("the daemon at " + path + " is not this user's");
    }
  }
  errno = saved_errno;
  return true;
}

bool Connection::Exchange(const Message& request, Message& reply, const Limits& limits) {
  if (fd_ < 0) return false;
  const int saved_errno = errno;
  const bool ok = WriteMessage(fd_, request) && ReadMessage(fd_, reply, limits) == ReadResult::kFrame;
  if (!ok) Close();
  errno = saved_errno;
  return ok;
}

}  // namespace qxwire
