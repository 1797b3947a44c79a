// world.cpp - qxsimd, daemon side: the world file's loader and writer (see
// world.h and docs/world.md).
//
// The loader walks the document with a small reader per object that remembers
// which keys it took, so that every key left over is reported as unknown; each
// value is checked for type and range where it is read, and cross-references
// (a printer's port, the default printer, a device's port) once all is read.
// The flag words' names are in world_flags.h, the writer in world_json.cpp.
#include "world.h"

#include "world_flags.h"

#include <qxwire/hex.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>
#include <utility>

namespace qxsim {
namespace {

using nlohmann::json;

using qxwire::Fail;
using qxwire::Index;
using qxwire::Join;
// The loader reads each object with the wire library's checked reader.
using Reader = qxwire::Fields;
using namespace world_flags;

// ---- Hex --------------------------------------------------------------------

std::vector<uint8_t> ParseHex(const json& value, size_t max_bytes, const std::string& path) {
  return Reader::CheckHex(value, path, max_bytes);
}

const json& CheckArray(const json& v, const std::string& path, size_t max_items) {
  return Reader::CheckArray(v, path, max_items);
}

// ---- Sections ------------------------------------------------------------------

bool ValidDate(const std::string& date) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  char tail;
  const bool date_only = date.size() == 10 &&
                         std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) == 3;
  const bool with_time =
      date.size() == 19 && date[10] == 'T' &&
      std::sscanf(date.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) == 6;
  if (!date_only && !with_time) return false;
  return y >= 1601 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h <= 23 &&
         mi <= 59 && s <= 59 && h >= 0 && mi >= 0 && s >= 0;
}

bool ValidVersion(const std::string& version) {
  unsigned parts[4];
  char tail;
  if (std::sscanf(version.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &tail) != 4) {
    return false;
  }
  if (version.find_first_not_of("0123456789.") != std::string::npos) return false;
  return std::all_of(std::begin(parts), std::end(parts), [](unsigned p) { return p <= 0xFFFF; });
}

void CheckDateAndVersion(const DriverFile& f, const std::string& date_path,
                         const std::string& version_path) {
  if (!f.date.empty() && !ValidDate(f.date)) {
    Fail(date_path, "must be a date \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\"");
  }
  if (!f.version.empty() && !ValidVersion(f.version)) {
    Fail(version_path, "must be a version \"a.b.c.d\" with parts up to 65535");
  }
}

DriverFile ParseDependentFile(const json& v, const std::string& path) {
  DriverFile f;
  if (v.is_string()) {
    f.path = Reader::CheckText(v, path, kMaxTextLength, false);
    return f;
  }
  Reader r(v, path);
  f.path = r.Text("path", "", kMaxTextLength, true, false);
  f.date = r.Text("date", "", 19);
  f.version = r.Text("version", "", 23);
  r.Done();
  CheckDateAndVersion(f, r.At("date"), r.At("version"));
  return f;
}

Driver ParseDriver(const json& v, const std::string& path) {
  Reader r(v, path);
  Driver d;
  d.name = r.Text("name", "", kMaxNameLength, true, false);
  d.version = static_cast<DWORD>(r.Integer("version", 3, 0, 3));
  d.file.path = r.Text("path", "", kMaxTextLength, true, false);
  d.file.date = r.Text("date", "", 19);
  d.file.version = r.Text("file_version", "", 23);
  CheckDateAndVersion(d.file, r.At("date"), r.At("file_version"));
  d.data_file = r.Text("data_file", "", kMaxTextLength);
  d.config_file = r.Text("config_file", "", kMaxTextLength);
  d.help_file = r.Text("help_file", "", kMaxTextLength);
  d.default_datatype = r.Text("default_datatype", "RAW", 63);
  if (const json* files = r.Find("dependent_files")) {
    CheckArray(*files, r.At("dependent_files"), kMaxDependentFiles);
    for (size_t i = 0; i < files->size(); ++i) {
      d.dependent_files.push_back(ParseDependentFile((*files)[i], Index(r.At("dependent_files"), i)));
    }
  }
  if (const json* lm = r.Find("language_monitor"); lm != nullptr && !lm->is_null()) {
    Reader m(*lm, r.At("language_monitor"));
    LanguageMonitorInfo monitor;
    monitor.name = m.Text("name", "", kMaxNameLength, true, false);
    monitor.version = m.Text("version", "", 127);
    monitor.running = m.Bool("running", true);
    monitor.reload_on_devmode = m.Bool("reload_on_devmode", false);
    monitor.reload_on_job = m.Bool("reload_on_job", false);
    m.Done();
    d.language_monitor = std::move(monitor);
  }
  r.Done();
  return d;
}

