// ole.cpp - POSIX implementation of the Win32 automation strings (BSTR).
//
// Layout, as on Windows: a 32-bit byte length, then the bytes, then two zero
// bytes; the BSTR points at the bytes. The lengths read the stored prefix, so
// a BSTR laid out by hand works too. Strings are registered so that freeing
// one the layer did not allocate (or twice) is ignored instead of corrupting
// memory, and so that they can be counted.
#include <oleauto.h>
#include <qxplatform.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "accounting.h"

namespace qxplat {
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
constexpr size_t kTerminator = 2;
constexpr size_t kMaxBytes = size_t{1} << 31;

struct Strings {
  std::mutex lock;
  std::unordered_set<uintptr_t> live;
};

Strings& TheStrings() {
  static Strings* strings = new Strings;
  return *strings;
}

// NewString - a BSTR of byte_len bytes copied from bytes (zeroed when null).
BSTR NewString(const char* function, const void* bytes, size_t byte_len) {
  if (FaultPoint(kFaultAlloc, function, ERROR_OUTOFMEMORY)) return nullptr;
  if (byte_len > kMaxBytes) return nullptr;
  auto* base = static_cast<unsigned char*>(std::malloc(kPrefix + byte_len + kTerminator));
  if (base == nullptr) return nullptr;
  const auto stored = static_cast<uint32_t>(byte_len);
  std::memcpy(base, &stored, kPrefix);
  if (bytes != nullptr) {
    std::memcpy(base + kPrefix, bytes, byte_len);
  } else {
    std::memset(base + kPrefix, 0, byte_len);
  }
  std::memset(base + kPrefix + byte_len, 0, kTerminator);
  auto* text = reinterpret_cast<BSTR>(base + kPrefix);
  {
    Strings& s = TheStrings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.live.insert(reinterpret_cast<uintptr_t>(text));
  }
  CountUp(QXPLAT_KIND_BSTR);
  return text;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// SysAllocString - a copy of a zero-terminated 16-bit text; NULL for NULL.
BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  size_t n = 0;
  while (psz[n] != 0) ++n;
  return NewString("SysAllocString", psz, n * sizeof(OLECHAR));
}

// SysAllocStringLen - ui characters from strIn (zeroed when strIn is NULL).
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return NewString("SysAllocStringLen", strIn, size_t{ui} * sizeof(OLECHAR));
}

// SysAllocStringByteLen - len bytes from psz, not converted (zeroed when psz
// is NULL). The byte length may be odd; the two zero bytes follow at once.
BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  return NewString("SysAllocStringByteLen", psz, len);
}

// SysFreeString - free a BSTR; NULL, and a pointer the layer did not
// allocate or already freed, are ignored.
void SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  {
    Strings& s = TheStrings();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.live.erase(reinterpret_cast<uintptr_t>(bstrString)) == 0) return;
  }
  CountDown(QXPLAT_KIND_BSTR);
  std::free(reinterpret_cast<unsigned char*>(bstrString) - kPrefix);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t stored;
  std::memcpy(&stored, reinterpret_cast<const unsigned char*>(bstr) - kPrefix, kPrefix);
  return stored;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

}  // extern "C"
