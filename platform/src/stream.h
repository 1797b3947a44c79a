// stream.h - POSIX platform layer, internal: owned descriptors and the byte
// stream of a connected Unix-domain socket, the transport under the record
// connections of named pipes (records.h) and of the port endpoints to come.
//
// Fd owns a descriptor; WakeFd is an eventfd one thread pokes to wake
// another out of poll. A Stream is a connected non-blocking socket:
//
//   - Receive and SendNow never wait and never move more than they are
//     given room for;
//   - SendAll and Wait wait, each until an optional deadline on the steady
//     clock (callers turn virtual time-outs into one with RealDeadline);
//   - Close, from any thread, shuts the socket down both ways: every call
//     blocked on the stream returns, and later sends fail.
//
// One thread at a time calls Wait: Wake's poke is consumed by whoever waits.
// SendAll waits on the socket alone, so a writer never takes a poke meant
// for the thread in Wait.
#ifndef QX_PLATFORM_STREAM_H
#define QX_PLATFORM_STREAM_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <utility>

namespace qxplat {

// An owned file descriptor, closed when dropped; take() hands it out.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.take()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.take();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  int take() { return std::exchange(fd_, -1); }
  void reset();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// An eventfd used as a doorbell: Poke adds one (a full counter already
// wakes its pollers), Drain empties it. Invalid when no descriptor was left.
class WakeFd {
 public:
  WakeFd();
  explicit operator bool() const { return static_cast<bool>(fd_); }
  int get() const { return fd_.get(); }
  void Poke() const;
  void Drain() const;

 private:
  Fd fd_;
};

using SteadyTime = std::chrono::steady_clock::time_point;
inline constexpr SteadyTime kNoDeadline = SteadyTime::max();

class Stream {
 public:
  enum class Received { kSome, kNothingYet, kEnd };  // kEnd: orderly end, reset or closed
  enum class Sent { kAll, kTimedOut, kFailed };      // kFailed: the peer is gone or closed here
  struct Ready {
    bool input = false;   // something to receive, or the end
    bool output = false;  // room to send
    bool hangup = false;  // the socket reported a hang-up or an error
  };

  // Create - take over a connected socket (made non-blocking here). Null,
  // and the socket closed, when no descriptor is left for the wake-up.
  static std::unique_ptr<Stream> Create(Fd socket);

  Stream(Fd socket, WakeFd wake) : socket_(std::move(socket)), wake_(std::move(wake)) {}

  // Receive - what the socket holds now, up to size bytes.
  //   got (out): the bytes placed in buffer (0 unless kSome).
  Received Receive(void* buffer, size_t size, size_t* got);

  // SendNow - send what fits now. Returns the bytes sent: fewer than size
  // when the socket is full, the peer is gone or the stream is closed.
  size_t SendNow(const void* data, size_t size);

  // SendAll - send every byte, waiting while the socket is full.
  //   sent (out, may be null): the bytes sent, also when it fails.
  Sent SendAll(const void* data, size_t size, SteadyTime deadline = kNoDeadline,
               size_t* sent = nullptr);

  // Wait - until there is input (for_input), room to send (for_output), a
  // hang-up, a Wake, Close, or the deadline. Returns what the socket showed;
  // all false after a Wake or when the deadline passed.
  Ready Wait(bool for_input, bool for_output, SteadyTime deadline = kNoDeadline);

  // Wake - the thread in Wait returns.
  void Wake() const { wake_.Poke(); }

  // Close - shut the socket down both ways and wake every waiter. The
  // descriptor itself is closed when the stream is dropped.
  void Close();

  bool closed() const { return closed_; }

 private:
  const Fd socket_;
  const WakeFd wake_;
  std::atomic<bool> closed_{false};
};

// PollTimeoutMs - poll's time-out for deadline: -1 for none, else the
// milliseconds left, rounded up and capped at a minute (callers loop).
int PollTimeoutMs(SteadyTime deadline);

}  // namespace qxplat

#endif  // QX_PLATFORM_STREAM_H
