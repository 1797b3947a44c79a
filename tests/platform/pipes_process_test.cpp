// pipes_process_test.cpp - named pipes between processes, as between qxsimd's
// language monitors and the library's clients: a forked child serves and the
// parent connects, and the other way round; the death of a serving process;
// busy instances across processes; one serving process per name.
//
// A child uses only Win32 and POSIX calls and reports through its exit code
// (0 for success, a distinct number for each step that failed). Parent and
// child wait for each other with the pipe operations themselves, or with a
// POSIX pipe where a step of the other side has no pipe operation to show.
// Every fork happens while the parent serves no pipe, so the child inherits
// no listener.
#include <windows.h>
#include <qxplatform.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include "win32_expect.h"

namespace {

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
const char* const kName = "\\\\.\\pipe\\QXNamedPipeUSB001";

class PipeProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/qxpipes-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    dir_ = path;
    setenv("QX_SIM_DIR", dir_.c_str(), 1);
    qxplat_clock_set_scale(1000);
  }
  void TearDown() override {
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_SIM_DIR");
    std::filesystem::remove_all(dir_);
    EXPECT_EQ(counts_.Leaks(), "");
  }
  std::string dir_;
  const double scale_ = qxplat_clock_scale();
  const qxplat::LiveCounts counts_;
};

// A one-byte signal from one process to the other.
class Signal {
 public:
  Signal() {
    if (pipe(fds_) != 0) std::abort();
  }
  ~Signal() {
    close(fds_[0]);
    close(fds_[1]);
  }
  void Notify() {
    const char byte = 1;
    if (write(fds_[1], &byte, 1) != 1) std::abort();
  }
  bool Await() {
    char byte;
    return read(fds_[0], &byte, 1) == 1;
  }

 private:
  int fds_[2];
};

