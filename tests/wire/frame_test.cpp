// frame_test.cpp - the wire's messages over a socket pair: JSON heads alone
// and with binary bodies, many on one connection, and every malformed or
// oversized message refused without reading past it.
#include <qxwire/frame.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

using qxwire::Message;
using qxwire::ReadResult;

class Pair : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  void Raw(const std::string& bytes) {
    ASSERT_EQ(write(fds_[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWriter() {
    close(fds_[0]);
    fds_[0] = -1;
  }
  int reader() const { return fds_[1]; }
  int writer() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

TEST_F(Pair, HeadOnlyIsTheClassicFrame) {
  std::string bytes;
  ASSERT_TRUE(qxwire::EncodeMessage({"{}", std::nullopt}, bytes));
  EXPECT_EQ(bytes, std::string("\x00\x00\x00\x02{}", 6));
}

TEST_F(Pair, BodyFollowsTheHead) {
  std::string bytes;
  ASSERT_TRUE(qxwire::EncodeMessage({"{}", std::string("\x00\x01", 2)}, bytes));
  EXPECT_EQ(bytes, std::string("\x80\x00\x00\x02{}\x00\x00\x00\x02\x00\x01", 12));
  const unsigned char word[4] = {0x80, 0, 1, 0};
  EXPECT_EQ(qxwire::ParseWord(word).head, 256u);
  EXPECT_TRUE(qxwire::ParseWord(word).body);
}

TEST_F(Pair, ManyMessagesOnOneConnection) {
  std::string binary;
  for (int b = 0; b < 256; ++b) binary += static_cast<char>(b);
  ASSERT_TRUE(qxwire::WriteMessage(writer(), {R"({"op":"write"})", binary}));
  ASSERT_TRUE(qxwire::WriteFrame(writer(), R"({"op":"end_doc"})"));
  ASSERT_TRUE(qxwire::WriteMessage(writer(), {"{}", std::string()}));
  Message m;
  ASSERT_EQ(qxwire::ReadMessage(reader(), m, {}), ReadResult::kFrame);
  EXPECT_EQ(m.head, R"({"op":"write"})");
  ASSERT_TRUE(m.body.has_value());
  EXPECT_EQ(*m.body, binary);
  std::string text;
  ASSERT_EQ(qxwire::ReadFrame(reader(), text, 100), ReadResult::kFrame);
  EXPECT_EQ(text, R"({"op":"end_doc"})");
  ASSERT_EQ(qxwire::ReadMessage(reader(), m, {}), ReadResult::kFrame);
  ASSERT_TRUE(m.body.has_value()) << "an empty body is still a body";
  EXPECT_TRUE(m.body->empty());
  CloseWriter();
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {}), ReadResult::kClosed);
}

TEST_F(Pair, OversizedPartsAreNotRead) {
  Message m;
  Raw(std::string("\x00\x00\x00\x10", 4));
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {15, 0}), ReadResult::kTooLarge);
}

TEST_F(Pair, OversizedBodyIsNotRead) {
  Message m;
  Raw(std::string("\x80\x00\x00\x02{}\x00\x00\x01\x00", 10));
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {16, 255}), ReadResult::kTooLarge);
}

TEST_F(Pair, LargestAnnouncedSizeIsTooLarge) {
  Message m;
  Raw(std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {}), ReadResult::kTooLarge);
}

TEST_F(Pair, FrameReaderRefusesABody) {
  std::string text;
  ASSERT_TRUE(qxwire::WriteMessage(writer(), {"{}", std::string("x")}));
  EXPECT_EQ(qxwire::ReadFrame(reader(), text, 100), ReadResult::kTooLarge);
}

TEST_F(Pair, CutShortIsBroken) {
  const char* const cuts[] = {"\x00\x00", "\x00\x00\x00\x05{}", "\x80\x00\x00\x02{}\x00", "\x80\x00\x00\x02{}\x00\x00\x00\x04" "ab"};
  const size_t sizes[] = {2, 6, 7, 12};
  for (size_t i = 0; i < 4; ++i) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_EQ(write(fds[0], cuts[i], sizes[i]), static_cast<ssize_t>(sizes[i]));
    close(fds[0]);
    Message m;
    EXPECT_EQ(qxwire::ReadMessage(fds[1], m, {}), ReadResult::kBroken) << i;
    close(fds[1]);
  }
}

TEST_F(Pair, AWaitThatGivesUpEndsTheRead) {
  Raw(std::string("\x00\x00\x00\x05{", 5));  // the rest never comes
  int asked = 0;
  Message m;
  const qxwire::Wait wait = [&](int, short events) {
    EXPECT_EQ(events, POLLIN);
    return ++asked < 3;
  };
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {}, wait), ReadResult::kGaveUp);
  EXPECT_EQ(asked, 3);
}

TEST_F(Pair, AWaitingReaderGetsTheWholeMessage) {
  const std::string body(300000, 'x');  // more than a socket buffer holds
  std::thread sender([&] { EXPECT_TRUE(qxwire::WriteMessage(writer(), {"{}", body})); });
  Message m;
  const qxwire::Wait wait = [](int fd, short events) {
    pollfd p{fd, events, 0};
    return poll(&p, 1, 5000) == 1;
  };
  EXPECT_EQ(qxwire::ReadMessage(reader(), m, {}, wait), ReadResult::kFrame);
  sender.join();
  ASSERT_TRUE(m.body.has_value());
  EXPECT_EQ(m.body->size(), body.size());
}

}  // namespace
