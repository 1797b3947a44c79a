// monitor_pipe.h - test support, the side of tests: a language monitor's pipe
// reached as the library reaches it (CreateFileA, message read mode, one
// WriteFile of a request frame, one ReadFile of the reply, CloseHandle), and
// the test's own frame builder and reply reader, kept apart from the code
// under test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace monitor_test {

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Request - a request frame of command and payload.
inline std::string Request(uint8_t command, const std::string& payload = "") {
  std::string frame;
  frame += '\x03';
  frame += '\0';
  frame += static_cast<char>(payload.size() >> 8);
  frame += static_cast<char>(payload.size() & 0xFF);
  frame += static_cast<char>(command);
  frame += payload;
  unsigned sum = 0;
  for (const char c : frame) sum += static_cast<unsigned char>(c);
  frame += static_cast<char>((sum >> 8) & 0xFF);
  frame += static_cast<char>(sum & 0xFF);
  return frame;
}

// A reply frame taken apart; valid when lead byte, length and checksum hold.
struct Reply {
  bool valid = false;
  uint8_t code = 0;
  std::string payload;
  std::string text() const { return payload.substr(0, payload.find('\0')); }
};

inline Reply Parse(const std::string& message) {
  Reply r;
  if (message.size() < 7) return r;
  const size_t length = static_cast<size_t>(static_cast<uint8_t>(message[2])) << 8 | static_cast<uint8_t>(message[3]);
  r.code = static_cast<uint8_t>(message[4]);
  if (message.size() != 7 + length) return r;
  r.payload = message.substr(5, length);
  unsigned sum = 0;
  for (size_t i = 0; i < 5 + length; ++i) sum += static_cast<unsigned char>(message[i]);
  const unsigned stated = static_cast<unsigned>(static_cast<uint8_t>(message[5 + length]) << 8 |
                                                static_cast<uint8_t>(message[6 + length]));
  r.valid = message[0] == '\x03' && (sum & 0xFFFF) == stated;
  return r;
}

enum class Busy { kWait, kFail };

// A pipe opened as the library opens it, closed at the end. While the pipe
// is busy it waits in 100 ms slices as the library does (an instance whose
// client just left is taken until the monitor listens on it again), unless
// busy is the answer the test expects.
class LibraryPipe {
 public:
  explicit LibraryPipe(const std::string& name, Busy busy = Busy::kWait) {
    for (int slice = 0;; ++slice) {
      h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      open_error_ = h_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (open_error_ != ERROR_PIPE_BUSY || busy == Busy::kFail || slice == 10000) break;
      WaitNamedPipeA(name.c_str(), 100);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (h_ != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(SetNamedPipeHandleState(h_, &mode, nullptr, nullptr));
    }
  }
  ~LibraryPipe() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  LibraryPipe(const LibraryPipe&) = delete;
  LibraryPipe& operator=(const LibraryPipe&) = delete;

  bool open() const { return h_ != INVALID_HANDLE_VALUE; }
  DWORD open_error() const { return open_error_; }
  HANDLE get() const { return h_; }

  // One write of the request, one read of up to read_size bytes; the reply,
  // or "" with *error set when a call fails.
  std::string Exchange(const std::string& request, DWORD* error = nullptr, size_t read_size = 1024) {
    DWORD count = 0;
    if (!WriteFile(h_, request.data(), static_cast<DWORD>(request.size()), &count, nullptr)) {
      if (error != nullptr) *error = GetLastError();
      return "";
    }
    std::string reply(read_size, '\0');
    if (!ReadFile(h_, reply.data(), static_cast<DWORD>(reply.size()), &count, nullptr)) {
      if (error != nullptr) *error = GetLastError();
      return "";
    }
    reply.resize(count);
    return reply;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  DWORD open_error_ = 0;
};

// One whole transaction on a fresh connection.
inline std::string Transact(const std::string& pipe_name, const std::string& request, size_t read_size = 1024) {
  LibraryPipe pipe(pipe_name);
  EXPECT_TRUE(pipe.open()) << pipe.open_error();
  return pipe.open() ? pipe.Exchange(request, nullptr, read_size) : "";
}

}  // namespace monitor_test
