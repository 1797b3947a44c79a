// The driver version report: which version of the printer's driver package is
// installed, from the driver's dependent files as the spooler lists them.
//
// Older user-interface modules carry no usable version resource, so their
// builds are known by file name and date (the module table). Newer packages
// have a version module whose version resource is the package's version; the
// newest user-interface modules (version 5 and later) carry their own.
#include "core/driver_version.h"

#include <qxdll.h>
#include <winver.h>

#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"

namespace qx {
namespace {

// Each file name, path and text of the report is held in a buffer this large.
constexpr DWORD kTextSize = 512;
constexpr DWORD kMaxPrinterName = 511;

struct ModuleRow {
  const char* name;
  const char* date;  // month/day/year, no leading zeros
  const char* version;
};

// Known user-interface module builds, searched in this order (never by
// date: row 12 is dated before rows 9 to 11). The row named "END" ends it.
// clang-format off
constexpr ModuleRow kModuleTable[] = {
    {"VNP38_UI.DLL", "3/2/2006", "2.04"},
    {"VNP38_UI.DLL", "5/11/2006", "2.05"},
    {"VNP38_UI.DLL", "3/27/2017", "5.0.0.1"},
    {"VNP38_UI.DLL", "5/4/2017", "5.0.0.2"},
    {"VNP38_UI.DLL", "6/6/2017", "5.0.0.2"},
    {"VNPiUIF_200.DLL", "1/4/2017", "6.1.0.0"},
    {"VNPiUIF_200.DLL", "5/5/2017", "6.1.0.1"},
    {"VNPiUIF_200.DLL", "6/6/2017", "6.2.0.1"},
    {"VNP_BAGTAG_UI.DLL", "10/24/2017", "5.0.0.2"},
    {"VNP_BAGTAG_UI.DLL", "10/31/2017", "5.0.0.3"},
    {"VNP_BAGTAG_UI.DLL", "11/22/2017", "5.0.0.4"},
    {"VNP_BAGTAG_UI.DLL", "2/20/2017", "5.0.0.6"},
    {"VNP_BAGTAG_UI.DLL", "9/22/2017", "5.0.0.7"},
    {"VNRUIF_200X.DLL", "3/2/2006", "2.01"},
    {"VNRUIF_200X.DLL", "5/23/2006", "2.05"},
    {"VNRUIF_G_200X.DLL", "5/10/2006", "2.04"},
    {"VNRUIF_G_200X.DLL", "9/11/2006", "2.05"},
    {"VNRUIF_GRP_200X.DLL", "5/10/2006", "2.04"},
    {"VNRUIF_GRP_200X.DLL", "9/11/2006", "2.05"},
    {"VNQUIF_200X.DLL", "3/2/2006", "2.01"},
    {"VNQUIF_200X.DLL", "5/23/2006", "2.05"},
    {"VNQUIF_G_200X.DLL", "5/10/2006", "2.04"},
    {"VNQUIF_G_200X.DLL", "9/11/2006", "2.05"},
    {"VNQUIF_GRP_200X.DLL", "5/10/2006", "2.04"},
    {"VNQUIF_GRP_200X.DLL", "9/11/2006", "2.05"},
    {"VNQUIF_300X.DLL", "3/2/2006", "2.01"},
    {"VNQUIF_300X.DLL", "5/23/2006", "2.05"},
    {"VNQUIF_G_300X.DLL", "5/10/2006", "2.04"},
    {"VNQUIF_G_300X.DLL", "9/11/2006", "2.05"},
    {"VNQUIF_GRP_300X.DLL", "5/10/2006", "2.04"},
    {"VNQUIF_GRP_300X.DLL", "9/11/2006", "2.05"},
    {"END", "", ""},
};
// clang-format on

// The upper-case form of text (only a to z change) into out of kTextSize
// bytes; the caller has checked that it fits.
void UpperCopy(char* out, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0'; ++i) {
    const char c = text[i];
    out[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  out[i] = '\0';
}

// Copies text into out of size bytes when it fits whole; false otherwise.
bool CopyWhole(char* out, DWORD size, const char* text) {
  const size_t n = std::strlen(text);
  if (out == nullptr || n >= size) return false;
  std::memcpy(out, text, n + 1);
  return true;
}

// The dependent-file list of a driver record, or null when the record has
// none or it does not lie inside the record's block.
const char* DependentFiles(const HeapBlock& record, size_t& room) {
  const char* files = record.as<DRIVER_INFO_3A>()->pDependentFiles;
  const char* begin = reinterpret_cast<const char*>(record.get());
  const char* end = begin + record.size();
  if (files == nullptr || files < begin || files >= end) return nullptr;
  room = static_cast<size_t>(end - files);
  return files;
}

}  // namespace

BOOL getFileDate(LPCSTR path, LPSTR text, DWORD size) {
  FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    DebugLine("getFileDate - file did not open\r\n");
    return 0;
  }
  FILETIME created, accessed, written;
  if (!GetFileTime(file.get(), &created, &accessed, &written)) {
    DebugLine("getFileDate - Get file time failed");
    return 0;
  }
  FILETIME local;
  SYSTEMTIME t;
  if (!FileTimeToLocalFileTime(&written, &local) || !FileTimeToSystemTime(&local, &t)) return 0;
  const int hour = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
  char line[64];
  std::snprintf(line, sizeof line, "%d/%d/%d %02d:%02d %s", t.wMonth, t.wDay, t.wYear, hour, t.wMinute,
                t.wHour < 12 ? "AM" : "PM");
  return CopyWhole(text, size, line) ? 1 : 0;
}

BOOL getFileVersion(LPCSTR path, LPSTR shortText, DWORD size, LPSTR fullText, WORD* major) {
  DWORD handle = 0;
  const DWORD needed = GetFileVersionInfoSizeA(path, &handle);
  if (needed == 0) {
    DebugLine("version size = 0, return without version\r\n");
    return 0;
  }
  HeapBlock block(needed);
  if (!block || !GetFileVersionInfoA(path, handle, block.size(), block.get())) {
    DebugLine("getFileVersion - failed\r\n");
    return 1;
  }
  LPVOID value = nullptr;
  UINT length = 0;
  // A root block too short for the fixed information, or not marked as it,
  // is as unreadable as none.
  if (!VerQueryValueA(block.get(), "\\", &value, &length) || value == nullptr || length < sizeof(VS_FIXEDFILEINFO) ||
      static_cast<const VS_FIXEDFILEINFO*>(value)->dwSignature != VS_FFI_SIGNATURE) {
    DebugLine("getFileVersion - VerQueryValue failed\r\n");
    return 1;
  }
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, value, sizeof info);
  char shortLine[32], fullLine[32];
  std::snprintf(shortLine, sizeof shortLine, "%d.%d%d", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                HIWORD(info.dwFileVersionLS));
  std::snprintf(fullLine, sizeof fullLine, "%d.%d.%d.%d", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
  // Both texts or neither: a version cut to fit would be another version.
  if (std::strlen(shortLine) < size && std::strlen(fullLine) < size) {
    CopyWhole(shortText, size, shortLine);
    CopyWhole(fullText, size, fullLine);
  }
  if (major != nullptr) *major = HIWORD(info.dwFileVersionMS);
  return 1;
}

const char* FindModuleVersion(const char* path, const char* dateText) {
  char upperPath[kTextSize];
  if (std::strlen(path) < kTextSize) {
    UpperCopy(upperPath, path);
    for (const ModuleRow& row : kModuleTable) {
      if (std::strcmp(row.name, "END") == 0) break;
      char upperName[kTextSize];
      UpperCopy(upperName, row.name);
      if (Contains(upperPath, upperName) && Contains(dateText, row.date)) return row.version;
    }
  }
  DebugLine("Not found\r\n");
  return nullptr;
}

}  // namespace qx

