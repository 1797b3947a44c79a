// pages.cpp - qxsimd, simulated-world side: reading printed pages and
// keeping the latest of them (see pages.h).
#include "pages.h"

#include <charconv>
#include <utility>

#include <qxwire/hex.h>

namespace qxsim {
namespace {

constexpr std::string_view kPageLine = "QXPAGE ";
constexpr std::string_view kTextLine = "TEXT ";
constexpr std::string_view kEndLine = "ENDPAGE";

// The fields of a line, split at single blanks; an empty field (two blanks,
// a blank at either end) makes the line malformed.
bool Split(std::string_view line, std::vector<std::string_view>& fields, size_t max_fields) {
  fields.clear();
  while (true) {
    const size_t blank = line.find(' ');
    const std::string_view field = line.substr(0, blank);
    if (field.empty() || fields.size() == max_fields) return false;
    fields.push_back(field);
    if (blank == std::string_view::npos) return true;
    line.remove_prefix(blank + 1);
  }
}

// A decimal integer from low to high, the whole field.
bool Number(std::string_view field, int64_t low, int64_t high, int32_t* out) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size() || value < low || value > high) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

// A hexadecimal text field ("-" is the empty text) of at most max bytes.
bool HexText(std::string_view field, size_t max, std::string* out) {
  out->clear();
  if (field == "-") return true;
  return field.size() <= 2 * max && qxwire::FromHex(field, *out);
}

// The colour: exactly six hexadecimal digits, BBGGRR as COLORREF holds it.
bool Colour(std::string_view field, uint32_t* out) {
  if (field.size() != 6) return false;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, 16);
  if (ec != std::errc() || end != field.data() + field.size()) return false;
  *out = value;
  return true;
}

bool ParseHeader(const std::vector<std::string_view>& f, Page* page) {
  int32_t number = 0;
  if (f.size() != 6 || !Number(f[1], 1, INT32_MAX, &number) || !Number(f[2], 1, kMaxPageSide, &page->width) ||
      !Number(f[3], 1, kMaxPageSide, &page->height) || !Number(f[4], 1, kMaxPageSide, &page->dpi_x) ||
      !Number(f[5], 1, kMaxPageSide, &page->dpi_y)) {
    return false;
  }
  page->page_in_job = static_cast<uint32_t>(number);
  return true;
}

// One TEXT line; "" when read, else why not.
std::string ParseText(const std::vector<std::string_view>& f, PageText* t) {
  if (f.size() != 8) return "a TEXT line needs 7 fields";
  if (!Number(f[1], -kMaxPageSide, kMaxPageSide, &t->x) || !Number(f[2], -kMaxPageSide, kMaxPageSide, &t->y)) {
    return "a TEXT position is no number of pixels";
  }
  if (!Colour(f[3], &t->color)) return "a TEXT colour is not 6 hexadecimal digits";
  if (!Number(f[4], 0, kMaxCellSide, &t->cell_height) || !Number(f[5], 0, kMaxCellSide, &t->char_width)) {
    return "a TEXT cell is no number of pixels";
  }
  if (!HexText(f[6], kMaxPageFaceBytes, &t->face)) return "a TEXT face is not hexadecimal or too long";
  if (!HexText(f[7], kMaxPageTextBytes, &t->text)) return "a TEXT text is not hexadecimal or too long";
  return "";
}

// Reads a job's lines one page at a time.
class Reader {
 public:
  Reader(std::string_view bytes, uint32_t job, const std::function<void(Page&&)>& sink)
      : rest_(bytes), job_(job), sink_(sink) {}

  void Run() {
    std::string_view line;
    while (Next(&line)) {
      if (line.substr(0, kPageLine.size()) == kPageLine) {
        ReadPage(line);
      } else {
        // Text outside a page: one unreadable page for the run of it.
        Page stray = Fresh();
        stray.unreadable = "line " + std::to_string(line_) + ": text outside a page";
        while (!rest_.empty() && rest_.substr(0, kPageLine.size()) != kPageLine) Next(&line);
        sink_(std::move(stray));
      }
    }
  }

 private:
  Page Fresh() const {
    Page page;
    page.job = job_;
    return page;
  }

  // The next line, without its line feed; false at the end. A last line
  // without its line feed counts as cut short.
  bool Next(std::string_view* line) {
    if (rest_.empty()) return false;
    const size_t end = rest_.find('\n');
    cut_ = end == std::string_view::npos;
    *line = rest_.substr(0, end);
    rest_.remove_prefix(cut_ ? rest_.size() : end + 1);
    ++line_;
    return true;
  }

