// pages_test.cpp - the pages a printer printed, as plain objects: page lines
// read into pages, malformed and hostile ones kept as unreadable pages that
// say why (and the page after them read again), the store's bounds, and the
// PNG pictures checked pixel by pixel after decoding them with cairo.
#include "pages.h"

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using qxsim::Page;
using qxsim::PageStore;

std::vector<Page> Parse(const std::string& bytes, uint32_t job = 7) {
  std::vector<Page> pages;
  qxsim::ParsePages(bytes, job, [&](Page&& p) { pages.push_back(std::move(p)); });
  return pages;
}

const std::string kGood =
    "QXPAGE 1 60 40 203 203\n"
    "TEXT 10 10 0000ff 12 6 4630312032 4142\n"  // "F01 2", "AB" in red
    "TEXT -3 20 000000 16 8 - -\n"
    "ENDPAGE\n";

TEST(PageLines, AWellFormedPageIsReadFieldByField) {
  const std::vector<Page> pages = Parse(kGood + kGood);
  ASSERT_EQ(pages.size(), 2u);
  const Page& p = pages[0];
  EXPECT_EQ(p.unreadable, "");
  EXPECT_EQ(p.job, 7u);
  EXPECT_EQ(p.page_in_job, 1u);
  EXPECT_EQ(p.width, 60);
  EXPECT_EQ(p.height, 40);
  EXPECT_EQ(p.dpi_x, 203);
  ASSERT_EQ(p.texts.size(), 2u);
  EXPECT_EQ(p.texts[0].x, 10);
  EXPECT_EQ(p.texts[0].color, 0x0000ffu);
  EXPECT_EQ(p.texts[0].cell_height, 12);
  EXPECT_EQ(p.texts[0].char_width, 6);
  EXPECT_EQ(p.texts[0].face, "F01 2");
  EXPECT_EQ(p.texts[0].text, "AB");
  EXPECT_EQ(p.texts[1].x, -3);
  EXPECT_EQ(p.texts[1].face, "");
  EXPECT_EQ(p.texts[1].text, "");
}

