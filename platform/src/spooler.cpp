// spooler.cpp - POSIX implementation of the Win32 print spooler client
// (winspool.drv): EnumPrintersA, OpenPrinterA, ClosePrinter, GetPrinterA,
// GetPrinterDriverA, DeviceCapabilitiesA and, reached only through
// GetProcAddress, GetDefaultPrinterA. The spooler itself is the service of
// the simulated world's daemon (simlink.h); these functions marshal its
// answers into the Windows buffer conventions:
//
// - the fixed records come first, then every string, device mode and security
//   descriptor they point to, packed after them in the caller's buffer;
// - a null buffer of size 0 fails with ERROR_INSUFFICIENT_BUFFER and stores
//   the exact size needed; a buffer of that size succeeds;
// - a null buffer with a nonzero size is ERROR_INVALID_USER_BUFFER;
// - no daemon reachable: RPC_S_SERVER_UNAVAILABLE.
//
// Approximations: a null pcbNeeded or pcReturned gives ERROR_INVALID_PARAMETER
// (Windows raises RPC_X_NULL_REF_POINTER); OpenPrinterA with a null name (the
// local print server on Windows) fails with ERROR_INVALID_PRINTER_NAME.
#include <windows.h>
#include <qxplatform.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "accounting.h"
#include "handles.h"
#include "modules.h"
#include "simlink.h"

namespace qxplat {
namespace {

using nlohmann::json;

// Printer names longer than this are refused before the spooler is asked.
constexpr size_t kMaxPrinterName = MAX_PATH;

// A printer handle: the spooler's handle number in the world it was opened in.
class PrinterHandle final : public Object {
 public:
  PrinterHandle(std::string dir, uint64_t id) : Object(QXPLAT_KIND_PRINTER), dir_(std::move(dir)), id_(id) {}
  bool ClosableByCloseHandle() const override { return false; }
  const std::string& dir() const { return dir_; }
  uint64_t id() const { return id_; }

 private:
  std::string dir_;
  uint64_t id_;
};

// ---- Reading replies ----------------------------------------------------------
// The daemon is trusted to be ours but not to be right: every field is read
// with a type check, and a missing or mistyped one reads as empty.

const json& Member(const json& j, const char* key) {
  static const json kNull;
  if (!j.is_object()) return kNull;
  auto it = j.find(key);
  return it == j.end() ? kNull : *it;
}

DWORD Number(const json& j, const char* key) {
  const json& v = Member(j, key);
  return v.is_number_unsigned() ? static_cast<DWORD>(v.get<uint64_t>()) : 0;
}

LONG Signed(const json& v) { return v.is_number_integer() ? static_cast<LONG>(v.get<int64_t>()) : 0; }

// A text member; null when absent or null.
const std::string* Text(const json& j, const char* key) {
  const json& v = Member(j, key);
  return v.is_string() ? v.get_ptr<const std::string*>() : nullptr;
}

std::string TextOr(const json& j, const char* key, const char* fallback = "") {
  const std::string* t = Text(j, key);
  return t != nullptr ? *t : fallback;
}

// A device mode from the wire, only when it is at least a DEVMODEA and its
// own sizes describe exactly the bytes received.
bool DecodeDevmode(const json& j, const char* key, std::vector<uint8_t>& bytes) {
  const std::string* hex = Text(j, key);
  if (hex == nullptr || !DecodeHex(*hex, bytes) || bytes.size() < sizeof(DEVMODEA)) return false;
  DEVMODEA head;
  std::memcpy(&head, bytes.data(), sizeof head);
  return size_t{head.dmSize} + head.dmDriverExtra == bytes.size() && head.dmSize >= sizeof(DEVMODEA);
}

// ---- Packing into the caller's buffer --------------------------------------------

// Layout - builds the caller's buffer image: fixed records at the start, the
// data they point to after them. Pointers are computed against the caller's
// buffer address, so the image is valid once copied there; while only the
// size is asked (a null buffer) they are never dereferenced.
class Layout {
 public:
  Layout(LPBYTE caller, size_t fixed_bytes) : base_(reinterpret_cast<uintptr_t>(caller)), image_(fixed_bytes, 0) {}

  template <class T>
  void PutRecord(size_t index, const T& record) {
    std::memcpy(image_.data() + index * sizeof(T), &record, sizeof(T));
  }

