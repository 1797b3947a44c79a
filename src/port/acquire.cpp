// Port acquisition and isolation: qxAcquirePort takes a printer port from
// the spooler by moving every queue on it to "FILE:", qxReleasePort gives
// each moved queue its own port back, qxGetSpoolingStatus tells whether the
// current printer has spooled jobs.
//
// What was moved lives in the isolation record of the state record. The
// record never forgets a queue it has moved until the queue has its port
// back: a failed restore keeps that queue flagged, so that the next release
// (or the process detach) tries again, and an acquisition that cannot move
// every queue on the port gives back the ones it moved before it fails.
#include <windows.h>

#include <cstring>

#include <qxdll.h>

#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"
#include "port/port.h"

using qx::g_state;

namespace qx {

namespace {

constexpr size_t kLine = 128;  // the shared line buffer's size
constexpr char kFilePort[] = "FILE:";

constexpr PortChangeLines kIsolateLines = {
    "\nDLL - qxIsolateNTPort. .. Open Printer passed - Printer = ",
    "\nDLL - qxIsolateNTPort. .. Problem with 1st call to GetPrinter",
    "qxIsolateNTPort",
    "\nDLL - qxIsolateNTPort.. Memory allocation for pinfo 2 structure failed",
    "\nDLL - qxIsolateNTPort. .. Memory allocation for pinfo 2 structure passed",
    "\nDLL - qxIsolateNTPort. .. Second call to Get Printer failed",
    "\nDLL - qxIsolatePort. .. Second call to Get Printer passed",
};

constexpr PortChangeLines kRestoreLines = {
    "\nDLL - qxRestoreNTPort. .. Open Printer passed - Printer = ",
    "\nDLL - qxRestoreNTPort. .. Problem with 1st call to GetPrinter",
    "qxRestoreNTPort",
    "\nDLL - qxRestoreNTPort.. Memory allocation for pinfo 2 structure failed",
    "\nDLL - qxRestoreNTPort. .. Memory allocation for pinfo 2 structure passed",
    "\nDLL - qxRestoreNTPort. .. Second call to Get Printer failed",
    "\nDLL - qxRestoreNTPort. .. Second call to Get Printer passed",
};

bool OnNT() { return g_state.osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT; }

// A printer's name for a debug line.
const char* NameOf(const PRINTER_INFO_2A& printer) {
  return printer.pPrinterName != nullptr ? printer.pPrinterName : "";
}

// Two port names are the same port: byte for byte, both present.
bool SamePort(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// A failure of the port change as a result code: the Windows error of a
// printer that could not be opened becomes QX_ERR_NO_PRINTER.
QXRESULT AsResultCode(QXRESULT code) { return code >= QX_ERR_NO_PRINTER ? code : QX_ERR_NO_PRINTER; }

// Whether the spooler still lists a printer of this name. True when the
// list cannot be read: a printer is given up only when it is known gone.
bool PrinterListed(const char* name) {
  DWORD needed = 0;
  DWORD returned = 0;
  SetLastError(ERROR_SUCCESS);
  if (EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned)) return false;  // no printers
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return true;
  GlobalBlock list;
  if (!list.Allocate(needed) ||
      !EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, list.get(), list.size(), &needed, &returned)) {
    return true;
  }
  const DWORD count =
      returned < list.size() / sizeof(PRINTER_INFO_2A) ? returned : list.size() / sizeof(PRINTER_INFO_2A);
  const auto* printers = list.as<PRINTER_INFO_2A>();
  for (DWORD i = 0; i < count; ++i) {
    if (printers[i].pPrinterName != nullptr && std::strcmp(printers[i].pPrinterName, name) == 0) return true;
  }
  return false;
}

// Gives every flagged queue its port back, clearing the flag of each one that
// has it back, or whose printer is gone (nothing left to give back). Returns
// QX_ERR_OK when no flag is left, else the first failure.
QXRESULT RestoreMoved() {
  Isolation& record = g_state.isolation;
  QXRESULT result = QX_ERR_OK;
  if (record.moved == nullptr) return result;
  for (DWORD i = 0; i < record.count; ++i) {
    if (record.moved[i] == 0) continue;
    const PRINTER_INFO_2A& printer = record.snapshot[i];
    const QXRESULT restored = qxRestoreNTPort(printer);
    DebugLineFormat(kLine, "\nDLL Printer restored = %s", NameOf(printer));
    if (restored == QX_ERR_OK || (restored == ERROR_INVALID_PRINTER_NAME && printer.pPrinterName != nullptr &&
                                  !PrinterListed(printer.pPrinterName))) {
      record.moved[i] = 0;
    } else if (result == QX_ERR_OK) {
      result = AsResultCode(restored);
    }
  }
  return result;
}

void FreeBlock(LPVOID block) {
  if (block != nullptr) GlobalFree(block);
}

}  // namespace

