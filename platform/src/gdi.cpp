// gdi.cpp - POSIX implementation of the Win32 graphics area the library uses:
// printer device contexts (CreateDCA on "WINSPOOL"), logical fonts, text
// extents, text output and colour, and printing pages through the spooler.
//
// Text metrics. Deterministic, so that fitting a text into a box can be
// tested exactly (docs/graphics.md). A device font of the printer (a face
// named "Fnn ... cpi", as the drivers name theirs) is a bitmap cell: its cell
// is |lfHeight| high and every character lfWidth wide, so a font created with
// a device font's cell measures exactly that cell. Any other face is scaled
// on a grid of 4 dots: its cell is |lfHeight| rounded up to a multiple of 4.
// In both, a height of 0 means 16, there is no internal leading (a negative
// height asks for the same cell as a positive one), and a width of 0 means
// the cell height x 6 / 10, at least 1. n characters measure n x width by
// the cell height. A context starts with the stock font selected, a 16 by 8
// cell.
//
// Device contexts. CreateDCA("WINSPOOL", printer, NULL, devmode) reads the
// printer's stored device mode and merges the fields the given one names in
// dmFields (orientation, paper size, paper length and width). The page is the
// paper in device pixels at the device mode's resolution (print quality and y
// resolution; 203 dots per inch where they are not positive), landscape
// swapping the sides, with no unprintable margin.
//
// Printing. StartDocA starts a job on the printer through the spooler;
// EndPage writes the page as lines of text, each field separated by one
// blank, texts in hexadecimal:
//   QXPAGE <page number> <width> <height> <dots per inch x> <y>
//   TEXT <x> <y> <colour, 6 hex digits BBGGRR> <cell height> <char width> <face> <text>
//   ENDPAGE
// and EndDoc ends the job, which then prints. AbortDoc, and DeleteDC of a
// context whose document is open, delete the job.
//
// Objects. Fonts and contexts are counted as GDI objects. Deleting a font
// still selected into a context succeeds, and the font lives on until it is
// deselected or its context is deleted, as on Windows. Stock objects are
// never counted and deleting them succeeds and does nothing.
#include <windows.h>
#include <qxplatform.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <qxwire/hex.h>

#include "accounting.h"

