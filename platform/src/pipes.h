// pipes.h - POSIX platform layer, internal: what the file dispatchers
// (files.cpp) call in the named-pipe area (pipes.cpp).
//
// CreateFileA hands a "\\.\pipe\NAME" path to PipeOpen. ReadFile, WriteFile
// and FlushFileBuffers reach a pipe end through its FileObject operations
// (handles.h), like any other kind of file handle.
#ifndef QX_PLATFORM_PIPES_H
#define QX_PLATFORM_PIPES_H

#include <windows.h>

#include <string_view>

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

}  // namespace qxplat

#endif  // QX_PLATFORM_PIPES_H
