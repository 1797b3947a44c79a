// lm_frame.h - qxsimd, simulated-world side: the language monitor's own frame
// codec and reply texts. It is independent of the library's codec on
// purpose: the monitor stands for the printer maker's monitor, a peer the
// library talks to, so a shared mistake would hide on both sides.
//
// Frames, both ways: 03, a reserved byte, the payload length (16 bits,
// big-endian), the command or reply code, the payload, and the 16-bit
// big-endian sum of every byte before it.
//
// Commands (docs/world.md has the full table with every reply text):
//
//   0x00 plain status      the printer's answer to ESC "IS"
//   0x01 status inquiry    payload: time-out (ms, 16 bits big-endian), then
//                          the inquiry, passed to the printer; its answer
//   0x02 / 0x03 / 0x08     printer name, port name, version (texts)
//   0x04 print in progress "D" while a printer on the port has a job, else "I"
//   0x05 / 0x06 / 0x07     heartbeat (1 byte), heartbeat rate (4 bytes LE),
//                          spooler save method (1 byte): kept
//   0x09 flash programming "T"/"F" and a firmware file: the monitor reads
//                          the file, the device runs the flash on the clock
//   0x0A flash progress    "State,Max,Current,PassFail,Note"
//   0x0B abort document    deletes the oldest job of the port's printers
//   0x0C registry value    value (4 bytes LE), name, zero: printer data
//   0x0E / 0x0F            CRC error flag ("1"/"0"), clear it
//   0x10 reset             clears the CRC error flag
//   0x11 WD setup          4 bytes: kept
//   0x12 RFID pass-through the printer's bytes (reply code 0x12), or 0x13
//
// A success reply echoes its command byte, as the pass-through command 0x12
// must (0x12 is its success code). Commands are 0x00 to 0x12, so no success
// code can be mistaken for one of the letters the library treats as failure
// ("B", "F", "N", "O", "T"). Failures: "B" a request that is not one frame
// (or a status inquiry without its time-out bytes), "N" an unknown command,
// "F" a command whose payload or work failed (with a text), "O" a printer
// that did not answer, "T" one slower than the status time-out. Texts are
// zero-terminated and cut to fit the 1017-byte reply payload the library
// reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qxsim::lm {

constexpr size_t kFrameOverhead = 7;
constexpr size_t kMaxRequest = kFrameOverhead + 0xFFFF;  // the largest frame
constexpr size_t kMaxReplyPayload = 1024 - kFrameOverhead;
constexpr uint8_t kLeadByte = 0x03;

// Reply codes besides the echoed command byte.
constexpr uint8_t kReplyBadFrame = 'B';
constexpr uint8_t kReplyFailed = 'F';
constexpr uint8_t kReplyNotSupported = 'N';
constexpr uint8_t kReplyNoResponse = 'O';
constexpr uint8_t kReplyTimedOut = 'T';
constexpr uint8_t kReplyRfidNoResponse = 0x13;

// Commands.
constexpr uint8_t kPlainStatus = 0x00;
constexpr uint8_t kStatusInquiry = 0x01;
constexpr uint8_t kPrinterName = 0x02;
constexpr uint8_t kPortName = 0x03;
constexpr uint8_t kPrintInProgress = 0x04;
constexpr uint8_t kHeartBeat = 0x05;
constexpr uint8_t kHeartBeatRate = 0x06;
constexpr uint8_t kSaveMethod = 0x07;
constexpr uint8_t kVersion = 0x08;
constexpr uint8_t kProgramFlash = 0x09;
constexpr uint8_t kFlashProgress = 0x0A;
constexpr uint8_t kAbortDocument = 0x0B;
constexpr uint8_t kRegistryValue = 0x0C;
constexpr uint8_t kGetCrcError = 0x0E;
constexpr uint8_t kClearCrcError = 0x0F;
constexpr uint8_t kResetPrinter = 0x10;
constexpr uint8_t kWdSetup = 0x11;
constexpr uint8_t kRfid = 0x12;

struct Reply {
  uint8_t code = 0;
  std::string payload;
};

// Frame - the bytes of one frame; lead byte and length field as given, the
// checksum over the bytes sent, off by one when bad_checksum.
std::string Frame(uint8_t code, std::string_view payload, uint8_t lead, uint16_t declared, bool bad_checksum);

// ParseRequest - command and payload of a message that is exactly one frame:
// lead byte 03, a length that accounts for every byte of the message, and
// the right checksum. False for anything else.
bool ParseRequest(std::string_view message, uint8_t* command, std::string_view* payload);

// Text - a reply text: cut to fit the reply payload, then zero-terminated.
std::string Text(std::string_view text);

inline Reply Ok(uint8_t command, std::string_view text) { return {command, Text(text)}; }
inline Reply Failed(std::string_view text) { return {kReplyFailed, Text(text)}; }

// LittleEndian32 - the first 4 bytes, least significant first.
uint32_t LittleEndian32(std::string_view bytes);

// ReadWholeFile - a firmware file's bytes (at most kMaxFirmwareFile); false
// with the reply text: "FILE NOT FOUND", "FILE NOT READABLE", "FILE TOO
// LARGE", "FILE EMPTY".
constexpr size_t kMaxFirmwareFile = size_t{16} << 20;
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error);

}  // namespace qxsim::lm
