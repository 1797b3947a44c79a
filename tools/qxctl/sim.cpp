// qxctl sim: runs a simulated world (qxsimd) in the background for the
// commands that follow, in the folder every part of the system uses by
// default ($QX_SIM_DIR, else /tmp/qxsim-<uid>). POSIX side only.
#include "sim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "client.h"
#include "wire.h"

namespace qxctl {

namespace {

// The daemon beside this program in the build tree, else the one on PATH.
std::string DaemonPath() {
  if (const char* path = std::getenv("QXSIMD"); path != nullptr && *path != '\0') return path;
  if (access(QXSIMD_BUILD_PATH, X_OK) == 0) return QXSIMD_BUILD_PATH;
  return "qxsimd";
}

bool Running(const std::string& dir, nlohmann::json* status) {
  try {
    const nlohmann::json reply = qxsim::ControlClient(dir).Status();
    if (status != nullptr) *status = reply;
    return true;
  } catch (const qxsim::ControlError&) {
    return false;
  }
}

int Start(const std::string& dir, const std::string& world) {
  if (Running(dir, nullptr)) {
    std::printf("a world already runs in %s\n", dir.c_str());
    return 0;
  }
  int ready[2];
  if (pipe(ready) != 0) {
    std::fprintf(stderr, "qxctl: pipe: %s\n", std::strerror(errno));
    return 1;
  }
  const std::string daemon = DaemonPath();
  const std::string log = dir + ".log";
  const pid_t pid = fork();
  if (pid < 0) {
    std::fprintf(stderr, "qxctl: fork: %s\n", std::strerror(errno));
    return 1;
  }
  if (pid == 0) {
    // The daemon outlives this command: its own session, no terminal, its
    // messages in a log beside its folder.
    setsid();
    close(ready[0]);
    const int null = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    const std::string fd = std::to_string(ready[1]);
    if (world.empty()) {
      execlp(daemon.c_str(), daemon.c_str(), "--dir", dir.c_str(), "--ready-fd", fd.c_str(),
             static_cast<char*>(nullptr));
    } else {
      execlp(daemon.c_str(), daemon.c_str(), "--dir", dir.c_str(), "--world", world.c_str(),
             "--ready-fd", fd.c_str(), static_cast<char*>(nullptr));
    }
    std::fprintf(stderr, "qxctl: cannot run %s: %s\n", daemon.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(ready[1]);
  // The daemon writes "ready <pid>" once it serves, or closes the pipe by
  // exiting when it cannot start.
  char line[64] = {};
  ssize_t n;
  do {
    n = read(ready[0], line, sizeof line - 1);
  } while (n < 0 && errno == EINTR);
  close(ready[0]);
  if (n <= 0 || std::strncmp(line, "ready ", 6) != 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    std::fprintf(stderr, "qxctl: the simulated world did not start (see %s)\n", log.c_str());
    return 1;
  }
  std::printf("simulated world %s runs in %s (pid %d)\n", world.empty() ? "(embedded default)" : world.c_str(),
              dir.c_str(), static_cast<int>(pid));
  return 0;
}

int Stop(const std::string& dir) {
  nlohmann::json status;
  if (!Running(dir, &status)) {
    std::printf("no world runs in %s\n", dir.c_str());
    return 0;
  }
  try {
    qxsim::ControlClient(dir).Stop();
  } catch (const qxsim::ControlError& e) {
    std::fprintf(stderr, "qxctl: %s\n", e.what());
    return 1;
  }
  // The daemon removes its ready marker as its last act.
  const std::string ready = dir + "/" + qxsim::kReadyFile;
  for (int i = 0; i < 500 && access(ready.c_str(), F_OK) == 0; ++i) usleep(10000);
  std::printf("stopped the world in %s\n", dir.c_str());
  return 0;
}

int Status(const Options& options, const std::string& dir) {
  nlohmann::json status;
  const bool running = Running(dir, &status);
  if (options.json) {
    nlohmann::json out = {{"running", running}, {"dir", dir}};
    if (running) out["daemon"] = status;
    std::printf("%s\n", out.dump().c_str());
    return running ? 0 : 1;
  }
  if (!running) {
    std::printf("no world runs in %s\n", dir.c_str());
    return 1;
  }
  std::printf("world     %s\n", status.value("source", "").c_str());
  std::printf("folder    %s\n", dir.c_str());
  std::printf("pid       %d\n", status.value("pid", 0));
  std::printf("printers  %d\n", status.value("printers", 0));
  return 0;
}

}  // namespace

int CmdSim(const Options& options, const std::vector<std::string>& args) {
  const std::string dir = qxsim::DefaultDir();
  const std::string action = args.empty() ? "status" : args[0];
  if (action == "start") {
    std::string world;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--world" && i + 1 < args.size()) {
        world = args[++i];
      } else {
        std::fprintf(stderr, "qxctl: sim start [--world FILE]\n");
        return 2;
      }
    }
    return Start(dir, world);
  }
  if (action == "stop") return Stop(dir);
  if (action == "status") return Status(options, dir);
  std::fprintf(stderr, "qxctl: sim start|stop|status\n");
  return 2;
}

}  // namespace qxctl
