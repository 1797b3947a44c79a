// records_test.cpp - the record connection named pipes carry (records.h):
// one-record and byte reads, empty records, acknowledgements for Flush,
// the disconnect record, peers that send garbage or leave, Peek, and a
// blocked read woken by Shutdown. Each test connects two record
// connections over a fresh socket pair.
#include "records.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "socket_pair.h"

namespace {

using qxplat::RecordConnection;
using qxplat::RecordIo;

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SocketPair pair;
    a_ = RecordConnection::Create(std::move(pair.near));
    b_ = RecordConnection::Create(std::move(pair.far));
    ASSERT_NE(a_, nullptr);
    ASSERT_NE(b_, nullptr);
  }

  static void Put(RecordConnection& to, const std::string& record) {
    EXPECT_EQ(to.Write(record.data(), static_cast<DWORD>(record.size()), true), RecordIo::kOk);
  }

  // One read of up to room bytes; outcome (out) is what it returned.
  static std::string Get(RecordConnection& from, DWORD room, bool one_record, RecordIo* outcome) {
    std::string bytes(room, '\0');
    DWORD read = 99;
    *outcome = from.Read(bytes.data(), room, one_record, &read);
    bytes.resize(read);
    return bytes;
  }

  std::shared_ptr<RecordConnection> a_;
  std::shared_ptr<RecordConnection> b_;
};

TEST_F(RecordsTest, OneRecordReadsDeliverARecordInPiecesAndEmptyRecords) {
  Put(*a_, "hello world");
  Put(*a_, "");
  Put(*a_, "next");
  RecordIo io;
  EXPECT_EQ(Get(*b_, 5, true, &io), "hello");
  EXPECT_EQ(io, RecordIo::kMoreData);
  EXPECT_EQ(Get(*b_, 64, true, &io), " world");
  EXPECT_EQ(io, RecordIo::kOk);
  EXPECT_EQ(Get(*b_, 64, true, &io), "") << "an empty record is a read of 0 bytes";
  EXPECT_EQ(io, RecordIo::kOk);
  EXPECT_EQ(Get(*b_, 64, true, &io), "next");
  EXPECT_EQ(io, RecordIo::kOk);
}

TEST_F(RecordsTest, ByteReadsCrossRecordsAndByteWritesOfNothingSendNothing) {
  Put(*a_, "ab");
  EXPECT_EQ(a_->Write("", 0, false), RecordIo::kOk);
  EXPECT_EQ(a_->Write("cde", 3, false), RecordIo::kOk);
  RecordIo io;
  EXPECT_EQ(Get(*b_, 4, false, &io), "abcd");
  EXPECT_EQ(io, RecordIo::kOk);
  EXPECT_EQ(Get(*b_, 4, false, &io), "e");
  DWORD copied = 9, available = 9, left = 9;
  EXPECT_EQ(b_->Peek(nullptr, 0, false, &copied, &available, &left), RecordIo::kOk);
  EXPECT_EQ(available, 0u) << "the empty byte write sent no record";
}

TEST_F(RecordsTest, FlushWaitsUntilTheOtherEndHasReadEveryRecord) {
  EXPECT_EQ(a_->Flush(), RecordIo::kOk) << "nothing sent, nothing to wait for";
  Put(*a_, "one");
  Put(*a_, "two");
  std::atomic<bool> flushed{false};
  RecordIo flush = RecordIo::kLocalClosed;
  std::thread flusher([&] {
    flush = a_->Flush();
    flushed = true;
  });
  RecordIo io;
  EXPECT_EQ(Get(*b_, 64, true, &io), "one");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(flushed) << "one record is still unread";
  EXPECT_EQ(Get(*b_, 64, true, &io), "two");
  flusher.join();
  EXPECT_EQ(flush, RecordIo::kOk);
}

TEST_F(RecordsTest, DisconnectDiscardsWhatWasNotReadAndEndsBothSides) {
  Put(*a_, "lost");
  a_->Disconnect();
  RecordIo io;
  EXPECT_EQ(Get(*b_, 64, true, &io), "");
  EXPECT_EQ(io, RecordIo::kPeerDisconnected);
  EXPECT_EQ(b_->Write("x", 1, true), RecordIo::kPeerDisconnected);
  EXPECT_TRUE(b_->PeerGone());
  EXPECT_EQ(Get(*a_, 64, true, &io), "");
  EXPECT_EQ(io, RecordIo::kLocalClosed);
  EXPECT_EQ(a_->Write("x", 1, true), RecordIo::kLocalClosed);
  EXPECT_FALSE(a_->PeerGone()) << "this end went, not its peer";
}

TEST_F(RecordsTest, APeerThatLeavesLeavesItsRecordsToBeRead) {
  Put(*a_, "last");
  a_->Shutdown();
  a_.reset();
  RecordIo io;
  EXPECT_EQ(Get(*b_, 64, true, &io), "last");
  EXPECT_EQ(io, RecordIo::kOk);
  EXPECT_EQ(Get(*b_, 64, true, &io), "");
  EXPECT_EQ(io, RecordIo::kPeerClosed);
  EXPECT_EQ(b_->Write("x", 1, true), RecordIo::kPeerClosed);
  EXPECT_EQ(b_->Flush(), RecordIo::kOk) << "nothing was sent";
  EXPECT_TRUE(b_->PeerGone());
}

TEST(RecordsGarbage, AnythingButARecordMeansThePeerIsGone) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"unknown kind", std::string("\x09\x00\x00\x00\x00", 5)},
      {"data record over the limit", std::string("\x01\x01\x00\x00\x01", 5)},
      {"cut record, then the end", std::string("\x01\x10\x00\x00\x00" "abc", 8)},
  };
  for (const auto& c : cases) {
    SocketPair pair;
    auto conn = RecordConnection::Create(std::move(pair.near));
    pair.Send(c.bytes);
    pair.far.reset();
    char buffer[32];
    DWORD read = 99;
    EXPECT_EQ(conn->Read(buffer, sizeof buffer, true, &read), RecordIo::kPeerClosed) << c.what;
    EXPECT_EQ(read, 0u) << c.what;
  }
}

TEST_F(RecordsTest, PeekCopiesWithoutTaking) {
  Put(*a_, "abc");
  Put(*a_, "de");
  char buffer[16] = {};
  DWORD copied = 0, available = 0, left = 0;
  EXPECT_EQ(b_->Peek(buffer, 2, true, &copied, &available, &left), RecordIo::kOk);
  EXPECT_EQ(std::string(buffer, copied), "ab");
  EXPECT_EQ(available, 5u);
  EXPECT_EQ(left, 1u);
  EXPECT_EQ(b_->Peek(buffer, sizeof buffer, false, &copied, &available, &left), RecordIo::kOk);
  EXPECT_EQ(std::string(buffer, copied), "abcde");
  EXPECT_EQ(left, 0u);
  RecordIo io;
  EXPECT_EQ(Get(*b_, 64, true, &io), "abc");
}

TEST_F(RecordsTest, ShutdownWakesABlockedRead) {
  RecordIo io = RecordIo::kOk;
  std::thread reader([&] { Get(*b_, 64, true, &io); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  b_->Shutdown();
  reader.join();
  EXPECT_EQ(io, RecordIo::kLocalClosed);
}

}  // namespace
