// world_files.h - POSIX platform layer, internal: the world's files, the
// disk files a Windows path names ("C:\Windows\System32\spool\DRIVERS\...").
//
// Drive letters are folders of the world's runtime folder: "X:\A\B" is
// DIR/drives/x/A/B (qxwire::DrivePathParts). Names match without regard to
// case, as on Windows: an exact name is taken first, else the first entry of
// the folder that differs from it only in the case of the letters A to Z.
// No link is ever followed, and the runtime folder must pass the trust check
// (runtime_folder.h), as for the spooler and the pipes.
//
// World files are read-only to hosts: qxsimd writes them (the drivers' files
// with their dates and version resources); CreateFileA opens them for
// reading only.
#ifndef QX_PLATFORM_WORLD_FILES_H
#define QX_PLATFORM_WORLD_FILES_H

#include <windows.h>

namespace qxplat {

// IsWorldFilePath - path is a drive path ("X:\..." or "X:/...").
bool IsWorldFilePath(const char* path);

// OpenWorldFile - a descriptor (read-only, close-on-exec) of the regular
// file path names.
//   fd (out): set when 0 is returned; the caller closes it.
// Returns 0, ERROR_FILE_NOT_FOUND (no such file, or not a drive path),
// ERROR_PATH_NOT_FOUND (a folder on the way is missing, or the world has no
// folder) or ERROR_ACCESS_DENIED (a folder, a link or anything but a
// regular file; a folder on the way is a link; the runtime folder is not to
// be trusted).
DWORD OpenWorldFile(const char* path, int* fd);

// WorldFileOpen - CreateFileA's branch for drive paths: a file handle for
// reading (OPEN_EXISTING or OPEN_ALWAYS without GENERIC_WRITE), counted as
// a file; any other access or disposition is ERROR_ACCESS_DENIED.
HANDLE WorldFileOpen(const char* path, DWORD access, DWORD disposition);

// WorldFileTimes - GetFileTime on a handle of WorldFileOpen: creation
// (taken as the last write: the world's files are written once), last
// access and last write, each optional. FALSE with ERROR_INVALID_HANDLE for
// any other handle.
BOOL WorldFileTimes(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write);

}  // namespace qxplat

#endif  // QX_PLATFORM_WORLD_FILES_H
