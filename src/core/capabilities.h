// The lists a printer driver reports through DeviceCapabilitiesA (paper
// names, codes and sizes; bin names and codes), read into blocks of the
// library's own.
#pragma once

#include <windows.h>

#include <qxdll.h>

#include "core/resources.h"

namespace qx {

// DeviceCapabilitiesA takes no buffer size, and the driver's list may grow
// between the query that counts it and the one that fills it (a printer
// removed and added again). A list is therefore filled into a block of room
// for the larger of the counted entries and this many, which no driver list
// reaches.
inline constexpr DWORD kCapabilityListCeiling = 1024;

// One driver list, fetched by a count query and a fill into an owned block.
class CapabilityList {
 public:
  // Fetches the list `capability` (DC_PAPERNAMES, DC_PAPERS, DC_PAPERSIZE,
  // DC_BINNAMES, DC_BINS) of a printer, entrySize bytes an entry.
  // QX_ERR_OK; QX_ERR_FAILED when the driver cannot be asked, the last error
  // left as DeviceCapabilitiesA set it; QX_ERR_NO_MEMORY. On failure the
  // list is empty.
  QXRESULT Fetch(LPCSTR printer, LPCSTR port, WORD capability, DWORD entrySize);

  // Entries usable: those the fill reported, never more than the block holds.
  DWORD count() const { return count_; }
  const BYTE* entry(DWORD index) const { return block_.get() + SIZE_T{index} * entrySize_; }
  template <class T>
  const T* as() const { return block_.as<T>(); }

 private:
  HeapBlock block_;
  DWORD count_ = 0;
  DWORD entrySize_ = 0;
};

// The last error of a failed list fetch as a list export's result: the
// Windows error code, or QX_ERR_FAILED when the driver left none.
QXRESULT LastDriverError();

// Hands two parallel driver lists to a list export's caller: names
// (nameSize bytes an entry) and 16-bit codes, as many entries as both lists
// hold. *count is the capacity of the caller's buffers (0 or more; a null
// buffer receives nothing); at most that many entries are written. QX_ERR_OK
// with *count the number written, or QX_ERR_BUFFER_SMALL with *count the
// number needed.
QXRESULT CopyListsOut(const CapabilityList& names, DWORD nameSize, const CapabilityList& codes,
                      LPSTR nameOut, WORD* codeOut, LONG* count);

}  // namespace qx
