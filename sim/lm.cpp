// lm.cpp - qxsimd, simulated-world side: the language monitor of one printer
// port (see lm.h). It serves "\\.\pipe\QXNamedPipe" + port name through the
// platform layer's Win32 named pipes, as the real monitor does in the
// spooler, so the library's pipe client meets the same calls and errors.
//
// Pipe: message type, message read mode, kInstances instances, each served
// by a thread of its own: ConnectNamedPipe, then one reply message for every
// request message until the client closes, then DisconnectNamedPipe and
// listen again. The library opens the pipe for each exchange, so this serves
// many short connections one after another.
//
// Frames, both ways: 03, a reserved byte, the payload length (16 bits,
// big-endian), the command or reply code, the payload, and the 16-bit
// big-endian sum of every byte before it. A request must be exactly one
// whole frame with a correct checksum; its reserved byte may hold anything.
//
// Replies:
//
//   request                     reply code    payload
//   0x00 plain status           0x00          "S" "00" 00 00: a status reply
//                                             with status word 0 (ready); a
//                                             placeholder until the printer
//                                             emulator answers
//   0x02 printer name           0x02          printer name, zero-terminated
//   0x03 port name              0x03          port name, zero-terminated
//   0x08 monitor version        0x08          version text, zero-terminated
//   any other command           "N" (0x4E)    none: not supported yet
//   not one valid frame         "B" (0x42)    none: bad frame
//
// A success reply echoes its command byte, as the pass-through command 0x12
// must (0x12 is its success code). Commands are 0x00 to 0x12, so no success
// code can be mistaken for one of the letters the library treats as failure
// ("B", "F", "N", "O", "T"). Texts are cut to fit the 1017-byte reply
// payload the library reads, zero included.
//
// Busy: the monitor keeps instances from listening after their client left,
// and takes every instance that still listens with client handles of its own
// (as any process hogging the pipe would), so that clients get
// ERROR_PIPE_BUSY. Clearing busy closes those handles and returns once an
// instance listens again.
#include "lm.h"

#include <windows.h>
#include <qxplatform.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qxsim {
namespace {

constexpr const char* kPipePrefix = "\\\\.\\pipe\\QXNamedPipe";
constexpr DWORD kInstances = 4;
constexpr DWORD kBufferSize = 4096;
constexpr size_t kFrameOverhead = 7;
constexpr size_t kMaxRequest = kFrameOverhead + 0xFFFF;  // the largest frame
constexpr size_t kMaxReplyPayload = 1024 - kFrameOverhead;
constexpr uint8_t kLeadByte = 0x03;
constexpr uint8_t kReplyBadFrame = 'B';
constexpr uint8_t kReplyNotSupported = 'N';
constexpr std::string_view kPlainStatus("S00\0\0", 5);
// Virtual ms that busy handling waits for an instance to listen.
constexpr DWORD kOccupyWait = 100;
constexpr DWORD kRelistenWait = 5000;
// Real-time bound on waiting for a serving thread to notice a holder.
constexpr auto kHolderNoticed = std::chrono::seconds(5);
constexpr int kOccupyRounds = 64;

// Frame - one frame of code and payload (at most 0xFFFF bytes).
std::string Frame(uint8_t code, std::string_view payload) {
  std::string frame;
  frame.reserve(kFrameOverhead + payload.size());
  frame += static_cast<char>(kLeadByte);
  frame += '\0';
  frame += static_cast<char>((payload.size() >> 8) & 0xFF);
  frame += static_cast<char>(payload.size() & 0xFF);
  frame += static_cast<char>(code);
  frame += payload;
  uint16_t sum = 0;
  for (const char c : frame) sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
  frame += static_cast<char>(sum >> 8);
  frame += static_cast<char>(sum & 0xFF);
  return frame;
}

// ParseRequest - the command byte of a message that is exactly one frame:
// lead byte 03, a length that accounts for every byte of the message, and
// the right checksum. False for anything else.
bool ParseRequest(std::string_view message, uint8_t* command) {
  if (message.size() < kFrameOverhead || static_cast<uint8_t>(message[0]) != kLeadByte) {
    return false;
  }
  const size_t length =
      (static_cast<size_t>(static_cast<uint8_t>(message[2])) << 8) | static_cast<uint8_t>(message[3]);
  if (message.size() != kFrameOverhead + length) return false;
  uint16_t sum = 0;
  for (size_t i = 0; i < 5 + length; ++i) {
    sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(message[i]));
  }
  const uint16_t stated = static_cast<uint16_t>((static_cast<uint8_t>(message[5 + length]) << 8) |
                                                static_cast<uint8_t>(message[6 + length]));
  if (sum != stated) return false;
  *command = static_cast<uint8_t>(message[4]);
  return true;
}

