// Pipe frames: the layout, the checksum, and taking replies apart without
// reading past what arrived or writing past the caller's buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lm/frame.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Build(int command, const Bytes& payload, int reserved = 0) {
  Bytes frame(payload.size() + 7, 0xEE);
  LONG length = -1;
  EXPECT_EQ(qx::BuildPipeFrame(command, reserved, payload.empty() ? nullptr : payload.data(),
                               static_cast<DWORD>(payload.size()), frame.data(), &length),
            1);
  EXPECT_EQ(length, static_cast<LONG>(payload.size() + 7));
  return frame;
}

TEST(PipeFrame, WorkedExamples) {
  EXPECT_EQ(Build(0x02, {}), (Bytes{0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x05}));
  EXPECT_EQ(Build(0x00, {}), (Bytes{0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}));
  EXPECT_EQ(Build(0x01, {0x4E, 0x20, 0x1B, 0x49, 0x53}),
            (Bytes{0x03, 0x00, 0x00, 0x05, 0x01, 0x4E, 0x20, 0x1B, 0x49, 0x53, 0x01, 0x2E}));
  EXPECT_EQ(Build(0x05, {0x01}), (Bytes{0x03, 0x00, 0x00, 0x01, 0x05, 0x01, 0x00, 0x0A}));

  const Bytes reply{0x03, 0x00, 0x00, 0x02, 0x12, 0x01, 0x02, 0x00, 0x1A};
  BYTE code = 0;
  BYTE payload[8] = {};
  DWORD length = 0;
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), static_cast<DWORD>(reply.size()), &code, payload,
                               sizeof payload, &length),
            1);
  EXPECT_EQ(code, 0x12);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(payload[0], 0x01);
  EXPECT_EQ(payload[1], 0x02);
  EXPECT_EQ(payload[2], 0x00);  // no terminator added
}

TEST(PipeFrame, LengthIsBigEndianAndChecksumWraps) {
  // Only the low 8 bits of command and reserved; an empty payload's sum is 3 + both.
  EXPECT_EQ(Build(0x1FF, {}, 0x107), (Bytes{0x03, 0x07, 0x00, 0x00, 0xFF, 0x01, 0x09}));
  const Bytes frame = Build(0x09, Bytes(261, 0xFF));
  EXPECT_EQ(frame[2], 0x01);
  EXPECT_EQ(frame[3], 0x05);
  // 3 + 1 + 5 + 9 + 261 * 255 = 66573, modulo 65536 = 1037 = 0x040D.
  EXPECT_EQ(frame[266], 0x04);
  EXPECT_EQ(frame[267], 0x0D);
  BYTE code = 0;
  std::vector<BYTE> payload(261);
  DWORD length = 0;
  EXPECT_EQ(qx::ParsePipeFrame(frame.data(), static_cast<DWORD>(frame.size()), &code, payload.data(),
                               static_cast<DWORD>(payload.size()), &length),
            1);
  EXPECT_EQ(length, 261u);
}

TEST(PipeFrame, ReservedByteCountsInTheSumButIsNotReported) {
  Bytes reply = Build(0x08, {'v'}, 0x5A);
  BYTE code = 0;
  BYTE payload[4] = {};
  DWORD length = 0;
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), static_cast<DWORD>(reply.size()), &code, payload,
                               sizeof payload, &length),
            1);
  reply[1] = 0x00;  // same bytes otherwise: now the sum is off
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), static_cast<DWORD>(reply.size()), &code, payload,
                               sizeof payload, &length),
            0);
}

TEST(PipeFrame, BadChecksumStillDeliversCodePayloadAndLength) {
  Bytes reply = Build('O', {'a', 'b', 'c'});
  reply.back() ^= 0x01;
  BYTE code = 0;
  BYTE payload[8] = {};
  DWORD length = 0;
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), static_cast<DWORD>(reply.size()), &code, payload,
                               sizeof payload, &length),
            0);
  EXPECT_EQ(code, 'O');
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(payload), 3), "abc");
}

TEST(PipeFrame, NotAFrameWritesNothing) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"lead byte 0x02", {0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x04}},
      {"length past the bytes received", {0x03, 0x00, 0x00, 0x09, 0x02, 0x41, 0x00, 0x4F}},
      {"length 0xFFFF", {0x03, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x05}},
      {"shorter than a head", {0x03, 0x00, 0x00}},
      {"nothing", {}},
  };
  for (const Case& c : cases) {
    BYTE code = 0x77;
    BYTE payload[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    DWORD length = 1234;
    EXPECT_EQ(qx::ParsePipeFrame(c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &code, payload,
                                 sizeof payload, &length),
              0)
        << c.what;
    EXPECT_FALSE(qx::IsWholeFrame(c.bytes.data(), static_cast<DWORD>(c.bytes.size()))) << c.what;
    EXPECT_EQ(code, 0x77) << c.what;
    EXPECT_EQ(length, 1234u) << c.what;
    EXPECT_EQ(payload[0], 0xAA) << c.what;
  }
}

TEST(PipeFrame, PayloadIsCutToTheCallersBufferAndTrailingBytesIgnored) {
  Bytes reply = Build(0x02, {'1', '2', '3', '4', '5', '6'});
  reply.push_back(0x99);  // after the frame
  BYTE payload[5] = {0, 0, 0, 0, 0xAA};
  BYTE code = 0;
  DWORD length = 0;
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), static_cast<DWORD>(reply.size()), &code, payload, 4, &length), 1);
  EXPECT_EQ(length, 6u);  // the declared length
  EXPECT_EQ(std::string(reinterpret_cast<char*>(payload), 4), "1234");
  EXPECT_EQ(payload[4], 0xAA);
}

TEST(PipeFrame, EmptyReplyIsValidWithItsSum) {
  const Bytes reply{0x03, 0x00, 0x00, 0x00, 0x54, 0x00, 0x57};
  BYTE code = 0;
  DWORD length = 99;
  EXPECT_EQ(qx::ParsePipeFrame(reply.data(), 7, &code, nullptr, 0, &length), 1);
  EXPECT_EQ(code, 'T');
  EXPECT_EQ(length, 0u);
}

}  // namespace
