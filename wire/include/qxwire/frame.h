// frame.h - qxwire, both sides: the framing of every message on qxsimd's
// sockets. A connection carries messages one after another for as long as
// it is used; each is a JSON head, and may carry a binary body after it:
//
//   word    32 bits, big-endian: bit 31 set when a body follows, bits 0-30
//           the head's byte count
//   head    that many bytes of JSON text (UTF-8)
//   [size]  with a body: its byte count, 32 bits big-endian
//   [body]  that many bytes, as they are
//
// Bulk bytes (documents, received bytes, later port traffic and firmware)
// travel as the body rather than as hex inside the head. A message without
// a body is a 32-bit count and JSON text, the form every client has always
// sent; no head is ever large enough to set bit 31 by its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qxwire {

// Requests' heads are at most kMaxRequest bytes; replies' heads may be
// larger (a world with many printers), up to kMaxReply. A body is at most
// kMaxBody bytes (a spooled job's limit) either way.
constexpr size_t kMaxRequest = size_t{1} << 20;
constexpr size_t kMaxReply = size_t{16} << 20;
constexpr size_t kMaxBody = size_t{16} << 20;
constexpr uint32_t kBodyFlag = 0x80000000u;

struct Message {
  std::string head;                 // JSON text
  std::optional<std::string> body;  // the binary body, when there is one
};

// The most a reader takes of a message; a larger announced head or body is
// not read.
struct Limits {
  size_t head = kMaxRequest;
  size_t body = kMaxBody;
};

enum class ReadResult { kFrame, kClosed, kTooLarge, kBroken, kGaveUp };

// Wait - called when fd has nothing to read (events POLLIN) or no room to
// write (POLLOUT); returns when it may have, or false to give up.
using Wait = std::function<bool(int fd, short events)>;

// EncodeMessage - the bytes of a message on the wire; false (out untouched)
// when the head or the body is larger than a count can announce.
bool EncodeMessage(const Message& message, std::string& out);

// ParseWord - the head count and body flag of a message's first word.
struct Word {
  size_t head = 0;
  bool body = false;
};
Word ParseWord(const unsigned char bytes[4]);

// ReadMessage - one message from fd.
//   limits (in): the largest head and body taken; beyond them kTooLarge, and
//   the connection must be closed (the rest was not read).
//   wait (in): empty to block in the reads; else reads do not block and wait
//   is asked when there is nothing to read.
// kClosed when the peer closed before a message began; kBroken when it closed
// or failed inside one; kGaveUp when wait gave up, before or inside one.
ReadResult ReadMessage(int fd, Message& message, const Limits& limits, const Wait& wait = {});

// WriteMessage - write one message; false when the peer is gone, a part is
// larger than a count can announce, or wait (as for ReadMessage) gave up.
bool WriteMessage(int fd, const Message& message, const Wait& wait = {});

// ReadFrame, WriteFrame - a message of JSON text only. ReadFrame refuses a
// message with a body as kTooLarge.
ReadResult ReadFrame(int fd, std::string& text, size_t max, const Wait& wait = {});
bool WriteFrame(int fd, std::string_view text, const Wait& wait = {});

}  // namespace qxwire
