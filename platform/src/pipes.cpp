// pipes.cpp - POSIX implementation of the Win32 named-pipe area:
// CreateNamedPipeA, ConnectNamedPipe, DisconnectNamedPipe, WaitNamedPipeA,
// SetNamedPipeHandleState, PeekNamedPipe, and the pipe side of CreateFileA,
// ReadFile, WriteFile and FlushFileBuffers (dispatched from files.cpp).
//
// A pipe is carried over Unix-domain stream sockets in the world's runtime
// folder, so servers and clients may live in different processes.
//
// Where. The runtime folder is $QX_SIM_DIR, or /tmp/qxsim-<uid> when that is
// unset or empty, read afresh by every call that names a pipe. It, and its
// "pipes" subfolder, must pass the runtime-folder check (runtime_folder.h: a
// folder of this user's own, no access for group or others), else the call
// fails with ERROR_ACCESS_DENIED. A server puts its socket in its "pipes"
// subfolder (created mode 0700, with the runtime folder itself when missing):
//
//   pipes/<stem>.sock   the server's listening socket
//   pipes/<stem>.lock   held with flock(LOCK_EX) while a process serves it
//
// <stem> is the pipe name after "\\.\pipe\", ASCII letters folded to lower
// case (names are case-insensitive), each byte other than a-z, 0-9, '-' and
// '_' written as '%' and two lower-case hex digits ("QXNamedPipeLPT1:" gives
// "qxnamedpipelpt1%3a"). When the socket path would not fit a socket address
// (107 bytes), <stem> is '~' and the 16 hex digits of the 64-bit FNV-1a hash
// of the folded name; the handshake carries the full name, so a hash
// collision is refused rather than confused. Names are at most 256
// characters, "\\.\pipe\" included.
//
// Handshake. A client connects, sends a hello and reads an 8-byte answer:
//
//   hello:  "QXP1", op (1 open, 2 wait), access (bit 0 read, bit 1 write),
//           name length (16 bits, little-endian), the folded name
//   answer: status, pipe type (0 byte, 1 message), 0, 0,
//           the server's default time-out in ms (32 bits, little-endian)
//   status: 1 opened, 2 busy, 3 an instance listens, 4 none listens yet,
//           5 no such pipe, 6 access denied
//
// An opened socket then carries records in both directions: a kind byte and
// a 32-bit little-endian length: 1 data (one message of that many bytes),
// 2 acknowledgement (that many messages read through to their end; this is
// what FlushFileBuffers waits for), 3 disconnect (sent by
// DisconnectNamedPipe; length 0). A wait stays connected after status 4 and
// receives status 3 once an instance listens; the client gives up by closing.
//
// Who answers. Each pipe name a process serves has a listener: the socket,
// the lock, and one thread that accepts connections, reads hellos, hands a
// connection to a listening instance (or answers busy) and tells waiting
// clients when an instance listens. Instance states follow Windows:
// listening (new, or ConnectNamedPipe after a disconnect), connected (a
// client was given it; stays so after the client closed), disconnected
// (after DisconnectNamedPipe, until ConnectNamedPipe). Only a listening
// instance takes a client. Closing the last instance of a name removes the
// socket before CloseHandle returns, so clients then find no pipe.
//
// Reading. Each connection keeps what it has received as whole messages.
// Every read first takes in all that the socket holds, so a disconnect
// record that has arrived discards the messages before it, as a
// disconnect discards unread data on Windows. Closing a handle while another
// thread is blocked on it (in ReadFile, WriteFile, FlushFileBuffers or
// ConnectNamedPipe) wakes that call, which fails with ERROR_BROKEN_PIPE.
//
// Where this differs from Windows, and why:
//   - One process serves a name (its listener owns the socket);
//     CreateNamedPipeA in a second process gives ERROR_ACCESS_DENIED.
//   - Blocking mode only, which is all the library and the monitors use:
//     PIPE_NOWAIT and overlapped I/O are refused with ERROR_INVALID_PARAMETER.
//   - A message is at most 16 MiB, which bounds what a reader buffers; a
//     larger WriteFile on a message pipe fails with ERROR_INVALID_PARAMETER
//     (byte pipes split larger writes).
//   - Writes block only when the socket is full (about 200 KB); the buffer
//     sizes given to CreateNamedPipeA are accepted and not used.
//   - A server that disconnects while a write of its own is blocked (or the
//     client has left more than the socket buffer unread) cannot queue the
//     disconnect record without waiting; the client then sees
//     ERROR_BROKEN_PIPE rather than ERROR_PIPE_NOT_CONNECTED.
//   - A process that forks while serving leaves its child holding the
//     name's lock until the child exits or execs.
#include "pipes.h"

#include <qxplatform.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "accounting.h"
#include "clock.h"
#include "handles.h"
#include "runtime_folder.h"
#include "simlink.h"

namespace qxplat {
namespace {

// ---- Limits and wire format ------------------------------------------------

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";
constexpr size_t kMaxPipeName = 256;
constexpr DWORD kSystemDefaultTimeOut = 50;  // used when nDefaultTimeOut is 0
constexpr size_t kMaxMessage = size_t{16} << 20;
constexpr size_t kInboxLimit = size_t{32} << 20;  // received but unread, per connection
constexpr size_t kInlineLimit = size_t{64} << 10;  // data records sent in one piece
constexpr size_t kMaxPending = 64;   // handshakes a listener reads at once
constexpr size_t kMaxWaiters = 256;  // WaitNamedPipeA clients a listener holds
constexpr int kListenBacklog = 64;
constexpr auto kAcceptBackOff = std::chrono::milliseconds(10);
// How long a client waits for a server's answer to its hello. Not a Win32
// time-out: a guard against a server process that is stopped.
constexpr auto kAnswerGuard = std::chrono::seconds(10);

constexpr char kHelloMagic[4] = {'Q', 'X', 'P', '1'};
constexpr size_t kHelloFixed = 8;
constexpr uint8_t kOpOpen = 1;
constexpr uint8_t kOpWait = 2;
constexpr uint8_t kAccessRead = 1;
constexpr uint8_t kAccessWrite = 2;

constexpr size_t kAnswerSize = 8;
constexpr uint8_t kAnswerOpened = 1;
constexpr uint8_t kAnswerBusy = 2;
constexpr uint8_t kAnswerReady = 3;
constexpr uint8_t kAnswerWaiting = 4;
constexpr uint8_t kAnswerNoPipe = 5;
constexpr uint8_t kAnswerDenied = 6;

constexpr size_t kRecordHeader = 5;
constexpr uint8_t kRecordData = 1;
constexpr uint8_t kRecordAck = 2;
constexpr uint8_t kRecordDisconnect = 3;

uint32_t LoadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint16_t LoadLe16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

void AppendLe32(std::string* out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

void AppendRecordHeader(std::string* out, uint8_t kind, uint32_t length) {
  out->push_back(static_cast<char>(kind));
  AppendLe32(out, length);
}

BOOL FailBool(DWORD error) {
  SetLastError(error);
  return FALSE;
}

HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// ---- Descriptors -------------------------------------------------------------

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
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Adds one to an eventfd; a full counter already wakes its pollers.
void Poke(int eventfd_fd) {
  const uint64_t one = 1;
  if (write(eventfd_fd, &one, sizeof one) < 0) {
  }
}

void Unpoke(int eventfd_fd) {
  uint64_t count;
  if (read(eventfd_fd, &count, sizeof count) < 0) {
  }
}

// ---- Names and the runtime folder ------------------------------------------

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

struct PipeAddress {
  std::string key;          // the name after the prefix, folded
  std::string runtime_dir;  // the world's runtime folder
  std::string pipes_dir;    // runtime_dir + "/pipes"
  std::string socket_path;
  std::string lock_path;
};

// The runtime folder without trailing slashes, which would only lengthen
// socket paths.
std::string RuntimeDir() {
  std::string path = SimDir();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string EscapedStem(std::string_view key) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string stem;
  for (const char ch : key) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      stem += ch;
    } else {
      stem += '%';
      stem += kHex[c >> 4];
      stem += kHex[c & 15];
    }
  }
  return stem;
}

std::string HashedStem(std::string_view key) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const char ch : key) {
    h ^= static_cast<unsigned char>(ch);
    h *= 0x100000001b3ull;
  }
  char text[18];
  std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(h));
  return text;
}

