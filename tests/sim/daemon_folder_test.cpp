// daemon_folder_test.cpp - qxsimd's runtime folder when someone else may have
// been there first: a folder others may write is refused, links planted where
// the daemon writes its pid and ready files are never followed, and stale
// files of a daemon that died are replaced.
//
// Another user cannot be played without root, so the folders here are this
// user's, with modes that let others write, and a link in the folder's
// place; a folder owned by another user meets the same refusal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What became of one qxsimd started for a folder.
struct Outcome {
  bool served = false;  // it became ready (and was then stopped)
  int status = -1;      // its wait status
  std::string log;      // what it wrote to standard error
};

// Runs qxsimd (the embedded world) for dir until it is ready or gives up;
// once ready, calls while_serving (when given) and stops it. Every wait is
// bounded.
Outcome RunDaemon(const std::string& dir, const std::string& log_path,
                  const std::function<void(pid_t)>& while_serving = {}) {
  Outcome out;
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return out;
  std::string path = QXSIMD_PATH, dir_flag = "--dir", dir_arg = dir, fd_flag = "--ready-fd", fd_arg = "3";
  char* argv[] = {path.data(), dir_flag.data(), dir_arg.data(), fd_flag.data(), fd_arg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (spawned != 0) {
    close(ready[0]);
    return out;
  }
  // "ready <pid>\n", or the end of the pipe when the daemon gave up.
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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
  out.served = line.rfind("ready ", 0) == 0;
  if (out.served && while_serving) while_serving(pid);
  if (out.served) kill(pid, SIGTERM);
  const auto stop_end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid, &out.status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= stop_end) {
      kill(pid, SIGKILL);
      waitpid(pid, &out.status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  out.log = ReadText(log_path);
  return out;
}

class DaemonFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/qxsim-folder-test-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    base_ = path;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  std::string base_;  // private; holds the folders of a test and the daemon's log
};

TEST_F(DaemonFolder, AFolderOthersMayWriteIsRefused) {
  for (const mode_t mode : {0777, 0770, 0730, 0702, 01777}) {
    const std::string dir = base_ + "/open";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.c_str(), mode), 0);
    const Outcome out = RunDaemon(dir, base_ + "/log");
    EXPECT_FALSE(out.served) << std::oct << mode;
    EXPECT_TRUE(WIFEXITED(out.status) && WEXITSTATUS(out.status) == 1) << std::oct << mode << ": " << out.status;
    EXPECT_NE(out.log.find("qxsimd: " + dir + ": writable by other users"), std::string::npos) << out.log;
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << "left as it was";
    EXPECT_TRUE(fs::is_empty(dir)) << "nothing made in it";
    fs::remove_all(dir);
  }
}

TEST_F(DaemonFolder, AFolderOnlyReadableByOthersIsMadePrivate) {
  const std::string dir = base_ + "/readable";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const Outcome out = RunDaemon(dir, base_ + "/log");
  EXPECT_TRUE(out.served) << out.log;
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(DaemonFolder, ALinkInTheFoldersPlaceIsRefused) {
  const std::string target = base_ + "/target";
  const std::string link = base_ + "/link";
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const Outcome out = RunDaemon(link, base_ + "/log");
  EXPECT_FALSE(out.served);
  EXPECT_TRUE(WIFEXITED(out.status) && WEXITSTATUS(out.status) == 1) << out.status;
  EXPECT_NE(out.log.find("not a folder"), std::string::npos) << out.log;
  EXPECT_TRUE(fs::is_empty(target));
}

// Links planted at the pid file, the ready file and the ready file's
// temporary name, towards files of the victim (and one that does not exist
// yet): the daemon serves, its own files replace the links, and the victim's
// files are as they were.
TEST_F(DaemonFolder, PlantedLinksAreReplacedNeverFollowed) {
  const std::string dir = base_ + "/world";
  const std::string victim = base_ + "/victim";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(victim.c_str(), 0700), 0);
  std::ofstream(victim + "/pid-target") << "precious 1\n";
  std::ofstream(victim + "/ready-target") << "precious 2\n";
  const struct {
    const char* name;
    std::string target;
  } links[] = {
      {"qxsimd.pid", victim + "/pid-target"},
      {"qxsimd.ready", victim + "/ready-target"},
      {"qxsimd.ready.tmp", victim + "/made-through-a-link"},
  };
  for (const auto& l : links) ASSERT_EQ(symlink(l.target.c_str(), (dir + "/" + l.name).c_str()), 0);

  const Outcome out = RunDaemon(dir, base_ + "/log", [&](pid_t pid) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/qxsimd.pid")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/qxsimd.ready")));
    EXPECT_EQ(ReadText(dir + "/qxsimd.pid"), std::to_string(pid) + "\n");
    EXPECT_EQ(ReadText(dir + "/qxsimd.ready"), std::to_string(pid) + "\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/qxsimd.ready.tmp")));
  });
  EXPECT_TRUE(out.served) << out.log;
  EXPECT_TRUE(WIFEXITED(out.status) && WEXITSTATUS(out.status) == 0) << out.status << out.log;
  EXPECT_EQ(ReadText(victim + "/pid-target"), "precious 1\n");
  EXPECT_EQ(ReadText(victim + "/ready-target"), "precious 2\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(victim + "/made-through-a-link")));
}

