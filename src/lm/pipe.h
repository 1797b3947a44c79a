// The language-monitor pipe: its name for a port, one waiting open, and the
// close every transaction ends with.
#pragma once

#include <windows.h>

#include <qxdll.h>

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

}  // namespace qx
