// devmode.h - qxwire, both sides: a device mode on the wire. A device mode
// travels as hex of its bytes: the public DEVMODEA record (dmSize bytes),
// then the driver's private bytes (dmDriverExtra of them). The wire library
// knows no Win32 types, only where the two size fields stand in the record
// (Win64 layout); each side asserts those offsets against its DEVMODEA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qxwire {

constexpr size_t kDevmodeSizeOffset = 36;   // WORD dmSize
constexpr size_t kDevmodeExtraOffset = 38;  // WORD dmDriverExtra

// EncodeDevmode - the wire form of a record and the driver's bytes after it:
// dmSize set to record_size and dmDriverExtra to extra's size in the copy.
std::string EncodeDevmode(const void* record, size_t record_size, std::string_view extra);
std::string EncodeDevmode(const void* record, size_t record_size, const std::vector<uint8_t>& extra);

enum class DevmodeCheck {
  kOk,
  kNotADevmode,   // not hex, or shorter than the record
  kSizesDiffer,   // dmSize below the record, or dmSize + dmDriverExtra not the byte count
};

// DecodeDevmode - the bytes of a device mode in wire form, checked against
// the record size the reader knows.
DevmodeCheck DecodeDevmode(std::string_view hex, size_t record_size, std::vector<uint8_t>& bytes);

// The two size fields of a device mode's bytes (at least the record).
uint16_t DevmodeSize(const std::vector<uint8_t>& bytes);
uint16_t DevmodeExtra(const std::vector<uint8_t>& bytes);

}  // namespace qxwire
