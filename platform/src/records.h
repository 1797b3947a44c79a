// records.h - POSIX platform layer, internal: the record connection, the
// framing a named pipe's two ends exchange over a Stream (stream.h) once the
// handshake is done, with what each end has received and not yet read.
//
// Each record is a kind byte and a 32-bit little-endian length:
//
//   1 data             that many bytes follow (at most kMaxRecordData)
//   2 acknowledgement  that many data records were read through to their
//                      end on the other side (what Flush waits for)
//   3 disconnect       the other end ends the connection (length 0); data
//                      records before it that were not read are discarded
//
// Anything else, or a longer data record, means the peer does not speak the
// protocol: the connection then counts as closed by the peer.
//
// Reading. Every operation first takes in all that the socket holds (up to
// kInboxLimit bytes of unread records), so a disconnect record that has
// arrived discards the records before it. Reads, writes and flushes may run
// on different threads at once; reads are serialised among themselves, and
// so are writes, so that a record goes out and comes in whole. Shutdown from
// any thread wakes every call blocked on the connection.
#ifndef QX_PLATFORM_RECORDS_H
#define QX_PLATFORM_RECORDS_H

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "stream.h"

namespace qxplat {

inline constexpr size_t kMaxRecordData = size_t{16} << 20;
inline constexpr size_t kInboxLimit = size_t{32} << 20;  // received but unread, per connection

// Little-endian fields, as records and the pipe handshake carry them.
uint16_t LoadLe16(const char* p);
uint32_t LoadLe32(const char* p);
void AppendLe32(std::string* out, uint32_t v);

// The outcome of one operation on a record connection.
enum class RecordIo {
  kOk,
  kMoreData,          // a one-record read: the buffer held part of the record
  kPeerClosed,        // the other end is gone (closed, crashed, or sent garbage)
  kPeerDisconnected,  // the other end sent a disconnect record
  kLocalClosed,       // this end was shut down (Shutdown or Disconnect) meanwhile
};

class RecordConnection {
 public:
  // Create - take over a connected socket. Null, and the socket closed,
  // when no descriptor is left for the stream's wake-up.
  static std::shared_ptr<RecordConnection> Create(Fd socket);

  explicit RecordConnection(std::unique_ptr<Stream> stream) : stream_(std::move(stream)) {}

  // Read - wait for data and deliver up to size bytes of it. one_record:
  // from the first unread record only, kMoreData when it did not fit (the
  // rest comes next); otherwise across records until the buffer is full or
  // nothing more has arrived. *read is always set.
  RecordIo Read(void* buffer, DWORD size, bool one_record, DWORD* read);

  // Write - send size bytes. one_record: exactly one data record, also when
  // size is 0 (at most kMaxRecordData: the caller checks); otherwise
  // nothing for 0 bytes, else records of at most kMaxRecordData bytes.
  // Waits while the socket is full.
  RecordIo Write(const void* data, DWORD size, bool one_record);

  // Flush - wait until the other end has read every data record sent so far.
  RecordIo Flush();

  // Peek - copy without consuming, never waiting: from the first record
  // only (one_record) or across records.
  //   copied (out): bytes copied; available (out): unread bytes in all;
  //   left_in_record (out): with one_record, bytes of the first record not
  //   copied, else 0.
  RecordIo Peek(void* buffer, DWORD size, bool one_record, DWORD* copied, DWORD* available,
                DWORD* left_in_record);

  // PeerGone - true when the other end has gone, as far as has arrived.
  bool PeerGone();

  // Disconnect - send a disconnect record when no write of this end is in
  // progress (else the peer will see the connection end), then Shutdown.
  void Disconnect();

  // Shutdown - end the connection both ways; calls blocked on it return
  // kLocalClosed. The socket is closed when the last user drops it.
  void Shutdown();

 private:
  static size_t Cost(size_t length) { return length + 64; }

  void DrainLocked();
  bool ParseLocked();
  void WaitForInputLocked(std::unique_lock<std::mutex>& lock);
  RecordIo TakeRecordLocked(void* buffer, DWORD size, DWORD* read);
  RecordIo TakeBytesLocked(void* buffer, DWORD size, DWORD* read);
  void PopFrontLocked();
  void QueueAcksLocked();
  void SendPendingLocked();
  void SendAcks();
  bool SendAll(const char* data, size_t size);
  RecordIo EndedLocked() const;
  RecordIo WriteFailure();

  const std::unique_ptr<Stream> stream_;
  std::mutex read_lock_;
  std::mutex write_lock_;  // taken before lock_ when both are needed
  std::mutex lock_;
  // Waiting for input: one waiting thread polls the stream (Wait, woken by
  // others through Wake when they changed something it waits for); the
  // others wait on round_done_ for the end of its round. Every thread that
  // takes data out of the socket bumps the round, so no waiter sleeps on
  // data another thread has already taken in.
  std::condition_variable round_done_;
  // Guarded by lock_ (pending_out_ changes also need write_lock_):
  std::string raw_;                // received bytes not yet a whole record
  std::deque<std::string> inbox_;  // whole data records; the first may be partly read
  size_t front_offset_ = 0;
  size_t inbox_cost_ = 0;
  bool eof_ = false;
  bool hangup_ = false;
  bool disconnected_ = false;
  bool polling_ = false;
  uint64_t round_ = 0;
  uint64_t sent_ = 0;    // data records sent
  uint64_t acked_ = 0;   // data records the other end has read through
  uint64_t to_ack_ = 0;  // data records read here, not yet acknowledged
  std::string pending_out_;
};

}  // namespace qxplat

#endif  // QX_PLATFORM_RECORDS_H
