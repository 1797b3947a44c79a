// os_version.cpp - POSIX implementation of the Win32 OS version record:
// GetVersionExA, answered from the simulated world's system record, and the
// qxplat_ calls with which a test sets or resets the version itself.
// Version resources of files are another area.
#include <windows.h>
#include <qxplatform.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "accounting.h"
#include "simlink.h"

namespace qxplat {
namespace {

struct VersionState {
  std::mutex lock;
  OSVERSIONINFOEXA info;
  bool overridden = false;  // set by qxplat_set_os_version: the world is not asked
};

OSVERSIONINFOEXA DefaultVersion() {
  OSVERSIONINFOEXA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  v.dwMajorVersion = 10;
  v.dwMinorVersion = 0;
  v.dwBuildNumber = 19045;
  v.dwPlatformId = VER_PLATFORM_WIN32_NT;
  v.wSuiteMask = VER_SUITE_SINGLEUSERTS;
  v.wProductType = VER_NT_WORKSTATION;
  return v;
}

VersionState& TheVersion() {
  static VersionState* state = [] {
    auto* s = new VersionState;
    s->info = DefaultVersion();
    return s;
  }();
  return *state;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// GetVersionExA - fill an OSVERSIONINFOA (dwOSVersionInfoSize 148) or
// OSVERSIONINFOEXA (156) with the simulated system's version: the reachable
// world's record, unless a test set one (qxplatform.h). Any other size:
// FALSE with ERROR_INSUFFICIENT_BUFFER, as Windows answers.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (FaultPoint({}, "GetVersionExA", ERROR_INVALID_PARAMETER)) return FALSE;

  VersionState& v = TheVersion();
  OSVERSIONINFOEXA out;
  bool overridden;
  {
    std::lock_guard<std::mutex> guard(v.lock);
    out = v.info;
    overridden = v.overridden;
  }
  // A reachable world's own version record, unless a test has set one.
  SimSystem world;
  if (!overridden && SimSystemInfo(world)) {
    out.dwMajorVersion = world.major;
    out.dwMinorVersion = world.minor;
    out.dwBuildNumber = world.build;
    out.dwPlatformId = world.platform_id;
    std::memset(out.szCSDVersion, 0, sizeof out.szCSDVersion);
    std::memcpy(out.szCSDVersion, world.csd.data(),
                std::min(world.csd.size(), sizeof out.szCSDVersion - 1));
  }
  // The two records share their first 148 bytes; copy what the caller has room for.
  out.dwOSVersionInfoSize = size;
  std::memcpy(lpVersionInformation, &out, size);
  return TRUE;
}

void qxplat_set_os_version(uint32_t major, uint32_t minor, uint32_t build, uint32_t platform_id,
                           const char* csd) {
  VersionState& v = TheVersion();
  std::lock_guard<std::mutex> guard(v.lock);
  v.info.dwMajorVersion = major;
  v.info.dwMinorVersion = minor;
  v.info.dwBuildNumber = build;
  v.info.dwPlatformId = platform_id;
  v.overridden = true;
  std::memset(v.info.szCSDVersion, 0, sizeof v.info.szCSDVersion);
  if (csd != nullptr) {
    std::strncpy(v.info.szCSDVersion, csd, sizeof v.info.szCSDVersion - 1);
  }
}

void qxplat_reset_os_version(void) {
  VersionState& v = TheVersion();
  std::lock_guard<std::mutex> guard(v.lock);
  v.info = DefaultVersion();
  v.overridden = false;
}

}  // extern "C"
