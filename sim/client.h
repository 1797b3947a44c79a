// client.h - qxsimd control client, the side of tests and tools: requests to
// the control API of a running world, one connection per request.
//
//   qxsim::ControlClient control(dir);
//   control.SetPrinterStatus("QX ZDA-38 Ticket Printer", PRINTER_STATUS_OFFLINE);
//   nlohmann::json printers = control.Printers();
//
// Every call throws ControlError when the daemon cannot be reached or refuses
// the request (the message is the daemon's).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qxsim {

class ControlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ControlClient {
 public:
  // dir: the world's runtime folder (its control socket is dir/control.sock).
  explicit ControlClient(std::string dir);

  // Call - send one request, return the reply (its "ok" is true).
  nlohmann::json Call(const nlohmann::json& request) const;
  // Send - the reply as it is, "ok" true or false; throws only when the
  // daemon cannot be reached or answers with something that is not a reply.
  nlohmann::json Send(const nlohmann::json& request) const;

  // Inspection: the lists of the control API's replies.
  nlohmann::json Status() const;
  nlohmann::json World() const;
  nlohmann::json Printers() const;
  nlohmann::json Printer(const std::string& name) const;
  nlohmann::json Jobs(const std::optional<std::string>& printer = std::nullopt) const;
  nlohmann::json Ports() const;
  nlohmann::json Devices() const;
  nlohmann::json Monitors() const;

  // Printers.
  void ChangePrinter(const std::string& name, const nlohmann::json& changes) const;
  void SetPrinterStatus(const std::string& name, uint32_t status) const;
  void SetRefuseOpen(const std::string& name, bool refuse) const;
  void AddPrinter(const nlohmann::json& printer) const;
  void RemovePrinter(const std::string& name) const;
  void SetDefaultPrinter(const std::optional<std::string>& name) const;
  uint32_t AddJob(const std::string& printer, const std::string& document) const;
  void RemoveJob(uint32_t id) const;

  // Devices on ports.
  void SetDevice(const std::string& port, const nlohmann::json& changes) const;
  // Received - the bytes the device on port received from printed jobs, in
  // order (the last 4 MiB); clear empties the record after reading it.
  std::string Received(const std::string& port, bool clear = false) const;

  // Printed pages of the printer on port: Pages gives {"port", "printed",
  // "unreadable", "kept_at_most", "pages": [{"number", "job", "page",
  // "width", "height", "dpi_x", "dpi_y", "texts", "unreadable"}]}; Page one
  // of them by number, its PNG picture in png (with "text_list" when texts).
  nlohmann::json Pages(const std::string& port) const;
  nlohmann::json Page(const std::string& port, uint64_t number, bool texts, std::string* png) const;

  // Language monitors: action "start", "stop" or "crash".
  void Monitor(const std::string& port, const std::string& action) const;
  void SetMonitorBusy(const std::string& port, bool busy) const;
  // Monitor settings of the monitor on port; keys: "crc_error" (bool),
  // "reload_on_devmode" (bool), "reload_on_job" (bool), "reply_delay_ms"
  // (virtual ms before each reply), "flash_block_ms" (virtual ms per
  // 512-byte flash block).
  void SetMonitor(const std::string& port, const nlohmann::json& changes) const;
  // The next replies of that monitor follow script; keys (all optional):
  //  "reply_code" (0..255: use this reply code), "payload" (hex text: use
  //  this payload), "bad_checksum" (bool: checksum off by one),
  //  "lead_byte" (0..255: replace byte 0), "declared_length" (0..65535:
  //  the length field says this, bytes sent unchanged), "reply_size"
  //  (bytes: pad the reply message with zero bytes after the frame to this
  //  total size, an over-long reply; a smaller size cuts the frame short),
  //  "delay_ms" (virtual ms before this reply), "commands" (list of command
  //  bytes the script applies to; absent: all), "times" (how many replies it
  //  applies to; 0 or absent: until cleared). An empty object clears the
  //  script.
  void ScriptMonitor(const std::string& port, const nlohmann::json& script) const;
  // The request frames the monitor received, oldest first, each the raw
  // bytes of one message as read (std::string of bytes); clear empties the log.
  std::vector<std::string> MonitorRequests(const std::string& port, bool clear = false) const;
  // One monitor's state: {"port", "printer", "version", "running", "busy",
  //  "crc_error", "reply_delay_ms", "flash_block_ms", "heartbeat",
  //  "heartbeat_rate", "save_method", "wd_setup": [a,b,c,d], "aborts",
  //  "resets", "reload_on_devmode", "reload_on_job", "reloads" (count of
  //  reloads done), "exchanges" (count of replies written),
  //  "flash": {"state" ("idle", "erasing", "writing", "verifying", "done",
  //  "failed"), "code" (0..5, the progress text's State), "max", "current",
  //  "pass_fail" ("P"/"F"), "note", "file"}}
  nlohmann::json MonitorState(const std::string& port) const;

  // The world as loaded; the daemon itself.
  void Reset() const;
  void Stop() const;

  const std::string& dir() const { return dir_; }

 private:
  // Exchange - one request on a connection of its own; the reply's head,
  // and its binary body when body is given.
  nlohmann::json Exchange(const nlohmann::json& request, std::optional<std::string>* body) const;
  // Check - throw ControlError for a reply whose "ok" is false.
  static void Check(const nlohmann::json& reply);

  std::string dir_;
};

}  // namespace qxsim
