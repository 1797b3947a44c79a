// The driver version report's file helpers, shared with the tests: the file
// date text and the version texts of a file's version resource.
#pragma once

#include <windows.h>

namespace qx {

// getFileDate - the file's last-write time in local time as
//   "month/day/year hh:mm AM" (12-hour clock, no leading zeros in the date).
//   path (in); text (out), size (in): receives the text when it fits.
// Returns 1, or 0 with the buffer untouched: debug line "getFileDate - file
// did not open\r\n" when the file cannot be opened for reading, "getFileDate -
// Get file time failed" when its time cannot be read; no line when the time
// cannot be converted or the text does not fit.
BOOL getFileDate(LPCSTR path, LPSTR text, DWORD size);

// getFileVersion - the file version of a file's version resource as the
//   short text "a.bc" and the full text "a.b.c.d".
//   path (in); shortText, fullText (out), size (in, of each): written only
//   when the version is read and both texts fit; major (out, may be null):
//   the version's first part.
// Returns 0 when the file has no version resource (debug line "version size
// = 0, return without version\r\n"), else 1, also when the resource could not
// be read ("getFileVersion - failed\r\n") or holds no fixed file information
// ("getFileVersion - VerQueryValue failed\r\n"): then nothing is written.
BOOL getFileVersion(LPCSTR path, LPSTR shortText, DWORD size, LPSTR fullText, WORD* major);

// FindModuleVersion - the version text of the first row of the module table
//   whose module name (upper case) occurs in the upper-case form of path and
//   whose date occurs in dateText; null, with the debug line "Not found\r\n",
//   when no row matches.
const char* FindModuleVersion(const char* path, const char* dateText);

}  // namespace qx
