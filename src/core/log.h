// Debug output and the small text routines every subsystem shares.
//
// The library writes progress lines to the debugger output and nowhere else:
// one OutputDebugStringA call per line, no file, no time stamp. The texts carry
// their own line breaks.
#pragma once

#include <windows.h>

#include <cstdarg>

namespace qx {

#if defined(__GNUC__)
#define QX_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QX_PRINTF_LIKE(fmt, args)
#endif

// Levelled log: the library names a line and a level (1 or 2) at many call
// sites, but the sink produces no output at either level. The format is still
// checked at compile time so the call sites stay correct.
inline void LogLevel(int level, const char* format, ...) QX_PRINTF_LIKE(2, 3);
inline void LogLevel(int, const char*, ...) {}

// Flagged debug line: the text goes to the debugger unchanged when flag is
// nonzero, else nothing happens. Used with a caller's verbose flag.
void DebugLineFlagged(const char* text, int flag);

// Plain debug line: the text goes to the debugger unconditionally.
void DebugLine(const char* text);

// Formats a debug line into a buffer of bufferSize bytes (128, 1024 or 2048 as
// each caller says; larger sizes are held to 2048) and writes it. A line that
// does not fit is cut at the buffer's end, never overrun.
void DebugLineFormat(size_t bufferSize, const char* format, ...) QX_PRINTF_LIKE(2, 3);

// System-error line: the system's message text for the calling thread's last
// error, as FormatMessageA gives it. Nothing is written when no text comes.
void DebugSystemError();

// Text copy rule: copies source into a destination of destSize bytes, keeping
// at most destSize - 2 characters followed by a zero, whatever the source's
// length; reports destSize - 2. A null source copies as the empty text; a
// destination of fewer than 2 bytes gets at most the zero and reports 0.
DWORD CopyTextRule(char* dest, DWORD destSize, const char* source);

// Bounded copy: copies source into dest of destSize bytes, cut to
// destSize - 1 characters, always terminated (when destSize > 0). Reports the
// number of characters copied.
DWORD CopyText(char* dest, DWORD destSize, const char* source);

// Substring test: the first place where pattern occurs in text, byte for byte
// and case-sensitive, or null. An empty (or null) text or pattern never matches.
const char* FindSubstring(const char* text, const char* pattern);

// True when the text contains the pattern, by the substring test.
inline bool Contains(const char* text, const char* pattern) {
  return FindSubstring(text, pattern) != nullptr;
}

}  // namespace qx
