// pages.h - qxsimd, simulated-world side: the pages a printer printed.
// A printer device context of the platform layer sends each page it prints
// as lines of text (docs/graphics.md):
//
//   QXPAGE <page number> <width> <height> <dots per inch across> <down>
//   TEXT <x> <y> <colour BBGGRR> <cell height> <char width> <face hex> <text hex>
//   ENDPAGE
//
// ParsePages reads a printed job's bytes into pages; PageStore keeps the
// latest of them per device, and RenderPage (page_render.cpp) draws one as a
// PNG picture. The parser is bounded and fails safe: a page it cannot read
// is kept as unreadable, with the reason, and never draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qxsim {

// One TextOutA of a page.
struct PageText {
  int32_t x = 0, y = 0;    // top left corner of the first cell, in device pixels
  uint32_t color = 0;      // COLORREF: 0x00BBGGRR
  int32_t cell_height = 0;
  int32_t char_width = 0;  // every character's cell is this wide
  std::string face, text;
};

struct Page {
  uint64_t number = 0;      // the device's count of pages kept, from 1
  uint32_t job = 0;         // the spooler job the page came in
  uint32_t page_in_job = 0; // the page line's own number (0 when unreadable before it)
  int32_t width = 0, height = 0, dpi_x = 0, dpi_y = 0;
  std::vector<PageText> texts;
  std::string unreadable;   // why the page cannot be drawn; "" when it can
};

// Limits of one page: more texts, or a longer text or face, make the page
// unreadable rather than cut; sizes and positions beyond these are no page.
constexpr size_t kMaxPageTexts = 4096;
constexpr size_t kMaxPageTextBytes = 1024;
constexpr size_t kMaxPageFaceBytes = 64;
constexpr size_t kMaxPageChars = size_t{256} << 10;  // all texts of a page together
constexpr int32_t kMaxPageSide = 100000;  // pixels, and dots per inch
constexpr int32_t kMaxCellSide = 10000;

// IsPageJob - whether a printed job's bytes are page lines (they begin with
// "QXPAGE "); raw documents are not.
bool IsPageJob(std::string_view bytes);

// ParsePages - the pages of a page job, in order, each handed to sink as it
// is read (so that a job of many pages never sits in memory at once). Text
// outside a page, a malformed line, a page over the limits or one cut short
// gives an unreadable page that says why. number is left 0.
void ParsePages(std::string_view bytes, uint32_t job, const std::function<void(Page&&)>& sink);

// RenderPage - the page as a PNG picture: a white page of the page's size
// (scaled down to at most kMaxPicturePixels, keeping its proportions), each
// text drawn in its colour, character by character in its cells
// (page_render.cpp). False with error set for an unreadable page or when
// the picture cannot be made.
constexpr int64_t kMaxPicturePixels = int64_t{8} << 20;
bool RenderPage(const Page& page, std::string* png, int* picture_width, int* picture_height, std::string* error);

// The pages one device printed: the latest kMaxPages, and at most
// kMaxPageBytes of their texts; older pages go first. Safe from any thread;
// its lock calls out to nothing.
class PageStore {
 public:
  static constexpr size_t kMaxPages = 32;
  static constexpr size_t kMaxPageBytes = size_t{4} << 20;

  // Print - keep the pages of a printed job; a job that is no page job
  // (raw bytes) adds nothing.
  void Print(uint32_t job, std::string_view bytes);
  // Pages - the pages kept, oldest first.
  std::vector<std::shared_ptr<const Page>> Pages() const;
  // Find - the kept page of that number, or null.
  std::shared_ptr<const Page> Find(uint64_t number) const;
  // printed, unreadable - every page printed since the world was loaded,
  // and how many of them were unreadable, kept or not.
  uint64_t printed() const;
  uint64_t unreadable() const;

 private:
  void KeepLocked(Page&& page);

  mutable std::mutex lock_;
  std::deque<std::shared_ptr<const Page>> pages_;
  size_t bytes_ = 0;
  uint64_t printed_ = 0;
  uint64_t unreadable_ = 0;
};

}  // namespace qxsim
