// qxsimd: the language monitor of one printer port. It serves the named pipe
// "\\.\pipe\QXNamedPipe" + port name on its own thread and answers one reply
// frame for every request frame.
#pragma once

#include <memory>
#include <string>

namespace qxsim {

struct MonitorInfo {
  std::string port;     // "USB001", "LPT1:", ...
  std::string printer;  // the printer on that port, answered to command 0x02
  std::string version;  // the monitor's version text, answered to command 0x08
};

class LanguageMonitor {
 public:
  explicit LanguageMonitor(MonitorInfo info);
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
  // and does not.
  void SetReplyDelay(unsigned virtual_ms);

  bool running() const;
  bool busy() const;
  const MonitorInfo& info() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qxsim
