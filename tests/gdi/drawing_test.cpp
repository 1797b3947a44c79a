// Fitting a text into a box, centred text with an offset copy, and the
// forwards, on a printer device context of the default world. Sizes rest on
// the platform's text metrics (docs/graphics.md): a device font measures its
// cell exactly; another face's cell is its height rounded up to 4 dots.
#include <cstring>
#include <string>
#include <vector>

#include "world_test_util.h"

namespace {

using qxtest::kTicket;

class Drawing : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    hdc_ = CreateDCA("WINSPOOL", kTicket, nullptr, nullptr);
    ASSERT_NE(hdc_, nullptr);
  }
  void TearDown() override {
    DeleteDC(hdc_);
    qxtest::LibraryWorld::TearDown();
  }
  static LOGFONTA Face(const char* name) {
    LOGFONTA lf{};
    lf.lfWeight = FW_BOLD;
    std::strcpy(lf.lfFaceName, name);
    return lf;
  }
  std::vector<qxplat_text_out> Drawn() {
    std::vector<qxplat_text_out> all(qxplat_gdi_text_count(hdc_));
    for (size_t i = 0; i < all.size(); ++i) qxplat_gdi_text(hdc_, i, &all[i]);
    return all;
  }
  HDC hdc_ = nullptr;
};

TEST_F(Drawing, FindMaxFontKeepsTheCallersFieldsAndFitsAtOnceWhenItCan) {
  LOGFONTA lf = Face("F02 1:1 NR 20 cpi");
  const LOGFONTA untouched = lf;
  EXPECT_EQ(qxFindMaxFont(hdc_, 0, 40, "TICKET", &lf), 0);
  EXPECT_EQ(qxFindMaxFont(hdc_, 200, 0, "TICKET", &lf), 0);
  EXPECT_EQ(std::memcmp(&lf, &untouched, sizeof lf), 0);

  qxplat_call_counts_reset();
  const LONG font = qxFindMaxFont(hdc_, 200, 40, "ADMIT", &lf);
  ASSERT_NE(font, 0);
  EXPECT_EQ(qxplat_call_count("CreateFont"), 1u);
  EXPECT_EQ(lf.lfHeight, 40);
  EXPECT_EQ(lf.lfWidth, 24);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_STREQ(lf.lfFaceName, "F02 1:1 NR 20 cpi");
  EXPECT_TRUE(qxDeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(font))));
}

TEST_F(Drawing, FindMaxFontShrinksTheHeightBeforeTheWidth) {
  // "Arial" is scaled on a 4-dot grid: asked 30, its cell is 32, too tall
  // for the box; at 24 it fits, and only then does the width shrink.
  LOGFONTA lf = Face("Arial");
  qxplat_call_counts_reset();
  const LONG font = qxFindMaxFont(hdc_, 50, 30, "ABCDEFGH", &lf);
  ASSERT_NE(font, 0);
  EXPECT_EQ(lf.lfHeight, 24);
  EXPECT_EQ(lf.lfWidth, 6);  // 18, 17, 16, ... 7, 6: 8 x 6 = 48 fits 50
  EXPECT_EQ(qxplat_call_count("CreateFont"), 14u);
  SIZE extent{};
  HGDIOBJ previous = SelectObject(hdc_, reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(font)));
  GetTextExtentPoint32A(hdc_, "ABCDEFGH", 8, &extent);
  SelectObject(hdc_, previous);
  EXPECT_EQ(extent.cx, 48);
  EXPECT_EQ(extent.cy, 24);
  qxDeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(font)));
}

TEST_F(Drawing, FindMaxFontGivesUpAfter500TriesWithAFont) {
  LOGFONTA lf = Face("F02 1:1 NR 20 cpi");
  qxplat_call_counts_reset();
  const LONG font = qxFindMaxFont(hdc_, 1, 40, "A LONG LINE THAT NEVER FITS", &lf);
  EXPECT_NE(font, 0);
  EXPECT_EQ(qxplat_call_count("CreateFont"), 500u);
  qxDeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(font)));
  // Huge boxes do not overflow the arithmetic.
  lf = Face("F02 1:1 NR 20 cpi");
  const LONG big = qxFindMaxFont(hdc_, 0x7FFFFFFF, 0x7FFFFFFF, "X", &lf);
  EXPECT_NE(big, 0);
  qxDeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(big)));
}

TEST_F(Drawing, FontFxCentresByTruncatedHalvesAndDrawsTheCopyFirst) {
  HFONT font = CreateFontA(10, 10, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "F02 1:1 NR 20 cpi");
  SelectObject(hdc_, font);
  const RECT box = {0, 0, 101, 31};
  const COLORREF black = RGB(0, 0, 0);
  const COLORREF red = RGB(255, 0, 0);
  EXPECT_EQ(qxFontFX(hdc_, &box, "AB", QX_FX_SHADOW_RIGHT_DOWN, black, red), 0);
  EXPECT_EQ(qxFontFX(hdc_, &box, "AB", QX_FX_SHADOW_LEFT_UP, black, red), 0);
  EXPECT_EQ(qxFontFX(hdc_, &box, "AB", 7, black, red), 0);  // another code: the centred text only
  const std::vector<qxplat_text_out> drawn = Drawn();
  ASSERT_EQ(drawn.size(), 5u);
  // 101 / 2 - 20 / 2 = 40; 31 / 2 - 10 / 2 = 10.
  const int expected[5][3] = {{41, 11, 0xFF}, {40, 10, 0}, {38, 8, 0xFF}, {40, 10, 0}, {40, 10, 0}};
  for (size_t i = 0; i < drawn.size(); ++i) {
    EXPECT_EQ(drawn[i].x, expected[i][0]) << i;
    EXPECT_EQ(drawn[i].y, expected[i][1]) << i;
    EXPECT_EQ(drawn[i].color, static_cast<uint32_t>(expected[i][2])) << i;
    EXPECT_STREQ(drawn[i].text, "AB");
  }
  EXPECT_EQ(GetTextColor(hdc_), black);
  SelectObject(hdc_, GetStockObject(SYSTEM_FONT));
  DeleteObject(font);
}

TEST_F(Drawing, ForwardsReachTheContext) {
  EXPECT_EQ(qxTextOut(hdc_, 5, 6, "SEAT 12A"), 1);
  EXPECT_EQ(qxTextOut(hdc_, 5, 6, nullptr), 0);
  const std::vector<qxplat_text_out> drawn = Drawn();
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_STREQ(drawn[0].text, "SEAT 12A");
  HFONT font = qxCreateFont(nullptr, "F09 2:2 NR 7.8 cpi");
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(qxSelectObject(hdc_, font), GetStockObject(SYSTEM_FONT));
  EXPECT_EQ(qxSelectObject(hdc_, GetStockObject(SYSTEM_FONT)), font);
  EXPECT_TRUE(qxDeleteObject(font));
  EXPECT_FALSE(qxDeleteObject(font));
}

}  // namespace