QXRESULT qxIsolateNTPort(const PRINTER_INFO_2A& record) {
  return ChangePrinterPort(record.pPrinterName, kFilePort, kIsolateLines);
}

QXRESULT qxRestoreNTPort(const PRINTER_INFO_2A& record) {
  return ChangePrinterPort(record.pPrinterName, record.pPortName, kRestoreLines);
}

void DropIsolation() {
  Isolation& record = g_state.isolation;
  FreeBlock(record.moved);
  FreeBlock(record.snapshot);
  record = Isolation{};
}

}  // namespace qx

using qx::DebugLine;
using qx::DebugLineFormat;

// The pipe road takes no port: the monitor answers, so the status reads go
// through it. Otherwise every queue on the named printer's port moves to
// "FILE:" (on NT, and never for a USB port), all of them or none.
QXRESULT QXAPI qxAcquirePort(LPCSTR printerName) {
  if (qxLMOpenPipe(g_state.pipeName, g_state.pipeTimeout) == QX_ERR_OK) {
    g_state.lmAvailable = 1;
    qxLMClosePipe();
    BOOL pending = 0;
    if (qxGetSpoolingStatus(&pending) != QX_ERR_OK) {
      g_state.lmAvailable = 0;
      return QX_ERR_FAILED;
    }
    return pending != 0 ? QX_ERR_JOBS_PENDING : QX_ERR_OK;
  }

  g_state.lmAvailable = 0;
  if (printerName == nullptr || printerName[0] == '\0') {
    DebugLine("\nDLL Error - Printer name NULL or length is 0!");
    return QX_ERR_NULL_ARG;
  }
  qx::Isolation& record = g_state.isolation;
  if (record.isolated != 0) {
    DebugLine("\nDLL We did a restore All before an Isolate all");
    // A queue that cannot be given back stays in the record: a fresh snapshot
    // would see it on "FILE:" and lose its own port.
    const QXRESULT released = qxReleasePort();
    if (released != QX_ERR_OK) return released;
  }
  qx::DropIsolation();

  DWORD needed = 0;
  DWORD returned = 0;
  const BOOL first = EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
  if (first) DebugLine("\nDLL - 1st Enum != 0");
  DebugLineFormat(qx::kNameSize, "\nDLL 1st Enum return value = %d", first);
  DebugLineFormat(qx::kNameSize, "\nDLL Amount of memory needed for EnumPrinters = %d", static_cast<int>(needed));
  DebugLineFormat(qx::kNameSize, "\nDLL Length of name = %d", static_cast<int>(std::strlen(printerName)));
  if (needed == 0) {
    DebugLine("\nDLL Amount of memory for EnumPrinters = 0 = ERROR!\n");
    return QX_ERR_PRINTER_INFO;
  }

  qx::GlobalBlock snapshot;
  if (!snapshot.Allocate(needed)) {
    DebugLine("\nAlloc failed");
    return QX_ERR_NO_MEMORY;
  }
  const BOOL second =
      EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, snapshot.get(), snapshot.size(), &needed, &returned);
  if (!second) DebugLine("\nDLL - 2nd Enum == 0");
  DebugLineFormat(qx::kNameSize, "\nDLL 2nd Enum return value = %d", second);
  // The count is held to the records the block can hold.
  DWORD count = second ? returned : 0;
  if (count > snapshot.size() / sizeof(PRINTER_INFO_2A)) count = snapshot.size() / sizeof(PRINTER_INFO_2A);
  DebugLineFormat(qx::kNameSize, "\nDLL Number of printers Enumerated = %d", static_cast<int>(count));

  const auto* printers = snapshot.as<PRINTER_INFO_2A>();
  LONG index = -1;
  for (DWORD i = 0; i < count; ++i) {
    const bool ours = printers[i].pPrinterName != nullptr && std::strcmp(printers[i].pPrinterName, printerName) == 0;
    DebugLine(ours ? "\nDLL Found our printer" : "\nDLL Did not find our printer");
    if (ours && index < 0) index = static_cast<LONG>(i);
  }
  if (index < 0) {
    DebugLine("\nDLL ERROR could not find printer name in enumeration");
    return QX_ERR_NO_PRINTER;
  }
  const char* port = printers[index].pPortName;

  // Any job on the port would be printed meanwhile, whichever queue holds it.
  for (DWORD i = 0; i < count; ++i) {
    if (qx::SamePort(printers[i].pPortName, port) && printers[i].cJobs != 0) {
      DebugLine("\nDLL Printer-port to be moved has spooled job(s)");
      return QX_ERR_JOBS_PENDING;
    }
  }
  if (!qx::OnNT()) {
    DebugLine("\nDLL Non-NT exit QX_ERR_OK");
    return QX_ERR_OK;
  }
  DebugLineFormat(qx::kNameSize, "\nDLL About to test %s for USB", g_state.portName);
  if (qx::Contains(g_state.portName, "USB")) {
    DebugLine("\nDLL Exit ACQUIRE because we are USB");
    return QX_ERR_OK;
  }
  DebugLineFormat(qx::kNameSize, "\nDLL Our Printer Index = %d", static_cast<int>(index));
  DebugLineFormat(qx::kNameSize, "\nDLL The port to be moved = %s", port != nullptr ? port : "");

  qx::GlobalBlock moved;
  if (!moved.Allocate(static_cast<SIZE_T>(count) * sizeof(LONG))) return QX_ERR_NO_MEMORY;
  record.count = count;
  record.snapshot = static_cast<PRINTER_INFO_2A*>(snapshot.Take());
  record.moved = static_cast<LONG*>(moved.Take());

  QXRESULT failure = QX_ERR_OK;
  for (DWORD i = 0; i < count && failure == QX_ERR_OK; ++i) {
    record.moved[i] = 0;
    if (!qx::SamePort(record.snapshot[i].pPortName, port)) continue;
    DebugLineFormat(qx::kNameSize, "\nDLL Printer isolated = %s", qx::NameOf(record.snapshot[i]));
    const QXRESULT isolated = qx::qxIsolateNTPort(record.snapshot[i]);
    // A queue left on the port would be printed to while the library holds
    // it: one that cannot be moved ends the acquisition.
    if (isolated != QX_ERR_OK) {
      failure = qx::AsResultCode(isolated);
      break;
    }
    record.moved[i] = 1;
    record.isolated = 1;
  }
  if (failure != QX_ERR_OK) {
    if (qx::RestoreMoved() == QX_ERR_OK) qx::DropIsolation();
    return failure;
  }
  for (DWORD i = 0; i < count; ++i) {
    DebugLineFormat(qx::kNameSize,
                    record.moved[i] != 0 ? "\nDLL Call to Isolate Printer = %s" : "\nDLL Printer NOT moved = %s",
                    qx::NameOf(record.snapshot[i]));
  }
  if (record.isolated == 0) qx::DropIsolation();
  return QX_ERR_OK;
}

