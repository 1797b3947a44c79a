// Small exported utilities: version texts, the OS version, and the memory and
// text services that scripting hosts without pointers of their own need.
#include <qxdll.h>

#include <cstring>

#include "core/log.h"
#include "core/state.h"

using qx::g_state;

extern "C" {

LPVOID QXAPI qxCopyData(LPCVOID source, LPVOID destination, DWORD count) {
  if (source != nullptr && destination != nullptr && count != 0) {
    std::memcpy(destination, source, count);
  }
  return destination;
}

DWORD QXAPI qxGetAddressForObject(ULONG_PTR value) {
  // A scripting host passes a variable by reference and so learns its address.
  return static_cast<DWORD>(value);
}

BOOL QXAPI qxGetDLLVersion(LPSTR buffer, DWORD size, LPDWORD length) {
  if (buffer == nullptr || size <= qx::kVersionTextLength) return 0;
  std::memcpy(buffer, qx::kVersionText, sizeof qx::kVersionText);
  if (length != nullptr) *length = qx::kVersionTextLength;
  return 1;
}

QXRESULT QXAPI qxGetOSVersion(LPOSVERSIONINFOA record, LPCSTR* versionText) {
  qx::LogLevel(1, "QXDLL - qxGetOSVersion");
  g_state.osVersion.dwOSVersionInfoSize = qx::kOsVersionRecordSize;
  if (record != nullptr) {
    if (!GetVersionExA(&g_state.osVersion)) return QX_ERR_FAILED;
    // At attach the library passes its own record, so source and destination
    // may be the same.
    if (record != &g_state.osVersion) {
      std::memcpy(record, &g_state.osVersion, qx::kOsVersionRecordSize);
    }
  }
  if (versionText != nullptr) *versionText = qx::kVersionText;
  if (g_state.osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT) g_state.isNT = 1;
  return QX_ERR_OK;
}

BSTR QXAPI qxGetStringFromLPSTR(LPCSTR text) {
  if (text == nullptr) {
    static const OLECHAR kEmpty[1] = {0};
    return SysAllocString(kEmpty);
  }
  // The text's 8-bit bytes as they stand, not widened, so that a scripting
  // host receives the text unchanged.
  return SysAllocStringByteLen(text, static_cast<UINT>(lstrlenA(text)));
}

BOOL QXAPI qxIsNT(void) { return g_state.isNT; }

QXRESULT QXAPI qxMakeUpperCase(LPSTR destination, LPCSTR source) {
  if (source == nullptr || source[0] == '\0') return QX_ERR_BAD_LENGTH;
  if (destination == nullptr) return QX_ERR_BAD_DATA;
  // Only the ASCII letters change: bytes of other code-page letters stay.
  size_t i = 0;
  for (;; ++i) {
    const char c = source[i];
    destination[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (c == '\0') break;
  }
  return QX_ERR_OK;
}

LONG QXAPI qxSetVB(LONG value) {
  g_state.scriptingHost = value;
  return 0;
}

}  // extern "C"
