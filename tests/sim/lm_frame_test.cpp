// lm_frame_test.cpp - the language monitor's own frame codec as pure
// functions: frames built byte for byte (checksums worked out by hand),
// every malformed request refused, reply texts cut and terminated, and the
// firmware file reader's refusals.
#include "lm_frame.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace lm = qxsim::lm;

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

TEST(LmFrame, BuildsFramesByteForByte) {
  // 03 00 00 02 41 'h' 'i' and the sum 0x03+0x02+0x41+0x68+0x69 = 0x0117.
  EXPECT_EQ(lm::Frame(0x41, "hi", lm::kLeadByte, 2, false), Bytes("\x03\x00\x00\x02\x41hi\x01\x17"));
  EXPECT_EQ(lm::Frame(0x41, "hi", lm::kLeadByte, 2, true), Bytes("\x03\x00\x00\x02\x41hi\x01\x18"));
  EXPECT_EQ(lm::Frame(0x00, "", 0x07, 0x0102, false), Bytes("\x07\x00\x01\x02\x00\x00\x0a"));
}

TEST(LmFrame, ParsesExactlyOneFrame) {
  uint8_t command = 0;
  std::string_view payload;
  const std::string message = Bytes("\x03\x7f\x00\x01\x05\x07\x00\x8f");
  ASSERT_TRUE(lm::ParseRequest(message, &command, &payload))
      << "the reserved byte may hold anything";
  EXPECT_EQ(command, 0x05);
  EXPECT_EQ(payload, "\x07");
}

TEST(LmFrame, RefusesMalformedRequests) {
  const struct {
    const char* what;
    std::string message;
  } bad[] = {
      {"empty", ""},
      {"shorter than a frame", Bytes("\x03\x00\x00\x00\x02\x00")},
      {"wrong lead byte", Bytes("\x02\x00\x00\x00\x02\x00\x04")},
      {"length past the bytes", Bytes("\x03\x00\x00\x01\x02\x00\x06")},
      {"bytes past the length", Bytes("\x03\x00\x00\x00\x02\x00\x05\x00")},
      {"bad checksum", Bytes("\x03\x00\x00\x00\x02\x00\x06")},
      {"length field of 65535", Bytes("\x03\x00\xff\xff\x02\x00\x05")},
  };
  for (const auto& b : bad) {
    uint8_t command = 0;
    std::string_view payload;
    EXPECT_FALSE(lm::ParseRequest(b.message, &command, &payload)) << b.what;
  }
}

TEST(LmFrame, ReplyTextsAreCutAndTerminated) {
  EXPECT_EQ(lm::Text("OK"), Bytes("OK\0"));
  EXPECT_EQ(lm::Text(std::string(5000, 'x')).size(), lm::kMaxReplyPayload);
  EXPECT_EQ(lm::Text(std::string(5000, 'x')).back(), '\0');
  const lm::Reply failed = lm::Failed("BAD LENGTH");
  EXPECT_EQ(failed.code, lm::kReplyFailed);
  EXPECT_EQ(failed.payload, Bytes("BAD LENGTH\0"));
  EXPECT_EQ(lm::Ok(0x05, "HEARTBEAT SET").code, 0x05);
  EXPECT_EQ(lm::LittleEndian32(Bytes("\x01\x02\x03\x04")), 0x04030201u);
}

TEST(LmFrame, FirmwareFilesAreReadWholeOrRefused) {
  char pattern[] = "/tmp/qxlmframe-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::string contents, error;
  EXPECT_FALSE(lm::ReadWholeFile(dir + "/missing.bin", &contents, &error));
  EXPECT_EQ(error, "FILE NOT FOUND");
  EXPECT_FALSE(lm::ReadWholeFile(dir, &contents, &error));
  EXPECT_EQ(error, "FILE NOT READABLE");
  std::ofstream(dir + "/empty.bin").close();
  EXPECT_FALSE(lm::ReadWholeFile(dir + "/empty.bin", &contents, &error));
  EXPECT_EQ(error, "FILE EMPTY");
  std::ofstream(dir + "/fw.bin", std::ios::binary) << Bytes("QXFW 1.0\n\x00\x01");
  ASSERT_TRUE(lm::ReadWholeFile(dir + "/fw.bin", &contents, &error));
  EXPECT_EQ(contents, Bytes("QXFW 1.0\n\x00\x01"));
  std::filesystem::remove_all(dir);
}

}  // namespace
