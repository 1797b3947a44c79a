// status_test.cpp - qxParseStatus: each tag's field, the walk's end at an
// unknown tag or at the reply's length, the debug lines of the status word,
// and replies that are too short, garbled or oversized.
#include <qxdll.h>
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using qxplat::debug_captured;
using Bytes = std::vector<BYTE>;

Bytes Reply(const std::string& text) { return Bytes(text.begin(), text.end()); }

class ParseStatus : public ::testing::Test {
 protected:
  void SetUp() override { qxplat_debug_capture_start(); }
  void TearDown() override { qxplat_debug_capture_stop(); }

  // Parses with replyLength = the reply's size; the record starts dirty so
  // that the zeroing is seen.
  QXRESULT Parse(const Bytes& reply) { return Parse(reply, static_cast<LONG>(reply.size())); }
  QXRESULT Parse(const Bytes& reply, LONG length) {
    std::memset(&record, 0xA5, sizeof record);
    return qxParseStatus(reply.data(), length, &record);
  }
  QX_STATUS_RECORD record;
};

TEST_F(ParseStatus, StatusWordAloneFillsOnlyItsFields) {
  ASSERT_EQ(Parse(Reply(std::string("S00\x81\x00", 5))), QX_ERR_OK);
  EXPECT_EQ(record.statusWord, 0x8100);
  EXPECT_STREQ(record.statusWordText, "0x8100");
  EXPECT_STREQ(record.replyType, "S");
  EXPECT_EQ(record.temperatureC, 0);
  EXPECT_EQ(record.formLength, 0);
  EXPECT_STREQ(record.formLengthText, "");
  EXPECT_STREQ(record.firmwareVersion, "");
  // The bytes are logged as signed characters: 0x81 shows eight digits.
  EXPECT_EQ(debug_captured(),
            (std::vector<std::string>{"\nDLL Parse Status before conversion p = FFFFFF81 \n",
                                      "\nDLL Parse Status before conversion p+1 = 00 \n",
                                      "\nDLL Parse Status  after conversion = 8100 \n"}));
}

TEST_F(ParseStatus, EveryTagOfAFullReply) {
  const std::string text = std::string("S00\x01\x09", 5) + "01123" + "0200004711" + "03025" +
                           std::string("04\x01\xF4", 4) + "0515" + "1.23A2019-01-01";
  ASSERT_EQ(Parse(Reply(text)), QX_ERR_OK);
  EXPECT_EQ(record.statusWord, 0x0109);
  EXPECT_EQ(record.tag01Value, 123);
  EXPECT_STREQ(record.tag01Text, "123");
  EXPECT_EQ(record.tag02Value, 4711);
  EXPECT_STREQ(record.tag02Text, "00004711");
  EXPECT_EQ(record.temperatureC, 25);
  EXPECT_EQ(record.temperatureF, 77);
  EXPECT_STREQ(record.temperatureText, "025");
  EXPECT_EQ(record.formLength, 500);
  EXPECT_STREQ(record.formLengthText, "  5.00 in.");
  EXPECT_EQ(std::string(record.versionRaw, 15), "1.23A2019-01-01");
  EXPECT_STREQ(record.firmwareVersion, "1.23A");
  EXPECT_STREQ(record.versionDetail, "2019-01-01");
}

TEST_F(ParseStatus, TemperaturesBelowZeroAndRollStock) {
  ASSERT_EQ(Parse(Reply(std::string("N03-05", 6) + std::string("04\0\0", 4))), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, -5);
  EXPECT_EQ(record.temperatureF, 23);
  EXPECT_STREQ(record.formLengthText, "roll");
  // No digits read as 0; the text is kept as sent.
  ASSERT_EQ(Parse(Reply("E03abc")), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 0);
  EXPECT_EQ(record.temperatureF, 32);
  EXPECT_STREQ(record.temperatureText, "abc");
}

TEST_F(ParseStatus, ALaterFieldOverwritesAnEarlierOne) {
  ASSERT_EQ(Parse(Reply("A0300103099" + std::string("0508ABCDEFGH") + "0502XY")), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 99);
  // The second version field replaces the first entirely.
  EXPECT_STREQ(record.versionRaw, "XY");
  EXPECT_STREQ(record.firmwareVersion, "XY");
  EXPECT_STREQ(record.versionDetail, "");
}

