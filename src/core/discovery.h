// Printer discovery: which printers the spooler has, which is the maker's,
// which is the system default, and what port, driver and sheets a printer has.
#pragma once

#include <windows.h>

#include <qxdll.h>

#include "core/state.h"

namespace qx {

// Maker prefix test: the first three characters are "QX " or "qx ", compared
// case-sensitively ("Qx " fails).
bool IsMakerPrinter(const char* name);

// The maker's printer among the local printers: when several pass the prefix
// test, the last one in the spooler's order. The name is cut to fit nameSize.
QXRESULT qxGetQXPrinter(LPSTR name, DWORD nameSize, DWORD* nameLength);

// The identity of a printer: its spooler port name and its driver's file
// path. Each text is cut to fit its buffer (callers pass buffers as small as
// 32 and 64 bytes); a buffer of size 0 or a null buffer is left alone, and a
// null length pointer is skipped. pageSetup is accepted and not used.
//
// Current printer: also copies the current printer name into name.
QXRESULT GetCurrentPrinterIdentity(LPPAGESETUPDLGA pageSetup, LPSTR name, DWORD nameSize,
                                   DWORD* nameLength, LPSTR port, DWORD portSize,
                                   DWORD* portLength, LPSTR driver, DWORD driverSize,
                                   DWORD* driverLength);
// Named printer: the same for the given printer; a null name is a failed open.
QXRESULT GetPrinterIdentity(LPPAGESETUPDLGA pageSetup, LPCSTR printer, LPSTR port,
                            DWORD portSize, DWORD* portLength, LPSTR driver, DWORD driverSize,
                            DWORD* driverLength);

// The current printer's name and port as the driver's capability queries
// take them, from the current-printer identity query (the driver path it also
// gives is not kept). result is the query's result.
struct CurrentPrinterName {
  char name[kNameSize] = {};
  char port[kNameSize] = {};
  QXRESULT result;
  CurrentPrinterName();
};

// Rebuilds the ticket sheet table from entry 0 for a printer and its port.
void BuildSheetTable(LPCSTR printer, LPCSTR port);

}  // namespace qx
