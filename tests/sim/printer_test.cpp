// printer_test.cpp - the printer emulator's replies as pure functions: every
// reply kind byte for byte, the status word from base bits and faults, the
// printer that does not answer or answers garbage, and RFID pass-through.
// Expected replies are written out by hand.
#include "printer.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using qxsim::AnswerInquiry;
using qxsim::AnswerRfid;
using qxsim::PrinterState;
using qxsim::RfidBehaviour;
using qxsim::StatusWord;

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

const std::string kIS = Bytes("\x1bIS");
const std::string kIN = Bytes("\x1bIN");
const std::string kIE = Bytes("\x1bIE");
const std::string kIA2 = Bytes("\x1bIA\x02");
const std::string kIA3 = Bytes("\x1bIA\x03");
const std::string kIA4 = Bytes("\x1bIA\x04");
const std::string kIC = Bytes("\x1bIC");

PrinterState Ticket() {
  PrinterState s;
  s.status_word = 0;
  s.temperature = 25;
  s.form_length = 600;
  s.firmware = "1.24";
  s.version_detail = "2018-10-23";
  s.counters = {7, 1234, 56, 89, 99999999};
  return s;
}

std::string Answer(const PrinterState& s, const std::string& inquiry) {
  const auto reply = AnswerInquiry(s, inquiry);
  return reply ? *reply : "<none>";
}

TEST(PrinterReplies, EachInquiryHasItsLetterAndFields) {
  const PrinterState s = Ticket();
  EXPECT_EQ(Answer(s, kIS), Bytes("S00\x00\x00" "03025" "04\x02\x58"));
  EXPECT_EQ(Answer(s, kIN), Bytes("N0515" "1.24\0" "2018-10-23"));
  EXPECT_EQ(Answer(s, kIE), Bytes("E00\x00\x00" "01000" "0200000007"));
  EXPECT_EQ(Answer(s, kIA2), Bytes("A01002" "0200001234"));
  EXPECT_EQ(Answer(s, kIA3), Bytes("A01003" "0200000056"));
  EXPECT_EQ(Answer(s, kIA4), Bytes("A01004" "0200000089"));
  EXPECT_EQ(Answer(s, kIC), Bytes("C02" "99999999" "0515" "1.24\0" "2018-10-23"));
}

TEST(PrinterReplies, StatusWordSitsInBytesThreeAndFour) {
  PrinterState s = Ticket();
  s.status_word = 0x1234;
  const std::string reply = Answer(s, kIS);
  ASSERT_GE(reply.size(), 5u);
  EXPECT_EQ(static_cast<uint8_t>(reply[3]), 0x12);
  EXPECT_EQ(static_cast<uint8_t>(reply[4]), 0x34);
}

TEST(PrinterReplies, FaultsAddTheirBitsAndStoppingFaultsTheSummary) {
  const struct {
    const char* fault;
    uint16_t word;
  } cases[] = {
      {"paper_out", 0x8100}, {"head_open", 0x8200},        {"jam", 0x8400},
      {"low_paper", 0x0001}, {"ticket_not_taken", 0x0008}, {"not_ready", 0x8000},
      // Faults without a status bit.
      {"garbled_reply", 0x0000}, {"refuse_firmware", 0x0000},
  };
  for (const auto& c : cases) {
    PrinterState s = Ticket();
    s.faults = {c.fault};
    EXPECT_EQ(StatusWord(s), c.word) << c.fault;
  }
  PrinterState s = Ticket();
  s.status_word = 0x2020;  // base bits stay
  s.faults = {"low_paper", "jam"};
  EXPECT_EQ(StatusWord(s), 0xA421);
  EXPECT_EQ(Answer(s, kIS).substr(1, 4), Bytes("00\xa4\x21"));
  // "E" counts the faults that show in the status word.
  EXPECT_EQ(Answer(s, kIE), Bytes("E00\xa4\x21" "01002" "0200000007"));
}

