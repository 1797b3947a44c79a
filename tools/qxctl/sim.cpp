// qxctl sim, POSIX build only: runs a simulated world (qxsimd) in the
// background for the commands that follow, in the folder every part of the
// system uses by default ($QX_SIM_DIR, else /tmp/qxsim-<uid>); and the hint
// for a command that finds no world there. Windows builds take
// host_windows.cpp instead.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "client.h"
#include "qxctl.h"
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

// How long a starting daemon may take to say it serves.
constexpr int kReadyTimeoutMs = 30000;

// Reads the daemon's readiness line, waiting at most kReadyTimeoutMs; "" when
// it closed the pipe (it could not start) or said nothing in time.
std::string ReadReady(int fd) {
  char line[64] = {};
  pollfd wait = {fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&wait, 1, kReadyTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return "";
  ssize_t n;
  do {
    n = read(fd, line, sizeof line - 1);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? std::string(line, static_cast<size_t>(n)) : "";
}

Failure SimFailure(const std::string& message, const std::string& hint = "") {
  return {kExitRefused, std::nullopt, "SIM", message, hint};
}

int Start(const Context& context, const std::string& dir, const std::string& world) {
  if (Running(dir, nullptr)) {
    if (context.json) {
      Emit({{"running", true}, {"dir", dir}, {"started", false}});
    } else {
      std::printf("a world already runs in %s\n", dir.c_str());
    }
    return kExitDone;
  }
  int ready[2];
  if (pipe(ready) != 0) return Fail(context, SimFailure(std::string("pipe: ") + std::strerror(errno)));
  const std::string daemon = DaemonPath();
  const std::string log = dir + ".log";
  const pid_t pid = fork();
  if (pid < 0) {
    close(ready[0]);
    close(ready[1]);
    return Fail(context, SimFailure(std::string("fork: ") + std::strerror(errno)));
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
      execlp(daemon.c_str(), daemon.c_str(), "--dir", dir.c_str(), "--world", world.c_str(), "--ready-fd",
             fd.c_str(), static_cast<char*>(nullptr));
    }
    std::fprintf(stderr, "qxctl: cannot run %s: %s\n", daemon.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(ready[1]);
  // The daemon writes "ready <pid>" once it serves, or closes the pipe by
  // exiting when it cannot start.
  const std::string line = ReadReady(ready[0]);
  close(ready[0]);
  if (line.compare(0, 6, "ready ") != 0) {
    kill(pid, SIGTERM);  // one that said nothing in time is given up on
    int status = 0;
    waitpid(pid, &status, 0);
    return Fail(context, SimFailure("the simulated world did not start", "see " + log));
  }
  const std::string source = world.empty() ? "(embedded default)" : world;
  if (context.json) {
    Emit({{"running", true}, {"dir", dir}, {"started", true}, {"world", source}, {"pid", pid}});
  } else {
    std::printf("simulated world %s runs in %s (pid %d)\n", source.c_str(), dir.c_str(), static_cast<int>(pid));
  }
  return kExitDone;
}

int Stop(const Context& context, const std::string& dir) {
  if (!Running(dir, nullptr)) {
    if (context.json) {
      Emit({{"running", false}, {"dir", dir}, {"stopped", false}});
    } else {
      std::printf("no world runs in %s\n", dir.c_str());
    }
    return kExitDone;
  }
  try {
    qxsim::ControlClient(dir).Stop();
  } catch (const qxsim::ControlError& e) {
    return Fail(context, SimFailure(e.what()));
  }
  // The daemon removes its ready marker as its last act.
  const std::string ready = dir + "/" + qxsim::kReadyFile;
  for (int i = 0; i < 500 && access(ready.c_str(), F_OK) == 0; ++i) usleep(10000);
  if (context.json) {
    Emit({{"running", false}, {"dir", dir}, {"stopped", true}});
  } else {
    std::printf("stopped the world in %s\n", dir.c_str());
  }
  return kExitDone;
}

int Status(const Context& context, const std::string& dir) {
  nlohmann::json status;
  if (!Running(dir, &status)) return Fail(context, NoSpoolerFailure());
  if (context.json) {
    Emit({{"running", true}, {"dir", dir}, {"daemon", status}});
    return kExitDone;
  }
  std::printf("world     %s\n", status.value("source", "").c_str());
  std::printf("folder    %s\n", dir.c_str());
  std::printf("pid       %d\n", status.value("pid", 0));
  std::printf("printers  %d\n", status.value("printers", 0));
  return kExitDone;
}

}  // namespace

Failure NoSpoolerFailure() {
  const char* variable = std::getenv("QX_SIM_DIR");
  const bool set = variable != nullptr && *variable != '\0';
  return {kExitNoSpooler, std::nullopt, "NO_WORLD",
          "no simulated world answers in " + qxsim::DefaultDir() +
              (set ? " (the folder QX_SIM_DIR names)" : " (QX_SIM_DIR is not set)"),
          "start one with `qxctl sim start`, or set QX_SIM_DIR to the folder of a running world"};
}

std::optional<std::string> LibraryFileName(const std::string& path, Failure* failure) {
  // The world's drive C: holds a folder of qxctl's own; each folder on the
  // way must be a folder, never a link, and the copy is made without
  // following one.
  std::string name = path.substr(path.find_last_of('/') + 1);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name.empty() || name.find('\\') != std::string::npos || name.size() > 200) {
    *failure = UsageFailure("'" + path + "' has no name the library could open", "");
    return std::nullopt;
  }
  std::string folder = qxsim::DefaultDir();
  for (const char* part : {"drives", "c", "QXCTL"}) {
    folder += "/";
    folder += part;
    struct stat st;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) break;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *failure = SimFailure("'" + folder + "' is not a folder of the world's files");
      return std::nullopt;
    }
  }
  std::ifstream in(path, std::ios::binary);
  const std::string target = folder + "/" + name;
  unlink(target.c_str());
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool copied = in && fd >= 0;
  char buffer[1 << 16];
  while (copied && in) {
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<size_t>(in.gcount());
    copied = got == 0 || write(fd, buffer, got) == static_cast<ssize_t>(got);
  }
  if (fd >= 0) close(fd);
  if (!copied) {
    *failure = SimFailure("'" + path + "' cannot be copied into the world's drive C: (" + target + ")");
    return std::nullopt;
  }
  return "C:\\QXCTL\\" + name;
}

