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

std::optional<Device> DeviceEmulator::Description() {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(qxplat_clock_now_ms());
  return printer_;
}

void DeviceEmulator::Attach(Device description) {
  std::lock_guard<std::mutex> guard(lock_);
  description.port = port_;
  // fail_write counts the port writes from when it is set.
  if (!printer_ || printer_->fail_write != description.fail_write) port_writes_ = 0;
  printer_ = std::move(description);
  ChangedLocked();
}

void DeviceEmulator::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  printer_.reset();
  port_flash_ = PortFlash{};
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

DeviceEmulator::Answer DeviceEmulator::Inquire(std::string_view inquiry, uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  if (now == kClockNow) now = qxplat_clock_now_ms();
  CatchUpLocked(now);
  if (!printer_ || RestartingLocked(now)) return {};
  if (port_flash_.active) {
    if (!port_flash_.ready_owed || qxsim::HasFault(*printer_, "not_responding")) return {};
    port_flash_.ready_owed = false;
    return {FlashReadyReply(*printer_), printer_->reply_delay_ms};
  }
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
  if (!printer_) return;
  for (size_t at = bytes.find(kDrawerCommand); at != std::string_view::npos;
       at = bytes.find(kDrawerCommand, at + kDrawerCommand.size())) {
    ++drawer_pulses_;
  }
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
  CatchUpLocked(now);
  if (BusyLocked(now)) return 0;
  KeepLocked(bytes);
  if (port_flash_.active) {
    const bool command = !port_flash_.receiver.UnderWay() && (IsStatusInquiry(bytes) || bytes == kFlashModeCommand);
    if (!command) {
      TakeFlashBytesLocked(bytes, now);
    } else if (bytes == kFlashModeInquiry) {
      port_flash_.ready_owed = true;
    }
  } else if (bytes == kFlashModeCommand) {
    if (!qxsim::HasFault(*printer_, "refuse_flash")) {
      port_flash_ = PortFlash{};
      port_flash_.active = true;
    }
  } else if (std::optional<std::string> reply = AnswerInquiry(*printer_, bytes)) {
    QueueReplyLocked(std::move(*reply), now + printer_->reply_delay_ms);
  }
  ChangedLocked();
  return bytes.size();
}

void DeviceEmulator::TakeFlashBytesLocked(std::string_view bytes, uint64_t now) {
  port_flash_.image_bytes += bytes.size();
  const std::optional<FirmwareHeader> good = port_flash_.receiver.Take(bytes);
  if (!good) return;
  ++port_flash_.good_images;
  // A printer that never restarts stays in flash-reprogram mode, silent,
  // taking the next bytes as a new image.
  if (qxsim::HasFault(*printer_, "never_restart")) return;
  port_flash_.active = false;
  port_flash_.ready_owed = false;
  port_flash_.restarting = true;
  port_flash_.restart_until = now + printer_->restart_ms;
  port_flash_.image = *good;
}

void DeviceEmulator::CatchUpLocked(uint64_t now) {
  if (!port_flash_.restarting || now < port_flash_.restart_until) return;
  port_flash_.restarting = false;
  if (!printer_) return;
  printer_->firmware = port_flash_.image.version;
  if (port_flash_.image.has_detail) printer_->version_detail = port_flash_.image.detail.substr(0, 10);
  ChangedLocked();
}

bool DeviceEmulator::RestartingLocked(uint64_t now) const {
  return port_flash_.restarting && now < port_flash_.restart_until;
}

bool DeviceEmulator::FailsPortWrite() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!printer_) return false;
  ++port_writes_;
  return printer_->fail_write != 0 && port_writes_ == printer_->fail_write;
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
  CatchUpLocked(now);
  if (!replies_.empty() || !on_its_way_.empty()) return true;
  if (!printer_ || RestartingLocked(now)) return false;
  if (port_flash_.active) {
    // In flash-reprogram mode the printer sends only the FLASH READY reply it owes.
    if (!port_flash_.ready_owed || qxsim::HasFault(*printer_, "not_responding")) return false;
    port_flash_.ready_owed = false;
    QueueReplyLocked(FlashReadyReply(*printer_), now + printer_->reply_delay_ms);
    return true;
  }
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

bool DeviceEmulator::Busy(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(now);
  return BusyLocked(now);
}

bool DeviceEmulator::BusyLocked(uint64_t now) const {
  if (!printer_ || Running(ProgressAt(flash_, now).state) || RestartingLocked(now)) return true;
  return printer_->busy || qxsim::HasFault(*printer_, "not_responding") || (StatusWord(*printer_) & 0x8000) != 0;
}

uint8_t DeviceEmulator::StatusByte(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(now);
  uint8_t byte = BusyLocked(now) ? 0x40 : 0x00;
  if (!printer_) return static_cast<uint8_t>(byte | 0x20);
  if (qxsim::HasFault(*printer_, "paper_out")) byte |= 0x04;
  if (qxsim::HasFault(*printer_, "not_responding") || (StatusWord(*printer_) & 0x8000) != 0 ||
      RestartingLocked(now)) {
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

DeviceEmulator::Mode DeviceEmulator::mode(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(now);
  if (RestartingLocked(now)) return Mode::kRestarting;
  return Running(ProgressAt(flash_, now).state) || port_flash_.active ? Mode::kFlash : Mode::kPrinting;
}

DeviceEmulator::PortState DeviceEmulator::State(uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(now);
  PortState s;
  s.mode = RestartingLocked(now)                                          ? Mode::kRestarting
           : Running(ProgressAt(flash_, now).state) || port_flash_.active ? Mode::kFlash
                                                                          : Mode::kPrinting;
  s.image_bytes = port_flash_.image_bytes;
  s.image_pending = port_flash_.receiver.pending();
  s.good_images = port_flash_.good_images;
  s.bad_images = port_flash_.receiver.bad_images();
  s.restart_until = RestartingLocked(now) ? port_flash_.restart_until : 0;
  s.ready_owed = port_flash_.ready_owed;
  s.drawer_pulses = drawer_pulses_;
  s.port_writes = port_writes_;
  return s;
}

std::string DeviceEmulator::StartFlash(std::string_view image, bool verify, unsigned block_ms,
                                       const std::string& file, uint64_t now) {
  std::lock_guard<std::mutex> guard(lock_);
  CatchUpLocked(now);
  if (Running(ProgressAt(flash_, now).state) || port_flash_.active || RestartingLocked(now)) return "FLASH BUSY";
  if (!printer_) return "NO PRINTER";
  SettleLocked(now);  // the run before has its firmware in
  FlashRun run;
  run.started = true;
  run.start_ms = now;
  run.block_ms = block_ms;
  run.blocks = static_cast<unsigned>((image.size() + FlashRun::kBlockBytes - 1) / FlashRun::kBlockBytes);
  run.verify = verify;
  run.file = file;
  FirmwareHeader header;
  const ImageCheck check = CheckFirmwareImage(image, &header);
  if (check == ImageCheck::kGood || check == ImageCheck::kUnchecked) {
    run.new_firmware = header.version;
    run.new_detail = header.detail.substr(0, 10);
    run.detail_named = header.has_detail;
  }
  if (qxsim::HasFault(*printer_, "not_responding")) {
    run.failure = "Printer not responding";
  } else if (qxsim::HasFault(*printer_, "refuse_firmware")) {
    run.failure = "Refused by printer";
  } else if (check == ImageCheck::kBad) {
    run.failure = "Bad firmware image";
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
  if (!printer_) return;
  printer_->firmware = flash_.new_firmware;
  if (flash_.detail_named) printer_->version_detail = flash_.new_detail;
}

}  // namespace qxsim
