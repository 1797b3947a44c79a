// Debug output and the shared text routines.
#include "core/log.h"

#include <cstdio>
#include <cstring>

namespace qx {

namespace {
constexpr size_t kMaxLineBuffer = 2048;
}

void DebugLineFlagged(const char* text, int flag) {
  if (flag != 0 && text != nullptr) OutputDebugStringA(text);
}

void DebugLine(const char* text) {
  if (text != nullptr) OutputDebugStringA(text);
}

void DebugLineFormat(size_t bufferSize, const char* format, ...) {
  char line[kMaxLineBuffer];
  if (bufferSize == 0 || format == nullptr) return;
  if (bufferSize > sizeof line) bufferSize = sizeof line;
  va_list args;
  va_start(args, format);
  // vsnprintf cuts at the buffer's end and always terminates.
  std::vsnprintf(line, bufferSize, format, args);
  va_end(args);
  OutputDebugStringA(line);
}

void DebugSystemError() {
  LPSTR text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, GetLastError(), LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) OutputDebugStringA(text);
  if (text != nullptr) LocalFree(text);
}

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