void CopyName(BYTE (&dest)[32], const std::string& text) {
  std::memset(dest, 0, sizeof dest);
  std::memcpy(dest, text.data(), std::min(text.size(), sizeof dest - 1));
}

short ShortField(Reader& r, const char* key, short fallback, DWORD bit, DWORD& given) {
  const json* v = r.Find(key);
  if (v == nullptr) return fallback;
  given |= bit;
  return static_cast<short>(Reader::CheckInteger(*v, r.At(key), -32768, 32767));
}

void ParseDevmode(const json& v, const std::string& path, Printer& p) {
  Reader r(v, path);
  DEVMODEA& dm = p.devmode;
  DWORD given = 0;
  dm.dmSpecVersion = static_cast<WORD>(r.Integer("spec_version", DM_SPECVERSION, 0, 0xFFFF));
  dm.dmDriverVersion = static_cast<WORD>(r.Integer("driver_version", 0x0100, 0, 0xFFFF));
  CopyName(dm.dmDeviceName, r.Text("device_name", p.name.substr(0, CCHDEVICENAME - 1), CCHDEVICENAME - 1));
  dm.dmOrientation = ShortField(r, "orientation", 0, DM_ORIENTATION, given);
  dm.dmPaperSize = ShortField(r, "paper_size", 0, DM_PAPERSIZE, given);
  dm.dmPaperLength = ShortField(r, "paper_length", 0, DM_PAPERLENGTH, given);
  dm.dmPaperWidth = ShortField(r, "paper_width", 0, DM_PAPERWIDTH, given);
  dm.dmScale = ShortField(r, "scale", 0, DM_SCALE, given);
  dm.dmCopies = ShortField(r, "copies", 0, DM_COPIES, given);
  dm.dmDefaultSource = ShortField(r, "default_source", 0, DM_DEFAULTSOURCE, given);
  dm.dmPrintQuality = ShortField(r, "print_quality", 0, DM_PRINTQUALITY, given);
  dm.dmColor = ShortField(r, "color", 0, DM_COLOR, given);
  dm.dmDuplex = ShortField(r, "duplex", 0, DM_DUPLEX, given);
  dm.dmYResolution = ShortField(r, "y_resolution", 0, DM_YRESOLUTION, given);
  dm.dmTTOption = ShortField(r, "tt_option", 0, DM_TTOPTION, given);
  dm.dmCollate = ShortField(r, "collate", 0, DM_COLLATE, given);
  if (const json* form = r.Find("form_name")) {
    CopyName(dm.dmFormName, Reader::CheckText(*form, r.At("form_name"), CCHFORMNAME - 1));
    given |= DM_FORMNAME;
  }
  // Without an explicit "fields", the fields named are the ones set.
  const json* fields = r.Find("fields");
  dm.dmFields = fields != nullptr ? ParseFlags(*fields, kDevmodeFlags, r.At("fields")) : given;
  if (const json* extra = r.Find("driver_extra")) {
    p.driver_extra = ParseHex(*extra, kMaxDriverExtra, r.At("driver_extra"));
  }
  dm.dmDriverExtra = static_cast<WORD>(p.driver_extra.size());
  r.Done();
}

void ParseData(const json& v, const std::string& path, Printer& p) {
  if (!v.is_object()) Fail(path, "must be an object of value names");
  if (v.size() > kMaxDataValues) {
    Fail(path, "has more than " + std::to_string(kMaxDataValues) + " values");
  }
  for (auto it = v.begin(); it != v.end(); ++it) {
    const std::string at = Join(path, it.key());
    if (it.key().empty() || it.key().size() > kMaxTextLength) Fail(at, "bad value name length");
    DataValue value;
    const json& x = it.value();
    if (x.is_number()) {
      const int64_t n = Reader::CheckInteger(x, at, -2147483648LL, 4294967295LL);
      const auto word = static_cast<DWORD>(static_cast<uint32_t>(n));
      value.type = REG_DWORD;
      value.bytes.resize(4);
      std::memcpy(value.bytes.data(), &word, 4);
    } else if (x.is_string()) {
      const std::string text = Reader::CheckText(x, at, kMaxDataBytes - 1);
      value.type = REG_SZ;
      value.bytes.assign(text.begin(), text.end());
      value.bytes.push_back(0);
    } else if (x.is_object()) {
      Reader r(x, at);
      value.type = REG_BINARY;
      value.bytes = ParseHex(r.Need("binary"), kMaxDataBytes, r.At("binary"));
      r.Done();
    } else {
      Fail(at, "must be a number (REG_DWORD), a text (REG_SZ) or {\"binary\": hex}");
    }
    p.data[it.key()] = std::move(value);
  }
}

