// server.cpp - qxsimd, daemon side: socket listeners and connection threads
// (see server.h).
//
// A connection that sends something that is not a frame of JSON gets an
// error reply and, when the framing itself is lost (an announced size beyond
// the limit, a frame cut short), is closed; the daemon and its world carry on.
#include "server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wire.h"

namespace qxsim {
namespace {

constexpr size_t kMaxConnections = 256;

int ListenAt(const std::string& path, std::string& error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    error = path + ": the path is too long for a socket";
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  unlink(path.c_str());  // a stale socket of a daemon that did not stop cleanly
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
    error = path + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

Server::Server(Daemon& daemon, std::string dir) : daemon_(daemon), dir_(std::move(dir)) {}

Server::~Server() { Shutdown(); }

bool Server::Listen(std::string& error) {
  spooler_fd_ = ListenAt(dir_ + "/" + kSpoolerSocket, error);
  if (spooler_fd_ < 0) return false;
  control_fd_ = ListenAt(dir_ + "/" + kControlSocket, error);
  return control_fd_ >= 0;
}

void Server::Run(int wake_fd, const sigset_t* wait_mask) {
  while (!daemon_.stop_requested()) {
    pollfd fds[3] = {{wake_fd, POLLIN, 0}, {spooler_fd_, POLLIN, 0}, {control_fd_, POLLIN, 0}};
    const int n = ppoll(fds, 3, nullptr, wait_mask);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) Accept(spooler_fd_, Kind::kSpooler);
    if (fds[2].revents & POLLIN) Accept(control_fd_, Kind::kControl);
  }
}

void Server::Accept(int listen_fd, Kind kind) {
  const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) cred.pid = 0;
  // A client that stops reading cannot hold a connection thread for ever.
  const timeval send_limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);

  std::lock_guard<std::mutex> guard(lock_);
  ReapLocked(false);
  if (connections_.size() >= kMaxConnections) {
    close(fd);  // the client sees its call fail, as with a spooler out of resources
    return;
  }
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  Connection& c = *connection;
  connections_.push_back(std::move(connection));
  c.thread = std::thread([this, &c, kind, pid = cred.pid] { Serve(c, kind, pid); });
}

void Server::Serve(Connection& connection, Kind kind, pid_t peer) {
  const int fd = connection.fd;
  auto error_reply = [kind](const std::string& message) {
    nlohmann::json reply = kind == Kind::kSpooler
                               ? nlohmann::json{{"error", ERROR_INVALID_PARAMETER}, {"message", message}}
                               : nlohmann::json{{"ok", false}, {"error", message}};
    return reply.dump();
  };
  std::string text;
  for (;;) {
    const ReadResult got = ReadFrame(fd, text, kMaxRequest);
    if (got == ReadResult::kTooLarge) {
      WriteFrame(fd, error_reply("request larger than " + std::to_string(kMaxRequest) + " bytes"));
      break;
    }
    if (got != ReadResult::kFrame) break;
    const nlohmann::json request = nlohmann::json::parse(text, nullptr, false);
    std::string reply;
    if (request.is_discarded()) {
      reply = error_reply("the request is not valid JSON");
    } else {
      const nlohmann::json answer =
          kind == Kind::kSpooler ? daemon_.Spooler(request, peer) : daemon_.Control(request);
      // Texts from the world are 8-bit; replace what is not UTF-8 rather than fail.
      reply = answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    if (!WriteFrame(fd, reply)) break;
  }
  // The client sees the end at once; the descriptor itself is closed when
  // the thread is reaped.
  shutdown(fd, SHUT_RDWR);
  connection.done = true;
}

void Server::ReapLocked(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    Connection& c = **it;
    // Only the reading side: a reply being written (the answer to "stop")
    // still reaches its client; the thread then sees the end of its input.
    if (all) shutdown(c.fd, SHUT_RD);
    if (all || c.done) {
      if (c.thread.joinable()) c.thread.join();
      close(c.fd);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Shutdown() {
  for (int* fd : {&spooler_fd_, &control_fd_}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    ReapLocked(true);
  }
  unlink((dir_ + "/" + kSpoolerSocket).c_str());
  unlink((dir_ + "/" + kControlSocket).c_str());
}

}  // namespace qxsim
