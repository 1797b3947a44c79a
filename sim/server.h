// server.h - qxsimd, daemon side: the two Unix-domain sockets in the runtime
// folder (spooler service and control API) and the threads that serve their
// connections, one thread per connection, many requests per connection.
//
// Each service has slots of its own (kMaxSpoolerConnections,
// kMaxControlConnections): a connection beyond them is closed at once, and
// connections to one service never take the other's slots, so a flood of
// spooler clients cannot lock out the control API. A connection that sends
// no whole request, or takes no reply, within kIdleLimitMs (wire.h) on the
// scaled clock is closed, which frees its slot.
#pragma once

#include <signal.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "daemon.h"

namespace qxsim {

class Server {
 public:
  Server(Daemon& daemon, std::string dir);
  ~Server();  // Shutdown()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listen - bind and listen on both sockets, replacing stale ones. False
  // with a message when either cannot be made.
  bool Listen(std::string& error);

  // Run - accept and serve until wake_fd becomes readable (a signal or a stop
  // request writes to it). With wait_mask, the signal mask in force while
  // waiting, so that signals blocked otherwise arrive only during the wait.
  void Run(int wake_fd, const sigset_t* wait_mask = nullptr);

  // Shutdown - close the listeners, end every connection, join the threads
  // and remove the sockets. Idempotent.
  void Shutdown();

 private:
  enum class Kind { kSpooler, kControl };
  struct Connection {
    int fd = -1;
    Kind kind = Kind::kSpooler;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Accept(int listen_fd, Kind kind);
  void Serve(Connection& connection, pid_t peer);
  // WaitFor - until fd is ready for events (POLLIN, POLLOUT), the virtual
  // deadline passes, or the server shuts down; false for the last two.
  bool WaitFor(int fd, short events, uint64_t deadline_ms) const;
  void ReapLocked(bool all);

  Daemon& daemon_;
  const std::string dir_;
  int spooler_fd_ = -1;
  int control_fd_ = -1;
  int stopping_fd_ = -1;  // an eventfd, readable once Shutdown has begun
  std::mutex lock_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace qxsim
