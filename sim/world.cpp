// world.cpp - qxsimd, daemon side: the world file's loader and writer (see
// world.h and docs/world.md).
//
// The loader walks the document with a small reader per object that remembers
// which keys it took, so that every key left over is reported as unknown; each
// value is checked for type and range where it is read, and cross-references
// (a printer's port, the default printer, a device's port) once all is read.
#include "world.h"

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
using qxwire::ToHex;
// The loader reads each object with the wire library's checked reader.
using Reader = qxwire::Fields;

// ---- Flag words -------------------------------------------------------------

struct FlagName {
  const char* name;
  DWORD bit;
};

constexpr FlagName kStatusFlags[] = {
    {"paused", PRINTER_STATUS_PAUSED},
    {"error", PRINTER_STATUS_ERROR},
    {"pending_deletion", PRINTER_STATUS_PENDING_DELETION},
    {"paper_jam", PRINTER_STATUS_PAPER_JAM},
    {"paper_out", PRINTER_STATUS_PAPER_OUT},
    {"manual_feed", PRINTER_STATUS_MANUAL_FEED},
    {"paper_problem", PRINTER_STATUS_PAPER_PROBLEM},
    {"offline", PRINTER_STATUS_OFFLINE},
    {"io_active", PRINTER_STATUS_IO_ACTIVE},
    {"busy", PRINTER_STATUS_BUSY},
    {"printing", PRINTER_STATUS_PRINTING},
    {"output_bin_full", PRINTER_STATUS_OUTPUT_BIN_FULL},
    {"not_available", PRINTER_STATUS_NOT_AVAILABLE},
    {"waiting", PRINTER_STATUS_WAITING},
    {"processing", PRINTER_STATUS_PROCESSING},
    {"initializing", PRINTER_STATUS_INITIALIZING},
    {"warming_up", PRINTER_STATUS_WARMING_UP},
    {"toner_low", PRINTER_STATUS_TONER_LOW},
    {"no_toner", PRINTER_STATUS_NO_TONER},
    {"page_punt", PRINTER_STATUS_PAGE_PUNT},
    {"user_intervention", PRINTER_STATUS_USER_INTERVENTION},
    {"out_of_memory", PRINTER_STATUS_OUT_OF_MEMORY},
    {"door_open", PRINTER_STATUS_DOOR_OPEN},
    {"server_unknown", PRINTER_STATUS_SERVER_UNKNOWN},
    {"power_save", PRINTER_STATUS_POWER_SAVE},
};

constexpr FlagName kAttributeFlags[] = {
    {"queued", PRINTER_ATTRIBUTE_QUEUED},
    {"direct", PRINTER_ATTRIBUTE_DIRECT},
    {"default", PRINTER_ATTRIBUTE_DEFAULT},
    {"shared", PRINTER_ATTRIBUTE_SHARED},
    {"network", PRINTER_ATTRIBUTE_NETWORK},
    {"hidden", PRINTER_ATTRIBUTE_HIDDEN},
    {"local", PRINTER_ATTRIBUTE_LOCAL},
    {"enable_devq", PRINTER_ATTRIBUTE_ENABLE_DEVQ},
    {"keep_printed_jobs", PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS},
    {"do_complete_first", PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST},
    {"work_offline", PRINTER_ATTRIBUTE_WORK_OFFLINE},
    {"enable_bidi", PRINTER_ATTRIBUTE_ENABLE_BIDI},
    {"raw_only", PRINTER_ATTRIBUTE_RAW_ONLY},
    {"published", PRINTER_ATTRIBUTE_PUBLISHED},
};

constexpr FlagName kJobStatusFlags[] = {
    {"paused", JOB_STATUS_PAUSED},
    {"error", JOB_STATUS_ERROR},
    {"deleting", JOB_STATUS_DELETING},
    {"spooling", JOB_STATUS_SPOOLING},
    {"printing", JOB_STATUS_PRINTING},
    {"offline", JOB_STATUS_OFFLINE},
    {"paperout", JOB_STATUS_PAPEROUT},
    {"printed", JOB_STATUS_PRINTED},
    {"deleted", JOB_STATUS_DELETED},
    {"blocked_devq", JOB_STATUS_BLOCKED_DEVQ},
    {"user_intervention", JOB_STATUS_USER_INTERVENTION},
    {"restart", JOB_STATUS_RESTART},
    {"complete", JOB_STATUS_COMPLETE},
};

constexpr FlagName kDevmodeFlags[] = {
    {"orientation", DM_ORIENTATION},
    {"paper_size", DM_PAPERSIZE},
    {"paper_length", DM_PAPERLENGTH},
    {"paper_width", DM_PAPERWIDTH},
    {"scale", DM_SCALE},
    {"copies", DM_COPIES},
    {"default_source", DM_DEFAULTSOURCE},
    {"print_quality", DM_PRINTQUALITY},
    {"color", DM_COLOR},
    {"duplex", DM_DUPLEX},
    {"y_resolution", DM_YRESOLUTION},
    {"tt_option", DM_TTOPTION},
    {"collate", DM_COLLATE},
    {"form_name", DM_FORMNAME},
};

