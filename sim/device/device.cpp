// device.cpp - qxsimd, simulated-world side: the emulated printer on one port
// (see device.h).
#include "device.h"


#include <algorithm>

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
}

void DeviceEmulator::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  printer_.reset();
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

size_t DeviceEmulator::Write(std::string_view bytes, uint64_t now) {
  if (Busy(now)) return 0;
  std::lock_guard<std::mutex> guard(lock_);
  KeepLocked(bytes);
  if (!printer_) return bytes.size();
  if (const std::optional<std::string> reply = AnswerInquiry(*printer_, bytes)) {
    const size_t room = kMaxPendingReplies - std::min(kMaxPendingReplies, replies_.size());
    replies_.insert(replies_.end(), reply->begin(), reply->begin() + static_cast<ptrdiff_t>(std::min(room, reply->size())));
  }
  return bytes.size();
}

std::string DeviceEmulator::Read(size_t max) {
  std::lock_guard<std::mutex> guard(lock_);
  const size_t n = std::min(max, replies_.size());
  std::string out(replies_.begin(), replies_.begin() + static_cast<ptrdiff_t>(n));
  replies_.erase(replies_.begin(), replies_.begin() + static_cast<ptrdiff_t>(n));
  return out;
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
  if (!printer_ || Running(ProgressAt(flash_, now).state)) return true;
  return qxsim::HasFault(*printer_, "not_responding") || (StatusWord(*printer_) & 0x8000) != 0;
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