// Runs body in a forked child, which exits with body's result.
template <class Body>
pid_t Fork(Body body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The child's exit code (128 + signal when killed).
int Reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

HANDLE Serve(DWORD max_instances = 1) {
  return CreateNamedPipeA(kName, PIPE_ACCESS_DUPLEX, kMessagePipe, max_instances, 4096, 4096, 0,
                          nullptr);
}

HANDLE Open() {
  return CreateFileA(kName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Opens the pipe as a client, waiting while it is busy.
HANDLE OpenWhenFree() {
  for (;;) {
    HANDLE h = Open();
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) return h;
    if (!WaitNamedPipeA(kName, NMPWAIT_WAIT_FOREVER)) return INVALID_HANDLE_VALUE;
  }
}

bool SetMessageMode(HANDLE h) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(h, &mode, nullptr, nullptr) != FALSE;
}

bool Put(HANDLE h, const std::string& data) {
  DWORD written = 0;
  return WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

// One read; false when it fails.
bool Get(HANDLE h, std::string* out) {
  char buffer[256];
  DWORD read = 0;
  if (!ReadFile(h, buffer, sizeof buffer, &read, nullptr)) return false;
  out->assign(buffer, read);
  return true;
}

// The server side of an exchange loop: for each of `clients` clients, answer
// every request with "pong:" and the request until the client closes.
int ServeClients(HANDLE server, int clients) {
  for (int i = 0; i < clients; ++i) {
    if (!ConnectNamedPipe(server, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 11;
    std::string request;
    while (Get(server, &request)) {
      if (!Put(server, "pong:" + request)) return 12;
    }
    if (GetLastError() != ERROR_BROKEN_PIPE) return 13;
    if (!DisconnectNamedPipe(server)) return 14;
  }
  return 0;
}

TEST_F(PipeProcess, ChildServesAndParentConnects) {
  Signal ready;
  const pid_t child = Fork([&] {
    HANDLE server = Serve();
    if (server == INVALID_HANDLE_VALUE) return 10;
    ready.Notify();
    const int result = ServeClients(server, 2);
    CloseHandle(server);
    return result;
  });
  ASSERT_TRUE(ready.Await());
  for (const char* request : {"ping", "again"}) {
    HANDLE client = OpenWhenFree();
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(SetMessageMode(client));
    ASSERT_TRUE(Put(client, request));
    std::string reply;
    ASSERT_TRUE(Get(client, &reply)) << GetLastError();
    EXPECT_EQ(reply, std::string("pong:") + request);
    CloseHandle(client);
  }
  EXPECT_EQ(Reap(child), 0);
}

TEST_F(PipeProcess, ParentServesAndChildConnects) {
  Signal go;
  const pid_t child = Fork([&] {
    if (!go.Await()) return 20;
    HANDLE client = OpenWhenFree();
    if (client == INVALID_HANDLE_VALUE) return 21;
    if (!SetMessageMode(client)) return 22;
    if (!Put(client, "ping")) return 23;
    std::string reply;
    if (!Get(client, &reply) || reply != "pong") return 24;
    // The server flushed and disconnected after the reply.
    if (Get(client, &reply) || GetLastError() != ERROR_PIPE_NOT_CONNECTED) return 25;
    CloseHandle(client);
    return 0;
  });
  HANDLE server = Serve();
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  go.Notify();
  BOOL connected = ConnectNamedPipe(server, nullptr);
  EXPECT_TRUE(connected || GetLastError() == ERROR_PIPE_CONNECTED);
  std::string request;
  ASSERT_TRUE(Get(server, &request));
  EXPECT_EQ(request, "ping");
  ASSERT_TRUE(Put(server, "pong"));
  // Waits until the child has read the reply, so the disconnect loses nothing.
  EXPECT_TRUE(FlushFileBuffers(server));
  EXPECT_TRUE(DisconnectNamedPipe(server));
  EXPECT_EQ(Reap(child), 0);
  CloseHandle(server);
}

TEST_F(PipeProcess, DeathOfTheServingProcessBreaksThePipeAndFreesTheName) {
  Signal ready;
  const pid_t child = Fork([&] {
    HANDLE server = Serve();
    if (server == INVALID_HANDLE_VALUE) return 30;
    ready.Notify();
    if (!ConnectNamedPipe(server, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 31;
    return 0;  // exits without closing anything, as a crash would
  });
  ASSERT_TRUE(ready.Await());
  HANDLE client = OpenWhenFree();
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  ASSERT_EQ(Reap(child), 0);

  char buffer[8];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(client, buffer, sizeof buffer, &count, nullptr), ERROR_BROKEN_PIPE);
  SetLastError(kUntouched);
  EXPECT_FALSE(WriteFile(client, "x", 1, &count, nullptr));
  EXPECT_TRUE(GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE);
  CloseHandle(client);

  // Its socket is still there, but nobody serves it.
  EXPECT_OPEN_FAILS(Open(), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(WaitNamedPipeA(kName, 100), ERROR_FILE_NOT_FOUND);

  // Another process may serve the name now.
  HANDLE server = Serve();
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  HANDLE again = OpenWhenFree();
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
  CloseHandle(server);
}

TEST_F(PipeProcess, BusyAcrossProcesses) {
  Signal ready;
  const pid_t child = Fork([&] {
    HANDLE server = Serve();
    if (server == INVALID_HANDLE_VALUE) return 40;
    ready.Notify();
    const int result = ServeClients(server, 2);
    CloseHandle(server);
    return result;
  });
  ASSERT_TRUE(ready.Await());
  HANDLE first = OpenWhenFree();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_OPEN_FAILS(Open(), ERROR_PIPE_BUSY);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FAILS(WaitNamedPipeA(kName, 2000), ERROR_SEM_TIMEOUT);
  EXPECT_GE(GetTickCount64() - start, 2000u);

  // Once the first client leaves, the child listens again and a waiting
  // client gets in.
  CloseHandle(first);
  EXPECT_TRUE(WaitNamedPipeA(kName, NMPWAIT_WAIT_FOREVER));
  HANDLE second = OpenWhenFree();
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  EXPECT_EQ(Reap(child), 0);
}

TEST_F(PipeProcess, OneProcessServesAName) {
  Signal ready, done;
  const pid_t child = Fork([&] {
    HANDLE server = Serve(4);
    if (server == INVALID_HANDLE_VALUE) return 50;
    ready.Notify();
    done.Await();
    CloseHandle(server);
    return 0;
  });
  ASSERT_TRUE(ready.Await());
  EXPECT_OPEN_FAILS(Serve(4), ERROR_ACCESS_DENIED);
  done.Notify();
  EXPECT_EQ(Reap(child), 0);
  // Closed by its owner, the name is free again.
  HANDLE server = Serve(4);
  EXPECT_NE(server, INVALID_HANDLE_VALUE);
  CloseHandle(server);
}

}  // namespace
