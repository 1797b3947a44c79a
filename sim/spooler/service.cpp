// service.cpp - qxsimd, daemon side: the spooler service (see service.h):
// its table of operations and the printer, settings and printer-data
// operations; the document and job operations are in jobs.cpp.
#include "spooler/service.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include <qxwire/devmode.h>
#include <qxwire/hex.h>
#include <qxwire/ops.h>

#include "spooler/call.h"

namespace qxsim {
namespace spooler {

using nlohmann::json;
using qxwire::FromHex;
using qxwire::ToHex;

namespace {

constexpr size_t kMaxHandles = 4096;
constexpr const char* kEnvironment = "Windows x64";

static_assert(offsetof(DEVMODEA, dmSize) == qxwire::kDevmodeSizeOffset &&
              offsetof(DEVMODEA, dmDriverExtra) == qxwire::kDevmodeExtraOffset);

// The printer's full device mode as the spooler hands it out, in wire form.
std::string DevmodeHex(const Printer& p) {
  return qxwire::EncodeDevmode(&p.devmode, sizeof p.devmode, p.driver_extra);
}

// The printer data value of that name, without regard to case.
template <class P>
auto FindDataValue(P& p, const std::string& name) {
  return std::find_if(p.data.begin(), p.data.end(), [&](const auto& v) { return EqualNoCase(v.first, name); });
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

}  // namespace

std::map<uint64_t, OpenHandle>::iterator HandleEntry(SpoolerCall& c) {
  const uint64_t id = Unsigned(c.request, "handle", UINT64_MAX);
  auto it = c.w.handles.find(id);
  if (it == c.w.handles.end() || it->second.pid != c.peer) {
    throw SpoolerError{ERROR_INVALID_HANDLE, "unknown printer handle"};
  }
  return it;
}

const Printer& PrinterOf(SpoolerCall& c) {
  auto it = HandleEntry(c);
  const Printer* p = c.w.world.FindPrinter(it->second.printer);
  if (p == nullptr) throw SpoolerError{ERROR_PRINTER_DELETED, "the printer has been removed"};
  return *p;
}

std::pair<OpenHandle&, Printer&> HandleOf(SpoolerCall& c) {
  auto it = HandleEntry(c);
  Printer* p = c.w.world.FindPrinter(it->second.printer);
  if (p == nullptr) throw SpoolerError{ERROR_PRINTER_DELETED, "the printer has been removed"};
  return {it->second, *p};
}

const Printer& Named(SpoolerCall& c, const std::string& name) {
  const Printer* p = name.size() > kMaxNameLength ? nullptr : c.w.world.FindPrinter(name);
  if (p == nullptr) throw SpoolerError{ERROR_INVALID_PRINTER_NAME, "no such printer"};
  return *p;
}

namespace {

// The world's system record: OS version and code page.
json System(SpoolerCall& c) {
  return {{"error", 0},
          {"os",
           {{"major", c.w.world.os.major},
            {"minor", c.w.world.os.minor},
            {"build", c.w.world.os.build},
            {"platform_id", c.w.world.os.platform_id},
            {"csd", c.w.world.os.csd}}},
          {"code_page", c.w.world.code_page}};
}

// EnumPrintersA: the default printer, or every local printer.
json EnumPrinters(SpoolerCall& c) {
  const auto flags = static_cast<DWORD>(Unsigned(c.request, "flags", 0xFFFFFFFFu));
  const auto level = Unsigned(c.request, "level", 0xFFFFFFFFu);
  const std::optional<std::string> server = OptionalText(c.request, "name", kMaxRequest);
  if (level != 1 && level != 2 && level != 4 && level != 5) {
    throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
  }
  json list = json::array();
  if (flags & PRINTER_ENUM_DEFAULT) {
    if (c.w.world.default_printer) {
      if (const Printer* p = c.w.world.FindPrinter(*c.w.world.default_printer)) {
        list.push_back(PrinterInfo(*p, level == 2));
      }
    }
  } else if ((flags & PRINTER_ENUM_NAME) && server && !server->empty()) {
    // Only this machine's own spooler exists; other servers are not reachable.
    throw SpoolerError{ERROR_INVALID_NAME, "no other print servers exist"};
  } else if (flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) {
    for (const Printer& p : c.w.world.printers) list.push_back(PrinterInfo(p, level == 2));
  }
  // PRINTER_ENUM_CONNECTIONS, _REMOTE, _NETWORK, _SHARED: there are none.
  return {{"error", 0}, {"printers", list}};
}

// OpenPrinterA: a handle of the caller's process.
json OpenPrinter(SpoolerCall& c) {
  const std::string name = Text(c.request, "name", kMaxRequest);
  const auto access = static_cast<DWORD>(Unsigned(c.request, "access", 0xFFFFFFFFu));
  const std::optional<std::string> datatype = OptionalText(c.request, "datatype", kMaxRequest);
  const Printer& p = Named(c, name);
  if (datatype && !KnownDatatype(*datatype)) {
    throw SpoolerError{ERROR_INVALID_DATATYPE, "unknown data type"};
  }
  if (p.refuse_open_error != 0) throw SpoolerError{p.refuse_open_error, "the printer refuses opens"};
  if (c.w.handles.size() >= kMaxHandles / 2) c.w.ReapHandlesLocked();
  if (c.w.handles.size() >= kMaxHandles) {
    throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "too many open printer handles"};
  }
  const uint64_t id = c.w.next_handle++;
  c.w.handles[id] = OpenHandle{p.name, access, c.peer};
  return {{"error", 0}, {"handle", id}};
}

// ClosePrinter: a document never ended is not printed.
json ClosePrinter(SpoolerCall& c) {
  auto it = HandleEntry(c);
  c.w.AbortDocLocked(it->second);  // a document never ended is not printed
  c.w.handles.erase(it);
  return {{"error", 0}};
}

// GetPrinterA levels 1, 2, 4 and 5.
json GetPrinter(SpoolerCall& c) {
  const Printer& p = PrinterOf(c);
  const auto level = Unsigned(c.request, "level", 0xFFFFFFFFu);
  if (level != 1 && level != 2 && level != 4 && level != 5) {
    throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1, 2, 4 and 5 are supported"};
  }
  return {{"error", 0}, {"printer", PrinterInfo(p, level == 2)}};
}

// SetPrinterA level 2: check everything, then write.
json SetPrinter(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  const auto level = Unsigned(c.request, "level", 0xFFFFFFFFu);
  const auto command = Unsigned(c.request, "command", 0xFFFFFFFFu);
  if (command != 0) throw SpoolerError{ERROR_INVALID_PARAMETER, "only command 0 is supported"};
  if (level != 2) throw SpoolerError{ERROR_INVALID_LEVEL, "level 2 is supported"};
  if (!(h.access & PRINTER_ACCESS_ADMINISTER)) {
    throw SpoolerError{ERROR_ACCESS_DENIED, "the handle was not opened to administer the printer"};
  }
  if (p.refuse_set_error != 0) throw SpoolerError{p.refuse_set_error, "the printer refuses changes"};
  // Check everything, then write: a refused call changes nothing.
  Printer changed = p;
  const std::optional<std::string> port = OptionalText(c.request, "port", kMaxRequest);
  if (port) {
    const Port* known = c.w.world.FindPort(*port);
    if (known == nullptr) throw SpoolerError{ERROR_UNKNOWN_PORT, "no such port"};
    changed.port = known->name;
  }
  const std::optional<std::string> driver = OptionalText(c.request, "driver", kMaxRequest);
  if (driver && !EqualNoCase(*driver, p.driver.name)) {
    throw SpoolerError{ERROR_UNKNOWN_PRINTER_DRIVER, "no such driver is installed"};
  }
  auto text = [&](const char* key, std::string& field, size_t max) {
    const std::optional<std::string> t = OptionalText(c.request, key, kMaxRequest);
    if (!t) return;
    if (t->size() > max) throw SpoolerError{ERROR_INVALID_PARAMETER, std::string(key) + " is too long"};
    field = *t;
  };
  text("share_name", changed.share_name, 80);
  text("location", changed.location, kMaxTextLength);
  text("comment", changed.comment, kMaxTextLength);
  if (auto it = c.request.find("attributes"); it != c.request.end()) {
    changed.attributes = static_cast<DWORD>(Unsigned(c.request, "attributes", 0xFFFFFFFFu));
  }
  if (auto it = c.request.find("priority"); it != c.request.end()) {
    const auto priority = Unsigned(c.request, "priority", 0xFFFFFFFFu);
    if (priority < 1 || priority > 99) throw SpoolerError{ERROR_INVALID_PARAMETER, "priorities are 1 to 99"};
    changed.priority = static_cast<DWORD>(priority);
  }
  if (const std::optional<std::string> hex = OptionalText(c.request, "devmode", kMaxRequest)) {
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
  if (port_changed) {
    c.w.pending_monitor_sync = true;
    c.w.PrintReadyJobsLocked(p);  // jobs that waited for a held port print on the new one
  }
  // The spooler reloads a stopped language monitor of a printer whose
  // device mode was rewritten.
  if (auto dm = c.request.find("devmode"); dm != c.request.end() && !dm->is_null()) {
    c.w.pending_reloads.emplace_back(p.port, LanguageMonitor::ReloadCause::kDevmode);
  }
  return {{"error", 0}};
}

// DocumentPropertiesA: what the driver's part in the caller merges with.
json DocumentProperties(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  (void)h;
  if (const auto in = c.request.find("input"); in != c.request.end() && in->is_object() && in->size() <= 8) {
    json asked = json::object();
    for (const auto& [key, value] : in->items()) {
      if (value.is_number_integer()) asked[key] = value;
    }
    c.w.last_merge[Lower(p.name)] = asked;
  }
  json papers = json::array();
  for (const Sheet& s : p.sheets) papers.push_back(s.code);
  json bins = json::array();
  for (const Bin& b : p.bins) bins.push_back(b.code);
  return {{"error", 0}, {"devmode", DevmodeHex(p)}, {"papers", papers}, {"bins", bins}};
}

// GetPrinterDataA. Value names are matched without regard to case, as
// registry value names are; a rewrite keeps the name's first spelling.
json GetPrinterData(SpoolerCall& c) {
  const Printer& p = PrinterOf(c);
  const std::string name = Text(c.request, "value", kMaxRequest);
  auto it = FindDataValue(p, name);
  if (it == p.data.end()) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no such printer data value"};
  return {{"error", 0}, {"type", it->second.type}, {"data", ToHex(it->second.bytes)}};
}

// SetPrinterDataA: REG_DWORD, REG_SZ or REG_BINARY.
json SetPrinterData(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  const std::string name = Text(c.request, "value", kMaxRequest);
  const auto type = Unsigned(c.request, "type", 0xFFFFFFFFu);
  std::vector<uint8_t> bytes;
  if (!FromHex(Text(c.request, "data", kMaxRequest), bytes)) {
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

// GetPrinterDriverA levels 1 to 3.
json GetPrinterDriver(SpoolerCall& c) {
  const Printer& p = PrinterOf(c);
  const auto level = Unsigned(c.request, "level", 0xFFFFFFFFu);
  const std::optional<std::string> env = OptionalText(c.request, "environment", kMaxRequest);
  if (env && !EqualNoCase(*env, kEnvironment)) {
    throw SpoolerError{ERROR_INVALID_ENVIRONMENT, "only \"Windows x64\" drivers are installed"};
  }
  if (level < 1 || level > 3) throw SpoolerError{ERROR_INVALID_LEVEL, "levels 1 to 3 are supported"};
  return {{"error", 0}, {"driver", DriverInfo(p)}};
}

// GetDefaultPrinterA.
json GetDefaultPrinter(SpoolerCall& c) {
  if (!c.w.world.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
  return {{"error", 0}, {"name", *c.w.world.default_printer}};
}

// DeviceCapabilitiesA: sheets, bins, device mode, dependent files.
json DeviceCapabilities(SpoolerCall& c) {
  const Printer& p = Named(c, Text(c.request, "device", kMaxRequest));
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

// The default printer as PrintDlgA's defaults need it.
json DefaultDevnames(SpoolerCall& c) {
  if (!c.w.world.default_printer) throw SpoolerError{ERROR_FILE_NOT_FOUND, "no default printer"};
  const Printer* p = c.w.world.FindPrinter(*c.w.world.default_printer);
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

// The USB printer interfaces, as SetupAPI enumerates them.
json UsbInterfaces(SpoolerCall& c) {
  json list = json::array();
  for (const UsbInterface& u : c.w.world.usb_interfaces) {
    list.push_back({{"device_path", u.device_path}, {"port_name", u.port_name}});
  }
  return {{"error", 0}, {"interfaces", list}};
}

// The operations by the names the platform layer sends.
struct Operation {
  const char* name;
  json (*run)(SpoolerCall&);
};
const Operation kOperations[] = {
    {qxwire::spool::kSystem, System},
    {qxwire::spool::kEnumPrinters, EnumPrinters},
    {qxwire::spool::kOpenPrinter, OpenPrinter},
    {qxwire::spool::kClosePrinter, ClosePrinter},
    {qxwire::spool::kGetPrinter, GetPrinter},
    {qxwire::spool::kSetPrinter, SetPrinter},
    {qxwire::spool::kGetPrinterDriver, GetPrinterDriver},
    {qxwire::spool::kGetDefaultPrinter, GetDefaultPrinter},
    {qxwire::spool::kDeviceCapabilities, DeviceCapabilities},
    {qxwire::spool::kDocumentProperties, DocumentProperties},
    {qxwire::spool::kDefaultDevnames, DefaultDevnames},
    {qxwire::spool::kGetPrinterData, GetPrinterData},
    {qxwire::spool::kSetPrinterData, SetPrinterData},
    {qxwire::spool::kStartDoc, StartDoc},
    {qxwire::spool::kStartPage, StartPage},
    {qxwire::spool::kWrite, Write},
    {qxwire::spool::kEndPage, EndPage},
    {qxwire::spool::kEndDoc, EndDoc},
    {qxwire::spool::kAbort, Abort},
    {qxwire::spool::kEnumJobs, EnumJobs},
    {qxwire::spool::kSetJob, SetJob},
    {qxwire::spool::kUsbInterfaces, UsbInterfaces},
};

}  // namespace
}  // namespace spooler

SpoolerService::SpoolerService(SharedWorld& world, Monitors& monitors) : w_(world), monitors_(monitors) {}

Reply SpoolerService::Handle(const nlohmann::json& request, const std::optional<std::string>& body, pid_t peer) {
  using spooler::SpoolerError;
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    const std::string op = Text(request, qxwire::kOp, 64);
    const auto* found = std::find_if(std::begin(spooler::kOperations), std::end(spooler::kOperations),
                                     [&](const spooler::Operation& o) { return op == o.name; });
    if (found == std::end(spooler::kOperations)) throw BadRequest("unknown operation \"" + op + "\"");
    nlohmann::json reply;
    bool sync = false;
    std::vector<std::pair<std::string, LanguageMonitor::ReloadCause>> reloads;
    {
      std::lock_guard<std::mutex> guard(w_.lock);
      w_.pending_reloads.clear();
      spooler::SpoolerCall call{w_, request, body, peer};
      reply = found->run(call);
      sync = std::exchange(w_.pending_monitor_sync, false);
      reloads.swap(w_.pending_reloads);
    }
    // A printer moved to another port takes its language monitor along.
    if (sync) monitors_.Sync(false);
    if (!reloads.empty()) monitors_.Reload(reloads);
    return {reply, std::nullopt};
  } catch (const SpoolerError& e) {
    return {{{"error", e.code}, {"message", e.message}}, std::nullopt};
  } catch (const std::exception& e) {  // bad requests, json type errors and allocation failures
    return {{{"error", ERROR_INVALID_PARAMETER}, {"message", e.what()}}, std::nullopt};
  }
}

}  // namespace qxsim
