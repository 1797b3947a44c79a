// Port reassignment: a printer's spooler port changed through the spooler.
// qxSetNTPort and qxSetNTPortAscii change the current printer's port for
// good; the port acquisition moves queues to "FILE:" and back with the same
// routine.
#include <windows.h>

#include <qxdll.h>

#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "port/port.h"

using qx::g_state;

namespace qx {

namespace {
constexpr size_t kLine = 128;
}

QXRESULT ChangePrinterPort(LPCSTR printerName, LPCSTR port, const PortChangeLines& lines) {
  if (port == nullptr) return ERROR_INVALID_PARAMETER;
  PrinterHandle printer;
  if (!printer.Open(printerName, PRINTER_ALL_ACCESS)) {
    return static_cast<QXRESULT>(printerName == nullptr ? ERROR_INVALID_PARAMETER : GetLastError());
  }
  DebugLine(lines.opened);
  DebugLineFormat(kLine, "%s", printerName);

  GlobalBlock block;
  DWORD needed = 0;
  const Fetched fetched = FetchInto(
      block, [&](BYTE* buffer, DWORD size, DWORD* got) { return GetPrinterA(printer.get(), 2, buffer, size, got); },
      &needed, true);
  if (fetched == Fetched::kNoSize) {
    DebugLine(lines.noSize);
    return QX_ERR_GETPRINTER;
  }
  DebugLineFormat(kLine, "\nDLL - %s... Get printer needs %d bytes for PRINTER_INFO_2", lines.routine,
                  static_cast<int>(needed));
  if (fetched == Fetched::kNoMemory) {
    DebugLine(lines.allocFailed);
    return QX_ERR_NO_MEMORY;
  }
  DebugLine(lines.allocPassed);
  if (fetched == Fetched::kNoFill) {
    DebugLine(lines.fetchFailed);
    return QX_ERR_FAILED;
  }
  DebugLine(lines.fetchPassed);

  auto& info = *block.as<PRINTER_INFO_2A>();
  info.pPortName = const_cast<LPSTR>(port);
  info.pSecurityDescriptor = nullptr;  // the printer's security stays as it is
  return SetPrinterA(printer.get(), 2, block.get(), 0) ? QX_ERR_OK : QX_ERR_SETPRINTER;
}

}  // namespace qx

namespace {

// Both exports log these texts, the first one with its old spelling.
constexpr qx::PortChangeLines kSetPortLines = {
    "\nDLL - qxSeTPort. .. Open Printer passed - Printer = ",
    "\nDLL - qxSetNTPort. .. Problem with 1st call to GetPrinter",
    "qxSetNTPort",
    "\nDLL - qxSetNTPort.. Memory allocation for pinfo 2 structure failed",
    "\nDLL - qxSetNTPort. .. Memory allocation for pinfo 2 structure passed",
    "\nDLL - qxSetNTPort. .. Second call to Get Printer failed",
    "\nDLL - qxSetNTPort. .. Second call to Get Printer passed",
};

}  // namespace

// The change is the spooler's and outlives the process. The library's record
// of the current port is left as it is, so a port taken later is still the
// one recorded at attach.
QXRESULT QXAPI qxSetNTPort(DWORD portNumber) {
  if (g_state.lmAvailable != 0) return QX_ERR_OK;
  const char* port = "LPT1:";
  switch (portNumber & 0xFF) {
    case 2: port = "LPT2:"; break;
    case 3: port = "LPT3:"; break;
    default: break;
  }
  return qx::ChangePrinterPort(g_state.printerName, port, kSetPortLines);
}

// Also while the language monitor answers; qxReleasePort does not undo it.
QXRESULT QXAPI qxSetNTPortAscii(LPCSTR portName) {
  if (portName == nullptr) return QX_ERR_NULL_ARG;
  return qx::ChangePrinterPort(g_state.printerName, portName, kSetPortLines);
}
