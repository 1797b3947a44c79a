// frame.cpp - qxwire, both sides: reading and writing messages (see frame.h).
#include "qxwire/frame.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace qxwire {
namespace {

// ReadAll - exactly size bytes; 0 on success, 1 when the peer closed before
// the first byte, -1 when it closed or failed after some, -2 when wait gave up.
int ReadAll(int fd, char* data, size_t size, const Wait& wait) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = recv(fd, data + done, size - done, wait ? MSG_DONTWAIT : 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait(fd, POLLIN)) return -2;
      continue;
    }
    if (n <= 0) return done == 0 ? 1 : -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

bool WriteAll(int fd, std::string_view bytes, const Wait& wait) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | (wait ? MSG_DONTWAIT : 0));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait(fd, POLLOUT)) return false;
      continue;
    }
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void PutWord(std::string& out, uint32_t word) {
  out += static_cast<char>(word >> 24);
  out += static_cast<char>(word >> 16);
  out += static_cast<char>(word >> 8);
  out += static_cast<char>(word);
}

size_t Count(const unsigned char b[4]) {
  return (size_t{b[0]} << 24) | (size_t{b[1]} << 16) | (size_t{b[2]} << 8) | size_t{b[3]};
}

// A read part's result as ReadMessage reports it; first tells whether no
// byte of the message has come yet.
ReadResult PartResult(int got, bool first) {
  if (got == -2) return ReadResult::kGaveUp;
  if (got == 1 && first) return ReadResult::kClosed;
  return ReadResult::kBroken;
}

}  // namespace

Word ParseWord(const unsigned char bytes[4]) {
  const size_t word = Count(bytes);
  return {word & ~size_t{kBodyFlag}, (word & kBodyFlag) != 0};
}

bool EncodeMessage(const Message& message, std::string& out) {
  if (message.head.size() >= kBodyFlag || (message.body && message.body->size() > 0xFFFFFFFFu)) return false;
  std::string bytes;
  bytes.reserve(4 + message.head.size() + (message.body ? 4 + message.body->size() : 0));
  PutWord(bytes, static_cast<uint32_t>(message.head.size()) | (message.body ? kBodyFlag : 0));
  bytes += message.head;
  if (message.body) {
    PutWord(bytes, static_cast<uint32_t>(message.body->size()));
    bytes += *message.body;
  }
  out = std::move(bytes);
  return true;
}

ReadResult ReadMessage(int fd, Message& message, const Limits& limits, const Wait& wait) {
  unsigned char word[4];
  int got = ReadAll(fd, reinterpret_cast<char*>(word), sizeof word, wait);
  if (got != 0) return PartResult(got, true);
  const Word w = ParseWord(word);
  if (w.head > limits.head) return ReadResult::kTooLarge;
  message.head.assign(w.head, '\0');
  message.body.reset();
  if (w.head > 0 && (got = ReadAll(fd, message.head.data(), w.head, wait)) != 0) return PartResult(got, false);
  if (!w.body) return ReadResult::kFrame;
  unsigned char size[4];
  if ((got = ReadAll(fd, reinterpret_cast<char*>(size), sizeof size, wait)) != 0) return PartResult(got, false);
  const size_t body = Count(size);
  if (body > limits.body) return ReadResult::kTooLarge;
  message.body.emplace(body, '\0');
  if (body > 0 && (got = ReadAll(fd, message.body->data(), body, wait)) != 0) return PartResult(got, false);
  return ReadResult::kFrame;
}

bool WriteMessage(int fd, const Message& message, const Wait& wait) {
  std::string bytes;
  return EncodeMessage(message, bytes) && WriteAll(fd, bytes, wait);
}

ReadResult ReadFrame(int fd, std::string& text, size_t max, const Wait& wait) {
  Message message;
  const ReadResult got = ReadMessage(fd, message, Limits{max, 0}, wait);
  if (got != ReadResult::kFrame) return got;
  if (message.body) return ReadResult::kTooLarge;
  text = std::move(message.head);
  return got;
}

bool WriteFrame(int fd, std::string_view text, const Wait& wait) {
  return WriteMessage(fd, Message{std::string(text), std::nullopt}, wait);
}

}  // namespace qxwire
