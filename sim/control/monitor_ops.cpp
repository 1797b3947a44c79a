// monitor_ops.cpp - qxsimd, daemon side, the control API's room: the
// operations on the language monitors (start, stop, crash, busy, settings,
// scripts, the request log, state), each under the monitors' lock.
#include <qxwire/hex.h>

#include "control/call.h"

namespace qxsim::control {

using nlohmann::json;
using qxwire::FromHex;
using qxwire::ToHex;

namespace {

// The settings of a set_monitor request; every key checked first.
MonitorSettings ParseMonitorSettings(const json& request) {
  MonitorSettings s;
  for (auto it = request.begin(); it != request.end(); ++it) {
    const std::string& key = it.key();
    if (key == "op" || key == "port") continue;
    if (key == "crc_error") {
      s.crc_error = OptionalBool(request, "crc_error");
    } else if (key == "reload_on_devmode") {
      s.reload_on_devmode = OptionalBool(request, "reload_on_devmode");
    } else if (key == "reload_on_job") {
      s.reload_on_job = OptionalBool(request, "reload_on_job");
    } else if (key == "reply_delay_ms") {
      s.reply_delay_ms = static_cast<unsigned>(Unsigned(request, "reply_delay_ms", kMaxDelayMs));
    } else if (key == "flash_block_ms") {
      s.flash_block_ms = static_cast<unsigned>(Unsigned(request, "flash_block_ms", kMaxDelayMs));
    } else {
      throw BadRequest("\"" + key + "\" is not a monitor setting (crc_error, reload_on_devmode, "
                       "reload_on_job, reply_delay_ms, flash_block_ms)");
    }
  }
  return s;
}

// The script of a script_monitor request ("script": an object; {} clears).
ReplyScript ParseReplyScript(const json& script) {
  if (!script.is_object()) throw BadRequest("\"script\" must be an object");
  ReplyScript s;
  for (auto it = script.begin(); it != script.end(); ++it) {
    const std::string& key = it.key();
    if (key == "reply_code") {
      s.reply_code = static_cast<uint8_t>(Unsigned(script, "reply_code", 0xFF));
    } else if (key == "payload") {
      std::vector<uint8_t> bytes;
      if (!it->is_string() || !FromHex(it->get<std::string>(), bytes) || bytes.size() > 0xFFFF) {
        throw BadRequest("\"payload\" must be hexadecimal digits, at most 65535 bytes");
      }
      s.payload = std::string(bytes.begin(), bytes.end());
    } else if (key == "bad_checksum") {
      s.bad_checksum = OptionalBool(script, "bad_checksum").value_or(false);
    } else if (key == "lead_byte") {
      s.lead_byte = static_cast<uint8_t>(Unsigned(script, "lead_byte", 0xFF));
    } else if (key == "declared_length") {
      s.declared_length = static_cast<uint16_t>(Unsigned(script, "declared_length", 0xFFFF));
    } else if (key == "reply_size") {
      s.reply_size = static_cast<size_t>(Unsigned(script, "reply_size", size_t{1} << 20));
    } else if (key == "delay_ms") {
      s.delay_ms = static_cast<unsigned>(Unsigned(script, "delay_ms", kMaxDelayMs));
    } else if (key == "commands") {
      if (!it->is_array() || it->size() > 256) throw BadRequest("\"commands\" must be a list of command bytes");
      std::vector<uint8_t> commands;
      for (const json& c : *it) {
        if (!c.is_number_unsigned() || c.get<uint64_t>() > 0xFF) {
          throw BadRequest("\"commands\" must be a list of command bytes (0 to 255)");
        }
        commands.push_back(static_cast<uint8_t>(c.get<uint64_t>()));
      }
      s.commands = std::move(commands);
    } else if (key == "times") {
      s.times = static_cast<unsigned>(Unsigned(script, "times", 0xFFFFFFFFu));
    } else {
      throw BadRequest("\"" + key + "\" is not a script key (reply_code, payload, bad_checksum, lead_byte, "
                       "declared_length, reply_size, delay_ms, commands, times)");
    }
  }
  return s;
}

// OnMonitor - run f on the monitor the request's "port" names.
template <class F>
json OnMonitor(ControlCall& c, F f) {
  const std::string port = Text(c.request, "port", 64);
  json reply;
  if (!c.monitors.With(port, [&](const std::string& name, LanguageMonitor& monitor) { reply = f(name, monitor); })) {
    throw BadRequest("no language monitor on port \"" + port + "\"");
  }
  return reply;
}

}  // namespace

json MonitorsOp(ControlCall& c) { return {{"ok", true}, {"monitors", c.monitors.List()}}; }

json MonitorState(ControlCall& c) {
  return OnMonitor(c, [](const std::string& port, LanguageMonitor& monitor) -> json {
    return {{"ok", true}, {"monitor", Monitors::Json(port, monitor, true)}};
  });
}

json SetMonitor(ControlCall& c) {
  return OnMonitor(c, [&](const std::string& port, LanguageMonitor& monitor) -> json {
    monitor.Change(ParseMonitorSettings(c.request));
    return {{"ok", true}, {"monitor", Monitors::Json(port, monitor, true)}};
  });
}

json ScriptMonitor(ControlCall& c) {
  return OnMonitor(c, [&](const std::string&, LanguageMonitor& monitor) -> json {
    monitor.SetScript(ParseReplyScript(Field(c.request, "script")));
    return Ok();
  });
}

json MonitorRequests(ControlCall& c) {
  return OnMonitor(c, [&](const std::string&, LanguageMonitor& monitor) -> json {
    const bool clear = OptionalBool(c.request, "clear").value_or(false);
    json list = json::array();
    for (const std::string& message : monitor.Requests(clear)) list.push_back(ToHex(message));
    return {{"ok", true}, {"requests", list}};
  });
}

// MonitorOp - "action": start, stop, crash, busy.
json MonitorOp(ControlCall& c) {
  return OnMonitor(c, [&](const std::string& port, LanguageMonitor& monitor) -> json {
    const std::string action = Text(c.request, "action", 16);
    if (action == "start") {
      if (monitor.running()) return Refused("the language monitor on " + port + " is running already");
      if (!monitor.Start()) return Refused("the language monitor on " + port + " did not start");
    } else if (action == "stop") {
      monitor.Stop();
    } else if (action == "crash") {
      monitor.Crash();
    } else if (action == "busy") {
      const json& busy = Field(c.request, "busy");
      if (!busy.is_boolean()) throw BadRequest("\"busy\" must be true or false");
      monitor.SetBusy(busy.get<bool>());
    } else {
      throw BadRequest("unknown monitor action \"" + action + "\" (start, stop, crash, busy)");
    }
    return {{"ok", true}, {"monitor", Monitors::Json(port, monitor, false)}};
  });
}

}  // namespace qxsim::control
