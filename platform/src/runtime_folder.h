// runtime_folder.h - POSIX platform layer, internal: the one check that the
// world's runtime folder may be trusted, made by the spooler client
// (simlink.cpp) before every request and by the named pipes (pipes.cpp)
// before they serve or open a pipe there.
//
// A runtime folder is trusted when it is a folder (not a link to one) owned
// by this process's effective user, with no permission bits for group or
// others. Whoever else made the folder, or may write in it, could put their
// own sockets where the user's spooler and pipes are looked for, and so
// receive the user's spooler traffic and pipe messages.
#ifndef QX_PLATFORM_RUNTIME_FOLDER_H
#define QX_PLATFORM_RUNTIME_FOLDER_H

#include <windows.h>

#include <string>

namespace qxplat {

// CheckRuntimeFolder - path is a folder this process may trust (see above).
//   create (in): make it, mode 0700, when it is missing (its parent must exist).
//   reason (out, optional): with ERROR_ACCESS_DENIED, why, in words
//   ("open to other users (mode 0755)").
// Returns 0, ERROR_FILE_NOT_FOUND (missing, create not asked),
// ERROR_PATH_NOT_FOUND (cannot be made, or a parent is not a folder) or
// ERROR_ACCESS_DENIED (not to be trusted, or not reachable).
DWORD CheckRuntimeFolder(const std::string& path, bool create, std::string* reason = nullptr);

}  // namespace qxplat

#endif  // QX_PLATFORM_RUNTIME_FOLDER_H
