// files.cpp - POSIX implementation of the Win32 file calls: CreateFileA,
// ReadFile, WriteFile and FlushFileBuffers as dispatchers over the kinds of
// file handle the layer has.
//
// CreateFileA chooses by path: "\\.\pipe\NAME" goes to the named-pipe area
// (pipes.cpp); DOS device names ("LPT1:", "COM2", "\\.\LPT1") and device
// interface paths ("\\?\usb#...") to the ports area (ports.cpp); a drive path
// "X:\..." to the world's files (world_files.cpp); every other path fails
// with ERROR_FILE_NOT_FOUND. DeviceIoControl, GetCommTimeouts and
// SetCommTimeouts dispatch like the reads and writes.
// ReadFile, WriteFile and FlushFileBuffers check the arguments every kind
// shares, then call the operation of the handle's FileObject (handles.h),
// which each kind implements; any other handle is ERROR_INVALID_HANDLE.
//
// I/O is synchronous only: an OVERLAPPED record, or FILE_FLAG_OVERLAPPED at
// open, is refused with ERROR_INVALID_PARAMETER.
#include <windows.h>
#include <qxplatform.h>

#include "accounting.h"
#include "handles.h"
#include "pipes.h"
#include "ports.h"
#include "world_files.h"

namespace qxplat {
namespace {

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

BOOL FailBool(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// OpenByPath - the object behind a path, by the kind of path.
HANDLE OpenByPath(const char* path, DWORD access, DWORD share, DWORD disposition) {
  if (IsPipePath(path)) return PipeOpen(path, access);
  std::string port, interface_path;
  if (DeviceTarget(path, port, interface_path)) return PortOpen(port, interface_path, access, share);
  if (IsWorldFilePath(path)) return WorldFileOpen(path, access, disposition);
  return Fail(ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// CreateFileA - open a file-like object.
//   lpFileName (in): a pipe path "\\.\pipe\NAME" (see pipes.cpp), or a
//     port or device path (see ports.cpp), or a drive path of the world's
//     files, opened for reading only (see world_files.h); other paths are not
//     served yet and give ERROR_FILE_NOT_FOUND.
//   dwDesiredAccess (in): GENERIC_READ, GENERIC_WRITE or both.
//   dwShareMode (in): for ports and devices, what other handles may do
//     (FILE_SHARE_READ, FILE_SHARE_WRITE); a pipe ignores it.
//   lpSecurityAttributes, hTemplateFile: accepted and ignored.
//   dwCreationDisposition (in): CREATE_NEW to TRUNCATE_EXISTING; a pipe or
//     a device is always opened as it exists, whichever is given.
//   dwFlagsAndAttributes (in): FILE_FLAG_OVERLAPPED is refused; the others
//     are accepted and ignored.
// Returns the handle or INVALID_HANDLE_VALUE: ERROR_PATH_NOT_FOUND for a
// null or empty name, ERROR_INVALID_PARAMETER for a bad disposition or an
// overlapped open, else the error of the area. Fault class "open".
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (FaultPoint(kFaultOpen, "CreateFileA", ERROR_FILE_NOT_FOUND)) return INVALID_HANDLE_VALUE;
  if (lpFileName == nullptr || *lpFileName == '\0') return Fail(ERROR_PATH_NOT_FOUND);
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
      (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  try {
    return OpenByPath(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition);
  } catch (const std::exception&) {  // allocation failure
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

// ReadFile - synchronous read.
//   lpBuffer (out): nNumberOfBytesToRead bytes; may be null only when that is 0.
//   lpNumberOfBytesRead (out): required; set to 0 first, then to the bytes
//     delivered (also when a message pipe reports ERROR_MORE_DATA).
//   lpOverlapped: must be null.
// Errors: ERROR_INVALID_PARAMETER (overlapped record, null count),
// ERROR_NOACCESS (null buffer with a size), ERROR_INVALID_HANDLE (not a file
// handle), else the error of the handle's area.
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (FaultPoint({}, "ReadFile", ERROR_READ_FAULT)) return FALSE;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) return FailBool(ERROR_NOACCESS);
  auto file = LookupHandle<FileObject>(hFile);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  return file->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

// WriteFile - synchronous write; the arguments as for ReadFile. On a message
// pipe one call writes one message.
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (FaultPoint({}, "WriteFile", ERROR_WRITE_FAULT)) return FALSE;
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  if (lpOverlapped != nullptr || lpNumberOfBytesWritten == nullptr) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) return FailBool(ERROR_NOACCESS);
  auto file = LookupHandle<FileObject>(hFile);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  return file->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

// FlushFileBuffers - on a pipe, wait until the other end has read every
// message written so far (so that a server may disconnect without losing
// them); a server instance without a client succeeds at once.
BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  if (FaultPoint({}, "FlushFileBuffers", ERROR_WRITE_FAULT)) return FALSE;
  auto file = LookupHandle<FileObject>(hFile);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  return file->Flush();
}

// DeviceIoControl - one control code on a device handle (ports.cpp says
// which codes a port answers). lpBytesReturned is required (synchronous
// I/O); buffers must be present when their size is not 0. A handle without
// device controls (a pipe) fails with ERROR_INVALID_FUNCTION.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
  if (FaultPoint({}, "DeviceIoControl", ERROR_GEN_FAILURE)) return FALSE;
  if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
  if (lpOverlapped != nullptr || lpBytesReturned == nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  if ((lpInBuffer == nullptr && nInBufferSize != 0) || (lpOutBuffer == nullptr && nOutBufferSize != 0)) {
    return FailBool(ERROR_NOACCESS);
  }
  auto file = LookupHandle<FileObject>(hDevice);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  return file->IoControl(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned);
}

// GetCommTimeouts, SetCommTimeouts - the time-outs of a port handle; any
// other handle, a file or pipe included, fails with ERROR_INVALID_HANDLE. A
// null record is ERROR_INVALID_PARAMETER.
BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (FaultPoint({}, "GetCommTimeouts", ERROR_INVALID_HANDLE)) return FALSE;
  auto file = LookupHandle<FileObject>(hFile);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (lpCommTimeouts == nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  return file->GetCommTimeouts(lpCommTimeouts);
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (FaultPoint({}, "SetCommTimeouts", ERROR_INVALID_HANDLE)) return FALSE;
  auto file = LookupHandle<FileObject>(hFile);
  if (file == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (lpCommTimeouts == nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  return file->SetCommTimeouts(*lpCommTimeouts);
}

}  // extern "C"
