// Orientation and output bins of the current printer.
#include <qxdll.h>

#include <cstring>

#include "core/capabilities.h"
#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "spool/devmode.h"

namespace {

constexpr size_t kLine = 128;
constexpr DWORD kBinNameSize = 24;  // a DC_BINNAMES entry; a full one has no terminator

// A bin name entry equals the request when its (at most 24) characters and
// the request's are the same and the request ends there too.
bool BinNameIs(const char* entry, const char* name) {
  DWORD i = 0;
  for (; i < kBinNameSize && entry[i] != '\0'; ++i) {
    if (entry[i] != name[i]) return false;
  }
  return name[i] == '\0';
}

}  // namespace

extern "C" {

QXRESULT QXAPI qxSetOrientation(SHORT orientation) {
  qx::DebugLineFormat(kLine, "\nDLL - qxSetOrientation .. ID = %d", orientation);
  return qx::SetCurrentPrinterCharacteristics(orientation, qx::kActionOrientation);
}

QXRESULT QXAPI qxSetBinByBinID(SHORT binId) {
  return qx::SetCurrentPrinterCharacteristics(binId, qx::kActionOutputBin);
}

QXRESULT QXAPI qxEnumBins(LPSTR names, WORD* codes, LONG* count) {
  if (count == nullptr) return QX_ERR_NULL_ARG;
  if (*count < QX_COUNT_QUERY) return QX_ERR_BAD_ARG;
  const qx::CurrentPrinterName printer;
  if (*count == QX_COUNT_QUERY) {
    *count = DeviceCapabilitiesA(printer.name, printer.port, DC_BINNAMES, nullptr, nullptr);
    return QX_ERR_OK;
  }
  qx::CapabilityList binCodes, binNames;
  QXRESULT result = binCodes.Fetch(printer.name, printer.port, DC_BINS, sizeof(WORD));
  if (result == QX_ERR_OK) result = binNames.Fetch(printer.name, printer.port, DC_BINNAMES, kBinNameSize);
  if (result == QX_ERR_FAILED) return qx::LastDriverError();
  if (result != QX_ERR_OK) return result;
  return qx::CopyListsOut(binNames, kBinNameSize, binCodes, names, codes, count);
}

QXRESULT QXAPI qxSetBinByBinName(LPCSTR binName) {
  if (binName == nullptr) return QX_ERR_BIN_NOT_FOUND;
  qx::DebugLineFormat(kLine, "\nDLL - qxSetBinByBinName, name = %s", binName);
  LONG count = QX_COUNT_QUERY;
  if (qxEnumBins(nullptr, nullptr, &count) != QX_ERR_OK) {
    qx::DebugLine("\nDLL - Enumerate Bins 1st call FAILED");
    return QX_ERR_DEVICE;
  }
  qx::DebugLineFormat(kLine, "\nDLL - Enumerate Bins 1st Call passed, Number of bins = %d", static_cast<int>(count));
  if (count < 0) return QX_ERR_BIN_NOT_FOUND;

  // An empty list is filled too, into no buffers. A list that grew since it
  // was counted does not fit the blocks: the fill fails.
  qx::HeapBlock names, codes;
  const bool allocated = count == 0 || (names.Allocate(SIZE_T{static_cast<DWORD>(count)} * kBinNameSize) &&
                                        codes.Allocate(SIZE_T{static_cast<DWORD>(count)} * sizeof(WORD)));
  if (!allocated || qxEnumBins(names.as<char>(), codes.as<WORD>(), &count) != QX_ERR_OK) {
    qx::DebugLine("\nDLL - Enumerate Bins 2nd call FAILED");
    return QX_ERR_DEVICE;
  }
  qx::DebugLine("\nDLL - Enumerate Bins 2nd call passed");

  int found = -1;
  for (SHORT i = 0; i < count; ++i) {
    const char* entry = names.as<char>() + SIZE_T{static_cast<WORD>(i)} * kBinNameSize;
    char shown[kBinNameSize + 1];
    std::memcpy(shown, entry, kBinNameSize);
    shown[kBinNameSize] = '\0';
    qx::DebugLineFormat(kLine, "\nDLL - Bin ID = %d, Bin Name = %s", codes.as<WORD>()[i], shown);
    if (BinNameIs(entry, binName)) {
      qx::DebugLine("\nDLL - Found Bin");
      found = i;  // the scan goes on: the last bin of that name wins
    }
  }
  if (found < 0) return QX_ERR_BIN_NOT_FOUND;
  // The change's own result shows only in its debug lines.
  qxSetBinByBinID(static_cast<SHORT>(codes.as<WORD>()[found]));
  return QX_ERR_OK;
}

}  // extern "C"
