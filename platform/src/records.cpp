// records.cpp - POSIX platform layer, internal: the record connection over
// a Stream (see records.h).
#include "records.h"

#include <algorithm>
#include <cstring>

namespace qxplat {
namespace {

constexpr size_t kRecordHeader = 5;
constexpr uint8_t kRecordData = 1;
constexpr uint8_t kRecordAck = 2;
constexpr uint8_t kRecordDisconnect = 3;
constexpr size_t kInlineLimit = size_t{64} << 10;  // data records sent in one piece

void AppendRecordHeader(std::string* out, uint8_t kind, uint32_t length) {
  out->push_back(static_cast<char>(kind));
  AppendLe32(out, length);
}

}  // namespace

uint16_t LoadLe16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t LoadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

void AppendLe32(std::string* out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::shared_ptr<RecordConnection> RecordConnection::Create(Fd socket) {
  std::unique_ptr<Stream> stream = Stream::Create(std::move(socket));
  if (stream == nullptr) return nullptr;
  return std::make_shared<RecordConnection>(std::move(stream));
}

RecordIo RecordConnection::Read(void* buffer, DWORD size, bool one_record, DWORD* read) {
  *read = 0;
  std::lock_guard<std::mutex> reader(read_lock_);
  RecordIo io;
  {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      DrainLocked();
      if (const RecordIo ended = EndedLocked(); ended != RecordIo::kOk) return ended;
      if (!inbox_.empty()) break;
      if (eof_) return RecordIo::kPeerClosed;
      WaitForInputLocked(lock);
    }
    io = one_record ? TakeRecordLocked(buffer, size, read) : TakeBytesLocked(buffer, size, read);
  }
  SendAcks();
  return io;
}

RecordIo RecordConnection::Write(const void* data, DWORD size, bool one_record) {
  std::lock_guard<std::mutex> writer(write_lock_);
  std::string prefix;  // acknowledgements queued before this write
  {
    std::lock_guard<std::mutex> lock(lock_);
    DrainLocked();
    if (const RecordIo ended = EndedLocked(); ended != RecordIo::kOk) return ended;
    if (eof_) return RecordIo::kPeerClosed;
    QueueAcksLocked();
    prefix.swap(pending_out_);
  }
  if (!prefix.empty() && !SendAll(prefix.data(), prefix.size())) return WriteFailure();
  if (!one_record && size == 0) return RecordIo::kOk;
  const char* p = static_cast<const char*>(data);
  size_t remaining = size;
  uint64_t records = 0;
  do {
    const size_t chunk = std::min(remaining, kMaxRecordData);
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
  return RecordIo::kOk;
}

RecordIo RecordConnection::Flush() {
  std::unique_lock<std::mutex> lock(lock_);
  const uint64_t target = sent_;
  for (;;) {
    DrainLocked();
    if (const RecordIo ended = EndedLocked(); ended != RecordIo::kOk) return ended;
    if (acked_ >= target) return RecordIo::kOk;
    if (eof_ || hangup_) return RecordIo::kPeerClosed;
    WaitForInputLocked(lock);
  }
}

RecordIo RecordConnection::Peek(void* buffer, DWORD size, bool one_record, DWORD* copied,
                                DWORD* available, DWORD* left_in_record) {
  std::lock_guard<std::mutex> lock(lock_);
  DrainLocked();
  if (const RecordIo ended = EndedLocked(); ended != RecordIo::kOk) return ended;
  if (inbox_.empty() && eof_) return RecordIo::kPeerClosed;
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
    if (one_record) break;
  }
  *copied = static_cast<DWORD>(n);
  *available = static_cast<DWORD>(std::min<size_t>(total, MAXDWORD));
  *left_in_record = one_record && !inbox_.empty()
                        ? static_cast<DWORD>(inbox_.front().size() - front_offset_ - n)
                        : 0;
  return RecordIo::kOk;
}

bool RecordConnection::PeerGone() {
  std::lock_guard<std::mutex> lock(lock_);
  DrainLocked();
  return !stream_->closed() && (eof_ || disconnected_);
}

void RecordConnection::Disconnect() {
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

void RecordConnection::Shutdown() {
  std::lock_guard<std::mutex> lock(lock_);
  stream_->Close();
  ++round_;
  round_done_.notify_all();
}

// kOk while neither this end nor the peer has ended the connection on purpose.
RecordIo RecordConnection::EndedLocked() const {
  if (stream_->closed()) return RecordIo::kLocalClosed;
  if (disconnected_) return RecordIo::kPeerDisconnected;
  return RecordIo::kOk;
}

// Takes in everything the socket holds (up to the inbox limit) and parses
// it into data records, acknowledgements and a disconnect.
void RecordConnection::DrainLocked() {
  bool changed = false;
  char chunk[16384];
  while (!eof_ && !disconnected_ && inbox_cost_ < kInboxLimit) {
    size_t n = 0;
    const Stream::Received got = stream_->Receive(chunk, sizeof chunk, &n);
    if (got == Stream::Received::kNothingYet) break;
    changed = true;
    if (got == Stream::Received::kEnd) {
      eof_ = true;  // orderly end, or a reset
      break;
    }
    raw_.append(chunk, n);
    if (!ParseLocked()) eof_ = true;  // garbage: treat the peer as gone
  }
  if (changed) {
    ++round_;
    round_done_.notify_all();
    if (polling_) stream_->Wake();
  }
}

// False when the stream holds something that is not a record.
bool RecordConnection::ParseLocked() {
  size_t pos = 0;
  while (raw_.size() - pos >= kRecordHeader) {
    const auto kind = static_cast<uint8_t>(raw_[pos]);
    const uint32_t length = LoadLe32(&raw_[pos + 1]);
    if (kind == kRecordData) {
      if (length > kMaxRecordData) return false;
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

// Called with lock_ held, returns with it held; see round_done_.
void RecordConnection::WaitForInputLocked(std::unique_lock<std::mutex>& lock) {
  if (polling_) {
    const uint64_t round = round_;
    round_done_.wait(lock, [&] { return round_ != round; });
    return;
  }
  polling_ = true;
  // A full inbox is not read further, so readiness to read would only spin.
  const bool for_input = inbox_cost_ < kInboxLimit;
  const bool for_output = !pending_out_.empty();
  lock.unlock();
  const Stream::Ready ready = stream_->Wait(for_input, for_output);
  lock.lock();
  polling_ = false;
  if (ready.hangup) hangup_ = true;
  if (ready.output && !pending_out_.empty()) {
    std::unique_lock<std::mutex> writer(write_lock_, std::try_to_lock);
    if (writer.owns_lock()) SendPendingLocked();
  }
  ++round_;
  round_done_.notify_all();
}

RecordIo RecordConnection::TakeRecordLocked(void* buffer, DWORD size, DWORD* read) {
  const std::string& front = inbox_.front();
  const size_t left = front.size() - front_offset_;
  const size_t n = std::min<size_t>(size, left);
  if (n > 0) std::memcpy(buffer, front.data() + front_offset_, n);
  *read = static_cast<DWORD>(n);
  if (n < left) {
    front_offset_ += n;
    return RecordIo::kMoreData;
  }
  PopFrontLocked();
  return RecordIo::kOk;
}

RecordIo RecordConnection::TakeBytesLocked(void* buffer, DWORD size, DWORD* read) {
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
  return RecordIo::kOk;
}

void RecordConnection::PopFrontLocked() {
  const bool was_full = inbox_cost_ >= kInboxLimit;
  inbox_cost_ -= Cost(inbox_.front().size());
  inbox_.pop_front();
  front_offset_ = 0;
  ++to_ack_;
  if (was_full && polling_) stream_->Wake();  // the poller may read again
}

// Needs write_lock_ and lock_: acknowledgements go into the stream only
// between whole records.
void RecordConnection::QueueAcksLocked() {
  while (to_ack_ > 0) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(to_ack_, 0xFFFFFFFFu));
    AppendRecordHeader(&pending_out_, kRecordAck, n);
    to_ack_ -= n;
  }
}

// Needs write_lock_ and lock_. Sends what fits now; keeps the rest.
void RecordConnection::SendPendingLocked() {
  pending_out_.erase(0, stream_->SendNow(pending_out_.data(), pending_out_.size()));
}

// A reader's acknowledgements go out at once unless a writer is busy, in
// which case the writer sends them after its record.
void RecordConnection::SendAcks() {
  std::unique_lock<std::mutex> writer(write_lock_, std::try_to_lock);
  if (!writer.owns_lock()) return;
  std::lock_guard<std::mutex> lock(lock_);
  QueueAcksLocked();
  SendPendingLocked();
}

// Needs write_lock_. False when the peer is gone or this end shut down.
bool RecordConnection::SendAll(const char* data, size_t size) {
  return stream_->SendAll(data, size) == Stream::Sent::kAll;
}

RecordIo RecordConnection::WriteFailure() {
  std::lock_guard<std::mutex> lock(lock_);
  DrainLocked();
  if (const RecordIo ended = EndedLocked(); ended != RecordIo::kOk) return ended;
  return RecordIo::kPeerClosed;
}

}  // namespace qxplat
