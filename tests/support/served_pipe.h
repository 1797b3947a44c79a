// A language-monitor pipe served by the test itself, for replies no monitor
// would send: each request message is recorded and answered with what the
// test's answer function makes of it (an empty answer sends nothing and
// leaves the client waiting until it closes).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qxtest {

// Frame bytes as the monitor lays them out: 03, reserved, length (big-endian),
// code, payload, 16-bit sum of everything before.
inline std::string Frame(int code, const std::string& payload, int reserved = 0) {
  std::string f;
  f += '\x03';
  f += static_cast<char>(reserved);
  f += static_cast<char>(payload.size() >> 8);
  f += static_cast<char>(payload.size() & 0xFF);
  f += static_cast<char>(code);
  f += payload;
  unsigned sum = 0;
  for (unsigned char c : f) sum += c;
  f += static_cast<char>((sum >> 8) & 0xFF);
  f += static_cast<char>(sum & 0xFF);
  return f;
}

// The payload of a request frame (bytes 5 to 4 + L), or "" for a short one.
inline std::string PayloadOf(const std::string& frame) {
  if (frame.size() < 7) return "";
  const size_t length = (static_cast<unsigned char>(frame[2]) << 8) | static_cast<unsigned char>(frame[3]);
  return frame.substr(5, length);
}

inline int CommandOf(const std::string& frame) {
  return frame.size() > 4 ? static_cast<unsigned char>(frame[4]) : -1;
}

class ServedPipe {
 public:
  using Answer = std::function<std::string(const std::string& request)>;

  // Serves name with the given number of instances, each on a thread.
  ServedPipe(std::string name, Answer answer, int instances = 1)
      : name_(std::move(name)), answer_(std::move(answer)) {
    for (int i = 0; i < instances; ++i) {
      HANDLE pipe = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     static_cast<DWORD>(instances), 4096, 4096, 0, nullptr);
      if (pipe == INVALID_HANDLE_VALUE) continue;
      pipes_.push_back(pipe);
    }
    for (HANDLE pipe : pipes_) threads_.emplace_back([this, pipe] { Serve(pipe); });
  }

  ~ServedPipe() {
    stop_ = true;
    // Each instance is woken by a client of our own once it listens again.
    while (exited_ < static_cast<int>(threads_.size())) {
      HANDLE wake = CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
      if (wake != INVALID_HANDLE_VALUE) {
        CloseHandle(wake);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    for (std::thread& t : threads_) t.join();
    for (HANDLE pipe : pipes_) CloseHandle(pipe);
  }
  ServedPipe(const ServedPipe&) = delete;
  ServedPipe& operator=(const ServedPipe&) = delete;

  bool ok() const { return !pipes_.empty(); }
  const std::string& name() const { return name_; }

  // Every request message received, oldest first.
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }
  std::string LastRequest() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.empty() ? std::string() : requests_.back();
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.clear();
  }
  // Connections the server accepted (each library transaction is one).
  int Connections() const { return connections_; }

 private:
  void Serve(HANDLE pipe) {
    for (;;) {
      ConnectNamedPipe(pipe, nullptr);
      if (stop_) {
        DisconnectNamedPipe(pipe);
        ++exited_;
        return;
      }
      ++connections_;
      for (;;) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) break;
        const std::string request(buffer, read);
        {
          std::lock_guard<std::mutex> guard(lock_);
          requests_.push_back(request);
        }
        const std::string reply = answer_(request);
        if (reply.empty()) break;
        DWORD written = 0;
        if (!WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr)) break;
      }
      DisconnectNamedPipe(pipe);
    }
  }

  std::string name_;
  Answer answer_;
  std::vector<HANDLE> pipes_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> exited_{0};
  mutable std::mutex lock_;
  std::vector<std::string> requests_;
};

}  // namespace qxtest
