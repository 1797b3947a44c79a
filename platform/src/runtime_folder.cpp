// runtime_folder.cpp - POSIX platform layer, internal: the runtime folder's
// trust check (see runtime_folder.h).
#include "runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qxplat {

DWORD CheckRuntimeFolder(const std::string& path, bool create, std::string* reason) {
  const int saved_errno = errno;
  auto refuse = [&](const std::string& why) -> DWORD {
    if (reason != nullptr) *reason = why;
    errno = saved_errno;
    return ERROR_ACCESS_DENIED;
  };
  auto fail = [&](DWORD error) {
    errno = saved_errno;
    return error;
  };

  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOTDIR) return fail(ERROR_PATH_NOT_FOUND);
    if (errno != ENOENT) return refuse("cannot be examined");
    if (!create) return fail(ERROR_FILE_NOT_FOUND);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      return errno == EACCES ? refuse("cannot be made here") : fail(ERROR_PATH_NOT_FOUND);
    }
    if (lstat(path.c_str(), &st) != 0) return fail(ERROR_PATH_NOT_FOUND);
  }
  if (S_ISLNK(st.st_mode)) return refuse("a symbolic link, not a folder");
  if (!S_ISDIR(st.st_mode)) return refuse("not a folder");
  if (st.st_uid != geteuid()) {
    return refuse("owned by user " + std::to_string(st.st_uid) + ", not by this user (" +
                  std::to_string(geteuid()) + ")");
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return refuse(std::string("open to other users (mode ") + mode + ")");
  }
  errno = saved_errno;
  return 0;
}

}  // namespace qxplat