// A reply text: cut to fit the reply payload, then zero-terminated.
std::string Text(const std::string& text) {
  std::string payload = text.substr(0, std::min(text.size(), kMaxReplyPayload - 1));
  payload += '\0';
  return payload;
}

enum class SlotState {
  kListening,  // about to call, or in, ConnectNamedPipe
  kServing,    // a client (or a busy holder) is connected
  kParked,     // disconnected; kept from listening while busy
  kGone,       // its thread has ended
};

}  // namespace

struct LanguageMonitor::Impl {
  struct Slot {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    SlotState state = SlotState::kListening;  // guarded by Impl::lock
    std::mutex exchange;  // held from a request's reply being made to its being written
    std::thread thread;
  };

  explicit Impl(MonitorInfo monitor) : info(std::move(monitor)), pipe_name(kPipePrefix + info.port) {}

  // Serve - one instance's thread: listen, answer a client, disconnect, again.
  void Serve(Slot& slot) {
    std::vector<char> request(kMaxRequest);
    for (;;) {
      {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return stopping || !(busy && slot.state == SlotState::kParked); });
        if (stopping) break;
        slot.state = SlotState::kListening;
      }
      const BOOL connected = ConnectNamedPipe(slot.pipe, nullptr);
      const DWORD error = connected ? ERROR_SUCCESS : GetLastError();
      {
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) break;
        slot.state = SlotState::kServing;
        changed.notify_all();
      }
      if (connected || error == ERROR_PIPE_CONNECTED) {
        ServeClient(slot, request);
      } else if (error != ERROR_NO_DATA) {
        break;  // this instance is unusable; the others go on
      }
      {
        // Stopping or crashing: the instance is closed, not disconnected, so
        // that its client sees the pipe break rather than a disconnect.
        std::lock_guard<std::mutex> guard(lock);
        if (stopping) break;
      }
      DisconnectNamedPipe(slot.pipe);
      std::lock_guard<std::mutex> guard(lock);
      if (stopping) break;
      slot.state = SlotState::kParked;
    }
    std::lock_guard<std::mutex> guard(lock);
    slot.state = SlotState::kGone;
    changed.notify_all();
  }

  // ServeClient - answer requests until the client closes or the monitor stops.
  void ServeClient(Slot& slot, std::vector<char>& request) {
    for (;;) {
      DWORD got = 0;
      BOOL ok = ReadFile(slot.pipe, request.data(), static_cast<DWORD>(request.size()), &got, nullptr);
      bool too_long = false;
      while (!ok && GetLastError() == ERROR_MORE_DATA) {  // longer than any frame: read it away
        too_long = true;
        ok = ReadFile(slot.pipe, request.data(), static_cast<DWORD>(request.size()), &got, nullptr);
      }
      if (!ok) return;
      const std::string reply =
          too_long ? Frame(kReplyBadFrame, {}) : Answer(std::string_view(request.data(), got));
      std::lock_guard<std::mutex> exchange(slot.exchange);
      if (!AwaitReplyDelay()) return;
      DWORD written = 0;
      if (!WriteFile(slot.pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr)) {
        return;
      }
    }
  }

  std::string Answer(std::string_view message) {
    uint8_t command = 0;
    if (!ParseRequest(message, &command)) return Frame(kReplyBadFrame, {});
    switch (command) {
      case 0x00:
        return Frame(command, kPlainStatus);
      case 0x02: {
        std::lock_guard<std::mutex> guard(lock);
        return Frame(command, Text(info.printer));
      }
      case 0x03:
        return Frame(command, Text(info.port));
      case 0x08:
        return Frame(command, Text(info.version));
      default:
        return Frame(kReplyNotSupported, {});
    }
  }

  // False when the monitor crashed during the delay: no reply then.
  bool AwaitReplyDelay() {
    std::unique_lock<std::mutex> guard(lock);
    if (reply_delay_ms > 0 && !stopping) {
      const double real_us = std::ceil(reply_delay_ms * 1000.0 / qxplat_clock_scale());
      changed.wait_for(guard, std::chrono::microseconds(static_cast<int64_t>(real_us)),
                       [&] { return stopping; });
    }
    return !crashing;
  }

  size_t ListeningLocked() const {
    return static_cast<size_t>(std::count_if(slots.begin(), slots.end(), [](const auto& s) {
      return s->state == SlotState::kListening;
    }));
  }

  // Occupy - take every instance that listens with a holder handle. Called
  // with busy set, so instances whose client leaves stay parked.
  void Occupy() {
    for (int round = 0; round < kOccupyRounds; ++round) {
      size_t listening;
      {
        std::lock_guard<std::mutex> guard(lock);
        listening = ListeningLocked();
      }
      if (listening == 0) return;
      HANDLE holder = CreateFileA(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
      if (holder != INVALID_HANDLE_VALUE) {
        holders.push_back(holder);
        // The instance it took belongs to a listening slot: wait for that
        // slot's thread to see its client.
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, kHolderNoticed,
                         [&] { return stopping || ListeningLocked() < listening; });
        continue;
      }
      if (GetLastError() != ERROR_PIPE_BUSY) return;
      WaitNamedPipeA(pipe_name.c_str(), kOccupyWait);  // a slot about to listen
    }
  }

  // Release - give the held instances back; returns once one listens.
  void Release() {
    for (HANDLE h : holders) CloseHandle(h);
    holders.clear();
    WaitNamedPipeA(pipe_name.c_str(), kRelistenWait);
  }

  // Halt - Stop (abrupt false) or Crash (abrupt true).
  void Halt(bool abrupt) {
    std::lock_guard<std::mutex> serial(control);
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!running) return;
      stopping = true;
      crashing = abrupt;
      changed.notify_all();
    }
    for (auto& slot : slots) {
      if (abrupt) {
        CloseHandle(slot->pipe);
      } else {
        std::lock_guard<std::mutex> exchange(slot->exchange);  // a reply in progress goes out
        CloseHandle(slot->pipe);
      }
    }
    for (auto& slot : slots) {
      if (slot->thread.joinable()) slot->thread.join();
    }
    for (HANDLE h : holders) CloseHandle(h);
    holders.clear();
    slots.clear();
    std::lock_guard<std::mutex> guard(lock);
    running = false;
  }

  MonitorInfo info;  // port and version fixed; printer guarded by lock
  const std::string pipe_name;
  std::mutex control;  // Start, Stop, Crash and SetBusy run one at a time
  mutable std::mutex lock;
  std::condition_variable changed;
  // Guarded by lock:
  bool running = false;
  bool busy = false;
  bool stopping = false;
  bool crashing = false;
  unsigned reply_delay_ms = 0;
  // Changed only under control, while no serving thread runs:
  std::vector<std::unique_ptr<Slot>> slots;
  std::vector<HANDLE> holders;  // client handles that keep instances taken while busy
};

