// world_files.cpp - POSIX platform layer, Win32 side: the world's disk files
// behind drive paths, opened for reading, with their times (see
// world_files.h).
#include "world_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <qxwire/names.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "handles.h"
#include "runtime_folder.h"
#include "simlink.h"
#include "stream.h"

namespace qxplat {
namespace {

// Seconds from 1601-01-01 to 1970-01-01, the FILETIME epoch to the Unix one.
constexpr int64_t kEpochDifference = 11644473600;

bool SameNoCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return a[i] == '\0' && i == b.size();
}

// The entry of folder dir whose name is name, or one that differs only in
// case; empty when there is none.
std::string FindEntry(int dir, const std::string& name) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  const int copy = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return {};
  DIR* listing = fdopendir(copy);
  if (listing == nullptr) {
    close(copy);
    return {};
  }
  std::string found;
  while (const dirent* entry = readdir(listing)) {
    if (SameNoCase(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

FILETIME ToFileTime(const timespec& t) {
  const int64_t ticks = (static_cast<int64_t>(t.tv_sec) + kEpochDifference) * 10000000 + t.tv_nsec / 100;
  const uint64_t value = ticks > 0 ? static_cast<uint64_t>(ticks) : 0;
  return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// A world file open for reading.
class WorldFile : public FileObject {
 public:
  explicit WorldFile(int fd) : FileObject(QXPLAT_KIND_FILE), fd_(fd) {}
  ~WorldFile() override { close(fd_); }

  BOOL Read(void* buffer, DWORD size, DWORD* read) override {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    *read = static_cast<DWORD>(n);
    return TRUE;
  }
  BOOL Write(const void*, DWORD, DWORD*) override {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  BOOL Flush() override {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool IsWorldFilePath(const char* path) {
  std::vector<std::string> parts;
  return path != nullptr && qxwire::DrivePathParts(path, parts);
}

DWORD OpenWorldFile(const char* path, int* fd) {
  std::vector<std::string> parts;
  if (path == nullptr || !qxwire::DrivePathParts(path, parts)) return ERROR_FILE_NOT_FOUND;
  const std::string dir = SimDir();
  if (const DWORD refused = CheckRuntimeFolder(dir, false); refused != 0) {
    return refused == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : refused;
  }
  Fd folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return ERROR_PATH_NOT_FOUND;
  parts.insert(parts.begin(), qxwire::kDrivesFolder);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string name = FindEntry(folder.get(), parts[i]);
    if (name.empty()) return ERROR_PATH_NOT_FOUND;
    const int next = openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    folder = Fd(next);
  }
  const std::string name = FindEntry(folder.get(), parts.back());
  if (name.empty()) return ERROR_FILE_NOT_FOUND;
  Fd file(openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
  struct stat st;
  if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  *fd = file.take();
  return 0;
}

HANDLE WorldFileOpen(const char* path, DWORD access, DWORD disposition) {
  if ((access & GENERIC_WRITE) != 0 || (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = -1;
  if (const DWORD error = OpenWorldFile(path, &fd); error != 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return InsertHandle(std::make_shared<WorldFile>(fd));
}

BOOL WorldFileTimes(HANDLE handle, FILETIME* creation, FILETIME* access, FILETIME* write) {
  auto file = LookupHandle<WorldFile>(handle);
  struct stat st;
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (fstat(file->fd(), &st) != 0) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  if (creation != nullptr) *creation = ToFileTime(st.st_mtim);
  if (access != nullptr) *access = ToFileTime(st.st_atim);
  if (write != nullptr) *write = ToFileTime(st.st_mtim);
  return TRUE;
}

}  // namespace qxplat
