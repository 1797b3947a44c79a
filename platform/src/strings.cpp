// strings.cpp - POSIX implementation of the Win32 8-bit strings and the ANSI
// code page: lstrlenA, lstrcmpA, lstrcmpiA, lstrcpynA, lstrcpyA, lstrcatA,
// IsDBCSLeadByte and GetACP, with the qxplat_ calls that set or reset the
// code page. Automation strings are in ole.cpp.
//
// lstrcmpA and lstrcmpiA compare in byte order (case folded in the code page
// for lstrcmpiA), not in the linguistic order of CompareStringA: equal texts
// and case variants compare as on Windows; the order between letters and
// punctuation may differ.
#include <windows.h>
#include <qxplatform.h>

#include <atomic>
#include <cstring>

#include "simlink.h"

namespace qxplat {
namespace {

std::atomic<UINT> g_code_page{1252};
std::atomic<bool> g_code_page_overridden{false};  // set by qxplat_set_code_page

bool LeadByteIn(UINT code_page, BYTE c) {
  switch (code_page) {
    case 932:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
      return c >= 0x81 && c <= 0xFE;
    default:
      return false;
  }
}

// Lower case of one byte in the code page: ASCII letters everywhere, and in
// 1252 also the accented capitals and the few capitals at 0x8A-0x9F.
BYTE FoldByte(UINT code_page, BYTE c) {
  if (c >= 'A' && c <= 'Z') return static_cast<BYTE>(c + 32);
  if (code_page == 1252) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<BYTE>(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<BYTE>(c + 16);
    if (c == 0x9F) return 0xFF;
  }
  return c;
}

// Byte order of two texts, optionally ignoring case; double-byte characters
// compare unfolded, so a trail byte that looks like a letter stays itself.
int CompareTexts(LPCSTR a, LPCSTR b, bool ignore_case) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  const UINT cp = g_code_page.load(std::memory_order_relaxed);
  const auto* p = reinterpret_cast<const BYTE*>(a);
  const auto* q = reinterpret_cast<const BYTE*>(b);
  bool in_double = false;
  for (;; ++p, ++q) {
    BYTE x = *p;
    BYTE y = *q;
    if (ignore_case && !in_double) {
      x = FoldByte(cp, x);
      y = FoldByte(cp, y);
    }
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    in_double = !in_double && LeadByteIn(cp, *p);
  }
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareTexts(lpString1, lpString2, false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareTexts(lpString1, lpString2, true);
}

// lstrcpynA - copy at most iMaxLength - 1 characters and always terminate
// (when iMaxLength > 0). Null pointers: NULL with ERROR_INVALID_PARAMETER,
// where Windows catches the access fault.
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr || (lpString2 == nullptr && iMaxLength > 1)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto count = static_cast<UINT>(iMaxLength);
  LPSTR d = lpString1;
  for (LPCSTR s = lpString2; count > 1 && *s != '\0'; --count) *d++ = *s++;
  if (count != 0) *d = '\0';
  return lpString1;
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::strcpy(lpString1, lpString2);
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::strcat(lpString1, lpString2);
}

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  return LeadByteIn(g_code_page.load(std::memory_order_relaxed), TestChar) ? TRUE : FALSE;
}

// GetACP - the ANSI code page: a reachable world's, unless a test has set one.
// IsDBCSLeadByte follows the layer's own setting only, as asking the world
// for every byte would be far too slow.
UINT WINAPI GetACP(void) {
  SimSystem world;
  if (!g_code_page_overridden.load(std::memory_order_relaxed) && SimSystemInfo(world) &&
      world.code_page != 0) {
    return world.code_page;
  }
  return g_code_page.load(std::memory_order_relaxed);
}

int qxplat_set_code_page(uint32_t code_page) {
  switch (code_page) {
    case 1252:
    case 932:
    case 936:
    case 949:
    case 950:
      g_code_page.store(code_page, std::memory_order_relaxed);
      g_code_page_overridden.store(true, std::memory_order_relaxed);
      return 0;
    default:
      return -1;
  }
}

void qxplat_reset_code_page(void) {
  g_code_page.store(1252, std::memory_order_relaxed);
  g_code_page_overridden.store(false, std::memory_order_relaxed);
}

}  // extern "C"
