// qxSetSheetSize with sizes that cannot be matched against a sheet: each is
// refused before the printer is asked, and the caller's values stay as they
// were.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/state.h"
#include "world_test_util.h"

namespace {

using qxtest::kTicket;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class SizeInput : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(qx::g_state.printerName, kTicket);
    paper_ = PaperCode();
    qxplat_call_counts_reset();
    qxplat_debug_capture_clear();
  }
  int PaperCode() { return control().Printer(kTicket)["devmode"]["paper_size"].get<int>(); }
  // The printer kept its paper, the spooler was not asked, nothing was logged.
  void ExpectUntouched() {
    EXPECT_EQ(PaperCode(), paper_);
    EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 0u);
    EXPECT_EQ(qxplat_call_count("SetPrinterA"), 0u);
    EXPECT_EQ(qxplat_debug_capture_count(), 0u);
  }

 private:
  int paper_ = 0;
};

TEST_F(SizeInput, SizesThatAreNotFinitePositiveNumbersAreRefused) {
  // 1e20 used to choose the driver's first sheet whatever the other side
  // asked: every difference from it is beyond the largest the choice weighs.
  const float bad[] = {kNaN,  -kNaN, kInf,    -kInf, 0.0f, -0.0f, -3.0f, -std::numeric_limits<float>::min(),
                       9999.0f, 1e20f, std::numeric_limits<float>::max()};
  for (float value : bad) {
    SCOPED_TRACE(std::to_string(value));
    // Either side alone is enough, with a good size on the other.
    float width = value, length = 6.0f;
    EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_BAD_DATA);
    EXPECT_EQ(std::memcmp(&width, &value, sizeof value), 0);
    EXPECT_EQ(length, 6.0f);

    width = 3.25f;
    length = value;
    EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_BAD_DATA);
    EXPECT_EQ(width, 3.25f);
    EXPECT_EQ(std::memcmp(&length, &value, sizeof value), 0);
  }
  ExpectUntouched();
}

TEST_F(SizeInput, NullPointersAreRefusedWithoutWritingThroughTheOther) {
  float size = kNaN;
  EXPECT_EQ(qxSetSheetSize(nullptr, &size), QX_ERR_NULL_ARG);
  EXPECT_TRUE(std::isnan(size));
  size = 6.0f;
  EXPECT_EQ(qxSetSheetSize(&size, nullptr), QX_ERR_NULL_ARG);
  EXPECT_EQ(size, 6.0f);
  EXPECT_EQ(qxSetSheetSize(nullptr, nullptr), QX_ERR_NULL_ARG);
  ExpectUntouched();
}

// The edges of what is accepted: the smallest float and a size just below
// 9999 inches are sizes, matched to the nearest sheet like any other.
TEST_F(SizeInput, ExtremeSizesStillChooseTheNearestSheet) {
  float width = std::numeric_limits<float>::denorm_min(), length = 6.0f;
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_SIZE_MISMATCH);
  EXPECT_EQ(length, 6.0f);
  EXPECT_EQ(width, 3.0f);  // the narrower of the two 6-inch sheets

  width = 3.25f;
  length = 9998.0f;
  EXPECT_EQ(qxSetSheetSize(&width, &length), QX_ERR_SIZE_MISMATCH);
  EXPECT_FLOAT_EQ(length, 11.69f);  // the driver's longest sheet, A4
  EXPECT_FLOAT_EQ(width, 8.27f);
}

}  // namespace
