// device.cpp - qxsimd, simulated-world side: the emulated printer on one port
// (see device.h).
#include "device.h"

#include <qxplatform.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace qxsim {

DeviceEmulator::DeviceEmulator(std::string port) : port_(std::move(port)) {}

bool DeviceEmulator::attached() const {
  std::lock_guard<std::mutex> guard(lock_);
  return printer_.has_value();
}

std::optional<Device> DeviceEmulator::Description() const {
  std::lock_guard<std::mutex> guard(lock_);
  return printer_;
}

void DeviceEmulator::Attach(Device description) {
  std::lock_guard<std::mutex> guard(lock_);
  description.port = port_;
  printer_ = std::move(description);
  ChangedLocked();
}

void DeviceEmulator::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  printer_.reset();
  ChangedLocked();
}

void DeviceEmulator::ChangedLocked() {
  ++generation_;
  changed_.notify_all();
}

uint64_t DeviceEmulator::attached_order() const {
  std::lock_guard<std::mutex> guard(lock_);
  return attached_order_;
}

void DeviceEmulator::set_attached_order(uint64_t order) {
  std::lock_guard<std::mutex> guard(lock_);
  attached_order_ = order;
}

DeviceEmulator::Answer DeviceEmulator::Inquire(std::string_view inquiry) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!printer_) return {};
  return {AnswerInquiry(*printer_, inquiry), printer_->reply_delay_ms};
}

DeviceEmulator::Answer DeviceEmulator::Rfid(std::string_view request) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!printer_) return {};
  return {AnswerRfid(*printer_, request), printer_->reply_delay_ms};
}

bool DeviceEmulator::HasFault(std::string_view fault) const {
  std::lock_guard<std::mutex> guard(lock_);
  return printer_ && qxsim::HasFault(*printer_, fault);
}

void DeviceEmulator::KeepLocked(std::string_view bytes) {
  if (bytes.size() >= kMaxReceived) {
    received_.assign(bytes.substr(bytes.size() - kMaxReceived));
    return;
  }
  if (received_.size() + bytes.size() > kMaxReceived) {
    received_.erase(0, received_.size() + bytes.size() - kMaxReceived);
  }
  received_.append(bytes);
}

void DeviceEmulator::Receive(std::string_view bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  KeepLocked(bytes);
}

void DeviceEmulator::QueueReplyLocked(std::string reply, uint64_t due) {
  size_t queued = replies_.size();
  for (const OnItsWay& r : on_its_way_) queued += r.bytes.size();
  const size_t room = kMaxPendingReplies - std::min(kMaxPendingReplies, queued);
  reply.resize(std::min(room, reply.size()));
  if (reply.empty()) return;
  on_its_way_.push_back({due, std::move(reply)});
}

size_t DeviceEmulator::Write(std::string_view bytes, uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  if (BusyLocked(now)) return 0;
  KeepLocked(bytes);
  if (std::optional<std::string> reply = AnswerInquiry(*printer_, bytes)) {
    QueueReplyLocked(std::move(*reply), now + printer_->reply_delay_ms);
  }
  ChangedLocked();
  return bytes.size();
}

std::string DeviceEmulator::Read(size_t max, uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  // Replies come due in the order they were asked for.
  while (!on_its_way_.empty() && on_its_way_.front().due <= now) {
    replies_.insert(replies_.end(), on_its_way_.front().bytes.begin(), on_its_way_.front().bytes.end());
    on_its_way_.pop_front();
  }
  const size_t n = std::min(max, replies_.size());
  std::string out(replies_.begin(), replies_.begin() + static_cast<ptrdiff_t>(n));
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<ptrdiff_t>(n));
  return out;
}

std::optional<uint64_t> DeviceEmulator::NextReplyAt() const {
  std::lock_guard<std::mutex> guard(lock_);
  if (on_its_way_.empty()) return std::nullopt;
  return on_its_way_.front().due;
}

bool DeviceEmulator::AutoStatus(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!replies_.empty() || !on_its_way_.empty()) return true;
  if (!printer_) return false;
  std::optional<std::string> reply = AnswerInquiry(*printer_, std::string_view("\x1b" "IS", 3));
  if (!reply) return false;
  QueueReplyLocked(std::move(*reply), now + printer_->reply_delay_ms);
  return true;
}

