// devmode_test.cpp - a device mode's wire form: the size fields written on
// encoding, and the checks on decoding (too short, not hex, sizes that do
// not describe the bytes).
#include <qxwire/devmode.h>
#include <qxwire/hex.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr size_t kRecord = 156;  // a Win64 DEVMODEA

std::vector<uint8_t> Record(uint16_t size, uint16_t extra) {
  std::vector<uint8_t> r(kRecord, 0x11);
  r[qxwire::kDevmodeSizeOffset] = static_cast<uint8_t>(size & 0xFF);
  r[qxwire::kDevmodeSizeOffset + 1] = static_cast<uint8_t>(size >> 8);
  r[qxwire::kDevmodeExtraOffset] = static_cast<uint8_t>(extra & 0xFF);
  r[qxwire::kDevmodeExtraOffset + 1] = static_cast<uint8_t>(extra >> 8);
  return r;
}

TEST(Devmode, EncodingWritesBothSizes) {
  const std::vector<uint8_t> record = Record(0, 0);
  const std::string hex = qxwire::EncodeDevmode(record.data(), record.size(), std::string("QXDM", 4));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(qxwire::DecodeDevmode(hex, kRecord, bytes), qxwire::DevmodeCheck::kOk);
  ASSERT_EQ(bytes.size(), kRecord + 4);
  EXPECT_EQ(qxwire::DevmodeSize(bytes), kRecord);
  EXPECT_EQ(qxwire::DevmodeExtra(bytes), 4);
  EXPECT_EQ(std::string(bytes.end() - 4, bytes.end()), "QXDM");
  EXPECT_EQ(bytes[0], 0x11) << "the rest of the record travels as it is";
}

TEST(Devmode, DecodingTakesALongerPublicPart) {
  std::vector<uint8_t> bytes = Record(kRecord + 8, 2);
  bytes.insert(bytes.end(), 10, 0x22);
  std::vector<uint8_t> out;
  EXPECT_EQ(qxwire::DecodeDevmode(qxwire::ToHex(bytes), kRecord, out), qxwire::DevmodeCheck::kOk);
}

TEST(Devmode, DecodingRefusesWhatIsNoDevmode) {
  std::vector<uint8_t> out;
  EXPECT_EQ(qxwire::DecodeDevmode("", kRecord, out), qxwire::DevmodeCheck::kNotADevmode);
  EXPECT_EQ(qxwire::DecodeDevmode("zz", kRecord, out), qxwire::DevmodeCheck::kNotADevmode);
  std::vector<uint8_t> short_record = Record(kRecord, 0);
  short_record.pop_back();
  EXPECT_EQ(qxwire::DecodeDevmode(qxwire::ToHex(short_record), kRecord, out), qxwire::DevmodeCheck::kNotADevmode);
  std::string odd = qxwire::ToHex(Record(kRecord, 0)) + "0";
  EXPECT_EQ(qxwire::DecodeDevmode(odd, kRecord, out), qxwire::DevmodeCheck::kNotADevmode);
}

TEST(Devmode, DecodingRefusesSizesThatDoNotDescribeTheBytes) {
  const struct {
    uint16_t size, extra;
    size_t tail;
  } cases[] = {
      {kRecord - 1, 1, 0},   // a public part below the record
      {kRecord, 4, 0},       // private bytes announced, none sent
      {kRecord, 0, 3},       // bytes sent, none announced
      {kRecord, 0xFFFF, 4},  // an absurd count
      {0xFFFF, 0, 0},        // a public part longer than the bytes
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = Record(c.size, c.extra);
    bytes.insert(bytes.end(), c.tail, 0);
    std::vector<uint8_t> out;
    EXPECT_EQ(qxwire::DecodeDevmode(qxwire::ToHex(bytes), kRecord, out), qxwire::DevmodeCheck::kSizesDiffer)
        << c.size << " " << c.extra << " " << c.tail;
  }
}

TEST(Devmode, SizeFieldsOfShortBytesReadAsZero) {
  EXPECT_EQ(qxwire::DevmodeSize({1, 2, 3}), 0);
  EXPECT_EQ(qxwire::DevmodeExtra({}), 0);
}

}  // namespace