TEST(PrinterReplies, NumbersFillTheirDigits) {
  PrinterState s = Ticket();
  s.temperature = -5;
  s.form_length = 0;
  EXPECT_EQ(Answer(s, kIS), Bytes("S00\x00\x00" "03-05" "04\x00\x00"));
  s.temperature = 999;
  EXPECT_EQ(Answer(s, kIS).substr(5, 5), "03999");
  s.temperature = -1000;  // out of range: the coldest that fits
  EXPECT_EQ(Answer(s, kIS).substr(5, 5), "03-99");
  s.counters.errors = 4000000000u;  // beyond eight digits: the largest that fits
  EXPECT_EQ(Answer(s, kIE).substr(10), "0299999999");
}

TEST(PrinterReplies, VersionTextsAreCutOrFilledToTheirSlots) {
  PrinterState s = Ticket();
  s.firmware = "12.345-beta";
  s.version_detail = "2019-01-01 build 7";
  EXPECT_EQ(Answer(s, kIN), Bytes("N0515" "12.34" "2019-01-01"));
  s.firmware = "";
  s.version_detail = "x";
  EXPECT_EQ(Answer(s, kIN), Bytes("N0515" "\0\0\0\0\0" "x\0\0\0\0\0\0\0\0\0"));
}

TEST(PrinterReplies, UnknownInquiriesAndASilentPrinterGetNoAnswer) {
  const PrinterState s = Ticket();
  for (const std::string& inquiry :
       {Bytes("\x1bIX"), Bytes("\x1bIA\x05"), Bytes("\x1bI"), std::string(), kIS + "x", Bytes("IS")}) {
    EXPECT_FALSE(AnswerInquiry(s, inquiry).has_value()) << inquiry;
  }
  PrinterState dead = Ticket();
  dead.faults = {"not_responding"};
  for (const std::string& inquiry : {kIS, kIN, kIE, kIA2, kIA3, kIA4, kIC}) {
    EXPECT_FALSE(AnswerInquiry(dead, inquiry).has_value());
  }
  EXPECT_FALSE(AnswerRfid(dead, "tag").has_value());
}

TEST(PrinterReplies, GarbledRepliesAreTheInvertedBytes) {
  PrinterState s = Ticket();
  s.faults = {"garbled_reply"};
  const std::string reply = Answer(s, kIS);
  const std::string clean = Bytes("S00\x00\x00" "03025" "04\x02\x58");
  ASSERT_EQ(reply.size(), clean.size());
  for (size_t i = 0; i < clean.size(); ++i) {
    EXPECT_EQ(static_cast<uint8_t>(reply[i]), static_cast<uint8_t>(~clean[i])) << i;
  }
  for (const std::string& inquiry : {kIS, kIN, kIE, kIA2, kIC}) {
    const char letter = Answer(s, inquiry)[0];
    EXPECT_EQ(std::string("SNEAC").find(letter), std::string::npos) << inquiry;
  }
  EXPECT_EQ(*AnswerRfid(s, Bytes("\x00\xff")), Bytes("\xff\x00"));
}

TEST(PrinterReplies, RfidEchoesAnswersFixedBytesOrStaysSilent) {
  PrinterState s = Ticket();
  EXPECT_EQ(*AnswerRfid(s, Bytes("\x01\x02\x00\x03")), Bytes("\x01\x02\x00\x03"));
  s.rfid = {RfidBehaviour::Mode::kFixed, Bytes("\xe2\x00\x10")};
  EXPECT_EQ(*AnswerRfid(s, "anything"), Bytes("\xe2\x00\x10"));
  s.rfid = {RfidBehaviour::Mode::kFixed, std::string(2000, 'r')};
  EXPECT_EQ(AnswerRfid(s, "x")->size(), qxsim::kMaxRfidReply);
  s.rfid = {RfidBehaviour::Mode::kSilent, ""};
  EXPECT_FALSE(AnswerRfid(s, "x").has_value());
}

}  // namespace
