// Printer discovery: the maker's printer, the default printer, a printer's
// port, driver and ticket sheets, and the printer enumeration export.
#include "core/discovery.h"

#include <cstring>

#include "core/capabilities.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"

namespace qx {

namespace {

constexpr DWORD kPrinterAccess = PRINTER_ALL_ACCESS;

// Length of a text of at most max bytes that need not be terminated.
DWORD BoundedLength(const char* text, DWORD max) {
  DWORD n = 0;
  while (n < max && text[n] != '\0') ++n;
  return n;
}

// Copies a text cut to fit, and stores the copied length when asked.
void CopyOut(LPSTR dest, DWORD destSize, const char* source, DWORD* length) {
  const DWORD copied = CopyText(dest, destSize, source);
  if (length != nullptr) *length = copied;
}

// Fetches a printer record of a level. False, with the block empty, when
// any step fails.
bool FetchPrinter(HANDLE printer, DWORD level, HeapBlock& block) {
  return FetchInto(block, [&](BYTE* buffer, DWORD size, DWORD* needed) {
           return GetPrinterA(printer, level, buffer, size, needed);
         }) == Fetched::kAll;
}

// Fetches the driver's DRIVER_INFO_2 record for a printer, as FetchPrinter.
bool FetchDriver(HANDLE printer, HeapBlock& block) {
  return FetchInto(block, [&](BYTE* buffer, DWORD size, DWORD* needed) {
           return GetPrinterDriverA(printer, nullptr, 2, buffer, size, needed);
         }) == Fetched::kAll;
}

// Port name and driver file path of a printer, into the callers' buffers.
QXRESULT QueryIdentity(LPCSTR printerName, LPSTR port, DWORD portSize, DWORD* portLength,
                       LPSTR driver, DWORD driverSize, DWORD* driverLength) {
  HeapBlock record;
  {
    PrinterHandle printer;
    if (!printer.Open(printerName, kPrinterAccess)) {
      DebugLine("Bad Open Printer");
      return QX_ERR_PRINTER_INFO;
    }
    // A record that could not be read is never looked at.
    if (!FetchPrinter(printer.get(), 5, record)) return QX_ERR_PRINTER_INFO;
  }
  CopyOut(port, portSize, record.as<PRINTER_INFO_5A>()->pPortName, portLength);

  PrinterHandle printer;
  if (!printer.Open(printerName, kPrinterAccess)) return QX_ERR_PRINTER_INFO;
  if (!FetchDriver(printer.get(), record)) return QX_ERR_PRINTER_INFO;
  CopyOut(driver, driverSize, record.as<DRIVER_INFO_2A>()->pDriverPath, driverLength);
  return QX_ERR_OK;
}

}  // namespace

bool IsMakerPrinter(const char* name) {
  return name != nullptr &&
         (std::strncmp(name, "QX ", 3) == 0 || std::strncmp(name, "qx ", 3) == 0);
}

QXRESULT qxGetQXPrinter(LPSTR name, DWORD nameSize, DWORD* nameLength) {
  DWORD needed = 0;
  DWORD returned = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &returned);
  if (needed == 0) return QX_ERR_NO_PRINTER;

  HeapBlock block(needed);
  if (!block) return QX_ERR_FAILED;
  if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, block.get(), needed, &needed, &returned)) {
    block.Free();
    return QX_ERR_FAILED;
  }
  bool found = false;
  const auto* records = block.as<PRINTER_INFO_5A>();
  for (DWORD i = 0; i < returned; ++i) {
    if (!IsMakerPrinter(records[i].pPrinterName)) continue;
    // The walk goes on: the last maker printer in the spooler's order wins.
    CopyOut(name, nameSize, records[i].pPrinterName, nameLength);
    found = true;
  }
  if (!block.Free()) return QX_ERR_FAILED;
  return found ? QX_ERR_OK : QX_ERR_NO_PRINTER;
}

QXRESULT GetCurrentPrinterIdentity(LPPAGESETUPDLGA, LPSTR name, DWORD nameSize, DWORD* nameLength,
                                   LPSTR port, DWORD portSize, DWORD* portLength, LPSTR driver,
                                   DWORD driverSize, DWORD* driverLength) {
  CopyOut(name, nameSize, g_state.printerName, nameLength);
  return QueryIdentity(g_state.printerName, port, portSize, portLength, driver, driverSize,
                       driverLength);
}

QXRESULT GetPrinterIdentity(LPPAGESETUPDLGA, LPCSTR printer, LPSTR port, DWORD portSize,
                            DWORD* portLength, LPSTR driver, DWORD driverSize,
                            DWORD* driverLength) {
  return QueryIdentity(printer, port, portSize, portLength, driver, driverSize, driverLength);
}

CurrentPrinterName::CurrentPrinterName() {
  char driver[64];
  DWORD nameLength = 0, portLength = 0, driverLength = 0;
  result = GetCurrentPrinterIdentity(nullptr, name, sizeof name, &nameLength, port, sizeof port,
                                     &portLength, driver, sizeof driver, &driverLength);
}