template <size_t N>
DWORD ParseFlags(const json& value, const FlagName (&table)[N], const std::string& path) {
  if (value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0)) {
    const uint64_t n = value.get<uint64_t>();
    if (n > 0xFFFFFFFFu) Fail(path, "must fit in 32 bits");
    return static_cast<DWORD>(n);
  }
  if (!value.is_array()) Fail(path, "must be a number or a list of flag names");
  DWORD word = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const json& item = value[i];
    if (!item.is_string()) Fail(Index(path, i), "must be a flag name");
    const std::string name = item.get<std::string>();
    const auto* it = std::find_if(std::begin(table), std::end(table),
                                  [&](const FlagName& f) { return name == f.name; });
    if (it == std::end(table)) {
      std::string known;
      for (const FlagName& f : table) known += std::string(known.empty() ? "" : ", ") + f.name;
      Fail(Index(path, i), "unknown flag \"" + name + "\" (known: " + known + ")");
    }
    word |= it->bit;
  }
  return word;
}

// A list of names when every bit has one, else the number.
template <size_t N>
json FlagsToJson(DWORD word, const FlagName (&table)[N]) {
  json names = json::array();
  DWORD rest = word;
  for (const FlagName& f : table) {
    if (word & f.bit) {
      names.push_back(f.name);
      rest &= ~f.bit;
    }
  }
  if (rest != 0) return word;
  return names;
}

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

