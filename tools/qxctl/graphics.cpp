// qxctl graphics: the printer's device fonts, fitting a text into a box, and
// a sample ticket drawn in device fonts on a printer device context and
// printed. Everything goes through the library's font and device-context
// exports and the Windows graphics calls a host makes on their results;
// every font, context and device mode is released on every path.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {
namespace {

// The device fonts as the printer's documentation names them: a family, a
// scale, and the pitch texts its faces carry in either set. A face name is
// "<family> <scale> <direction> <pitch> cpi"; the library says which of the
// names it knows and with what cell (qxCreateFont), so that this list only
// proposes names, and drivers' irregular spellings are tried too.
struct FamilyScale {
  const char* family;
  const char* scale;
  const char* pitches;  // blank-separated
};
constexpr FamilyScale kFaces[] = {
    {"F01", "2:2", "14.5 21.8"}, {"F01", "3:3", "9.6 14.4"},  {"F01", "4:4", "7.2 10.8"},
    {"F01", "5:5", "5.8 8.7"},   {"F01", "6:6", "4.8 7.2"},   {"F01", "7:7", "4.1 6.2"},
    {"F02", "1:1", "20 30"},     {"F02", "2:2", "10 15"},     {"F02", "3:3", "6.7 10.1"},
    {"F02", "4:4", "5 7.5"},     {"F02", "5:5", "4 6"},       {"F02", "6:6", "3.4 4.6 4.9"},
    {"F03", "1:1", "10 15"},     {"F03", "1:2", "5 7.5"},     {"F03", "2:2", "5 7.5"},
    {"F03", "2:3", "3.4 5.1"},   {"F03", "3:3", "3.4 5.1"},   {"F03", "3:4", "2.5 3.8"},
    {"F03", "4:4", "2.5 3.8"},   {"F03", "4:5", "2 3"},       {"F04", "2:2", "14.5 21.8"},
    {"F04", "3:3", "9.6 14.4"},  {"F04", "4:4", "7.2 10.8"},  {"F04", "5:5", "5.8 8.7"},
    {"F04", "6:6", "4.8 7.2"},   {"F04", "7:7", "4.1 6.2"},   {"F05", "1:1", "20 30"},
    {"F06", "1:1", "5.8 8.7"},   {"F06", "2:2", "2.9 4.4"},   {"F06", "3:3", "1.9 2.8"},
    {"F07", "1:1", "10 15"},     {"F07", "2:2", "5 7.5"},     {"F07", "3:3", "3.3 5"},
    {"F07", "4:4", "2.5 3.8"},   {"F07", "5:5", "2 3"},       {"F08", "1:1", "10 15"},
    {"F08", "2:2", "5 7.5"},     {"F08", "3:3", "3.3 5"},     {"F08", "4:4", "2.5 3.8"},
    {"F09", "1:1", "15.6 23.4"}, {"F09", "2:2", "7.8 11.7"},  {"F09", "3:3", "5.2 7.8"},
    {"F09", "4:4", "3.9 5.9"},   {"F09", "5:5", "3.1 4.7"},   {"F09", "6:6", "2.6 3.9"},
    {"F10", "1:1", "7.3 11"},    {"F10", "2:2", "3.6 5.4"},   {"F10", "3:3", "2.4 3.6"},
    {"F11", "1:1", "7.8 11.7"},  {"F11", "2:2", "3.9 5.9"},   {"F11", "3:3", "2.6 3.9"},
    {"F12", "1:1", "4.3 6.8"},   {"F12", "2:2", "2.1 3.2"},   {"F13", "1:1", "10 15"},
    {"F13", "2:2", "5 7.5"},     {"F13", "3:3", "3.3 5"},     {"F13", "4:4", "2.5 3.8"},
};
constexpr const char* kDirections[] = {"NR", "RL", "RR", "RU"};

// A font of the library's, deleted when it goes.
struct FontFree {
  void operator()(HFONT font) const { qxDeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontFree>;

// The LOGFONTA a font was created with, through GetObjectA.
bool Describe(HFONT font, LOGFONTA* lf) {
  std::memset(lf, 0, sizeof *lf);
  return GetObjectA(font, sizeof *lf, lf) == static_cast<int>(sizeof *lf);
}

json LogFontJson(const LOGFONTA& lf) {
  return {{"face", std::string(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE))},
          {"height", lf.lfHeight},
          {"width", lf.lfWidth},
          {"escapement", lf.lfEscapement},
          {"orientation", lf.lfOrientation},
          {"weight", lf.lfWeight},
          {"italic", lf.lfItalic},
          {"underline", lf.lfUnderline},
          {"strikeOut", lf.lfStrikeOut},
          {"charSet", lf.lfCharSet},
          {"outPrecision", lf.lfOutPrecision},
          {"clipPrecision", lf.lfClipPrecision},
          {"quality", lf.lfQuality},
          {"pitchAndFamily", lf.lfPitchAndFamily}};
}

int Fonts(const Context& context, const std::string& family) {
  json list = json::array();
  std::vector<std::string> seen;
  for (const FamilyScale& row : kFaces) {
    if (!family.empty() && family != row.family) continue;
    std::vector<std::string> pitches;
    for (const char* p = row.pitches; *p != '\0';) {
      const size_t n = std::strcspn(p, " ");
      pitches.emplace_back(p, n);
      p += n + (p[n] == ' ' ? 1 : 0);
    }
    for (const std::string& pitch : pitches) {
      for (const char* direction : kDirections) {
        const std::string stem = std::string(row.family) + " " + row.scale + " " + direction + " " + pitch;
        for (const std::string& face : {stem + " cpi", stem + "cpi"}) {
          const Font font(qxCreateFont(nullptr, face.c_str()));
          LOGFONTA lf;
          if (font == nullptr || !Describe(font.get(), &lf)) continue;
          if (std::find(seen.begin(), seen.end(), face) != seen.end()) continue;
          seen.push_back(face);
          list.push_back({{"face", face}, {"height", lf.lfHeight}, {"width", lf.lfWidth}});
        }
      }
    }
  }
  if (context.json) {
    Emit({{"count", list.size()}, {"fonts", list}});
    return kExitDone;
  }
  std::printf("%-24s %6s %6s\n", "face", "height", "width");
  for (const json& f : list) {
    std::printf("%-24s %6ld %6ld\n", f["face"].get<std::string>().c_str(), f["height"].get<long>(),
                f["width"].get<long>());
  }
  std::printf("%zu device font%s\n", list.size(), list.size() == 1 ? "" : "s");
  return kExitDone;
}

Failure NoSuchFont(const std::string& face) {
  return {kExitRefused, std::nullopt, "NO_SUCH_FONT", "the library has no device font named \"" + face + "\"",
          "names match case and blanks (qxctl fonts)"};
}

int FontCommand(const Context& context, const std::string& face) {
  const Font font(qxCreateFont(nullptr, face.c_str()));
  LOGFONTA lf;
  if (font == nullptr) return Fail(context, NoSuchFont(face));
  if (!Describe(font.get(), &lf)) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_FONT_RECORD", "the font's LOGFONTA cannot be read", ""});
  }
  const json record = LogFontJson(lf);
  if (context.json) {
    Emit(record);
    return kExitDone;
  }
  for (auto it = record.begin(); it != record.end(); ++it) {
    const std::string value = it.value().is_string() ? it.value().get<std::string>() : it.value().dump();
    std::printf("%-15s %s\n", it.key().c_str(), value.c_str());
  }
  return kExitDone;
}

// The current printer's device mode in a page-setup record of our own, as
// qxMakeDocDC and qxGetHDC take it; freed when it goes.
class PageSetup {
 public:
  PageSetup() { record_.lStructSize = sizeof record_; }
  ~PageSetup() {
    if (record_.hDevMode != nullptr) GlobalFree(record_.hDevMode);
  }
  PageSetup(const PageSetup&) = delete;
  PageSetup& operator=(const PageSetup&) = delete;

