// spooler.cpp - POSIX implementation of the Win32 print spooler client
// (winspool.drv): EnumPrintersA, OpenPrinterA, ClosePrinter, GetPrinterA,
// SetPrinterA, GetPrinterDriverA, DeviceCapabilitiesA, DocumentPropertiesA,
// the job calls (StartDocPrinterA to EndDocPrinter, AbortPrinter, EnumJobsA,
// SetJobA), GetPrinterDataA and SetPrinterDataA and, reached only through GetProcAddress, GetDefaultPrinterA. The spooler itself is the service of
// the simulated world's daemon (simlink.h); these functions marshal its
// answers into the Windows buffer conventions (spooler_layout.h):
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

#include <qxwire/hex.h>
#include <qxwire/ops.h>

#include "accounting.h"
#include "handles.h"
#include "modules.h"
#include "simlink.h"
#include "spooler_layout.h"

namespace qxplat {
namespace {

using nlohmann::json;
using qxwire::kOp;
using qxwire::ToHex;
namespace spool = qxwire::spool;

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
  if (FaultPoint(kFaultSpool, "GetDefaultPrinterA", ERROR_FILE_NOT_FOUND)) return FALSE;
  if (pcchBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  json reply;
  if (!Request({{kOp, spool::kGetDefaultPrinter}}, reply)) return FALSE;
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

// A call on a printer handle: the handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<PrinterHandle> PrinterOf(HANDLE h) {
  auto printer = LookupHandle<PrinterHandle>(h);
  if (printer == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return printer;
}

// A request naming the handle, with the Win32 error set on failure.
bool HandleRequest(const PrinterHandle& printer, json request, json& reply) {
  request["handle"] = printer.id();
  return Request(printer.dir(), request, reply);
}

// The same with bytes that travel as the request's binary body.
bool HandleRequest(const PrinterHandle& printer, json request, std::string_view body, json& reply) {
  request["handle"] = printer.id();
  const DWORD error = SimRequest(printer.dir(), request, body, reply);
  if (error != 0) SetLastError(error);
  return error == 0;
}

// Texts of caller records are bounded before they go on the wire.
constexpr size_t kMaxRecordText = 4096;

bool PutText(json& request, const char* key, const char* text) {
  if (text == nullptr) return true;
  if (std::strlen(text) > kMaxRecordText) return false;
  request[key] = text;
  return true;
}

// The largest WritePrinter piece one request carries, as its binary body.
constexpr DWORD kWriteChunk = 256 * 1024;

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
  if (FaultPoint(kFaultSpool, "EnumPrintersA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  if (pcbNeeded == nullptr || pcReturned == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcReturned = 0;
  if (!QueryArgumentsValid(PrinterLevelKnown(Level), pPrinterEnum, cbBuf)) return FALSE;
  json request = {{kOp, spool::kEnumPrinters}, {"flags", Flags}, {"level", Level}, {"name", nullptr}};
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
  json request = {{kOp, spool::kOpenPrinter},
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
  SimRequest(printer->dir(), {{kOp, spool::kClosePrinter}, {"handle", printer->id()}}, reply);
  return TRUE;
}

// GetPrinterA - one printer's record at level 1, 2, 4 or 5.
//   pPrinter (out), cbBuf, pcbNeeded (out) as for EnumPrintersA.
// Level 2 carries the device mode and a security descriptor in the buffer.
// Errors: ERROR_INVALID_HANDLE, ERROR_INVALID_LEVEL, ERROR_INSUFFICIENT_BUFFER,
// ERROR_PRINTER_DELETED (the printer left the spooler since it was opened),
// RPC_S_SERVER_UNAVAILABLE.
BOOL WINAPI GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
  if (FaultPoint(kFaultSpool, "GetPrinterA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!QueryArgumentsValid(PrinterLevelKnown(Level), pPrinter, cbBuf)) return FALSE;
  json reply;
  if (!Request(printer->dir(), {{kOp, spool::kGetPrinter}, {"handle", printer->id()}, {"level", Level}}, reply)) {
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
  if (FaultPoint(kFaultSpool, "GetPrinterDriverA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!QueryArgumentsValid(Level >= 1 && Level <= 3, pDriverInfo, cbBuf)) return FALSE;
  json request = {{kOp, spool::kGetPrinterDriver}, {"handle", printer->id()}, {"level", Level}, {"environment", nullptr}};
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
  if (FaultPoint(kFaultSpool, "DeviceCapabilitiesA", RPC_S_SERVER_UNAVAILABLE)) return -1;
  if (pDevice == nullptr || *pDevice == '\0' || std::strlen(pDevice) > kMaxPrinterName) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return -1;
  }
  json reply;
  if (!Request({{kOp, spool::kDeviceCapabilities}, {"device", pDevice}}, reply)) return -1;
  return PackCapability(reply, fwCapability, pOutput);
}

// SetPrinterA - write a printer's record back.
//   Level: 2 (PRINTER_INFO_2A), else ERROR_INVALID_LEVEL. pPrinter (in): the
//   record; its port (a known port, else ERROR_UNKNOWN_PORT), share name,
//   location, comment, attributes, priority (1 to 99; 0 leaves it) and device
//   mode are written; a null text or device mode leaves that field alone, as a null
//   pSecurityDescriptor leaves the security. The printer and driver names
//   must be the printer's own (a rename is not supported: ERROR_INVALID_PARAMETER;
//   another driver: ERROR_UNKNOWN_PRINTER_DRIVER). The device mode is stored
//   as given, public part and driver's private bytes.
//   Command: 0; the PRINTER_CONTROL_* commands are ERROR_INVALID_PARAMETER.
// A handle opened without PRINTER_ACCESS_ADMINISTER, or a printer set to
// refuse changes, fails with ERROR_ACCESS_DENIED (or the world's error).
BOOL WINAPI SetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
  if (FaultPoint(kFaultSpool, "SetPrinterA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return FALSE;
  if (Command != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pPrinter == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PRINTER_INFO_2A info;
  std::memcpy(&info, pPrinter, sizeof info);
  json request = {{kOp, spool::kSetPrinter}, {"level", 2}, {"command", 0}, {"attributes", info.Attributes}};
  if (info.Priority != 0) request["priority"] = info.Priority;  // 0: no priority given
  if (info.pPrinterName != nullptr) {
    // Renames are not supported: the name must be the printer's own.
    json current;
    if (!HandleRequest(*printer, {{kOp, spool::kGetPrinter}, {"level", 5}}, current)) return FALSE;
    const std::string own = TextOr(Member(current, "printer"), "name");
    if (std::strlen(info.pPrinterName) != own.size() || strncasecmp(info.pPrinterName, own.c_str(), own.size()) != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  if (!PutText(request, "port", info.pPortName) || !PutText(request, "driver", info.pDriverName) ||
      !PutText(request, "share_name", info.pShareName) || !PutText(request, "location", info.pLocation) ||
      !PutText(request, "comment", info.pComment)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info.pDevMode != nullptr) {
    DEVMODEA head;
    std::memcpy(&head, info.pDevMode, sizeof head);
    if (head.dmSize < sizeof(DEVMODEA) || head.dmDriverExtra > 4096 || head.dmSize > 4096) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    request["devmode"] = ToHex(info.pDevMode, size_t{head.dmSize} + head.dmDriverExtra);
  }
  json reply;
  return HandleRequest(*printer, request, reply) ? TRUE : FALSE;
}

// DocumentPropertiesA - the printer driver's device mode.
//   hWnd: not used (no dialog is shown). hPrinter: an open printer handle.
//   pDeviceName: not used (the handle names the printer).
//   fMode 0: returns the size of the full device mode (dmSize + dmDriverExtra),
//     outputs untouched.
//   DM_OUT_BUFFER: pDevModeOutput (out, that size) receives the printer's
//     current device mode; with DM_IN_BUFFER and a pDevModeInput, the fields
//     named in its dmFields are merged into it first (see MergeDevmode). The
//     input and output may be the same buffer, or overlap.
//   DM_IN_PROMPT: no dialog exists; it is accepted and does nothing.
// Returns IDOK, or -1 on failure: ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER
// (no output buffer with DM_OUT_BUFFER, an input whose dmSize does not reach
// dmFields, a value the driver refuses), RPC_S_SERVER_UNAVAILABLE. Nothing is
// stored: SetPrinterA stores a device mode.
LONG WINAPI DocumentPropertiesA(HWND hWnd, HANDLE hPrinter, LPSTR pDeviceName, PDEVMODEA pDevModeOutput,
                                PDEVMODEA pDevModeInput, DWORD fMode) {
  (void)hWnd;
  (void)pDeviceName;
  if (FaultPoint(kFaultSpool, "DocumentPropertiesA", RPC_S_SERVER_UNAVAILABLE)) return -1;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return -1;
  // The input is copied before anything is written: it may be the output.
  // What it asks for also travels to the spooler, which shows the latest
  // merge request of each printer to tests and tools.
  const bool merging = (fMode & DM_IN_BUFFER) && (fMode & DM_OUT_BUFFER) && pDevModeInput != nullptr;
  std::vector<uint8_t> input;
  json request = {{kOp, spool::kDocumentProperties}};
  if (merging) {
    DEVMODEA head;
    std::memcpy(&head, pDevModeInput, offsetof(DEVMODEA, dmFields) + sizeof head.dmFields);
    if (head.dmSize < offsetof(DEVMODEA, dmFields) + sizeof head.dmFields || head.dmSize > 4096 ||
        head.dmDriverExtra > 4096) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return -1;
    }
    input.resize(size_t{head.dmSize} + head.dmDriverExtra);
    std::memcpy(input.data(), pDevModeInput, input.size());
    DEVMODEA asked{};
    std::memcpy(&asked, input.data(), std::min(sizeof asked, size_t{head.dmSize}));
    request["input"] = {{"fields", asked.dmFields},           {"orientation", asked.dmOrientation},
                        {"paper_size", asked.dmPaperSize},     {"paper_length", asked.dmPaperLength},
                        {"paper_width", asked.dmPaperWidth},   {"default_source", asked.dmDefaultSource}};
  }
  json reply;
  if (!HandleRequest(*printer, request, reply)) return -1;
  std::vector<uint8_t> current;
  if (!DecodeDevmode(reply, "devmode", current)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return -1;
  }
  if (fMode == 0) return static_cast<LONG>(current.size());
  if (!(fMode & DM_OUT_BUFFER)) return IDOK;
  if (pDevModeOutput == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (merging && !MergeDevmode(current, input, Member(reply, "papers"), Member(reply, "bins"))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::memmove(pDevModeOutput, current.data(), current.size());
  return IDOK;
}

// StartDocPrinterA - start a document on the printer: a job of its queue,
// spooling until EndDocPrinter.
//   Level: 1 (DOC_INFO_1A), else ERROR_INVALID_LEVEL. pDocInfo (in): the
//   document name (may be null), pOutputFile (not used: the job goes to the
//   printer's port), pDatatype "RAW" or null, else ERROR_INVALID_DATATYPE.
// Returns the job id, 0 on failure: ERROR_INVALID_HANDLE,
// ERROR_INVALID_PRINTER_STATE (a document is already started on the handle),
// the error of a printer set to refuse documents, RPC_S_SERVER_UNAVAILABLE.
DWORD WINAPI StartDocPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo) {
  if (FaultPoint(kFaultSpool, "StartDocPrinterA", RPC_S_SERVER_UNAVAILABLE)) return 0;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return 0;
  if (Level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return 0;
  }
  if (pDocInfo == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DOC_INFO_1A doc;
  std::memcpy(&doc, pDocInfo, sizeof doc);
  json request = {{kOp, spool::kStartDoc}, {"document", nullptr}, {"datatype", nullptr}};
  if (!PutText(request, "document", doc.pDocName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!PutText(request, "datatype", doc.pDatatype)) {
    SetLastError(ERROR_INVALID_DATATYPE);
    return 0;
  }
  json reply;
  if (!HandleRequest(*printer, request, reply)) return 0;
  const DWORD job = Number(reply, "job");
  if (job == 0) SetLastError(RPC_S_SERVER_UNAVAILABLE);
  return job;
}

namespace {
// The calls on the document of a handle that carry nothing but the handle.
BOOL DocumentCall(const char* function, HANDLE hPrinter, const char* op) {
  if (FaultPoint(kFaultSpool, function, RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return FALSE;
  json reply;
  return HandleRequest(*printer, {{kOp, op}}, reply) ? TRUE : FALSE;
}
}  // namespace

// StartPagePrinter, EndPagePrinter - page bounds of the document (counted as
// its pages). No document started: ERROR_SPL_NO_STARTDOC; a document deleted
// meanwhile: ERROR_PRINT_CANCELLED.
BOOL WINAPI StartPagePrinter(HANDLE hPrinter) { return DocumentCall("StartPagePrinter", hPrinter, spool::kStartPage); }
BOOL WINAPI EndPagePrinter(HANDLE hPrinter) { return DocumentCall("EndPagePrinter", hPrinter, spool::kEndPage); }

// EndDocPrinter - end the document: the job is complete and prints (its
// bytes go to the device on the printer's port) unless the printer or the
// job is paused, which keeps it queued. Errors as StartPagePrinter.
BOOL WINAPI EndDocPrinter(HANDLE hPrinter) { return DocumentCall("EndDocPrinter", hPrinter, spool::kEndDoc); }

// AbortPrinter - delete the document being spooled on the handle; none:
// ERROR_SPL_NO_STARTDOC.
BOOL WINAPI AbortPrinter(HANDLE hPrinter) { return DocumentCall("AbortPrinter", hPrinter, spool::kAbort); }

// WritePrinter - bytes of the document.
//   pBuf (in, may be null when cbBuf is 0), pcWritten (out): the bytes
//   written, also when a later part fails.
// Errors: ERROR_INVALID_PARAMETER (null pcWritten, null pBuf with bytes),
// ERROR_SPL_NO_STARTDOC, ERROR_PRINT_CANCELLED, the error of a printer set to
// refuse writes, RPC_S_SERVER_UNAVAILABLE.
BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
  if (FaultPoint(kFaultSpool, "WritePrinter", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return FALSE;
  if (pcWritten == nullptr || (pBuf == nullptr && cbBuf != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcWritten = 0;
  const auto* bytes = static_cast<const uint8_t*>(pBuf);
  DWORD done = 0;
  do {
    const DWORD piece = std::min(cbBuf - done, kWriteChunk);
    json reply;
    const std::string_view data(reinterpret_cast<const char*>(bytes) + done, piece);
    if (!HandleRequest(*printer, {{kOp, spool::kWrite}}, data, reply)) return FALSE;
    // The spooler may take fewer bytes than it was given: a short write.
    const json& taken = Member(reply, "written");
    const DWORD took = taken.is_number_unsigned() ? std::min<DWORD>(taken.get<DWORD>(), piece) : piece;
    done += took;
    *pcWritten = done;
    if (took < piece) break;
  } while (done < cbBuf);
  return TRUE;
}

// EnumJobsA - the printer's queued jobs, from position FirstJob (0 is the
// first), at most NoJobs of them.
//   Level: 1 (JOB_INFO_1A), else ERROR_INVALID_LEVEL. pJob, cbBuf, pcbNeeded,
//   pcReturned as for EnumPrintersA; no jobs: TRUE with needed and count 0.
BOOL WINAPI EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (FaultPoint(kFaultSpool, "EnumJobsA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return FALSE;
  if (pcbNeeded == nullptr || pcReturned == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcReturned = 0;
  if (!QueryArgumentsValid(Level == 1, pJob, cbBuf)) return FALSE;
  json reply;
  if (!HandleRequest(*printer, {{kOp, spool::kEnumJobs}, {"first", FirstJob}, {"count", NoJobs}}, reply)) return FALSE;
  const json& jobs = Member(reply, "jobs");
  const size_t count = jobs.is_array() ? jobs.size() : 0;
  Layout layout(pJob, count * sizeof(JOB_INFO_1A));
  for (size_t i = 0; i < count; ++i) {
    const json& j = jobs[i];
    JOB_INFO_1A r{};
    r.JobId = Number(j, "id");
    r.pPrinterName = layout.String(TextOr(j, "printer"));
    r.pMachineName = nullptr;  // a local job
    r.pUserName = layout.String(TextOr(j, "owner"));
    r.pDocument = layout.String(TextOr(j, "document"));
    r.pDatatype = layout.String(TextOr(j, "datatype", "RAW"));
    r.pStatus = nullptr;  // no port monitor text
    r.Status = Number(j, "status");
    r.Priority = Number(j, "priority");
    r.Position = Number(j, "position");
    r.TotalPages = Number(j, "pages");
    r.PagesPrinted = 0;
    const json& submitted = Member(j, "submitted");
    r.Submitted = SystemTimeOf(submitted.is_number_integer() ? submitted.get<int64_t>() : 0);
    layout.PutRecord(i, r);
  }
  if (!Deliver(layout, pJob, cbBuf, pcbNeeded)) return FALSE;
  *pcReturned = static_cast<DWORD>(count);
  return TRUE;
}

// SetJobA - control a queued job of the printer.
//   Level 0 (pJob not used), else ERROR_INVALID_LEVEL. Command:
//   JOB_CONTROL_DELETE or JOB_CONTROL_CANCEL delete the job (a document being
//   spooled is cancelled: its handle's later calls fail with
//   ERROR_PRINT_CANCELLED); JOB_CONTROL_PAUSE and JOB_CONTROL_RESUME hold it
//   back and let it print. Other commands and unknown job ids:
//   ERROR_INVALID_PARAMETER. A printer set to refuse deletes fails them with
//   its error.
BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
  (void)pJob;
  if (FaultPoint(kFaultSpool, "SetJobA", RPC_S_SERVER_UNAVAILABLE)) return FALSE;
  auto printer = PrinterOf(hPrinter);
  if (printer == nullptr) return FALSE;
  if (Level != 0) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  json reply;
  return HandleRequest(*printer, {{kOp, spool::kSetJob}, {"job", JobId}, {"command", Command}}, reply) ? TRUE : FALSE;
}

// GetPrinterDataA - one printer data value of the printer's driver.
//   pValueName (in): matched without regard to case. pType (out, may be
//   null): REG_DWORD, REG_SZ or REG_BINARY. pData (out, nSize bytes, may be
//   null when nSize is 0). pcbNeeded (out): the value's size, also when the
//   buffer is too small.
// Returns the error instead of setting it: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// (no such value), ERROR_MORE_DATA (nSize too small; nothing copied),
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (null name or pcbNeeded),
// RPC_S_SERVER_UNAVAILABLE.
DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
  if (FaultPoint(kFaultSpool, "GetPrinterDataA", RPC_S_SERVER_UNAVAILABLE)) return GetLastError();
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) return ERROR_INVALID_HANDLE;
  if (pValueName == nullptr || pcbNeeded == nullptr || std::strlen(pValueName) > kMaxRecordText) {
    return ERROR_INVALID_PARAMETER;
  }
  json reply;
  const DWORD error = SimRequest(printer->dir(), {{kOp, spool::kGetPrinterData}, {"handle", printer->id()},
                                                  {"value", pValueName}}, reply);
  if (error != ERROR_SUCCESS) return error;
  std::vector<uint8_t> bytes;
  const std::string* hex = Text(reply, "data");
  if (hex == nullptr || !DecodeHex(*hex, bytes) || bytes.size() > 0xFFFFFFFFu) return RPC_S_SERVER_UNAVAILABLE;
  *pcbNeeded = static_cast<DWORD>(bytes.size());
  if (pType != nullptr) *pType = Number(reply, "type");
  if (nSize < bytes.size()) return ERROR_MORE_DATA;
  if (pData == nullptr) return bytes.empty() ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  std::memcpy(pData, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

// SetPrinterDataA - write a printer data value, creating it when missing.
//   Type: REG_DWORD (cbData 4), REG_SZ (ending with its zero) or REG_BINARY;
//   anything else, or data that does not suit the type: ERROR_INVALID_PARAMETER.
// Returns the error: ERROR_SUCCESS, ERROR_ACCESS_DENIED (a handle opened
// without PRINTER_ACCESS_ADMINISTER, or a printer set to refuse changes),
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, RPC_S_SERVER_UNAVAILABLE.
DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
  if (FaultPoint(kFaultSpool, "SetPrinterDataA", ERROR_ACCESS_DENIED)) return GetLastError();
  auto printer = LookupHandle<PrinterHandle>(hPrinter);
  if (printer == nullptr) return ERROR_INVALID_HANDLE;
  if (pValueName == nullptr || std::strlen(pValueName) > kMaxRecordText || (pData == nullptr && cbData != 0) ||
      cbData > 0x100000) {
    return ERROR_INVALID_PARAMETER;
  }
  json reply;
  return SimRequest(printer->dir(),
                    {{kOp, spool::kSetPrinterData}, {"handle", printer->id()}, {"value", pValueName},
                     {"type", Type}, {"data", ToHex(pData, cbData)}},
                    reply);
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
                          RegisterProc("winspool.drv", "DeviceCapabilitiesA", Proc(&DeviceCapabilitiesA)) &&
                          RegisterProc("winspool.drv", "SetPrinterA", Proc(&SetPrinterA)) &&
                          RegisterProc("winspool.drv", "DocumentPropertiesA", Proc(&DocumentPropertiesA)) &&
                          RegisterProc("winspool.drv", "StartDocPrinterA", Proc(&StartDocPrinterA)) &&
                          RegisterProc("winspool.drv", "StartPagePrinter", Proc(&StartPagePrinter)) &&
                          RegisterProc("winspool.drv", "WritePrinter", Proc(&WritePrinter)) &&
                          RegisterProc("winspool.drv", "EndPagePrinter", Proc(&EndPagePrinter)) &&
                          RegisterProc("winspool.drv", "EndDocPrinter", Proc(&EndDocPrinter)) &&
                          RegisterProc("winspool.drv", "AbortPrinter", Proc(&AbortPrinter)) &&
                          RegisterProc("winspool.drv", "EnumJobsA", Proc(&EnumJobsA)) &&
                          RegisterProc("winspool.drv", "SetJobA", Proc(&SetJobA)) &&
                          RegisterProc("winspool.drv", "GetPrinterDataA", Proc(&GetPrinterDataA)) &&
                          RegisterProc("winspool.drv", "SetPrinterDataA", Proc(&SetPrinterDataA));

}  // namespace
}  // namespace qxplat
