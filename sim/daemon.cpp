// daemon.cpp - qxsimd, daemon side: the spooler service and the control API
// over one world (see daemon.h).
//
// Every request is checked before it touches the world: a field of the wrong
// type, a number out of range or an unknown operation gives an error reply
// and changes nothing. Spooler replies carry a Win32 error code ("error", 0
// for success) that the platform layer hands to SetLastError; control replies
// carry "ok" and, when false, a message.
#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <qxwire/devmode.h>
#include <qxwire/fields.h>
#include <qxwire/hex.h>
#include <qxwire/ops.h>

#include "wire.h"

namespace qxsim {
namespace {

using nlohmann::json;

constexpr size_t kMaxHandles = 4096;
// A spooled job holds at most this many bytes; a device keeps at most this
// many of what it received (the oldest go first).
constexpr size_t kMaxJobBytes = size_t{16} << 20;
constexpr size_t kMaxReceived = size_t{4} << 20;  // its hex must fit in a reply
// SetJobA commands.
constexpr uint64_t kJobControlPause = 1;
constexpr uint64_t kJobControlResume = 2;
constexpr uint64_t kJobControlCancel = 3;
constexpr uint64_t kJobControlDelete = 5;
constexpr const char* kEnvironment = "Windows x64";

// A request that does not have the shape its operation needs: the wire
// library's checked reader names the field.
using BadRequest = qxwire::FieldError;
using qxwire::FromHex;
using qxwire::ToHex;

// A spooler request that fails with a Win32 error.
struct SpoolerError {
  DWORD code;
  std::string message;
};

// The checked reader of a request's members.
qxwire::Fields In(const json& request) { return qxwire::Fields(request, "", qxwire::Dialect::kRequest); }

const json& Field(const json& request, const char* key) { return In(request).Need(key); }

uint64_t Unsigned(const json& request, const char* key, uint64_t max) { return In(request).Unsigned(key, max); }

std::string Text(const json& request, const char* key, size_t max) { return In(request).Text(key, "", max, true); }

// A text that may be null or absent.
std::optional<std::string> OptionalText(const json& request, const char* key, size_t max) {
  return In(request).OptionalText(key, max);
}

// A control request's optional boolean.
std::optional<bool> OptionalBool(const json& request, const char* key) { return In(request).OptionalBool(key); }

// A printer name folded to lower case, as the spooler matches names.
std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

static_assert(offsetof(DEVMODEA, dmSize) == qxwire::kDevmodeSizeOffset &&
              offsetof(DEVMODEA, dmDriverExtra) == qxwire::kDevmodeExtraOffset);

// The printer's full device mode as the spooler hands it out, in wire form.
std::string DevmodeHex(const Printer& p) { return qxwire::EncodeDevmode(&p.devmode, sizeof p.devmode, p.driver_extra); }

// The printer data value of that name, without regard to case.
template <class P>
auto FindDataValue(P& p, const std::string& name) {
  return std::find_if(p.data.begin(), p.data.end(), [&](const auto& v) { return EqualNoCase(v.first, name); });
}

Job* FindJob(Printer& p, DWORD id) {
  for (Job& job : p.jobs) {
    if (job.id == id) return &job;
  }
  return nullptr;
}

json JobInfo(const Printer& p, const Job& job, size_t position) {
  return {{"id", job.id},
          {"printer", p.name},
          {"document", job.document},
          {"owner", job.owner},
          {"datatype", job.datatype},
          {"status", job.status},
          {"priority", 1},
          {"position", position},
          {"pages", job.pages},
          {"size", job.spooled ? job.data.size() : job.size},
          {"submitted", job.submitted}};
}

json PrinterInfo(const Printer& p, bool with_devmode) {
  json info = {
      {"name", p.name},
      {"port", p.port},
      {"driver", p.driver.name},
      {"share_name", p.share_name},
      {"comment", p.comment},
      {"location", p.location},
      {"sep_file", ""},
      {"print_processor", "winprint"},
      {"datatype", p.driver.default_datatype},
      {"parameters", ""},
      {"attributes", p.attributes},
      {"priority", p.priority},
      {"default_priority", 0},
      {"start_time", 0},
      {"until_time", 0},
      {"status", p.status},
      {"jobs", p.jobs.size()},
      {"average_ppm", 0},
      {"device_not_selected_timeout", p.device_not_selected_timeout},
      {"transmission_retry_timeout", p.transmission_retry_timeout},
  };
  if (with_devmode) info["devmode"] = DevmodeHex(p);
  return info;
}

json DriverInfo(const Printer& p) {
  json files = json::array();
  for (const DriverFile& f : p.driver.dependent_files) files.push_back(f.path);
  return {
      {"name", p.driver.name},
      {"version", p.driver.version},
      {"environment", kEnvironment},
      {"path", p.driver.file.path},
      {"data_file", p.driver.data_file},
      {"config_file", p.driver.config_file},
      {"help_file", p.driver.help_file},
      {"dependent_files", files},
      {"monitor_name",
       p.driver.language_monitor ? json(p.driver.language_monitor->name) : json(nullptr)},
      {"default_datatype", p.driver.default_datatype},
  };
}

bool KnownDatatype(const std::string& type) {
  static const char* const kTypes[] = {"RAW",          "RAW [FF appended]", "RAW [FF auto]",
                                       "NT EMF 1.003", "NT EMF 1.006",      "NT EMF 1.007",
                                       "NT EMF 1.008", "TEXT",              "XPS2GDI"};
  return std::any_of(std::begin(kTypes), std::end(kTypes),
                     [&](const char* t) { return EqualNoCase(type, t); });
}

json Ok() { return {{"ok", true}}; }

json Refused(const std::string& message) { return {{"ok", false}, {"error", message}}; }

}  // namespace

Daemon::Daemon(World world, std::string source, std::string dir)
    : world_(world), original_(std::move(world)), source_(std::move(source)), dir_(std::move(dir)) {}

Daemon::~Daemon() { StopMonitors(); }

void Daemon::set_stop_notifier(void (*notify)(void*), void* context) {
  notify_stop_ = notify;
  notify_context_ = context;
}

// ---- Spooler service ----------------------------------------------------------

Reply Daemon::Spooler(const json& request, const std::optional<std::string>& body, pid_t peer) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    json reply;
    bool sync = false;
    std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> reloads;
    {
      std::lock_guard<std::mutex> guard(lock_);
      pending_reloads_.clear();
      reply = SpoolerLocked(request, body, peer);
      sync = std::exchange(pending_monitor_sync_, false);
      reloads.swap(pending_reloads_);
    }
    // A printer moved to another port takes its language monitor along.
    if (sync) SyncMonitors(false);
    if (!reloads.empty()) Reloads(std::move(reloads));
    return {reply, std::nullopt};
  } catch (const SpoolerError& e) {
    return {{{"error", e.code}, {"message", e.message}}, std::nullopt};
  } catch (const std::exception& e) {  // bad requests, json type errors and allocation failures
    return {{{"error", ERROR_INVALID_PARAMETER}, {"message", e.what()}}, std::nullopt};
  }
}

