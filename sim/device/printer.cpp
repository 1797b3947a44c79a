// printer.cpp - qxsimd, simulated-world side: the emulated ticket printer's
// replies (see printer.h).
#include "printer.h"

#include <algorithm>
#include <cstdio>

namespace qxsim {
namespace {

struct FaultBit {
  const char* name;
  uint16_t bits;
};

// A fault that stops printing also sets the not-ready summary bit.
constexpr FaultBit kFaultBits[] = {
    {"paper_out", 0x0100 | 0x8000}, {"head_open", 0x0200 | 0x8000}, {"jam", 0x0400 | 0x8000},
    {"low_paper", 0x0001},          {"ticket_not_taken", 0x0008},   {"not_ready", 0x8000},
};

const std::string_view kInquiryIS("\x1b" "IS", 3);
const std::string_view kInquiryIN("\x1b" "IN", 3);
const std::string_view kInquiryIE("\x1b" "IE", 3);
const std::string_view kInquiryIA2("\x1b" "IA\x02", 4);
const std::string_view kInquiryIA3("\x1b" "IA\x03", 4);
const std::string_view kInquiryIA4("\x1b" "IA\x04", 4);
const std::string_view kInquiryIC("\x1b" "IC", 3);

void StatusField(std::string& reply, uint16_t word) {
  reply += "00";
  reply += static_cast<char>(word >> 8);
  reply += static_cast<char>(word & 0xFF);
}

// A decimal field of a fixed number of digits, the largest value that fits
// when the number does not.
void NumberField(std::string& reply, const char* tag, uint64_t value, int digits) {
  uint64_t largest = 1;
  for (int i = 0; i < digits; ++i) largest *= 10;
  char text[24];
  std::snprintf(text, sizeof text, "%0*llu", digits,
                static_cast<unsigned long long>(std::min(value, largest - 1)));
  reply += tag;
  reply += text;
}

void TemperatureField(std::string& reply, int celsius) {
  const int t = std::clamp(celsius, -99, 999);
  char text[16];
  if (t < 0) {
    std::snprintf(text, sizeof text, "-%02d", -t);
  } else {
    std::snprintf(text, sizeof text, "%03d", t);
  }
  reply += "03";
  reply += text;
}

void FormLengthField(std::string& reply, uint16_t length) {
  reply += "04";
  reply += static_cast<char>(length >> 8);
  reply += static_cast<char>(length & 0xFF);
}

// "05" "15", then the firmware in 5 bytes and the version detail in 10,
// each cut or filled with zero bytes.
void VersionField(std::string& reply, const std::string& firmware, const std::string& detail) {
  reply += "0515";
  std::string slot = firmware.substr(0, std::min<size_t>(firmware.size(), 5));
  slot.resize(5, '\0');
  reply += slot;
  slot = detail.substr(0, std::min<size_t>(detail.size(), 10));
  slot.resize(10, '\0');
  reply += slot;
}

uint64_t FaultsShowing(const PrinterState& state) {
  return static_cast<uint64_t>(std::count_if(std::begin(kFaultBits), std::end(kFaultBits),
                                             [&](const FaultBit& f) { return HasFault(state, f.name); }));
}

std::string Garble(std::string reply) {
  for (char& c : reply) c = static_cast<char>(~static_cast<unsigned char>(c));
  return reply;
}

}  // namespace

bool HasFault(const PrinterState& state, std::string_view fault) {
  return std::find(state.faults.begin(), state.faults.end(), fault) != state.faults.end();
}

uint16_t StatusWord(const PrinterState& state) {
  uint16_t word = state.status_word;
  for (const FaultBit& f : kFaultBits) {
    if (HasFault(state, f.name)) word = static_cast<uint16_t>(word | f.bits);
  }
  if (state.busy) word = static_cast<uint16_t>(word | kStatusBusy);
  return word;
}

std::optional<std::string> AnswerInquiry(const PrinterState& state, std::string_view inquiry) {
  if (HasFault(state, "not_responding")) return std::nullopt;
  std::string reply;
  if (inquiry == kInquiryIS) {
    reply = "S";
    StatusField(reply, StatusWord(state));
    TemperatureField(reply, state.temperature);
    FormLengthField(reply, state.form_length);
  } else if (inquiry == kInquiryIN) {
    reply = "N";
    VersionField(reply, state.firmware, state.version_detail);
  } else if (inquiry == kInquiryIE) {
    reply = "E";
    StatusField(reply, StatusWord(state));
    NumberField(reply, "01", FaultsShowing(state), 3);
    NumberField(reply, "02", state.counters.errors, 8);
  } else if (inquiry == kInquiryIA2 || inquiry == kInquiryIA3 || inquiry == kInquiryIA4) {
    const uint8_t which = static_cast<uint8_t>(inquiry[3]);
    const uint32_t counter = which == 2   ? state.counters.tickets
                             : which == 3 ? state.counters.head_travel
                                          : state.counters.jobs;
    reply = "A";
    NumberField(reply, "01", which, 3);
    NumberField(reply, "02", counter, 8);
  } else if (inquiry == kInquiryIC) {
    reply = "C";
    NumberField(reply, "02", state.counters.cuts, 8);
    VersionField(reply, state.firmware, state.version_detail);
  } else {
    return std::nullopt;
  }
  if (HasFault(state, "garbled_reply")) return Garble(std::move(reply));
  return reply;
}

bool IsStatusInquiry(std::string_view bytes) {
  for (const std::string_view inquiry :
       {kInquiryIS, kInquiryIN, kInquiryIE, kInquiryIA2, kInquiryIA3, kInquiryIA4, kInquiryIC, kFlashModeInquiry}) {
    if (bytes == inquiry) return true;
  }
  return false;
}

std::string FlashReadyReply(const PrinterState& state) {
  std::string reply = "A";
  NumberField(reply, "01", 15, 3);
  reply += "FLASH READY";
  return HasFault(state, "garbled_reply") ? Garble(std::move(reply)) : reply;
}

std::optional<std::string> AnswerRfid(const PrinterState& state, std::string_view request) {
  if (HasFault(state, "not_responding")) return std::nullopt;
  std::string reply;
  switch (state.rfid.mode) {
    case RfidBehaviour::Mode::kSilent:
      return std::nullopt;
    case RfidBehaviour::Mode::kFixed:
      reply = state.rfid.reply;
      break;
    case RfidBehaviour::Mode::kEcho:
      reply = std::string(request);
      break;
  }
  if (reply.size() > kMaxRfidReply) reply.resize(kMaxRfidReply);
  if (HasFault(state, "garbled_reply")) return Garble(std::move(reply));
  return reply;
}

}  // namespace qxsim
