// Debug output: the levelled log and the three kinds of debug line.
//
// The library writes progress lines to the debugger output and nowhere else:
// one OutputDebugStringA call per line, no file, no time stamp. The texts carry
// their own line breaks.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "core/text.h"

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

// The same, as a flagged line: written only when flag is nonzero.
void DebugLineFlaggedFormat(int flag, size_t bufferSize, const char* format, ...) QX_PRINTF_LIKE(3, 4);

// System-error line: the system's message text for the calling thread's last
// error, as FormatMessageA gives it. Nothing is written when no text comes.
void DebugSystemError();

}  // namespace qx
