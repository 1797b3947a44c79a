// lm.cpp - qxsimd, simulated-world side: the language monitor of one printer
// port (see lm.h). It serves "\\.\pipe\QXNamedPipe" + port name through the
// platform layer's Win32 named pipes, as the real monitor does in the
// spooler, so the library's pipe client meets the same calls and errors. Its
// frames are its own codec (lm_frame.h), independent of the library's, as an
// independent peer's would be.
//
// Pipe: message type, message read mode, kInstances instances, each served
// by a thread of its own: ConnectNamedPipe, then one reply message for every
// request message until the client closes, then DisconnectNamedPipe and
// listen again. The library opens the pipe for each exchange, so this serves
// many short connections one after another.
//
// Frames (lm_frame.h): a request must be exactly one whole frame with a
// correct checksum; its reserved byte may hold anything.
//
// Commands, reply codes and texts: lm_frame.h.
//
// Busy: the monitor keeps instances from listening after their client left,
// and takes every instance that still listens with client handles of its own
// (as any process hogging the pipe would), so that clients get
// ERROR_PIPE_BUSY. Clearing busy closes those handles and returns once an
// instance listens again.
//
// Locks: `lock` guards the monitor's state; the host (the daemon's world) is
// called with no lock of the monitor held.
#include "lm.h"

#include "lm_frame.h"

#include <sys/stat.h>

#include <windows.h>
#include <qxplatform.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qxsim {
namespace {

using namespace lm;

constexpr const char* kPipePrefix = "\\\\.\\pipe\\QXNamedPipe";
constexpr DWORD kInstances = 4;
constexpr DWORD kBufferSize = 4096;

// The status time-out a request of 0 ms (or command 0x00) stands for: the
// library's own default.
constexpr unsigned kDefaultStatusTimeOut = 20000;
// How long the monitor waits for the printer's RFID answer.
constexpr unsigned kRfidTimeOut = 2000;
constexpr size_t kMaxRfidRequest = 1024;
constexpr size_t kMaxProgressRequest = 127;
constexpr size_t kMaxDataName = 259;  // the spooler's limit for printer data names
// Limits of a reply script: a payload fits a frame; a whole message 1 MiB.
constexpr size_t kMaxScriptMessage = size_t{1} << 20;
constexpr size_t kRequestLogBytes = size_t{4} << 20;

// Virtual ms that busy handling waits for an instance to listen.
constexpr DWORD kOccupyWait = 100;
constexpr DWORD kRelistenWait = 5000;
// Real-time bound on waiting for a serving thread to notice a holder.
constexpr auto kHolderNoticed = std::chrono::seconds(5);
constexpr int kOccupyRounds = 64;


enum class SlotState {
  kListening,  // about to call, or in, ConnectNamedPipe
  kServing,    // a client (or a busy holder) is connected
  kParked,     // disconnected; kept from listening while busy
  kGone,       // its thread has ended
};

bool ScriptIsEmpty(const ReplyScript& s) {
  return !s.reply_code && !s.payload && !s.bad_checksum && !s.lead_byte && !s.declared_length &&
         !s.reply_size && s.delay_ms == 0;
}

}  // namespace

struct LanguageMonitor::Impl : MonitorCounts {
  struct Slot {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    SlotState state = SlotState::kListening;  // guarded by Impl::lock
    std::mutex exchange;  // held from a request's reply being made to its being written
    std::thread thread;
  };