  void ReadPage(std::string_view header) {
    Page page = Fresh();
    std::vector<std::string_view> fields;
    if (!Split(header, fields, 6) || !ParseHeader(fields, &page)) {
      Fail(page, "the QXPAGE line is malformed");
      return;
    }
    std::string_view line;
    size_t chars = 0;
    while (!rest_.empty()) {
      if (rest_.substr(0, kPageLine.size()) == kPageLine) {
        // A new page before this one ended: this one was cut short, and the
        // new one is read next.
        page.texts.clear();
        page.unreadable = "line " + std::to_string(line_ + 1) + ": a page begins before the page before it ended";
        sink_(std::move(page));
        return;
      }
      Next(&line);
      if (cut_) break;  // the last line has no line feed
      if (line == kEndLine) {
        sink_(std::move(page));
        return;
      }
      if (line.substr(0, kTextLine.size()) != kTextLine) {
        Fail(page, "not a TEXT line");
        return;
      }
      if (page.texts.size() == kMaxPageTexts) {
        Fail(page, "more than " + std::to_string(kMaxPageTexts) + " texts on one page");
        return;
      }
      PageText text;
      std::string why = Split(line, fields, 8) ? ParseText(fields, &text) : "a TEXT line is malformed";
      if (!why.empty()) {
        Fail(page, why);
        return;
      }
      chars += text.text.size();
      if (chars > kMaxPageChars) {
        Fail(page, "more than " + std::to_string(kMaxPageChars) + " characters on one page");
        return;
      }
      page.texts.push_back(std::move(text));
    }
    page.texts.clear();
    page.unreadable = "the page is cut short (no ENDPAGE)";
    sink_(std::move(page));
  }

  // The page is unreadable: say why, and skip to its end (or the next page).
  void Fail(Page& page, const std::string& why) {
    page.texts.clear();
    page.unreadable = "line " + std::to_string(line_) + ": " + why;
    std::string_view line;
    while (!rest_.empty() && rest_.substr(0, kPageLine.size()) != kPageLine) {
      Next(&line);
      if (line == kEndLine) break;
    }
    sink_(std::move(page));
  }

  std::string_view rest_;
  const uint32_t job_;
  const std::function<void(Page&&)>& sink_;
  size_t line_ = 0;
  bool cut_ = false;
};

// What a kept page costs against the store's byte budget.
size_t Cost(const Page& page) {
  size_t bytes = sizeof(Page) + page.unreadable.size();
  for (const PageText& t : page.texts) bytes += sizeof(PageText) + t.face.size() + t.text.size();
  return bytes;
}

}  // namespace

bool IsPageJob(std::string_view bytes) { return bytes.substr(0, kPageLine.size()) == kPageLine; }

void ParsePages(std::string_view bytes, uint32_t job, const std::function<void(Page&&)>& sink) {
  Reader(bytes, job, sink).Run();
}

void PageStore::KeepLocked(Page&& page) {
  ++printed_;
  if (!page.unreadable.empty()) ++unreadable_;
  page.number = printed_;
  const size_t cost = Cost(page);
  while (!pages_.empty() && (pages_.size() >= kMaxPages || bytes_ + cost > kMaxPageBytes)) {
    bytes_ -= Cost(*pages_.front());
    pages_.pop_front();
  }
  bytes_ += cost;
  pages_.push_back(std::make_shared<const Page>(std::move(page)));
}

void PageStore::Print(uint32_t job, std::string_view bytes) {
  if (!IsPageJob(bytes)) return;
  std::lock_guard<std::mutex> guard(lock_);
  ParsePages(bytes, job, [this](Page&& page) { KeepLocked(std::move(page)); });
}

std::vector<std::shared_ptr<const Page>> PageStore::Pages() const {
  std::lock_guard<std::mutex> guard(lock_);
  return {pages_.begin(), pages_.end()};
}

std::shared_ptr<const Page> PageStore::Find(uint64_t number) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& page : pages_) {
    if (page->number == number) return page;
  }
  return nullptr;
}

uint64_t PageStore::printed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return printed_;
}

uint64_t PageStore::unreadable() const {
  std::lock_guard<std::mutex> guard(lock_);
  return unreadable_;
}

}  // namespace qxsim
