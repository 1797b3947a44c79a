// Debug output.
#include "core/log.h"

#include <cstdio>

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

namespace {

void WriteFormatted(size_t bufferSize, const char* format, va_list args) {
  char line[kMaxLineBuffer];
  if (bufferSize == 0 || format == nullptr) return;
  if (bufferSize > sizeof line) bufferSize = sizeof line;
  // vsnprintf cuts at the buffer's end and always terminates.
  std::vsnprintf(line, bufferSize, format, args);
  OutputDebugStringA(line);
}

}  // namespace

void DebugLineFormat(size_t bufferSize, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(bufferSize, format, args);
  va_end(args);
}

void DebugLineFlaggedFormat(int flag, size_t bufferSize, const char* format, ...) {
  if (flag == 0) return;
  va_list args;
  va_start(args, format);
  WriteFormatted(bufferSize, format, args);
  va_end(args);
}

void DebugSystemError() {
  LPSTR text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, GetLastError(), LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) OutputDebugStringA(text);
  if (text != nullptr) LocalFree(text);
}

}  // namespace qx