  Impl(MonitorInfo monitor, MonitorHost* world)
      : info(std::move(monitor)), pipe_name(kPipePrefix + info.port), host(world) {
    reload_on_devmode = info.reload_on_devmode;
    reload_on_job = info.reload_on_job;
    if (host == nullptr) {
      own_device = std::make_shared<DeviceEmulator>(info.port);
      own_device->Attach(Device{});
    }
  }

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
  void ServeClient(Slot& slot, std::vector<char>& buffer) {
    for (;;) {
      DWORD got = 0;
      BOOL ok = ReadFile(slot.pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr);
      std::string message(buffer.data(), ok || GetLastError() == ERROR_MORE_DATA ? got : 0);
      bool too_long = false;
      while (!ok && GetLastError() == ERROR_MORE_DATA) {  // longer than any frame: read it away
        too_long = true;
        ok = ReadFile(slot.pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr);
        if (ok || GetLastError() == ERROR_MORE_DATA) {
          message.append(buffer.data(), std::min<size_t>(got, kMaxRequest - std::min(message.size(), kMaxRequest)));
        }
      }
      if (!ok) return;
      LogRequest(message);
      int command = -1;
      const Reply reply = too_long ? Reply{kReplyBadFrame, {}} : Answer(message, &command);
      unsigned extra_delay = 0;
      const std::string bytes = Shape(reply, command, &extra_delay);
      std::lock_guard<std::mutex> exchange(slot.exchange);
      if (!AwaitReplyDelay(extra_delay)) return;
      // Counted before the write: a client that has read its reply then
      // finds it counted (a count made after could still be pending).
      {
        std::lock_guard<std::mutex> guard(lock);
        ++exchanges;
      }
      DWORD written = 0;
      if (!WriteFile(slot.pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        std::lock_guard<std::mutex> guard(lock);
        --exchanges;  // never reached its client
        return;
      }
    }
  }

  // LogRequest - keep the message; the oldest go when the log holds more
  // than kRequestLog messages or kRequestLogBytes bytes (so that it fits a
  // control reply).
  void LogRequest(const std::string& message) {
    std::lock_guard<std::mutex> guard(lock);
    requests.push_back(message);
    logged_bytes += message.size();
    while (requests.size() > kRequestLog || (logged_bytes > kRequestLogBytes && requests.size() > 1)) {
      logged_bytes -= requests.front().size();
      requests.pop_front();
    }
  }

  // Answer - the reply to one request message; *command is its command
  // byte, or -1 when it is not a frame.
  Reply Answer(std::string_view message, int* command) {
    uint8_t code = 0;
    std::string_view payload;
    if (!ParseRequest(message, &code, &payload)) return {kReplyBadFrame, {}};
    *command = code;
    // A flash run done by now has restarted the printer with its firmware.
    if (const auto device = DeviceOfPort()) device->Settle(qxplat_clock_now_ms());
    switch (code) {
      case kPlainStatus:
        return Status(code, 0, std::string_view("\x1b" "IS", 3));
      case kStatusInquiry: {
        if (payload.size() < 2) return {kReplyBadFrame, {}};
        const unsigned timeout = (static_cast<uint8_t>(payload[0]) << 8) | static_cast<uint8_t>(payload[1]);
        return Status(code, timeout, payload.substr(2));
      }
      case kPrinterName: {
        std::lock_guard<std::mutex> guard(lock);
        return Ok(code, info.printer);
      }
      case kPortName:
        return Ok(code, info.port);
      case kVersion:
        return Ok(code, info.version);
      case kPrintInProgress: {
        const bool printing = host != nullptr && host->JobInProgress(info.port);
        return {code, printing ? "D" : "I"};
      }
      case kHeartBeat:
      case kSaveMethod: {
        if (payload.size() != 1) return Failed("BAD LENGTH");
        std::lock_guard<std::mutex> guard(lock);
        (code == kHeartBeat ? heartbeat : save_method) = static_cast<uint8_t>(payload[0]);
        return Ok(code, code == kHeartBeat ? "HEARTBEAT SET" : "SAVE METHOD SET");
      }
      case kHeartBeatRate: {
        if (payload.size() != 4) return Failed("BAD LENGTH");
        std::lock_guard<std::mutex> guard(lock);
        heartbeat_rate = static_cast<int32_t>(LittleEndian32(payload));
        return Ok(code, "HEARTBEAT RATE SET");
      }
      case kWdSetup: {
        if (payload.size() != 4) return Failed("BAD LENGTH");
        std::lock_guard<std::mutex> guard(lock);
        for (size_t i = 0; i < 4; ++i) wd_setup[i] = static_cast<uint8_t>(payload[i]);
        return Ok(code, "WD SETUP SET");
      }
      case kProgramFlash:
        return ProgramFlash(code, payload);
      case kFlashProgress:
        return Progress(code, payload);
      case kAbortDocument: {
        std::string document;
        const bool aborted = host != nullptr && host->AbortJob(info.port, &document);
        std::lock_guard<std::mutex> guard(lock);
        ++aborts;
        return Ok(code, aborted ? "DOCUMENT ABORTED" : "NO DOCUMENT");
      }
      case kRegistryValue:
        return RegistryValue(code, payload);
      case kGetCrcError: {
        std::lock_guard<std::mutex> guard(lock);
        return {code, crc_error ? "1" : "0"};
      }
      case kClearCrcError: {
        std::lock_guard<std::mutex> guard(lock);
        crc_error = false;
        return Ok(code, "CRC ERROR CLEARED");
      }
      case kResetPrinter: {
        std::lock_guard<std::mutex> guard(lock);
        crc_error = false;
        ++resets;
        return Ok(code, "PRINTER RESET");
      }
      case kRfid:
        return Rfid(code, payload);
      default:
        return {kReplyNotSupported, {}};
    }
  }

  // The device on the port; a monitor without a world has an idle printer
  // of its own.
  std::shared_ptr<DeviceEmulator> DeviceOfPort() const {
    return host == nullptr ? own_device : host->DeviceOn(info.port);
  }

  // Status - pass an inquiry to the printer and wait for its answer, at most
  // timeout virtual ms (0: the default).
  Reply Status(uint8_t code, unsigned timeout, std::string_view inquiry) {
    if (timeout == 0) timeout = kDefaultStatusTimeOut;
    const auto device = DeviceOfPort();
    const DeviceEmulator::Answer answer = device ? device->Inquire(inquiry) : DeviceEmulator::Answer{};
    if (!answer.bytes) {
      WaitVirtual(timeout);
      return {kReplyNoResponse, {}};
    }
    if (answer.delay_ms > timeout) {
      WaitVirtual(timeout);
      return {kReplyTimedOut, {}};
    }
    if (!WaitVirtual(answer.delay_ms)) return {kReplyNoResponse, {}};
    return {code, *answer.bytes};
  }

  Reply Rfid(uint8_t code, std::string_view request) {
    if (request.empty() || request.size() > kMaxRfidRequest) return Failed("BAD LENGTH");
    const auto device = DeviceOfPort();
    const DeviceEmulator::Answer answer = device ? device->Rfid(request) : DeviceEmulator::Answer{};
    if (!answer.bytes || answer.delay_ms > kRfidTimeOut) {
      WaitVirtual(kRfidTimeOut);
      return {kReplyRfidNoResponse, {}};
    }
    if (!WaitVirtual(answer.delay_ms)) return {kReplyRfidNoResponse, {}};
    return {code, *answer.bytes};
  }

  Reply RegistryValue(uint8_t code, std::string_view payload) {
    // 4 bytes of value, a name of at least one character, one zero.
    if (payload.size() < 6 || payload.back() != '\0') return Failed("BAD REGISTRY REQUEST");
    const std::string_view name = payload.substr(4, payload.size() - 5);
    if (name.find('\0') != std::string_view::npos) return Failed("BAD REGISTRY REQUEST");
    if (name.size() > kMaxDataName) return Failed("KEY TOO LONG");
    const uint32_t value = LittleEndian32(payload);
    std::string printer;
    {
      std::lock_guard<std::mutex> guard(lock);
      printer = info.printer;
    }
    std::string error = "NO PRINTER";
    if (host == nullptr || !host->WriteDataValue(printer, std::string(name), value, &error)) {
      return Failed(error);
    }
    return Ok(code, "REGISTRY KEY SET");
  }

  // ProgramFlash - read the firmware file and hand it to the device, which
  // runs the flash on the clock.
  Reply ProgramFlash(uint8_t code, std::string_view payload) {
    if (payload.size() < 2 || (payload[0] != 'T' && payload[0] != 'F')) return Failed("BAD FLASH REQUEST");
    std::string file(payload.substr(1));
    if (!file.empty() && file.back() == '\0') file.pop_back();  // a terminator sent along
    if (file.empty() || file.find('\0') != std::string::npos) return Failed("BAD FLASH REQUEST");
    const auto device = DeviceOfPort();
    if (device != nullptr && device->FlashRunning(qxplat_clock_now_ms())) return Failed("FLASH BUSY");
    if (device == nullptr || !device->attached()) return Failed("NO PRINTER");
    std::string contents;
    std::string error;
    if (!ReadWholeFile(file, &contents, &error)) return Failed(error);
    unsigned block_ms;
    {
      std::lock_guard<std::mutex> guard(lock);
      block_ms = flash_block_ms;
    }
    const std::string refused =
        device->StartFlash(contents, payload[0] == 'T', block_ms, file, qxplat_clock_now_ms());
    if (!refused.empty()) return Failed(refused);
    return Ok(code, "FLASH STARTED");
  }

  Reply Progress(uint8_t code, std::string_view request) {
    if (request.size() > kMaxProgressRequest) return Failed("REQUEST TOO LONG");
    const uint64_t now = qxplat_clock_now_ms();
    const auto device = DeviceOfPort();
    const FlashProgress p = device ? device->Progress(now) : ProgressAt(FlashRun{}, now);
    if (device) device->Settle(now);  // a run reported done has its firmware in the device
    char text[160];
    std::snprintf(text, sizeof text, "%d,%u,%u,%c,%s", static_cast<int>(p.state), p.max, p.current,
                  p.pass ? 'P' : 'F', p.note.c_str());
    return Ok(code, text);
  }

  // Shape - the reply message: the reply as a frame, changed by the script
  // when one applies to the command (-1: a request that was no frame).
  std::string Shape(const Reply& reply, int command, unsigned* extra_delay) {
    std::lock_guard<std::mutex> guard(lock);
    const bool applies =
        script && (!script->commands || script->commands->empty() ||
                   (command >= 0 && std::find(script->commands->begin(), script->commands->end(),
                                              static_cast<uint8_t>(command)) != script->commands->end()));
    if (!applies) {
      return Frame(reply.code, reply.payload, kLeadByte, static_cast<uint16_t>(reply.payload.size()), false);
    }
    const ReplyScript& s = *script;
    const std::string& payload = s.payload ? *s.payload : reply.payload;
    std::string bytes = Frame(s.reply_code.value_or(reply.code), payload, s.lead_byte.value_or(kLeadByte),
                              s.declared_length.value_or(static_cast<uint16_t>(payload.size())), s.bad_checksum);
    if (s.reply_size) bytes.resize(*s.reply_size, '\0');
    *extra_delay = s.delay_ms;
    if (s.times != 0 && ++script_used >= s.times) script.reset();
    return bytes;
  }

  // WaitVirtual - ms virtual milliseconds, cut short when the monitor stops;
  // false then.
  bool WaitVirtual(uint64_t ms) {
    std::unique_lock<std::mutex> guard(lock);
    if (ms > 0 && !stopping) {
      const double real_us = std::ceil(static_cast<double>(ms) * 1000.0 / qxplat_clock_scale());
      changed.wait_for(guard, std::chrono::microseconds(static_cast<int64_t>(real_us)),
                       [&] { return stopping; });
    }
    return !stopping;
  }

  // False when the monitor crashed during the delay: no reply then.
  bool AwaitReplyDelay(unsigned extra_ms) {
    unsigned delay;
    {
      std::lock_guard<std::mutex> guard(lock);
      delay = reply_delay_ms;
    }
    WaitVirtual(uint64_t{delay} + extra_ms);
    std::lock_guard<std::mutex> guard(lock);
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
  MonitorHost* const host;
  std::mutex control;  // Start, Stop, Crash and SetBusy run one at a time
  mutable std::mutex lock;
  std::condition_variable changed;
  // Guarded by lock, as are the MonitorCounts it derives from:
  bool running = false;
  bool busy = false;
  bool stopping = false;
  bool crashing = false;
  bool reload_on_devmode = false;
  bool reload_on_job = false;
  std::optional<ReplyScript> script;
  unsigned script_used = 0;
  std::deque<std::string> requests;
  size_t logged_bytes = 0;  // of requests
  std::shared_ptr<DeviceEmulator> own_device;  // without a host: an idle printer of its own
  // Changed only under control, while no serving thread runs:
  std::vector<std::unique_ptr<Slot>> slots;
  std::vector<HANDLE> holders;  // client handles that keep instances taken while busy
};

LanguageMonitor::LanguageMonitor(MonitorInfo info, MonitorHost* host)
    : impl_(new Impl(std::move(info), host)) {}

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

void LanguageMonitor::Change(const MonitorSettings& s) {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> guard(m.lock);
  if (s.crc_error) m.crc_error = *s.crc_error;
  if (s.reload_on_devmode) m.reload_on_devmode = *s.reload_on_devmode;
  if (s.reload_on_job) m.reload_on_job = *s.reload_on_job;
  if (s.reply_delay_ms) m.reply_delay_ms = *s.reply_delay_ms;
  if (s.flash_block_ms) m.flash_block_ms = *s.flash_block_ms;
}

void LanguageMonitor::SetScript(const ReplyScript& script) {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> guard(m.lock);
  m.script_used = 0;
  if (ScriptIsEmpty(script)) {
    m.script.reset();
    return;
  }
  ReplyScript s = script;
  if (s.payload && s.payload->size() > 0xFFFF) s.payload->resize(0xFFFF);
  if (s.reply_size && *s.reply_size > kMaxScriptMessage) s.reply_size = kMaxScriptMessage;
  m.script = std::move(s);
}

bool LanguageMonitor::Reload(ReloadCause cause) {
  Impl& m = *impl_;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.running) return false;
    if (!(cause == ReloadCause::kDevmode ? m.reload_on_devmode : m.reload_on_job)) return false;
  }
  if (!Start()) return false;
  std::lock_guard<std::mutex> guard(m.lock);
  ++m.reloads;
  return true;
}

std::vector<std::string> LanguageMonitor::Requests(bool clear) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  std::vector<std::string> list(impl_->requests.begin(), impl_->requests.end());
  if (clear) {
    impl_->requests.clear();
    impl_->logged_bytes = 0;
  }
  return list;
}

MonitorSnapshot LanguageMonitor::Snapshot() const {
  const Impl& m = *impl_;
  // The host is asked with no lock of the monitor held.
  const auto device = m.DeviceOfPort();
  const uint64_t now = qxplat_clock_now_ms();
  const FlashProgress flash = device ? device->Progress(now) : ProgressAt(FlashRun{}, now);
  std::lock_guard<std::mutex> guard(m.lock);
  MonitorSnapshot s;
  s.info = m.info;
  s.info.reload_on_devmode = m.reload_on_devmode;
  s.info.reload_on_job = m.reload_on_job;
  static_cast<MonitorCounts&>(s) = m;
  s.running = m.running;
  s.busy = m.busy;
  s.flash = flash;
  return s;
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