void BuildSheetTable(LPCSTR printer, LPCSTR port) {
  TicketSheetTable& table = g_state.sheets;
  table.count = 0;

  const char* filter = "L =";
  if (Contains(printer, "ZDA23")) {
    filter = "x 3.3";
  } else if (Contains(printer, "ZDA24")) {
    filter = "x 4.4";
  }

  constexpr DWORD kPaperNameSize = 64;
  CapabilityList names, papers, sizes;
  if (names.Fetch(printer, port, DC_PAPERNAMES, kPaperNameSize) != QX_ERR_OK ||
      papers.Fetch(printer, port, DC_PAPERS, sizeof(WORD)) != QX_ERR_OK ||
      sizes.Fetch(printer, port, DC_PAPERSIZE, sizeof(POINT)) != QX_ERR_OK) {
    return;
  }
  // Only entries every list holds are read, whatever the driver's counts say.
  DWORD usable = names.count();
  for (DWORD got : {papers.count(), sizes.count()}) {
    if (got < usable) usable = got;
  }

  const WORD* codes = papers.as<WORD>();
  const POINT* dims = sizes.as<POINT>();
  WORD kept = 0;
  for (DWORD i = 0; i < usable && kept < kMaxTicketSheets; ++i) {
    // A name fills its 64 bytes without a terminator when it is that long.
    char name[kPaperNameSize + 1];
    const char* entry = reinterpret_cast<const char*>(names.entry(i));
    const DWORD length = BoundedLength(entry, kPaperNameSize);
    std::memcpy(name, entry, length);
    name[length] = '\0';
    if (!Contains(name, filter) || codes[i] < 42) continue;

    TicketSheet& sheet = table.sheets[kept++];
    CopyText(sheet.name, sizeof sheet.name, name);  // cut to 31 characters
    sheet.paperCode = codes[i];
    sheet.lengthInches = static_cast<float>(dims[i].y) / 254.0f;
    sheet.widthInches = static_cast<float>(dims[i].x) / 254.0f;
    sheet.lengthTenthsMm = dims[i].y;
    sheet.widthTenthsMm = dims[i].x;
  }
  table.count = kept;
}

}  // namespace qx

using qx::g_state;

extern "C" {

QXRESULT QXAPI qxEnumPrinters(BYTE* buffer, LONG bufferSize, DWORD level, DWORD* needed,
                              LONG* count) {
  if (level < 1 || level > 5) return QX_ERR_BAD_ARG;
  if (needed == nullptr || count == nullptr) return QX_ERR_NULL_ARG;

  // A size query that fails without reporting a size leaves all bits set.
  DWORD size = 0xFFFFFFFF;
  DWORD returned = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &size, &returned);
  if (size == 0xFFFFFFFF) return QX_ERR_PRINTER_INFO;
  if (*count == QX_COUNT_QUERY) {
    *needed = size;
    return QX_ERR_OK;
  }
  if (static_cast<long long>(bufferSize) < static_cast<long long>(size)) return QX_ERR_BUFFER_SMALL;
  if (buffer == nullptr && size != 0) return QX_ERR_NULL_ARG;
  if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, buffer, size, &size, &returned)) {
    return QX_ERR_FAILED;
  }
  *needed = size;
  *count = static_cast<LONG>(returned);
  return QX_ERR_OK;
}

DWORD QXAPI qxGetDefaultPrinter(LPPAGESETUPDLGA pageSetup) {
  if (pageSetup == nullptr) return QX_ERR_NULL_ARG;
  std::memset(pageSetup, 0, sizeof *pageSetup);
  pageSetup->lStructSize = sizeof *pageSetup;
  pageSetup->Flags = PSD_RETURNDEFAULT;
  if (!PageSetupDlgA(pageSetup)) return CommDlgExtendedError();

  constexpr size_t kLine = 128;
  qx::DebugLineFormat(kLine, "\nDLL - qxGetDefaultPrinter print parms\n");
  const qx::LocalLockGuard locked(pageSetup->hDevMode);
  if (const auto* mode = locked.as<const DEVMODEA>()) {
    qx::DebugLineFormat(kLine, "\nDLL - Test - Printer width = %d", mode->dmPaperWidth);
    qx::DebugLineFormat(kLine, "\nDLL - Printer length = %d", mode->dmPaperLength);
    qx::DebugLineFormat(kLine, "\nDLL - Printer ID (Paper Size) = %d\n", mode->dmPaperSize);
  }
  qx::DebugLineFormat(kLine, "\nDLL - qxGetDefaultPrinter end print parms\n");
  return 0;
}