json JobStatusToJson(DWORD status) { return FlagsToJson(status, kJobStatusFlags); }

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
  } else if (key == "reply_delay_ms") {
    d.reply_delay_ms = static_cast<unsigned>(integer(0, kMaxDelayMs));
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

PrinterState EmulatorState(const Device& d) {
  PrinterState s;
  s.status_word = d.status_word;
  s.temperature = d.temperature;
  s.form_length = d.form_length;
  s.firmware = d.firmware;
  s.version_detail = d.version_detail;
  s.reply_delay_ms = d.reply_delay_ms;
  s.faults = d.faults;
  s.counters = d.counters;
  s.rfid = d.rfid;
  return s;
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

// ---- Writer ------------------------------------------------------------------

namespace {

std::string FixedText(const BYTE* text, size_t size) {
  size_t n = 0;
  while (n < size && text[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(text), n);
}

json DriverFileToJson(const DriverFile& f) {
  json j = {{"path", f.path}};
  if (!f.date.empty()) j["date"] = f.date;
  if (!f.version.empty()) j["version"] = f.version;
  return j;
}

json DevmodeToJson(const Printer& p) {
  const DEVMODEA& dm = p.devmode;
  json j = {
      {"device_name", FixedText(dm.dmDeviceName, sizeof dm.dmDeviceName)},
      {"spec_version", dm.dmSpecVersion},
      {"driver_version", dm.dmDriverVersion},
      {"fields", FlagsToJson(dm.dmFields, kDevmodeFlags)},
      {"orientation", dm.dmOrientation},
      {"paper_size", dm.dmPaperSize},
      {"paper_length", dm.dmPaperLength},
      {"paper_width", dm.dmPaperWidth},
      {"scale", dm.dmScale},
      {"copies", dm.dmCopies},
      {"default_source", dm.dmDefaultSource},
      {"print_quality", dm.dmPrintQuality},
      {"color", dm.dmColor},
      {"duplex", dm.dmDuplex},
      {"y_resolution", dm.dmYResolution},
      {"tt_option", dm.dmTTOption},
      {"collate", dm.dmCollate},
      {"form_name", FixedText(dm.dmFormName, sizeof dm.dmFormName)},
  };
  if (!p.driver_extra.empty()) j["driver_extra"] = ToHex(p.driver_extra);
  return j;
}

}  // namespace

std::vector<std::string> StatusNames(DWORD status) {
  std::vector<std::string> names;
  for (const FlagName& f : kStatusFlags) {
    if (status & f.bit) names.push_back(f.name);
  }
  return names;
}

json PrinterToJson(const Printer& p) {
  json driver = {
      {"name", p.driver.name},
      {"version", p.driver.version},
      {"path", p.driver.file.path},
      {"data_file", p.driver.data_file},
      {"config_file", p.driver.config_file},
      {"help_file", p.driver.help_file},
      {"default_datatype", p.driver.default_datatype},
      {"dependent_files", json::array()},
      {"language_monitor", nullptr},
  };
  if (!p.driver.file.date.empty()) driver["date"] = p.driver.file.date;
  if (!p.driver.file.version.empty()) driver["file_version"] = p.driver.file.version;
  for (const DriverFile& f : p.driver.dependent_files) {
    driver["dependent_files"].push_back(DriverFileToJson(f));
  }
  if (p.driver.language_monitor) {
    driver["language_monitor"] = {{"name", p.driver.language_monitor->name},
                                  {"version", p.driver.language_monitor->version},
                                  {"running", p.driver.language_monitor->running},
                                  {"reload_on_devmode", p.driver.language_monitor->reload_on_devmode},
                                  {"reload_on_job", p.driver.language_monitor->reload_on_job}};
  }
  json j = {
      {"name", p.name},
      {"port", p.port},
      {"share_name", p.share_name},
      {"location", p.location},
      {"comment", p.comment},
      {"status", FlagsToJson(p.status, kStatusFlags)},
      {"attributes", FlagsToJson(p.attributes, kAttributeFlags)},
      {"priority", p.priority},
      {"timeouts",
       {{"device_not_selected", p.device_not_selected_timeout},
        {"transmission_retry", p.transmission_retry_timeout}}},
      {"driver", driver},
      {"devmode", DevmodeToJson(p)},
      {"sheets", json::array()},
      {"bins", json::array()},
      {"data", json::object()},
      {"jobs", json::array()},
  };
  for (const RefusalKey& k : kRefusalKeys) j[k.key] = p.*k.error;
  j["write_limit"] = p.write_limit;
  for (const Sheet& s : p.sheets) {
    j["sheets"].push_back({{"name", s.name}, {"code", s.code}, {"width", s.width}, {"length", s.length}});
  }
  for (const Bin& b : p.bins) j["bins"].push_back({{"name", b.name}, {"code", b.code}});
  for (const auto& [name, value] : p.data) {
    if (value.type == REG_DWORD && value.bytes.size() == 4) {
      DWORD word;
      std::memcpy(&word, value.bytes.data(), 4);
      j["data"][name] = word;
    } else if (value.type == REG_SZ && !value.bytes.empty()) {
      j["data"][name] = std::string(value.bytes.begin(), value.bytes.end() - 1);
    } else {
      j["data"][name] = {{"binary", ToHex(value.bytes)}};
    }
  }
  for (const Job& job : p.jobs) {
    j["jobs"].push_back({{"id", job.id},
                         {"document", job.document},
                         {"status", FlagsToJson(job.status, kJobStatusFlags)},
                         {"owner", job.owner},
                         {"datatype", job.datatype},
                         {"pages", job.pages},
                         {"size", job.size}});
  }
  return j;
}

json DeviceToJson(const Device& d) {
  static const char* const kModes[] = {"echo", "fixed", "silent"};
  json rfid = {{"mode", kModes[static_cast<int>(d.rfid.mode)]}};
  if (d.rfid.mode == RfidBehaviour::Mode::kFixed) {
    rfid["reply"] = ToHex(std::vector<uint8_t>(d.rfid.reply.begin(), d.rfid.reply.end()));
  }
  return {{"port", d.port},
          {"model", d.model},
          {"device_id", d.device_id},
          {"firmware", d.firmware},
          {"faults", d.faults},
          {"status_word", d.status_word},
          {"temperature", d.temperature},
          {"form_length", d.form_length},
          {"version_detail", d.version_detail},
          {"reply_delay_ms", d.reply_delay_ms},
          {"counters",
           {{"errors", d.counters.errors},
            {"tickets", d.counters.tickets},
            {"head_travel", d.counters.head_travel},
            {"jobs", d.counters.jobs},
            {"cuts", d.counters.cuts}}},
          {"rfid", rfid}};
}

json WorldToJson(const World& w) {
  json j = {
      {"os",
       {{"major", w.os.major},
        {"minor", w.os.minor},
        {"build", w.os.build},
        {"platform_id", w.os.platform_id},
        {"csd", w.os.csd}}},
      {"code_page", w.code_page},
      {"default_printer", w.default_printer ? json(*w.default_printer) : json(nullptr)},
      {"ports", json::array()},
      {"printers", json::array()},
      {"usb_interfaces", json::array()},
      {"devices", json::array()},
  };
  for (const Port& p : w.ports) {
    json port = {{"name", p.name}};
    if (!p.description.empty()) port["description"] = p.description;
    j["ports"].push_back(port);
  }
  for (const Printer& p : w.printers) j["printers"].push_back(PrinterToJson(p));
  for (const UsbInterface& u : w.usb_interfaces) {
    j["usb_interfaces"].push_back({{"device_path", u.device_path}, {"port_name", u.port_name}});
  }
  for (const Device& d : w.devices) j["devices"].push_back(DeviceToJson(d));
  return j;
}

}  // namespace qxsim
