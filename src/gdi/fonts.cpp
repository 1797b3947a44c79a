// Device fonts as logical fonts, and the drawing helpers hosts reach through
// the library: fitting a text into a box, centred text with an offset copy,
// and the plain forwards of text output, selection and deletion.
#include <qxdll.h>

#include <cstdint>
#include <cstring>

#include "gdi/font_table.h"

namespace {

// The table entry whose face name equals name byte for byte, or null.
const qx::DeviceFont* FindDeviceFont(LPCSTR name) {
  if (name == nullptr) return nullptr;
  for (const qx::DeviceFont& font : qx::kDeviceFonts) {
    if (std::strcmp(font.faceName, name) == 0) return &font;
  }
  return nullptr;
}

constexpr int kMaxFitTries = 500;

}  // namespace

extern "C" {

HFONT QXAPI qxCreateFont(LPVOID /*reserved*/, LPCSTR faceName) {
  const qx::DeviceFont* font = FindDeviceFont(faceName);
  if (font == nullptr) return nullptr;
  // A positive height asks for the cell height; the direction travels only
  // in the face name.
  return CreateFontA(font->cellHeight, font->cellWidth, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                     OUT_CHARACTER_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     faceName);
}

LONG QXAPI qxFindMaxFont(HDC hdc, LONG boxWidth, LONG boxHeight, LPCSTR text, LPLOGFONTA logFont) {
  if (boxWidth == 0 || boxHeight == 0 || logFont == nullptr) return 0;
  if (text == nullptr) text = "";
  // In 64 bits: a huge box must not overflow the products.
  const auto scaled = [](LONG value, int by, int of) { return static_cast<LONG>(int64_t{value} * by / of); };
  logFont->lfHeight = boxHeight;
  logFont->lfWidth = scaled(boxHeight, 6, 10);
  HFONT font = nullptr;
  SIZE measured = {0, 0};
  for (int tries = 1;; ++tries) {
    if (font != nullptr) DeleteObject(font);
    font = CreateFontIndirectA(logFont);
    if (font != nullptr) {
      HGDIOBJ previous = SelectObject(hdc, font);
      GetTextExtentPoint32A(hdc, text, lstrlenA(text), &measured);
      SelectObject(hdc, previous);
    }
    // The height shrinks first; the width only in tries where the height fits.
    if (measured.cy > boxHeight) {
      logFont->lfHeight = scaled(logFont->lfHeight, 80, 100);
    } else if (measured.cx > boxWidth) {
      logFont->lfWidth = scaled(logFont->lfWidth, 95, 100);
    }
    if ((measured.cx <= boxWidth && measured.cy <= boxHeight) || tries >= kMaxFitTries) break;
  }
  // Graphics handles keep their 32 bits, so the handle travels as a LONG.
  return static_cast<LONG>(reinterpret_cast<LONG_PTR>(font));
}

LONG QXAPI qxFontFX(HDC hdc, const RECT* box, LPCSTR text, LONG effect, COLORREF textColor, COLORREF effectColor) {
  if (box == nullptr || text == nullptr) return 0;
  const int length = lstrlenA(text);
  SIZE extent = {0, 0};
  GetTextExtentPointA(hdc, text, length, &extent);
  const LONG x = box->left + (box->right - box->left) / 2 - extent.cx / 2;
  const LONG y = box->top + (box->bottom - box->top) / 2 - extent.cy / 2;
  // The copy in the effect colour first, behind the text; other codes draw
  // only the centred text.
  if (effect == QX_FX_SHADOW_RIGHT_DOWN || effect == QX_FX_SHADOW_LEFT_UP) {
    const LONG offset = effect == QX_FX_SHADOW_RIGHT_DOWN ? 1 : -2;
    SetTextColor(hdc, effectColor);
    TextOutA(hdc, x + offset, y + offset, text, length);
  }
  SetTextColor(hdc, textColor);
  TextOutA(hdc, x, y, text, length);
  return 0;
}

LONGLONG QXAPI qxTextOut(HDC hdc, int x, int y, LPCSTR text) {
  if (text == nullptr) return 0;
  return static_cast<LONGLONG>(TextOutA(hdc, x, y, text, lstrlenA(text)));
}

HGDIOBJ QXAPI qxSelectObject(HDC hdc, HGDIOBJ object) { return SelectObject(hdc, object); }

BOOL QXAPI qxDeleteObject(HGDIOBJ object) { return DeleteObject(object); }

}  // extern "C"
