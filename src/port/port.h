// The direct port road inside the library: moving a printer's queue between
// ports, the isolation record's teardown, the USB device opener and the model
// read. The exports of this road are declared in qxdll.h.
#pragma once

#include <windows.h>

#include <qxdll.h>

namespace qx {

// The progress lines of one kind of port change, in the order they may come.
struct PortChangeLines {
  const char* opened;   // the printer opened (its name follows as a line of its own)
  const char* noSize;   // the size query failed or gave 0
  const char* routine;  // named in the line of the size needed
  const char* allocFailed;
  const char* allocPassed;
  const char* fetchFailed;
  const char* fetchPassed;
};

// ChangePrinterPort - gives a printer another spooler port: opens it with
//   full access, fetches its PRINTER_INFO_2, replaces pPortName and writes the
//   record back (its security descriptor left alone).
// Returns QX_ERR_OK; QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY, QX_ERR_FAILED or
// QX_ERR_SETPRINTER; or the Windows error code when the printer cannot be
// opened (ERROR_INVALID_PARAMETER for a null name or port).
QXRESULT ChangePrinterPort(LPCSTR printerName, LPCSTR port, const PortChangeLines& lines);

// qxIsolateNTPort - sets the port of the printer of one snapshot record to
//   "FILE:" through the spooler.
// qxRestoreNTPort - sets it back to the port the record holds.
// Return QX_ERR_OK; QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY, QX_ERR_FAILED or
// QX_ERR_SETPRINTER; or the Windows error code when the printer cannot be
// opened. The printer handle and the record fetched are released on every path.
QXRESULT qxIsolateNTPort(const PRINTER_INFO_2A& record);
QXRESULT qxRestoreNTPort(const PRINTER_INFO_2A& record);

// DropIsolation - frees what the isolation record holds and empties it,
//   whether or not its queues were given back. For the process detach, after
//   the release has had its chance.
void DropIsolation();

// OpenUsbDevice - opens the USB printer interface whose "PortName" value
//   equals portName (ignoring case), with read and write access and sharing.
// Returns the device handle, or INVALID_HANDLE_VALUE when SetupAPI cannot be
// loaded, no interface matches, or the open fails. Everything it loaded,
// enumerated or opened on the way is released before it returns.
HANDLE OpenUsbDevice(LPCSTR portName);

// The identity query's spooler port name: up to 31 characters and a zero.
inline constexpr DWORD kSpoolerPortSize = 32;

// CurrentSpoolerPort - the current printer's spooler port name from the
//   identity query; empty when the query fails.
void CurrentSpoolerPort(char (&port)[kSpoolerPortSize]);

// PrinterPortPath - the port the printer itself sits on: the library's
//   current port name while the queue has been moved to "FILE:", else the
//   spooler port name.
LPCSTR PrinterPortPath(LPCSTR spoolerPort);

// True when a port of this name is opened with the USB device opener: a USB
// port name on Windows 2000 or later (major version 5 and up).
bool UsesUsbOpener(LPCSTR spoolerPort);

// The parallel-port queries of DeviceIoControl.
inline constexpr DWORD kIoctlParQueryInformation = 0x00160004;  // one status byte
inline constexpr DWORD kIoctlParQueryDeviceId = 0x0016000C;     // the IEEE 1284 device ID
inline constexpr BYTE kParallelBusy = 0x40;                     // bit of the status byte

// qxGetModel - the model name of the attached printer, from the IEEE 1284
//   device ID its port reports: the value of "MDL:", else of "MODEL:".
//   model (out), modelSize (in): receives at most modelSize - 1 characters
//     and a zero; written only when a model name is found.
//   logEnable (in): the progress lines go to the debugger only when nonzero.
// Returns 1 when a model name was stored, else 0. Meant to run while
// qxAcquirePort holds the port: a moved queue's port is read through the
// library's current port name.
BOOL qxGetModel(LPSTR model, DWORD modelSize, ULONGLONG logEnable);

// ReadDeviceId - the IEEE 1284 device ID the current printer's port reports
//   (IOCTL_PAR_QUERY_DEVICE_ID, at most 1024 bytes; two leading length bytes
//   are dropped). The port is the one qxGetModel reads, with its lines.
//   deviceId (out), size (in, at least 2): the ID text, cut to fit, terminated.
// Returns true when the ID was read.
bool ReadDeviceId(LPSTR deviceId, DWORD size, ULONGLONG logEnable);

// ModelFromDeviceId - the model name carried by a device ID text: the value
//   after the first "MDL:", or after the first "MODEL:" when there is no
//   "MDL:", up to the next ";" or the text's end. False (model untouched)
//   when neither key is present. model receives at most modelSize - 1
//   characters and a zero.
bool ModelFromDeviceId(const char* deviceId, LPSTR model, DWORD modelSize);

}  // namespace qx
