// flash.h - qxsimd, simulated-world side: a firmware flash run of the
// emulated printer, laid out on the virtual clock when it starts. Erasing
// takes as long as kEraseBlocks blocks, writing one block time per 512-byte
// block, verifying (when asked) a quarter of the writing; a printer that
// refuses the image, or does not respond, fails the run once erased. A pure
// record and pure functions of the clock; the device (device.h) owns a run.
#pragma once

#include <cstdint>
#include <optional>
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
  std::string failure;       // the printer fails the run once erased: why
  std::string new_firmware;  // the version the image names
  std::string new_detail;    // and its version detail, when it names one
  bool detail_named = false;
  bool firmware_given = false;  // new_firmware is the device's now
  std::string file;
};

// ProgressAt - where run stands at virtual time now.
FlashProgress ProgressAt(const FlashRun& run, uint64_t now);

// Running - erasing, writing or verifying.
bool Running(FlashProgress::State state);

// ---- The firmware image ----------------------------------------------------
// A header line, then the payload:
//
//   "QXFW " version [" detail=" text] [" length=" n] [" sum=" 8 hex digits] "\n" (or "\r\n")
//
// version: the first word, at most 63 characters kept; detail: the version
// detail, at most 63 characters; length: the payload's bytes (the bytes
// after the line end), 1 to kMaxFirmwareImage; sum: the payload's CRC-32
// (zlib's), hex digits of either case. A header that gives a length or a sum
// must give both, with the fields above only, each once, the whole line at
// most kMaxFirmwareHeader bytes: a checked image, good when its payload is
// exactly length bytes with that CRC-32. A header with neither (the version
// word, anything after it ignored) is an unchecked image, the whole file its
// payload; an image without the "QXFW " line has no header at all.
inline constexpr size_t kMaxFirmwareImage = size_t{16} << 20;
inline constexpr size_t kMaxFirmwareHeader = 256;
inline constexpr std::string_view kFirmwareMagic = "QXFW ";

struct FirmwareHeader {
  std::string version;
  std::string detail;
  bool has_detail = false;
  bool checked = false;  // it gives a length and a sum
  uint64_t length = 0;
  uint32_t sum = 0;
  size_t size = 0;  // the header's bytes, its line end included
};

enum class ImageCheck {
  kNoHeader,   // no "QXFW " line: nothing to check, no version
  kUnchecked,  // a version without length or sum
  kGood,       // length and checksum agree
  kBad,        // a malformed header, a payload of another length, a wrong sum
};

// FirmwareChecksum - CRC-32 (polynomial 0xEDB88320, reflected, initial value
// and final exclusive-or 0xFFFFFFFF), as zlib's crc32.
uint32_t FirmwareChecksum(std::string_view bytes);

// ReadFirmwareHeader - the header at the start of bytes. Nothing and
// *partial true when bytes begin a header whose line has not ended yet
// (fewer than kMaxFirmwareHeader bytes); nothing and *partial false when
// bytes do not begin with a header, or begin with a malformed one. A header
// line that never ends (no line end in the whole of bytes) is read to the
// end of bytes when at_end says no more bytes follow.
std::optional<FirmwareHeader> ReadFirmwareHeader(std::string_view bytes, bool at_end, bool* partial);

// CheckFirmwareImage - the one validator of both roads: a whole image, its
// header into *header (when there is one).
ImageCheck CheckFirmwareImage(std::string_view image, FirmwareHeader* header);

// BuildFirmwareImage - a good checked image of payload.
std::string BuildFirmwareImage(const std::string& version, const std::string& detail, std::string_view payload);

// FirmwareVersionOf - the version an image names in its header, or "".
std::string FirmwareVersionOf(std::string_view image);

// ---- The port road's flash-reprogram mode --------------------------------
// ImageReceiver - the bytes a printer in flash-reprogram mode takes on its
// port, read as a stream of images: it hunts for a header, collects the
// image its length declares, and checks it. A bad image (or a malformed
// header) is dropped by its first byte only, so a header that began inside
// it is found again.
class ImageReceiver {
 public:
  // Take - bytes from the port. Returns the header of a good image that
  // they complete; the bytes after it are dropped (the printer restarts).
  std::optional<FirmwareHeader> Take(std::string_view bytes);
  // UnderWay - an image's header has come and its payload has not ended.
  bool UnderWay() const;
  // Pending - the bytes kept: an image under way, or a header's beginning.
  size_t pending() const { return buffer_.size(); }
  uint64_t bad_images() const { return bad_images_; }
  void Reset() { buffer_.clear(); }

 private:
  std::string buffer_;
  uint64_t bad_images_ = 0;
};

}  // namespace qxsim
