// The shared text routines.
#include "core/text.h"

#include <cstring>

namespace qx {

DWORD CopyTextRule(char* dest, DWORD destSize, const char* source) {
  if (dest == nullptr || destSize == 0) return 0;
  if (destSize < 2) {
    dest[0] = '\0';
    return 0;
  }
  const DWORD keep = destSize - 2;
  DWORD i = 0;
  if (source != nullptr) {
    for (; i < keep && source[i] != '\0'; ++i) dest[i] = source[i];
  }
  dest[i] = '\0';
  return keep;
}

DWORD CopyText(char* dest, DWORD destSize, const char* source) {
  if (dest == nullptr || destSize == 0) return 0;
  DWORD i = 0;
  if (source != nullptr) {
    for (; i + 1 < destSize && source[i] != '\0'; ++i) dest[i] = source[i];
  }
  dest[i] = '\0';
  return i;
}

const char* FindSubstring(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr || *text == '\0' || *pattern == '\0') return nullptr;
  return std::strstr(text, pattern);
}

}  // namespace qx
