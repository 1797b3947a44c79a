// socket_pair.h - a connected pair of Unix-domain stream sockets for the
// tests of the pieces pipes are built from (stream, records, handshake):
// near is the side under test, far plays the peer.
#pragma once

#include <sys/socket.h>

#include <string>

#include <gtest/gtest.h>

#include "stream.h"

struct SocketPair {
  // non_blocking: both ends (a Stream makes its own end so anyway).
  explicit SocketPair(bool non_blocking = false) {
    int sv[2];
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (non_blocking ? SOCK_NONBLOCK : 0);
    EXPECT_EQ(socketpair(AF_UNIX, type, 0, sv), 0);
    near = qxplat::Fd(sv[0]);
    far = qxplat::Fd(sv[1]);
  }

  // Send - bytes from the far side, all at once.
  void Send(const std::string& bytes) const {
    EXPECT_EQ(send(far.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  qxplat::Fd near;
  qxplat::Fd far;
};