  // Load - the printer's device mode as its driver gives it; false when the
  // printer cannot be opened or its driver gives none.
  bool Load(const std::string& printer) {
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (printer.empty() || !OpenPrinterA(const_cast<LPSTR>(printer.c_str()), &handle, &defaults)) return false;
    bool loaded = false;
    const LONG size = DocumentPropertiesA(nullptr, handle, const_cast<LPSTR>(printer.c_str()), nullptr, nullptr, 0);
    if (size >= static_cast<LONG>(sizeof(DEVMODEA))) {
      record_.hDevMode = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
      if (void* mode = record_.hDevMode != nullptr ? GlobalLock(record_.hDevMode) : nullptr) {
        loaded = DocumentPropertiesA(nullptr, handle, const_cast<LPSTR>(printer.c_str()),
                                     static_cast<DEVMODEA*>(mode), nullptr, DM_OUT_BUFFER) == IDOK;
        GlobalUnlock(record_.hDevMode);
      }
    }
    ClosePrinter(handle);
    return loaded;
  }
  // SetBin - the device mode's default source.
  void SetBin(SHORT code) {
    if (auto* mode = static_cast<DEVMODEA*>(GlobalLock(record_.hDevMode))) {
      mode->dmDefaultSource = code;
      GlobalUnlock(record_.hDevMode);
    }
  }
  PAGESETUPDLGA* get() { return &record_; }

