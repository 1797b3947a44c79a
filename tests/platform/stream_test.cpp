// stream_test.cpp - the byte stream under record connections (stream.h):
// bounded receives and sends, waits that end at their deadline, on a Wake
// or when the stream is closed from another thread. Each test runs over a
// fresh socket pair.
#include "stream.h"

#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "socket_pair.h"

namespace {

using qxplat::Stream;

constexpr size_t kMoreThanASocketHolds = size_t{8} << 20;

auto Soon() { return std::chrono::steady_clock::now() + std::chrono::milliseconds(20); }

// A stream over the near end of a socket pair; the far end is its peer.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = Stream::Create(std::move(pair_.near));
    ASSERT_NE(stream_, nullptr);
  }

  std::string Receive(size_t room) {
    std::string bytes(room, '\0');
    size_t got = 99;
    EXPECT_EQ(stream_->Receive(bytes.data(), room, &got), Stream::Received::kSome);
    bytes.resize(got);
    return bytes;
  }

  SocketPair pair_;  // far is the peer
  std::unique_ptr<Stream> stream_;
};

TEST_F(StreamTest, ReceiveTakesAtMostTheRoomGivenAndNeverWaits) {
  char buffer[8];
  size_t got = 99;
  EXPECT_EQ(stream_->Receive(buffer, sizeof buffer, &got), Stream::Received::kNothingYet);
  EXPECT_EQ(got, 0u);
  pair_.Send("abcdef");
  EXPECT_EQ(stream_->Receive(buffer, 0, &got), Stream::Received::kNothingYet) << "no room";
  EXPECT_EQ(Receive(4), "abcd");
  EXPECT_EQ(Receive(8), "ef");
  EXPECT_EQ(stream_->Receive(buffer, sizeof buffer, &got), Stream::Received::kNothingYet);
  pair_.far.reset();
  EXPECT_EQ(stream_->Receive(buffer, sizeof buffer, &got), Stream::Received::kEnd);
}

TEST_F(StreamTest, SendNowSendsWhatFitsAndSendAllStopsAtItsDeadline) {
  const std::vector<char> big(kMoreThanASocketHolds, 'x');
  const size_t now = stream_->SendNow(big.data(), big.size());
  EXPECT_GT(now, 0u);
  EXPECT_LT(now, big.size());
  EXPECT_EQ(stream_->SendNow(big.data(), big.size()), 0u) << "the socket is full";
  size_t sent = 99;
  EXPECT_EQ(stream_->SendAll(big.data(), big.size(), Soon(), &sent), Stream::Sent::kTimedOut);
  EXPECT_EQ(sent, 0u);
}

TEST_F(StreamTest, SendAllWaitsWhileTheReaderCatchesUp) {
  const std::vector<char> big(kMoreThanASocketHolds, 'y');
  size_t drained = 0;
  std::thread reader([&] {
    char buffer[65536];
    for (ssize_t n; drained < big.size() && (n = recv(pair_.far.get(), buffer, sizeof buffer, 0)) > 0;) {
      drained += static_cast<size_t>(n);
    }
  });
  size_t sent = 0;
  EXPECT_EQ(stream_->SendAll(big.data(), big.size(), qxplat::kNoDeadline, &sent), Stream::Sent::kAll);
  reader.join();
  EXPECT_EQ(sent, big.size());
  EXPECT_EQ(drained, big.size());
}

TEST_F(StreamTest, SendsFailOnceThePeerIsGone) {
  pair_.far.reset();
  EXPECT_EQ(stream_->SendAll("z", 1), Stream::Sent::kFailed);
  EXPECT_EQ(stream_->SendNow("z", 1), 0u);
}

TEST_F(StreamTest, WaitReportsInputOrEndsAtItsDeadlineOrOnAWake) {
  Stream::Ready ready = stream_->Wait(true, false, Soon());
  EXPECT_FALSE(ready.input || ready.output || ready.hangup) << "the deadline passed";
  ready = stream_->Wait(false, true, Soon());
  EXPECT_TRUE(ready.output);
  stream_->Wake();
  ready = stream_->Wait(true, false);
  EXPECT_FALSE(ready.input) << "woken with nothing to read";
  pair_.Send("!");
  EXPECT_TRUE(stream_->Wait(true, false).input);
  EXPECT_EQ(Receive(4), "!");
}

TEST_F(StreamTest, CloseWakesAWaiterAndABlockedSender) {
  const std::vector<char> big(kMoreThanASocketHolds, 'w');
  Stream::Sent sent = Stream::Sent::kAll;
  std::thread waiter([&] { stream_->Wait(true, false); });
  std::thread sender([&] { sent = stream_->SendAll(big.data(), big.size()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(stream_->closed());
  stream_->Close();
  waiter.join();
  sender.join();
  EXPECT_TRUE(stream_->closed());
  EXPECT_EQ(sent, Stream::Sent::kFailed);
  char buffer[4];
  size_t got = 99;
  EXPECT_EQ(stream_->Receive(buffer, sizeof buffer, &got), Stream::Received::kEnd);
}

TEST(PollTimeout, RoundsUpCapsAndKnowsNoDeadline) {
  using std::chrono::milliseconds;
  const auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(qxplat::PollTimeoutMs(qxplat::kNoDeadline), -1);
  EXPECT_EQ(qxplat::PollTimeoutMs(now - milliseconds(5)), 0);
  const int ms = qxplat::PollTimeoutMs(now + milliseconds(500));
  EXPECT_GT(ms, 400);
  EXPECT_LE(ms, 500);
  EXPECT_EQ(qxplat::PollTimeoutMs(now + std::chrono::hours(2)), 60000);
}

}  // namespace