// The pid and ready files of a daemon that died (no one holds the pid file's
// lock) are replaced; the new daemon serves.
TEST_F(DaemonFolder, StaleMarkersOfADeadDaemonAreReplaced) {
  const std::string dir = base_ + "/world";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::ofstream(dir + "/qxsimd.pid") << "4194304\n";
  std::ofstream(dir + "/qxsimd.ready") << "4194304\n";
  std::ofstream(dir + "/qxsimd.ready.tmp") << "half";
  const Outcome out = RunDaemon(dir, base_ + "/log");
  EXPECT_TRUE(out.served) << out.log;
  EXPECT_TRUE(WIFEXITED(out.status) && WEXITSTATUS(out.status) == 0) << out.status << out.log;
  EXPECT_FALSE(fs::exists(dir + "/qxsimd.pid")) << "removed on the way out";
  EXPECT_FALSE(fs::exists(dir + "/qxsimd.ready"));
}

}  // namespace

// A daemon started with --parent stops when that process ends, however it
// ends, and removes its markers: a test process that crashes leaves no
// daemon behind. A parent that is not the daemon's own is refused at once.
TEST_F(DaemonFolder, ADaemonEndsWithTheParentItNames) {
  const std::string dir = base_ + "/child";
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The parent process: starts the daemon naming itself, waits until it
    // serves, reports, and dies without a word to it.
    close(report[0]);
    int ready[2];
    if (pipe(ready) != 0) _exit(3);
    const std::string me = std::to_string(getpid());
    std::string path = QXSIMD_PATH, d = "--dir", fd = "--ready-fd", three = "3", p = "--parent", self = me,
                dir_arg = dir;
    char* argv[] = {path.data(), d.data(), dir_arg.data(), fd.data(), three.data(), p.data(), self.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    pid_t daemon = 0;
    if (posix_spawn(&daemon, argv[0], &actions, nullptr, argv, environ) != 0) _exit(4);
    close(ready[1]);
    char line[64] = {};
    pollfd watch{ready[0], POLLIN, 0};
    if (poll(&watch, 1, 20000) <= 0 || read(ready[0], line, sizeof line - 1) <= 0) _exit(5);
    [[maybe_unused]] const ssize_t n = write(report[1], "served", 6);
    _exit(0);
  }
  close(report[1]);
  char said[16] = {};
  pollfd watch{report[0], POLLIN, 0};
  ASSERT_GT(poll(&watch, 1, 30000), 0);
  ASSERT_EQ(read(report[0], said, sizeof said - 1), 6);
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // The daemon removes its ready marker on the way out.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fs::exists(dir + "/qxsimd.ready") && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(fs::exists(dir + "/qxsimd.ready"));

  // Not our parent: refused before anything is made.
  const std::string other = base_ + "/other";
  std::string path = QXSIMD_PATH, d = "--dir", p = "--parent", one = "999999";
  char* argv[] = {path.data(), d.data(), const_cast<char*>(other.c_str()), p.data(), one.data(), nullptr};
  pid_t daemon = 0;
  ASSERT_EQ(posix_spawn(&daemon, argv[0], nullptr, nullptr, argv, environ), 0);
  ASSERT_EQ(waitpid(daemon, &status, 0), daemon);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_FALSE(fs::exists(other));
}
