// driver_files.cpp - qxsimd, daemon side: writing the world's driver files
// (see driver_files.h).
#include "driver_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <qxwire/names.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

#include "pe_image.h"

namespace qxsim {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The entry of folder dir named name in any case, or name itself when none.
std::string EntryName(int dir, const std::string& name) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  const int copy = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return name;
  DIR* listing = fdopendir(copy);
  if (listing == nullptr) {
    close(copy);
    return name;
  }
  std::string found = name;
  const std::string wanted = Upper(name);
  while (const dirent* entry = readdir(listing)) {
    if (Upper(entry->d_name) == wanted) {
      found = entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

// The file's time: its date as UTC, or now.
timespec FileTime(const std::string& date) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (date.empty() || std::sscanf(date.c_str(), "%d-%d-%d", &y, &mo, &d) != 3) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
  }
  if (date.size() > 10) std::sscanf(date.c_str() + 11, "%d:%d:%d", &h, &mi, &s);
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return {timegm(&t), 0};
}

// WriteOne - one file; empty, or why it was not written.
std::string WriteOne(int root, const DriverFile& file) {
  std::vector<std::string> parts;
  if (!qxwire::DrivePathParts(file.path, parts)) return {};
  parts.insert(parts.begin(), qxwire::kDrivesFolder);
  Fd folder(dup(root));
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string name = EntryName(folder.get(), parts[i]);
    if (mkdirat(folder.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::string("folder ") + name + ": " + std::strerror(errno);
    }
    const int next = openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return std::string("folder ") + name + ": " + std::strerror(errno);
    folder.Reset(next);
  }
  const std::string name = EntryName(folder.get(), parts.back());
  const std::string temporary = ".qxsimd-" + std::to_string(getpid()) + ".tmp";
  unlinkat(folder.get(), temporary.c_str(), 0);
  Fd out(openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return std::strerror(errno);

  const std::string base = parts.back();
  const std::vector<uint8_t> image =
      qxpe::MakeDll(file.version.empty() ? std::nullopt : qxpe::VersionFor(file.version, base));
  size_t done = 0;
  while (done < image.size()) {
    const ssize_t n = write(out.get(), image.data() + done, image.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = std::strerror(errno);
      unlinkat(folder.get(), temporary.c_str(), 0);
      return why;
    }
    done += static_cast<size_t>(n);
  }
  const timespec when = FileTime(file.date);
  const timespec times[2] = {when, when};
  if (futimens(out.get(), times) != 0 || renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    unlinkat(folder.get(), temporary.c_str(), 0);
    return why;
  }
  return {};
}

}  // namespace

std::vector<std::string> WriteDriverFiles(const std::string& dir, const World& world) {
  static std::mutex writing;
  const std::lock_guard<std::mutex> one_at_a_time(writing);
  std::vector<std::string> errors;
  Fd root(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) return {dir + ": " + std::strerror(errno)};
  std::set<std::string> written;
  for (const Printer& printer : world.printers) {
    std::vector<const DriverFile*> files = {&printer.driver.file};
    for (const DriverFile& f : printer.driver.dependent_files) files.push_back(&f);
    for (const DriverFile* f : files) {
      if (!written.insert(Upper(f->path)).second) continue;
      if (const std::string why = WriteOne(root.get(), *f); !why.empty()) errors.push_back(f->path + ": " + why);
    }
  }
  return errors;
}

void RefreshDriverFiles(SharedWorld& w) {
  World world;
  {
    const std::lock_guard<std::mutex> guard(w.lock);
    world.printers = w.world.printers;
  }
  for (const std::string& error : WriteDriverFiles(w.dir, world)) {
    std::fprintf(stderr, "qxsimd: driver file %s\n", error.c_str());
  }
}

}  // namespace qxsim