 private:
  PAGESETUPDLGA record_{};
};

// A printer device context, deleted when it goes.
struct DcFree {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using Dc = std::unique_ptr<std::remove_pointer_t<HDC>, DcFree>;

Failure NoPageSetup(const std::string& printer) {
  return {kExitRefused, std::nullopt, "NO_DEVMODE", "the device mode of " + OrNone(printer) + " cannot be read",
          "qxctl printers lists the printers"};
}

void ParseBox(const std::string& text, LONG* width, LONG* height) {
  const size_t x = text.find_first_of("xX");
  *width = std::strtol(text.substr(0, x).c_str(), nullptr, 10);
  *height = std::strtol(text.substr(x + 1).c_str(), nullptr, 10);
}

int Fit(const Context& context, const std::string& box, const std::string& text, const std::string& face) {
  LONG width = 0, height = 0;
  ParseBox(box, &width, &height);
  const std::string printer = CurrentPrinter(context);
  PageSetup setup;
  if (!setup.Load(printer)) return Fail(context, NoPageSetup(printer));
  HDC raw = nullptr;
  const QXRESULT rc = qxGetHDC(setup.get(), &raw);
  const Dc dc(raw);
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot make a device context for " + printer));
  LOGFONTA lf{};
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  const LONG handle = qxFindMaxFont(dc.get(), width, height, text.c_str(), &lf);
  const Font font(reinterpret_cast<HFONT>(static_cast<LONG_PTR>(handle)));
  if (font == nullptr) {
    return Fail(context, {kExitRefused, std::nullopt, "NO_FONT", "no font of \"" + face + "\" could be made", ""});
  }
  SIZE extent{};
  HGDIOBJ old = qxSelectObject(dc.get(), font.get());
  GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
  qxSelectObject(dc.get(), old);
  const bool fits = extent.cx <= width && extent.cy <= height;
  if (context.json) {
    Emit({{"box", {{"width", width}, {"height", height}}},
          {"text", text},
          {"fits", fits},
          {"font", {{"face", face}, {"height", lf.lfHeight}, {"width", lf.lfWidth}}},
          {"extent", {{"width", extent.cx}, {"height", extent.cy}}}});
  } else {
    std::printf("%s in %ld x %ld: height %ld, width %ld (measures %ld x %ld)%s\n", face.c_str(),
                static_cast<long>(width), static_cast<long>(height), static_cast<long>(lf.lfHeight),
                static_cast<long>(lf.lfWidth), static_cast<long>(extent.cx), static_cast<long>(extent.cy),
                fits ? "" : "; it does not fit even so");
  }
  return kExitDone;
}

// ---- The sample ticket ------------------------------------------------------

constexpr COLORREF Rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }

// The faces a ticket line may take, largest first.
constexpr const char* kTicketFaces[] = {
    "F13 4:4 NR 2.5 cpi", "F02 5:5 NR 4 cpi",   "F02 4:4 NR 5 cpi",  "F02 3:3 NR 6.7 cpi",
    "F02 2:2 NR 10 cpi",  "F01 2:2 NR 14.5 cpi", "F02 1:1 NR 20 cpi",
};

struct TicketLine {
  const char* text;
  int share;  // of the ticket's height, in hundredths
  COLORREF color;
  bool effect;  // drawn with qxFontFX over a grey shadow
};

// Draws one line in the largest device font whose text fits the band, centred;
// the number of texts drawn (0 when none fits).
int DrawLine(HDC dc, const TicketLine& line, LONG left, LONG top, LONG width, LONG height, std::string* face) {
  const int length = static_cast<int>(std::strlen(line.text));
  for (const char* candidate : kTicketFaces) {
    const Font font(qxCreateFont(nullptr, candidate));
    if (font == nullptr) continue;
    HGDIOBJ old = qxSelectObject(dc, font.get());
    SIZE extent{};
    const bool measured = GetTextExtentPoint32A(dc, line.text, length, &extent) != 0;
    int drawn = 0;
    if (measured && extent.cx <= width && extent.cy <= height) {
      *face = candidate;
      if (line.effect) {
        const RECT box = {left, top, left + width, top + height};
        qxFontFX(dc, &box, line.text, QX_FX_SHADOW_RIGHT_DOWN, line.color, Rgb(0xA0, 0xA0, 0xA0));
        drawn = 2;
      } else {
        SetTextColor(dc, line.color);
        drawn = qxTextOut(dc, left + (width - extent.cx) / 2, top + (height - extent.cy) / 2, line.text) != 0;
      }
    }
    qxSelectObject(dc, old);
    if (drawn > 0) return drawn;
  }
  return 0;
}

// The code of the current printer's bin of that name (exactly); -1 for none.
int BinCode(const std::string& printer, const std::string& name) {
  char port[QX_NAME_SIZE] = {};
  qxNewGetPrinterPort(printer.c_str(), port);
  const int count = DeviceCapabilitiesA(printer.c_str(), port, DC_BINNAMES, nullptr, nullptr);
  if (count <= 0) return -1;
  std::vector<char> names(static_cast<size_t>(count) * 24);
  std::vector<WORD> codes(static_cast<size_t>(count));
  if (DeviceCapabilitiesA(printer.c_str(), port, DC_BINNAMES, names.data(), nullptr) != count ||
      DeviceCapabilitiesA(printer.c_str(), port, DC_BINS, reinterpret_cast<LPSTR>(codes.data()), nullptr) != count) {
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * 24], strnlen(&names[static_cast<size_t>(i) * 24], 24)) == name) {
      return codes[static_cast<size_t>(i)];
    }
  }
  return -1;
}