Job ParseJob(const json& v, const std::string& path, DWORD& next_id) {
  Reader r(v, path);
  Job j;
  j.id = static_cast<DWORD>(r.Integer("id", 0, 1, 0x7FFFFFFF));
  j.document = r.Text("document", "", kMaxTextLength, true);
  if (const json* s = r.Find("status")) j.status = ParseFlags(*s, kJobStatusFlags, r.At("status"));
  j.owner = r.Text("owner", "", kMaxNameLength);
  j.datatype = r.Text("datatype", "RAW", 63);
  j.pages = static_cast<DWORD>(r.Integer("pages", 0, 0, 0x7FFFFFFF));
  j.size = static_cast<DWORD>(r.Integer("size", 0, 0, 0x7FFFFFFF));
  r.Done();
  if (j.id == 0) j.id = next_id;
  next_id = std::max(next_id, j.id + 1);
  return j;
}

bool ValidPrinterName(const std::string& name) {
  return !name.empty() && name.find_first_of("\\,") == std::string::npos;
}

OsVersion ParseOs(const json& v, const std::string& path) {
  Reader r(v, path);
  OsVersion os;
  os.major = static_cast<DWORD>(r.Integer("major", 10, 0, 0xFFFFFFFFLL));
  os.minor = static_cast<DWORD>(r.Integer("minor", 0, 0, 0xFFFFFFFFLL));
  os.build = static_cast<DWORD>(r.Integer("build", 19045, 0, 0xFFFFFFFFLL));
  os.platform_id = static_cast<DWORD>(r.Integer("platform_id", VER_PLATFORM_WIN32_NT, 0, 2));
  os.csd = r.Text("csd", "", 127);
  r.Done();
  return os;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Printer* World::FindPrinter(std::string_view name) {
  for (Printer& p : printers) {
    if (EqualNoCase(p.name, name)) return &p;
  }
  return nullptr;
}

const Printer* World::FindPrinter(std::string_view name) const {
  return const_cast<World*>(this)->FindPrinter(name);
}

Device* World::FindDevice(std::string_view port) {
  for (Device& d : devices) {
    if (EqualNoCase(d.port, port)) return &d;
  }
  return nullptr;
}

const Device* World::FindDevice(std::string_view port) const {
  return const_cast<World*>(this)->FindDevice(port);
}

const Port* World::FindPort(std::string_view name) const {
  for (const Port& p : ports) {
    if (EqualNoCase(p.name, name)) return &p;
  }
  return nullptr;
}

DWORD ParsePrinterStatus(const json& value, const std::string& path) {
  return ParseFlags(value, kStatusFlags, path);
}

DWORD ParsePrinterAttributes(const json& value, const std::string& path) {
  return ParseFlags(value, kAttributeFlags, path);
}

DWORD ParseJobStatus(const json& value, const std::string& path) {
  return ParseFlags(value, kJobStatusFlags, path);
}


std::vector<std::string> ParseDeviceFaults(const json& list, const std::string& path) {
  CheckArray(list, path, kDeviceFaults.size());
  std::vector<std::string> faults;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string name = Reader::CheckText(list[i], Index(path, i), 32);
    if (std::find(kDeviceFaults.begin(), kDeviceFaults.end(), name) == kDeviceFaults.end()) {
      std::string known;
      for (const auto& f : kDeviceFaults) known += (known.empty() ? "" : ", ") + f;
      Fail(Index(path, i), "unknown fault \"" + name + "\" (known: " + known + ")");
    }
    if (std::find(faults.begin(), faults.end(), name) != faults.end()) {
      Fail(Index(path, i), "names \"" + name + "\" twice");
    }
    faults.push_back(name);
  }
  return faults;
}