void Daemon::ReapHandlesLocked() {
  for (auto it = handles_.begin(); it != handles_.end();) {
    if (kill(it->second.pid, 0) != 0 && errno == ESRCH) {
      AbortDocLocked(it->second);
      it = handles_.erase(it);
    } else {
      ++it;
    }
  }
}

void Daemon::AbortDocLocked(OpenHandle& handle) {
  if (handle.job == 0) return;
  if (Printer* p = world_.FindPrinter(handle.printer)) {
    auto& jobs = p->jobs;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == handle.job; }),
               jobs.end());
  }
  handle.job = 0;
  handle.page = false;
}

void Daemon::PrintReadyJobsLocked(Printer& p) {
  if (p.status & PRINTER_STATUS_PAUSED) return;
  const Port* port = world_.FindPort(p.port);
  const std::string port_name = port != nullptr ? port->name : p.port;
  for (auto it = p.jobs.begin(); it != p.jobs.end();) {
    const bool ready = it->spooled && !(it->status & (JOB_STATUS_SPOOLING | JOB_STATUS_PAUSED));
    if (!ready) {
      ++it;
      continue;
    }
    std::vector<uint8_t>& got = world_.received[port_name];
    got.insert(got.end(), it->data.begin(), it->data.end());
    if (got.size() > kMaxReceived) got.erase(got.begin(), got.end() - kMaxReceived);
    if (EqualNoCase(port_name, "FILE:")) {
      // The print-to-file port: each job becomes a file of the world folder.
      const std::string path = dir_ + "/FILE-job" + std::to_string(it->id) + ".prn";
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        size_t done = 0;
        while (done < it->data.size()) {
          const ssize_t n = write(fd, it->data.data() + done, it->data.size() - done);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          done += static_cast<size_t>(n);
        }
        close(fd);
      }
    }
    it = p.jobs.erase(it);
  }
}

