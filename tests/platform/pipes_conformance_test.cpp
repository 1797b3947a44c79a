// pipes_conformance_test.cpp - the Win32 named-pipe contract as the library
// and the language monitor rely on it: missing and busy pipes, instance
// limits, WaitNamedPipeA, read modes and messages, and what each end sees
// when the other goes or disconnects. Uses only Win32, so the same file
// builds for Windows and must pass there too.
//
// Style: SetLastError(0xdeadbeef) before the call, then check both the result
// and GetLastError(). Waits that must time out use short time-outs; nothing
// depends on how long anything takes.
#include <windows.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include "win32_expect.h"

namespace {

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
constexpr DWORD kBytePipe = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;

// A pipe name of this process, so that parallel runs never meet.
std::string PipeName(const char* tag) {
  return "\\\\.\\pipe\\qxconf-" + std::to_string(GetCurrentProcessId()) + "-" + tag;
}

// A handle closed at the end of the test (or earlier by Close).
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

HANDLE Serve(const std::string& name, DWORD pipe_mode, DWORD max_instances = 1,
             DWORD default_timeout = 0) {
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, pipe_mode, max_instances, 4096, 4096,
                          default_timeout, nullptr);
}

HANDLE Open(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

BOOL SetMessageMode(HANDLE h) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
}

void Put(HANDLE h, const std::string& data) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
      << GetLastError();
  ASSERT_EQ(written, data.size());
}

// One successful read of up to size bytes.
std::string Get(HANDLE h, DWORD size = 256) {
  std::string buffer(size, '\0');
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buffer.data(), size, &read, nullptr)) << GetLastError();
  buffer.resize(read);
  return buffer;
}

// Makes a disconnected server instance listen again and connects a new
// client to it, as a server loop and a waiting client would.
HANDLE Reconnect(HANDLE server, const std::string& name) {
  BOOL connected = FALSE;
  std::thread listen([&] { connected = ConnectNamedPipe(server, nullptr); });
  HANDLE client = INVALID_HANDLE_VALUE;
  if (WaitNamedPipeA(name.c_str(), NMPWAIT_WAIT_FOREVER)) client = Open(name);
  listen.join();
  EXPECT_TRUE(connected);
  return client;
}

// ---- Finding a pipe --------------------------------------------------------

