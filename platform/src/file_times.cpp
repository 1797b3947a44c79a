// file_times.cpp - POSIX platform layer, Win32 side: file times.
// GetFileTime on the world's files (world_files.h), and the conversions
// FileTimeToLocalFileTime and FileTimeToSystemTime.
//
// A FILETIME counts 100 ns since 1601-01-01 UTC. As on Windows, the local
// conversion applies the bias in force now (daylight saving included),
// whatever the date converted: a summer date converted in winter is off by
// the hour. The zone is the process's (TZ, else the system's), read again at
// every call so that a change of TZ takes effect.
#include <time.h>
#include <windows.h>

#include <cstdint>

#include "world_files.h"

namespace qxplat {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

uint64_t Ticks(const FILETIME& t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; }

FILETIME FromTicks(uint64_t v) { return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

// The offset of local time from UTC now, in seconds (east positive).
int64_t CurrentOffsetSeconds() {
  tzset();
  const time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

// Year, month and day of a count of days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// GetFileTime - a file's creation, last access and last write times (UTC).
//   hFile (in): a handle of a world file opened with CreateFileA.
//   lpCreationTime, lpLastAccessTime, lpLastWriteTime (out, each may be null).
// Returns TRUE, or FALSE with ERROR_INVALID_HANDLE for any other handle.
BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  return WorldFileTimes(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime);
}

// FileTimeToLocalFileTime - UTC to local time by the bias in force now.
// FALSE with ERROR_INVALID_PARAMETER for a null address or a result that
// would leave the range of FILETIME (before 1601 or past 2^63 ticks).
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const int64_t offset = CurrentOffsetSeconds() * kTicksPerSecond;
  const uint64_t ticks = Ticks(*lpFileTime);
  if (ticks > static_cast<uint64_t>(INT64_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const int64_t local = static_cast<int64_t>(ticks);
  if ((offset < 0 && local < -offset) || (offset > 0 && local > INT64_MAX - offset)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *lpLocalFileTime = FromTicks(static_cast<uint64_t>(local + offset));
  return TRUE;
}

// FileTimeToSystemTime - a FILETIME split into its calendar fields, without
// any zone. FALSE with ERROR_INVALID_PARAMETER for a null address or a value
// of 2^63 ticks or more, as Windows refuses them.
BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const uint64_t ticks = Ticks(*lpFileTime);
  if (ticks > static_cast<uint64_t>(INT64_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const uint64_t seconds = ticks / kTicksPerSecond;
  const int64_t days = static_cast<int64_t>(seconds / 86400);
  const uint64_t in_day = seconds % 86400;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
  SYSTEMTIME t;
  t.wYear = static_cast<WORD>(year);
  t.wMonth = static_cast<WORD>(month);
  t.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  t.wDay = static_cast<WORD>(day);
  t.wHour = static_cast<WORD>(in_day / 3600);
  t.wMinute = static_cast<WORD>(in_day / 60 % 60);
  t.wSecond = static_cast<WORD>(in_day % 60);
  t.wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
  *lpSystemTime = t;
  return TRUE;
}

}  // extern "C"