std::function<std::optional<uint64_t>()> PortWriteCounter(const std::string& printer) {
  char port[QX_NAME_SIZE] = {};
  qxNewGetPrinterPort(printer.c_str(), port);
  const std::string name = port;
  return [name]() -> std::optional<uint64_t> {
    try {
      const qxsim::ControlClient control(qxsim::DefaultDir());
      for (const nlohmann::json& device : control.Devices()) {
        if (device.value("port", "") == name) return device.value("port_writes", uint64_t{0});
      }
    } catch (const qxsim::ControlError&) {
    }
    return std::nullopt;
  };
}

bool PagePicturesAvailable() { return true; }

std::optional<Failure> SavePagePicture(const std::string& printer, unsigned job, const std::string& path,
                                       json* picture) {
  char port[QX_NAME_SIZE] = {};
  qxNewGetPrinterPort(printer.c_str(), port);
  try {
    const qxsim::ControlClient control(qxsim::DefaultDir());
    // The job's last page among those the printer's device keeps.
    uint64_t number = 0;
    const nlohmann::json kept = control.Pages(port);
    for (const nlohmann::json& page : kept["pages"]) {
      if (page.value("job", 0u) == job) number = page.value("number", uint64_t{0});
    }
    if (number == 0) {
      return Failure{kExitRefused, std::nullopt, "NO_PAGE",
                     "the printer on " + OrNone(port) + " has printed no page of job " + std::to_string(job),
                     "a paused printer keeps its jobs queued (qxctl jobs)"};
    }
    std::string png;
    const nlohmann::json page = control.Page(port, number, false, &png);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(png.data(), static_cast<std::streamsize>(png.size()));
    if (!out.flush()) return Failure{kExitRefused, std::nullopt, "FILE", "'" + path + "' cannot be written", ""};
    *picture = {{"file", path},
                {"port", port},
                {"page", number},
                {"width", page.value("picture_width", 0)},
                {"height", page.value("picture_height", 0)}};
    return std::nullopt;
  } catch (const qxsim::ControlError& e) {
    return SimFailure(std::string("the picture cannot be fetched: ") + e.what());
  }
}

void AddSimCommands(CLI::App& app, Commands& commands) {
  CLI::App* sim = app.add_subcommand("sim", "Run the simulated world (qxsimd) in the background; POSIX build");
  sim->require_subcommand(1);
  auto world = std::make_shared<std::string>();
  CLI::App* start = commands.Add(*sim, "start", "Start a world in $QX_SIM_DIR, else /tmp/qxsim-<uid>",
                                 Needs::kNothing, [world](const Context& context) {
                                   return Start(context, qxsim::DefaultDir(),
                                                world->empty() ? "" : AbsolutePath(*world));
                                 });
  start->add_option("--world", *world, "a world file instead of the embedded default world")->check(ReadableFile());
  commands.Add(*sim, "stop", "Stop the world", Needs::kNothing,
               [](const Context& context) { return Stop(context, qxsim::DefaultDir()); });
  commands.Add(*sim, "status", "Whether a world runs, and which; exit 3 when none does", Needs::kNothing,
               [](const Context& context) { return Status(context, qxsim::DefaultDir()); });
}

}  // namespace qxctl
