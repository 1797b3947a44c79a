// flash.cpp - qxsimd, simulated-world side: a flash run on the virtual clock
// (see flash.h).
#include "flash.h"

#include <algorithm>

namespace qxsim {
namespace {

constexpr std::string_view kFirmwareHeader = "QXFW ";
constexpr size_t kMaxFirmwareText = 63;

}  // namespace

const char* FlashStateName(FlashProgress::State state) {
  switch (state) {
    case FlashProgress::State::kIdle: return "idle";
    case FlashProgress::State::kErasing: return "erasing";
    case FlashProgress::State::kWriting: return "writing";
    case FlashProgress::State::kVerifying: return "verifying";
    case FlashProgress::State::kDone: return "done";
    case FlashProgress::State::kFailed: return "failed";
  }
  return "?";
}

FlashProgress ProgressAt(const FlashRun& run, uint64_t now) {
  using State = FlashProgress::State;
  FlashProgress p;
  p.file = run.file;
  if (!run.started) {
    p.note = "Idle";
    return p;
  }
  p.max = run.blocks;
  const uint64_t block = run.block_ms;
  const uint64_t erase = FlashRun::kEraseBlocks * block;
  const uint64_t write = run.blocks * block;
  const uint64_t verify = run.verify ? (write + 3) / 4 : 0;
  const uint64_t elapsed = now - run.start_ms;
  if (elapsed < erase) {
    p.state = State::kErasing;
    p.note = "Erasing";
  } else if (!run.failure.empty()) {
    p.state = State::kFailed;
    p.pass = false;
    p.note = run.failure;
  } else if (elapsed < erase + write) {
    p.state = State::kWriting;
    p.current = static_cast<unsigned>(block == 0 ? run.blocks : (elapsed - erase) / block);
    p.note = "Writing";
  } else if (elapsed < erase + write + verify) {
    p.state = State::kVerifying;
    p.current = run.blocks;
    p.note = "Verifying";
  } else {
    p.state = State::kDone;
    p.current = run.blocks;
    p.note = "Done";
  }
  return p;
}

bool Running(FlashProgress::State s) {
  return s == FlashProgress::State::kErasing || s == FlashProgress::State::kWriting ||
         s == FlashProgress::State::kVerifying;
}

std::string FirmwareVersionOf(std::string_view image) {
  if (image.substr(0, kFirmwareHeader.size()) != kFirmwareHeader) return "";
  const size_t start = kFirmwareHeader.size();
  size_t end = image.find_first_of(std::string_view("\r\n\0", 3), start);
  if (end == std::string_view::npos) end = image.size();
  return std::string(image.substr(start, std::min(end - start, kMaxFirmwareText)));
}

}  // namespace qxsim