// ResolvePipe - where the pipe named name lives in the current world.
//   name (in): not null.
// Returns 0, ERROR_FILENAME_EXCED_RANGE (name over 256 characters),
// ERROR_INVALID_NAME (no "\\.\pipe\" prefix or nothing after it) or
// ERROR_BAD_PATHNAME (a runtime folder so long that no socket fits in it).
DWORD ResolvePipe(const char* name, PipeAddress* out) {
  const std::string_view text(name);
  if (text.size() > kMaxPipeName) return ERROR_FILENAME_EXCED_RANGE;
  if (!IsPipePath(text) || text.size() == kPipePrefix.size()) return ERROR_INVALID_NAME;
  out->key.clear();
  for (const char c : text.substr(kPipePrefix.size())) out->key += FoldAscii(c);
  out->runtime_dir = RuntimeDir();
  out->pipes_dir = out->runtime_dir + "/pipes";
  // The path and its terminating zero must fit sun_path.
  constexpr size_t kRoom = sizeof(sockaddr_un::sun_path);
  auto fits = [&](const std::string& stem) {
    return out->pipes_dir.size() + 1 + stem.size() + 5 < kRoom;
  };
  std::string stem = EscapedStem(out->key);
  if (!fits(stem)) stem = HashedStem(out->key);
  if (!fits(stem)) return ERROR_BAD_PATHNAME;
  out->socket_path = out->pipes_dir + "/" + stem + ".sock";
  out->lock_path = out->pipes_dir + "/" + stem + ".lock";
  return 0;
}

bool FillSocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// ---- Connections -------------------------------------------------------------

// The outcome of one operation on a connection.
enum class Io {
  kOk,
  kMoreData,          // message read mode: the buffer held part of the message
  kPeerClosed,        // the other end is gone (closed, crashed, or sent garbage)
  kPeerDisconnected,  // the other end sent a disconnect record
  kLocalClosed,       // this end was shut down (closed or disconnected) meanwhile
};

// One connected socket between a client and a server instance, with what it
// has received. Reads, writes and flushes may run on different threads at
// once; reads are serialised among themselves, and so are writes, so that a
// message goes out and comes in whole.
//
// Waiting for input: one waiting thread polls the socket (and an eventfd
// that others poke when they have changed something it waits for); the
// others wait on a condition variable for the end of its poll round. Every
// thread that takes data out of the socket bumps the round, so no waiter
// sleeps on data another thread has already taken in.
class Connection {
 public:
  // Create - take over a connected non-blocking socket. Null, and the
  // socket closed, when no descriptor is left for the eventfd.
  static std::shared_ptr<Connection> Create(Fd socket) {
    Fd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return nullptr;
    return std::make_shared<Connection>(std::move(socket), std::move(wake));
  }

  Connection(Fd socket, Fd wake) : fd_(std::move(socket)), wake_(std::move(wake)) {}

  // Read - wait for a message (message mode) or any bytes (byte mode) and
  // deliver up to size bytes of it. *read is always set.
  Io Read(void* buffer, DWORD size, bool message_mode, DWORD* read) {
    *read = 0;
    std::lock_guard<std::mutex> reader(read_lock_);
    Io io;
    {
      std::unique_lock<std::mutex> lock(lock_);
      for (;;) {
        DrainLocked();
        if (local_closed_) return Io::kLocalClosed;
        if (disconnected_) return Io::kPeerDisconnected;
        if (!inbox_.empty()) break;
        if (eof_) return Io::kPeerClosed;
        WaitForInputLocked(lock);
      }
      io = message_mode ? TakeMessageLocked(buffer, size, read) : TakeBytesLocked(buffer, size, read);
    }
    SendAcks();
    return io;
  }

  // Write - send size bytes: one message on a message pipe; on a byte pipe
  // nothing when size is 0, else records of at most kMaxMessage bytes.
  // Blocks while the socket is full, as a blocking pipe write does.
  Io Write(const void* data, DWORD size, bool message_pipe) {
    std::lock_guard<std::mutex> writer(write_lock_);
    std::string prefix;  // acknowledgements queued before this message
    {
      std::lock_guard<std::mutex> lock(lock_);
      DrainLocked();
      if (local_closed_) return Io::kLocalClosed;
      if (disconnected_) return Io::kPeerDisconnected;
      if (eof_) return Io::kPeerClosed;
      QueueAcksLocked();
      prefix.swap(pending_out_);
    }
    if (!prefix.empty() && !SendAll(prefix.data(), prefix.size())) return WriteFailure();
    if (!message_pipe && size == 0) return Io::kOk;
    const char* p = static_cast<const char*>(data);
    size_t remaining = size;
    uint64_t records = 0;
    do {
      const size_t chunk = std::min(remaining, kMaxMessage);
      std::string record;
      AppendRecordHeader(&record, kRecordData, static_cast<uint32_t>(chunk));
      bool sent;
      if (chunk <= kInlineLimit) {
        record.append(p, chunk);
        sent = SendAll(record.data(), record.size());
      } else {
        sent = SendAll(record.data(), record.size()) && SendAll(p, chunk);
      }
      if (!sent) return WriteFailure();
      p += chunk;
      remaining -= chunk;
      ++records;
    } while (remaining > 0);
    std::lock_guard<std::mutex> lock(lock_);
    sent_ += records;
    QueueAcksLocked();
    SendPendingLocked();
    return Io::kOk;
  }

  // Flush - wait until the other end has read every message sent so far.
  Io Flush() {
    std::unique_lock<std::mutex> lock(lock_);
    const uint64_t target = sent_;
    for (;;) {
      DrainLocked();
      if (local_closed_) return Io::kLocalClosed;
      if (disconnected_) return Io::kPeerDisconnected;
      if (acked_ >= target) return Io::kOk;
      if (eof_ || hangup_) return Io::kPeerClosed;
      WaitForInputLocked(lock);
    }
  }

