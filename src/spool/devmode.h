// The one routine that changes a printer's stored device mode: paper size,
// orientation or output bin, or a refresh that rewrites it unchanged.
#pragma once

#include <windows.h>

#include <qxdll.h>

namespace qx {

// Actions of SetPrinterCharacteristics.
enum : WORD {
  kActionPaperSize = 1,
  kActionOrientation = 2,
  kActionOutputBin = 3,
  kActionRefresh = 4,
};

// Opens the printer, fetches its PRINTER_INFO_2, changes the one device-mode
// field the action names to value, lets the driver merge it and writes the
// record back. QX_ERR_OK, QX_ERR_NO_PRINTER, QX_ERR_GETPRINTER,
// QX_ERR_NO_MEMORY or QX_ERR_FAILED; nothing is left open on any path.
QXRESULT SetPrinterCharacteristics(LPCSTR printer, SHORT value, WORD action);

// The same for the library's current printer; both arguments narrowed to 16 bits.
QXRESULT SetCurrentPrinterCharacteristics(LONG value, LONG action);

}  // namespace qx
