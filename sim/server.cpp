// server.cpp - qxsimd, daemon side: socket listeners and connection threads
// (see server.h).
//
// A connection whose framing is lost (an announced size beyond the limit, a
// message cut short) gets its listener's error reply and is closed; the
// daemon and its world carry on. What a message says is its listener's
// business.
//
// Connection sockets are read and written without blocking; a thread that
// must wait polls its socket together with the server's stopping eventfd,
// with a real time-out worked out from the virtual deadline on the scaled
// clock (the daemon's clock never changes scale while it runs).
#include "server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <qxplatform.h>
#include <qxwire/names.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <system_error>


namespace qxsim {
namespace {

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

Server::Server(std::string dir, std::vector<Listener> listeners)
    : dir_(std::move(dir)),
      listeners_(std::move(listeners)),
      listen_fds_(listeners_.size(), -1),
      stopping_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Server::~Server() {
  Shutdown();
  if (stopping_fd_ >= 0) close(stopping_fd_);
}

bool Server::Listen(std::string& error) {
  if (stopping_fd_ < 0) {
    error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  for (size_t i = 0; i < listeners_.size(); ++i) {
    listen_fds_[i] = ListenAt(qxwire::PathIn(dir_, listeners_[i].socket.c_str()), error);
    if (listen_fds_[i] < 0) return false;
  }
  return true;
}

void Server::Run(int wake_fd, const sigset_t* wait_mask, const std::function<bool()>& stopping) {
  std::vector<pollfd> fds(listeners_.size() + 1);
  while (!stopping()) {
    fds[0] = {wake_fd, POLLIN, 0};
    for (size_t i = 0; i < listeners_.size(); ++i) fds[i + 1] = {listen_fds_[i], POLLIN, 0};
    const int n = ppoll(fds.data(), fds.size(), nullptr, wait_mask);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[i + 1].revents & POLLIN) Accept(i);
    }
  }
}

void Server::Accept(size_t listener) {
  const int fd = accept4(listen_fds_[listener], nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // The kernel's word for the client's process: spooler handles belong to it.
  // A peer it cannot name would share handles with every other such peer.
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.pid <= 0) {
    close(fd);
    return;
  }

  std::lock_guard<std::mutex> guard(lock_);
  ReapLocked(false);
  const auto taken = static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                       [listener](const auto& c) { return c->listener == listener; }));
  if (taken >= listeners_[listener].slots) {
    close(fd);  // the client sees its call fail, as with a spooler out of resources
    return;
  }
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  connection->listener = listener;
  connection->id = next_connection_++;
  Connection& c = *connection;
  connections_.push_back(std::move(connection));
  try {
    c.thread = std::thread([this, &c, pid = cred.pid] { Serve(c, pid); });
  } catch (const std::system_error&) {  // no thread to be had: this client only is turned away
    close(fd);
    connections_.pop_back();
  }
}

bool Server::WaitFor(int fd, short events, uint64_t deadline_ms) const {
  const double scale = qxplat_clock_scale();
  for (;;) {
    const uint64_t now = qxplat_clock_now_ms();
    if (now >= deadline_ms) return false;
    // Real milliseconds until the virtual deadline, rounded up so that the
    // wait never ends before it.
    const double real_ms = std::ceil(static_cast<double>(deadline_ms - now) / scale);
    const int timeout = static_cast<int>(std::clamp(real_ms, 1.0, static_cast<double>(INT_MAX)));
    pollfd fds[2] = {{fd, events, 0}, {stopping_fd_, POLLIN, 0}};
    const int n = poll(fds, 2, timeout);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0 && fds[1].revents != 0) return false;
    if (n > 0 && fds[0].revents != 0) return true;  // ready, or an error the next call reports
  }
}

void Server::Serve(Connection& connection, pid_t peer) {
  const int fd = connection.fd;
  const Listener& listener = listeners_[connection.listener];
  // Each request, and each reply, within kIdleLimitMs of the previous step.
  uint64_t deadline = 0;
  const qxwire::Wait wait = [this, &deadline](int socket, short events) { return WaitFor(socket, events, deadline); };
  try {
    qxwire::Message message;
    for (;;) {
      const uint64_t now = qxplat_clock_now_ms();
      deadline = listener.idle_limit_ms > UINT64_MAX - now ? UINT64_MAX : now + listener.idle_limit_ms;
      const qxwire::ReadResult got =
          qxwire::ReadMessage(fd, message, qxwire::Limits{qxwire::kMaxRequest, qxwire::kMaxBody}, wait);
      if (got == qxwire::ReadResult::kTooLarge) {
        deadline = qxplat_clock_now_ms() + qxwire::kIdleLimitMs;
        const std::string limit = "request larger than " + std::to_string(qxwire::kMaxRequest) + " bytes";
        qxwire::WriteFrame(fd, listener.error_reply(limit), wait);
        break;
      }
      if (got != qxwire::ReadResult::kFrame) break;
      const qxwire::Message reply =
          listener.handle_on ? listener.handle_on(message, peer, connection.id) : listener.handle(message, peer);
      deadline = qxplat_clock_now_ms() + qxwire::kIdleLimitMs;
      if (!qxwire::WriteMessage(fd, reply, wait)) break;
    }
  } catch (const std::exception&) {
    // Out of memory for one request: only this connection ends.
  }
  if (listener.closed) listener.closed(connection.id);
  // Marked done first, so that a slot is free by the time the client sees
  // the end; the reaper joins the thread before it closes the descriptor.
  connection.done = true;
  shutdown(fd, SHUT_RDWR);
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
  // Threads waiting for their clients stop waiting; replies already taken by
  // the socket (the answer to "stop") still reach their clients.
  if (stopping_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stopping_fd_, &one, sizeof one);
  }
  for (int& fd : listen_fds_) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    ReapLocked(true);
  }
  for (const Listener& listener : listeners_) unlink(qxwire::PathIn(dir_, listener.socket.c_str()).c_str());
}

}  // namespace qxsim
