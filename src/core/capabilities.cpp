// Driver lists read into blocks of the library's own.
#include "core/capabilities.h"

#include <cstring>

namespace qx {

QXRESULT CapabilityList::Fetch(LPCSTR printer, LPCSTR port, WORD capability, DWORD entrySize) {
  block_.Free();
  count_ = 0;
  entrySize_ = entrySize;
  const int counted = DeviceCapabilitiesA(printer, port, capability, nullptr, nullptr);
  if (counted < 0) return QX_ERR_FAILED;
  const DWORD room = static_cast<DWORD>(counted) > kCapabilityListCeiling ? static_cast<DWORD>(counted)
                                                                           : kCapabilityListCeiling;
  if (!block_.Allocate(SIZE_T{room} * entrySize)) return QX_ERR_NO_MEMORY;
  const int filled = DeviceCapabilitiesA(printer, port, capability, reinterpret_cast<LPSTR>(block_.get()), nullptr);
  if (filled < 0) {
    const DWORD error = GetLastError();
    block_.Free();
    SetLastError(error);
    return QX_ERR_FAILED;
  }
  count_ = static_cast<DWORD>(filled) < room ? static_cast<DWORD>(filled) : room;
  return QX_ERR_OK;
}

QXRESULT LastDriverError() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? static_cast<QXRESULT>(error) : QX_ERR_FAILED;
}

QXRESULT CopyListsOut(const CapabilityList& names, DWORD nameSize, const CapabilityList& codes,
                      LPSTR nameOut, WORD* codeOut, LONG* count) {
  const DWORD available = names.count() < codes.count() ? names.count() : codes.count();
  const auto capacity = static_cast<DWORD>(*count);
  const DWORD copied = available < capacity ? available : capacity;
  if (copied != 0) {
    if (nameOut != nullptr) std::memcpy(nameOut, names.entry(0), SIZE_T{copied} * nameSize);
    if (codeOut != nullptr) std::memcpy(codeOut, codes.entry(0), SIZE_T{copied} * sizeof(WORD));
  }
  if (available > capacity) {
    *count = static_cast<LONG>(available);
    return QX_ERR_BUFFER_SMALL;
  }
  *count = static_cast<LONG>(copied);
  return QX_ERR_OK;
}

}  // namespace qx
