// spooler_layout.cpp - POSIX platform layer, internal: reading the spooler
// daemon's replies, packing them into the caller's buffer in the Windows
// record layouts, and what the driver's part does in the caller (merging a
// device mode, answering a capability) (see spooler_layout.h).
#include "spooler_layout.h"

#include <time.h>

#include <algorithm>
#include <cstddef>

#include <qxwire/devmode.h>

#include "simlink.h"

namespace qxplat {

using nlohmann::json;

// ---- Reading replies -------------------------------------------------------

LONG Signed(const json& v) { return v.is_number_integer() ? static_cast<LONG>(v.get<int64_t>()) : 0; }

std::string TextOr(const json& j, const char* key, const char* fallback) {
  const std::string* t = Text(j, key);
  return t != nullptr ? *t : fallback;
}

static_assert(offsetof(DEVMODEA, dmSize) == qxwire::kDevmodeSizeOffset &&
              offsetof(DEVMODEA, dmDriverExtra) == qxwire::kDevmodeExtraOffset);

bool DecodeDevmode(const json& j, const char* key, std::vector<uint8_t>& bytes) {
  const std::string* hex = Text(j, key);
  return hex != nullptr && qxwire::DecodeDevmode(*hex, sizeof(DEVMODEA), bytes) == qxwire::DevmodeCheck::kOk;
}

std::vector<std::string> TextList(const json& list) {
  std::vector<std::string> texts;
  if (!list.is_array()) return texts;
  for (const json& t : list) {
    if (t.is_string()) texts.push_back(t.get<std::string>());
  }
  return texts;
}

// ---- Packing into the caller's buffer --------------------------------------

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

namespace {

// The security descriptor every printer reports: an empty self-relative one
// (revision 1, SE_SELF_RELATIVE, no owner, group or lists), 20 bytes.
constexpr uint8_t kSecurityDescriptor[20] = {1, 0, 0x00, 0x80};

// An empty text is reported as a null pointer (no help file, no monitor).
LPSTR StringOrNull(Layout& out, const json& info, const char* key) {
  const std::string* t = Text(info, key);
  return t == nullptr || t->empty() ? nullptr : out.String(t);
}

}  // namespace

bool PrinterLevelKnown(DWORD level) { return level == 1 || level == 2 || level == 4 || level == 5; }

size_t PrinterRecordSize(DWORD level) {
  switch (level) {
    case 1: return sizeof(PRINTER_INFO_1A);
    case 2: return sizeof(PRINTER_INFO_2A);
    case 4: return sizeof(PRINTER_INFO_4A);
    default: return sizeof(PRINTER_INFO_5A);
  }
}

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


// ---- What the driver's part does in the caller -----------------------------

namespace {

// Fixed-width entries (DC_PAPERNAMES 64, DC_BINNAMES 24): a name that fills its
// entry has no terminator; shorter ones are zero-padded.
void PutEntry(char* entry, size_t width, const std::string& name) {
  std::memset(entry, 0, width);
  std::memcpy(entry, name.data(), std::min(width, name.size()));
}

bool ListHas(const json& list, LONG code) {
  if (!list.is_array()) return false;
  return std::any_of(list.begin(), list.end(), [&](const json& c) { return Signed(c) == code; });
}

}  // namespace

// UTC Unix time as the SYSTEMTIME of JOB_INFO_1A.Submitted.
SYSTEMTIME SystemTimeOf(int64_t seconds) {
  SYSTEMTIME st{};
  const time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (seconds <= 0 || gmtime_r(&t, &parts) == nullptr) return st;
  st.wYear = static_cast<WORD>(parts.tm_year + 1900);
  st.wMonth = static_cast<WORD>(parts.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  st.wDay = static_cast<WORD>(parts.tm_mday);
  st.wHour = static_cast<WORD>(parts.tm_hour);
  st.wMinute = static_cast<WORD>(parts.tm_min);
  st.wSecond = static_cast<WORD>(parts.tm_sec);
  return st;
}

// MergeDevmode - what the driver does with DM_IN_BUFFER: the fields the input
// names in dmFields, among those the driver supports (the current device
// mode's dmFields), replace the current values once checked. A value the
// driver cannot take refuses the whole merge (false): an orientation other
// than portrait (1) or landscape (2), a paper code not in the driver's paper
// list, a paper length or width that is not positive, a bin code not in the
// driver's bin list, copies below 1. The driver's private bytes are taken
// from the input when it carries as many as the driver keeps.
bool MergeDevmode(std::vector<uint8_t>& current, const std::vector<uint8_t>& input, const json& papers,
                  const json& bins) {
  DEVMODEA dm;
  std::memcpy(&dm, current.data(), sizeof dm);
  DEVMODEA in{};
  std::memcpy(&in, input.data(), std::min(input.size(), sizeof in));
  const size_t in_size = std::min<size_t>(in.dmSize, sizeof in);
  // A field counts only when the input's public part reaches it.
  auto given = [&](DWORD bit, size_t offset, size_t size) {
    return (in.dmFields & bit) && (dm.dmFields & bit) && offset + size <= in_size;
  };
  if (given(DM_ORIENTATION, offsetof(DEVMODEA, dmOrientation), sizeof(short))) {
    if (in.dmOrientation != DMORIENT_PORTRAIT && in.dmOrientation != DMORIENT_LANDSCAPE) return false;
    dm.dmOrientation = in.dmOrientation;
  }
  if (given(DM_PAPERSIZE, offsetof(DEVMODEA, dmPaperSize), sizeof(short))) {
    if (!ListHas(papers, in.dmPaperSize)) return false;
    dm.dmPaperSize = in.dmPaperSize;
  }
  if (given(DM_PAPERLENGTH, offsetof(DEVMODEA, dmPaperLength), sizeof(short))) {
    if (in.dmPaperLength <= 0) return false;
    dm.dmPaperLength = in.dmPaperLength;
  }
  if (given(DM_PAPERWIDTH, offsetof(DEVMODEA, dmPaperWidth), sizeof(short))) {
    if (in.dmPaperWidth <= 0) return false;
    dm.dmPaperWidth = in.dmPaperWidth;
  }
  if (given(DM_COPIES, offsetof(DEVMODEA, dmCopies), sizeof(short))) {
    if (in.dmCopies < 1) return false;
    dm.dmCopies = in.dmCopies;
  }
  if (given(DM_DEFAULTSOURCE, offsetof(DEVMODEA, dmDefaultSource), sizeof(short))) {
    if (!ListHas(bins, in.dmDefaultSource)) return false;
    dm.dmDefaultSource = in.dmDefaultSource;
  }
  std::memcpy(current.data(), &dm, sizeof dm);
  if (dm.dmDriverExtra != 0 && in.dmDriverExtra == dm.dmDriverExtra && in.dmSize >= sizeof(DEVMODEA) &&
      input.size() >= size_t{in.dmSize} + in.dmDriverExtra) {
    std::memcpy(current.data() + dm.dmSize, input.data() + in.dmSize, dm.dmDriverExtra);
  }
  return true;
}

// The level and buffer checks every query makes before asking the spooler:
// an unknown level is ERROR_INVALID_LEVEL, a null buffer with a nonzero size
// ERROR_INVALID_USER_BUFFER.
bool QueryArgumentsValid(bool levelKnown, const void* buffer, DWORD size) {
  if (!levelKnown) {
    SetLastError(ERROR_INVALID_LEVEL);
    return false;
  }
  if (buffer == nullptr && size != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
  }
  return true;
}

int PackCapability(const json& reply, WORD capability, LPSTR output) {
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
  // The 16-bit codes of a list's entries, one after another.
  auto put_codes = [&](const json& list, size_t n) {
    if (output != nullptr) {
      for (size_t i = 0; i < n; ++i) {
        const WORD code = static_cast<WORD>(Signed(field(list[i], 1)));
        std::memcpy(output + i * sizeof(WORD), &code, sizeof code);
      }
    }
    return static_cast<int>(n);
  };
  switch (capability) {
    case DC_PAPERNAMES:
      if (output != nullptr) {
        for (size_t i = 0; i < nsheets; ++i) PutEntry(output + i * 64, 64, name_of(sheets[i]));
      }
      return static_cast<int>(nsheets);
    case DC_PAPERS:
      return put_codes(sheets, nsheets);
    case DC_PAPERSIZE:
      if (output != nullptr) {
        for (size_t i = 0; i < nsheets; ++i) {
          const POINT size{Signed(field(sheets[i], 2)), Signed(field(sheets[i], 3))};
          std::memcpy(output + i * sizeof(POINT), &size, sizeof size);
        }
      }
      return static_cast<int>(nsheets);
    case DC_BINS:
      return put_codes(bins, nbins);
    case DC_BINNAMES:
      if (output != nullptr) {
        for (size_t i = 0; i < nbins; ++i) PutEntry(output + i * 24, 24, name_of(bins[i]));
      }
      return static_cast<int>(nbins);
    case DC_FILEDEPENDENCIES: {
      const std::vector<std::string> files = TextList(Member(reply, "dependent_files"));
      if (output != nullptr) {
        for (size_t i = 0; i < files.size(); ++i) PutEntry(output + i * 64, 64, files[i]);
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

}  // namespace qxplat