TEST_F(ParseStatus, UnknownTagsAndFillEndTheWalk) {
  // The 0xFF fill of a direct read after the status word.
  Bytes reply = Reply(std::string("S00\x00\x20", 5));
  reply.resize(64, 0xFF);
  reply.insert(reply.end(), {'0', '3', '0', '2', '5'});
  ASSERT_EQ(Parse(reply), QX_ERR_OK);
  EXPECT_EQ(record.statusWord, 0x0020);
  EXPECT_EQ(record.temperatureC, 0);
  // The zero after a text, and a tag of 06.
  ASSERT_EQ(Parse(Reply(std::string("C\0" "03025", 7))), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 0);
  ASSERT_EQ(Parse(Reply("C0612303025")), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 0);
}

TEST_F(ParseStatus, NothingPastTheLengthIsRead) {
  // A field whose body runs past replyLength ends the walk: the bytes after
  // the length are there but must not be used.
  const Bytes reply = Reply("S03025" "0200001234" "0510ABCDE12345");
  ASSERT_EQ(Parse(reply, 6 + 9), QX_ERR_OK);
  EXPECT_EQ(record.temperatureC, 25);
  EXPECT_EQ(record.tag02Value, 0);
  ASSERT_EQ(Parse(reply, static_cast<LONG>(reply.size()) - 1), QX_ERR_OK);
  EXPECT_EQ(record.tag02Value, 1234);
  EXPECT_STREQ(record.firmwareVersion, "");
  // A tag cut after its first character.
  ASSERT_EQ(Parse(Reply("S0"), 2), QX_ERR_OK);
  EXPECT_STREQ(record.replyType, "S");
  EXPECT_EQ(record.statusWord, 0);
}

TEST_F(ParseStatus, AVersionCountOver64KeepsItsFirst64Bytes) {
  std::string body(99, 'v');
  body.replace(0, 5, "9.99Z");
  ASSERT_EQ(Parse(Reply("N0599" + body + "03042")), QX_ERR_OK);
  EXPECT_EQ(std::string(record.versionRaw, sizeof record.versionRaw), body.substr(0, 64));
  EXPECT_STREQ(record.firmwareVersion, "9.99Z");
  EXPECT_EQ(record.temperatureC, 42);  // the walk goes on after the whole field
  // Count digits that are not digits give a negative count: the walk ends.
  ASSERT_EQ(Parse(Reply("N05 !ABCDE")), QX_ERR_OK);
  EXPECT_STREQ(record.firmwareVersion, "");
}

TEST_F(ParseStatus, ReplyLetterMustBeKnown) {
  ASSERT_EQ(Parse(Reply(std::string("\xFF" "00\x01\x00", 5))), QX_ERR_BAD_STATUS);
  EXPECT_EQ(static_cast<BYTE>(record.replyType[0]), 0xFF);
  EXPECT_EQ(record.replyType[1], '\0');
  EXPECT_EQ(record.statusWord, 0);
  ASSERT_EQ(Parse(Reply(std::string("\0" "00", 3))), QX_ERR_BAD_STATUS);
  EXPECT_EQ(record.replyType[0], '\0');
  ASSERT_EQ(Parse(Reply("s0012")), QX_ERR_BAD_STATUS);  // letters are upper case
  // An empty reply is one without a letter; the record is zeroed.
  ASSERT_EQ(Parse(Reply("S"), 0), QX_ERR_BAD_STATUS);
  EXPECT_EQ(record.replyType[0], '\0');
  ASSERT_EQ(Parse(Reply("S")), QX_ERR_OK);  // the letter alone is a valid, empty reply
}

TEST_F(ParseStatus, NullArgumentsAreRefused) {
  const BYTE reply[] = {'S'};
  EXPECT_EQ(qxParseStatus(reply, 1, nullptr), QX_ERR_NULL_ARG);
  std::memset(&record, 0xA5, sizeof record);
  EXPECT_EQ(qxParseStatus(nullptr, 5, &record), QX_ERR_NULL_ARG);
  EXPECT_EQ(record.statusWord, static_cast<LONG>(0xA5A5A5A5));  // untouched
}

}  // namespace
