// hex.cpp - qxwire, both sides: the hex codec (see hex.h).
#include "qxwire/hex.h"

namespace qxwire {
namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decode - into any container of bytes with push_back.
template <class Bytes>
bool Decode(std::string_view text, Bytes& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = Digit(text[i]);
    const int lo = Digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<typename Bytes::value_type>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

std::string ToHex(const void* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* b = static_cast<const uint8_t*>(data);
  std::string text(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[b[i] >> 4];
    text[2 * i + 1] = kDigits[b[i] & 15];
  }
  return text;
}

std::string ToHex(std::string_view bytes) { return ToHex(bytes.data(), bytes.size()); }

std::string ToHex(const std::vector<uint8_t>& bytes) { return ToHex(bytes.data(), bytes.size()); }

bool FromHex(std::string_view text, std::string& bytes) { return Decode(text, bytes); }

bool FromHex(std::string_view text, std::vector<uint8_t>& bytes) { return Decode(text, bytes); }

}  // namespace qxwire
