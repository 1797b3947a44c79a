// Orientation and output bins of the current printer.
#include <qxdll.h>

#include <cstring>

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
  const qx::CurrentPrinterName printer;
  const int n = DeviceCapabilitiesA(printer.name, printer.port, DC_BINNAMES, nullptr, nullptr);
  if (*count == QX_COUNT_QUERY) {
    *count = n;
    return QX_ERR_OK;
  }
  if (DeviceCapabilitiesA(printer.name, printer.port, DC_BINS, reinterpret_cast<LPSTR>(codes), nullptr) < 0 ||
      DeviceCapabilitiesA(printer.name, printer.port, DC_BINNAMES, names, nullptr) < 0) {
    return static_cast<QXRESULT>(GetLastError());
  }
  return QX_ERR_OK;
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
  if (count <= 0) return QX_ERR_BIN_NOT_FOUND;

  qx::HeapBlock names(SIZE_T{static_cast<DWORD>(count)} * kBinNameSize);
  qx::HeapBlock codes(SIZE_T{static_cast<DWORD>(count)} * sizeof(WORD));
  if (!names || !codes || qxEnumBins(names.as<char>(), codes.as<WORD>(), &count) != QX_ERR_OK) {
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
