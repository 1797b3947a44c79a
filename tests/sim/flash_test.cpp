// flash_test.cpp - a flash run as a pure function of the virtual clock: each
// state at its edges, the verification only when asked, a failing printer,
// and the version an image names in its first line (malformed ones too).
#include "flash.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using qxsim::FlashProgress;
using qxsim::FlashRun;
using State = FlashProgress::State;

FlashRun RunOf(unsigned blocks, bool verify, unsigned block_ms = 10) {
  FlashRun run;
  run.started = true;
  run.start_ms = 1000;
  run.blocks = blocks;
  run.verify = verify;
  run.block_ms = block_ms;
  run.file = "FW.BIN";
  return run;
}

TEST(FlashRun, AnIdleRunSaysSo) {
  const FlashProgress p = qxsim::ProgressAt(FlashRun{}, 5000);
  EXPECT_EQ(p.state, State::kIdle);
  EXPECT_EQ(p.note, "Idle");
  EXPECT_TRUE(p.pass);
  EXPECT_EQ(p.max, 0u);
}

TEST(FlashRun, StatesFollowTheClock) {
  const FlashRun run = RunOf(8, true);  // erase 40, write 80, verify 20
  const struct {
    uint64_t at;
    State state;
    unsigned current;
    const char* note;
  } steps[] = {
      {1000, State::kErasing, 0, "Erasing"},   {1039, State::kErasing, 0, "Erasing"},
      {1040, State::kWriting, 0, "Writing"},   {1059, State::kWriting, 1, "Writing"},
      {1119, State::kWriting, 7, "Writing"},   {1120, State::kVerifying, 8, "Verifying"},
      {1139, State::kVerifying, 8, "Verifying"}, {1140, State::kDone, 8, "Done"},
      {999999, State::kDone, 8, "Done"},
  };
  for (const auto& s : steps) {
    const FlashProgress p = qxsim::ProgressAt(run, s.at);
    EXPECT_EQ(p.state, s.state) << s.at;
    EXPECT_EQ(p.current, s.current) << s.at;
    EXPECT_EQ(p.note, s.note) << s.at;
    EXPECT_EQ(p.max, 8u);
    EXPECT_EQ(p.file, "FW.BIN");
  }
  EXPECT_TRUE(qxsim::Running(State::kVerifying));
  EXPECT_FALSE(qxsim::Running(State::kDone));
  EXPECT_FALSE(qxsim::Running(State::kFailed));
}

TEST(FlashRun, NoVerificationUnlessAsked) {
  EXPECT_EQ(qxsim::ProgressAt(RunOf(8, false), 1120).state, State::kDone);
}

TEST(FlashRun, AFailingPrinterFailsOnceErased) {
  FlashRun run = RunOf(4, true);
  run.failure = "Refused by printer";
  EXPECT_EQ(qxsim::ProgressAt(run, 1039).state, State::kErasing);
  const FlashProgress p = qxsim::ProgressAt(run, 1040);
  EXPECT_EQ(p.state, State::kFailed);
  EXPECT_FALSE(p.pass);
  EXPECT_EQ(p.current, 0u);
  EXPECT_EQ(p.note, "Refused by printer");
}

TEST(FlashRun, ABlockOfNoTimeIsWrittenAtOnce) {
  EXPECT_EQ(qxsim::ProgressAt(RunOf(3, false, 0), 1000).state, State::kDone);
}

TEST(FlashRun, TheVersionAnImageNames) {
  EXPECT_EQ(qxsim::FirmwareVersionOf("QXFW 1.31\r\nbinary"), "1.31");
  EXPECT_EQ(qxsim::FirmwareVersionOf("QXFW 2.0"), "2.0");
  EXPECT_EQ(qxsim::FirmwareVersionOf(std::string("QXFW 3.1\0rest", 13)), "3.1");
  EXPECT_EQ(qxsim::FirmwareVersionOf("QXFW " + std::string(100, '9')), std::string(63, '9'));
  EXPECT_EQ(qxsim::FirmwareVersionOf("QXFW"), "");
  EXPECT_EQ(qxsim::FirmwareVersionOf("qxfw 1.0"), "");
  EXPECT_EQ(qxsim::FirmwareVersionOf(""), "");
  EXPECT_EQ(qxsim::FirmwareVersionOf("\x5a\x5a\x5a"), "");
}

TEST(FlashRun, StateNames) {
  EXPECT_STREQ(qxsim::FlashStateName(State::kIdle), "idle");
  EXPECT_STREQ(qxsim::FlashStateName(State::kWriting), "writing");
  EXPECT_STREQ(qxsim::FlashStateName(State::kFailed), "failed");
}

}  // namespace