namespace qxplat {
namespace {

constexpr LONG kDefaultCell = 16;
constexpr LONG kDefaultDpi = 203;
constexpr LONG kStockWidth = 8;

struct Font {
  LOGFONTA lf{};
  int selected = 0;      // contexts it is selected into
  bool deleted = false;  // DeleteObject came while it was selected
};

struct Drawn {
  LONG x, y;
  COLORREF color;
  LONG cellHeight, charWidth;
  std::string face, text;
};

struct Dc {
  std::string printer;
  LONG width = 0, height = 0, dpiX = kDefaultDpi, dpiY = kDefaultDpi;
  HGDIOBJ font = nullptr;  // null: the stock font
  COLORREF color = 0;
  std::vector<Drawn> drawn;   // every TextOutA since creation
  size_t pageStart = 0;       // the first of the page being drawn
  HANDLE job = nullptr;       // the printer handle of an open document
  bool inPage = false;
  int pages = 0;
};

struct Objects {
  std::mutex lock;
  uintptr_t next = 0x6D000;  // GDI handles: even values of their own range
  std::map<uintptr_t, std::shared_ptr<Font>> fonts;
  std::map<uintptr_t, std::shared_ptr<Dc>> dcs;
};

Objects& Gdi() {
  static Objects* objects = new Objects;
  return *objects;
}

// The stock font's handle value: outside the range of created objects.
HGDIOBJ StockFont() { return reinterpret_cast<HGDIOBJ>(uintptr_t{0x6C010}); }

uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

std::shared_ptr<Dc> FindDc(HDC hdc) {
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto it = g.dcs.find(Key(hdc));
  return it != g.dcs.end() ? it->second : nullptr;
}

// Whether a face names one of the printer's device fonts: "F", two digits,
// a blank, and "cpi" at its end ("F01 2:2 NR 14.5 cpi").
bool IsDeviceFace(const char* face) {
  const size_t length = strnlen(face, LF_FACESIZE);
  return length > 6 && face[0] == 'F' && face[1] >= '0' && face[1] <= '9' && face[2] >= '0' && face[2] <= '9' &&
         face[3] == ' ' && std::strncmp(face + length - 3, "cpi", 3) == 0;
}

// The cell and character width of the font selected into a context.
void Metrics(const Dc& dc, LONG* cell, LONG* width, std::string* face) {
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto it = g.fonts.find(Key(dc.font));
  if (it == g.fonts.end()) {
    *cell = kDefaultCell;
    *width = kStockWidth;
    if (face != nullptr) *face = "System";
    return;
  }
  const LOGFONTA& lf = it->second->lf;
  const int64_t asked = lf.lfHeight == 0 ? kDefaultCell : (lf.lfHeight < 0 ? -int64_t{lf.lfHeight} : lf.lfHeight);
  const int64_t cellHeight = IsDeviceFace(lf.lfFaceName) ? asked : (asked + 3) / 4 * 4;
  *cell = static_cast<LONG>(std::min<int64_t>(cellHeight, INT32_MAX));
  *width = lf.lfWidth > 0 ? lf.lfWidth : std::max<LONG>(1, *cell * 6 / 10);
  if (face != nullptr) face->assign(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE));
}

// Enters a new object in its table under a fresh handle value, counted.
template <class T>
uintptr_t Register(std::map<uintptr_t, std::shared_ptr<T>> Objects::*table, std::shared_ptr<T> object) {
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  const uintptr_t key = g.next += 4;
  (g.*table)[key] = std::move(object);
  CountUp(QXPLAT_KIND_GDI);
  return key;
}

HFONT MakeFont(const LOGFONTA& lf) {
  if (FaultPoint(kFaultAlloc, "CreateFont", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  auto font = std::make_shared<Font>();
  font->lf = lf;
  font->lf.lfFaceName[LF_FACESIZE - 1] = '\0';
  return reinterpret_cast<HFONT>(Register(&Objects::fonts, std::move(font)));
}

// Takes one selection off a font; frees it when it was deleted meanwhile.
// The caller holds the lock.
void Deselect(Objects& g, HGDIOBJ handle) {
  auto it = g.fonts.find(Key(handle));
  if (it == g.fonts.end()) return;
  if (--it->second->selected == 0 && it->second->deleted) {
    g.fonts.erase(it);
    CountDown(QXPLAT_KIND_GDI);
  }
}

// Hex - a text field of a page line: its bytes in hex, "-" when empty.
std::string Hex(const std::string& bytes) { return bytes.empty() ? "-" : qxwire::ToHex(bytes); }

// The printer's stored device mode, the input's named fields merged into it,
// and the printer's port, from one read of its record.
bool PrinterDevMode(HANDLE printer, const DEVMODEA* input, DEVMODEA* out, std::string* port) {
  DWORD needed = 0;
  GetPrinterA(printer, 2, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<BYTE> record(needed);
  if (!GetPrinterA(printer, 2, record.data(), needed, &needed)) return false;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record.data());
  if (info->pPortName != nullptr) *port = info->pPortName;
  std::memset(out, 0, sizeof *out);
  if (info->pDevMode != nullptr) std::memcpy(out, info->pDevMode, sizeof *out);
  if (input != nullptr && input->dmSize >= offsetof(DEVMODEA, dmFields) + sizeof(DWORD)) {
    const DWORD fields = input->dmFields;
    // A paper code given alone replaces a custom size the printer held.
    if ((fields & DM_PAPERSIZE) && !(fields & (DM_PAPERLENGTH | DM_PAPERWIDTH))) {
      out->dmFields &= ~static_cast<DWORD>(DM_PAPERLENGTH | DM_PAPERWIDTH);
    }
    if (fields & DM_ORIENTATION) out->dmOrientation = input->dmOrientation;
    if (fields & DM_PAPERSIZE) out->dmPaperSize = input->dmPaperSize;
    if (fields & DM_PAPERLENGTH) out->dmPaperLength = input->dmPaperLength;
    if (fields & DM_PAPERWIDTH) out->dmPaperWidth = input->dmPaperWidth;
    out->dmFields |= fields & (DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH);
  }
  return true;
}

// The paper of a device mode in tenths of a millimetre: its own length and
// width when it names them (they override the paper code, as on Windows),
// else the driver's size for its paper code, else Letter.
POINT Paper(const char* printer, const char* port, const DEVMODEA& dm) {
  if ((dm.dmFields & DM_PAPERLENGTH) && (dm.dmFields & DM_PAPERWIDTH) && dm.dmPaperLength > 0 &&
      dm.dmPaperWidth > 0) {
    return {dm.dmPaperWidth, dm.dmPaperLength};
  }
  const int n = DeviceCapabilitiesA(printer, port, DC_PAPERS, nullptr, nullptr);
  if (n > 0) {
    std::vector<WORD> codes(static_cast<size_t>(n) + 1024);
    std::vector<POINT> sizes(static_cast<size_t>(n) + 1024);
    const int c = DeviceCapabilitiesA(printer, port, DC_PAPERS, reinterpret_cast<LPSTR>(codes.data()), nullptr);
    const int s = DeviceCapabilitiesA(printer, port, DC_PAPERSIZE, reinterpret_cast<LPSTR>(sizes.data()), nullptr);
    for (int i = 0; i < std::min(c, s); ++i) {
      if (codes[static_cast<size_t>(i)] == static_cast<WORD>(dm.dmPaperSize)) return sizes[static_cast<size_t>(i)];
    }
  }
  return {2159, 2794};  // Letter
}

LONG Pixels(LONG tenthsMm, LONG dpi) { return static_cast<LONG>(static_cast<int64_t>(tenthsMm) * dpi / 254); }

// Ends an open document: kept (EndDoc) or deleted (AbortDoc, DeleteDC).
bool CloseJob(Dc& dc, bool keep) {
  if (dc.job == nullptr) return false;
  const BOOL done = keep ? EndDocPrinter(dc.job) : AbortPrinter(dc.job);
  ClosePrinter(dc.job);
  dc.job = nullptr;
  dc.inPage = false;
  return done != FALSE;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR /*pszPort*/, const DEVMODEA* pdm) {
  if (FaultPoint(kFaultOpen, "CreateDCA", ERROR_INVALID_PRINTER_NAME)) return nullptr;
  if (pwszDriver == nullptr || lstrcmpiA(pwszDriver, "WINSPOOL") != 0 || pwszDevice == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  if (!OpenPrinterA(const_cast<LPSTR>(pwszDevice), &printer, &defaults)) return nullptr;
  DEVMODEA dm;
  std::string port;
  const bool read = PrinterDevMode(printer, pdm, &dm, &port);
  ClosePrinter(printer);
  if (!read) return nullptr;

  auto dc = std::make_shared<Dc>();
  dc->printer = pwszDevice;
  if (dm.dmPrintQuality > 0) dc->dpiX = dm.dmPrintQuality;
  dc->dpiY = dm.dmYResolution > 0 ? dm.dmYResolution : dc->dpiX;
  POINT paper = Paper(pwszDevice, port.c_str(), dm);
  if (dm.dmOrientation == DMORIENT_LANDSCAPE) std::swap(paper.x, paper.y);
  dc->width = Pixels(paper.x, dc->dpiX);
  dc->height = Pixels(paper.y, dc->dpiY);
  return reinterpret_cast<HDC>(Register(&Objects::dcs, std::move(dc)));
}

BOOL WINAPI DeleteDC(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CloseJob(*dc, false);
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  Deselect(g, dc->font);
  g.dcs.erase(Key(hdc));
  CountDown(QXPLAT_KIND_GDI);
  return TRUE;
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr) return 0;
  switch (index) {
    case HORZRES:
    case PHYSICALWIDTH:
      return dc->width;
    case VERTRES:
    case PHYSICALHEIGHT:
      return dc->height;
    case LOGPIXELSX:
      return dc->dpiX;
    case LOGPIXELSY:
      return dc->dpiY;
    default:
      return 0;
  }
}

HFONT WINAPI CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                         DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                         DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName) {
  LOGFONTA lf{};
  lf.lfHeight = cHeight;
  lf.lfWidth = cWidth;
  lf.lfEscapement = cEscapement;
  lf.lfOrientation = cOrientation;
  lf.lfWeight = cWeight;
  lf.lfItalic = static_cast<BYTE>(bItalic);
  lf.lfUnderline = static_cast<BYTE>(bUnderline);
  lf.lfStrikeOut = static_cast<BYTE>(bStrikeOut);
  lf.lfCharSet = static_cast<BYTE>(iCharSet);
  lf.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
  lf.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
  lf.lfQuality = static_cast<BYTE>(iQuality);
  lf.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
  if (pszFaceName != nullptr) lstrcpynA(lf.lfFaceName, pszFaceName, LF_FACESIZE);
  return MakeFont(lf);
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lplf) {
  if (lplf == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return MakeFont(*lplf);
}

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto it = g.fonts.find(Key(h));
  if (it == g.fonts.end()) return 0;
  if (pv == nullptr) return static_cast<int>(sizeof(LOGFONTA));
  const int copied = std::min<int>(std::max(c, 0), static_cast<int>(sizeof(LOGFONTA)));
  std::memcpy(pv, &it->second->lf, static_cast<size_t>(copied));
  return copied;
}

HGDIOBJ WINAPI GetStockObject(int i) {
  return i == SYSTEM_FONT || i == DEVICE_DEFAULT_FONT ? StockFont() : nullptr;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  const bool stock = h == StockFont();
  auto it = g.fonts.find(Key(h));
  if (dc == nullptr || (!stock && (it == g.fonts.end() || it->second->deleted))) return nullptr;
  HGDIOBJ previous = dc->font != nullptr ? dc->font : StockFont();
  if (!stock) ++it->second->selected;
  const HGDIOBJ old = dc->font;
  dc->font = stock ? nullptr : h;
  Deselect(g, old);
  return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  if (ho == StockFont()) return TRUE;
  Objects& g = Gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto it = g.fonts.find(Key(ho));
  if (it == g.fonts.end() || it->second->deleted) return FALSE;
  if (it->second->selected > 0) {
    it->second->deleted = true;  // freed when deselected
    return TRUE;
  }
  g.fonts.erase(it);
  CountDown(QXPLAT_KIND_GDI);
  return TRUE;
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || psizl == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG cell = 0, width = 0;
  Metrics(*dc, &cell, &width, nullptr);
  psizl->cx = static_cast<LONG>(std::min<int64_t>(int64_t{c} * width, INT32_MAX));
  psizl->cy = cell;
  return TRUE;
}

BOOL WINAPI GetTextExtentPointA(HDC hdc, LPCSTR lpString, int c, LPSIZE lpsz) {
  return GetTextExtentPoint32A(hdc, lpString, c, lpsz);
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Drawn d{x, y, dc->color, 0, 0, {}, std::string(lpString != nullptr ? lpString : "", static_cast<size_t>(c))};
  Metrics(*dc, &d.cellHeight, &d.charWidth, &d.face);
  dc->drawn.push_back(std::move(d));
  return TRUE;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr) return CLR_INVALID;
  return std::exchange(dc->color, color);
}

COLORREF WINAPI GetTextColor(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  return dc != nullptr ? dc->color : CLR_INVALID;
}

int WINAPI StartDocA(HDC hdc, const DOCINFOA* lpdi) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || lpdi == nullptr || dc->job != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
  }
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  if (!OpenPrinterA(const_cast<LPSTR>(dc->printer.c_str()), &printer, &defaults)) return SP_ERROR;
  char raw[] = "RAW";
  DOC_INFO_1A doc = {const_cast<LPSTR>(lpdi->lpszDocName), const_cast<LPSTR>(lpdi->lpszOutput), raw};
  const DWORD job = StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc));
  if (job == 0) {
    ClosePrinter(printer);
    return SP_ERROR;
  }
  dc->job = printer;
  dc->pages = 0;
  return static_cast<int>(job);
}

