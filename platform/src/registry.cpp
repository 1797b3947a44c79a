// registry.cpp - POSIX platform layer, Win32 side: RegQueryValueExA and
// RegCloseKey on the keys other areas hand out (registry.h). There is no
// registry tree: a key is made with its values by the area that opens it.
//
// As on Windows, registry calls return their error and leave the last error
// alone (their fault points, like every fault point, set it).
#include "registry.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "accounting.h"
#include "handles.h"

namespace qxplat {
namespace {

class KeyObject final : public Object {
 public:
  explicit KeyObject(std::vector<RegistryValue> values) : Object(QXPLAT_KIND_REGKEY), values_(std::move(values)) {}
  bool ClosableByCloseHandle() const override { return false; }

  const RegistryValue* Find(const char* name) const {
    for (const RegistryValue& v : values_) {
      if (v.name.size() == std::strlen(name) &&
          std::equal(v.name.begin(), v.name.end(), name, [](char a, char b) { return Fold(a) == Fold(b); })) {
        return &v;
      }
    }
    return nullptr;
  }

 private:
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
  std::vector<RegistryValue> values_;
};

}  // namespace

HKEY NewRegistryKey(std::vector<RegistryValue> values) {
  return static_cast<HKEY>(InsertHandle(std::make_shared<KeyObject>(std::move(values))));
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// RegQueryValueExA - one value of an open key.
//   lpValueName (in): its name, matched without regard to case; null or ""
//     is the key's default value (these keys have none).
//   lpReserved: must be null.
//   lpType (out, optional): REG_SZ, REG_DWORD, ...
//   lpData (out, optional): the value's bytes; a REG_SZ is given as stored,
//     which may lack its terminating zero.
//   lpcbData (in/out): the buffer's size in, the value's size out; may be
//     null only when lpData is.
// Returns ERROR_SUCCESS; ERROR_MORE_DATA (234) when the buffer is too small
// (*lpcbData says how much is needed, the buffer is left alone);
// ERROR_FILE_NOT_FOUND for no such value; ERROR_INVALID_HANDLE for what is
// not an open key; ERROR_INVALID_PARAMETER for a reserved argument or a
// buffer without its size.
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  if (FaultPoint({}, "RegQueryValueExA", ERROR_FILE_NOT_FOUND)) return static_cast<LSTATUS>(GetLastError());
  const auto key = LookupHandle<KeyObject>(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  const RegistryValue* value = key->Find(lpValueName != nullptr ? lpValueName : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (lpType != nullptr) *lpType = value->type;
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(value->bytes.size());
  if (lpData != nullptr && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData != nullptr) std::memcpy(lpData, value->bytes.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

// RegCloseKey - close a key: ERROR_SUCCESS, or ERROR_INVALID_HANDLE for
// what is not an open key.
LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (FaultPoint({}, "RegCloseKey", ERROR_INVALID_HANDLE)) return static_cast<LSTATUS>(GetLastError());
  const auto key = RemoveHandle<KeyObject>(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  key->OnClose();
  return ERROR_SUCCESS;
}

}  // extern "C"
