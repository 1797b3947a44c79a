// hex.h - qxwire, both sides: the one hex codec. Bytes travel in JSON as
// pairs of hexadecimal digits (device modes, printer data, scripted payloads,
// the JSON forms of documents and received bytes); written in lower case,
// read in either case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qxwire {

// ToHex - two lower-case digits for every byte.
std::string ToHex(const void* data, size_t size);
std::string ToHex(std::string_view bytes);
std::string ToHex(const std::vector<uint8_t>& bytes);

// FromHex - the bytes of a text of digit pairs; false (bytes unspecified)
// for an odd length or a character that is not a hexadecimal digit.
bool FromHex(std::string_view text, std::string& bytes);
bool FromHex(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace qxwire
