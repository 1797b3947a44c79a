// The language-monitor pipe: its name for a port, one waiting open, the open
// with its reload recovery, the probes, and the locks every transaction holds.
#pragma once

#include <windows.h>

#include <qxdll.h>

#include "core/state.h"

namespace qx {

// "\\.\pipe\QXNamedPipe" immediately followed by the port name.
inline constexpr char kPipePrefix[] = "\\\\.\\pipe\\QXNamedPipe";

// Forms the pipe name of a port into dest (cut to fit destSize).
void FormPipeName(char* dest, DWORD destSize, const char* port);

// One open of a named pipe into the library's pipe handle: while the pipe is
// busy it waits in slices of 100 ms, up to timeout / 100 of them, starting
// the count afresh each time an open finds it busy again; then it puts the
// pipe into message read mode. QX_ERR_OK with the handle open, else
// QX_ERR_PIPE_BUSY or QX_ERR_NO_PIPE with nothing left open.
QXRESULT OpenPipeWaiting(const char* pipeName, DWORD timeout);

// The document name of the blank raw document that provokes a monitor
// reload, and by which its jobs are deleted again.
inline constexpr char kBlankDocName[] = "QX Printer DLL - QuixaroSystemsInc...(5158494e43)";

// ProbePipe - whether the pipe answers (opens, or is busy) for a printer.
//   pipeName (in), printerName (in): the printer stands in for the current
//     printer during the open, so that a reload recovery acts on it; the
//     current printer name is put back afterwards. Names of 128 characters or
//     more do not fit the current printer record and are refused.
// Returns 1 or 0. Holds the pipe mutex for the open and the close.
BOOL ProbePipe(const char* pipeName, const char* printerName);

// Closes the library's pipe handle when it goes. Made after the MutexHold
// of a transaction, so that the pipe is closed before the mutex is released.
class PipeCloser {
 public:
  PipeCloser() = default;
  ~PipeCloser();
  PipeCloser(const PipeCloser&) = delete;
  PipeCloser& operator=(const PipeCloser&) = delete;
};

// OpenPipeFor - qxLMOpenPipe with the pipe time-out, on behalf of a printer.
//   pipeName (in): null for the stored pipe name.
//   printerName (in): null for the current printer; otherwise it stands in
//     for the current printer name during the open (so that a reload
//     recovery acts on it) and the current name is put back afterwards.
// The caller holds the pipe mutex, which guards both names.
QXRESULT OpenPipeFor(const char* pipeName, const char* printerName);

// The pipe name of a named printer's port, from the spooler (the library's
// own pipe name is not touched); false when the printer's identity cannot be
// read.
bool PipeNameOfPrinter(const char* printerName, char (&pipeName)[kPipeNameSize]);

// True when the name fits the current printer record (at most 127 characters).
bool FitsPrinterName(const char* name);

}  // namespace qx
