// stream.cpp - POSIX platform layer, internal: owned descriptors and the
// byte stream of a connected Unix-domain socket (see stream.h).
#include "stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace qxplat {

void Fd::reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeFd::Poke() const {
  const uint64_t one = 1;
  if (write(fd_.get(), &one, sizeof one) < 0) {
  }
}

void WakeFd::Drain() const {
  uint64_t count;
  if (read(fd_.get(), &count, sizeof count) < 0) {
  }
}

int PollTimeoutMs(SteadyTime deadline) {
  if (deadline == kNoDeadline) return -1;
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= SteadyTime::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<int64_t>(ms, 60000));
}

std::unique_ptr<Stream> Stream::Create(Fd socket) {
  WakeFd wake;
  if (!wake) return nullptr;
  const int flags = fcntl(socket.get(), F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(socket.get(), F_SETFL, flags | O_NONBLOCK);
  return std::make_unique<Stream>(std::move(socket), std::move(wake));
}

Stream::Received Stream::Receive(void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (size == 0) return Received::kNothingYet;
  for (;;) {
    const ssize_t n = recv(socket_.get(), buffer, size, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Received::kSome;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Received::kNothingYet;
    return Received::kEnd;
  }
}

size_t Stream::SendNow(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = send(socket_.get(), p + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return done;
}

Stream::Sent Stream::SendAll(const void* data, size_t size, SteadyTime deadline, size_t* sent) {
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  Sent result = Sent::kAll;
  while (done < size) {
    const ssize_t n = send(socket_.get(), p + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !closed_) {
      const int ms = PollTimeoutMs(deadline);
      if (ms == 0) {
        result = Sent::kTimedOut;
        break;
      }
      // Close shuts the socket down, which ends this poll with POLLHUP.
      pollfd p_out = {socket_.get(), POLLOUT, 0};
      while (poll(&p_out, 1, ms) < 0 && errno == EINTR) {
      }
      continue;
    }
    result = Sent::kFailed;
    break;
  }
  if (sent != nullptr) *sent = done;
  return result;
}

Stream::Ready Stream::Wait(bool for_input, bool for_output, SteadyTime deadline) {
  short events = 0;
  if (for_input) events |= POLLIN;
  if (for_output) events |= POLLOUT;
  pollfd fds[2] = {{socket_.get(), events, 0}, {wake_.get(), POLLIN, 0}};
  int n;
  while ((n = poll(fds, 2, PollTimeoutMs(deadline))) < 0 && errno == EINTR) {
  }
  Ready ready;
  if (n <= 0) return ready;
  if ((fds[1].revents & POLLIN) != 0) wake_.Drain();
  ready.input = (fds[0].revents & POLLIN) != 0;
  ready.output = (fds[0].revents & POLLOUT) != 0;
  ready.hangup = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
  return ready;
}

void Stream::Close() {
  closed_ = true;
  shutdown(socket_.get(), SHUT_RDWR);
  wake_.Poke();
}

}  // namespace qxplat