bool SetDeviceKey(Device& d, const std::string& key, const json& value, const std::string& path) {
  auto integer = [&](int64_t lo, int64_t hi) { return Reader::CheckInteger(value, path, lo, hi); };
  if (key == "model") {
    d.model = Reader::CheckText(value, path, 63);
  } else if (key == "device_id") {
    d.device_id = Reader::CheckText(value, path, kMaxDeviceId);
  } else if (key == "firmware") {
    d.firmware = Reader::CheckText(value, path, 63);
  } else if (key == "faults") {
    d.faults = ParseDeviceFaults(value, path);
  } else if (key == "status_word") {
    d.status_word = static_cast<uint16_t>(integer(0, 0xFFFF));
  } else if (key == "temperature") {
    d.temperature = static_cast<int>(integer(-99, 999));
  } else if (key == "form_length") {
    d.form_length = static_cast<uint16_t>(integer(0, 0xFFFF));
  } else if (key == "version_detail") {
    d.version_detail = Reader::CheckText(value, path, 10);
  } else if (key == "busy") {
    d.busy = Reader::CheckBool(value, path);
  } else if (key == "reply_delay_ms") {
    d.reply_delay_ms = static_cast<unsigned>(integer(0, kMaxDelayMs));
  } else if (key == "restart_ms") {
    d.restart_ms = static_cast<unsigned>(integer(0, kMaxDelayMs));
  } else if (key == "fail_write") {
    d.fail_write = static_cast<uint32_t>(integer(0, 0xFFFFFFFF));
  } else if (key == "counters") {
    // The counters named change; the others keep their values.
    Reader r(value, path);
    PrinterCounters& c = d.counters;
    c.errors = static_cast<uint32_t>(r.Integer("errors", c.errors, 0, kMaxCounter));
    c.tickets = static_cast<uint32_t>(r.Integer("tickets", c.tickets, 0, kMaxCounter));
    c.head_travel = static_cast<uint32_t>(r.Integer("head_travel", c.head_travel, 0, kMaxCounter));
    c.jobs = static_cast<uint32_t>(r.Integer("jobs", c.jobs, 0, kMaxCounter));
    c.cuts = static_cast<uint32_t>(r.Integer("cuts", c.cuts, 0, kMaxCounter));
    r.Done();
  } else if (key == "rfid") {
    Reader r(value, path);
    RfidBehaviour rfid;
    const std::string mode = r.Text("mode", "echo", 16);
    if (mode == "echo") {
      rfid.mode = RfidBehaviour::Mode::kEcho;
    } else if (mode == "fixed") {
      rfid.mode = RfidBehaviour::Mode::kFixed;
    } else if (mode == "silent") {
      rfid.mode = RfidBehaviour::Mode::kSilent;
    } else {
      Fail(r.At("mode"), "must be \"echo\", \"fixed\" or \"silent\"");
    }
    if (const json* reply = r.Find("reply")) {
      if (rfid.mode != RfidBehaviour::Mode::kFixed) Fail(r.At("reply"), "goes only with mode \"fixed\"");
      const std::vector<uint8_t> bytes = ParseHex(*reply, kMaxRfidReply, r.At("reply"));
      rfid.reply.assign(bytes.begin(), bytes.end());
    }
    r.Done();
    d.rfid = std::move(rfid);
  } else {
    return false;
  }
  return true;
}

DWORD ParseRefusal(const json& value, const std::string& path) {
  if (value.is_boolean()) return value.get<bool>() ? ERROR_ACCESS_DENIED : 0;
  return static_cast<DWORD>(Reader::CheckInteger(value, path, 0, 0xFFFFFFFFLL));
}

