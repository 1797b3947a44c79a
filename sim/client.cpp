// client.cpp - qxsimd control client, the side of tests and tools (see client.h).
#include "client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wire.h"

namespace qxsim {

using nlohmann::json;

ControlClient::ControlClient(std::string dir) : dir_(std::move(dir)) {}

json ControlClient::Send(const json& request) const {
  const std::string path = dir_ + "/" + kControlSocket;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) throw ControlError(path + ": path too long for a socket");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ControlError(std::string("socket: ") + std::strerror(errno));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    close(fd);
    throw ControlError("no qxsimd answers at " + path + ": " + std::strerror(err));
  }
  std::string text;
  const bool sent = WriteFrame(fd, request.dump());
  const ReadResult got = sent ? ReadFrame(fd, text, kMaxReply) : ReadResult::kBroken;
  close(fd);
  if (got != ReadResult::kFrame) throw ControlError("qxsimd at " + dir_ + " closed the connection");
  json reply = json::parse(text, nullptr, false);
  if (!reply.is_object() || !reply.contains("ok") || !reply["ok"].is_boolean()) {
    throw ControlError("qxsimd at " + dir_ + " sent something that is not a reply");
  }
  return reply;
}

json ControlClient::Call(const json& request) const {
  json reply = Send(request);
  if (!reply["ok"].get<bool>()) {
    const json& error = reply["error"];
    throw ControlError(error.is_string() ? error.get<std::string>() : "request refused");
  }
  return reply;
}

json ControlClient::Status() const { return Call({{"op", "status"}}); }
json ControlClient::World() const { return Call({{"op", "world"}})["world"]; }
json ControlClient::Printers() const { return Call({{"op", "printers"}})["printers"]; }
json ControlClient::Printer(const std::string& name) const {
  return Call({{"op", "printer"}, {"name", name}})["printer"];
}
json ControlClient::Jobs(const std::optional<std::string>& printer) const {
  json request = {{"op", "jobs"}};
  if (printer) request["printer"] = *printer;
  return Call(request)["jobs"];
}
json ControlClient::Ports() const { return Call({{"op", "ports"}})["ports"]; }
json ControlClient::Devices() const { return Call({{"op", "devices"}})["devices"]; }
json ControlClient::Monitors() const { return Call({{"op", "monitors"}})["monitors"]; }

void ControlClient::ChangePrinter(const std::string& name, const json& changes) const {
  json request = changes;
  request["op"] = "set_printer";
  request["name"] = name;
  Call(request);
}
void ControlClient::SetPrinterStatus(const std::string& name, uint32_t status) const {
  ChangePrinter(name, {{"status", status}});
}
void ControlClient::SetRefuseOpen(const std::string& name, bool refuse) const {
  ChangePrinter(name, {{"refuse_open", refuse}});
}
void ControlClient::AddPrinter(const json& printer) const {
  Call({{"op", "add_printer"}, {"printer", printer}});
}
void ControlClient::RemovePrinter(const std::string& name) const {
  Call({{"op", "remove_printer"}, {"name", name}});
}
void ControlClient::SetDefaultPrinter(const std::optional<std::string>& name) const {
  Call({{"op", "set_default"}, {"name", name ? json(*name) : json(nullptr)}});
}
uint32_t ControlClient::AddJob(const std::string& printer, const std::string& document) const {
  return Call({{"op", "add_job"}, {"printer", printer}, {"document", document}})["id"].get<uint32_t>();
}
void ControlClient::RemoveJob(uint32_t id) const { Call({{"op", "remove_job"}, {"id", id}}); }
void ControlClient::SetDevice(const std::string& port, const json& changes) const {
  json request = changes;
  request["op"] = "set_device";
  request["port"] = port;
  Call(request);
}
namespace {

// The bytes of a hexadecimal text from the daemon; what names them in the error.
std::string Unhex(const json& data, const char* what) {
  const std::string bad = std::string("qxsimd sent ") + what + " that is not hexadecimal";
  if (!data.is_string() || data.get_ref<const std::string&>().size() % 2 != 0) throw ControlError(bad);
  const std::string& hex = data.get_ref<const std::string&>();
  auto digit = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw ControlError(bad);
  };
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  return bytes;
}

}  // namespace

std::string ControlClient::Received(const std::string& port, bool clear) const {
  const json reply = Call({{"op", "received"}, {"port", port}, {"clear", clear}});
  return Unhex(reply["data"], "a received record");
}
void ControlClient::Monitor(const std::string& port, const std::string& action) const {
  Call({{"op", "monitor"}, {"port", port}, {"action", action}});
}
void ControlClient::SetMonitorBusy(const std::string& port, bool busy) const {
  Call({{"op", "monitor"}, {"port", port}, {"action", "busy"}, {"busy", busy}});
}
void ControlClient::SetMonitor(const std::string& port, const json& changes) const {
  json request = changes;
  request["op"] = "set_monitor";
  request["port"] = port;
  Call(request);
}
void ControlClient::ScriptMonitor(const std::string& port, const json& script) const {
  Call({{"op", "script_monitor"}, {"port", port}, {"script", script}});
}
std::vector<std::string> ControlClient::MonitorRequests(const std::string& port, bool clear) const {
  const json reply = Call({{"op", "monitor_requests"}, {"port", port}, {"clear", clear}});
  const json& list = reply["requests"];
  if (!list.is_array()) throw ControlError("qxsimd sent a request log that is not a list");
  std::vector<std::string> requests;
  for (const json& message : list) requests.push_back(Unhex(message, "a request"));
  return requests;
}
json ControlClient::MonitorState(const std::string& port) const {
  return Call({{"op", "monitor_state"}, {"port", port}})["monitor"];
}
void ControlClient::Reset() const { Call({{"op", "reset"}}); }
void ControlClient::Stop() const { Call({{"op", "stop"}}); }

}  // namespace qxsim