LanguageMonitor::LanguageMonitor(MonitorInfo info) : impl_(new Impl(std::move(info))) {}

LanguageMonitor::~LanguageMonitor() { impl_->Halt(false); }

bool LanguageMonitor::Start() {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> serial(m.control);
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.running) return false;
    m.stopping = false;
    m.crashing = false;
  }
  std::vector<HANDLE> pipes;
  for (DWORD i = 0; i < kInstances; ++i) {
    // The first instance claims the name: another server of it is an error.
    const DWORD first = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    HANDLE h = CreateNamedPipeA(m.pipe_name.c_str(), PIPE_ACCESS_DUPLEX | first,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kInstances,
                                kBufferSize, kBufferSize, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      for (HANDLE p : pipes) CloseHandle(p);
      return false;
    }
    pipes.push_back(h);
  }
  for (HANDLE h : pipes) {
    auto slot = std::make_unique<Impl::Slot>();
    slot->pipe = h;
    m.slots.push_back(std::move(slot));
  }
  bool busy;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    m.running = true;
    busy = m.busy;
  }
  try {
    for (auto& slot : m.slots) slot->thread = std::thread([&m, s = slot.get()] { m.Serve(*s); });
  } catch (const std::system_error&) {
    // Halt takes the control lock itself; the threads started so far stop.
    {
      std::lock_guard<std::mutex> guard(m.lock);
      m.stopping = true;
      m.changed.notify_all();
    }
    for (auto& slot : m.slots) {
      CloseHandle(slot->pipe);
      if (slot->thread.joinable()) slot->thread.join();
    }
    m.slots.clear();
    std::lock_guard<std::mutex> guard(m.lock);
    m.running = false;
    return false;
  }
  if (busy) m.Occupy();
  return true;
}

void LanguageMonitor::Stop() { impl_->Halt(false); }

void LanguageMonitor::Crash() { impl_->Halt(true); }

void LanguageMonitor::SetBusy(bool busy) {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> serial(m.control);
  bool running;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    m.busy = busy;
    running = m.running;
    m.changed.notify_all();
  }
  if (!running) return;
  if (busy) {
    m.Occupy();
  } else {
    m.Release();
  }
}

void LanguageMonitor::SetPrinterName(const std::string& printer) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->info.printer = printer;
}

void LanguageMonitor::SetReplyDelay(unsigned virtual_ms) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->reply_delay_ms = virtual_ms;
}

bool LanguageMonitor::running() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->running;
}

bool LanguageMonitor::busy() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->busy;
}

const MonitorInfo& LanguageMonitor::info() const { return impl_->info; }

}  // namespace qxsim