json Daemon::SpoolerLocked(const json& request, const std::optional<std::string>& body, pid_t peer) {
  const std::string op = Text(request, "op", 64);

  // The handle a request names. A handle is one only in the process that
  // opened it: to every other process (the connection's peer, as the kernel
  // reports it) it is no handle at all, as handle values are on Windows.
  auto handle_entry = [&](const json& req) {
    const uint64_t id = Unsigned(req, "handle", UINT64_MAX);
    auto it = handles_.find(id);
    if (it == handles_.end() || it->second.pid != peer) {
      throw SpoolerError{ERROR_INVALID_HANDLE, "unknown printer handle"};
    }
    return it;
  };
  // The printer behind a handle; the handle outlives a removed printer and
  // then reports it deleted.
  auto printer_of = [&](const json& req) -> const Printer& {
    auto it = handle_entry(req);
    const Printer* p = world_.FindPrinter(it->second.printer);
    if (p == nullptr) throw SpoolerError{ERROR_PRINTER_DELETED, "the printer has been removed"};
    return *p;
  };
  auto named = [&](const std::string& name) -> const Printer& {
    const Printer* p = name.size() > kMaxNameLength ? nullptr : world_.FindPrinter(name);
    if (p == nullptr) throw SpoolerError{ERROR_INVALID_PRINTER_NAME, "no such printer"};
    return *p;
  };

  if (op == "system") {
    return {{"error", 0},
            {"os",
             {{"major", world_.os.major},
              {"minor", world_.os.minor},
              {"build", world_.os.build},
              {"platform_id", world_.os.platform_id},
              {"csd", world_.os.csd}}},
            {"code_page", world_.code_page}};
  }

  if (op == "enum_printers") {
    const auto flags = static_cast<DWORD>(Unsigned(request, "flags", 0xFFFFFFFFu));
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    const std::optional<std::string> server = OptionalText(request, "name", kMaxRequest);
    if (level != 1 && level != 2 && level != 4 && level != 5) {
      throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
    }
    json list = json::array();
    if (flags & PRINTER_ENUM_DEFAULT) {
      if (world_.default_printer) {
        if (const Printer* p = world_.FindPrinter(*world_.default_printer)) {
          list.push_back(PrinterInfo(*p, level == 2));
        }
      }
    } else if ((flags & PRINTER_ENUM_NAME) && server && !server->empty()) {
      // Only this machine's own spooler exists; other servers are not reachable.
      throw SpoolerError{ERROR_INVALID_NAME, "no other print servers exist"};
    } else if (flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) {
      for (const Printer& p : world_.printers) list.push_back(PrinterInfo(p, level == 2));
    }
    // PRINTER_ENUM_CONNECTIONS, _REMOTE, _NETWORK, _SHARED: there are none.
    return {{"error", 0}, {"printers", list}};
  }

  if (op == "open_printer") {
    const std::string name = Text(request, "name", kMaxRequest);
    const auto access = static_cast<DWORD>(Unsigned(request, "access", 0xFFFFFFFFu));
    const std::optional<std::string> datatype = OptionalText(request, "datatype", kMaxRequest);
    const Printer& p = named(name);
    if (datatype && !KnownDatatype(*datatype)) {
      throw SpoolerError{ERROR_INVALID_DATATYPE, "unknown data type"};
    }
    if (p.refuse_open_error != 0) throw SpoolerError{p.refuse_open_error, "the printer refuses opens"};
    if (handles_.size() >= kMaxHandles / 2) ReapHandlesLocked();
    if (handles_.size() >= kMaxHandles) {
      throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "too many open printer handles"};
    }
    const uint64_t id = next_handle_++;
    handles_[id] = OpenHandle{p.name, access, peer};
    return {{"error", 0}, {"handle", id}};
  }

  if (op == "close_printer") {
    auto it = handle_entry(request);
    AbortDocLocked(it->second);  // a document never ended is not printed
    handles_.erase(it);
    return {{"error", 0}};
  }

  // The handle and its printer, for the calls that change them.
  auto handle_of = [&](const json& req) -> std::pair<OpenHandle&, Printer&> {
    auto it = handle_entry(req);
    Printer* p = world_.FindPrinter(it->second.printer);
    if (p == nullptr) throw SpoolerError{ERROR_PRINTER_DELETED, "the printer has been removed"};
    return {it->second, *p};
  };
  // The job a handle spools; a job deleted under it cancels the document.
  auto spooling = [&](OpenHandle& h, Printer& p) -> Job& {
    if (h.job == 0) throw SpoolerError{ERROR_SPL_NO_STARTDOC, "no document has been started"};
    Job* job = FindJob(p, h.job);
    if (job == nullptr) {
      h.job = 0;
      h.page = false;
      throw SpoolerError{ERROR_PRINT_CANCELLED, "the document has been deleted"};
    }
    return *job;
  };

  if (op == "set_printer") {
    auto [h, p] = handle_of(request);
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    const auto command = Unsigned(request, "command", 0xFFFFFFFFu);
    if (command != 0) throw SpoolerError{ERROR_INVALID_PARAMETER, "only command 0 is supported"};
    if (level != 2) throw SpoolerError{ERROR_INVALID_LEVEL, "level 2 is supported"};
    if (!(h.access & PRINTER_ACCESS_ADMINISTER)) {
      throw SpoolerError{ERROR_ACCESS_DENIED, "the handle was not opened to administer the printer"};
    }
    if (p.refuse_set_error != 0) throw SpoolerError{p.refuse_set_error, "the printer refuses changes"};
    // Check everything, then write: a refused call changes nothing.
    Printer changed = p;
    const std::optional<std::string> port = OptionalText(request, "port", kMaxRequest);
    if (port) {
      const Port* known = world_.FindPort(*port);
      if (known == nullptr) throw SpoolerError{ERROR_UNKNOWN_PORT, "no such port"};
      changed.port = known->name;
    }
    const std::optional<std::string> driver = OptionalText(request, "driver", kMaxRequest);
    if (driver && !EqualNoCase(*driver, p.driver.name)) {
      throw SpoolerError{ERROR_UNKNOWN_PRINTER_DRIVER, "no such driver is installed"};
    }
    auto text = [&](const char* key, std::string& field, size_t max) {
      const std::optional<std::string> t = OptionalText(request, key, kMaxRequest);
      if (!t) return;
      if (t->size() > max) throw SpoolerError{ERROR_INVALID_PARAMETER, std::string(key) + " is too long"};
      field = *t;
    };
    text("share_name", changed.share_name, 80);
    text("location", changed.location, kMaxTextLength);
    text("comment", changed.comment, kMaxTextLength);
    if (auto it = request.find("attributes"); it != request.end()) {
      changed.attributes = static_cast<DWORD>(Unsigned(request, "attributes", 0xFFFFFFFFu));
    }
    if (auto it = request.find("priority"); it != request.end()) {
      const auto priority = Unsigned(request, "priority", 0xFFFFFFFFu);
      if (priority < 1 || priority > 99) throw SpoolerError{ERROR_INVALID_PARAMETER, "priorities are 1 to 99"};
      changed.priority = static_cast<DWORD>(priority);
    }
    if (const std::optional<std::string> hex = OptionalText(request, "devmode", kMaxRequest)) {
      std::vector<uint8_t> bytes;
      DEVMODEA dm;
      const qxwire::DevmodeCheck check = qxwire::DecodeDevmode(*hex, sizeof dm, bytes);
      if (check == qxwire::DevmodeCheck::kNotADevmode) {
        throw SpoolerError{ERROR_INVALID_PARAMETER, "not a device mode"};
      }
      std::memcpy(&dm, bytes.data(), sizeof dm);
      if (check != qxwire::DevmodeCheck::kOk || dm.dmDriverExtra > kMaxDriverExtra) {
        throw SpoolerError{ERROR_INVALID_PARAMETER, "the device mode's sizes do not match its bytes"};
      }
      dm.dmSize = sizeof dm;  // a longer public part is cut to the one this spooler knows
      changed.devmode = dm;
      changed.driver_extra.assign(bytes.end() - dm.dmDriverExtra, bytes.end());
    }
    const bool port_changed = !EqualNoCase(changed.port, p.port);
    p = std::move(changed);
    if (port_changed) pending_monitor_sync_ = true;
    // The spooler reloads a stopped language monitor of a printer whose
    // device mode was rewritten.
    if (auto dm = request.find("devmode"); dm != request.end() && !dm->is_null()) {
      pending_reloads_.emplace_back(p.port, LanguageMonitor::ReloadCause::kDevmode);
    }
    return {{"error", 0}};
  }

  if (op == "document_properties") {
    auto [h, p] = handle_of(request);
    (void)h;
    if (const auto in = request.find("input"); in != request.end() && in->is_object() && in->size() <= 8) {
      json asked = json::object();
      for (const auto& [key, value] : in->items()) {
        if (value.is_number_integer()) asked[key] = value;
      }
      last_merge_[Lower(p.name)] = asked;
    }
    json papers = json::array();
    for (const Sheet& s : p.sheets) papers.push_back(s.code);
    json bins = json::array();
    for (const Bin& b : p.bins) bins.push_back(b.code);
    return {{"error", 0}, {"devmode", DevmodeHex(p)}, {"papers", papers}, {"bins", bins}};
  }

  if (op == "start_doc") {
    auto [h, p] = handle_of(request);
    const std::optional<std::string> document = OptionalText(request, "document", kMaxRequest);
    const std::optional<std::string> datatype = OptionalText(request, "datatype", kMaxRequest);
    if (h.job != 0 && FindJob(p, h.job) != nullptr) {
      throw SpoolerError{ERROR_INVALID_PRINTER_STATE, "a document is being spooled on this handle"};
    }
    h.job = 0;
    if (datatype && !EqualNoCase(*datatype, "RAW")) {
      throw SpoolerError{ERROR_INVALID_DATATYPE, "only RAW documents are accepted"};
    }
    if (p.refuse_start_doc_error != 0) throw SpoolerError{p.refuse_start_doc_error, "the printer refuses documents"};
    if (p.jobs.size() >= kMaxJobs) throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "the queue is full"};
    Job job;
    job.id = world_.next_job_id++;
    job.document = document ? document->substr(0, kMaxTextLength) : "";
    job.status = JOB_STATUS_SPOOLING;
    job.datatype = "RAW";
    job.spooled = true;
    job.submitted = static_cast<int64_t>(std::time(nullptr));
    p.jobs.push_back(job);
    h.job = job.id;
    h.page = false;
    // A job on the port makes the spooler reload a stopped language monitor.
    pending_reloads_.emplace_back(p.port, LanguageMonitor::ReloadCause::kJob);
    return {{"error", 0}, {"job", job.id}};
  }

  if (op == "start_page" || op == "end_page") {
    auto [h, p] = handle_of(request);
    Job& job = spooling(h, p);
    if (op == "start_page") {
      h.page = true;
      ++job.pages;
    } else {
      h.page = false;
    }
    return {{"error", 0}};
  }

  if (op == "write") {
    auto [h, p] = handle_of(request);
    // The bytes come as the binary body, or in hex as "data".
    const std::string hex = body ? std::string() : Text(request, "data", kMaxRequest);
    Job& job = spooling(h, p);
    if (p.refuse_write_error != 0) throw SpoolerError{p.refuse_write_error, "the printer refuses the bytes"};
    std::vector<uint8_t> bytes;
    if (body) {
      bytes.assign(body->begin(), body->end());
    } else if (!FromHex(hex, bytes)) {
      throw BadRequest("\"data\" must be hexadecimal digits");
    }
    // A printer with a write limit takes only the first bytes: a short write.
    if (p.write_limit != 0 && bytes.size() > p.write_limit) bytes.resize(p.write_limit);
    if (job.data.size() + bytes.size() > kMaxJobBytes) {
      throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "the job is as large as a job can be"};
    }
    job.data.insert(job.data.end(), bytes.begin(), bytes.end());
    return {{"error", 0}, {"written", bytes.size()}};
  }

  if (op == "end_doc") {
    auto [h, p] = handle_of(request);
    Job& job = spooling(h, p);
    job.status &= ~static_cast<DWORD>(JOB_STATUS_SPOOLING);
    h.job = 0;
    h.page = false;
    PrintReadyJobsLocked(p);
    return {{"error", 0}};
  }

  if (op == "abort") {
    auto [h, p] = handle_of(request);
    if (h.job == 0) throw SpoolerError{ERROR_SPL_NO_STARTDOC, "no document has been started"};
    AbortDocLocked(h);
    (void)p;
    return {{"error", 0}};
  }

  if (op == "enum_jobs") {
    const Printer& p = printer_of(request);
    const auto first = Unsigned(request, "first", 0xFFFFFFFFu);
    const auto count = Unsigned(request, "count", 0xFFFFFFFFu);
    json list = json::array();
    for (size_t i = first; i < p.jobs.size() && list.size() < count; ++i) {
      list.push_back(JobInfo(p, p.jobs[i], i + 1));
    }
    return {{"error", 0}, {"jobs", list}};
  }

  if (op == "set_job") {
    auto [h, p] = handle_of(request);
    (void)h;
    const auto id = static_cast<DWORD>(Unsigned(request, "job", 0xFFFFFFFFu));
    const auto command = Unsigned(request, "command", 0xFFFFFFFFu);
    Job* job = FindJob(p, id);
    if (job == nullptr) throw SpoolerError{ERROR_INVALID_PARAMETER, "no such job on this printer"};
    if (command == kJobControlDelete || command == kJobControlCancel) {
      if (p.refuse_delete_error != 0) throw SpoolerError{p.refuse_delete_error, "the printer refuses to delete"};
      p.jobs.erase(p.jobs.begin() + (job - p.jobs.data()));
    } else if (command == kJobControlPause) {
      job->status |= JOB_STATUS_PAUSED;
    } else if (command == kJobControlResume) {
      job->status &= ~static_cast<DWORD>(JOB_STATUS_PAUSED);
      PrintReadyJobsLocked(p);
    } else {
      throw SpoolerError{ERROR_INVALID_PARAMETER, "unsupported job command"};
    }
    return {{"error", 0}};
  }

  if (op == "get_printer") {
    const Printer& p = printer_of(request);
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    if (level != 1 && level != 2 && level != 4 && level != 5) {
      throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
    }
    return {{"error", 0}, {"printer", PrinterInfo(p, level == 2)}};
  }

  // Printer data: value names are matched without regard to case, as
  // registry value names are; a rewrite keeps the name's first spelling.
  if (op == "get_printer_data") {
    const Printer& p = printer_of(request);
    const std::string name = Text(request, "value", kMaxRequest);
    auto it = FindDataValue(p, name);
    if (it == p.data.end()) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no such printer data value"};
    return {{"error", 0}, {"type", it->second.type}, {"data", ToHex(it->second.bytes)}};
  }

  if (op == "set_printer_data") {
    auto [h, p] = handle_of(request);
    const std::string name = Text(request, "value", kMaxRequest);
    const auto type = Unsigned(request, "type", 0xFFFFFFFFu);
    std::vector<uint8_t> bytes;
    if (!FromHex(Text(request, "data", kMaxRequest), bytes)) {
      throw SpoolerError{ERROR_INVALID_PARAMETER, "data is not hexadecimal"};
    }
    if (!(h.access & PRINTER_ACCESS_ADMINISTER)) {
      throw SpoolerError{ERROR_ACCESS_DENIED, "the handle was not opened to administer the printer"};
    }
    if (p.refuse_set_error != 0) throw SpoolerError{p.refuse_set_error, "the printer refuses changes"};
    if (name.empty() || name.size() > kMaxTextLength) {
      throw SpoolerError{ERROR_INVALID_PARAMETER, "value names are 1 to 259 characters"};
    }
    if (type != REG_DWORD && type != REG_SZ && type != REG_BINARY) {
      throw SpoolerError{ERROR_INVALID_PARAMETER, "types REG_DWORD, REG_SZ and REG_BINARY are supported"};
    }
    if ((type == REG_DWORD && bytes.size() != 4) || (type == REG_SZ && (bytes.empty() || bytes.back() != 0)) ||
        bytes.size() > kMaxDataBytes) {
      throw SpoolerError{ERROR_INVALID_PARAMETER, "the data does not suit its type"};
    }
    auto it = FindDataValue(p, name);
    if (it == p.data.end()) {
      if (p.data.size() >= kMaxDataValues) throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "too many values"};
      it = p.data.emplace(name, DataValue{}).first;
    }
    it->second.type = static_cast<DWORD>(type);
    it->second.bytes = std::move(bytes);
    return {{"error", 0}};
  }

  if (op == "get_printer_driver") {
    const Printer& p = printer_of(request);
    const auto level = Unsigned(request, "level", 0xFFFFFFFFu);
    const std::optional<std::string> env = OptionalText(request, "environment", kMaxRequest);
    if (env && !EqualNoCase(*env, kEnvironment)) {
      throw SpoolerError{ERROR_INVALID_ENVIRONMENT, "only \"Windows x64\" drivers are installed"};
    }
    if (level < 1 || level > 3) throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1 to 3 are supported"};
    return {{"error", 0}, {"driver", DriverInfo(p)}};
  }

  if (op == "get_default_printer") {
    if (!world_.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    return {{"error", 0}, {"name", *world_.default_printer}};
  }

  if (op == "device_capabilities") {
    const Printer& p = named(Text(request, "device", kMaxRequest));
    json sheets = json::array();
    for (const Sheet& s : p.sheets) sheets.push_back({s.name, s.code, s.width, s.length});
    json bins = json::array();
    for (const Bin& b : p.bins) bins.push_back({b.name, b.code});
    json files = json::array();
    for (const DriverFile& f : p.driver.dependent_files) files.push_back(f.path);
    return {{"error", 0},
            {"sheets", sheets},
            {"bins", bins},
            {"devmode", DevmodeHex(p)},
            {"dependent_files", files}};
  }

  if (op == "default_devnames") {
    if (!world_.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    const Printer* p = world_.FindPrinter(*world_.default_printer);
    if (p == nullptr) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
    if (p->refuse_open_error != 0) throw SpoolerError{p->refuse_open_error, "the printer refuses opens"};
    json sheets = json::array();
    for (const Sheet& s : p->sheets) sheets.push_back({s.name, s.code, s.width, s.length});
    return {{"error", 0},
            {"name", p->name},
            {"port", p->port},
            {"driver", p->driver.name},
            {"devmode", DevmodeHex(*p)},
            {"sheets", sheets}};
  }

  throw BadRequest("unknown operation \"" + op + "\"");
}

// ---- Control API -----------------------------------------------------------------

Reply Daemon::Control(const json& request) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    const std::string op = Text(request, "op", 64);
    if (op == "monitors" || op == "monitor" || op == "set_monitor" || op == "script_monitor" ||
        op == "monitor_requests" || op == "monitor_state") {
      return {ControlMonitor(request), std::nullopt};
    }
    if (op == "stop") {
      stop_requested_ = true;
      if (notify_stop_ != nullptr) notify_stop_(notify_context_);
      return {Ok(), std::nullopt};
    }
    if (op == "reset") {
      {
        std::lock_guard<std::mutex> guard(lock_);
        world_ = original_;
      }
      SyncMonitors(true);
      return {Ok(), std::nullopt};
    }
    bool monitors_changed = false;
    Reply reply;
    {
      std::lock_guard<std::mutex> guard(lock_);
      reply.head = ControlWorld(request, monitors_changed, reply.body);
    }
    if (monitors_changed) SyncMonitors(false);
    return reply;
  } catch (const std::exception& e) {  // bad requests (a WorldError too), allocation failures
    return {Refused(e.what()), std::nullopt};
  }
}

