// The small text routines every subsystem shares: the text copy rule, the
// bounded copy and the substring test.
#pragma once

#include <windows.h>

namespace qx {

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
