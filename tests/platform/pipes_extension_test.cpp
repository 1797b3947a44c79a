// pipes_extension_test.cpp - the POSIX platform layer's own guarantees for
// files and named pipes, beyond the Win32 contract: where pipes live in the
// world's runtime folder, refusal of bad arguments and of peers that break
// the protocol, the scaled clock of WaitNamedPipeA, call counts, fault
// injection, accounting, and calls woken by another thread.
#include <windows.h>
#include <qxplatform.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include "win32_expect.h"

namespace {

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE;

// Every test gets a world folder of its own and a fast clock; it must leave
// no object alive.
class PipeLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeFolder();
    setenv("QX_SIM_DIR", dir_.c_str(), 1);
    qxplat_clock_set_scale(1000);
  }
  void TearDown() override {
    qxplat_fault_clear();
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_SIM_DIR");
    for (const std::string& d : folders_) std::filesystem::remove_all(d);
    EXPECT_EQ(counts_.Leaks(), "");
  }
  std::string MakeFolder() {
    char path[] = "/tmp/qxpipes-XXXXXX";
    EXPECT_NE(mkdtemp(path), nullptr);
    folders_.push_back(path);
    return path;
  }

  std::string dir_;
  std::vector<std::string> folders_;
  const double scale_ = qxplat_clock_scale();
  const qxplat::LiveCounts counts_;
};

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (valid()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

HANDLE Serve(const std::string& name, DWORD pipe_mode = kMessagePipe, DWORD max = 1,
             DWORD default_timeout = 0, DWORD open_mode = PIPE_ACCESS_DUPLEX) {
  return CreateNamedPipeA(name.c_str(), open_mode, pipe_mode, max, 0, 0, default_timeout, nullptr);
}

HANDLE Open(const std::string& name, DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL SetMessageMode(HANDLE h) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
}

void Put(HANDLE h, const std::string& data) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
      << GetLastError();
}

std::string Get(HANDLE h, DWORD size = 256) {
  std::string buffer(size, '\0');
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buffer.data(), size, &read, nullptr)) << GetLastError();
  buffer.resize(read);
  return buffer;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

// Waits until function has been entered n times since the counts were reset.
void AwaitCalls(const char* function, uint64_t n) {
  while (qxplat_call_count(function) < n) std::this_thread::yield();
}

// ---- Where pipes live --------------------------------------------------------

