// server.h - qxsimd, daemon side: the Unix-domain sockets in the runtime
// folder and the threads that serve their connections, one thread per
// connection, many messages (qxwire/frame.h) per connection. What a socket
// serves is a Listener: its name, its connection slots and the handler of
// its messages; the daemon gives two (the spooler service and the control
// API), and a third kind (the ports) adds a listener without touching them.
//
// Each listener has slots of its own: a connection beyond them is closed at
// once, and connections to one listener never take another's slots, so a
// flood of spooler clients cannot lock out the control API. A connection
// that sends no whole message, or takes no reply, within kIdleLimitMs
// (qxwire/names.h) on the scaled clock is closed, which frees its slot.
#pragma once

#include <signal.h>

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <qxwire/frame.h>
#include <qxwire/names.h>

namespace qxsim {

struct Listener {
  std::string socket;  // its name in the runtime folder
  size_t slots = 0;    // connections at most
  // Handle - the reply to one message from process peer.
  std::function<qxwire::Message(const qxwire::Message& request, pid_t peer)> handle;
  // ErrorReply - the head of the reply to a message that was not read (too
  // large), saying message; the connection is closed after it.
  std::function<std::string(const std::string& message)> error_reply;
  // Listeners whose connections carry state (ports.sock: one connection is
  // one port handle) also get the connection's number with each message,
  // and hear when it has ended; handle_on, when set, is used instead of
  // handle.
  std::function<qxwire::Message(const qxwire::Message& request, pid_t peer, uint64_t connection)> handle_on;
  std::function<void(uint64_t connection)> closed;
  // How long a connection may wait for its next request; a held port
  // handle may be idle for as long as its process likes.
  uint64_t idle_limit_ms = qxwire::kIdleLimitMs;
};

class Server {
 public:
  Server(std::string dir, std::vector<Listener> listeners);
  ~Server();  // Shutdown()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listen - bind and listen on every socket, replacing stale ones. False
  // with a message when one cannot be made.
  bool Listen(std::string& error);

  // Run - accept and serve until wake_fd becomes readable (a signal or a stop
  // request writes to it) or stopping says so. With wait_mask, the signal
  // mask in force while waiting, so that signals blocked otherwise arrive
  // only during the wait.
  void Run(int wake_fd, const sigset_t* wait_mask, const std::function<bool()>& stopping);

  // Shutdown - close the listeners, end every connection, join the threads
  // and remove the sockets. Idempotent.
  void Shutdown();

 private:
  struct Connection {
    int fd = -1;
    size_t listener = 0;  // index in listeners_
    uint64_t id = 0;      // unique for the server's life
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Accept(size_t listener);
  void Serve(Connection& connection, pid_t peer);
  // WaitFor - until fd is ready for events (POLLIN, POLLOUT), the virtual
  // deadline passes, or the server shuts down; false for the last two.
  bool WaitFor(int fd, short events, uint64_t deadline_ms) const;
  void ReapLocked(bool all);

  const std::string dir_;
  const std::vector<Listener> listeners_;
  std::vector<int> listen_fds_;  // one per listener, -1 when closed
  int stopping_fd_ = -1;  // an eventfd, readable once Shutdown has begun
  std::mutex lock_;
  std::list<std::unique_ptr<Connection>> connections_;
  uint64_t next_connection_ = 1;
};

}  // namespace qxsim
