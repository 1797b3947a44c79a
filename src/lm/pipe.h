// The language-monitor pipe: its name for a port, one waiting open, the open
// with its reload recovery, the probes, and the locks every transaction holds.
#pragma once

#include <windows.h>

#include <qxdll.h>

#include "core/resources.h"
#include "core/state.h"

namespace qx {

// "\\.\pipe\QXNamedPipe" immediately followed by the port name.
inline constexpr char kPipePrefix[] = "\\\\.\\pipe\\QXNamedPipe";

// Forms the pipe name of a port into dest (cut to fit destSize).
void FormPipeName(char* dest, DWORD destSize, const char* port);

// One open of a named pipe into pipe: while the pipe is busy it waits in
// slices of 100 ms, up to timeout / 100 of them, starting the count afresh
// each time an open finds it busy again; then it puts the pipe into message
// read mode. QX_ERR_OK with pipe open, else QX_ERR_PIPE_BUSY or
// QX_ERR_NO_PIPE with pipe empty.
QXRESULT OpenPipeWaiting(const char* pipeName, DWORD timeout, FileHandle* pipe);

// OpenPipeRecovering - the open behind qxLMOpenPipe: one waiting open and,
// when the pipe is missing, the reload recoveries on the current printer
// (a device-mode refresh, then for the maker's printers a blank raw
// document), each followed by another open. pipe receives the handle;
// the library's stored pipe handle is not touched.
QXRESULT OpenPipeRecovering(const char* pipeName, DWORD timeout, FileHandle* pipe);

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

// OpenPipeFor - OpenPipeRecovering with the pipe time-out, on behalf of a
// printer, into a handle of the caller's (each transaction has its own, so
// a host's qxLMOpenPipe handle and other threads are never disturbed).
//   pipeName (in): null for the stored pipe name.
//   printerName (in): null for the current printer; otherwise it stands in
//     for the current printer name during the open (so that a reload
//     recovery acts on it) and the current name is put back afterwards.
// The caller holds the pipe mutex, which guards both names.
QXRESULT OpenPipeFor(const char* pipeName, const char* printerName, FileHandle* pipe);

// How a bounded read of one reply message ended.
enum class ReplyRead {
  kRead,      // a message, or its first part when kMoreData
  kMoreData,  // the message is longer than the buffer; the rest follows
  kFailed,    // the read failed (peer gone, pipe disconnected)
  kTimedOut,  // nothing arrived within the limit
};

// ReadReplyBounded - one read of the reply message that waits at most
//   limit ms (on the system's tick count) for it to arrive. The pipe is
//   polled with PeekNamedPipe and read only once a message is there, so a
//   silent monitor can never hold the caller, and the pipe mutex, for longer.
//   pipe (in), buffer (out), size (in), count (out): as for ReadFile.
ReplyRead ReadReplyBounded(HANDLE pipe, BYTE* buffer, DWORD size, DWORD* count, ULONGLONG limit);

// The pipe name of a named printer's port, from the spooler (the library's
// own pipe name is not touched); false when the printer's identity cannot be
// read.
bool PipeNameOfPrinter(const char* printerName, char (&pipeName)[kPipeNameSize]);

// True when the name fits the current printer record (at most 127 characters).
bool FitsPrinterName(const char* name);

}  // namespace qx
