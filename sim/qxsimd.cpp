// qxsimd.cpp - qxsimd, daemon side: the program. Loads a world (a file, or
// the embedded default), makes its runtime folder, serves the spooler service
// and the control API there until SIGTERM, SIGINT or a control "stop", and
// removes its sockets and markers on the way out.
//
//   qxsimd [--world FILE] [--dir DIR] [--ready-fd N]
//   qxsimd --check [--world FILE]       load and check a world, then exit
//   qxsimd --print-default-world        write the embedded default world
//
// Readiness: once both sockets listen, the daemon writes "ready <pid>\n" to
// the descriptor given by --ready-fd (and closes it), and creates
// DIR/qxsimd.ready holding its pid. DIR/qxsimd.pid is held locked while it
// runs, so that a second daemon for the same folder refuses to start.
#include <fcntl.h>
#include <signal.h>
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
      "usage: qxsimd [--world FILE] [--dir DIR] [--ready-fd N]\n"
      "       qxsimd --check [--world FILE]\n"
      "       qxsimd --print-default-world\n"
      "Serves a simulated world (printers, spooler, ports) in DIR, by default\n"
      "$QX_SIM_DIR or /tmp/qxsim-<uid>. Without --world, the embedded default world.\n",
      out);
  return out == stdout ? 0 : 2;
}

// PrepareDir - create the runtime folder (mode 0700), or accept an existing
// one that is a real folder of ours, and make it 0700.
bool PrepareDir(const std::string& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
    return false;
  }
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    std::fprintf(stderr, "qxsimd: %s: not a folder owned by this user\n", dir.c_str());
    return false;
  }
  if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", dir.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool WriteReadyFile(const std::string& dir) {
  const std::string tmp = dir + "/" + qxsim::kReadyFile + ".tmp";
  const std::string path = dir + "/" + qxsim::kReadyFile;
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << getpid() << "\n";
    if (!out) return false;
  }
  return rename(tmp.c_str(), path.c_str()) == 0;
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
  if (!PrepareDir(dir)) return 1;

  const std::string pid_path = dir + "/" + qxsim::kPidFile;
  const int pid_fd = open(pid_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (pid_fd < 0 || flock(pid_fd, LOCK_EX | LOCK_NB) != 0) {
    std::fprintf(stderr, "qxsimd: %s: another qxsimd serves this folder\n", dir.c_str());
    return 1;
  }
  const std::string pid_text = std::to_string(getpid()) + "\n";
  if (ftruncate(pid_fd, 0) != 0 || write(pid_fd, pid_text.data(), pid_text.size()) < 0) {
    std::fprintf(stderr, "qxsimd: %s: %s\n", pid_path.c_str(), std::strerror(errno));
    return 1;
  }
  unlink((dir + "/" + qxsim::kReadyFile).c_str());

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
    qxsim::Server server(daemon, dir);
    std::string error;
    if (!server.Listen(error)) {
      std::fprintf(stderr, "qxsimd: %s\n", error.c_str());
      status = 1;
    } else {
      daemon.StartMonitors();
      if (!WriteReadyFile(dir)) {
        std::fprintf(stderr, "qxsimd: %s/%s cannot be written\n", dir.c_str(), qxsim::kReadyFile);
      }
      if (ready_fd >= 0) {
        const std::string line = "ready " + std::to_string(getpid()) + "\n";
        [[maybe_unused]] const ssize_t n = write(ready_fd, line.data(), line.size());
        close(ready_fd);
      }
      server.Run(wake[0], &wait_mask);
    }
    daemon.StopMonitors();
    server.Shutdown();
  }
  unlink((dir + "/" + qxsim::kReadyFile).c_str());
  unlink(pid_path.c_str());
  close(pid_fd);
  return status;
}
