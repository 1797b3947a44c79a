// isolation_test.cpp - what one client of qxsimd can do to the others:
// printer handles belong to the process that opened them, and idle or
// flooding connections cannot shut anyone out (the control API keeps slots
// of its own).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <qxplatform.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "wire.h"

namespace {

using nlohmann::json;

constexpr const char* kTicket = "QX ZDA-38 Ticket Printer";

int Connect(const std::string& dir, const char* socket_name) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = dir + "/" + socket_name;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A bound on every wait of the test's own; the daemon's answers come at once.
  const timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One request on a connection; null when the daemon closed it or is silent.
json Ask(int fd, const json& request) {
  if (!qxsim::WriteFrame(fd, request.dump())) return nullptr;
  std::string text;
  if (qxsim::ReadFrame(fd, text, qxsim::kMaxReply) != qxsim::ReadResult::kFrame) return nullptr;
  return json::parse(text, nullptr, false);
}

// ---- Handles belong to their process -------------------------------------------

class HandleOwner : public qxsim::SimFixture {};

// Another process that names this process's handle number is told there is
// no such handle, whatever it asks, and the document on it goes on.
TEST_F(HandleOwner, AnotherProcessCannotUseOrCloseTheHandle) {
  const int mine = Connect(dir(), qxsim::kSpoolerSocket);
  ASSERT_GE(mine, 0);
  const json opened = Ask(mine, {{"op", "open_printer"}, {"name", kTicket}, {"access", PRINTER_ALL_ACCESS}});
  ASSERT_EQ(opened["error"], 0) << opened;
  const uint64_t h = opened["handle"].get<uint64_t>();
  const json started = Ask(mine, {{"op", "start_doc"}, {"handle", h}, {"document", "Mine"}});
  ASSERT_EQ(started["error"], 0) << started;
  const uint64_t job = started["job"].get<uint64_t>();
  ASSERT_EQ(Ask(mine, {{"op", "write"}, {"handle", h}, {"data", "4142"}})["error"], 0);

  // The other process: its requests prepared here, its replies' error codes
  // sent back through a pipe (after fork it makes only system calls).
  const std::vector<json> foreign = {
      {{"op", "write"}, {"handle", h}, {"data", "5858"}},
      {{"op", "get_printer"}, {"handle", h}, {"level", 2}},
      {{"op", "start_page"}, {"handle", h}},
      {{"op", "end_page"}, {"handle", h}},
      {{"op", "enum_jobs"}, {"handle", h}, {"first", 0}, {"count", 10}, {"level", 1}},
      {{"op", "set_job"}, {"handle", h}, {"job", job}, {"command", 5}},
      {{"op", "get_printer_data"}, {"handle", h}, {"value", "AUTOSIZE"}},
      {{"op", "abort"}, {"handle", h}},
      {{"op", "end_doc"}, {"handle", h}},
      {{"op", "close_printer"}, {"handle", h}},
  };
  std::vector<std::string> frames;
  for (const json& r : foreign) {
    const std::string text = r.dump();
    const auto n = static_cast<uint32_t>(text.size());
    frames.push_back(std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                                 static_cast<char>(n)} +
                     text);
  }
  const std::string path = dir() + "/" + qxsim::kSpoolerSocket;
  int results[2];
  ASSERT_EQ(pipe2(results, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(results[0]);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const timeval limit{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(3);
    static char reply[65536];
    for (const std::string& frame : frames) {
      if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) _exit(4);
      unsigned char head[4];
      if (recv(fd, head, 4, MSG_WAITALL) != 4) _exit(5);
      const size_t n = (size_t{head[0]} << 24) | (size_t{head[1]} << 16) | (size_t{head[2]} << 8) | head[3];
      if (n + 1 > sizeof reply || recv(fd, reply, n, MSG_WAITALL) != static_cast<ssize_t>(n)) _exit(6);
      reply[n] = '\n';
      if (write(results[1], reply, n + 1) != static_cast<ssize_t>(n + 1)) _exit(7);
    }
    _exit(0);
  }
  close(results[1]);
  std::string out;
  char chunk[4096];
  for (;;) {
    pollfd p{results[0], POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    const ssize_t n = read(results[0], chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  close(results[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  size_t line = 0;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1, ++line) {
    const json reply = json::parse(out.substr(start, end - start), nullptr, false);
    ASSERT_LT(line, foreign.size());
    EXPECT_EQ(reply["error"], ERROR_INVALID_HANDLE) << foreign[line] << " -> " << reply;
  }
  EXPECT_EQ(line, foreign.size());

  // The owner's document is whole and prints.
  ASSERT_EQ(Ask(mine, {{"op", "write"}, {"handle", h}, {"data", "4344"}})["error"], 0);
  ASSERT_EQ(Ask(mine, {{"op", "end_doc"}, {"handle", h}})["error"], 0);
  EXPECT_EQ(control().Received("USB001"), "ABCD");
  EXPECT_EQ(Ask(mine, {{"op", "close_printer"}, {"handle", h}})["error"], 0);
  close(mine);
}

}  // namespace