json Daemon::ControlWorld(const json& request, bool& monitors_changed, std::optional<std::string>& body) {
  const std::string op = Text(request, "op", 64);

  auto printer_named = [&](const json& req, const char* key) -> Printer& {
    const std::string name = Text(req, key, kMaxRequest);
    Printer* p = world_.FindPrinter(name);
    if (p == nullptr) throw BadRequest("no printer named \"" + name + "\"");
    return *p;
  };
  auto with_extras = [&](const Printer& p) {
    json j = PrinterToJson(p);
    j["default"] = world_.default_printer && EqualNoCase(*world_.default_printer, p.name);
    if (const auto m = last_merge_.find(Lower(p.name)); m != last_merge_.end()) j["last_merge_input"] = m->second;
    j["open_handles"] = std::count_if(handles_.begin(), handles_.end(), [&](const auto& h) {
      return EqualNoCase(h.second.printer, p.name);
    });
    return j;
  };

  // Inspections count only handles whose processes still live.
  if (op == "status" || op == "printers" || op == "printer") ReapHandlesLocked();

  if (op == "status") {
    return {{"ok", true},
            {"pid", getpid()},
            {"dir", dir_},
            {"source", source_},
            {"printers", world_.printers.size()},
            {"open_handles", handles_.size()}};
  }
  if (op == "world") return {{"ok", true}, {"world", WorldToJson(world_)}};

  if (op == "printers") {
    json list = json::array();
    for (const Printer& p : world_.printers) list.push_back(with_extras(p));
    return {{"ok", true}, {"printers", list}};
  }
  if (op == "printer") return {{"ok", true}, {"printer", with_extras(printer_named(request, "name"))}};

  if (op == "jobs") {
    const std::optional<std::string> only = OptionalText(request, "printer", kMaxRequest);
    if (only && world_.FindPrinter(*only) == nullptr) throw BadRequest("no printer named \"" + *only + "\"");
    json list = json::array();
    for (const Printer& p : world_.printers) {
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

  if (op == "ports") {
    json list = json::array();
    for (const Port& port : world_.ports) {
      json printers = json::array();
      for (const Printer& p : world_.printers) {
        if (EqualNoCase(p.port, port.name)) printers.push_back(p.name);
      }
      json usb = json::array();
      for (const UsbInterface& u : world_.usb_interfaces) {
        if (EqualNoCase(u.port_name, port.name)) usb.push_back(u.device_path);
      }
      const Device* d = world_.FindDevice(port.name);
      list.push_back({{"name", port.name},
                      {"description", port.description},
                      {"printers", printers},
                      {"usb_interfaces", usb},
                      {"device", d != nullptr ? json(d->model) : json(nullptr)},
                      {"received", world_.received.count(port.name) ? world_.received.at(port.name).size() : 0}});
    }
    return {{"ok", true}, {"ports", list}};
  }

  if (op == "received") {
    const std::string port = Text(request, "port", 64);
    const Port* known = world_.FindPort(port);
    if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
    auto it = world_.received.find(known->name);
    const bool clear = OptionalBool(request, "clear").value_or(false);
    // The bytes as the reply's binary body when asked, else in hex as "data".
    const bool binary = OptionalBool(request, "binary").value_or(false);
    json reply = {{"ok", true}, {"port", known->name}, {"size", it == world_.received.end() ? 0 : it->second.size()}};
    if (binary) {
      body.emplace(it == world_.received.end() ? std::string() : std::string(it->second.begin(), it->second.end()));
    } else {
      reply["data"] = it == world_.received.end() ? std::string() : ToHex(it->second);
    }
    if (clear && it != world_.received.end()) world_.received.erase(it);
    return reply;
  }

  if (op == "devices") {
    json list = json::array();
    for (const Device& d : world_.devices) list.push_back(DeviceToJson(d));
    return {{"ok", true}, {"devices", list}};
  }

  if (op == "set_printer") {
    Printer& p = printer_named(request, "name");
    // Check everything first, then change: a refused request changes nothing.
    Printer changed = p;
    for (auto it = request.begin(); it != request.end(); ++it) {
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
        const std::string text = Text(request, key.c_str(), kMaxTextLength);
        (key == "location" ? changed.location : changed.comment) = text;
      } else if (key == "port") {
        const std::string port = Text(request, "port", 64);
        const Port* known = world_.FindPort(port);
        if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
        changed.port = known->name;
      } else {
        throw BadRequest("\"" + key + "\" cannot be set on a printer");
      }
    }
    monitors_changed = !EqualNoCase(changed.port, p.port);
    p = std::move(changed);
    PrintReadyJobsLocked(p);  // a printer no longer paused prints what it kept
    return {{"ok", true}, {"printer", with_extras(p)}};
  }

  if (op == "add_printer") {
    if (world_.printers.size() >= kMaxPrinters) throw BadRequest("the world has as many printers as it can hold");
    DWORD next_id = world_.next_job_id;
    Printer p = ParsePrinter(Field(request, "printer"), world_, "printer", next_id);
    if (world_.FindPrinter(p.name) != nullptr) throw BadRequest("printer \"" + p.name + "\" exists already");
    for (const Job& job : p.jobs) {
      for (const Printer& other : world_.printers) {
        for (const Job& used : other.jobs) {
          if (used.id == job.id) throw BadRequest("job id " + std::to_string(job.id) + " is in use");
        }
      }
    }
    world_.next_job_id = next_id;
    world_.printers.push_back(std::move(p));
    monitors_changed = true;
    return {{"ok", true}, {"printer", with_extras(world_.printers.back())}};
  }

  if (op == "remove_printer") {
    Printer& p = printer_named(request, "name");
    if (world_.default_printer && EqualNoCase(*world_.default_printer, p.name)) {
      world_.default_printer.reset();
    }
    world_.printers.erase(world_.printers.begin() + (&p - world_.printers.data()));
    monitors_changed = true;
    return Ok();
  }

  if (op == "set_default") {
    const std::optional<std::string> name = OptionalText(request, "name", kMaxRequest);
    if (!name) {
      world_.default_printer.reset();
      return Ok();
    }
    const Printer* p = world_.FindPrinter(*name);
    if (p == nullptr) throw BadRequest("no printer named \"" + *name + "\"");
    world_.default_printer = p->name;
    return Ok();
  }

  if (op == "add_job") {
    Printer& p = printer_named(request, "printer");
    if (p.jobs.size() >= kMaxJobs) throw BadRequest("the printer has as many jobs as it can hold");
    Job job;
    job.document = Text(request, "document", kMaxTextLength);
    if (auto it = request.find("status"); it != request.end()) job.status = ParseJobStatus(*it, "status");
    job.id = world_.next_job_id++;
    p.jobs.push_back(job);
    return {{"ok", true}, {"id", job.id}};
  }

  if (op == "remove_job") {
    const auto id = static_cast<DWORD>(Unsigned(request, "id", 0xFFFFFFFFu));
    for (Printer& p : world_.printers) {
      for (auto it = p.jobs.begin(); it != p.jobs.end(); ++it) {
        if (it->id == id) {
          p.jobs.erase(it);
          return Ok();
        }
      }
    }
    throw BadRequest("no job with id " + std::to_string(id));
  }

  if (op == "set_device") {
    const std::string port = Text(request, "port", 64);
    const Port* known = world_.FindPort(port);
    if (known == nullptr) throw BadRequest("no port named \"" + port + "\"");
    Device* existing = world_.FindDevice(port);
    Device changed;
    if (existing != nullptr) {
      changed = *existing;
    } else {
      changed.port = known->name;
    }
    // The keys of the world file's device object, checked the same way.
    for (auto it = request.begin(); it != request.end(); ++it) {
      const std::string& key = it.key();
      if (key == "op" || key == "port") continue;
      if (!SetDeviceKey(changed, key, it.value(), key)) {
        throw BadRequest("\"" + key + "\" cannot be set on a device");
      }
    }
    if (existing != nullptr) {
      *existing = std::move(changed);
    } else {
      world_.devices.push_back(std::move(changed));
    }
    return {{"ok", true}, {"device", DeviceToJson(*world_.FindDevice(port))}};
  }

  if (op == "remove_device") {
    const std::string port = Text(request, "port", 64);
    auto it = std::find_if(world_.devices.begin(), world_.devices.end(),
                           [&](const Device& d) { return EqualNoCase(d.port, port); });
    if (it == world_.devices.end()) throw BadRequest("no device on port \"" + port + "\"");
    world_.devices.erase(it);
    return Ok();
  }

  throw BadRequest("unknown operation \"" + op + "\"");
}

// ---- Language monitors ---------------------------------------------------------------

void Daemon::StartMonitors() { SyncMonitors(false); }

void Daemon::StopMonitors() {
  std::lock_guard<std::mutex> guard(monitors_lock_);
  for (auto& [port, monitor] : monitors_) monitor->Stop();
  monitors_.clear();
}

void Daemon::SyncMonitors(bool restart_all) {
  struct Wanted {
    MonitorInfo info;
    bool running;
  };
  std::vector<Wanted> wanted;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Printer& p : world_.printers) {
      if (!p.driver.language_monitor) continue;
      const bool taken = std::any_of(wanted.begin(), wanted.end(), [&](const Wanted& w) {
        return EqualNoCase(w.info.port, p.port);
      });
      if (taken) continue;  // one monitor per port: the first printer on it
      const LanguageMonitorInfo& lm = *p.driver.language_monitor;
      wanted.push_back({{p.port, p.name, lm.version, lm.reload_on_devmode, lm.reload_on_job}, lm.running});
    }
  }
  std::lock_guard<std::mutex> guard(monitors_lock_);
  if (restart_all) {
    for (auto& [port, monitor] : monitors_) monitor->Stop();
    monitors_.clear();
  }
  for (auto it = monitors_.begin(); it != monitors_.end();) {
    const bool keep = std::any_of(wanted.begin(), wanted.end(),
                                  [&](const Wanted& w) { return w.info.port == it->first; });
    if (keep) {
      ++it;
    } else {
      it->second->Stop();
      it = monitors_.erase(it);
    }
  }
  for (const Wanted& w : wanted) {
    auto it = monitors_.find(w.info.port);
    if (it != monitors_.end()) {
      if (it->second->info().printer != w.info.printer) it->second->SetPrinterName(w.info.printer);
      continue;
    }
    auto monitor = std::make_unique<LanguageMonitor>(w.info, this);
    if (w.running) monitor->Start();
    monitors_.emplace(w.info.port, std::move(monitor));
  }
}