Printer ParsePrinter(const json& object, const World& world, const std::string& path,
                     DWORD& next_job_id) {
  Reader r(object, path);
  Printer p;
  p.name = r.Text("name", "", kMaxNameLength, true, false);
  if (!ValidPrinterName(p.name)) Fail(r.At("name"), "must not contain \",\" or \"\\\"");
  p.port = r.Text("port", "", 64, true, false);
  if (world.FindPort(p.port) == nullptr) {
    Fail(r.At("port"), "names port \"" + p.port + "\", which is not among \"ports\"");
  }
  p.share_name = r.Text("share_name", "", 80);
  p.location = r.Text("location", "", kMaxTextLength);
  p.comment = r.Text("comment", "", kMaxTextLength);
  if (const json* s = r.Find("status")) p.status = ParseFlags(*s, kStatusFlags, r.At("status"));
  if (const json* a = r.Find("attributes")) {
    p.attributes = ParseFlags(*a, kAttributeFlags, r.At("attributes"));
  }
  p.priority = static_cast<DWORD>(r.Integer("priority", 1, 1, 99));
  if (const json* t = r.Find("timeouts")) {
    Reader tr(*t, r.At("timeouts"));
    p.device_not_selected_timeout =
        static_cast<DWORD>(tr.Integer("device_not_selected", 15000, 0, 0x7FFFFFFF));
    p.transmission_retry_timeout =
        static_cast<DWORD>(tr.Integer("transmission_retry", 45000, 0, 0x7FFFFFFF));
    tr.Done();
  }
  p.driver = ParseDriver(r.Need("driver"), r.At("driver"));

  p.devmode.dmSize = sizeof(DEVMODEA);
  p.devmode.dmSpecVersion = DM_SPECVERSION;
  p.devmode.dmDriverVersion = 0x0100;
  CopyName(p.devmode.dmDeviceName, p.name);
  if (const json* dm = r.Find("devmode")) ParseDevmode(*dm, r.At("devmode"), p);

  if (const json* sheets = r.Find("sheets")) {
    const std::string at = r.At("sheets");
    CheckArray(*sheets, at, kMaxSheets);
    for (size_t i = 0; i < sheets->size(); ++i) {
      Reader s((*sheets)[i], Index(at, i));
      Sheet sheet;
      sheet.name = s.Text("name", "", kMaxSheetName, true, false);
      sheet.code = static_cast<int>(s.Integer("code", 0, 1, 32767, true));
      sheet.width = static_cast<LONG>(s.Integer("width", 0, 1, 100000, true));
      sheet.length = static_cast<LONG>(s.Integer("length", 0, 1, 100000, true));
      s.Done();
      p.sheets.push_back(std::move(sheet));
    }
  }
  if (const json* bins = r.Find("bins")) {
    const std::string at = r.At("bins");
    CheckArray(*bins, at, kMaxBins);
    for (size_t i = 0; i < bins->size(); ++i) {
      Reader b((*bins)[i], Index(at, i));
      Bin bin;
      bin.name = b.Text("name", "", kMaxBinName, true, false);
      bin.code = static_cast<int>(b.Integer("code", 0, 1, 32767, true));
      b.Done();
      p.bins.push_back(std::move(bin));
    }
  }
  if (const json* data = r.Find("data")) ParseData(*data, r.At("data"), p);
  if (const json* jobs = r.Find("jobs")) {
    const std::string at = r.At("jobs");
    CheckArray(*jobs, at, kMaxJobs);
    std::set<DWORD> ids;
    for (size_t i = 0; i < jobs->size(); ++i) {
      Job job = ParseJob((*jobs)[i], Index(at, i), next_job_id);
      if (!ids.insert(job.id).second) {
        Fail(Index(at, i) + ".id", "job id " + std::to_string(job.id) + " is used twice");
      }
      p.jobs.push_back(std::move(job));
    }
  }
  for (const RefusalKey& k : kRefusalKeys) {
    if (const json* refuse = r.Find(k.key)) p.*k.error = ParseRefusal(*refuse, r.At(k.key));
  }
  p.write_limit = static_cast<DWORD>(r.Integer("write_limit", 0, 0, 0xFFFFFFFF));
  r.Done();
  return p;
}

namespace {

World ParseWorldChecked(const json& doc);

}  // namespace

World ParseWorld(const json& doc) {
  try {
    return ParseWorldChecked(doc);
  } catch (const json::exception& e) {
    // A value of a kind a check let through: still the file's fault, never a crash.
    throw WorldError(std::string("world: ") + e.what());
  }
}

