// connection.h - qxwire, client side: one connection to a socket of qxsimd,
// carrying request and reply messages (frame.h) for as long as its owner
// uses it. Every read and write is bounded by the connection's time limit,
// so that a daemon that accepts and never answers (stopped under a debugger)
// fails the call rather than hanging its caller.
//
//   qxwire::Connection c;
//   if (c.Open(qxwire::PathIn(dir, qxwire::kSpoolerSocket), 30, true, nullptr) &&
//       c.Exchange(request, reply, qxwire::Limits{qxwire::kMaxReply}))
//     ...
#pragma once

#include <string>

#include "qxwire/frame.h"

namespace qxwire {

class Connection {
 public:
  Connection() = default;
  ~Connection();  // Close()
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Open - connect to the Unix-domain socket at path.
  //   limit_seconds (in): the longest any later read or write may wait (>= 1).
  //   same_user (in): refuse a peer that does not run as this process's
  //   effective user (the socket's peer credentials).
  //   error (out, optional): why not, in words.
  // False when it cannot; errno is left as it was either way.
  bool Open(const std::string& path, int limit_seconds, bool same_user, std::string* error);

  // Exchange - send request, read one reply within limits; false on any
  // failure (the connection is then closed).
  bool Exchange(const Message& request, Message& reply, const Limits& limits);

  bool is_open() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace qxwire