json Daemon::MonitorJson(const std::string& port, const LanguageMonitor& monitor, bool full) {
  const MonitorSnapshot s = monitor.Snapshot();
  json j = {{"port", port},
            {"printer", s.info.printer},
            {"version", s.info.version},
            {"running", s.running},
            {"busy", s.busy}};
  if (!full) return j;
  j["crc_error"] = s.crc_error;
  j["reply_delay_ms"] = s.reply_delay_ms;
  j["flash_block_ms"] = s.flash_block_ms;
  j["heartbeat"] = s.heartbeat;
  j["heartbeat_rate"] = s.heartbeat_rate;
  j["save_method"] = s.save_method;
  j["wd_setup"] = {s.wd_setup[0], s.wd_setup[1], s.wd_setup[2], s.wd_setup[3]};
  j["aborts"] = s.aborts;
  j["resets"] = s.resets;
  j["reload_on_devmode"] = s.info.reload_on_devmode;
  j["reload_on_job"] = s.info.reload_on_job;
  j["reloads"] = s.reloads;
  j["exchanges"] = s.exchanges;
  j["flash"] = {{"state", FlashStateName(s.flash.state)},
                {"code", static_cast<int>(s.flash.state)},
                {"max", s.flash.max},
                {"current", s.flash.current},
                {"pass_fail", s.flash.pass ? "P" : "F"},
                {"note", s.flash.note},
                {"file", s.flash.file}};
  return j;
}

