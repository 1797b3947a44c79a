// The library's one process-wide state record, and the fixed texts and sizes
// that belong with it. Every export reads this record; the load-time attach
// fills it and the process detach tears it down.
#pragma once

#include <windows.h>

namespace qx {

// The library's version text, returned by qxGetDLLVersion and qxGetOSVersion.
inline constexpr char kVersionText[] = "2.0.0.9 (10/23/2018)";
inline constexpr DWORD kVersionTextLength = sizeof(kVersionText) - 1;

inline constexpr DWORD kNameSize = 128;      // printer, port and driver texts
inline constexpr DWORD kPipeNameSize = 256;  // pipe name text
inline constexpr DWORD kDefaultTimeout = 20000;  // pipe and status time-outs, ms
inline constexpr DWORD kOsVersionRecordSize = sizeof(OSVERSIONINFOA);
static_assert(kOsVersionRecordSize == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(PAGESETUPDLGA) == 128, "PAGESETUPDLGA is 128 bytes on Win64");

// One sheet the driver offers that suits ticket printing.
struct TicketSheet {
  char name[32];             // at most 31 characters and a zero
  DWORD paperCode;           // the driver's 16-bit paper code
  float lengthInches;
  float widthInches;
  LONG lengthTenthsMm;
  LONG widthTenthsMm;
};

inline constexpr int kMaxTicketSheets = 100;

struct TicketSheetTable {
  WORD count;
  TicketSheet sheets[kMaxTicketSheets];
};

// What the latest SetPrinterCharacteristics call read of the printer's
// spooler status. statusRead is 0 until a call got as far as reading it;
// status means nothing while it is 0.
struct LastStatus {
  DWORD status;
  LONG statusRead;
};

// The one raw document of the process: an open printer with a started
// document and page (null when none), and the spooler's job id of it.
struct BypassDocument {
  HANDLE printer;
  DWORD job;
};

// The queues moved to "FILE:" while the library holds a printer port. The
// snapshot is the spooler's local printers as they were when the port was
// taken (each record's port is the one to give back); moved flags which of
// them are on "FILE:" now. Both are GlobalAlloc blocks owned by this record.
// Empty: no blocks, count 0, isolated 0.
struct Isolation {
  PRINTER_INFO_2A* snapshot;
  DWORD count;      // records in the snapshot
  LONG* moved;      // one flag per record: 1 while that queue is on "FILE:"
  LONG isolated;    // 1 while a moved queue has not been given back
};

struct LibraryState {
  // The current printer: name, its spooler port and its driver.
  char printerName[kNameSize];
  char portName[kNameSize];
  char driverName[kNameSize];

  // The language-monitor pipe of the current port.
  char pipeName[kPipeNameSize];
  HANDLE pipeHandle;
  DWORD pipeTimeout;    // ms
  DWORD statusTimeout;  // its low 16 bits travel in status requests
  LONG lmAvailable;     // 1 when the monitor's pipe opened at the last probe

  // Held around every pipe transaction, and around the printer-switch exports.
  HANDLE pipeMutex;
  HANDLE switchMutex;

  OSVERSIONINFOA osVersion;
  LONG isNT;  // set once the platform id reads as NT; nothing clears it

  PAGESETUPDLGA pageSetup;
  TicketSheetTable sheets;

  LONG scriptingHost;  // stored by qxSetVB, read by nothing

  Isolation isolation;     // queues moved by the port acquisition
  LastStatus lastStatus;   // written by the device-mode change, read by the pipe recovery
  BypassDocument bypass;   // the raw document being spooled

  char lineBuffer[kNameSize];  // scratch line for port-isolation debug lines
};

// The record itself. Zero before attach, as a static of the module.
extern LibraryState g_state;

}  // namespace qx
