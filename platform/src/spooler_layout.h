// spooler_layout.h - POSIX platform layer, internal: the spooler client's
// reading of the daemon's replies and its packing of them into the caller's
// buffer, as spooler.cpp uses them.
//
// Replies: the daemon is trusted to be ours but not to be right, so every
// field is read with a type check, and a missing or mistyped one reads as
// empty (0, null, "").
//
// Buffers: the Windows convention is the fixed records first, then every
// string, device mode and security descriptor they point to. A call builds
// that image in a Layout, packs its records into it and ends with Deliver.
#ifndef QX_PLATFORM_SPOOLER_LAYOUT_H
#define QX_PLATFORM_SPOOLER_LAYOUT_H

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <qxwire/fields.h>

// The spooler client's own helpers: kept out of the layer's exports.
#pragma GCC visibility push(hidden)

namespace qxplat {

// ---- Reading replies -------------------------------------------------------

// Member - j[key]; a null value when j is not an object or has no such member
// (the wire library's lenient reader, as Number and Text below).
using qxwire::Member;

// Number - an unsigned member as a DWORD; 0 when absent or of another type.
inline DWORD Number(const nlohmann::json& j, const char* key) { return qxwire::UnsignedOr(j, key); }

// Signed - an integer value as a LONG; 0 for any other value.
LONG Signed(const nlohmann::json& v);

// Text - a text member; null when absent or null.
inline const std::string* Text(const nlohmann::json& j, const char* key) { return qxwire::TextOf(j, key); }

// TextOr - a text member, or fallback when there is none.
std::string TextOr(const nlohmann::json& j, const char* key, const char* fallback = "");

// TextList - the texts of a list, other entries skipped; empty for a non-list.
std::vector<std::string> TextList(const nlohmann::json& list);

// DecodeDevmode - a device mode from the wire, only when it is at least a
// DEVMODEA and its own sizes describe exactly the bytes received.
bool DecodeDevmode(const nlohmann::json& j, const char* key, std::vector<uint8_t>& bytes);

// ---- What the driver's part does in the caller ---------------------------

// SystemTimeOf - UTC Unix time as the SYSTEMTIME of JOB_INFO_1A.Submitted.
SYSTEMTIME SystemTimeOf(int64_t seconds);

// MergeDevmode - what the driver does with DM_IN_BUFFER: the fields the input
// names in dmFields, among those the driver supports, replace the current
// values once checked; a value the driver cannot take refuses the whole merge
// (false). papers and bins: the driver's paper and bin codes.
bool MergeDevmode(std::vector<uint8_t>& current, const std::vector<uint8_t>& input, const nlohmann::json& papers,
                  const nlohmann::json& bins);

// QueryArgumentsValid - the level and buffer checks every query makes before
// asking the spooler: an unknown level is ERROR_INVALID_LEVEL, a null buffer
// with a nonzero size ERROR_INVALID_USER_BUFFER.
bool QueryArgumentsValid(bool levelKnown, const void* buffer, DWORD size);

// PackCapability - DeviceCapabilitiesA's answer from the spooler's reply:
// the entries written to output (when not null) and their count, or the
// device mode's value; -1 with ERROR_NOT_SUPPORTED for another capability.
int PackCapability(const nlohmann::json& reply, WORD capability, LPSTR output);

// ---- Packing into the caller's buffer --------------------------------------

// Layout - builds the caller's buffer image: fixed records at the start, the
// data they point to after them. Pointers are computed against the caller's
// buffer address, so the image is valid once copied there; while only the
// size is asked (a null buffer) they are never dereferenced.
class Layout {
 public:
  Layout(LPBYTE caller, size_t fixed_bytes) : base_(reinterpret_cast<uintptr_t>(caller)), image_(fixed_bytes, 0) {}

  template <class T>
  void PutRecord(size_t index, const T& record) {
    std::memcpy(image_.data() + index * sizeof(T), &record, sizeof(T));
  }

  LPSTR String(const std::string* text) {
    if (text == nullptr) return nullptr;
    const size_t at = image_.size();
    image_.insert(image_.end(), text->begin(), text->end());
    image_.push_back(0);
    return reinterpret_cast<LPSTR>(base_ + at);
  }
  LPSTR String(const std::string& text) { return String(&text); }

  // A list of texts each ended by a zero, the whole ended by an empty one.
  LPSTR MultiString(const std::vector<std::string>& texts) {
    if (texts.empty()) return nullptr;
    const size_t at = image_.size();
    for (const std::string& t : texts) {
      image_.insert(image_.end(), t.begin(), t.end());
      image_.push_back(0);
    }
    image_.push_back(0);
    return reinterpret_cast<LPSTR>(base_ + at);
  }

  // A block aligned to 8 bytes, as records that hold DWORDs need.
  void* Block(const void* data, size_t size) {
    const size_t at = (image_.size() + 7) & ~size_t{7};
    image_.resize(at + size, 0);
    std::memcpy(image_.data() + at, data, size);
    return reinterpret_cast<void*>(base_ + at);
  }

  size_t size() const { return image_.size(); }
  const uint8_t* data() const { return image_.data(); }

 private:
  uintptr_t base_;
  std::vector<uint8_t> image_;
};

// Deliver - the common end of every call that fills a caller's buffer.
//   buffer (out), size: the caller's; needed (out): the layout's size, stored
//   also when the buffer is too small.
// FALSE with ERROR_INSUFFICIENT_BUFFER when it does not fit, or
// ERROR_NOT_ENOUGH_MEMORY when the size does not fit a DWORD.
BOOL Deliver(const Layout& layout, LPBYTE buffer, DWORD size, LPDWORD needed);

// The printer record levels: 1, 2, 4 and 5, and the size of one record.
bool PrinterLevelKnown(DWORD level);
size_t PrinterRecordSize(DWORD level);

// PackPrinter - record index of the given level from the daemon's printer info.
void PackPrinter(Layout& out, size_t index, DWORD level, const nlohmann::json& info);

// PackDriver - the one driver record of level 1, 2 or 3 from the daemon's
// driver info.
void PackDriver(Layout& out, DWORD level, const nlohmann::json& info);

}  // namespace qxplat

#pragma GCC visibility pop

#endif  // QX_PLATFORM_SPOOLER_LAYOUT_H