  LPSTR String(const std::string* text) {
    if (text == nullptr) return nullptr;
    const size_t at = image_.size();
    image_.insert(image_.end(), text->begin(), text->end());
    image_.push_back(0);
    return reinterpret_cast<LPSTR>(base_ + at);
  }
  LPSTR String(const std::string& text) { return String(&text); }

  // A list of texts each ended by a zero, the whole ended by an empty one.
  LPSTR MultiString(const std::vector<std::string>& texts) {
    if (texts.empty()) return nullptr;
    const size_t at = image_.size();
    for (const std::string& t : texts) {
      image_.insert(image_.end(), t.begin(), t.end());
      image_.push_back(0);
    }
    image_.push_back(0);
    return reinterpret_cast<LPSTR>(base_ + at);
  }

  // A block aligned to 8 bytes, as records that hold DWORDs need.
  void* Block(const void* data, size_t size) {
    const size_t at = (image_.size() + 7) & ~size_t{7};
    image_.resize(at + size, 0);
    std::memcpy(image_.data() + at, data, size);
    return reinterpret_cast<void*>(base_ + at);
  }

  size_t size() const { return image_.size(); }
  const uint8_t* data() const { return image_.data(); }

 private:
  uintptr_t base_;
  std::vector<uint8_t> image_;
};

// Deliver - the common end of every call that fills a caller's buffer.
BOOL Deliver(const Layout& layout, LPBYTE buffer, DWORD size, LPDWORD needed) {
  if (layout.size() > 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *needed = static_cast<DWORD>(layout.size());
  if (layout.size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (layout.size() > 0) std::memcpy(buffer, layout.data(), layout.size());
  return TRUE;
}

// The security descriptor every printer reports: an empty self-relative one
// (revision 1, SE_SELF_RELATIVE, no owner, group or lists), 20 bytes.
constexpr uint8_t kSecurityDescriptor[20] = {1, 0, 0x00, 0x80};

bool PrinterLevelKnown(DWORD level) { return level == 1 || level == 2 || level == 4 || level == 5; }

size_t PrinterRecordSize(DWORD level) {
  switch (level) {
    case 1: return sizeof(PRINTER_INFO_1A);
    case 2: return sizeof(PRINTER_INFO_2A);
    case 4: return sizeof(PRINTER_INFO_4A);
    default: return sizeof(PRINTER_INFO_5A);
  }
}

// PackPrinter - record index of the given level from the daemon's printer info.
void PackPrinter(Layout& out, size_t index, DWORD level, const json& info) {
  const std::string name = TextOr(info, "name");
  switch (level) {
    case 1: {
      PRINTER_INFO_1A r{};
      r.Flags = PRINTER_ENUM_ICON8;
      r.pDescription = out.String(name + "," + TextOr(info, "driver") + "," + TextOr(info, "location"));
      r.pName = out.String(name);
      r.pComment = out.String(TextOr(info, "comment"));
      out.PutRecord(index, r);
      break;
    }
    case 2: {
      PRINTER_INFO_2A r{};
      r.pServerName = nullptr;  // a local printer
      r.pPrinterName = out.String(name);
      r.pShareName = out.String(TextOr(info, "share_name"));
      r.pPortName = out.String(TextOr(info, "port"));
      r.pDriverName = out.String(TextOr(info, "driver"));
      r.pComment = out.String(TextOr(info, "comment"));
      r.pLocation = out.String(TextOr(info, "location"));
      std::vector<uint8_t> devmode;
      if (DecodeDevmode(info, "devmode", devmode)) {
        r.pDevMode = static_cast<LPDEVMODEA>(out.Block(devmode.data(), devmode.size()));
      }
      r.pSepFile = out.String(TextOr(info, "sep_file"));
      r.pPrintProcessor = out.String(TextOr(info, "print_processor", "winprint"));
      r.pDatatype = out.String(TextOr(info, "datatype", "RAW"));
      r.pParameters = out.String(TextOr(info, "parameters"));
      r.pSecurityDescriptor = out.Block(kSecurityDescriptor, sizeof kSecurityDescriptor);
      r.Attributes = Number(info, "attributes");
      r.Priority = Number(info, "priority");
      r.DefaultPriority = Number(info, "default_priority");
      r.StartTime = Number(info, "start_time");
      r.UntilTime = Number(info, "until_time");
      r.Status = Number(info, "status");
      r.cJobs = Number(info, "jobs");
      r.AveragePPM = Number(info, "average_ppm");
      out.PutRecord(index, r);
      break;
    }
    case 4: {
      PRINTER_INFO_4A r{};
      r.pPrinterName = out.String(name);
      r.pServerName = nullptr;
      r.Attributes = Number(info, "attributes");
      out.PutRecord(index, r);
      break;
    }
    default: {
      PRINTER_INFO_5A r{};
      r.pPrinterName = out.String(name);
      r.pPortName = out.String(TextOr(info, "port"));
      r.Attributes = Number(info, "attributes");
      r.DeviceNotSelectedTimeout = Number(info, "device_not_selected_timeout");
      r.TransmissionRetryTimeout = Number(info, "transmission_retry_timeout");
      out.PutRecord(index, r);
      break;
    }
  }
}

std::vector<std::string> TextList(const json& list) {
  std::vector<std::string> texts;
  if (!list.is_array()) return texts;
  for (const json& t : list) {
    if (t.is_string()) texts.push_back(t.get<std::string>());
  }
  return texts;
}

// An empty text is reported as a null pointer (no help file, no monitor).
LPSTR StringOrNull(Layout& out, const json& info, const char* key) {
  const std::string* t = Text(info, key);
  return t == nullptr || t->empty() ? nullptr : out.String(t);
}

void PackDriver(Layout& out, DWORD level, const json& info) {
  if (level == 1) {
    DRIVER_INFO_1A r{};
    r.pName = out.String(TextOr(info, "name"));
    out.PutRecord(0, r);
    return;
  }
  DRIVER_INFO_3A r{};  // level 2 is its first six fields
  r.cVersion = Number(info, "version");
  r.pName = out.String(TextOr(info, "name"));
  r.pEnvironment = out.String(TextOr(info, "environment", "Windows x64"));
  r.pDriverPath = out.String(TextOr(info, "path"));
  r.pDataFile = out.String(TextOr(info, "data_file"));
  r.pConfigFile = out.String(TextOr(info, "config_file"));
  if (level == 2) {
    DRIVER_INFO_2A two;
    std::memcpy(&two, &r, sizeof two);
    out.PutRecord(0, two);
    return;
  }
  r.pHelpFile = StringOrNull(out, info, "help_file");
  r.pDependentFiles = out.MultiString(TextList(Member(info, "dependent_files")));
  r.pMonitorName = StringOrNull(out, info, "monitor_name");
  r.pDefaultDataType = out.String(TextOr(info, "default_datatype", "RAW"));
  out.PutRecord(0, r);
}

// Request - SimRequest to a world, with the Win32 error set on failure.
bool Request(const std::string& dir, const json& request, json& reply) {
  const DWORD error = SimRequest(dir, request, reply);
  if (error != 0) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool Request(const json& request, json& reply) { return Request(SimDir(), request, reply); }

// GetDefaultPrinterA - the system default printer's name.
//   pszBuffer (out, may be null when *pcchBuffer is 0), pcchBuffer (in/out):
//   its size in characters; receives the characters needed, the zero included,
//   on success and when the buffer is too small.
// FALSE with ERROR_INSUFFICIENT_BUFFER (too small), ERROR_FILE_NOT_FOUND (no
// default printer), ERROR_INVALID_PARAMETER (null pcchBuffer) or
// RPC_S_SERVER_UNAVAILABLE. Not exported: winspool.drv hands it out through
// GetProcAddress only.
BOOL WINAPI GetDefaultPrinterA(LPSTR pszBuffer, LPDWORD pcchBuffer) {
  if (FaultPoint({}, "GetDefaultPrinterA", ERROR_FILE_NOT_FOUND)) return FALSE;
  if (pcchBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  json reply;
  if (!Request({{"op", "get_default_printer"}}, reply)) return FALSE;
  const std::string name = TextOr(reply, "name");
  const auto needed = static_cast<DWORD>(std::min<size_t>(name.size() + 1, 0xFFFFFFFFu));
  if (pszBuffer == nullptr || *pcchBuffer < needed) {
    *pcchBuffer = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(pszBuffer, name.c_str(), needed);
  *pcchBuffer = needed;
  return TRUE;
}

// Fixed-width entries (DC_PAPERNAMES 64, DC_BINNAMES 24): a name that fills its
// entry has no terminator; shorter ones are zero-padded.
void PutEntry(char* entry, size_t width, const std::string& name) {
  std::memset(entry, 0, width);
  std::memcpy(entry, name.data(), std::min(width, name.size()));
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// EnumPrintersA - the printers of the local spooler.
//   Flags: PRINTER_ENUM_LOCAL (Name ignored) or PRINTER_ENUM_NAME with a null
//     or empty Name list every printer; PRINTER_ENUM_DEFAULT the default one;
//     connections, remote and network printers do not exist (none listed).
//     PRINTER_ENUM_NAME with a server name: ERROR_INVALID_NAME.
//   Level: 1, 2, 4 or 5 (PRINTER_INFO_1A ... 5A), else ERROR_INVALID_LEVEL.
//   pPrinterEnum (out), cbBuf: the records, packed with their data.
//   pcbNeeded (out): bytes needed (also on success); pcReturned (out): records.
// No printers: TRUE, needed 0, count 0.
BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (FaultPoint({}, "EnumPrintersA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  if (pcbNeeded == nullptr || pcReturned == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcReturned = 0;
  if (!PrinterLevelKnown(Level)) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pPrinterEnum == nullptr && cbBuf != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  json request = {{"op", "enum_printers"}, {"flags", Flags}, {"level", Level}, {"name", nullptr}};
  if ((Flags & PRINTER_ENUM_NAME) && Name != nullptr) {
    if (std::strlen(Name) > kMaxPrinterName) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
    request["name"] = Name;
  }
  json reply;
  if (!Request(request, reply)) return FALSE;
  const json& printers = Member(reply, "printers");
  const size_t count = printers.is_array() ? printers.size() : 0;
  Layout layout(pPrinterEnum, count * PrinterRecordSize(Level));
  for (size_t i = 0; i < count; ++i) PackPrinter(layout, i, Level, printers[i]);
  if (!Deliver(layout, pPrinterEnum, cbBuf, pcbNeeded)) return FALSE;
  *pcReturned = static_cast<DWORD>(count);
  return TRUE;
}

// OpenPrinterA - a handle to a printer, closed with ClosePrinter.
//   pPrinterName (in): matched without regard to case.
//   phPrinter (out): the handle, or NULL on failure.
//   pDefault (in, may be null): DesiredAccess (PRINTER_ACCESS_USE when null)
//     and a data type, which must be one the spooler knows.
// Errors: ERROR_INVALID_PRINTER_NAME (unknown or null name),
// ERROR_INVALID_DATATYPE, the error of a printer set to refuse opens
// (ERROR_ACCESS_DENIED unless the world says otherwise),
// RPC_S_SERVER_UNAVAILABLE. Fault class "open". Counted as a printer handle.
BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
  if (FaultPoint(kFaultOpen, "OpenPrinterA", ERROR_INVALID_PRINTER_NAME)) {
    if (phPrinter != nullptr) *phPrinter = nullptr;
    return FALSE;
  }
  if (phPrinter == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phPrinter = nullptr;
  if (pPrinterName == nullptr || *pPrinterName == '\0' || std::strlen(pPrinterName) > kMaxPrinterName) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  json request = {{"op", "open_printer"},
                  {"name", pPrinterName},
                  {"access", pDefault != nullptr ? pDefault->DesiredAccess : PRINTER_ACCESS_USE},
                  {"datatype", nullptr}};
  if (pDefault != nullptr && pDefault->pDatatype != nullptr) {
    if (std::strlen(pDefault->pDatatype) > kMaxPrinterName) {
      SetLastError(ERROR_INVALID_DATATYPE);
      return FALSE;
    }
    request["datatype"] = pDefault->pDatatype;
  }
  const std::string dir = SimDir();
  json reply;
  if (!Request(dir, request, reply)) return FALSE;
  const json& id = Member(reply, "handle");
  if (!id.is_number_unsigned()) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return FALSE;
  }
  *phPrinter = InsertHandle(std::make_shared<PrinterHandle>(dir, id.get<uint64_t>()));
  return TRUE;
}

// ClosePrinter - close a printer handle. The handle is released whether or
// not its spooler can still be told. Not a printer handle: ERROR_INVALID_HANDLE.
BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  auto printer = RemoveHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  json reply;
  SimRequest(printer->dir(), {{"op", "close_printer"}, {"handle", printer->id()}}, reply);
  return TRUE;
}

// GetPrinterA - one printer's record at level 1, 2, 4 or 5.
//   pPrinter (out), cbBuf, pcbNeeded (out) as for EnumPrintersA.
// Level 2 carries the device mode and a security descriptor in the buffer.
// Errors: ERROR_INVALID_HANDLE, ERROR_INVALID_LEVEL, ERROR_INSUFFICIENT_BUFFER,
// ERROR_PRINTER_DELETED (the printer left the spooler since it was opened),
// RPC_S_SERVER_UNAVAILABLE.
BOOL WINAPI GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
  if (FaultPoint({}, "GetPrinterA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!PrinterLevelKnown(Level)) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pPrinter == nullptr && cbBuf != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  json reply;
  if (!Request(printer->dir(), {{"op", "get_printer"}, {"handle", printer->id()}, {"level", Level}}, reply)) {
    return FALSE;
  }
  Layout layout(pPrinter, PrinterRecordSize(Level));
  PackPrinter(layout, 0, Level, Member(reply, "printer"));
  return Deliver(layout, pPrinter, cbBuf, pcbNeeded);
}

// GetPrinterDriverA - the printer's driver at level 1, 2 or 3.
//   pEnvironment (in, may be null for this machine's, "Windows x64"): another
//   environment is ERROR_INVALID_ENVIRONMENT.
// pDriverPath is the driver file's full path; at level 3 pDependentFiles is
// a zero-separated list ended by an empty text, and pMonitorName is null for
// a driver without a language monitor. Other errors as GetPrinterA.
BOOL WINAPI GetPrinterDriverA(HANDLE hPrinter, LPSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded) {
  if (FaultPoint({}, "GetPrinterDriverA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (Level < 1 || Level > 3) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pDriverInfo == nullptr && cbBuf != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  json request = {{"op", "get_printer_driver"}, {"handle", printer->id()}, {"level", Level}, {"environment", nullptr}};
  if (pEnvironment != nullptr) {
    if (std::strlen(pEnvironment) > kMaxPrinterName) {
      SetLastError(ERROR_INVALID_ENVIRONMENT);
      return FALSE;
    }
    request["environment"] = pEnvironment;
  }
  json reply;
  if (!Request(printer->dir(), request, reply)) return FALSE;
  const size_t fixed = Level == 1 ? sizeof(DRIVER_INFO_1A) : Level == 2 ? sizeof(DRIVER_INFO_2A) : sizeof(DRIVER_INFO_3A);
  Layout layout(pDriverInfo, fixed);
  PackDriver(layout, Level, Member(reply, "driver"));
  return Deliver(layout, pDriverInfo, cbBuf, pcbNeeded);
}

// DeviceCapabilitiesA - what the printer's driver offers.
//   pDevice (in): the printer name; pPort (in): accepted and not used, as
//   drivers locate the printer by name.
//   fwCapability: DC_PAPERNAMES (64-character entries), DC_PAPERS (WORD
//     codes), DC_PAPERSIZE (POINTs, tenths of a millimetre, x = width),
//     DC_BINS (WORD codes), DC_BINNAMES (24-character entries),
//     DC_FILEDEPENDENCIES (64-character entries); DC_FIELDS, DC_SIZE,
//     DC_EXTRA, DC_VERSION, DC_DRIVER, DC_ORIENTATION, DC_COPIES and DC_DUPLEX
//     answer a value from the printer's device mode.
//   pOutput (out, may be null to count): room for every entry.
// Returns the number of entries (or the value), -1 on error: an unknown
// printer (ERROR_INVALID_PRINTER_NAME), an unsupported capability
// (ERROR_NOT_SUPPORTED), no spooler (RPC_S_SERVER_UNAVAILABLE).
int WINAPI DeviceCapabilitiesA(LPCSTR pDevice, LPCSTR pPort, WORD fwCapability, LPSTR pOutput,
                               const DEVMODEA* pDevMode) {
  if (FaultPoint({}, "DeviceCapabilitiesA", RPC_S_SERVER_UNAVAILABLE)) return -1;
  if (pDevice == nullptr || *pDevice == '\0' || std::strlen(pDevice) > kMaxPrinterName) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return -1;
  }
  json reply;
  if (!Request({{"op", "device_capabilities"}, {"device", pDevice}}, reply)) return -1;
  const json& sheets = Member(reply, "sheets");
  const json& bins = Member(reply, "bins");
  std::vector<uint8_t> bytes;
  DEVMODEA dm{};
  if (DecodeDevmode(reply, "devmode", bytes)) std::memcpy(&dm, bytes.data(), sizeof dm);

  // Lists: entry i of sheets is [name, code, width, length]; of bins [name, code].
  auto field = [](const json& entry, size_t i) -> const json& {
    static const json kNull;
    return entry.is_array() && entry.size() > i ? entry[i] : kNull;
  };
  auto name_of = [&](const json& entry) {
    const json& n = field(entry, 0);
    return n.is_string() ? n.get<std::string>() : std::string();
  };
  const size_t nsheets = sheets.is_array() ? sheets.size() : 0;
  const size_t nbins = bins.is_array() ? bins.size() : 0;
  switch (fwCapability) {
    case DC_PAPERNAMES:
      if (pOutput != nullptr) {
        for (size_t i = 0; i < nsheets; ++i) PutEntry(pOutput + i * 64, 64, name_of(sheets[i]));
      }
      return static_cast<int>(nsheets);
    case DC_PAPERS:
      if (pOutput != nullptr) {
        for (size_t i = 0; i < nsheets; ++i) {
          const WORD code = static_cast<WORD>(Signed(field(sheets[i], 1)));
          std::memcpy(pOutput + i * sizeof(WORD), &code, sizeof code);
        }
      }
      return static_cast<int>(nsheets);
    case DC_PAPERSIZE:
      if (pOutput != nullptr) {
        for (size_t i = 0; i < nsheets; ++i) {
          const POINT size{Signed(field(sheets[i], 2)), Signed(field(sheets[i], 3))};
          std::memcpy(pOutput + i * sizeof(POINT), &size, sizeof size);
        }
      }
      return static_cast<int>(nsheets);
    case DC_BINS:
      if (pOutput != nullptr) {
        for (size_t i = 0; i < nbins; ++i) {
          const WORD code = static_cast<WORD>(Signed(field(bins[i], 1)));
          std::memcpy(pOutput + i * sizeof(WORD), &code, sizeof code);
        }
      }
      return static_cast<int>(nbins);
    case DC_BINNAMES:
      if (pOutput != nullptr) {
        for (size_t i = 0; i < nbins; ++i) PutEntry(pOutput + i * 24, 24, name_of(bins[i]));
      }
      return static_cast<int>(nbins);
    case DC_FILEDEPENDENCIES: {
      const std::vector<std::string> files = TextList(Member(reply, "dependent_files"));
      if (pOutput != nullptr) {
        for (size_t i = 0; i < files.size(); ++i) PutEntry(pOutput + i * 64, 64, files[i]);
      }
      return static_cast<int>(files.size());
    }
    case DC_FIELDS:
      return static_cast<int>(dm.dmFields);
    case DC_SIZE:
      return dm.dmSize;
    case DC_EXTRA:
      return dm.dmDriverExtra;
    case DC_VERSION:
      return dm.dmSpecVersion;
    case DC_DRIVER:
      return dm.dmDriverVersion;
    case DC_ORIENTATION:
      return (dm.dmFields & DM_ORIENTATION) ? 90 : 0;
    case DC_COPIES:
      return 1;
    case DC_DUPLEX:
      return (dm.dmFields & DM_DUPLEX) ? 1 : 0;
    default:
      SetLastError(ERROR_NOT_SUPPORTED);
      return -1;
  }
}

}  // extern "C"

namespace qxplat {
namespace {

template <class Fn>
FARPROC Proc(Fn* fn) {
  // Through void (*)(void), the type GCC accepts as "any function".
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(fn));
}

// winspool.drv: what GetProcAddress finds there. GetDefaultPrinterA lives only here.
const bool g_registered = RegisterProc("winspool.drv", "GetDefaultPrinterA", Proc(&GetDefaultPrinterA)) &&
                          RegisterProc("winspool.drv", "EnumPrintersA", Proc(&EnumPrintersA)) &&
                          RegisterProc("winspool.drv", "OpenPrinterA", Proc(&OpenPrinterA)) &&
                          RegisterProc("winspool.drv", "ClosePrinter", Proc(&ClosePrinter)) &&
                          RegisterProc("winspool.drv", "GetPrinterA", Proc(&GetPrinterA)) &&
                          RegisterProc("winspool.drv", "GetPrinterDriverA", Proc(&GetPrinterDriverA)) &&
                          RegisterProc("winspool.drv", "DeviceCapabilitiesA", Proc(&DeviceCapabilitiesA));

}  // namespace
}  // namespace qxplat