int WINAPI StartPage(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || dc->job == nullptr || dc->inPage || !StartPagePrinter(dc->job)) return SP_ERROR;
  dc->inPage = true;
  dc->pageStart = dc->drawn.size();
  return 1;
}

int WINAPI EndPage(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || dc->job == nullptr || !dc->inPage) return SP_ERROR;
  std::string page = "QXPAGE " + std::to_string(++dc->pages) + " " + std::to_string(dc->width) + " " +
                     std::to_string(dc->height) + " " + std::to_string(dc->dpiX) + " " + std::to_string(dc->dpiY) +
                     "\n";
  for (size_t i = dc->pageStart; i < dc->drawn.size(); ++i) {
    const Drawn& d = dc->drawn[i];
    char color[8];
    std::snprintf(color, sizeof color, "%06x", static_cast<unsigned>(d.color & 0xFFFFFF));
    page += "TEXT " + std::to_string(d.x) + " " + std::to_string(d.y) + " " + color + " " +
            std::to_string(d.cellHeight) + " " + std::to_string(d.charWidth) + " " + Hex(d.face) + " " +
            Hex(d.text) + "\n";
  }
  page += "ENDPAGE\n";
  dc->inPage = false;
  // The whole page or a failed page: short writes are continued.
  size_t done = 0;
  while (done < page.size()) {
    DWORD written = 0;
    if (!WritePrinter(dc->job, page.data() + done, static_cast<DWORD>(page.size() - done), &written) ||
        written == 0) {
      return SP_ERROR;
    }
    done += written;
  }
  return EndPagePrinter(dc->job) ? 1 : SP_ERROR;
}

int WINAPI EndDoc(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || dc->job == nullptr) return SP_ERROR;
  return CloseJob(*dc, true) ? 1 : SP_ERROR;
}

int WINAPI AbortDoc(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (dc == nullptr || dc->job == nullptr) return SP_ERROR;
  return CloseJob(*dc, false) ? 1 : SP_ERROR;
}

size_t qxplat_gdi_text_count(void* hdc) {
  std::shared_ptr<Dc> dc = FindDc(static_cast<HDC>(hdc));
  return dc != nullptr ? dc->drawn.size() : 0;
}

int qxplat_gdi_text(void* hdc, size_t index, qxplat_text_out* out) {
  std::shared_ptr<Dc> dc = FindDc(static_cast<HDC>(hdc));
  if (dc == nullptr || out == nullptr || index >= dc->drawn.size()) return -1;
  const Drawn& d = dc->drawn[index];
  out->x = d.x;
  out->y = d.y;
  out->color = d.color;
  out->cell_height = d.cellHeight;
  out->char_width = d.charWidth;
  lstrcpynA(out->face, d.face.c_str(), sizeof out->face);
  lstrcpynA(out->text, d.text.c_str(), sizeof out->text);
  return 0;
}

}  // extern "C"