  // Peek - copy without consuming: from the first message only on a message
  // pipe, across messages on a byte pipe. Never waits.
  Io Peek(void* buffer, DWORD size, bool message_pipe, DWORD* copied, DWORD* available,
          DWORD* left_in_message) {
    std::lock_guard<std::mutex> lock(lock_);
    DrainLocked();
    if (local_closed_) return Io::kLocalClosed;
    if (disconnected_) return Io::kPeerDisconnected;
    if (inbox_.empty() && eof_) return Io::kPeerClosed;
    size_t total = 0;
    for (const std::string& m : inbox_) total += m.size();
    total -= front_offset_;
    size_t n = 0;
    auto* out = static_cast<char*>(buffer);
    for (size_t i = 0; i < inbox_.size() && n < size; ++i) {
      const std::string& m = inbox_[i];
      const size_t from = i == 0 ? front_offset_ : 0;
      const size_t k = std::min<size_t>(size - n, m.size() - from);
      std::memcpy(out + n, m.data() + from, k);
      n += k;
      if (message_pipe) break;
    }
    *copied = static_cast<DWORD>(n);
    *available = static_cast<DWORD>(std::min<size_t>(total, MAXDWORD));
    *left_in_message = message_pipe && !inbox_.empty()
                           ? static_cast<DWORD>(inbox_.front().size() - front_offset_ - n)
                           : 0;
    return Io::kOk;
  }

  // PeerGone - true when the other end has gone, as far as has arrived.
  bool PeerGone() {
    std::lock_guard<std::mutex> lock(lock_);
    DrainLocked();
    return !local_closed_ && (eof_ || disconnected_);
  }

  // Disconnect - queue a disconnect record when no write of this end is in
  // progress, then shut down.
  void Disconnect() {
    {
      std::unique_lock<std::mutex> writer(write_lock_, std::try_to_lock);
      if (writer.owns_lock()) {
        std::lock_guard<std::mutex> lock(lock_);
        AppendRecordHeader(&pending_out_, kRecordDisconnect, 0);
        SendPendingLocked();
      }
    }
    Shutdown();
  }