void DeviceEmulator::DropReplies() {
  std::lock_guard<std::mutex> guard(lock_);
  replies_.clear();
  on_its_way_.clear();
}

uint64_t DeviceEmulator::generation() const {
  std::lock_guard<std::mutex> guard(lock_);
  return generation_;
}

void DeviceEmulator::WaitChange(uint64_t seen, uint64_t deadline, unsigned max_real_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  const uint64_t now = qxplat_clock_now_ms();
  if (generation_ != seen || now >= deadline) return;
  // Real milliseconds until the virtual deadline, rounded up so that the
  // wait never ends before it.
  const double real = std::ceil(static_cast<double>(deadline - now) / qxplat_clock_scale());
  const auto ms = static_cast<int64_t>(std::clamp(real, 1.0, static_cast<double>(max_real_ms)));
  changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return generation_ != seen; });
}

void DeviceEmulator::Poke() {
  std::lock_guard<std::mutex> guard(lock_);
  ChangedLocked();
}

std::string DeviceEmulator::Received(bool clear) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string bytes = received_;
  if (clear) received_.clear();
  return bytes;
}

size_t DeviceEmulator::received_size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return received_.size();
}

bool DeviceEmulator::Busy(uint64_t now) const {
  std::lock_guard<std::mutex> guard(lock_);
  return BusyLocked(now);
}

bool DeviceEmulator::BusyLocked(uint64_t now) const {
  if (!printer_ || Running(ProgressAt(flash_, now).state)) return true;
  return printer_->busy || qxsim::HasFault(*printer_, "not_responding") || (StatusWord(*printer_) & 0x8000) != 0;
}

uint8_t DeviceEmulator::StatusByte(uint64_t now) const {
  std::lock_guard<std::mutex> guard(lock_);
  uint8_t byte = BusyLocked(now) ? 0x40 : 0x00;
  if (!printer_) return static_cast<uint8_t>(byte | 0x20);
  if (qxsim::HasFault(*printer_, "paper_out")) byte |= 0x04;
  if (qxsim::HasFault(*printer_, "not_responding") || (StatusWord(*printer_) & 0x8000) != 0) {
    byte |= 0x08;
  } else {
    byte |= 0x80;
  }
  return byte;
}

std::string DeviceEmulator::DeviceId() const {
  std::lock_guard<std::mutex> guard(lock_);
  return printer_ ? printer_->device_id : std::string();
}

DeviceEmulator::Mode DeviceEmulator::mode(uint64_t now) const {
  std::lock_guard<std::mutex> guard(lock_);
  return Running(ProgressAt(flash_, now).state) ? Mode::kFlash : Mode::kPrinting;
}

std::string DeviceEmulator::StartFlash(std::string_view image, bool verify, unsigned block_ms,
                                       const std::string& file, uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  if (Running(ProgressAt(flash_, now).state)) return "FLASH BUSY";
  if (!printer_) return "NO PRINTER";
  SettleLocked(now);  // the run before has its firmware in
  FlashRun run;
  run.started = true;
  run.start_ms = now;
  run.block_ms = block_ms;
  run.blocks = static_cast<unsigned>((image.size() + FlashRun::kBlockBytes - 1) / FlashRun::kBlockBytes);
  run.verify = verify;
  run.file = file;
  run.new_firmware = FirmwareVersionOf(image);
  if (qxsim::HasFault(*printer_, "not_responding")) {
    run.failure = "Printer not responding";
  } else if (qxsim::HasFault(*printer_, "refuse_firmware")) {
    run.failure = "Refused by printer";
  }
  flash_ = std::move(run);
  return "";
}

FlashProgress DeviceEmulator::Progress(uint64_t now) const {
  std::lock_guard<std::mutex> guard(lock_);
  return ProgressAt(flash_, now);
}

void DeviceEmulator::Settle(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  SettleLocked(now);
}

bool DeviceEmulator::FlashRunning(uint64_t now) const {
  std::lock_guard<std::mutex> guard(lock_);
  return Running(ProgressAt(flash_, now).state);
}

void DeviceEmulator::SettleLocked(uint64_t now) {
  if (flash_.firmware_given || flash_.new_firmware.empty()) return;
  if (ProgressAt(flash_, now).state != FlashProgress::State::kDone) return;
  flash_.firmware_given = true;
  if (printer_) printer_->firmware = flash_.new_firmware;
}

}  // namespace qxsim