TEST_F(PipeLayer, SocketIsNamedAfterTheFoldedEscapedName) {
  Handle server(Serve("\\\\.\\pipe\\QXNamedPipeLPT1:"));
  ASSERT_TRUE(server.valid()) << GetLastError();
  const std::string pipes = dir_ + "/pipes";
  struct stat st;
  ASSERT_EQ(stat(pipes.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(lstat((pipes + "/qxnamedpipelpt1%3a.sock").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_TRUE(Exists(pipes + "/qxnamedpipelpt1%3a.lock"));
  Handle client(Open("\\\\.\\PIPE\\qxnamedpipelpt1:"));
  EXPECT_TRUE(client.valid());
  client.Close();
  server.Close();
  EXPECT_TRUE(FolderEntries(pipes).empty());
}

TEST_F(PipeLayer, LongNamesUseAHashedSocketAndLongerOnesAreRefused) {
  const std::string prefix = "\\\\.\\pipe\\";
  const std::string longest = prefix + std::string(256 - prefix.size(), 'N');
  Handle server(Serve(longest));
  ASSERT_TRUE(server.valid()) << GetLastError();
  const std::vector<std::string> entries = FolderEntries(dir_ + "/pipes");
  ASSERT_EQ(entries.size(), 2u);  // "~" + 16 hex digits + ".sock" and ".lock"
  for (const std::string& e : entries) EXPECT_TRUE(e[0] == '~' && e.size() == 22) << e;
  Handle client(Open(prefix + std::string(256 - prefix.size(), 'n')));
  EXPECT_TRUE(client.valid()) << GetLastError();
  EXPECT_OPEN_FAILS(Serve(longest + "N"), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_OPEN_FAILS(Open(longest + "N"), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(PipeLayer, EachWorldHasItsOwnPipes) {
  const std::string name = "\\\\.\\pipe\\shared";
  Handle in_first(Serve(name));
  ASSERT_TRUE(in_first.valid());
  const std::string second = MakeFolder();
  setenv("QX_SIM_DIR", second.c_str(), 1);
  EXPECT_OPEN_FAILS(Open(name), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(WaitNamedPipeA(name.c_str(), 10), ERROR_FILE_NOT_FOUND);
  Handle in_second(Serve(name));
  Handle client_second(Open(name));
  ASSERT_TRUE(client_second.valid());

  setenv("QX_SIM_DIR", dir_.c_str(), 1);
  Handle client_first(Open(name));
  ASSERT_TRUE(client_first.valid());
  Put(in_first.get(), "first world");
  Put(in_second.get(), "second world");
  EXPECT_EQ(Get(client_first.get()), "first world");
  EXPECT_EQ(Get(client_second.get()), "second world");
}

TEST_F(PipeLayer, RuntimeFolderMustBeUsable) {
  const std::string name = "\\\\.\\pipe\\folder";
  const std::string fresh = dir_ + "/fresh";  // missing, its parent there: made 0700
  setenv("QX_SIM_DIR", fresh.c_str(), 1);
  Handle server(Serve(name));
  ASSERT_TRUE(server.valid()) << GetLastError();
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  server.Close();

  const std::string file = dir_ + "/a-file";
  std::fclose(std::fopen(file.c_str(), "w"));
  const struct {
    std::string folder;
    DWORD error;
  } cases[] = {
      {dir_ + "/no/such/parent", ERROR_PATH_NOT_FOUND},
      {file, ERROR_ACCESS_DENIED},
      {dir_ + "/" + std::string(120, 'd'), ERROR_BAD_PATHNAME},  // no socket path fits
  };
  for (const auto& c : cases) {
    setenv("QX_SIM_DIR", c.folder.c_str(), 1);
    EXPECT_OPEN_FAILS(Serve(name), c.error);
    EXPECT_OPEN_FAILS(Open(name), c.error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : c.error);
  }
}

// ---- Bad arguments -----------------------------------------------------------

TEST_F(PipeLayer, CreateNamedPipeRefusesBadArgumentsAndMismatchedInstances) {
  Handle existing(Serve("\\\\.\\pipe\\agree", kMessagePipe, 4));
  ASSERT_TRUE(existing.valid());
  const struct {
    const char* name;
    DWORD open_mode;
    DWORD pipe_mode;
    DWORD max;
    DWORD error;
  } cases[] = {
      {nullptr, PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_PATH_NOT_FOUND},
      {"pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_INVALID_NAME},
      {"\\\\.\\pipe\\", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_INVALID_NAME},
      {"\\\\.\\pipe\\x", 0, kMessagePipe, 1, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, kMessagePipe, 1,
       ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX | 0x10, kMessagePipe, 1, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe | PIPE_NOWAIT, 1, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe | 0x100, 1, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 0, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 256, ERROR_INVALID_PARAMETER},
      // Another instance of an existing name must agree with it.
      {"\\\\.\\pipe\\agree", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE, kMessagePipe, 4,
       ERROR_ACCESS_DENIED},
      {"\\\\.\\pipe\\agree", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, ERROR_ACCESS_DENIED},
      {"\\\\.\\pipe\\agree", PIPE_ACCESS_INBOUND, kMessagePipe, 4, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    EXPECT_OPEN_FAILS(CreateNamedPipeA(c.name, c.open_mode, c.pipe_mode, c.max, 0, 0, 0, nullptr),
                      c.error);
  }
  EXPECT_FALSE(Exists(dir_ + "/pipes/x.sock"));
}

TEST_F(PipeLayer, FileCallsRefuseBadArguments) {
  const struct {
    const char* name;
    DWORD disposition;
    DWORD flags;
    DWORD error;
  } opens[] = {
      {nullptr, OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
      {"", OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
      {"\\\\.\\pipe\\x", 0, 0, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", 6, 0, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\x", OPEN_EXISTING, FILE_FLAG_OVERLAPPED, ERROR_INVALID_PARAMETER},
      {"\\\\.\\pipe\\", OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
      // A world file in a folder this world does not have.
      {"C:\\Windows\\win.ini", OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : opens) {
    EXPECT_OPEN_FAILS(CreateFileA(c.name, GENERIC_READ, 0, nullptr, c.disposition, c.flags, nullptr),
                      c.error);
  }
  Handle server(Serve("\\\\.\\pipe\\args"));
  Handle client(Open("\\\\.\\pipe\\args"));
  ASSERT_TRUE(client.valid());
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  char buffer[4];
  DWORD count = 7;
  OVERLAPPED overlapped = {};
  for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), mutex}) {
    EXPECT_FAILS(ReadFile(bad, buffer, sizeof buffer, &count, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
    EXPECT_FAILS(WriteFile(bad, buffer, sizeof buffer, &count, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(FlushFileBuffers(bad), ERROR_INVALID_HANDLE);
  }
  CloseHandle(mutex);
  EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, &count, &overlapped),
               ERROR_INVALID_PARAMETER);
  EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, nullptr, nullptr),
               ERROR_INVALID_PARAMETER);
  EXPECT_FAILS(WriteFile(client.get(), nullptr, 4, &count, nullptr), ERROR_NOACCESS);
  EXPECT_FAILS(WriteFile(client.get(), buffer, sizeof buffer, &count, &overlapped),
               ERROR_INVALID_PARAMETER);
  // None of it disturbed the pipe.
  Put(client.get(), "still fine");
  EXPECT_EQ(Get(server.get()), "still fine");
}

TEST_F(PipeLayer, PipeCallsRefuseBadArgumentsAndWrongEnds) {
  const std::string name = "\\\\.\\pipe\\ends";
  Handle server(Serve(name));
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  OVERLAPPED overlapped = {};
  EXPECT_FAILS(ConnectNamedPipe(client.get(), nullptr), ERROR_INVALID_FUNCTION);
  EXPECT_FAILS(DisconnectNamedPipe(client.get()), ERROR_NOT_SUPPORTED);
  EXPECT_FAILS(ConnectNamedPipe(server.get(), &overlapped), ERROR_INVALID_PARAMETER);
  for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    EXPECT_FAILS(ConnectNamedPipe(bad, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(DisconnectNamedPipe(bad), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(SetNamedPipeHandleState(bad, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(PeekNamedPipe(bad, nullptr, 0, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  }
  for (DWORD mode : {DWORD{PIPE_NOWAIT}, DWORD{PIPE_READMODE_MESSAGE | PIPE_NOWAIT}, DWORD{0x10}}) {
    EXPECT_FAILS(SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr),
                 ERROR_INVALID_PARAMETER);
  }
  // Collection settings only matter between machines: ignored.
  DWORD count = 5, timeout = 10, mode = PIPE_READMODE_MESSAGE;
  EXPECT_TRUE(SetNamedPipeHandleState(client.get(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(SetNamedPipeHandleState(client.get(), &mode, &count, &timeout));
  EXPECT_FAILS(WaitNamedPipeA(nullptr, 10), ERROR_PATH_NOT_FOUND);
  EXPECT_FAILS(WaitNamedPipeA("C:\\not-a-pipe", 10), ERROR_PATH_NOT_FOUND);
}

TEST_F(PipeLayer, AccessFollowsThePipesDirection) {
  const std::string name = "\\\\.\\pipe\\inbound";
  Handle server(Serve(name, kMessagePipe, 2, 0, PIPE_ACCESS_INBOUND));
  EXPECT_OPEN_FAILS(Open(name), ERROR_ACCESS_DENIED);  // asks to read what only flows in
  Handle writer(Open(name, GENERIC_WRITE));
  ASSERT_TRUE(writer.valid());
  char buffer[4];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(writer.get(), buffer, sizeof buffer, &count, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_FAILS(WriteFile(server.get(), "x", 1, &count, nullptr), ERROR_ACCESS_DENIED);
  Put(writer.get(), "in");
  EXPECT_EQ(Get(server.get()), "in");
  // A read-only client end cannot set its read mode.
  Handle duplex(Serve("\\\\.\\pipe\\readonly"));
  Handle reader(Open("\\\\.\\pipe\\readonly", GENERIC_READ));
  EXPECT_FAILS(SetMessageMode(reader.get()), ERROR_ACCESS_DENIED);
}

TEST_F(PipeLayer, OverlongMessageIsRefusedAndThePipeGoesOn) {
  Handle server(Serve("\\\\.\\pipe\\big"));
  Handle client(Open("\\\\.\\pipe\\big"));
  ASSERT_TRUE(SetMessageMode(client.get()));
  std::vector<char> big((16u << 20) + 1, 'b');
  DWORD count = 0;
  EXPECT_FAILS(WriteFile(server.get(), big.data(), static_cast<DWORD>(big.size()), &count, nullptr),
               ERROR_INVALID_PARAMETER);
  // The largest message goes through whole (written while it is read).
  BOOL written = FALSE;
  std::thread writer([&] { written = WriteFile(server.get(), big.data(), 16u << 20, &count, nullptr); });
  EXPECT_EQ(Get(client.get(), (16u << 20) + 16).size(), 16u << 20);
  writer.join();
  EXPECT_TRUE(written);
}

// ---- Server states and reading ------------------------------------------------

TEST_F(PipeLayer, ServerEndReportsItsState) {
  const std::string name = "\\\\.\\pipe\\states";
  Handle server(Serve(name));
  char buffer[4];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(server.get(), buffer, sizeof buffer, &count, nullptr), ERROR_PIPE_LISTENING);
  EXPECT_FAILS(WriteFile(server.get(), "x", 1, &count, nullptr), ERROR_PIPE_LISTENING);
  EXPECT_FAILS(DisconnectNamedPipe(server.get()), ERROR_PIPE_LISTENING);
  EXPECT_TRUE(FlushFileBuffers(server.get()));  // no client: nothing to wait for
  // A client that came and went before ConnectNamedPipe.
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  client.Close();
  EXPECT_FAILS(ConnectNamedPipe(server.get(), nullptr), ERROR_NO_DATA);
  ASSERT_TRUE(DisconnectNamedPipe(server.get()));
  EXPECT_FAILS(DisconnectNamedPipe(server.get()), ERROR_PIPE_NOT_CONNECTED);
  EXPECT_FAILS(ReadFile(server.get(), buffer, sizeof buffer, &count, nullptr),
               ERROR_PIPE_NOT_CONNECTED);
  EXPECT_TRUE(FlushFileBuffers(server.get()));
}

TEST_F(PipeLayer, ByteReadModeAndEmptyMessages) {
  Handle server(Serve("\\\\.\\pipe\\bytes"));
  Handle client(Open("\\\\.\\pipe\\bytes"));
  // In byte read mode an empty message among others adds nothing; one on
  // its own is a read of 0 bytes; a read stops where the buffer ends.
  Put(server.get(), "ab");
  Put(server.get(), "");
  Put(server.get(), "cd");
  EXPECT_EQ(Get(client.get()), "abcd");
  Put(server.get(), "");
  EXPECT_EQ(Get(client.get()), "");
  Put(server.get(), "123456");
  EXPECT_EQ(Get(client.get(), 4), "1234");
  EXPECT_EQ(Get(client.get(), 4), "56");
  // On a byte pipe an empty write sends nothing at all.
  Handle byte_server(Serve("\\\\.\\pipe\\bytepipe", PIPE_TYPE_BYTE));
  Handle byte_client(Open("\\\\.\\pipe\\bytepipe"));
  Put(byte_server.get(), "");
  Put(byte_server.get(), "xy");
  EXPECT_EQ(Get(byte_client.get()), "xy");
}

TEST_F(PipeLayer, PeekShowsWithoutTaking) {
  Handle server(Serve("\\\\.\\pipe\\peek"));
  Handle client(Open("\\\\.\\pipe\\peek"));
  ASSERT_TRUE(SetMessageMode(client.get()));
  char buffer[8] = {};
  DWORD copied = 9, total = 9, left = 9;
  EXPECT_TRUE(PeekNamedPipe(client.get(), buffer, sizeof buffer, &copied, &total, &left));
  EXPECT_EQ(copied + total, 0u);
  Put(server.get(), "hello");
  Put(server.get(), "ab");
  EXPECT_TRUE(PeekNamedPipe(client.get(), buffer, 3, &copied, &total, &left));
  EXPECT_EQ(std::string(buffer, copied), "hel");
  EXPECT_EQ(total, 7u);
  EXPECT_EQ(left, 2u);
  EXPECT_EQ(Get(client.get()), "hello");
  EXPECT_EQ(Get(client.get()), "ab");
  server.Close();
  EXPECT_FAILS(PeekNamedPipe(client.get(), buffer, sizeof buffer, &copied, &total, &left),
               ERROR_BROKEN_PIPE);
}

// ---- Peers that do not speak the protocol ------------------------------------------

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  std::strcpy(sa.sun_path, path.c_str());
  return sa;
}

// The bytes a raw client sending hello gets until the server closes the
// connection.
std::string RawExchange(const std::string& path, const std::string& hello) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un sa = SocketAddress(path);
  EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
  send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);  // nothing more comes: the server must not wait for it
  std::string all;
  char buffer[64];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) all.append(buffer, n);
  close(fd);
  return all;
}

TEST_F(PipeLayer, GarbageFromAClientLeavesTheServerServing) {
  Handle server(Serve("\\\\.\\pipe\\garbage"));
  ASSERT_TRUE(server.valid());
  const std::string path = dir_ + "/pipes/garbage.sock";
  const std::string dropped[] = {
      "GET / HTTP/1.0\r\n\r\n",                           // not a hello at all
      std::string("QXP1\x01\x03\x00\x00", 8),             // a name of 0 bytes
      std::string("QXP1\x07\x03\x07\x00" "garbage", 15),  // an unknown operation
      std::string("QXP1\x01\x03\xff\xff", 8),             // a name longer than any
      "",                                                 // nothing, then gone
  };
  for (const std::string& hello : dropped) EXPECT_EQ(RawExchange(path, hello), "");
  // A hello for another name is answered "no such pipe" (5).
  EXPECT_EQ(RawExchange(path, std::string("QXP1\x01\x03\x05\x00" "other", 13)).substr(0, 1), "\x05");

  Handle client(Open("\\\\.\\pipe\\garbage"));
  ASSERT_TRUE(client.valid()) << GetLastError();
  Put(client.get(), "real");
  EXPECT_EQ(Get(server.get()), "real");
}

TEST_F(PipeLayer, AServerThatBreaksTheProtocolBreaksOnlyItsPipe) {
  // A listening socket at the pipe's path, answering one hello with bytes of
  // the case and then closing, or waiting for the client to close first.
  mkdir((dir_ + "/pipes").c_str(), 0700);
  const std::string path = dir_ + "/pipes/fake.sock";
  const std::string opened("\x01\x01\x00\x00\x32\x00\x00\x00", 8);
  const struct {
    const char* what;
    std::string answer;
    bool opens;  // CreateFileA succeeds
    bool stays;  // the fake keeps the connection until the client closes
  } cases[] = {
      {"no answer", "", false, false},
      {"unknown status", std::string("\x77\x01\x00\x00\x00\x00\x00\x00", 8), false, false},
      {"half an answer", std::string("\x01\x01", 2), false, false},
      {"unknown record", opened + std::string("\x09\x00\x00\x00\x00", 5), true, true},
      {"huge record", opened + std::string("\x01\xff\xff\xff\x7f", 5), true, true},
      {"cut record", opened + std::string("\x01\x10\x00\x00\x00" "abc", 8), true, false},
  };
  for (const auto& c : cases) {
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un sa = SocketAddress(path);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::thread fake([&] {
      const int fd = accept(listener, nullptr, nullptr);
      char buffer[512];
      if (recv(fd, buffer, sizeof buffer, 0) > 0) {
        send(fd, c.answer.data(), c.answer.size(), MSG_NOSIGNAL);
        while (c.stays && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
      }
      close(fd);
    });
    SetLastError(kUntouched);
    Handle client(Open("\\\\.\\pipe\\fake"));
    EXPECT_EQ(client.valid(), c.opens) << c.what;
    if (client.valid()) {
      char buffer[64];
      DWORD count = 0;
      EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr), ERROR_BROKEN_PIPE);
      client.Close();
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << c.what;
    }
    fake.join();
    close(listener);
    unlink(path.c_str());
  }
}

// ---- Clock, counts, faults, accounting -------------------------------------------

TEST_F(PipeLayer, WaitTimesOutOnTheScaledClock) {
  const std::string name = "\\\\.\\pipe\\clock";
  Handle server(Serve(name, kMessagePipe, 1, 3000));
  Handle client(Open(name));
  Handle server50(Serve("\\\\.\\pipe\\clock50"));  // no default given: 50 ms
  Handle client50(Open("\\\\.\\pipe\\clock50"));
  const struct {
    const char* pipe;
    DWORD time_out;
    uint64_t at_least;
  } cases[] = {{name.c_str(), 20000, 20000},
               {name.c_str(), NMPWAIT_USE_DEFAULT_WAIT, 3000},
               {"\\\\.\\pipe\\clock50", NMPWAIT_USE_DEFAULT_WAIT, 50}};
  for (const auto& c : cases) {
    const ULONGLONG start = GetTickCount64();
    EXPECT_FAILS(WaitNamedPipeA(c.pipe, c.time_out), ERROR_SEM_TIMEOUT);
    EXPECT_GE(GetTickCount64() - start, c.at_least);
  }
}

TEST_F(PipeLayer, CallsAreCountedByName) {
  const std::string name = "\\\\.\\pipe\\counted";
  qxplat_call_counts_reset();
  for (int i = 0; i < 3; ++i) WaitNamedPipeA(name.c_str(), 100);
  Open(name);
  ReadFile(INVALID_HANDLE_VALUE, nullptr, 0, nullptr, nullptr);  // counted before its checks
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 3u);
  EXPECT_EQ(qxplat_call_count("CreateFileA"), 1u);
  EXPECT_EQ(qxplat_call_count("ReadFile"), 1u);
  EXPECT_EQ(qxplat_call_count("WriteFile"), 0u);
  EXPECT_EQ(qxplat_call_count("NoSuchFunction"), 0u);
  EXPECT_EQ(qxplat_call_count(nullptr), 0u);
  qxplat_call_counts_reset();
  EXPECT_EQ(qxplat_call_count("WaitNamedPipeA"), 0u);
}

TEST_F(PipeLayer, InjectedFaultsFailCleanlyAndEndsAreCounted) {
  const std::string name = "\\\\.\\pipe\\faults";
  const int64_t pipes = qxplat_live_count(QXPLAT_KIND_PIPE);
  ASSERT_EQ(qxplat_fault_arm("open", 1, 0), 0);
  EXPECT_OPEN_FAILS(Serve(name), ERROR_PIPE_BUSY);
  EXPECT_FALSE(Exists(dir_ + "/pipes/faults.sock"));

  Handle server(Serve(name));
  ASSERT_TRUE(server.valid());
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), pipes + 1);
  ASSERT_EQ(qxplat_fault_arm("CreateFileA", 1, ERROR_ACCESS_DENIED), 0);
  EXPECT_OPEN_FAILS(Open(name), ERROR_ACCESS_DENIED);
  Handle client(Open(name));  // the instance still listens
  ASSERT_TRUE(client.valid());
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), pipes + 2);
  EXPECT_OPEN_FAILS(Open(name), ERROR_PIPE_BUSY);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), pipes + 2);

  Put(server.get(), "kept");
  ASSERT_EQ(qxplat_fault_arm("ReadFile", 1, 0), 0);
  char buffer[8];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr), ERROR_READ_FAULT);
  EXPECT_EQ(Get(client.get()), "kept");
  EXPECT_EQ(qxplat_fault_fired(), 3u);
}

// ---- Threads -----------------------------------------------------------------------

TEST_F(PipeLayer, ClosingAHandleWakesCallsBlockedOnIt) {
  const std::string name = "\\\\.\\pipe\\wake";
  qxplat_call_counts_reset();
  HANDLE server = Serve(name);
  DWORD connect_error = 0;
  std::thread connect([&] {
    if (!ConnectNamedPipe(server, nullptr)) connect_error = GetLastError();
  });
  AwaitCalls("ConnectNamedPipe", 1);
  ASSERT_TRUE(CloseHandle(server));
  connect.join();
  // Blocked when the handle closed, or just too late to find it.
  EXPECT_TRUE(connect_error == ERROR_BROKEN_PIPE || connect_error == ERROR_INVALID_HANDLE)
      << connect_error;

  Handle second(Serve(name));
  HANDLE client = Open(name);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD read_error = 0;
  std::thread read([&] {
    char buffer[4];
    DWORD count = 0;
    if (!ReadFile(client, buffer, sizeof buffer, &count, nullptr)) read_error = GetLastError();
  });
  AwaitCalls("ReadFile", 1);
  ASSERT_TRUE(CloseHandle(client));
  read.join();
  EXPECT_TRUE(read_error == ERROR_BROKEN_PIPE || read_error == ERROR_INVALID_HANDLE) << read_error;
  char buffer[4];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(second.get(), buffer, sizeof buffer, &count, nullptr), ERROR_BROKEN_PIPE);
}

TEST_F(PipeLayer, FlushWaitsUntilTheClientHasRead) {
  const std::string name = "\\\\.\\pipe\\flush";
  Handle server(Serve(name));
  Handle client(Open(name));
  ASSERT_TRUE(SetMessageMode(client.get()));
  EXPECT_TRUE(FlushFileBuffers(server.get()));  // nothing written yet
  // Written, flushed, disconnected: the flush holds the disconnect back
  // until the replies are read, so nothing is lost.
  Put(server.get(), "reply one");
  Put(server.get(), "reply two");
  BOOL flushed = FALSE;
  std::thread closer([&] {
    flushed = FlushFileBuffers(server.get());
    DisconnectNamedPipe(server.get());
  });
  EXPECT_EQ(Get(client.get()), "reply one");
  EXPECT_EQ(Get(client.get()), "reply two");
  closer.join();
  EXPECT_TRUE(flushed);
  char buffer[4];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr),
               ERROR_PIPE_NOT_CONNECTED);
}

TEST_F(PipeLayer, OneHandleReadsAndWritesOnTwoThreads) {
  Handle server(Serve("\\\\.\\pipe\\duplex"));
  Handle client(Open("\\\\.\\pipe\\duplex"));
  ASSERT_TRUE(SetMessageMode(client.get()));
  constexpr int kMessages = 300;
  std::thread echo([&] {
    for (int i = 0; i < kMessages; ++i) Put(server.get(), Get(server.get()));
  });
  std::vector<std::string> received;
  std::thread reader([&] {
    for (int i = 0; i < kMessages; ++i) received.push_back(Get(client.get()));
  });
  for (int i = 0; i < kMessages; ++i) Put(client.get(), "message " + std::to_string(i));
  reader.join();
  echo.join();
  ASSERT_EQ(received.size(), static_cast<size_t>(kMessages));
  for (int i = 0; i < kMessages; ++i) EXPECT_EQ(received[i], "message " + std::to_string(i));
}

}  // namespace