struct TicketOptions {
  std::string orientation;
  float length = 0;
  std::string bin;
  std::string out;
};

int Ticket(const Context& context, const TicketOptions& options) {
  if (!options.out.empty() && !PagePicturesAvailable()) {
    return Fail(context, UsageFailure("--out is not available in this build",
                                      "the picture of a printed page is kept by the simulated world (POSIX)"));
  }
  const std::string printer = CurrentPrinter(context);
  PageSetup setup;
  if (!setup.Load(printer)) return Fail(context, NoPageSetup(printer));
  if (!options.bin.empty()) {
    const int code = BinCode(printer, options.bin);
    if (code < 0) {
      return Fail(context, {kExitRefused, std::nullopt, "NO_SUCH_BIN",
                            printer + " has no bin named \"" + options.bin + "\"",
                            "names match case and all (qxctl bins)"});
    }
    setup.SetBin(static_cast<SHORT>(code));
  }
  const DWORD orientation = options.orientation.empty()        ? QX_ORIENT_KEEP
                            : options.orientation == "portrait" ? QX_ORIENT_PORTRAIT
                                                                : QX_ORIENT_LANDSCAPE;
  QX_TICKET_DOC doc{};
  HDC raw = nullptr;
  const QXRESULT rc = qxMakeDocDC(orientation, options.length, !options.bin.empty(), &doc, setup.get(), &raw);
  const Dc dc(raw);
  if (rc != QX_ERR_OK) return Fail(context, LibraryFailure(rc, "cannot make the ticket's device context"));

  const LONG width = doc.pageWidth, height = doc.pageHeight;
  const LONG margin = std::max<LONG>(4, std::min(width, height) / 20);
  const TicketLine lines[] = {
      {"QUIXARO", 30, Rgb(0, 0, 0), true},
      {"ADMIT ONE", 20, Rgb(0xC0, 0, 0), false},
      {"SEAT 12A  ROW 4", 18, Rgb(0, 0, 0), false},
      {"GATE 7  18:30", 18, Rgb(0, 0, 0xA0), false},
      {"qxctl sample ticket", 14, Rgb(0x40, 0x40, 0x40), false},
  };
  const int job = StartDocA(dc.get(), &doc.docInfo);
  if (job <= 0) {
    return Fail(context, {kExitRefused, std::nullopt, "NOT_SPOOLED", "the spooler did not take the ticket for " +
                                                                          OrNone(printer), ""});
  }
  if (StartPage(dc.get()) <= 0) {
    AbortDoc(dc.get());
    return Fail(context, {kExitRefused, std::nullopt, "NOT_SPOOLED", "the ticket's page cannot be started", ""});
  }
  int texts = 0;
  json faces = json::array();
  LONG top = margin;
  const LONG usable = height - 2 * margin;
  for (const TicketLine& line : lines) {
    const LONG band = usable * line.share / 100;
    std::string face;
    texts += DrawLine(dc.get(), line, margin, top, width - 2 * margin, band, &face);
    faces.push_back({{"text", line.text}, {"face", face.empty() ? json(nullptr) : json(face)}});
    top += band;
  }
  if (EndPage(dc.get()) <= 0 || EndDoc(dc.get()) <= 0) {
    AbortDoc(dc.get());
    return Fail(context, {kExitRefused, std::nullopt, "NOT_PRINTED", "the ticket was not printed", ""});
  }

  json picture = nullptr;
  if (!options.out.empty()) {
    if (const std::optional<Failure> failure = SavePagePicture(printer, static_cast<unsigned>(job), options.out,
                                                               &picture)) {
      return Fail(context, *failure);
    }
  }
  const char* turned = doc.orientation == QX_ORIENT_LANDSCAPE ? "landscape" : "portrait";
  if (context.json) {
    Emit({{"printer", printer},
          {"job", job},
          {"width", width},
          {"height", height},
          {"orientation", options.orientation.empty() ? json(nullptr) : json(turned)},
          {"paperCode", options.length > 0 ? json(doc.paperCode & 0xFFFF) : json(nullptr)},
          {"bin", options.bin.empty() ? json(nullptr) : json(options.bin)},
          {"texts", texts},
          {"lines", faces},
          {"picture", picture}});
    return kExitDone;
  }
  std::printf("printed a %ld x %ld pixel ticket on %s as job %d (%d texts)\n", static_cast<long>(width),
              static_cast<long>(height), printer.c_str(), job, texts);
  for (const json& line : faces) {
    std::printf("  %-20s %s\n", line["text"].get<std::string>().c_str(),
                line["face"].is_null() ? "(does not fit)" : line["face"].get<std::string>().c_str());
  }
  if (!picture.is_null()) {
    std::printf("picture: %s (%d x %d pixels)\n", picture["file"].get<std::string>().c_str(),
                picture["width"].get<int>(), picture["height"].get<int>());
  }
  return kExitDone;
}