TEST(NamedPipe, MissingPipeIsFileNotFound) {
  const std::string name = PipeName("missing");
  EXPECT_OPEN_FAILS(Open(name), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(WaitNamedPipeA(name.c_str(), 100), ERROR_FILE_NOT_FOUND);
  // A pipe whose last instance closed is gone again.
  Handle server(Serve(name, kMessagePipe));
  ASSERT_TRUE(server.valid());
  server.Close();
  EXPECT_OPEN_FAILS(Open(name), ERROR_FILE_NOT_FOUND);
}

TEST(NamedPipe, NamesIgnoreCase) {
  Handle server(Serve(PipeName("MixedCase"), kMessagePipe));
  ASSERT_TRUE(server.valid());
  std::string shouted = PipeName("MIXEDCASE");
  shouted.replace(4, 4, "PIPE");
  Handle client(Open(shouted));
  EXPECT_TRUE(client.valid()) << GetLastError();
}

TEST(NamedPipe, ClientMayConnectBeforeConnectNamedPipe) {
  const std::string name = PipeName("early");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(SetMessageMode(client.get()));
  Put(client.get(), "first");
  EXPECT_FAILS(ConnectNamedPipe(server.get(), nullptr), ERROR_PIPE_CONNECTED);
  EXPECT_EQ(Get(server.get()), "first");
}

// ---- Instances and busy pipes ----------------------------------------------

TEST(NamedPipe, BusyWhileEveryInstanceIsTakenAndNoMoreInstances) {
  const std::string name = PipeName("allbusy");
  Handle s1(Serve(name, kMessagePipe, 2));
  Handle s2(Serve(name, kMessagePipe, 2));
  ASSERT_TRUE(s2.valid());
  EXPECT_OPEN_FAILS(Serve(name, kMessagePipe, 2), ERROR_PIPE_BUSY);
  Handle c1(Open(name));
  Handle c2(Open(name));
  ASSERT_TRUE(c2.valid());
  EXPECT_OPEN_FAILS(Open(name), ERROR_PIPE_BUSY);
  EXPECT_FAILS(WaitNamedPipeA(name.c_str(), 50), ERROR_SEM_TIMEOUT);
}

TEST(NamedPipe, BusyUntilDisconnectedAndListeningAgain) {
  const std::string name = PipeName("relisten");
  Handle server(Serve(name, kMessagePipe));
  Handle first(Open(name));
  ASSERT_TRUE(first.valid());
  first.Close();
  // The client closed, but the server has not disconnected.
  EXPECT_OPEN_FAILS(Open(name), ERROR_PIPE_BUSY);
  // Disconnected, but not listening.
  ASSERT_TRUE(DisconnectNamedPipe(server.get()));
  EXPECT_OPEN_FAILS(Open(name), ERROR_PIPE_BUSY);
  EXPECT_FAILS(WaitNamedPipeA(name.c_str(), 50), ERROR_SEM_TIMEOUT);
  // Listening again: a waiting client gets it.
  Handle second(Reconnect(server.get(), name));
  EXPECT_TRUE(second.valid());
}

TEST(NamedPipe, WaitSucceedsForAListeningInstanceWithoutReservingIt) {
  const std::string name = PipeName("wait");
  Handle server(Serve(name, kMessagePipe, 1, 50));
  ASSERT_TRUE(server.valid());
  EXPECT_TRUE(WaitNamedPipeA(name.c_str(), 1000));
  EXPECT_TRUE(WaitNamedPipeA(name.c_str(), NMPWAIT_USE_DEFAULT_WAIT));
  // Another client takes the instance after the wait succeeded.
  Handle other(Open(name));
  ASSERT_TRUE(other.valid());
  EXPECT_OPEN_FAILS(Open(name), ERROR_PIPE_BUSY);
  // The server's default time-out (50 ms) bounds a default wait.
  EXPECT_FAILS(WaitNamedPipeA(name.c_str(), NMPWAIT_USE_DEFAULT_WAIT), ERROR_SEM_TIMEOUT);
}

// ---- Read modes and messages -----------------------------------------------

TEST(NamedPipe, ShortReadGivesMoreDataThenTheRest) {
  const std::string name = PipeName("moredata");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  SetLastError(kUntouched);
  ASSERT_TRUE(SetMessageMode(client.get()));
  EXPECT_EQ(GetLastError(), kUntouched);

  Put(server.get(), "hello world");
  char part[5];
  DWORD read = 0;
  EXPECT_FAILS(ReadFile(client.get(), part, sizeof part, &read, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(std::string(part, read), "hello");
  EXPECT_EQ(Get(client.get()), " world");
  // The same towards the server, whose read mode is message from creation.
  Put(client.get(), "request");
  EXPECT_FAILS(ReadFile(server.get(), part, 3, &read, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(std::string(part, read), "req");
  EXPECT_EQ(Get(server.get()), "uest");
}

TEST(NamedPipe, MessagesAreNeverMergedAndMayBeEmpty) {
  const std::string name = PipeName("separate");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  ASSERT_TRUE(SetMessageMode(client.get()));
  Put(server.get(), "one");
  Put(server.get(), "two");
  Put(server.get(), "");
  Put(server.get(), "x");
  EXPECT_EQ(Get(client.get()), "one");
  EXPECT_EQ(Get(client.get()), "two");
  DWORD read = 99;
  char buffer[16];
  EXPECT_TRUE(ReadFile(client.get(), buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(Get(client.get()), "x");
}

TEST(NamedPipe, ClientStartsInByteModeAndReadsAcrossMessages) {
  const std::string name = PipeName("bytemode");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  Put(server.get(), "abc");
  Put(server.get(), "def");
  EXPECT_EQ(Get(client.get(), 16), "abcdef");
}

TEST(NamedPipe, BytePipeRefusesMessageReadMode) {
  const std::string name = PipeName("bytepipe");
  EXPECT_OPEN_FAILS(Serve(name, PIPE_TYPE_BYTE | PIPE_READMODE_MESSAGE), ERROR_INVALID_PARAMETER);
  Handle server(Serve(name, kBytePipe));
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  EXPECT_FAILS(SetMessageMode(client.get()), ERROR_INVALID_PARAMETER);
  Put(server.get(), "ab");
  Put(server.get(), "cd");
  EXPECT_EQ(Get(client.get(), 16), "abcd");
}

// ---- The other end going ---------------------------------------------------

// A write to an end whose peer has gone: either error is Windows'.
void ExpectWriteToGonePeerFails(HANDLE h) {
  DWORD count = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
  const DWORD error = GetLastError();
  EXPECT_TRUE(error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) << error;
}

TEST(NamedPipe, ClientReadsWhatIsLeftAfterTheServerClosed) {
  const std::string name = PipeName("serverclose");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  ASSERT_TRUE(SetMessageMode(client.get()));
  Put(server.get(), "bye");
  server.Close();
  EXPECT_EQ(Get(client.get()), "bye");
  char buffer[8];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr), ERROR_BROKEN_PIPE);
  ExpectWriteToGonePeerFails(client.get());
}

TEST(NamedPipe, ServerSeesBrokenPipeAfterTheClientClosed) {
  const std::string name = PipeName("clientclose");
  Handle server(Serve(name, kMessagePipe));
  Handle client(Open(name));
  ASSERT_TRUE(client.valid());
  Put(client.get(), "last");
  client.Close();
  EXPECT_EQ(Get(server.get()), "last");
  char buffer[8];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(server.get(), buffer, sizeof buffer, &count, nullptr), ERROR_BROKEN_PIPE);
  ExpectWriteToGonePeerFails(server.get());
}

TEST(NamedPipe, DisconnectDiscardsUnreadDataAndCutsTheClientOff) {
  const std::string name = PipeName("disconnect");
  Handle server(Serve(name, kMessagePipe));
  Handle first(Open(name));
  ASSERT_TRUE(SetMessageMode(first.get()));
  Put(server.get(), "never read by the client");
  Put(first.get(), "never read by the server");
  ASSERT_TRUE(DisconnectNamedPipe(server.get()));
  char buffer[64];
  DWORD count = 0;
  EXPECT_FAILS(ReadFile(first.get(), buffer, sizeof buffer, &count, nullptr),
               ERROR_PIPE_NOT_CONNECTED);
  EXPECT_FAILS(WriteFile(first.get(), "x", 1, &count, nullptr), ERROR_PIPE_NOT_CONNECTED);
  first.Close();
  // The next client's data is all the server reads.
  Handle second(Reconnect(server.get(), name));
  ASSERT_TRUE(second.valid());
  Put(second.get(), "fresh");
  EXPECT_EQ(Get(server.get()), "fresh");
}

}  // namespace
