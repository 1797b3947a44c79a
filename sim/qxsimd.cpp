// qxsimd.cpp - qxsimd, daemon side: the program. Loads a world (a file, or
// the embedded default), makes its runtime folder, serves the spooler service
// and the control API there until SIGTERM, SIGINT or a control "stop", and
// removes its sockets and markers on the way out.
//
//   qxsimd [--world FILE] [--dir DIR] [--ready-fd N] [--parent PID]
//   qxsimd --check [--world FILE]       load and check a world, then exit
//   qxsimd --print-default-world        write the embedded default world
//
// Readiness: once both sockets listen, the daemon writes "ready <pid>\n" to
// the descriptor given by --ready-fd (and closes it), and creates
// DIR/qxsimd.ready holding its pid. DIR/qxsimd.pid is held locked while it
// runs, so that a second daemon for the same folder refuses to start.
//
// With --parent PID the daemon stops (as on SIGTERM) when that process ends,
// so that a test process that crashes leaves no daemon behind.
//
// The folder is refused when it is not a folder of this user or others may
// write it; both files are made anew (O_EXCL | O_NOFOLLOW, relative to the
// folder's descriptor), so a link planted in their place is removed, never
// followed, and a dead daemon's files are replaced.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "daemon.h"
#include "server.h"
#include "wire.h"
#include "world.h"

namespace {

int g_wake_write = -1;

void OnSignal(int) {
  const char byte = 's';
  [[maybe_unused]] const ssize_t n = write(g_wake_write, &byte, 1);
}

void WakeForStop(void*) { OnSignal(0); }

int Usage(FILE* out) {
  std::fputs(
      "usage: qxsimd [--world FILE] [--dir DIR] [--ready-fd N] [--parent PID]\n"
      "       qxsimd --check [--world FILE]\n"
      "       qxsimd --print-default-world\n"
      "Serves a simulated world (printers, spooler, ports) in DIR, by default\n"
      "$QX_SIM_DIR or /tmp/qxsim-<uid>. Without --world, the embedded default world.\n",
      out);
  return out == stdout ? 0 : 2;
}

// PrepareDir - the runtime folder, opened: made mode 0700 when missing; an
// existing one must be a folder (not a link) of this user that no one else
// may write (whoever may write it could have planted files or links there
// already), and is made 0700. Returns its descriptor, or -1 after a message.
int PrepareDir(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
    return -1;
  }
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      std::fprintf(stderr, "qxsimd: %s: not a folder (a link, or another kind of file)\n", dir.c_str());
    } else {
      std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
    }
    return -1;
  }
  struct stat st;
  std::string refusal;  // why the folder is not to be trusted
  if (fstat(fd, &st) != 0) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
  } else if (st.st_uid != geteuid()) {
    refusal = "owned by user " + std::to_string(st.st_uid) + ", not by this user";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    refusal = std::string("writable by other users (mode ") + mode + ")";
  } else if ((st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
  } else {
    return fd;
  }
  if (!refusal.empty()) {
    std::fprintf(stderr, "qxsimd: %s: %s; the runtime folder must be this user's own, writable by no one else\n",
                 dir.c_str(), refusal.c_str());
  }
  close(fd);
  return -1;
}

// ClaimPidFile - DIR/qxsimd.pid made anew (O_EXCL, never through a link) and
// held locked (flock) while the daemon runs, holding its pid. One that exists
// and is not locked is a dead daemon's, or was planted: it is removed (a link
// without being followed) and made anew. Sets busy when another daemon holds
// it. Returns the descriptor, or -1.
int ClaimPidFile(int dir_fd, bool& busy) {
  auto same_file = [dir_fd](int fd) {
    struct stat held, there;
    return fstat(fd, &held) == 0 && fstatat(dir_fd, qxsim::kPidFile, &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == there.st_dev && held.st_ino == there.st_ino;
  };
  busy = false;
  // Each round removes what was in the way; another starter racing for the
  // folder ends the rounds by holding the lock.
  for (int round = 0; round < 16; ++round) {
    int fd = openat(dir_fd, qxsim::kPidFile, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);  // a starter that took it for stale holds it now
        busy = true;
        return -1;
      }
      if (same_file(fd)) return fd;
      close(fd);  // removed between our making and our locking it
      continue;
    }
    if (errno != EEXIST) return -1;
    fd = openat(dir_fd, qxsim::kPidFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // gone meanwhile
      if (errno == ELOOP) unlinkat(dir_fd, qxsim::kPidFile, 0);  // a link: removed, not followed
      if (errno != ELOOP) return -1;
      continue;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      busy = true;
      return -1;
    }
    // Not a running daemon's: removed while held, so that a second starter
    // cannot take it meanwhile.
    if (same_file(fd)) unlinkat(dir_fd, qxsim::kPidFile, 0);
    close(fd);
  }
  return -1;
}