// A release after the pipe road only clears the monitor-available mark;
// queues still moved are given back whatever the mark and the platform say.
QXRESULT QXAPI qxReleasePort(void) {
  DebugLine("************ DLL-DLL-DLL-DLL-DLL-DLL-DLL *************** qxRelease Port\r\n");
  qx::Isolation& record = g_state.isolation;
  if (g_state.lmAvailable != 0) {
    g_state.lmAvailable = 0;
    if (record.isolated == 0) return QX_ERR_OK;
  }
  if (!qx::OnNT() && record.isolated == 0) return QX_ERR_OK;

  const QXRESULT restored = qx::RestoreMoved();
  if (restored != QX_ERR_OK) {
    // What could not be given back stays flagged for the next release.
    record.isolated = 1;
    return restored;
  }
  qx::DropIsolation();
  DebugLine("\nDLL Isolate structures freed");
  return QX_ERR_OK;
}

QXRESULT QXAPI qxGetSpoolingStatus(BOOL* jobsPending) {
  if (jobsPending == nullptr) return QX_ERR_NULL_ARG;
  qx::PrinterHandle printer;
  if (!printer.Open(g_state.printerName, PRINTER_ALL_ACCESS)) return QX_ERR_FAILED;
  qx::GlobalBlock block;
  switch (qx::FetchInto(
      block, [&](BYTE* buffer, DWORD size, DWORD* got) { return GetPrinterA(printer.get(), 2, buffer, size, got); },
      nullptr, true)) {
    case qx::Fetched::kNoSize:
      return QX_ERR_GETPRINTER;
    case qx::Fetched::kNoMemory:
      return QX_ERR_NO_MEMORY;
    case qx::Fetched::kNoFill:
      return QX_ERR_FAILED;
    case qx::Fetched::kAll:
      break;
  }
  *jobsPending = block.as<PRINTER_INFO_2A>()->cJobs != 0 ? 1 : 0;
  return QX_ERR_OK;
}