TEST(PageLines, MalformedPagesAreUnreadableAndThePageAfterIsReadAgain) {
  struct Case {
    const char* what;
    std::string page;
    const char* reason;
  };
  const std::string header = "QXPAGE 1 60 40 203 203\n";
  const Case cases[] = {
      {"header with a field missing", "QXPAGE 1 60 40 203\nENDPAGE\n", "QXPAGE line is malformed"},
      {"header size 0", "QXPAGE 1 0 40 203 203\nENDPAGE\n", "QXPAGE line is malformed"},
      {"header size too large", "QXPAGE 1 60 99999999999 203 203\nENDPAGE\n", "QXPAGE line is malformed"},
      {"header two blanks", "QXPAGE 1  60 40 203 203\nENDPAGE\n", "QXPAGE line is malformed"},
      {"text with 6 fields", header + "TEXT 1 2 000000 12 6 41\nENDPAGE\n", "line 2: a TEXT line needs 7 fields"},
      {"text with 8 fields", header + "TEXT 1 2 000000 12 6 41 41 41\nENDPAGE\n", "TEXT line is malformed"},
      {"odd hex", header + "TEXT 1 2 000000 12 6 - 414\nENDPAGE\n", "TEXT text is not hexadecimal"},
      {"not hex", header + "TEXT 1 2 000000 12 6 zz 41\nENDPAGE\n", "TEXT face is not hexadecimal"},
      {"short colour", header + "TEXT 1 2 00000 12 6 - 41\nENDPAGE\n", "colour is not 6 hexadecimal digits"},
      {"colour with a sign", header + "TEXT 1 2 -00000 12 6 - 41\nENDPAGE\n", "colour"},
      {"negative cell", header + "TEXT 1 2 000000 -12 6 - 41\nENDPAGE\n", "cell is no number"},
      {"position overflow", header + "TEXT 99999999999999999999 2 000000 12 6 - 41\nENDPAGE\n", "position"},
      {"another line", header + "HELLO\nENDPAGE\n", "not a TEXT line"},
      {"binary bytes", header + std::string("TEXT \0\xff 2\n", 10) + "ENDPAGE\n", "TEXT"},
      {"text too long", header + "TEXT 1 2 000000 12 6 - " + std::string(2 * 1025, 'a') + "\nENDPAGE\n",
       "too long"},
      {"no ENDPAGE", header + "TEXT 1 2 000000 12 6 - 41\n", "cut short"},
      {"a page inside a page", header + "TEXT 1 2 000000 12 6 - 41\n", "cut short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A page without its ENDPAGE is ended by the next page's line.
    const std::vector<Page> pages = Parse(c.page + kGood);
    ASSERT_EQ(pages.size(), 2u);
    const std::string& why = pages[0].unreadable;
    EXPECT_TRUE(why.find(c.reason) != std::string::npos || why.find("a page begins before") != std::string::npos)
        << why;
    EXPECT_TRUE(pages[0].texts.empty());
    EXPECT_EQ(pages[1].unreadable, "") << "the good page after it is read";
    EXPECT_EQ(pages[1].texts.size(), 2u);
  }
  // The job's last line without its line feed.
  const std::vector<Page> cut = Parse(header + "TEXT 1 2 000000 12 6 - 41\nENDPAGE");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_NE(cut[0].unreadable.find("cut short"), std::string::npos);
}

TEST(PageLines, TextOutsideAPageAndLimits) {
  std::vector<Page> pages = Parse("junk\nmore junk\n" + kGood);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NE(pages[0].unreadable.find("text outside a page"), std::string::npos);
  EXPECT_EQ(pages[1].unreadable, "");

  std::string many = "QXPAGE 1 60 40 203 203\n";
  for (size_t i = 0; i <= qxsim::kMaxPageTexts; ++i) many += "TEXT 1 2 000000 12 6 - 41\n";
  pages = Parse(many + "ENDPAGE\n" + kGood);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NE(pages[0].unreadable.find("more than 4096 texts"), std::string::npos);
  EXPECT_EQ(pages[1].unreadable, "");

  EXPECT_FALSE(qxsim::IsPageJob("HELLO\x1bIS"));
  EXPECT_FALSE(qxsim::IsPageJob(""));
  EXPECT_TRUE(qxsim::IsPageJob(kGood));
}

TEST(PageStoreTest, KeepsTheLatestPagesAndCountsEveryOne) {
  PageStore store;
  store.Print(1, "raw bytes, no page");
  EXPECT_EQ(store.printed(), 0u);
  for (uint32_t job = 1; job <= 40; ++job) store.Print(job, kGood);  // one page each
  store.Print(41, "QXPAGE 1 60 40 203 203\nHELLO\nENDPAGE\n");
  EXPECT_EQ(store.printed(), 41u);
  EXPECT_EQ(store.unreadable(), 1u);
  const auto pages = store.Pages();
  ASSERT_EQ(pages.size(), PageStore::kMaxPages);
  EXPECT_EQ(pages.front()->number, 41u - PageStore::kMaxPages + 1);
  EXPECT_EQ(pages.back()->number, 41u);
  EXPECT_EQ(pages.back()->job, 41u);
  EXPECT_NE(pages.back()->unreadable, "");
  EXPECT_EQ(store.Find(1), nullptr) << "gone";
  ASSERT_NE(store.Find(40), nullptr);
  EXPECT_EQ(store.Find(40)->job, 40u);
}

TEST(PageStoreTest, AJobOfEndlessPagesIsBoundedAndNeverRecurses) {
  PageStore store;
  std::string job;
  for (int i = 0; i < 200000; ++i) job += "QXPAGE 1 6 4 1 1\n";
  store.Print(1, job);
  EXPECT_EQ(store.printed(), 200000u);
  EXPECT_EQ(store.unreadable(), 200000u);
  EXPECT_EQ(store.Pages().size(), PageStore::kMaxPages);

  // Pages of large texts: the byte budget goes before the page count.
  std::string big = "QXPAGE 1 60 40 203 203\n";
  const std::string line = "TEXT 1 2 000000 12 6 - " + std::string(2 * qxsim::kMaxPageTextBytes, 'a') + "\n";
  for (int i = 0; i < 250; ++i) big += line;
  big += "ENDPAGE\n";
  for (uint32_t j = 0; j < 200; ++j) store.Print(j, big);
  EXPECT_LT(store.Pages().size(), PageStore::kMaxPages);
  EXPECT_GE(store.Pages().size(), 1u);
}

// The decoded picture.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x] & 0xFFFFFF; }
};