// WriteReadyFile - DIR/qxsimd.ready holding the pid, made under a temporary
// name anew (O_EXCL, never through a link) and renamed into place, which
// replaces whatever was there without following it.
bool WriteReadyFile(int dir_fd) {
  const std::string tmp = std::string(qxsim::kReadyFile) + ".tmp";
  unlinkat(dir_fd, tmp.c_str(), 0);
  const int fd = openat(dir_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string text = std::to_string(getpid()) + "\n";
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  if (!written || renameat(dir_fd, tmp.c_str(), dir_fd, qxsim::kReadyFile) != 0) {
    unlinkat(dir_fd, tmp.c_str(), 0);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string world_path;
  std::string dir;
  int ready_fd = -1;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qxsimd: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--world") {
      world_path = value("--world");
    } else if (arg == "--dir") {
      dir = value("--dir");
    } else if (arg == "--ready-fd") {
      char* end = nullptr;
      const char* text = value("--ready-fd");
      const long fd = std::strtol(text, &end, 10);
      if (end == text || *end != '\0' || fd < 0 || fd > 65535) {
        std::fprintf(stderr, "qxsimd: --ready-fd needs a descriptor number\n");
        return 2;
      }
      ready_fd = static_cast<int>(fd);
    } else if (arg == "--parent") {
      char* end = nullptr;
      const char* text = value("--parent");
      const long pid = std::strtol(text, &end, 10);
      if (end == text || *end != '\0' || pid <= 1) {
        std::fprintf(stderr, "qxsimd: --parent needs a process id\n");
        return 2;
      }
      // SIGTERM when the parent ends; a parent already gone is checked after
      // asking, so that no window is left between the two.
      if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != static_cast<pid_t>(pid)) return 1;
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--print-default-world") {
      std::fputs(qxsim::kDefaultWorldJson, stdout);
      std::fputs("\n", stdout);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      return Usage(stdout);
    } else {
      std::fprintf(stderr, "qxsimd: unknown argument \"%s\"\n", arg.c_str());
      return Usage(stderr);
    }
  }

  qxsim::World world;
  std::string source = "embedded default";
  try {
    if (world_path.empty()) {
      world = qxsim::LoadWorldText(qxsim::kDefaultWorldJson);
    } else {
      std::ifstream in(world_path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "qxsimd: %s: cannot be read\n", world_path.c_str());
        return 2;
      }
      std::ostringstream text;
      text << in.rdbuf();
      world = qxsim::LoadWorldText(text.str());
      source = world_path;
    }
  } catch (const std::exception& e) {
    // WorldError, and anything else reading the file threw (allocation failures).
    std::fprintf(stderr, "qxsimd: %s: %s\n", world_path.empty() ? "embedded default world" : world_path.c_str(),
                 e.what());
    return 2;
  }
  if (check) {
    std::printf("%s: ok, %zu printers\n", source.c_str(), world.printers.size());
    return 0;
  }

  if (dir.empty()) dir = qxsim::DefaultDir();
  const int dir_fd = PrepareDir(dir);
  if (dir_fd < 0) return 1;

  bool busy = false;
  const int pid_fd = ClaimPidFile(dir_fd, busy);
  if (pid_fd < 0) {
    if (busy) {
      std::fprintf(stderr, "qxsimd: %s: another qxsimd serves this folder\n", dir.c_str());
    } else {
      std::fprintf(stderr, "qxsimd: %s/%s: cannot be made: %s\n", dir.c_str(), qxsim::kPidFile,
                   std::strerror(errno));
    }
    return 1;
  }
  const std::string pid_text = std::to_string(getpid()) + "\n";
  if (write(pid_fd, pid_text.data(), pid_text.size()) != static_cast<ssize_t>(pid_text.size())) {
    std::fprintf(stderr, "qxsimd: %s/%s: %s\n", dir.c_str(), qxsim::kPidFile, std::strerror(errno));
    unlinkat(dir_fd, qxsim::kPidFile, 0);
    return 1;
  }
  unlinkat(dir_fd, qxsim::kReadyFile, 0);

  // The daemon's own platform layer (the language monitors' pipes and their
  // calls into the spooler) works inside this world.
  setenv("QX_SIM_DIR", dir.c_str(), 1);

  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "qxsimd: pipe: %s\n", std::strerror(errno));
    return 1;
  }
  g_wake_write = wake[1];
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Blocked here, before any thread starts (every thread inherits the mask),
  // and let through only while the main thread waits in Server::Run: a stop
  // signal then always runs OnSignal in the thread that waits for it, never
  // in another thread where its delivery could be put off or lost (as a
  // sanitizer's deferred delivery can), and one sent early stays pending.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigset_t wait_mask;
  pthread_sigmask(SIG_BLOCK, &stop_signals, &wait_mask);
  sigdelset(&wait_mask, SIGTERM);
  sigdelset(&wait_mask, SIGINT);

  int status = 0;
  {
    qxsim::Daemon daemon(std::move(world), source, dir);
    daemon.set_stop_notifier(WakeForStop, nullptr);
    daemon.WriteDriverFiles();
    qxsim::Server server(dir, daemon.Listeners());
    std::string error;
    if (!server.Listen(error)) {
      std::fprintf(stderr, "qxsimd: %s\n", error.c_str());
      status = 1;
    } else {
      daemon.StartMonitors();
      if (!WriteReadyFile(dir_fd)) {
        std::fprintf(stderr, "qxsimd: %s/%s cannot be written\n", dir.c_str(), qxsim::kReadyFile);
      }
      if (ready_fd >= 0) {
        const std::string line = "ready " + std::to_string(getpid()) + "\n";
        [[maybe_unused]] const ssize_t n = write(ready_fd, line.data(), line.size());
        close(ready_fd);
      }
      server.Run(wake[0], &wait_mask, [&daemon] { return daemon.stop_requested(); });
    }
    daemon.StopMonitors();
    server.Shutdown();
  }
  unlinkat(dir_fd, qxsim::kReadyFile, 0);
  unlinkat(dir_fd, qxsim::kPidFile, 0);  // while still locked: no other daemon's file
  close(pid_fd);
  close(dir_fd);
  return status;
}
