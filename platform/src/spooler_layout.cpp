// spooler_layout.cpp - POSIX platform layer, internal: reading the spooler
// daemon's replies and packing them into the caller's buffer in the Windows
// record layouts (see spooler_layout.h).
#include "spooler_layout.h"

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

}  // namespace qxplat
