// lm_frame.cpp - qxsimd, simulated-world side: the language monitor's frame
// codec and reply texts (see lm_frame.h).
#include "lm_frame.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace qxsim::lm {

// Frame - the bytes of one frame; lead byte and length field as given, the
// checksum over the bytes sent.
std::string Frame(uint8_t code, std::string_view payload, uint8_t lead, uint16_t declared,
                  bool bad_checksum) {
  std::string frame;
  frame.reserve(kFrameOverhead + payload.size());
  frame += static_cast<char>(lead);
  frame += '\0';
  frame += static_cast<char>((declared >> 8) & 0xFF);
  frame += static_cast<char>(declared & 0xFF);
  frame += static_cast<char>(code);
  frame += payload;
  uint16_t sum = 0;
  for (const char c : frame) sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
  if (bad_checksum) sum = static_cast<uint16_t>(sum + 1);
  frame += static_cast<char>(sum >> 8);
  frame += static_cast<char>(sum & 0xFF);
  return frame;
}

// ParseRequest - command and payload of a message that is exactly one frame:
// lead byte 03, a length that accounts for every byte of the message, and
// the right checksum. False for anything else.
bool ParseRequest(std::string_view message, uint8_t* command, std::string_view* payload) {
  if (message.size() < kFrameOverhead || static_cast<uint8_t>(message[0]) != kLeadByte) {
    return false;
  }
  const size_t length =
      (static_cast<size_t>(static_cast<uint8_t>(message[2])) << 8) | static_cast<uint8_t>(message[3]);
  if (message.size() != kFrameOverhead + length) return false;
  uint16_t sum = 0;
  for (size_t i = 0; i < 5 + length; ++i) {
    sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(message[i]));
  }
  const uint16_t stated = static_cast<uint16_t>((static_cast<uint8_t>(message[5 + length]) << 8) |
                                                static_cast<uint8_t>(message[6 + length]));
  if (sum != stated) return false;
  *command = static_cast<uint8_t>(message[4]);
  *payload = message.substr(5, length);
  return true;
}

// A reply text: cut to fit the reply payload, then zero-terminated.
std::string Text(std::string_view text) {
  std::string payload(text.substr(0, std::min(text.size(), kMaxReplyPayload - 1)));
  payload += '\0';
  return payload;
}


uint32_t LittleEndian32(std::string_view bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[static_cast<size_t>(i)]);
  return v;
}

// ReadWholeFile - a firmware file's bytes; false with a reply text.
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = "FILE NOT FOUND";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!S_ISREG(st.st_mode) || !in) {
    *error = "FILE NOT READABLE";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) {
    *error = "FILE NOT READABLE";
    return false;
  }
  if (static_cast<uint64_t>(size) > kMaxFirmwareFile) {
    *error = "FILE TOO LARGE";
    return false;
  }
  if (size == 0) {
    *error = "FILE EMPTY";
    return false;
  }
  contents->resize(static_cast<size_t>(size));
  in.seekg(0, std::ios::beg);
  if (!in.read(contents->data(), size)) {
    *error = "FILE NOT READABLE";
    return false;
  }
  return true;
}

}  // namespace qxsim::lm
