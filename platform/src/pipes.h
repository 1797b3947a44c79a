// pipes.h - POSIX platform layer, internal: what the file dispatchers
// (files.cpp) call in the named-pipe area (pipes.cpp).
//
// CreateFileA hands a "\\.\pipe\NAME" path to PipeOpen; ReadFile, WriteFile
// and FlushFileBuffers hand a handle whose object is counted as
// QXPLAT_KIND_PIPE to PipeRead, PipeWrite and PipeFlush. The dispatchers have
// checked the common arguments (no overlapped record, count pointers present,
// buffer present when the size is not 0); these functions set the last error
// themselves.
#ifndef QX_PLATFORM_PIPES_H
#define QX_PLATFORM_PIPES_H

#include <windows.h>

#include <string_view>

#include "handles.h"

namespace qxplat {

// IsPipePath - true when path starts with "\\.\pipe\" (any case).
bool IsPipePath(std::string_view path);

// PipeOpen - the client side of CreateFileA for a pipe path.
//   path (in): "\\.\pipe\NAME", not null.
//   access (in): GENERIC_READ and/or GENERIC_WRITE (GENERIC_ALL is both).
// Returns a client handle in byte read mode, or INVALID_HANDLE_VALUE with
// ERROR_FILE_NOT_FOUND (no server), ERROR_PIPE_BUSY (no instance free),
// ERROR_ACCESS_DENIED (access the pipe's direction does not allow),
// ERROR_FILENAME_EXCED_RANGE or ERROR_BAD_PATHNAME (name or runtime folder
// too long).
HANDLE PipeOpen(const char* path, DWORD access);

// PipeRead, PipeWrite, PipeFlush - ReadFile, WriteFile and FlushFileBuffers
// on either end of a pipe. end is the handle's object; a non-pipe object
// gives ERROR_INVALID_HANDLE.
BOOL PipeRead(Object& end, void* buffer, DWORD size, DWORD* read);
BOOL PipeWrite(Object& end, const void* data, DWORD size, DWORD* written);
BOOL PipeFlush(Object& end);

}  // namespace qxplat

#endif  // QX_PLATFORM_PIPES_H