json Daemon::MonitorsJson() {
  json list = json::array();
  for (const auto& [port, monitor] : monitors_) list.push_back(MonitorJson(port, *monitor, false));
  return list;
}

void Daemon::Reloads(std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> reloads) {
  std::lock_guard<std::mutex> guard(monitors_lock_);
  for (const auto& [port, cause] : reloads) {
    auto it = std::find_if(monitors_.begin(), monitors_.end(),
                           [&](const auto& m) { return EqualNoCase(m.first, port); });
    if (it != monitors_.end()) it->second->Reload(cause);
  }
}

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

}  // namespace

json Daemon::ControlMonitor(const json& request) {
  const std::string op = Text(request, "op", 64);
  std::lock_guard<std::mutex> guard(monitors_lock_);
  if (op == "monitors") return {{"ok", true}, {"monitors", MonitorsJson()}};

  const std::string port = Text(request, "port", 64);
  auto it = std::find_if(monitors_.begin(), monitors_.end(),
                         [&](const auto& m) { return EqualNoCase(m.first, port); });
  if (it == monitors_.end()) throw BadRequest("no language monitor on port \"" + port + "\"");
  LanguageMonitor& monitor = *it->second;

  if (op == "monitor_state") return {{"ok", true}, {"monitor", MonitorJson(it->first, monitor, true)}};
  if (op == "set_monitor") {
    monitor.Change(ParseMonitorSettings(request));
    return {{"ok", true}, {"monitor", MonitorJson(it->first, monitor, true)}};
  }
  if (op == "script_monitor") {
    monitor.SetScript(ParseReplyScript(Field(request, "script")));
    return Ok();
  }
  if (op == "monitor_requests") {
    const bool clear = OptionalBool(request, "clear").value_or(false);
    json list = json::array();
    for (const std::string& message : monitor.Requests(clear)) {
      list.push_back(ToHex(std::vector<uint8_t>(message.begin(), message.end())));
    }
    return {{"ok", true}, {"requests", list}};
  }

  const std::string action = Text(request, "action", 16);
  if (action == "start") {
    if (monitor.running()) return Refused("the language monitor on " + it->first + " is running already");
    if (!monitor.Start()) return Refused("the language monitor on " + it->first + " did not start");
  } else if (action == "stop") {
    monitor.Stop();
  } else if (action == "crash") {
    monitor.Crash();
  } else if (action == "busy") {
    const json& busy = Field(request, "busy");
    if (!busy.is_boolean()) throw BadRequest("\"busy\" must be true or false");
    monitor.SetBusy(busy.get<bool>());
  } else {
    throw BadRequest("unknown monitor action \"" + action + "\" (start, stop, crash, busy)");
  }
  return {{"ok", true}, {"monitor", MonitorJson(it->first, monitor, false)}};
}