QXRESULT QXAPI qxGetPrinterNameAndPort(LPPAGESETUPDLGA pageSetup, LPSTR printerName,
                                       DWORD* nameLength, LPSTR portName, DWORD* portLength,
                                       LPSTR driver, DWORD* driverLength) {
  if (pageSetup == nullptr) {
    if (g_state.pageSetup.lStructSize == 0) return QX_ERR_PRINTER_INFO;
    pageSetup = &g_state.pageSetup;
  }
  if (printerName == nullptr || portName == nullptr || driver == nullptr) return QX_ERR_NULL_ARG;
  {
    qx::GlobalLockGuard names(pageSetup->hDevNames);
    if (!names || names.size() < sizeof(DEVNAMES)) return QX_ERR_PRINTER_INFO;
    // The offsets come from whoever filled the record: read only inside it.
    const auto* devNames = names.as<DEVNAMES>();
    const char* base = names.as<char>();
    const SIZE_T blockSize = names.size();
    if (devNames->wDeviceOffset >= blockSize || devNames->wOutputOffset >= blockSize) {
      return QX_ERR_PRINTER_INFO;
    }
    char text[qx::kNameSize];
    auto take = [&](WORD offset, LPSTR out, DWORD* length) {
      const DWORD n = qx::BoundedLength(base + offset, static_cast<DWORD>(blockSize - offset));
      const DWORD keep = n < sizeof text - 1 ? n : sizeof text - 1;
      std::memcpy(text, base + offset, keep);
      text[keep] = '\0';
      qx::CopyOut(out, qx::kNameSize, text, length);
    };
    take(devNames->wDeviceOffset, printerName, nameLength);
    take(devNames->wOutputOffset, portName, portLength);
  }

  qx::PrinterHandle printer;
  if (!printer.Open(printerName, qx::kPrinterAccess)) {
    if (driverLength != nullptr) *driverLength = 0;
    return QX_ERR_PRINTER_INFO;
  }
  qx::HeapBlock record;
  const bool read = qx::FetchDriver(printer.get(), record);
  // At most 126 characters of the path; the length stored is what was kept.
  qx::CopyTextRule(driver, qx::kNameSize, read ? record.as<DRIVER_INFO_2A>()->pDriverPath : nullptr);
  if (driverLength != nullptr) *driverLength = static_cast<DWORD>(std::strlen(driver));
  return read ? QX_ERR_OK : QX_ERR_PRINTER_INFO;
}

QXRESULT QXAPI qxNewGetDefaultPrinter(LPSTR name, DWORD* size) {
  const qx::Module spooler("winspool.drv");
  if (!spooler) {
    qx::LogLevel(2, "qxNewGetDefaultPrinter - Load Library failed");
    return QX_ERR_FAILED;
  }
  using GetDefaultPrinterFn = BOOL(WINAPI*)(LPSTR, LPDWORD);
  const auto getDefault = spooler.Entry<GetDefaultPrinterFn>("GetDefaultPrinterA");
  if (getDefault == nullptr) {
    qx::LogLevel(2, "qxNewGetDefaultPrinter - Get function address failed");
    return QX_ERR_FAILED;
  }
  const BOOL ok = getDefault(name, size);
  if (!ok) {
    qx::LogLevel(2, "qxNewGetDefaultPrinter - Call to get default printer failed");
    return QX_ERR_FAILED;
  }
  return QX_ERR_OK;
}

QXRESULT QXAPI qxNewGetPrinterDriver(LPCSTR printerName, LPSTR driverName) {
  if (driverName == nullptr) return QX_ERR_NULL_ARG;
  driverName[0] = '\0';
  qx::PrinterHandle printer;
  if (!printer.Open(printerName, qx::kPrinterAccess)) return QX_ERR_PRINTER_INFO;
  qx::HeapBlock record;
  if (!qx::FetchDriver(printer.get(), record)) {
    qx::LogLevel(2, "qxNewGetPrinterDriver - 2nd call failed");
    return QX_ERR_FAILED;
  }
  qx::CopyText(driverName, qx::kNameSize, record.as<DRIVER_INFO_2A>()->pName);
  return QX_ERR_OK;
}

QXRESULT QXAPI qxNewGetPrinterPort(LPCSTR printerName, LPSTR portName) {
  if (portName == nullptr) return QX_ERR_NULL_ARG;
  portName[0] = '\0';
  qx::PrinterHandle printer;
  if (!printer.Open(printerName, qx::kPrinterAccess)) return QX_ERR_PRINTER_INFO;

  qx::GlobalBlock record;
  const auto query = [&](BYTE* buffer, DWORD size, DWORD* needed) {
    return GetPrinterA(printer.get(), 2, buffer, size, needed);
  };
  const qx::Fetched fetched = qx::FetchInto(record, query, nullptr, true);
  if (fetched == qx::Fetched::kNoFill) return QX_ERR_PRINTER_INFO;
  if (fetched != qx::Fetched::kAll) return QX_ERR_FAILED;
  printer.Close();
  qx::CopyText(portName, qx::kNameSize, record.as<PRINTER_INFO_2A>()->pPortName);
  return QX_ERR_OK;
}

}  // extern "C"
