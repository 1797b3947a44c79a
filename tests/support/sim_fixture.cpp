// sim_fixture.cpp - test support, the side of tests: starting and stopping a
// qxsimd per test (see sim_fixture.h).
//
// The daemon is spawned with its readiness pipe on descriptor 3 and its
// standard error in DIR/qxsimd.log; the start returns as soon as the daemon
// writes "ready", so a world costs one process start and no sleeping.
#include "sim_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <qxplatform.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "world.h"

extern char** environ;

namespace qxsim {
namespace {

constexpr int kReadyFd = 3;
constexpr int kStartLimitMs = 20000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The daemon's environment: ours, with QX_SIM_DIR and QX_TIME_SCALE set.
std::vector<std::string> DaemonEnvironment(const std::string& dir, double scale) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "QX_SIM_DIR=", 11) != 0 && std::strncmp(*e, "QX_TIME_SCALE=", 14) != 0) {
      env.emplace_back(*e);
    }
  }
  env.push_back("QX_SIM_DIR=" + dir);
  std::ostringstream s;
  s.precision(17);
  s << "QX_TIME_SCALE=" << scale;
  env.push_back(s.str());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> ptrs;
  for (std::string& t : texts) ptrs.push_back(t.data());
  ptrs.push_back(nullptr);
  return ptrs;
}

// Waits for the child to end within limit; true with its status when it did.
bool WaitFor(pid_t pid, std::chrono::milliseconds limit, int& status) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace

nlohmann::json DefaultWorld() { return nlohmann::json::parse(kDefaultWorldJson); }

std::unique_ptr<SimWorld> SimWorld::Start(const std::string& world_json, std::string* error) {
  return Start(Options{world_json, std::nullopt}, error);
}

std::unique_ptr<SimWorld> SimWorld::Start(const Options& options, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<SimWorld> {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  char folder[] = "/tmp/qxsim-test-XXXXXX";
  if (mkdtemp(folder) == nullptr) return fail(std::string("mkdtemp: ") + std::strerror(errno));
  const std::string dir = folder;
  auto remove_folder = [&] {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  };

  // The daemon ends with the test process, even one that crashes.
  std::vector<std::string> args = {QXSIMD_PATH,    "--dir",    dir, "--ready-fd", std::to_string(kReadyFd),
                                   "--parent", std::to_string(getpid())};
  if (!options.world_json.empty()) {
    const std::string path = dir + "/world.json";
    std::ofstream(path) << options.world_json;
    args.push_back("--world");
    args.push_back(path);
  }
  std::vector<std::string> env = DaemonEnvironment(dir, options.time_scale.value_or(qxplat_clock_scale()));
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    remove_folder();
    return fail(std::string("pipe: ") + std::strerror(errno));
  }
  const std::string log = dir + "/qxsimd.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], kReadyFd);  // the copy loses O_CLOEXEC
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // Not the test's own output: a daemon must never hold the test runner's pipe open.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (spawned != 0) {
    close(ready[0]);
    remove_folder();
    return fail(std::string("cannot start " QXSIMD_PATH ": ") + std::strerror(spawned));
  }

  // "ready <pid>\n", or the end of the pipe when the daemon gave up.
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{ready[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[64];
    const ssize_t n = read(ready[0], chunk, sizeof chunk);
    if (n <= 0) break;
    line.append(chunk, static_cast<size_t>(n));
  }
  close(ready[0]);
  if (line.rfind("ready ", 0) != 0) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string message = ReadFile(log);
    remove_folder();
    return fail(message.empty() ? "qxsimd did not become ready" : message);
  }
  return std::unique_ptr<SimWorld>(new SimWorld(dir, pid));
}

bool SimWorld::Stop() {
  if (pid_ <= 0) return true;
  kill(pid_, SIGTERM);
  int status = 0;
  if (!WaitFor(pid_, std::chrono::seconds(10), status)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return false;
  }
  pid_ = 0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string SimWorld::Log() const { return ReadFile(dir_ + "/qxsimd.log"); }

SimWorld::~SimWorld() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

// ---- Fixture -------------------------------------------------------------------

void SimFixture::SetUp() {
  if (!saved_) {
    const char* dir = std::getenv("QX_SIM_DIR");
    if (dir != nullptr) saved_dir_ = dir;
    saved_ = true;
  }
  UseWorld(WorldJson());
}

void SimFixture::UseWorld(const std::string& world_json) {
  world_.reset();
  std::string error;
  world_ = SimWorld::Start(world_json, &error);
  ASSERT_NE(world_, nullptr) << "the world did not start: " << error;
  setenv("QX_SIM_DIR", world_->dir().c_str(), 1);
}

void SimFixture::StopWorld() {
  ASSERT_NE(world_, nullptr);
  EXPECT_TRUE(world_->Stop()) << world_->Log();
}

void SimFixture::TearDown() {
  if (world_ != nullptr) {
    const bool clean = world_->Stop();
    EXPECT_TRUE(clean) << "qxsimd did not stop cleanly:\n" << world_->Log();
  }
  world_.reset();
  if (saved_dir_) {
    setenv("QX_SIM_DIR", saved_dir_->c_str(), 1);
  } else {
    unsetenv("QX_SIM_DIR");
  }
}

}  // namespace qxsim
