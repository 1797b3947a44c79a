// devmode.cpp - qxwire, both sides: the device mode's wire form (see devmode.h).
#include "qxwire/devmode.h"

#include <cstring>

#include "qxwire/hex.h"

namespace qxwire {
namespace {

// Device-mode fields are little-endian, as on every Windows machine.
uint16_t Word(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

void PutWord(uint8_t* at, size_t value) {
  at[0] = static_cast<uint8_t>(value & 0xFF);
  at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

std::string EncodeDevmode(const void* record, size_t record_size, std::string_view extra) {
  std::vector<uint8_t> bytes(record_size + extra.size());
  if (record_size > 0) std::memcpy(bytes.data(), record, record_size);
  if (record_size >= kDevmodeExtraOffset + 2) {
    PutWord(bytes.data() + kDevmodeSizeOffset, record_size);
    PutWord(bytes.data() + kDevmodeExtraOffset, extra.size());
  }
  if (!extra.empty()) std::memcpy(bytes.data() + record_size, extra.data(), extra.size());
  return ToHex(bytes);
}

std::string EncodeDevmode(const void* record, size_t record_size, const std::vector<uint8_t>& extra) {
  return EncodeDevmode(record, record_size,
                       std::string_view(reinterpret_cast<const char*>(extra.data()), extra.size()));
}

DevmodeCheck DecodeDevmode(std::string_view hex, size_t record_size, std::vector<uint8_t>& bytes) {
  if (!FromHex(hex, bytes) || bytes.size() < record_size || bytes.size() < kDevmodeExtraOffset + 2) {
    return DevmodeCheck::kNotADevmode;
  }
  const size_t size = DevmodeSize(bytes);
  if (size < record_size || size + DevmodeExtra(bytes) != bytes.size()) return DevmodeCheck::kSizesDiffer;
  return DevmodeCheck::kOk;
}

uint16_t DevmodeSize(const std::vector<uint8_t>& bytes) {
  return bytes.size() < kDevmodeSizeOffset + 2 ? 0 : Word(bytes.data() + kDevmodeSizeOffset);
}

uint16_t DevmodeExtra(const std::vector<uint8_t>& bytes) {
  return bytes.size() < kDevmodeExtraOffset + 2 ? 0 : Word(bytes.data() + kDevmodeExtraOffset);
}

}  // namespace qxwire
