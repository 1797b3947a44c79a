// spooler_test_util.h - shared helpers of the spooler conformance tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "win32_expect.h"

namespace spooler_test {

constexpr const char* kTicket = "QX ZDA-38 Ticket Printer";
constexpr const char* kBoarding = "QX ZDA24 Boarding Pass Printer";
constexpr const char* kOffice = "Office Laser MFP";
constexpr const char* kKiosk = "QX KTP-58 Kiosk Printer";

// True when p lies inside [buffer, buffer + size) (null pointers are not).
inline bool Inside(const void* p, const std::vector<BYTE>& buffer, size_t size) {
  const auto* b = static_cast<const BYTE*>(p);
  return b != nullptr && b >= buffer.data() && b < buffer.data() + size;
}

// A text pointer inside the buffer whose zero is inside it too.
inline bool TextInside(const char* p, const std::vector<BYTE>& buffer, size_t size) {
  if (!Inside(p, buffer, size)) return false;
  const auto* end = buffer.data() + size;
  for (const auto* c = reinterpret_cast<const BYTE*>(p); c < end; ++c) {
    if (*c == 0) return true;
  }
  return false;
}

// A printer handle closed at the end of the scope.
struct Printer {
  HANDLE h = nullptr;
  explicit Printer(const char* name, DWORD access = PRINTER_ALL_ACCESS) {
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, access};
    if (!OpenPrinterA(const_cast<LPSTR>(name), &h, &defaults)) h = nullptr;
  }
  ~Printer() {
    if (h != nullptr) ClosePrinter(h);
  }
};

}  // namespace spooler_test
