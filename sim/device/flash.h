// flash.h - qxsimd, simulated-world side: a firmware flash run of the
// emulated printer, laid out on the virtual clock when it starts. Erasing
// takes as long as kEraseBlocks blocks, writing one block time per 512-byte
// block, verifying (when asked) a quarter of the writing; a printer that
// refuses the image, or does not respond, fails the run once erased. A pure
// record and pure functions of the clock; the device (device.h) owns a run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qxsim {

// Flash programming as the language monitor's progress command reports it.
struct FlashProgress {
  enum class State { kIdle = 0, kErasing = 1, kWriting = 2, kVerifying = 3, kDone = 4, kFailed = 5 };
  State state = State::kIdle;
  unsigned max = 0;      // blocks to write
  unsigned current = 0;  // blocks written
  bool pass = true;
  std::string note;  // no commas
  std::string file;  // the firmware file of the latest run
};

// FlashStateName - "idle", "erasing", "writing", "verifying", "done", "failed".
const char* FlashStateName(FlashProgress::State state);

// One run, laid out on the virtual clock when it starts.
struct FlashRun {
  static constexpr unsigned kDefaultBlockMs = 20;
  static constexpr unsigned kBlockBytes = 512;
  static constexpr unsigned kEraseBlocks = 4;

  bool started = false;
  uint64_t start_ms = 0;
  unsigned block_ms = kDefaultBlockMs;
  unsigned blocks = 0;
  bool verify = false;
  std::string failure;          // the printer fails the run once erased: why
  std::string new_firmware;     // the version the image names
  bool firmware_given = false;  // new_firmware is the device's now
  std::string file;
};

// ProgressAt - where run stands at virtual time now.
FlashProgress ProgressAt(const FlashRun& run, uint64_t now);

// Running - erasing, writing or verifying.
bool Running(FlashProgress::State state);

// FirmwareVersionOf - the version an image names in a first line
// "QXFW <version>" (at most 63 characters), or "".
std::string FirmwareVersionOf(std::string_view image);

}  // namespace qxsim