Picture Decode(const std::string& png) {
  struct Source {
    const std::string* bytes;
    size_t at = 0;
  } source{&png};
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(
      [](void* closure, unsigned char* data, unsigned int length) {
        auto* src = static_cast<Source*>(closure);
        if (src->bytes->size() - src->at < length) return CAIRO_STATUS_READ_ERROR;
        src->bytes->copy(reinterpret_cast<char*>(data), length, src->at);
        src->at += length;
        return CAIRO_STATUS_SUCCESS;
      },
      &source);
  Picture picture;
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    picture.width = cairo_image_surface_get_width(s);
    picture.height = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < picture.height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
      picture.pixels.insert(picture.pixels.end(), row, row + picture.width);
    }
  }
  cairo_surface_destroy(s);
  return picture;
}

TEST(PagePicture, TextInItsColourInsideItsCellsOnAWhitePage) {
  const std::vector<Page> pages = Parse(kGood);
  std::string png, error;
  int w = 0, h = 0;
  ASSERT_TRUE(qxsim::RenderPage(pages[0], &png, &w, &h, &error)) << error;
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(w, 60);
  EXPECT_EQ(h, 40);
  const Picture picture = Decode(png);
  ASSERT_EQ(picture.width, 60);
  ASSERT_EQ(picture.height, 40);
  // "AB" in red (COLORREF 0x0000ff) in two 6 x 12 cells from (10, 10);
  // everything else white (the second text is empty).
  int red = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 60; ++x) {
      const bool inCells = x >= 10 && x < 22 && y >= 10 && y < 22;
      const uint32_t pixel = picture.At(x, y);
      if (!inCells) {
        ASSERT_EQ(pixel, 0xFFFFFFu) << x << "," << y;
      } else if (pixel != 0xFFFFFFu) {
        ASSERT_EQ(pixel, 0xFF0000u) << x << "," << y;
        ++red;
      }
    }
  }
  EXPECT_GT(red, 20) << "both glyphs drawn";
  // The top row and the left column of each cell stay free.
  for (int x = 10; x < 22; ++x) EXPECT_EQ(picture.At(x, 10), 0xFFFFFFu);

  std::string again;
  ASSERT_TRUE(qxsim::RenderPage(pages[0], &again, &w, &h, &error));
  EXPECT_EQ(again, png) << "the same page draws the same bytes";
}

TEST(PagePicture, UnreadableOrHugePages) {
  Page unreadable;
  unreadable.number = 3;
  unreadable.unreadable = "line 2: not a TEXT line";
  std::string png, error;
  int w = 0, h = 0;
  EXPECT_FALSE(qxsim::RenderPage(unreadable, &png, &w, &h, &error));
  EXPECT_NE(error.find("page 3 is unreadable: line 2"), std::string::npos);

  // The largest page the lines allow is drawn scaled down, its proportions kept.
  Page huge = Parse("QXPAGE 1 100000 50000 600 600\nTEXT 99990 -5 00ff00 100 10000 - 4142\nENDPAGE\n")[0];
  ASSERT_EQ(huge.unreadable, "");
  ASSERT_TRUE(qxsim::RenderPage(huge, &png, &w, &h, &error)) << error;
  EXPECT_LE(int64_t{w} * h, qxsim::kMaxPicturePixels);
  EXPECT_EQ(w, 2 * h);
  const Picture picture = Decode(png);
  EXPECT_EQ(picture.width, w);
}

}  // namespace