  // Shutdown - end the connection both ways; calls blocked on it return.
  // The descriptor is closed when the last user drops the connection.
  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      local_closed_ = true;
      ++round_;
      round_done_.notify_all();
    }
    shutdown(fd_.get(), SHUT_RDWR);
    Poke(wake_.get());
  }

  int fd() const { return fd_.get(); }

 private:
  static size_t Cost(size_t length) { return length + 64; }

  // Takes in everything the socket holds (up to the inbox limit) and parses
  // it into messages, acknowledgements and a disconnect.
  void DrainLocked() {
    bool changed = false;
    char chunk[16384];
    while (!eof_ && !disconnected_ && inbox_cost_ < kInboxLimit) {
      const ssize_t n = recv(fd_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        raw_.append(chunk, static_cast<size_t>(n));
        changed = true;
        if (!ParseLocked()) eof_ = true;  // garbage: treat the peer as gone
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      eof_ = true;  // orderly end, or a reset
      changed = true;
    }
    if (changed) {
      ++round_;
      round_done_.notify_all();
      if (polling_) Poke(wake_.get());
    }
  }

  // False when the stream holds something that is not a record.
  bool ParseLocked() {
    size_t pos = 0;
    while (raw_.size() - pos >= kRecordHeader) {
      const auto kind = static_cast<uint8_t>(raw_[pos]);
      const uint32_t length = LoadLe32(&raw_[pos + 1]);
      if (kind == kRecordData) {
        if (length > kMaxMessage) return false;
        if (raw_.size() - pos - kRecordHeader < length) break;
        inbox_.emplace_back(raw_, pos + kRecordHeader, length);
        inbox_cost_ += Cost(length);
        pos += kRecordHeader + length;
      } else if (kind == kRecordAck) {
        acked_ += length;
        pos += kRecordHeader;
      } else if (kind == kRecordDisconnect) {
        // Whatever the other end wrote before it disconnected is discarded.
        disconnected_ = true;
        inbox_.clear();
        inbox_cost_ = 0;
        front_offset_ = 0;
        raw_.clear();
        return true;
      } else {
        return false;
      }
    }
    raw_.erase(0, pos);
    return true;
  }

  // Called with lock_ held, returns with it held; see the class comment.
  void WaitForInputLocked(std::unique_lock<std::mutex>& lock) {
    if (polling_) {
      const uint64_t round = round_;
      round_done_.wait(lock, [&] { return round_ != round; });
      return;
    }
    polling_ = true;
    pollfd fds[2] = {{fd_.get(), 0, 0}, {wake_.get(), POLLIN, 0}};
    // A full inbox is not read further, so readiness to read would only spin.
    if (inbox_cost_ < kInboxLimit) fds[0].events |= POLLIN;
    if (!pending_out_.empty()) fds[0].events |= POLLOUT;
    lock.unlock();
    while (poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if ((fds[1].revents & POLLIN) != 0) Unpoke(wake_.get());
    lock.lock();
    polling_ = false;
    if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) hangup_ = true;
    if ((fds[0].revents & POLLOUT) != 0 && !pending_out_.empty()) {
      std::unique_lock<std::mutex> writer(write_lock_, std::try_to_lock);
      if (writer.owns_lock()) SendPendingLocked();
    }
    ++round_;
    round_done_.notify_all();
  }

  Io TakeMessageLocked(void* buffer, DWORD size, DWORD* read) {
    const std::string& front = inbox_.front();
    const size_t left = front.size() - front_offset_;
    const size_t n = std::min<size_t>(size, left);
    if (n > 0) std::memcpy(buffer, front.data() + front_offset_, n);
    *read = static_cast<DWORD>(n);
    if (n < left) {
      front_offset_ += n;
      return Io::kMoreData;
    }
    PopFrontLocked();
    return Io::kOk;
  }

  Io TakeBytesLocked(void* buffer, DWORD size, DWORD* read) {
    auto* out = static_cast<char*>(buffer);
    size_t total = 0;
    while (!inbox_.empty()) {
      const std::string& front = inbox_.front();
      const size_t n = std::min<size_t>(size - total, front.size() - front_offset_);
      if (n > 0) std::memcpy(out + total, front.data() + front_offset_, n);
      total += n;
      front_offset_ += n;
      if (front_offset_ < front.size()) break;  // the buffer is full
      PopFrontLocked();
      if (total == size) break;
    }
    *read = static_cast<DWORD>(total);
    return Io::kOk;
  }

  void PopFrontLocked() {
    const bool was_full = inbox_cost_ >= kInboxLimit;
    inbox_cost_ -= Cost(inbox_.front().size());
    inbox_.pop_front();
    front_offset_ = 0;
    ++to_ack_;
    if (was_full && polling_) Poke(wake_.get());  // the poller may read again
  }

  // Needs write_lock_ and lock_: acknowledgements go into the stream only
  // between whole records.
  void QueueAcksLocked() {
    while (to_ack_ > 0) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(to_ack_, 0xFFFFFFFFu));
      AppendRecordHeader(&pending_out_, kRecordAck, n);
      to_ack_ -= n;
    }
  }

  // Needs write_lock_ and lock_. Sends what fits now; keeps the rest.
  void SendPendingLocked() {
    size_t done = 0;
    while (done < pending_out_.size()) {
      const ssize_t n = send(fd_.get(), pending_out_.data() + done, pending_out_.size() - done,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    pending_out_.erase(0, done);
  }

  // A reader's acknowledgements go out at once unless a writer is busy, in
  // which case the writer sends them after its message.
  void SendAcks() {
    std::unique_lock<std::mutex> writer(write_lock_, std::try_to_lock);
    if (!writer.owns_lock()) return;
    std::lock_guard<std::mutex> lock(lock_);
    QueueAcksLocked();
    SendPendingLocked();
  }

  // Needs write_lock_. False when the peer is gone or this end shut down.
  bool SendAll(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = send(fd_.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        data += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (local_closed_) return false;
        pollfd p = {fd_.get(), POLLOUT, 0};
        while (poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        continue;
      }
      return false;
    }
    return true;
  }

  Io WriteFailure() {
    std::lock_guard<std::mutex> lock(lock_);
    DrainLocked();
    if (local_closed_) return Io::kLocalClosed;
    if (disconnected_) return Io::kPeerDisconnected;
    return Io::kPeerClosed;
  }

  const Fd fd_;
  const Fd wake_;
  std::atomic<bool> local_closed_{false};
  std::mutex read_lock_;
  std::mutex write_lock_;  // taken before lock_ when both are needed
  std::mutex lock_;
  std::condition_variable round_done_;
  // Guarded by lock_ (pending_out_ changes also need write_lock_):
  std::string raw_;                 // received bytes not yet a whole record
  std::deque<std::string> inbox_;   // whole messages; the first may be partly read
  size_t front_offset_ = 0;
  size_t inbox_cost_ = 0;
  bool eof_ = false;
  bool hangup_ = false;
  bool disconnected_ = false;
  bool polling_ = false;
  uint64_t round_ = 0;
  uint64_t sent_ = 0;    // data records sent
  uint64_t acked_ = 0;   // messages the other end has read through
  uint64_t to_ack_ = 0;  // messages read here, not yet acknowledged
  std::string pending_out_;
};

// ---- Pipe ends and listeners -----------------------------------------------

class Listener;

enum class InstanceState { kListening, kConnected, kDisconnected };

// One handle of a pipe: a server instance or a client end.
class PipeEnd final : public Object {
 public:
  PipeEnd(bool is_server, DWORD pipe_type, DWORD initial_read_mode, uint8_t rights)
      : Object(QXPLAT_KIND_PIPE),
        server(is_server),
        type(pipe_type),
        access(rights),
        read_mode(initial_read_mode) {}

  void OnClose() override;

  const bool server;
  const DWORD type;      // PIPE_TYPE_BYTE or PIPE_TYPE_MESSAGE
  const uint8_t access;  // kAccessRead | kAccessWrite: what this end may do
  // Guarded by the registry lock:
  DWORD read_mode;  // PIPE_READMODE_BYTE or PIPE_READMODE_MESSAGE
  bool closed = false;
  std::shared_ptr<Connection> conn;
  // Server instances only:
  std::shared_ptr<Listener> listener;
  InstanceState state = InstanceState::kListening;
  std::condition_variable changed;  // state or closed changed
};

// Every pipe name this process serves, by socket path. One lock guards the
// registry, the listeners' instance lists and every end's state.
struct Registry {
  std::mutex lock;
  std::condition_variable listener_gone;
  std::map<std::string, std::shared_ptr<Listener>> listeners;
};

Registry& Pipes() {
  static Registry* registry = new Registry;
  return *registry;
}

// The server side of one pipe name in this process; see the file comment.
class Listener {
 public:
  Listener(PipeAddress where, DWORD pipe_type, DWORD open_access, DWORD max, DWORD time_out)
      : address(std::move(where)),
        type(pipe_type),
        access(open_access),
        max_instances(max),
        default_timeout(time_out) {}

  ~Listener() { StopThread(); }

  // Open - claim the name, bind the socket and start answering. Called with
  // the registry lock held. Returns 0 or a Win32 error; on error nothing is
  // left behind.
  DWORD Open() {
    if (DWORD e = CheckRuntimeFolder(address.runtime_dir, true)) return e;
    if (DWORD e = CheckRuntimeFolder(address.pipes_dir, true)) return e;
    if (DWORD e = ClaimName()) return e;
    sockaddr_un sa;
    Fd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    Fd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    unlink(address.socket_path.c_str());  // a stale socket of a process that is gone
    if (!sock || !wake || !FillSocketAddress(address.socket_path, &sa) ||
        bind(sock.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(sock.get(), kListenBacklog) != 0) {
      const DWORD error = sock && wake ? ERROR_ACCESS_DENIED : ERROR_TOO_MANY_OPEN_FILES;
      ReleaseName();
      return error;
    }
    listen_fd_ = std::move(sock);
    wake_fd_ = std::move(wake);
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      ReleaseName();
      listen_fd_.reset();
      return ERROR_NO_SYSTEM_RESOURCES;
    }
    return 0;
  }

  // Close - after the last instance closed: no client finds the name when
  // this returns. Called without the registry lock.
  void Close() {
    unlink(address.socket_path.c_str());
    StopThread();
    listen_fd_.reset();
    ReleaseName();
  }

  // Wake - the loop looks at the instances again (one started listening).
  void Wake() {
    if (wake_fd_) Poke(wake_fd_.get());
  }

  // Registry lock held.
  bool AnyListeningLocked() const {
    return std::any_of(instances.begin(), instances.end(), [](const PipeEnd* e) {
      return !e->closed && e->state == InstanceState::kListening;
    });
  }

  const PipeAddress address;
  const DWORD type;             // PIPE_TYPE_BYTE or PIPE_TYPE_MESSAGE
  const DWORD access;           // PIPE_ACCESS_INBOUND and/or OUTBOUND
  const DWORD max_instances;    // PIPE_UNLIMITED_INSTANCES for no limit
  const DWORD default_timeout;  // for NMPWAIT_USE_DEFAULT_WAIT
  // Guarded by the registry lock:
  std::vector<PipeEnd*> instances;  // removed by their OnClose
  bool closing = false;

 private:
  struct Pending {
    Fd fd;
    std::string hello;
  };
  enum class HelloState { kIncomplete, kComplete, kBad };

  // The name's lock file is held for as long as this process serves it. Its
  // owner removes it while still holding it, so a process that opened it
  // just before checks that the path still names the file it locked.
  DWORD ClaimName() {
    for (int attempt = 0; attempt < 8; ++attempt) {
      Fd fd(open(address.lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (!fd) return ERROR_ACCESS_DENIED;
      if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return ERROR_ACCESS_DENIED;  // served elsewhere
      struct stat held, named;
      if (fstat(fd.get(), &held) == 0 && stat(address.lock_path.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        lock_fd_ = std::move(fd);
        return 0;
      }
    }
    return ERROR_ACCESS_DENIED;
  }

  void ReleaseName() {
    if (!lock_fd_) return;
    unlink(address.lock_path.c_str());
    lock_fd_.reset();
  }

  void StopThread() {
    if (!thread_.joinable()) return;
    stop_ = true;
    Poke(wake_fd_.get());
    thread_.join();
  }

  bool AccessAllowed(uint8_t wanted) const {
    if ((wanted & kAccessRead) != 0 && (access & PIPE_ACCESS_OUTBOUND) == 0) return false;
    if ((wanted & kAccessWrite) != 0 && (access & PIPE_ACCESS_INBOUND) == 0) return false;
    return true;
  }

  bool SendAnswer(int fd, uint8_t status) const {
    std::string answer;
    answer.push_back(static_cast<char>(status));
    answer.push_back(type == PIPE_TYPE_MESSAGE ? 1 : 0);
    answer.append(2, '\0');
    AppendLe32(&answer, default_timeout);
    return send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
           static_cast<ssize_t>(answer.size());
  }

  // Reads what has arrived of a hello; checks it as far as it goes.
  static HelloState ReadHello(Pending& p) {
    for (;;) {
      size_t need = kHelloFixed;
      if (p.hello.size() >= kHelloFixed) {
        if (std::memcmp(p.hello.data(), kHelloMagic, sizeof kHelloMagic) != 0) {
          return HelloState::kBad;
        }
        const auto op = static_cast<uint8_t>(p.hello[4]);
        const size_t name_length = LoadLe16(&p.hello[6]);
        if ((op != kOpOpen && op != kOpWait) || name_length == 0 || name_length > kMaxPipeName) {
          return HelloState::kBad;
        }
        need += name_length;
        if (p.hello.size() == need) return HelloState::kComplete;
      }
      char buffer[kHelloFixed + kMaxPipeName];
      const ssize_t n = recv(p.fd.get(), buffer, need - p.hello.size(), MSG_DONTWAIT);
      if (n > 0) {
        p.hello.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return HelloState::kIncomplete;
      return HelloState::kBad;  // the client left
    }
  }

  // Answers a complete hello. Returns the descriptor when the client is to
  // be told later that an instance listens; otherwise it has been handed to
  // an instance or closed.
  Fd Settle(Fd fd, const std::string& hello) {
    const auto op = static_cast<uint8_t>(hello[4]);
    const auto wanted = static_cast<uint8_t>(hello[5]);
    const std::string_view name(hello.data() + kHelloFixed, hello.size() - kHelloFixed);
    if (name != address.key) {
      SendAnswer(fd.get(), kAnswerNoPipe);
      return {};
    }
    Registry& r = Pipes();
    if (op == kOpWait) {
      std::lock_guard<std::mutex> lock(r.lock);
      if (closing) {
        SendAnswer(fd.get(), kAnswerNoPipe);
      } else if (AnyListeningLocked()) {
        SendAnswer(fd.get(), kAnswerReady);
      } else if (SendAnswer(fd.get(), kAnswerWaiting)) {
        return fd;
      }
      return {};
    }
    if (!AccessAllowed(wanted)) {
      SendAnswer(fd.get(), kAnswerDenied);
      return {};
    }
    const int raw = fd.get();
    std::shared_ptr<Connection> conn = Connection::Create(std::move(fd));
    if (conn == nullptr) return {};  // out of descriptors: the client sees its socket end
    std::lock_guard<std::mutex> lock(r.lock);
    auto it = std::find_if(instances.begin(), instances.end(), [](const PipeEnd* e) {
      return !e->closed && e->state == InstanceState::kListening;
    });
    if (closing || it == instances.end()) {
      SendAnswer(raw, closing ? kAnswerNoPipe : kAnswerBusy);
      return {};
    }
    // The answer goes out before the instance can write its first record.
    if (!SendAnswer(raw, kAnswerOpened)) return {};
    PipeEnd* instance = *it;
    instance->conn = std::move(conn);
    instance->state = InstanceState::kConnected;
    instance->changed.notify_all();
    return {};
  }

  void AnswerWaiters(std::vector<Fd>& waiters) {
    {
      std::lock_guard<std::mutex> lock(Pipes().lock);
      if (!AnyListeningLocked()) return;
    }
    for (const Fd& w : waiters) SendAnswer(w.get(), kAnswerReady);
    waiters.clear();
  }

  void Run() {
    std::vector<Pending> pending;
    std::vector<Fd> waiters;
    std::vector<pollfd> fds;
    while (!stop_) {
      fds.clear();
      fds.push_back({wake_fd_.get(), POLLIN, 0});
      fds.push_back({listen_fd_.get(), static_cast<short>(pending.size() < kMaxPending ? POLLIN : 0), 0});
      for (const Pending& p : pending) fds.push_back({p.fd.get(), POLLIN, 0});
      for (const Fd& w : waiters) fds.push_back({w.get(), POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
      if ((fds[0].revents & POLLIN) != 0) Unpoke(wake_fd_.get());
      if (stop_) break;

      // A waiting client that sends anything or hangs up has given up.
      const size_t first_waiter = 2 + pending.size();
      std::vector<Fd> still_waiting;
      for (size_t i = 0; i < waiters.size(); ++i) {
        if (fds[first_waiter + i].revents == 0) still_waiting.push_back(std::move(waiters[i]));
      }
      waiters.swap(still_waiting);

      std::vector<Pending> still_pending;
      for (size_t i = 0; i < pending.size(); ++i) {
        Pending& p = pending[i];
        if (fds[2 + i].revents == 0) {
          still_pending.push_back(std::move(p));
          continue;
        }
        switch (ReadHello(p)) {
          case HelloState::kIncomplete:
            still_pending.push_back(std::move(p));
            break;
          case HelloState::kBad:
            break;
          case HelloState::kComplete: {
            Fd kept = Settle(std::move(p.fd), p.hello);
            if (kept && waiters.size() < kMaxWaiters) waiters.push_back(std::move(kept));
            break;
          }
        }
      }
      pending.swap(still_pending);

      if ((fds[1].revents & POLLIN) != 0) {
        while (pending.size() < kMaxPending) {
          Fd client(accept4(listen_fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
          if (!client) {
            // Out of descriptors, the connection stays queued and the socket
            // readable: pause rather than spin until some are free.
            if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(kAcceptBackOff);
            break;
          }
          pending.push_back(Pending{std::move(client), {}});
        }
      }
      if (!waiters.empty()) AnswerWaiters(waiters);
    }
  }

  Fd listen_fd_;
  Fd lock_fd_;
  Fd wake_fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void PipeEnd::OnClose() {
  Registry& r = Pipes();
  std::shared_ptr<Connection> connection;
  std::shared_ptr<Listener> last;  // set when this was its name's last instance
  {
    std::lock_guard<std::mutex> lock(r.lock);
    closed = true;
    connection = std::move(conn);
    if (server && listener != nullptr) {
      auto& list = listener->instances;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
      if (list.empty()) {
        listener->closing = true;
        last = listener;
      }
      changed.notify_all();
    }
  }
  if (last != nullptr) {
    last->Close();
    std::lock_guard<std::mutex> lock(r.lock);
    auto it = r.listeners.find(last->address.socket_path);
    if (it != r.listeners.end() && it->second == last) r.listeners.erase(it);
    r.listener_gone.notify_all();
  }
  if (connection != nullptr) connection->Shutdown();
}

// ---- Client side -------------------------------------------------------------

struct Answer {
  uint8_t status = 0;
  DWORD type = PIPE_TYPE_BYTE;
  DWORD default_timeout = kSystemDefaultTimeOut;
};

// ReadAnswer - one 8-byte answer; waits until deadline at most.
// Returns 0, ERROR_FILE_NOT_FOUND (the server went or answered nonsense) or
// ERROR_PIPE_BUSY (no answer in time).
DWORD ReadAnswer(int fd, std::chrono::steady_clock::time_point deadline, Answer* out) {
  char buffer[kAnswerSize];
  size_t have = 0;
  while (have < kAnswerSize) {
    const ssize_t n = recv(fd, buffer + have, kAnswerSize - have, MSG_DONTWAIT);
    if (n > 0) {
      have += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ERROR_FILE_NOT_FOUND;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ERROR_FILE_NOT_FOUND;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return ERROR_PIPE_BUSY;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<int64_t>(ms, 60000)));
  }
  const auto status = static_cast<uint8_t>(buffer[0]);
  if (status < kAnswerOpened || status > kAnswerDenied || static_cast<uint8_t>(buffer[1]) > 1) {
    return ERROR_FILE_NOT_FOUND;
  }
  out->status = status;
  out->type = buffer[1] != 0 ? PIPE_TYPE_MESSAGE : PIPE_TYPE_BYTE;
  out->default_timeout = LoadLe32(buffer + 4);
  return 0;
}

// Ask - connect to the server of a pipe, send a hello and read the answer.
// Returns 0 with *fd connected and *answer filled, or the Win32 error:
// ERROR_FILE_NOT_FOUND (no server), ERROR_PIPE_BUSY (its backlog is full,
// or it does not answer), ERROR_ACCESS_DENIED, ERROR_TOO_MANY_OPEN_FILES.
DWORD Ask(const PipeAddress& a, uint8_t op, uint8_t access, Fd* fd, Answer* answer) {
  if (DWORD e = CheckRuntimeFolder(a.runtime_dir, false)) return e;
  if (DWORD e = CheckRuntimeFolder(a.pipes_dir, false)) return e;
  sockaddr_un sa;
  if (!FillSocketAddress(a.socket_path, &sa)) return ERROR_BAD_PATHNAME;
  Fd sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!sock) return ERROR_TOO_MANY_OPEN_FILES;
  while (connect(sock.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    switch (errno) {
      case EINTR:
        continue;
      case EAGAIN:
        return ERROR_PIPE_BUSY;  // the listener's backlog is full
      case EACCES:
      case EPERM:
        return ERROR_ACCESS_DENIED;
      default:
        return ERROR_FILE_NOT_FOUND;  // ENOENT, or ECONNREFUSED for a stale socket
    }
  }
  std::string hello(kHelloMagic, sizeof kHelloMagic);
  hello.push_back(static_cast<char>(op));
  hello.push_back(static_cast<char>(access));
  hello.push_back(static_cast<char>(a.key.size() & 0xFF));
  hello.push_back(static_cast<char>(a.key.size() >> 8));
  hello += a.key;
  if (send(sock.get(), hello.data(), hello.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(hello.size())) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (DWORD e = ReadAnswer(sock.get(), std::chrono::steady_clock::now() + kAnswerGuard, answer)) {
    return e;
  }
  *fd = std::move(sock);
  return 0;
}

uint8_t AccessRights(DWORD desired) {
  uint8_t rights = 0;
  if ((desired & (GENERIC_READ | GENERIC_ALL)) != 0) rights |= kAccessRead;
  if ((desired & (GENERIC_WRITE | GENERIC_ALL)) != 0) rights |= kAccessWrite;
  return rights;
}

// ---- I/O on either end -------------------------------------------------------

enum class Op { kRead, kWrite, kFlush };

// BeginIo - the connection for one operation on an end, or the error.
DWORD BeginIo(PipeEnd& end, uint8_t needed, std::shared_ptr<Connection>* conn,
              bool* message_mode) {
  std::lock_guard<std::mutex> lock(Pipes().lock);
  if (end.closed) return ERROR_INVALID_HANDLE;
  if ((end.access & needed) != needed) return ERROR_ACCESS_DENIED;
  if (end.server && end.state == InstanceState::kListening) return ERROR_PIPE_LISTENING;
  if (end.conn == nullptr) return ERROR_PIPE_NOT_CONNECTED;
  *conn = end.conn;
  if (message_mode != nullptr) *message_mode = end.read_mode == PIPE_READMODE_MESSAGE;
  return 0;
}

// IoError - the Win32 error for an outcome other than kOk.
DWORD IoError(PipeEnd& end, Io io, Op op) {
  switch (io) {
    case Io::kOk:
      return 0;
    case Io::kMoreData:
      return ERROR_MORE_DATA;
    case Io::kPeerClosed:
      return op == Op::kWrite ? ERROR_NO_DATA : ERROR_BROKEN_PIPE;
    case Io::kPeerDisconnected:
      // Only a server disconnects; a client that claims to has broken the pipe.
      return end.server ? ERROR_BROKEN_PIPE : ERROR_PIPE_NOT_CONNECTED;
    case Io::kLocalClosed: {
      // Closed meanwhile by another thread, or (a server) disconnected.
      std::lock_guard<std::mutex> lock(Pipes().lock);
      return end.closed ? ERROR_BROKEN_PIPE : ERROR_PIPE_NOT_CONNECTED;
    }
  }
  return ERROR_BROKEN_PIPE;
}

}  // namespace

// ---- Entry points for files.cpp ----------------------------------------------

bool IsPipePath(std::string_view path) {
  if (path.size() < kPipePrefix.size()) return false;
  for (size_t i = 0; i < kPipePrefix.size(); ++i) {
    if (FoldAscii(path[i]) != kPipePrefix[i]) return false;
  }
  return true;
}

HANDLE PipeOpen(const char* path, DWORD access) {
  PipeAddress address;
  if (DWORD e = ResolvePipe(path, &address)) {
    return FailHandle(e == ERROR_INVALID_NAME ? ERROR_FILE_NOT_FOUND : e);
  }
  const uint8_t rights = AccessRights(access);
  Fd sock;
  Answer answer;
  if (DWORD e = Ask(address, kOpOpen, rights, &sock, &answer)) return FailHandle(e);
  switch (answer.status) {
    case kAnswerOpened:
      break;
    case kAnswerBusy:
      return FailHandle(ERROR_PIPE_BUSY);
    case kAnswerDenied:
      return FailHandle(ERROR_ACCESS_DENIED);
    default:
      return FailHandle(ERROR_FILE_NOT_FOUND);
  }
  std::shared_ptr<Connection> conn = Connection::Create(std::move(sock));
  if (conn == nullptr) return FailHandle(ERROR_TOO_MANY_OPEN_FILES);
  // A client end starts in byte read mode, whatever the pipe's type.
  auto end = std::make_shared<PipeEnd>(false, answer.type, PIPE_READMODE_BYTE, rights);
  end->conn = std::move(conn);
  return InsertHandle(std::move(end));
}

BOOL PipeRead(Object& object, void* buffer, DWORD size, DWORD* read) {
  auto* end = dynamic_cast<PipeEnd*>(&object);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  std::shared_ptr<Connection> conn;
  bool message_mode = false;
  if (DWORD e = BeginIo(*end, kAccessRead, &conn, &message_mode)) return FailBool(e);
  const Io io = conn->Read(buffer, size, message_mode, read);
  return io == Io::kOk ? TRUE : FailBool(IoError(*end, io, Op::kRead));
}

BOOL PipeWrite(Object& object, const void* data, DWORD size, DWORD* written) {
  auto* end = dynamic_cast<PipeEnd*>(&object);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  const bool message_pipe = end->type == PIPE_TYPE_MESSAGE;
  if (message_pipe && size > kMaxMessage) return FailBool(ERROR_INVALID_PARAMETER);
  std::shared_ptr<Connection> conn;
  if (DWORD e = BeginIo(*end, kAccessWrite, &conn, nullptr)) return FailBool(e);
  const Io io = conn->Write(data, size, message_pipe);
  if (io != Io::kOk) return FailBool(IoError(*end, io, Op::kWrite));
  *written = size;
  return TRUE;
}

BOOL PipeFlush(Object& object) {
  auto* end = dynamic_cast<PipeEnd*>(&object);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  std::shared_ptr<Connection> conn;
  if (DWORD e = BeginIo(*end, kAccessWrite, &conn, nullptr)) {
    // A server instance without a client has nothing to flush.
    const bool idle = e == ERROR_PIPE_LISTENING || (e == ERROR_PIPE_NOT_CONNECTED && end->server);
    return idle ? TRUE : FailBool(e);
  }
  const Io io = conn->Flush();
  return io == Io::kOk ? TRUE : FailBool(IoError(*end, io, Op::kFlush));
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// CreateNamedPipeA - create one instance of a named pipe; the first one
// creates the name. The new instance listens at once: a client may connect
// before ConnectNamedPipe.
//   lpName (in): "\\.\pipe\NAME", at most 256 characters, any case.
//   dwOpenMode (in): PIPE_ACCESS_INBOUND, _OUTBOUND or _DUPLEX, optionally
//     FILE_FLAG_FIRST_PIPE_INSTANCE and FILE_FLAG_WRITE_THROUGH (no effect).
//   dwPipeMode (in): PIPE_TYPE_BYTE or _MESSAGE, PIPE_READMODE_BYTE or
//     _MESSAGE (message needs a message type), PIPE_WAIT, PIPE_ACCEPT_ or
//     _REJECT_REMOTE_CLIENTS (every client is local).
//   nMaxInstances (in): 1 to 254, or PIPE_UNLIMITED_INSTANCES; the first
//     instance's value holds for the name.
//   nOutBufferSize, nInBufferSize, lpSecurityAttributes: accepted, unused.
//   nDefaultTimeOut (in): ms for WaitNamedPipeA with NMPWAIT_USE_DEFAULT_WAIT;
//     0 means 50.
// Returns the server handle or INVALID_HANDLE_VALUE with:
// ERROR_PATH_NOT_FOUND (null name), ERROR_INVALID_NAME (not a pipe name),
// ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_PARAMETER (bad or unsupported
// modes: PIPE_NOWAIT, FILE_FLAG_OVERLAPPED; bad instance count),
// ERROR_PIPE_BUSY (every allowed instance exists), ERROR_ACCESS_DENIED (first
// instance asked for but one exists; another type or direction than the
// existing instances; another process serves the name; an unusable runtime
// folder). Fault class "open".
HANDLE WINAPI CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode,
                               DWORD nMaxInstances, DWORD nOutBufferSize, DWORD nInBufferSize,
                               DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (FaultPoint(kFaultOpen, "CreateNamedPipeA", ERROR_PIPE_BUSY)) return INVALID_HANDLE_VALUE;
  if (lpName == nullptr) return FailHandle(ERROR_PATH_NOT_FOUND);
  const DWORD access = dwOpenMode & PIPE_ACCESS_DUPLEX;
  const DWORD known_open =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_WRITE_THROUGH;
  const DWORD known_pipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS;
  const DWORD type = dwPipeMode & PIPE_TYPE_MESSAGE;
  if (access == 0 || (dwOpenMode & ~known_open) != 0 || (dwPipeMode & ~known_pipe) != 0 ||
      ((dwPipeMode & PIPE_READMODE_MESSAGE) != 0 && type != PIPE_TYPE_MESSAGE) ||
      nMaxInstances == 0 || nMaxInstances > PIPE_UNLIMITED_INSTANCES) {
    return FailHandle(ERROR_INVALID_PARAMETER);
  }
  PipeAddress address;
  if (DWORD e = ResolvePipe(lpName, &address)) return FailHandle(e);

  Registry& r = Pipes();
  std::unique_lock<std::mutex> lock(r.lock);
  // A name whose last instance is closing on another thread is reusable once gone.
  auto it = r.listeners.find(address.socket_path);
  while (it != r.listeners.end() && it->second->closing) {
    r.listener_gone.wait(lock);
    it = r.listeners.find(address.socket_path);
  }
  std::shared_ptr<Listener> listener;
  if (it != r.listeners.end()) {
    listener = it->second;
    if ((dwOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0 || listener->type != type ||
        listener->access != access) {
      return FailHandle(ERROR_ACCESS_DENIED);
    }
    if (listener->max_instances != PIPE_UNLIMITED_INSTANCES &&
        listener->instances.size() >= listener->max_instances) {
      return FailHandle(ERROR_PIPE_BUSY);
    }
  } else {
    listener = std::make_shared<Listener>(address, type, access, nMaxInstances,
                                          nDefaultTimeOut != 0 ? nDefaultTimeOut
                                                               : kSystemDefaultTimeOut);
    if (DWORD e = listener->Open()) return FailHandle(e);
    r.listeners.emplace(address.socket_path, listener);
  }
  uint8_t rights = 0;
  if ((access & PIPE_ACCESS_INBOUND) != 0) rights |= kAccessRead;
  if ((access & PIPE_ACCESS_OUTBOUND) != 0) rights |= kAccessWrite;
  auto end = std::make_shared<PipeEnd>(true, type, dwPipeMode & PIPE_READMODE_MESSAGE, rights);
  end->listener = listener;
  listener->instances.push_back(end.get());
  listener->Wake();  // clients waiting in WaitNamedPipeA
  lock.unlock();
  return InsertHandle(std::move(end));
}

// ConnectNamedPipe - wait until a client takes this server instance.
//   lpOverlapped: must be null.
// A disconnected instance listens again first. Returns TRUE once a client
// is connected; FALSE with ERROR_PIPE_CONNECTED when one connected before
// the call, ERROR_NO_DATA when that client has already closed,
// ERROR_BROKEN_PIPE when another thread closed the handle meanwhile,
// ERROR_INVALID_FUNCTION on a client handle, ERROR_INVALID_HANDLE.
BOOL WINAPI ConnectNamedPipe(HANDLE hNamedPipe, LPOVERLAPPED lpOverlapped) {
  if (FaultPoint({}, "ConnectNamedPipe", ERROR_PIPE_NOT_CONNECTED)) return FALSE;
  if (lpOverlapped != nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server) return FailBool(ERROR_INVALID_FUNCTION);
  std::unique_lock<std::mutex> lock(Pipes().lock);
  if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
  if (end->state == InstanceState::kConnected) {
    std::shared_ptr<Connection> conn = end->conn;
    lock.unlock();
    return FailBool(conn != nullptr && conn->PeerGone() ? ERROR_NO_DATA : ERROR_PIPE_CONNECTED);
  }
  if (end->state == InstanceState::kDisconnected) {
    end->state = InstanceState::kListening;
    end->listener->Wake();
  }
  end->changed.wait(lock,
                    [&] { return end->closed || end->state != InstanceState::kListening; });
  return end->closed ? FailBool(ERROR_BROKEN_PIPE) : TRUE;
}

// DisconnectNamedPipe - end this server instance's connection: data not yet
// read by either side is discarded, and the client's reads and writes fail
// with ERROR_PIPE_NOT_CONNECTED. The instance takes no client until
// ConnectNamedPipe. FALSE with ERROR_PIPE_LISTENING when no client has come
// since it listens, ERROR_PIPE_NOT_CONNECTED when already disconnected,
// ERROR_NOT_SUPPORTED on a client handle.
BOOL WINAPI DisconnectNamedPipe(HANDLE hNamedPipe) {
  if (FaultPoint({}, "DisconnectNamedPipe", ERROR_PIPE_NOT_CONNECTED)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server) return FailBool(ERROR_NOT_SUPPORTED);
  std::shared_ptr<Connection> conn;
  {
    std::lock_guard<std::mutex> lock(Pipes().lock);
    if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
    if (end->state == InstanceState::kListening) return FailBool(ERROR_PIPE_LISTENING);
    if (end->state == InstanceState::kDisconnected) return FailBool(ERROR_PIPE_NOT_CONNECTED);
    conn = std::move(end->conn);
    end->state = InstanceState::kDisconnected;
    end->changed.notify_all();
  }
  if (conn != nullptr) conn->Disconnect();
  return TRUE;
}

// WaitNamedPipeA - wait until an instance of the pipe listens. Does not
// reserve it: the next CreateFileA may still find the pipe busy.
//   nTimeOut (in): virtual ms on the scaled clock; NMPWAIT_USE_DEFAULT_WAIT
//     takes the server's default, NMPWAIT_WAIT_FOREVER never times out.
// Returns TRUE, or FALSE with ERROR_FILE_NOT_FOUND (no such pipe, or it went
// away while waiting), ERROR_SEM_TIMEOUT (no instance listened in time),
// ERROR_PATH_NOT_FOUND (null or not a pipe name).
BOOL WINAPI WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut) {
  if (FaultPoint({}, "WaitNamedPipeA", ERROR_SEM_TIMEOUT)) return FALSE;
  if (lpNamedPipeName == nullptr) return FailBool(ERROR_PATH_NOT_FOUND);
  PipeAddress address;
  if (DWORD e = ResolvePipe(lpNamedPipeName, &address)) {
    return FailBool(e == ERROR_INVALID_NAME ? ERROR_PATH_NOT_FOUND : e);
  }
  Fd sock;
  Answer answer;
  if (DWORD e = Ask(address, kOpWait, 0, &sock, &answer)) {
    return FailBool(e == ERROR_PIPE_BUSY ? ERROR_SEM_TIMEOUT : e);
  }
  if (answer.status == kAnswerReady) return TRUE;
  if (answer.status != kAnswerWaiting) return FailBool(ERROR_FILE_NOT_FOUND);

  const bool forever = nTimeOut == NMPWAIT_WAIT_FOREVER;
  const DWORD ms = nTimeOut == NMPWAIT_USE_DEFAULT_WAIT ? answer.default_timeout : nTimeOut;
  const auto deadline = RealDeadline(ms);
  for (;;) {
    timespec ts = {0, 0};
    if (!forever) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) break;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    pollfd p = {sock.get(), POLLIN, 0};
    const int n = ppoll(&p, 1, forever ? nullptr : &ts, nullptr);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      Answer ready;
      const DWORD e = ReadAnswer(sock.get(), std::chrono::steady_clock::now() + kAnswerGuard, &ready);
      if (e == 0 && ready.status == kAnswerReady) return TRUE;
      return FailBool(ERROR_FILE_NOT_FOUND);
    }
  }
  return FailBool(ERROR_SEM_TIMEOUT);
}

// SetNamedPipeHandleState - set an end's read mode.
//   lpMode (in, may be null): PIPE_READMODE_BYTE or PIPE_READMODE_MESSAGE,
//     with PIPE_WAIT. Message mode needs a message-type pipe; PIPE_NOWAIT is
//     not supported.
//   lpMaxCollectionCount, lpCollectDataTimeout: they govern only pipes to
//     another machine; ignored.
// Errors: ERROR_INVALID_PARAMETER (the mode), ERROR_ACCESS_DENIED (a client
// end opened without GENERIC_WRITE), ERROR_INVALID_HANDLE.
BOOL WINAPI SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode,
                                    LPDWORD lpMaxCollectionCount, LPDWORD lpCollectDataTimeout) {
  if (FaultPoint({}, "SetNamedPipeHandleState", ERROR_INVALID_PARAMETER)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (!end->server && (end->access & kAccessWrite) == 0) return FailBool(ERROR_ACCESS_DENIED);
  if (lpMode == nullptr) return TRUE;
  const DWORD mode = *lpMode;
  if ((mode & ~static_cast<DWORD>(PIPE_READMODE_MESSAGE)) != 0 ||
      ((mode & PIPE_READMODE_MESSAGE) != 0 && end->type != PIPE_TYPE_MESSAGE)) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard<std::mutex> lock(Pipes().lock);
  if (end->closed) return FailBool(ERROR_INVALID_HANDLE);
  end->read_mode = mode;
  return TRUE;
}

// PeekNamedPipe - look at unread data without taking it, without waiting.
//   lpBuffer (out, may be null: nothing copied), nBufferSize (in).
//   lpBytesRead, lpTotalBytesAvail, lpBytesLeftThisMessage (out, each may be
//     null): bytes copied, bytes unread in all, and of the first message the
//     bytes not copied (0 on a byte pipe). A message pipe copies from its
//     first message only, whatever the read mode.
// Errors as for ReadFile: ERROR_BROKEN_PIPE once the other end is gone and
// nothing is left, ERROR_PIPE_NOT_CONNECTED, ERROR_PIPE_LISTENING.
BOOL WINAPI PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize,
                          LPDWORD lpBytesRead, LPDWORD lpTotalBytesAvail,
                          LPDWORD lpBytesLeftThisMessage) {
  if (FaultPoint({}, "PeekNamedPipe", ERROR_BROKEN_PIPE)) return FALSE;
  auto end = LookupHandle<PipeEnd>(hNamedPipe);
  if (end == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  std::shared_ptr<Connection> conn;
  if (DWORD e = BeginIo(*end, kAccessRead, &conn, nullptr)) return FailBool(e);
  DWORD copied = 0, available = 0, left = 0;
  const Io io = conn->Peek(lpBuffer, lpBuffer != nullptr ? nBufferSize : 0,
                           end->type == PIPE_TYPE_MESSAGE, &copied, &available, &left);
  if (io != Io::kOk) return FailBool(IoError(*end, io, Op::kRead));
  if (lpBytesRead != nullptr) *lpBytesRead = copied;
  if (lpTotalBytesAvail != nullptr) *lpTotalBytesAvail = available;
  if (lpBytesLeftThisMessage != nullptr) *lpBytesLeftThisMessage = left;
  return TRUE;
}

}  // extern "C"
