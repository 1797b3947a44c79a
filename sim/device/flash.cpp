// flash.cpp - qxsimd, simulated-world side: a flash run on the virtual clock
// (see flash.h).
#include "flash.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace qxsim {
namespace {

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

uint32_t FirmwareChecksum(std::string_view bytes) {
  // zlib takes at most a uInt of bytes a call; images are capped far below.
  uLong crc = crc32(0L, Z_NULL, 0);
  for (size_t at = 0; at < bytes.size();) {
    const auto chunk = static_cast<uInt>(std::min<size_t>(bytes.size() - at, size_t{1} << 30));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), chunk);
    at += chunk;
  }
  return static_cast<uint32_t>(crc);
}

namespace {

// ParseHeaderLine - the fields of a header line (after "QXFW ", without its
// line end); false for a malformed checked header.
bool ParseHeaderLine(std::string_view line, FirmwareHeader& h) {
  const size_t word_end = std::min(line.find(' '), line.size());
  h.version = std::string(line.substr(0, std::min(word_end, kMaxFirmwareText)));
  std::vector<std::string_view> fields;
  for (size_t at = word_end; at < line.size();) {
    const size_t start = at + 1;
    const size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  const auto is_field = [](std::string_view f, std::string_view key) { return f.substr(0, key.size()) == key; };
  h.checked = std::any_of(fields.begin(), fields.end(),
                          [&](std::string_view f) { return is_field(f, "length=") || is_field(f, "sum="); });
  if (!h.checked) return true;  // an unchecked image: the version word only
  bool length = false;
  bool sum = false;
  for (const std::string_view f : fields) {
    if (is_field(f, "detail=") && !h.has_detail) {
      h.detail = std::string(f.substr(7));
      h.has_detail = true;
      if (h.detail.size() > kMaxFirmwareText) return false;
    } else if (is_field(f, "length=") && !length) {
      const std::string_view digits = f.substr(7);
      if (digits.empty() || digits.size() > 9) return false;
      for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        h.length = h.length * 10 + static_cast<uint64_t>(c - '0');
      }
      if (h.length == 0 || h.length > kMaxFirmwareImage) return false;
      length = true;
    } else if (is_field(f, "sum=") && !sum) {
      const std::string_view digits = f.substr(4);
      if (digits.size() != 8) return false;
      for (const char c : digits) {
        const int v = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (v < 0) return false;
        h.sum = (h.sum << 4) | static_cast<uint32_t>(v);
      }
      sum = true;
    } else {
      return false;  // an unknown or repeated field, or an empty one
    }
  }
  return length && sum && !h.version.empty();
}

}  // namespace

std::optional<FirmwareHeader> ReadFirmwareHeader(std::string_view bytes, bool at_end, bool* partial) {
  *partial = false;
  if (bytes.size() < kFirmwareMagic.size()) {
    *partial = !at_end && kFirmwareMagic.substr(0, bytes.size()) == bytes;
    return std::nullopt;
  }
  if (bytes.substr(0, kFirmwareMagic.size()) != kFirmwareMagic) return std::nullopt;
  FirmwareHeader h;
  const size_t newline = bytes.find('\n');
  const size_t zero = bytes.find('\0');
  size_t line_end = std::min(newline, zero);
  if (line_end == std::string_view::npos) {
    if (!at_end) {
      *partial = bytes.size() < kMaxFirmwareHeader;
      return std::nullopt;
    }
    line_end = bytes.size();
  }
  h.size = line_end == newline ? line_end + 1 : line_end;
  size_t text_end = line_end;
  if (text_end > 0 && bytes[text_end - 1] == '\r') --text_end;
  const std::string_view line = bytes.substr(kFirmwareMagic.size(), text_end - kFirmwareMagic.size());
  if (!ParseHeaderLine(line, h)) return std::nullopt;
  if (h.checked && (line_end != newline || h.size > kMaxFirmwareHeader)) return std::nullopt;
  return h;
}

ImageCheck CheckFirmwareImage(std::string_view image, FirmwareHeader* header) {
  if (image.substr(0, kFirmwareMagic.size()) != kFirmwareMagic) return ImageCheck::kNoHeader;
  bool partial = false;
  std::optional<FirmwareHeader> h = ReadFirmwareHeader(image, true, &partial);
  if (!h) return ImageCheck::kBad;
  *header = *h;
  if (!h->checked) return ImageCheck::kUnchecked;
  const std::string_view payload = image.substr(h->size);
  return payload.size() == h->length && FirmwareChecksum(payload) == h->sum ? ImageCheck::kGood : ImageCheck::kBad;
}

std::string BuildFirmwareImage(const std::string& version, const std::string& detail, std::string_view payload) {
  char sum[16];
  std::snprintf(sum, sizeof sum, "%08x", static_cast<unsigned>(FirmwareChecksum(payload)));
  std::string image = std::string(kFirmwareMagic) + version;
  if (!detail.empty()) image += " detail=" + detail;
  image += " length=" + std::to_string(payload.size()) + " sum=" + sum + "\r\n";
  image.append(payload);
  return image;
}

std::string FirmwareVersionOf(std::string_view image) {
  FirmwareHeader h;
  const ImageCheck check = CheckFirmwareImage(image, &h);
  return check == ImageCheck::kGood || check == ImageCheck::kUnchecked ? h.version : "";
}

std::optional<FirmwareHeader> ImageReceiver::Take(std::string_view bytes) {
  buffer_.append(bytes);
  for (;;) {
    // Hunt for a header; keep what may be the beginning of one.
    const size_t at = buffer_.find(kFirmwareMagic);
    if (at == std::string::npos) {
      size_t keep = std::min(buffer_.size(), kFirmwareMagic.size() - 1);
      while (keep > 0 && kFirmwareMagic.substr(0, keep) != std::string_view(buffer_).substr(buffer_.size() - keep)) {
        --keep;
      }
      buffer_.erase(0, buffer_.size() - keep);
      return std::nullopt;
    }
    buffer_.erase(0, at);
    bool partial = false;
    const std::optional<FirmwareHeader> h = ReadFirmwareHeader(buffer_, false, &partial);
    if (!h && partial) return std::nullopt;
    if (h && h->checked) {
      const uint64_t whole = h->size + h->length;
      if (buffer_.size() < whole) return std::nullopt;
      FirmwareHeader checked;
      if (CheckFirmwareImage(std::string_view(buffer_).substr(0, whole), &checked) == ImageCheck::kGood) {
        buffer_.clear();
        return checked;
      }
    }
    // A malformed or unchecked header, or a bad image: look again from the next byte.
    ++bad_images_;
    buffer_.erase(0, 1);
  }
}

bool ImageReceiver::UnderWay() const {
  return buffer_.size() >= kFirmwareMagic.size() &&
         std::string_view(buffer_).substr(0, kFirmwareMagic.size()) == kFirmwareMagic;
}

}  // namespace qxsim
