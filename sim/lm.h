// lm.h - qxsimd, simulated-world side: the language monitor of one printer
// port. It serves the named pipe "\\.\pipe\QXNamedPipe" + port name on its
// own threads and answers one reply frame for every request frame: the whole
// command table, with the port's device emulator (device/device.h) behind it
// and the world reached through a MonitorHost. docs/world.md lists the
// commands, their replies and texts.
//
// Its frame codec is its own, not the wire library's: the monitor is an
// independent peer of the library's pipe client, as a real printer's
// monitor is, so that the two sides never share a mistake.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device.h"

namespace qxsim {

struct MonitorInfo {
  std::string port;     // "USB001", "LPT1:", ...
  std::string printer;  // the printer on that port, answered to command 0x02
  std::string version;  // the monitor's version text, answered to command 0x08
  bool reload_on_devmode = false;  // see LanguageMonitor::Reload
  bool reload_on_job = false;
};

// What a monitor reaches of the world beyond its pipe. The daemon implements
// it over its world, under its own lock; the monitor calls it from its
// serving threads and never while holding a lock of its own.
class MonitorHost {
 public:
  virtual ~MonitorHost() = default;
  // The device emulator on port; null when the world has no such port.
  virtual std::shared_ptr<DeviceEmulator> DeviceOn(const std::string& port) = 0;
  // Whether a printer on port has a job queued or being spooled.
  virtual bool JobInProgress(const std::string& port) = 0;
  // Deletes the oldest job of the printers on port; false when there is none.
  // *document receives its name.
  virtual bool AbortJob(const std::string& port, std::string* document) = 0;
  // Writes a REG_DWORD printer data value of the printer named printer;
  // false with a short reason in *error.
  virtual bool WriteDataValue(const std::string& printer, const std::string& name, uint32_t value,
                              std::string* error) = 0;
};

// Settings changed through the control API; the fields left empty stay.
struct MonitorSettings {
  std::optional<bool> crc_error;          // the CRC error flag (commands 0x0E, 0x0F)
  std::optional<bool> reload_on_devmode;  // see LanguageMonitor::Reload
  std::optional<bool> reload_on_job;
  std::optional<unsigned> reply_delay_ms;  // virtual ms before every reply
  std::optional<unsigned> flash_block_ms;  // virtual ms per 512-byte flash block
};

// How the next replies are to be spoiled or shaped (control "script_monitor").
struct ReplyScript {
  std::optional<uint8_t> reply_code;       // this reply code
  std::optional<std::string> payload;      // these payload bytes
  bool bad_checksum = false;               // the checksum off by one
  std::optional<uint8_t> lead_byte;        // byte 0
  std::optional<uint16_t> declared_length; // the length field; the bytes sent stay
  std::optional<size_t> reply_size;        // the whole message padded with zeros (or cut) to this
  unsigned delay_ms = 0;                   // virtual ms before the reply
  std::optional<std::vector<uint8_t>> commands;  // the commands it applies to; empty: all
  unsigned times = 0;                      // replies it applies to; 0 until cleared
};

// A monitor's settings and counts, as the printer commands and the control
// API leave them.
struct MonitorCounts {
  static constexpr unsigned kDefaultFlashBlockMs = FlashRun::kDefaultBlockMs;
  bool crc_error = false;
  unsigned reply_delay_ms = 0;
  unsigned flash_block_ms = kDefaultFlashBlockMs;
  uint8_t heartbeat = 0;
  int32_t heartbeat_rate = 0;
  uint8_t save_method = 0;
  uint8_t wd_setup[4] = {0, 0, 0, 0};
  uint64_t aborts = 0;
  uint64_t resets = 0;
  uint64_t reloads = 0;
  uint64_t exchanges = 0;  // replies written
};

// Everything the control API shows of one monitor.
struct MonitorSnapshot : MonitorCounts {
  MonitorInfo info;
  bool running = false;
  bool busy = false;
  FlashProgress flash;  // the latest flash run of the port's device
};

class LanguageMonitor {
 public:
  // host: the world, or null for a monitor on its own (with a device of its
  // own: an idle printer with status word 0; no jobs, no printer data).
  explicit LanguageMonitor(MonitorInfo info, MonitorHost* host = nullptr);
  ~LanguageMonitor();  // stops the monitor
  LanguageMonitor(const LanguageMonitor&) = delete;
  LanguageMonitor& operator=(const LanguageMonitor&) = delete;

  // Creates the pipe and starts serving. False when already running or the
  // pipe cannot be created.
  bool Start();
  // Stops serving and closes every instance: clients then find no pipe.
  void Stop();
  // As Stop, but abruptly: a client in the middle of an exchange sees its
  // pipe break.
  void Crash();
  // While busy, every instance stays taken: clients see ERROR_PIPE_BUSY.
  void SetBusy(bool busy);
  // The printer name the monitor reports, when the world changes.
  void SetPrinterName(const std::string& printer);
  // A slow monitor: each reply waits this many virtual milliseconds (the
  // scaled clock) after its request was read; 0, the default, answers at
  // once. Stop cuts the wait short and still answers; Crash cuts it short
  // and does not. The same as the setting reply_delay_ms.
  void SetReplyDelay(unsigned virtual_ms);
  void Change(const MonitorSettings& settings);
  // The script for the next replies; a script with nothing set clears it.
  void SetScript(const ReplyScript& script);

  enum class ReloadCause { kDevmode, kJob };
  // Reload - what the spooler does for a stopped monitor when the printer's
  // device mode is rewritten (kDevmode) or a job starts on the port (kJob):
  // starts it when the matching reload setting is on. True when it started.
  bool Reload(ReloadCause cause);

  // The request messages received, oldest first (at most kRequestLog), each
  // as read; clear empties the log.
  std::vector<std::string> Requests(bool clear);
  static constexpr size_t kRequestLog = 256;

  MonitorSnapshot Snapshot() const;
  bool running() const;
  bool busy() const;
  const MonitorInfo& info() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qxsim
