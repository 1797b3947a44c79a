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

#include <algorithm>
#include <cerrno>
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

// ---- Connections ----------------------------------------------------------------

// Connections that each asked one spooler request and are left open, idle;
// those the daemon turned away (it closed them) are not kept.
std::vector<int> IdleConnections(const std::string& dir, const char* socket_name, int count) {
  const json request = std::string(socket_name) == qxsim::kControlSocket ? json{{"op", "status"}}
                                                                          : json{{"op", "get_default_printer"}};
  std::vector<int> open;
  for (int i = 0; i < count; ++i) {
    const int fd = Connect(dir, socket_name);
    if (fd < 0) continue;
    if (Ask(fd, request).is_object()) {
      open.push_back(fd);
    } else {
      close(fd);
    }
  }
  return open;
}

// True once the daemon has closed fd, waiting until deadline at most.
bool ClosedByDaemon(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char byte;
    const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return n == 0;  // not bytes: nothing more was asked
  }
}

// The test's own bound on waiting for the daemon to act.
std::chrono::steady_clock::time_point Limit() { return std::chrono::steady_clock::now() + std::chrono::seconds(30); }

class Flood : public qxsim::SimFixture {};

// One process takes every spooler slot and sits on them: the control API
// still answers and stops the daemon (which ends the idle connections too).
TEST_F(Flood, IdleSpoolerConnectionsDoNotShutOutTheControlApi) {
  const std::vector<int> idle = IdleConnections(dir(), qxsim::kSpoolerSocket, 300);
  EXPECT_EQ(idle.size(), 256u) << "the spooler's slots";
  const int another = Connect(dir(), qxsim::kSpoolerSocket);
  EXPECT_TRUE(Ask(another, {{"op", "get_default_printer"}}).is_null()) << "turned away while all are taken";
  close(another);

  EXPECT_EQ(control().Status()["pid"], world().pid());
  control().Stop();
  EXPECT_TRUE(world().Stop()) << world().Log();
  const auto limit = Limit();
  for (int fd : idle) {
    EXPECT_TRUE(ClosedByDaemon(fd, limit));
    close(fd);
  }
}

// And the other way round: a flood on the control socket leaves the spooler
// serving.
TEST_F(Flood, IdleControlConnectionsDoNotShutOutTheSpooler) {
  const std::vector<int> idle = IdleConnections(dir(), qxsim::kControlSocket, 300);
  EXPECT_LT(idle.size(), 300u);
  const int fd = Connect(dir(), qxsim::kSpoolerSocket);
  EXPECT_EQ(Ask(fd, {{"op", "get_default_printer"}}), json({{"error", 0}, {"name", kTicket}}));
  close(fd);
  for (int c : idle) close(c);
}

// A connection that says nothing, or stops halfway through a request, is
// closed once the bound has passed on the daemon's clock; the slots come free.
TEST(IdleConnections, AreClosedAfterTheBoundOnTheScaledClock) {
  // The bound in about a second of real time.
  constexpr double kScale = static_cast<double>(qxsim::kIdleLimitMs) / 1000.0;
  std::string error;
  auto world = qxsim::SimWorld::Start(qxsim::SimWorld::Options{"", kScale}, &error);
  ASSERT_NE(world, nullptr) << error;
  const auto begin = std::chrono::steady_clock::now();

  std::vector<int> watched = IdleConnections(world->dir(), qxsim::kSpoolerSocket, 256);
  ASSERT_EQ(watched.size(), 256u);
  watched.push_back(Connect(world->dir(), qxsim::kControlSocket));  // says nothing
  const int cut = Connect(world->dir(), qxsim::kControlSocket);
  ASSERT_GE(cut, 0);
  ASSERT_EQ(send(cut, "\0\0\0\x40{\"op\"", 10, MSG_NOSIGNAL), 10);  // the rest never comes
  watched.push_back(cut);
  const auto limit = Limit();
  for (int fd : watched) {
    EXPECT_TRUE(ClosedByDaemon(fd, limit));
    close(fd);
  }
  const double virtual_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count() * kScale;
  EXPECT_GE(virtual_ms, static_cast<double>(qxsim::kIdleLimitMs)) << "closed before the bound";

  // The slots are free again.
  const int fd = Connect(world->dir(), qxsim::kSpoolerSocket);
  EXPECT_EQ(Ask(fd, {{"op", "get_default_printer"}})["error"], 0);
  close(fd);
  EXPECT_TRUE(world->Stop()) << world->Log();
}

}  // namespace