// A box WIDTHxHEIGHT in logical units, each a whole number from 1 to 32767.
CLI::Validator Box() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const size_t x = text.find_first_of("xX");
        auto whole = [](const std::string& part) {
          if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
            return false;
          }
          const long value = std::strtol(part.c_str(), nullptr, 10);
          return value >= 1 && value <= 32767;
        };
        if (x == std::string::npos || !whole(text.substr(0, x)) || !whole(text.substr(x + 1))) {
          return "'" + text + "' is not WIDTHxHEIGHT (whole numbers from 1 to 32767, e.g. 400x60)";
        }
        return "";
      },
      "WIDTHxHEIGHT");
}

// A face name as LOGFONTA holds it: 1 to 31 characters.
CLI::Validator FaceName() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.size() >= LF_FACESIZE) return "'" + text + "' is not a face name of 1 to 31 characters";
        return "";
      },
      "FACE");
}

// A ticket length in inches: a number above 0 and at most 99.
CLI::Validator TicketLength() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 99) {
          return "'" + text + "' is not a length in inches above 0 and at most 99";
        }
        return "";
      },
      "INCHES");
}

}  // namespace

void AddGraphicsCommands(CLI::App& app, Commands& commands) {
  auto family = std::make_shared<std::string>();
  CLI::App* fonts = commands.Add(app, "fonts", "The printer's device fonts with their cells, as the library makes them",
                                 Needs::kNothing, [family](const Context& context) { return Fonts(context, *family); });
  std::vector<std::string> families;
  for (const FamilyScale& row : kFaces) {
    if (families.empty() || families.back() != row.family) families.emplace_back(row.family);
  }
  fonts->add_option("--family", *family, "only this family, F01 to F13")->check(CLI::IsMember(families));

  auto face = std::make_shared<std::string>();
  CLI::App* font = commands.Add(app, "font", "The LOGFONTA of the font the library makes for a device font",
                                Needs::kNothing, [face](const Context& context) { return FontCommand(context, *face); });
  font->add_option("NAME", *face, "a device font's face name, e.g. \"F01 2:2 NR 14.5 cpi\"")
      ->required()
      ->check(FaceName());

  auto box = std::make_shared<std::string>();
  auto text = std::make_shared<std::string>();
  auto fitFace = std::make_shared<std::string>("Arial");
  CLI::App* fit = commands.Add(app, "fit", "The largest font in which a text fits a box (qxFindMaxFont)",
                               Needs::kSpooler, [box, text, fitFace](const Context& context) {
                                 return Fit(context, *box, *text, *fitFace);
                               });
  fit->add_option("BOX", *box, "WIDTHxHEIGHT in the printer's pixels")->required()->check(Box());
  fit->add_option("TEXT", *text, "the text")->required();
  fit->add_option("--face", *fitFace, "the face to fit")->capture_default_str()->check(FaceName());

  auto options = std::make_shared<TicketOptions>();
  CLI::App* ticket = commands.Add(app, "ticket", "Draw a sample ticket in device fonts and print it",
                                  Needs::kSpooler, [options](const Context& context) {
                                    return Ticket(context, *options);
                                  });
  ticket->add_option("--orientation", options->orientation, "portrait or landscape (default: as the printer is)")
      ->check(CLI::IsMember({"portrait", "landscape"}));
  ticket->add_option("--length", options->length, "the ticket length in inches: the nearest ticket sheet")
      ->check(TicketLength());
  ticket->add_option("--bin", options->bin, "the output bin by name, as qxctl bins shows it");
  ticket->add_option("--out", options->out, "save the picture of the printed page as this PNG file (POSIX)");
}

}  // namespace qxctl
