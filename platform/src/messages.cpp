// messages.cpp - POSIX implementation of the Win32 system message texts:
// FormatMessageA over the system's English texts for the error codes the
// layer reports. Modules have no message tables here, and caller strings are
// not formatted.
#include <windows.h>

#include <cstring>
#include <string>

#include "accounting.h"

namespace qxplat {
namespace {

struct Message {
  DWORD code;
  const char* text;
};

// The system's English texts for the codes the layer reports.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_BROKEN_PIPE, "The pipe has been ended.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_INVALID_LEVEL, "The system call level is not correct.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_NOT_LOCKED, "The segment is already unlocked.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_BAD_PIPE, "The pipe state is invalid.\r\n"},
    {ERROR_PIPE_BUSY, "All pipe instances are busy.\r\n"},
    {ERROR_NO_DATA, "The pipe is being closed.\r\n"},
    {ERROR_PIPE_NOT_CONNECTED, "No process is on the other end of the pipe.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {ERROR_PIPE_CONNECTED, "There is a process on other end of the pipe.\r\n"},
    {ERROR_PIPE_LISTENING, "Waiting for a process to open the other end of the pipe.\r\n"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request.\r\n"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.\r\n"},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_INVALID_FLAGS, "Invalid flags.\r\n"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
    {ERROR_NOT_FOUND, "Element not found.\r\n"},
    {ERROR_CANCELLED, "The operation was canceled by the user.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable.\r\n"},
    {ERROR_UNKNOWN_PORT, "The specified port is unknown.\r\n"},
    {ERROR_UNKNOWN_PRINTER_DRIVER, "The printer driver is unknown.\r\n"},
    {ERROR_INVALID_PRINTER_NAME, "The printer name is invalid.\r\n"},
    {ERROR_PRINTER_ALREADY_EXISTS, "The printer already exists.\r\n"},
    {ERROR_INVALID_PRINTER_COMMAND, "The printer command is invalid.\r\n"},
    {ERROR_INVALID_DATATYPE, "The specified datatype is invalid.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
    {ERROR_INVALID_PRINTER_STATE, "The state of the printer is invalid.\r\n"},
    {ERROR_PRINTER_NOT_FOUND, "No printers were found.\r\n"},
};

const char* FindMessage(DWORD code) {
  for (const Message& m : kMessages) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

bool KnownLanguage(DWORD lang) {
  return lang == 0 || lang == LANG_USER_DEFAULT || lang == LANG_SYSTEM_DEFAULT ||
         lang == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// FormatMessageA - the system's message text for an error code.
//   dwFlags: FORMAT_MESSAGE_FROM_SYSTEM is required (the layer has no message
//     tables of modules and formats no caller strings); ALLOCATE_BUFFER makes
//     lpBuffer an LPSTR* that receives a LocalAlloc block (at least nSize
//     bytes) the caller frees with LocalFree; without it lpBuffer holds nSize
//     bytes. A nonzero width (low byte) turns the texts' line breaks into
//     spaces; the texts are single lines and are not wrapped.
//   dwLanguageId: 0, LANG_USER_DEFAULT, LANG_SYSTEM_DEFAULT or US English;
//     others fail with ERROR_RESOURCE_LANG_NOT_FOUND.
// Returns the characters stored, without the zero; 0 on failure with
// ERROR_MR_MID_NOT_FOUND (unknown code), ERROR_INSUFFICIENT_BUFFER (buffer
// too small) or ERROR_INVALID_PARAMETER (other flags, or a text with inserts
// without FORMAT_MESSAGE_IGNORE_INSERTS; Arguments are never read).
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  if (allocate && lpBuffer != nullptr) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
      (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 ||
      lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (FaultPoint({}, "FormatMessageA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
  if (!KnownLanguage(dwLanguageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* message = FindMessage(dwMessageId);
  if (message == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(message, '%') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With a width set, each line break becomes one blank.
  const bool join_lines = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0;
  std::string text;
  for (const char* p = message; *p != '\0'; ++p) {
    if (join_lines && p[0] == '\r' && p[1] == '\n') {
      text += ' ';
      ++p;
    } else {
      text += *p;
    }
  }
  const size_t needed = text.size() + 1;

  if (allocate) {
    const SIZE_T bytes = needed > nSize ? needed : nSize;
    auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr) return 0;  // LocalAlloc has set the error
    std::memcpy(block, text.c_str(), needed);
    *reinterpret_cast<LPSTR*>(lpBuffer) = block;
  } else {
    if (needed > nSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, text.c_str(), needed);
  }
  return static_cast<DWORD>(text.size());
}

}  // extern "C"
