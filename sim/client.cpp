// client.cpp - qxsimd control client, the side of tests and tools (see client.h).
#include "client.h"

#include <qxwire/connection.h>
#include <qxwire/hex.h>
#include <qxwire/names.h>
#include <qxwire/ops.h>

namespace qxsim {

using nlohmann::json;
namespace op = qxwire::control;
using qxwire::kOp;

namespace {

// No control request takes long; a daemon that stops answering (stopped
// under a debugger) fails the call after this long.
constexpr int kReplyLimitSeconds = 120;

}  // namespace

ControlClient::ControlClient(std::string dir) : dir_(std::move(dir)) {}

json ControlClient::Exchange(const json& request, std::optional<std::string>* body) const {
  qxwire::Connection connection;
  std::string error;
  if (!connection.Open(qxwire::PathIn(dir_, qxwire::kControlSocket), kReplyLimitSeconds, false, &error)) {
    throw ControlError(error);
  }
  qxwire::Message reply;
  if (!connection.Exchange({request.dump(), std::nullopt}, reply, qxwire::Limits{qxwire::kMaxReply, qxwire::kMaxBody})) {
    throw ControlError("qxsimd at " + dir_ + " closed the connection");
  }
  json head = json::parse(reply.head, nullptr, false);
  if (!head.is_object() || !head.contains("ok") || !head["ok"].is_boolean()) {
    throw ControlError("qxsimd at " + dir_ + " sent something that is not a reply");
  }
  if (body != nullptr) *body = std::move(reply.body);
  return head;
}

json ControlClient::Send(const json& request) const { return Exchange(request, nullptr); }

void ControlClient::Check(const json& reply) {
  if (!reply["ok"].get<bool>()) {
    const json& error = reply["error"];
    throw ControlError(error.is_string() ? error.get<std::string>() : "request refused");
  }
}

json ControlClient::Call(const json& request) const {
  json reply = Send(request);
  Check(reply);
  return reply;
}

json ControlClient::Status() const { return Call({{kOp, op::kStatus}}); }
json ControlClient::World() const { return Call({{kOp, op::kWorld}})["world"]; }
json ControlClient::Printers() const { return Call({{kOp, op::kPrinters}})["printers"]; }
json ControlClient::Printer(const std::string& name) const {
  return Call({{kOp, op::kPrinter}, {"name", name}})["printer"];
}
json ControlClient::Jobs(const std::optional<std::string>& printer) const {
  json request = {{kOp, op::kJobs}};
  if (printer) request["printer"] = *printer;
  return Call(request)["jobs"];
}
json ControlClient::Ports() const { return Call({{kOp, op::kPorts}})["ports"]; }
json ControlClient::Devices() const { return Call({{kOp, op::kDevices}})["devices"]; }
json ControlClient::Monitors() const { return Call({{kOp, op::kMonitors}})["monitors"]; }

void ControlClient::ChangePrinter(const std::string& name, const json& changes) const {
  json request = changes;
  request[kOp] = op::kSetPrinter;
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
  Call({{kOp, op::kAddPrinter}, {"printer", printer}});
}
void ControlClient::RemovePrinter(const std::string& name) const {
  Call({{kOp, op::kRemovePrinter}, {"name", name}});
}
void ControlClient::SetDefaultPrinter(const std::optional<std::string>& name) const {
  Call({{kOp, op::kSetDefault}, {"name", name ? json(*name) : json(nullptr)}});
}
uint32_t ControlClient::AddJob(const std::string& printer, const std::string& document) const {
  return Call({{kOp, op::kAddJob}, {"printer", printer}, {"document", document}})["id"].get<uint32_t>();
}
void ControlClient::RemoveJob(uint32_t id) const { Call({{kOp, op::kRemoveJob}, {"id", id}}); }
void ControlClient::SetDevice(const std::string& port, const json& changes) const {
  json request = changes;
  request[kOp] = op::kSetDevice;
  request["port"] = port;
  Call(request);
}
namespace {

// The bytes of a hexadecimal text from the daemon; what names them in the error.
std::string Unhex(const json& data, const char* what) {
  std::string bytes;
  if (!data.is_string() || !qxwire::FromHex(data.get_ref<const std::string&>(), bytes)) {
    throw ControlError(std::string("qxsimd sent ") + what + " that is not hexadecimal");
  }
  return bytes;
}

}  // namespace

std::string ControlClient::Received(const std::string& port, bool clear) const {
  // The bytes come as the reply's binary body.
  std::optional<std::string> body;
  const json reply = Exchange({{kOp, op::kReceived}, {"port", port}, {"clear", clear}, {"binary", true}}, &body);
  Check(reply);
  if (!body) throw ControlError("qxsimd sent a received record without its bytes");
  return std::move(*body);
}
json ControlClient::Pages(const std::string& port) const { return Call({{kOp, op::kPages}, {"port", port}}); }
json ControlClient::Page(const std::string& port, uint64_t number, bool texts, std::string* png) const {
  std::optional<std::string> body;
  json reply = Exchange({{kOp, op::kPage}, {"port", port}, {"number", number}, {"texts", texts}}, &body);
  Check(reply);
  if (!body) throw ControlError("qxsimd sent a page without its picture");
  *png = std::move(*body);
  return reply;
}
void ControlClient::Monitor(const std::string& port, const std::string& action) const {
  Call({{kOp, op::kMonitor}, {"port", port}, {"action", action}});
}
void ControlClient::SetMonitorBusy(const std::string& port, bool busy) const {
  Call({{kOp, op::kMonitor}, {"port", port}, {"action", "busy"}, {"busy", busy}});
}
void ControlClient::SetMonitor(const std::string& port, const json& changes) const {
  json request = changes;
  request[kOp] = op::kSetMonitor;
  request["port"] = port;
  Call(request);
}
void ControlClient::ScriptMonitor(const std::string& port, const json& script) const {
  Call({{kOp, op::kScriptMonitor}, {"port", port}, {"script", script}});
}
std::vector<std::string> ControlClient::MonitorRequests(const std::string& port, bool clear) const {
  const json reply = Call({{kOp, op::kMonitorRequests}, {"port", port}, {"clear", clear}});
  const json& list = reply["requests"];
  if (!list.is_array()) throw ControlError("qxsimd sent a request log that is not a list");
  std::vector<std::string> requests;
  for (const json& message : list) requests.push_back(Unhex(message, "a request"));
  return requests;
}
json ControlClient::MonitorState(const std::string& port) const {
  return Call({{kOp, op::kMonitorState}, {"port", port}})["monitor"];
}
void ControlClient::Reset() const { Call({{kOp, op::kReset}}); }
void ControlClient::Stop() const { Call({{kOp, op::kStop}}); }

}  // namespace qxsim