// ---- The world as the monitors reach it ------------------------------------------

bool Daemon::PrinterOn(const std::string& port, PrinterState* state) {
  std::lock_guard<std::mutex> guard(lock_);
  const Device* d = world_.FindDevice(port);
  if (d == nullptr) return false;
  *state = EmulatorState(*d);
  return true;
}

bool Daemon::JobInProgress(const std::string& port) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::any_of(world_.printers.begin(), world_.printers.end(),
                     [&](const Printer& p) { return EqualNoCase(p.port, port) && !p.jobs.empty(); });
}

bool Daemon::AbortJob(const std::string& port, std::string* document) {
  std::lock_guard<std::mutex> guard(lock_);
  // The oldest job is the one the port is printing: the lowest id.
  Printer* owner = nullptr;
  const Job* oldest = nullptr;
  for (Printer& p : world_.printers) {
    if (!EqualNoCase(p.port, port)) continue;
    for (const Job& job : p.jobs) {
      if (oldest == nullptr || job.id < oldest->id) {
        oldest = &job;
        owner = &p;
      }
    }
  }
  if (oldest == nullptr) return false;
  *document = oldest->document;
  // A handle spooling it gets ERROR_PRINT_CANCELLED at its next call.
  owner->jobs.erase(owner->jobs.begin() + (oldest - owner->jobs.data()));
  return true;
}

bool Daemon::WriteDataValue(const std::string& printer, const std::string& name, uint32_t value,
                            std::string* error) {
  std::lock_guard<std::mutex> guard(lock_);
  Printer* p = world_.FindPrinter(printer);
  if (p == nullptr) {
    *error = "NO PRINTER";
    return false;
  }
  auto it = FindDataValue(*p, name);
  if (it == p->data.end()) {
    if (p->data.size() >= kMaxDataValues) {
      *error = "TOO MANY VALUES";
      return false;
    }
    it = p->data.emplace(name, DataValue{}).first;
  }
  it->second.type = REG_DWORD;
  it->second.bytes.resize(4);
  std::memcpy(it->second.bytes.data(), &value, 4);
  return true;
}

void Daemon::SetFirmware(const std::string& port, const std::string& firmware) {
  std::lock_guard<std::mutex> guard(lock_);
  if (Device* d = world_.FindDevice(port)) d->firmware = firmware;
}

}  // namespace qxsim
