// hex_test.cpp - the wire library's hex codec: both directions, either case
// read, and every malformed text refused.
#include <qxwire/hex.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Hex, WritesLowerCasePairs) {
  EXPECT_EQ(qxwire::ToHex(std::string("\x00\x0f\xa0\xff", 4)), "000fa0ff");
  EXPECT_EQ(qxwire::ToHex(std::vector<uint8_t>{0x51, 0x58}), "5158");
  EXPECT_EQ(qxwire::ToHex(std::string()), "");
  const unsigned char raw[] = {1, 2, 0xAB};
  EXPECT_EQ(qxwire::ToHex(raw, sizeof raw), "0102ab");
}

TEST(Hex, ReadsEitherCase) {
  std::string bytes;
  ASSERT_TRUE(qxwire::FromHex("00fFAa7e", bytes));
  EXPECT_EQ(bytes, std::string("\x00\xff\xaa\x7e", 4));
  std::vector<uint8_t> list;
  ASSERT_TRUE(qxwire::FromHex("", list));
  EXPECT_TRUE(list.empty());
}

TEST(Hex, RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(qxwire::FromHex(qxwire::ToHex(all), back));
  EXPECT_EQ(back, all);
}

TEST(Hex, RefusesMalformedText) {
  const char* const bad[] = {"0", "abc", "0g", "g0", "  ", "0x12", "12 34", "1-", "\xff\xff"};
  for (const char* text : bad) {
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(qxwire::FromHex(text, bytes)) << text;
  }
  std::string bytes;
  EXPECT_FALSE(qxwire::FromHex(std::string("0\0", 2), bytes));
}

}  // namespace
