// printer.h - qxsimd, simulated-world side: the emulated ticket printer's
// description and its replies. The description (Device) is the world file's
// device object, the one record of what a printer is; the replies are pure
// functions from it and the bytes it is sent to the bytes it answers, which
// the device emulator (device.h) serves to the language monitor (and next to
// the port road), and tests check without a pipe.
//
// Status inquiries and their replies (docs/world.md has the same table):
//
//   inquiry            reply  fields
//   1B 49 53  ESC IS   "S"    "00" status word, "03" temperature, "04" form length
//   1B 49 4E  ESC IN   "N"    "05" "15": firmware (5 bytes), version detail (10 bytes)
//   1B 49 45  ESC IE   "E"    "00" status word, "01" faults showing, "02" error counter
//   1B 49 41 02        "A"    "01" "002", "02" ticket counter
//   1B 49 41 03        "A"    "01" "003", "02" head travel counter (inches)
//   1B 49 41 04        "A"    "01" "004", "02" job counter
//   1B 49 43  ESC IC   "C"    "02" cut counter, "05" as in "N"
//
// Each field is a two-character tag and a body: "00" two raw bytes, high
// first; "01" three decimal digits; "02" eight decimal digits; "03" three
// characters, "025" or "-05"; "04" two raw bytes, big-endian, hundredths of
// an inch (0: roll); "05" two digits n, then n bytes. Texts shorter than
// their slot in "05" are filled with zero bytes. Numbers too large for their
// digits are written as the largest that fits.
//
// The status word is the device's base bits with the bits of its faults:
// paper_out 0x0100, head_open 0x0200, jam 0x0400, low_paper 0x0001,
// ticket_not_taken 0x0008, not_ready 0x8000; paper_out, head_open and jam
// also set 0x8000 (the printer cannot print), low_paper and
// ticket_not_taken do not (it still can). A busy printer (printing, its
// buffer full) sets 0x0020. not_responding: the printer
// answers nothing at all; garbled_reply: every byte of its answer comes back
// inverted (so byte 0 is never a reply letter). An inquiry the printer does
// not know gets no answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qxsim {

// What the printer answers to RFID pass-through bytes.
struct RfidBehaviour {
  enum class Mode { kEcho, kFixed, kSilent };
  Mode mode = Mode::kEcho;  // echo: the request bytes come back
  std::string reply;        // kFixed: these bytes, whatever was asked
};

// The counters the printer reports in its "E", "A" and "C" replies.
struct PrinterCounters {
  uint32_t errors = 0;
  uint32_t tickets = 0;
  uint32_t head_travel = 0;
  uint32_t jobs = 0;
  uint32_t cuts = 0;
};

// Everything the emulator answers from.
struct PrinterState {
  uint16_t status_word = 0;   // base bits, before the faults' bits
  int temperature = 25;       // degrees Celsius, -99 to 999
  uint16_t form_length = 0;   // hundredths of an inch, 0 for roll stock
  std::string firmware;       // its first 5 characters are reported
  std::string version_detail; // its first 10 characters are reported
  unsigned reply_delay_ms = 0;  // virtual ms the printer takes to answer
  bool busy = false;          // printing: status bit 0x0020, the port's BUSY line
  unsigned restart_ms = 10000;  // virtual ms a restart after a good flash image takes
  uint32_t fail_write = 0;    // the Nth port write from now fails (0: none)
  std::vector<std::string> faults;
  PrinterCounters counters;
  RfidBehaviour rfid;
};

// A device attached to a port: what the world file and the control API say
// of it. Its printer state is what the replies are made from.
struct Device : PrinterState {
  std::string port;
  std::string model;
  std::string device_id;  // IEEE 1284, "KEY:value;" pairs
};

// EmulatorState - the printer emulator's view of a device (its state part).
inline const PrinterState& EmulatorState(const Device& device) { return device; }

// The largest RFID reply the monitor can carry (a 1034-byte reply message).
inline constexpr size_t kMaxRfidReply = 1027;

// The flash-mode command and inquiry, the drawer command.
inline constexpr std::string_view kFlashModeCommand("\x1b" "*FR", 4);
inline constexpr std::string_view kFlashModeInquiry("\x1b" "IA\x0f", 4);
inline constexpr std::string_view kDrawerCommand("\x1b" "DR\x02", 4);

// IsStatusInquiry - bytes that are exactly one inquiry the printer knows, or
// the flash-mode inquiry.
bool IsStatusInquiry(std::string_view bytes);

// FlashReadyReply - what a printer in flash-reprogram mode answers the
// flash-mode inquiry: "A", "01" "015", then the text "FLASH READY" (garbled
// as any reply with garbled_reply).
std::string FlashReadyReply(const PrinterState& state);

// The status word's busy bit.
inline constexpr uint16_t kStatusBusy = 0x0020;

// DefaultDeviceId - the IEEE 1284 device ID of a device whose description
// gives none: "MFG:QX;MDL:<model>;CMD:QXPL;CLS:PRINTER;".
inline std::string DefaultDeviceId(const std::string& model) {
  return "MFG:QX;MDL:" + model + ";CMD:QXPL;CLS:PRINTER;";
}

// StatusWord - the 16-bit word the printer reports: base bits, faults, busy.
uint16_t StatusWord(const PrinterState& state);

// HasFault - whether the state shows the fault of that name.
bool HasFault(const PrinterState& state, std::string_view fault);

// AnswerInquiry - the printer's reply to status inquiry bytes.
//   inquiry (in): the bytes sent, exactly one inquiry (ESC "IS" ...).
// Returns the reply bytes; nothing when the printer does not answer (not
// responding, or an inquiry it does not know).
std::optional<std::string> AnswerInquiry(const PrinterState& state, std::string_view inquiry);

// AnswerRfid - the printer's answer to RFID pass-through bytes; nothing when
// it does not answer (silent, or not responding). At most kMaxRfidReply bytes.
std::optional<std::string> AnswerRfid(const PrinterState& state, std::string_view request);

}  // namespace qxsim