namespace {

World ParseWorldChecked(const json& doc) {
  Reader r(doc, "");
  World w;
  r.Text("description", "", 4096);
  if (const json* os = r.Find("os")) w.os = ParseOs(*os, "os");
  w.code_page = static_cast<UINT>(r.Integer("code_page", 1252, 0, 65535));
  if (w.code_page != 1252 && w.code_page != 932 && w.code_page != 936 && w.code_page != 949 &&
      w.code_page != 950) {
    Fail("code_page", "must be one of 1252, 932, 936, 949, 950");
  }

  if (const json* ports = r.Find("ports")) {
    CheckArray(*ports, "ports", kMaxPorts);
    for (size_t i = 0; i < ports->size(); ++i) {
      const std::string at = Index("ports", i);
      Port port;
      if ((*ports)[i].is_string()) {
        port.name = Reader::CheckText((*ports)[i], at, 64, false);
      } else {
        Reader pr((*ports)[i], at);
        port.name = pr.Text("name", "", 64, true, false);
        port.description = pr.Text("description", "", kMaxTextLength);
        pr.Done();
      }
      if (w.FindPort(port.name) != nullptr) Fail(at, "port \"" + port.name + "\" is listed twice");
      w.ports.push_back(std::move(port));
    }
  }

  if (const json* printers = r.Find("printers")) {
    CheckArray(*printers, "printers", kMaxPrinters);
    for (size_t i = 0; i < printers->size(); ++i) {
      const std::string at = Index("printers", i);
      Printer p = ParsePrinter((*printers)[i], w, at, w.next_job_id);
      if (w.FindPrinter(p.name) != nullptr) {
        Fail(at + ".name", "printer \"" + p.name + "\" is listed twice");
      }
      w.printers.push_back(std::move(p));
    }
  }
  // Job ids are unique across the spooler.
  std::set<DWORD> job_ids;
  for (size_t i = 0; i < w.printers.size(); ++i) {
    for (size_t j = 0; j < w.printers[i].jobs.size(); ++j) {
      if (!job_ids.insert(w.printers[i].jobs[j].id).second) {
        Fail(Index(Index("printers", i) + ".jobs", j) + ".id",
             "job id " + std::to_string(w.printers[i].jobs[j].id) + " is used twice");
      }
    }
  }

  if (const json* def = r.Find("default_printer"); def != nullptr && !def->is_null()) {
    const std::string name = Reader::CheckText(*def, "default_printer", kMaxNameLength, false);
    const Printer* p = w.FindPrinter(name);
    if (p == nullptr) Fail("default_printer", "names \"" + name + "\", which is not among \"printers\"");
    w.default_printer = p->name;
  }

  if (const json* usb = r.Find("usb_interfaces")) {
    CheckArray(*usb, "usb_interfaces", kMaxPorts);
    for (size_t i = 0; i < usb->size(); ++i) {
      Reader u((*usb)[i], Index("usb_interfaces", i));
      UsbInterface iface;
      iface.device_path = u.Text("device_path", "", kMaxTextLength, true, false);
      iface.port_name = u.Text("port_name", "", 64, true, false);
      u.Done();
      if (w.FindPort(iface.port_name) == nullptr) {
        Fail(u.At("port_name"), "names port \"" + iface.port_name + "\", which is not among \"ports\"");
      }
      for (const UsbInterface& other : w.usb_interfaces) {
        if (EqualNoCase(other.device_path, iface.device_path)) {
          Fail(u.At("device_path"), "is listed twice");
        }
      }
      w.usb_interfaces.push_back(std::move(iface));
    }
  }

  if (const json* devices = r.Find("devices")) {
    CheckArray(*devices, "devices", kMaxPorts);
    for (size_t i = 0; i < devices->size(); ++i) {
      Reader d((*devices)[i], Index("devices", i));
      Device dev;
      dev.port = d.Text("port", "", 64, true, false);
      // Every other key goes through the check the control API uses too.
      for (auto it = (*devices)[i].begin(); it != (*devices)[i].end(); ++it) {
        if (it.key() == "port") continue;
        if (SetDeviceKey(dev, it.key(), it.value(), d.At(it.key()))) d.Find(it.key());
      }
      d.Done();
      // A device that states no ID reports the maker's form of its model.
      if ((*devices)[i].find("device_id") == (*devices)[i].end()) dev.device_id = DefaultDeviceId(dev.model);
      if (w.FindPort(dev.port) == nullptr) {
        Fail(d.At("port"), "names port \"" + dev.port + "\", which is not among \"ports\"");
      }
      if (w.FindDevice(dev.port) != nullptr) {
        Fail(d.At("port"), "port \"" + dev.port + "\" already has a device");
      }
      w.devices.push_back(std::move(dev));
    }
  }
  r.Done();
  return w;
}

}  // namespace

World LoadWorldText(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    // Syntax errors, and numbers the reader cannot hold (out_of_range).
    throw WorldError(std::string("not valid JSON: ") + e.what());
  }
  return ParseWorld(doc);
}

}  // namespace qxsim