using namespace qx;

extern "C" BOOL QXAPI qxLMGetDriverVersion(LPCSTR printerName, LPSTR text, DWORD size, DWORD* length) {
  if (text != nullptr && size > 0) text[0] = '\0';
  LPCSTR name = printerName != nullptr && printerName[0] != '\0' ? printerName : g_state.printerName;
  if (strnlen(name, kMaxPrinterName + 1) > kMaxPrinterName) return 0;

  PrinterHandle printer;
  if (!printer.Open(name, PRINTER_ALL_ACCESS)) return 0;
  HeapBlock record;
  if (FetchInto(record, [&](BYTE* buffer, DWORD bytes, DWORD* needed) {
        return GetPrinterDriverA(printer.get(), nullptr, 3, buffer, bytes, needed);
      }) != Fetched::kAll) {
    return 0;
  }
  size_t room = 0;
  const char* files = DependentFiles(record, room);
  if (files == nullptr) return 0;

  // The walk: each name up to the empty one, never past the record.
  char uiPath[kTextSize] = "", uiDate[kTextSize] = "", versionPath[kTextSize] = "";
  bool haveUi = false, haveVersion = false;
  for (const char* file = files; room > 0 && *file != '\0';) {
    const size_t n = strnlen(file, room);
    if (n == room) break;  // not terminated inside the record
    if (n < kTextSize) {
      char upper[kTextSize];
      UpperCopy(upper, file);
      if (!Contains(upper, "UNIRES.DLL") && !Contains(upper, "STDNAMES.GPD")) {
        if (Contains(upper, "UI") && Contains(upper, ".DLL")) {
          std::memcpy(uiPath, file, n + 1);
          uiDate[0] = '\0';
          getFileDate(uiPath, uiDate, kTextSize);
          haveUi = true;
        }
        if (Contains(upper, "VERSION") && Contains(upper, ".DLL")) {
          std::memcpy(versionPath, file, n + 1);
          haveVersion = true;
        }
      }
    }
    file += n + 1;
    room -= n + 1;
  }

  char versionShort[kTextSize] = "Not found", versionFull[kTextSize] = "";
  const bool versionRead =
      haveVersion && getFileVersion(versionPath, versionShort, kTextSize, versionFull, nullptr) == 1;

  const char* report = nullptr;
  char uiShort[kTextSize] = "", uiFull[kTextSize] = "";
  if (haveUi) report = FindModuleVersion(uiPath, uiDate);
  if (report == nullptr && versionRead) report = versionShort;
  if (report == nullptr && haveUi) {
    WORD major = 0;
    if (getFileVersion(uiPath, uiShort, kTextSize, uiFull, &major) == 1 && major >= 5) report = uiFull;
  }
  // A text the caller's buffer cannot hold whole is not written.
  if (report == nullptr || !CopyWhole(text, size, report)) return 0;
  const DWORD n = static_cast<DWORD>(std::strlen(report));
  if (n == 0) return 0;
  if (length != nullptr) *length = n;
  return 1;
}
