// The device font table against the drivers' naming rules, and qxCreateFont.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <qxdll.h>
#include <qxplatform.h>

#include "gdi/font_table.h"

namespace {

using qx::kDeviceFonts;

// Base cells of the families F01 to F13, height and width.
constexpr LONG kBase[13][2] = {{7, 7},   {16, 10}, {31, 20}, {9, 7},   {16, 10}, {52, 35}, {31, 20},
                               {30, 20}, {20, 13}, {41, 28}, {49, 26}, {91, 47}, {40, 20}};

struct Parsed {
  int family = 0, high = 0, wide = 0;
  std::string direction, pitch;
  bool blankBeforeCpi = true;
};

// Takes a face name apart by the drivers' form "Fnn h:w DD pitch cpi".
bool Parse(const std::string& name, Parsed* p) {
  char direction[3] = {};
  char pitch[8] = {};
  int used = 0;
  if (std::sscanf(name.c_str(), "F%2d %d:%d %2s %7[0-9./]%n", &p->family, &p->high, &p->wide, direction, pitch,
                  &used) != 5) {
    return false;
  }
  p->direction = direction;
  p->pitch = pitch;
  const std::string rest = name.substr(static_cast<size_t>(used));
  p->blankBeforeCpi = rest == " cpi";
  return rest == " cpi" || rest == "cpi";
}

TEST(DeviceFontTable, EveryEntryFollowsTheFamilyRulesButTheListedIrregulars) {
  std::set<std::string> names;
  std::map<int, int> perFamily[2];
  const char* directions[] = {"NR", "RL", "RR", "RU"};
  for (int i = 0; i < qx::kDeviceFontCount; ++i) {
    const qx::DeviceFont& font = kDeviceFonts[i];
    SCOPED_TRACE(std::to_string(i) + ": " + font.faceName);
    Parsed p;
    ASSERT_TRUE(Parse(font.faceName, &p));
    ASSERT_GE(p.family, 1);
    ASSERT_LE(p.family, 13);
    EXPECT_TRUE(names.insert(font.faceName).second) << "twice";
    ++perFamily[i / 225][p.family];
    EXPECT_EQ(font.cellHeight, kBase[p.family - 1][0] * p.high);
    const bool f07Wide = p.family == 7 && p.high == 5 && p.wide == 5;
    EXPECT_EQ(font.cellWidth, f07Wide ? 120 : kBase[p.family - 1][1] * p.wide);
    // Blank before "cpi" everywhere but F12 1:1 RR of the first set.
    const bool noBlank = i < 225 && p.family == 12 && p.high == 1 && p.direction == "RR";
    EXPECT_EQ(p.blankBeforeCpi, !noBlank);
    // The sets hold the same cells in the same order.
    if (i >= 225) {
      EXPECT_EQ(font.cellHeight, kDeviceFonts[i - 225].cellHeight);
      EXPECT_EQ(font.cellWidth, kDeviceFonts[i - 225].cellWidth);
      Parsed a;
      ASSERT_TRUE(Parse(kDeviceFonts[i - 225].faceName, &a));
      EXPECT_EQ(a.family, p.family);
      EXPECT_EQ(a.direction, p.direction);
    }
    // Directions run NR, RL, RR, RU within a scale; F07 3:3 has only NR.
    if (p.family == 7 && p.high == 3) {
      EXPECT_EQ(p.direction, "NR");
    }
    if (p.direction != "NR") {
      Parsed before;
      ASSERT_TRUE(Parse(kDeviceFonts[i - 1].faceName, &before));
      int at = 1;
      while (at < 4 && p.direction != directions[at]) ++at;
      ASSERT_LT(at, 4);
      EXPECT_EQ(before.direction, directions[at - 1]);
      EXPECT_EQ(before.family * 100 + before.high * 10 + before.wide, p.family * 100 + p.high * 10 + p.wide);
    }
  }
  EXPECT_EQ(names.size(), 450u);
  const std::map<int, int> expected = {{1, 24}, {2, 24}, {3, 32}, {4, 24}, {5, 4},   {6, 12}, {7, 17},
                                       {8, 16}, {9, 24}, {10, 12}, {11, 12}, {12, 8}, {13, 16}};
  EXPECT_EQ(perFamily[0], expected);
  EXPECT_EQ(perFamily[1], expected);
  // The pitch of F02 6:6 differs by direction in the second set only.
  EXPECT_TRUE(names.count("F02 6:6 NR 4.9 cpi"));
  EXPECT_TRUE(names.count("F02 6:6 RL 4.6 cpi"));
  EXPECT_FALSE(names.count("F02 6:6 NR 4.6 cpi"));
}

// The cell of the font qxCreateFont made for a name, or {0, 0} for none.
std::pair<LONG, LONG> CellOf(const char* name) {
  HFONT font = qxCreateFont(nullptr, name);
  if (font == nullptr) return {0, 0};
  LOGFONTA lf{};
  EXPECT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
  EXPECT_STREQ(lf.lfFaceName, name);
  EXPECT_EQ(lf.lfWeight, FW_NORMAL);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(lf.lfOutPrecision, OUT_CHARACTER_PRECIS);
  EXPECT_EQ(lf.lfClipPrecision, CLIP_CHARACTER_PRECIS);
  EXPECT_EQ(lf.lfEscapement, 0);
  EXPECT_TRUE(qxDeleteObject(font));
  return {lf.lfHeight, lf.lfWidth};
}

TEST(DeviceFontCreation, FaceNamesMatchExactly) {
  const qxplat::LiveCounts before;
  using Cell = std::pair<LONG, LONG>;
  EXPECT_EQ(CellOf("F01 2:2 NR 14.5 cpi"), Cell(14, 14));
  EXPECT_EQ(CellOf("f01 2:2 nr 14.5 cpi"), Cell(0, 0));
  EXPECT_EQ(CellOf("F12 1:1 RR 4.3cpi"), Cell(91, 47));
  EXPECT_EQ(CellOf("F12 1:1 RR 4.3 cpi"), Cell(0, 0));
  EXPECT_EQ(CellOf("F12 1:1 RL 4.3 cpi"), Cell(91, 47));
  EXPECT_EQ(CellOf("F07 3:3 NR 3.3 cpi"), Cell(93, 60));
  for (const char* other : {"F07 3:3 RL 3.3 cpi", "F07 3:3 RR 3.3 cpi", "F07 3:3 RU 3.3 cpi"}) {
    EXPECT_EQ(CellOf(other), Cell(0, 0)) << other;
  }
  EXPECT_EQ(CellOf("F07 5:5 RU 3 cpi"), Cell(155, 120));
  EXPECT_EQ(CellOf("F02 6:6 RL 4.6 cpi"), Cell(96, 60));
  EXPECT_EQ(CellOf("F02 6:6 NR 4.9 cpi"), Cell(96, 60));
  EXPECT_EQ(CellOf("F01 2:2 NR 21.8 cpi"), CellOf("F01 2:2 NR 14.5 cpi"));
  EXPECT_EQ(CellOf(""), Cell(0, 0));
  EXPECT_EQ(CellOf(" F01 2:2 NR 14.5 cpi"), Cell(0, 0));
  EXPECT_EQ(qxCreateFont(nullptr, nullptr), nullptr);
  // A font the platform cannot make is null, and nothing is left.
  qxplat_fault_arm("alloc", 1, 0);
  EXPECT_EQ(qxCreateFont(nullptr, "F01 2:2 NR 14.5 cpi"), nullptr);
  qxplat_fault_clear();
  EXPECT_EQ(before.Leaks(), "");
}

}  // namespace
