// api.cpp - qxsimd, daemon side: the control API (see api.h): its table of
// operations and the operations on printers, jobs and the world itself.
#include "control/api.h"

#include <unistd.h>

#include <algorithm>
#include <iterator>

#include <qxwire/ops.h>

#include "control/call.h"
#include "driver_files.h"

namespace qxsim {
namespace control {

using nlohmann::json;

namespace {

Printer& PrinterNamed(ControlCall& c, const char* key) {
  const std::string name = Text(c.request, key, kMaxRequest);
  Printer* p = c.w.world.FindPrinter(name);
  if (p == nullptr) throw BadRequest("no printer named \"" + name + "\"");
  return *p;
}

// A printer as the control API shows it: as in the world file, with whether
// it is the default, its latest merge request and its open handles.
json WithExtras(ControlCall& c, const Printer& p) {
  json j = PrinterToJson(p);
  j["default"] = c.w.world.default_printer && EqualNoCase(*c.w.world.default_printer, p.name);
  if (const auto m = c.w.last_merge.find(Lower(p.name)); m != c.w.last_merge.end()) j["last_merge_input"] = m->second;
  j["open_handles"] = std::count_if(c.w.handles.begin(), c.w.handles.end(), [&](const auto& h) {
    return EqualNoCase(h.second.printer, p.name);
  });
  return j;
}

}  // namespace

// Inspections count only handles whose processes still live.
// Daemon pid, folder, world source, printer and open-handle counts.
json Status(ControlCall& c) {
  c.w.ReapHandlesLocked();
  return {{"ok", true},
          {"pid", getpid()},
          {"dir", c.w.dir},
          {"source", c.w.source},
          {"printers", c.w.world.printers.size()},
          {"open_handles", c.w.handles.size()}};
}

// The world as it stands, in the world file's form.
json WorldOp(ControlCall& c) { return {{"ok", true}, {"world", WorldToJson(c.w.WorldLocked())}}; }

// Every printer.
json Printers(ControlCall& c) {
  c.w.ReapHandlesLocked();
  json list = json::array();
  for (const Printer& p : c.w.world.printers) list.push_back(WithExtras(c, p));
  return {{"ok", true}, {"printers", list}};
}

// One printer.
json PrinterOp(ControlCall& c) {
  c.w.ReapHandlesLocked();
  return {{"ok", true}, {"printer", WithExtras(c, PrinterNamed(c, "name"))}};
}

// The queued jobs, of one printer or all.
json Jobs(ControlCall& c) {
  const std::optional<std::string> only = OptionalText(c.request, "printer", kMaxRequest);
  if (only && c.w.world.FindPrinter(*only) == nullptr) throw BadRequest("no printer named \"" + *only + "\"");
  json list = json::array();
  for (const Printer& p : c.w.world.printers) {
    if (only && !EqualNoCase(*only, p.name)) continue;
    for (const Job& job : p.jobs) {
      list.push_back({{"printer", p.name},
                      {"id", job.id},
                      {"document", job.document},
                      {"status", JobStatusToJson(job.status)},
                      {"owner", job.owner},
                      {"datatype", job.datatype},
                      {"pages", job.pages},
                      {"size", job.spooled ? job.data.size() : job.size}});
    }
  }
  return {{"ok", true}, {"jobs", list}};
}

// Change a printer; check everything first, then change.
json SetPrinter(ControlCall& c) {
  Printer& p = PrinterNamed(c, "name");
  // Check everything first, then change: a refused request changes nothing.
  Printer changed = p;
  for (auto it = c.request.begin(); it != c.request.end(); ++it) {
    const std::string& key = it.key();
    const json& v = it.value();
    if (key == "op" || key == "name") continue;
    if (key == "status") {
      changed.status = ParsePrinterStatus(v, "status");
    } else if (key == "attributes") {
      changed.attributes = ParsePrinterAttributes(v, "attributes");
    } else if (const auto* refusal = std::find_if(std::begin(kRefusalKeys), std::end(kRefusalKeys),
                                                  [&](const RefusalKey& k) { return key == k.key; });
               refusal != std::end(kRefusalKeys)) {
      changed.*refusal->error = ParseRefusal(v, key);
    } else if (key == "write_limit") {
      if (!v.is_number_unsigned() || v.get<uint64_t>() > 0xFFFFFFFFu) {
        throw BadRequest("\"write_limit\" must be a byte count");
      }
      changed.write_limit = v.get<DWORD>();
    } else if (key == "location" || key == "comment") {
      const std::string text = Text(c.request, key.c_str(), kMaxTextLength);
      (key == "location" ? changed.location : changed.comment) = text;
    } else if (key == "port") {
      const std::string port = Text(c.request, "port", 64);
      const Port* known = c.w.world.FindPort(port);
      if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
      changed.port = known->name;
    } else {
      throw BadRequest("\"" + key + "\" cannot be set on a printer");
    }
  }
  c.monitors_changed = !EqualNoCase(changed.port, p.port);
  p = std::move(changed);
  c.w.PrintReadyJobsLocked(p);  // a printer no longer paused prints what it kept
  return {{"ok", true}, {"printer", WithExtras(c, p)}};
}

// Add a printer (its language monitor starts).
json AddPrinter(ControlCall& c) {
  if (c.w.world.printers.size() >= kMaxPrinters) throw BadRequest("the world has as many printers as it can hold");
  DWORD next_id = c.w.world.next_job_id;
  Printer p = ParsePrinter(Field(c.request, "printer"), c.w.world, "printer", next_id);
  if (c.w.world.FindPrinter(p.name) != nullptr) throw BadRequest("printer \"" + p.name + "\" exists already");
  for (const Job& job : p.jobs) {
    for (const Printer& other : c.w.world.printers) {
      for (const Job& used : other.jobs) {
        if (used.id == job.id) throw BadRequest("job id " + std::to_string(job.id) + " is in use");
      }
    }
  }
  c.w.world.next_job_id = next_id;
  c.w.world.printers.push_back(std::move(p));
  c.monitors_changed = true;
  return {{"ok", true}, {"printer", WithExtras(c, c.w.world.printers.back())}};
}

// Remove a printer.
json RemovePrinter(ControlCall& c) {
  Printer& p = PrinterNamed(c, "name");
  if (c.w.world.default_printer && EqualNoCase(*c.w.world.default_printer, p.name)) {
    c.w.world.default_printer.reset();
  }
  c.w.world.printers.erase(c.w.world.printers.begin() + (&p - c.w.world.printers.data()));
  c.monitors_changed = true;
  return Ok();
}

// The system default printer.
json SetDefault(ControlCall& c) {
  const std::optional<std::string> name = OptionalText(c.request, "name", kMaxRequest);
  if (!name) {
    c.w.world.default_printer.reset();
    return Ok();
  }
  const Printer* p = c.w.world.FindPrinter(*name);
  if (p == nullptr) throw BadRequest("no printer named \"" + *name + "\"");
  c.w.world.default_printer = p->name;
  return Ok();
}

// Queue a job.
json AddJob(ControlCall& c) {
  Printer& p = PrinterNamed(c, "printer");
  if (p.jobs.size() >= kMaxJobs) throw BadRequest("the printer has as many jobs as it can hold");
  Job job;
  job.document = Text(c.request, "document", kMaxTextLength);
  if (auto it = c.request.find("status"); it != c.request.end()) job.status = ParseJobStatus(*it, "status");
  job.id = c.w.world.next_job_id++;
  p.jobs.push_back(job);
  return {{"ok", true}, {"id", job.id}};
}

// Delete a job by id.
json RemoveJob(ControlCall& c) {
  const auto id = static_cast<DWORD>(Unsigned(c.request, "id", 0xFFFFFFFFu));
  for (Printer& p : c.w.world.printers) {
    for (auto it = p.jobs.begin(); it != p.jobs.end(); ++it) {
      if (it->id == id) {
        p.jobs.erase(it);
        return Ok();
      }
    }
  }
  throw BadRequest("no job with id " + std::to_string(id));
}

}  // namespace control

namespace {

using control::ControlCall;

// Where an operation runs: with the world's mutex held, or the monitors'
// (which the monitor operations take themselves).
enum class Room { kWorld, kMonitors };

struct Operation {
  const char* name;
  nlohmann::json (*run)(ControlCall&);
  Room room;
};
const Operation kOperations[] = {
    {qxwire::control::kStatus, control::Status, Room::kWorld},
    {qxwire::control::kWorld, control::WorldOp, Room::kWorld},
    {qxwire::control::kPrinters, control::Printers, Room::kWorld},
    {qxwire::control::kPrinter, control::PrinterOp, Room::kWorld},
    {qxwire::control::kJobs, control::Jobs, Room::kWorld},
    {qxwire::control::kPorts, control::Ports, Room::kWorld},
    {qxwire::control::kDevices, control::Devices, Room::kWorld},
    {qxwire::control::kReceived, control::Received, Room::kWorld},
    {qxwire::control::kSetPrinter, control::SetPrinter, Room::kWorld},
    {qxwire::control::kAddPrinter, control::AddPrinter, Room::kWorld},
    {qxwire::control::kRemovePrinter, control::RemovePrinter, Room::kWorld},
    {qxwire::control::kSetDefault, control::SetDefault, Room::kWorld},
    {qxwire::control::kAddJob, control::AddJob, Room::kWorld},
    {qxwire::control::kRemoveJob, control::RemoveJob, Room::kWorld},
    {qxwire::control::kSetDevice, control::SetDevice, Room::kWorld},
    {qxwire::control::kRemoveDevice, control::RemoveDevice, Room::kWorld},
    {qxwire::control::kDeviceState, control::DeviceState, Room::kWorld},
    {qxwire::control::kPort, control::PortOp, Room::kWorld},
    {qxwire::control::kMonitors, control::MonitorsOp, Room::kMonitors},
    {qxwire::control::kMonitor, control::MonitorOp, Room::kMonitors},
    {qxwire::control::kSetMonitor, control::SetMonitor, Room::kMonitors},
    {qxwire::control::kScriptMonitor, control::ScriptMonitor, Room::kMonitors},
    {qxwire::control::kMonitorRequests, control::MonitorRequests, Room::kMonitors},
    {qxwire::control::kMonitorState, control::MonitorState, Room::kMonitors},
};

}  // namespace

ControlApi::ControlApi(SharedWorld& world, Monitors& monitors) : w_(world), monitors_(monitors) {}

void ControlApi::set_stop_notifier(void (*notify)(void*), void* context) {
  notify_stop_ = notify;
  notify_context_ = context;
}

Reply ControlApi::Handle(const nlohmann::json& request) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    const std::string op = Text(request, qxwire::kOp, 64);
    if (op == qxwire::control::kStop) {
      stop_requested_ = true;
      if (notify_stop_ != nullptr) notify_stop_(notify_context_);
      return {control::Ok(), std::nullopt};
    }
    if (op == qxwire::control::kReset) {
      {
        std::lock_guard<std::mutex> guard(w_.lock);
        w_.ResetLocked();
      }
      monitors_.Sync(true);
      RefreshDriverFiles(w_);
      return {control::Ok(), std::nullopt};
    }
    const auto* found = std::find_if(std::begin(kOperations), std::end(kOperations),
                                     [&](const Operation& o) { return op == o.name; });
    if (found == std::end(kOperations)) throw BadRequest("unknown operation \"" + op + "\"");
    Reply reply;
    ControlCall call{w_, monitors_, request, reply.body};
    if (found->room == Room::kMonitors) {
      reply.head = found->run(call);
      return reply;
    }
    {
      std::lock_guard<std::mutex> guard(w_.lock);
      reply.head = found->run(call);
    }
    if (call.monitors_changed) {
      monitors_.Sync(false);
      RefreshDriverFiles(w_);
    }
    return reply;
  } catch (const std::exception& e) {  // bad requests (a WorldError too), allocation failures
    return {control::Refused(e.what()), std::nullopt};
  }
}

}  // namespace qxsim
