// The flash programming run: reprograms the attached printer's firmware from
// a file sent over its port, with the port taken from the spooler for the
// whole run and given back on every exit after it was taken.
//
// The run writes to the printer that is being programmed: each block goes to
// the port the status reads use (the library's current port while the queue
// sits on "FILE:", the USB device opener for a USB port), never to a fixed
// "LPT1:". A block that does not reach the printer ends that transfer: an
// image with a hole is corrupt, and the retry sends the whole file again.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <qxdll.h>

#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"
#include "flash/permissions.h"
#include "port/port.h"

using qx::g_state;

namespace qx {
namespace {

constexpr DWORD kBlockSize = 512;
constexpr DWORD kBaseNameSize = 1024;
constexpr DWORD kReplySize = 2048;
constexpr DWORD kModelSize = 2048;
constexpr DWORD kFlashWriteTimeout = 10000;  // ms for one block to be taken
constexpr LONG kRequestIC = 6;               // status request ESC "IC": the firmware version
constexpr LONG kReadOnly = -1;               // status read that sends nothing

constexpr BYTE kFlashModeCommand[] = {0x1B, 0x2A, 0x46, 0x52};  // ESC "*FR"
constexpr BYTE kFlashModeInquiry[] = {0x1B, 0x49, 0x41, 0x0F};  // ESC "IA" 0x0F
constexpr char kFlashReady[] = "FLASH READY";


// Upper-cases name in place up to its terminating zero; the lines are
// written whatever the verbose flag says.
void UpperCaseInPlace(LPSTR name) {
  const size_t length = std::strlen(name);
  DebugLineFormat(1024, "To upper name = %s, length = %d\r\n", name, static_cast<int>(length));
  for (size_t i = 0; i < length; ++i) {
    if (name[i] >= 'a' && name[i] <= 'z') {
      DebugLine("Converting\r\n");
      name[i] = static_cast<char>(name[i] & ~0x20);
    }
  }
  DebugLine("To upper done\r\n");
}

// The first occurrence of c in text at or after from, stepping over the
// second byte of every double-byte character; null when there is none.
const char* FindSingleByte(const char* from, char c) {
  for (const char* p = from; *p != '\0'; ++p) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
      if (p[1] == '\0') break;
      ++p;
      continue;
    }
    if (*p == c) return p;
  }
  return nullptr;
}

// The part of name after a drive colon and after the last backslash.
void BaseName(LPCSTR name, char (&out)[kBaseNameSize], int verbose) {
  DebugLineFlagged("Start file name = ", verbose);
  DebugLineFlagged(name, verbose);
  DebugLineFlagged("\r\n", verbose);
  const char* start = name;
  if (const char* colon = FindSingleByte(name, ':')) start = colon + 1;
  while (const char* slash = FindSingleByte(start, '\\')) start = slash + 1;
  CopyText(out, sizeof out, start);
  DebugLineFlagged("End file name = ", verbose);
  DebugLineFlagged(out, verbose);
  DebugLineFlagged("\r\n", verbose);
}

// Opens the printer's port the way the status reads do.
HANDLE OpenPrinterPort(LPCSTR spoolerPort) {
  if (UsesUsbOpener(spoolerPort)) return OpenUsbDevice(spoolerPort);
  const char* target = PrinterPortPath(spoolerPort);
  if (target[0] == '\0') return INVALID_HANDLE_VALUE;
  return CreateFileA(target, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// One write of bytes to the printer's port, opened and closed for it.
QXRESULT FlashPortWrite(const BYTE* bytes, DWORD count, int verbose) {
  char spoolerPort[kSpoolerPortSize];
  CurrentSpoolerPort(spoolerPort);
  FileHandle port(OpenPrinterPort(spoolerPort));
  if (!port.valid()) {
    DebugLineFlagged("\nBad port name\r\n", verbose);
    return QX_ERR_PORT_OPEN;
  }
  const bool usb = Contains(spoolerPort, "USB");
  COMMTIMEOUTS kept = {};
  bool restore = false;
  if (!usb && GetCommTimeouts(port.get(), &kept)) {
    COMMTIMEOUTS flash = kept;
    flash.WriteTotalTimeoutConstant = kFlashWriteTimeout;
    restore = SetCommTimeouts(port.get(), &flash) != FALSE;
  }
  DebugLineFlagged("\nDLL Writing to port", verbose);
  DebugLineFlaggedFormat(verbose, 256, "\nBytes to write = %d", static_cast<int>(count));
  DWORD written = 0;
  QXRESULT result = QX_ERR_OK;
  if (WriteFile(port.get(), bytes, count, &written, nullptr) && written == count) {
    DebugLineFlagged("\nGood write", verbose);
  } else {
    DebugSystemError();
    DebugLineFlagged("\nBad write to printer to printer", verbose);
    result = QX_ERR_DEVICE;
  }
  DebugLineFlaggedFormat(verbose, 256, "\nBytes written = %d", static_cast<int>(written));
  if (restore) SetCommTimeouts(port.get(), &kept);
  return result;
}

HANDLE OpenFirmwareFile(LPCSTR name) {
  return CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Sleeps count seconds, one line a second.
void CountSeconds(int count, int verbose) {
  for (int second = 1; second <= count; ++second) {
    Sleep(1000);
    DebugLineFlaggedFormat(verbose, 2048, "%d seconds delayed\r\n", second);
  }
}

// The printer's status reply to ESC "IC", parsed; the parse result.
QXRESULT ReadVersionStatus(QX_STATUS_RECORD* record) {
  BYTE reply[kReplySize] = {};
  DWORD bytesRead = 0;
  qxGetStatus(kRequestIC, reply, kReplySize, &bytesRead);
  std::memset(record, 0, sizeof *record);
  return qxParseStatus(reply, kReplySize, record);
}

// Sends the whole file in blocks; false when the file cannot be opened.
bool SendFile(LPCSTR name, int verbose) {
  FileHandle file(OpenFirmwareFile(name));
  if (!file.valid()) return false;
  BYTE block[kBlockSize];
  DWORD count = 0;
  if (!ReadFile(file.get(), block, kBlockSize, &count, nullptr)) count = 0;
  DebugLineFlaggedFormat(verbose, 2048, "%d Bytes read\r\n", static_cast<int>(count));
  while (count != 0) {
    if (FlashPortWrite(block, count, verbose) != QX_ERR_OK) {
      DebugLineFlagged("Write to printer failed\r\n", verbose);
      break;  // the rest of an image with a hole is of no use
    }
    DebugLineFlagged("Write to printer passed\r\n", verbose);
    if (!ReadFile(file.get(), block, kBlockSize, &count, nullptr)) count = 0;
    DebugLineFlaggedFormat(verbose, 2048, "%d Bytes read\r\n", static_cast<int>(count));
  }
  return true;
}

// The run once the port is held; the caller gives the port back.
QXRESULT ProgramWithPortHeld(LPSTR fileName, const char* baseName, BOOL smartMode, LPSTR version, DWORD versionSize,
                             int verbose) {
  QX_STATUS_RECORD record = {};
  if (smartMode) {
    DebugLineFlagged("qxProgramFlash - Smart Mode #2\r\n", verbose);
    ReadVersionStatus(&record);
    DebugLineFlaggedFormat(verbose, 2048, "Status = %x, Version = %s\r\n", static_cast<unsigned>(record.statusWord),
            record.firmwareVersion);
    if (record.statusWord & QX_STATUS_NOT_READY) {
      DebugLineFlagged("Printer not ready\r\n", verbose);
      return QX_ERR_NOT_READY;
    }
  }

  DebugLineFlagged("qxProgramFlash - #3\r\n", verbose);
  {
    FileHandle file(OpenFirmwareFile(fileName));
    if (!file.valid()) {
      DebugLineFlagged("Bin file not found\r\n", verbose);
      DebugLineFlagged(fileName, verbose);
      DebugLineFlagged("\r\n", verbose);
      if (verbose) DebugSystemError();
      return QX_ERR_FILE_NOT_FOUND;
    }
  }
  DebugLineFlagged("Bin file found\r\n", verbose);

  if (smartMode) {
    DebugLineFlagged("qxProgramFlash - Smart Mode #4\r\n", verbose);
    char model[kModelSize] = {};
    qxGetModel(model, sizeof model, static_cast<ULONGLONG>(verbose));
    DebugLineFlagged(model, verbose);
    DebugLineFlagged("\r\n", verbose);

    DebugLineFlagged("qxProgramFlash - Smart Mode #5\r\n", verbose);
    PermissionRequest request = {};
    CopyText(request.model, sizeof request.model, model);
    DebugLineFlaggedFormat(verbose, 2048, "qxProgramFlash - #5 copying version = %s\r\n", record.firmwareVersion);
    char firmware[sizeof record.firmwareVersion + 1] = {};
    std::memcpy(firmware, record.firmwareVersion, sizeof record.firmwareVersion);
    CopyText(request.version, sizeof request.version, firmware);
    CopyText(request.fileName, sizeof request.fileName, baseName);
    const QXRESULT permission = CheckPermissions(&request, verbose);
    if (permission != QX_ERR_OK) {
      DebugLineFlagged("Permission denied for this programming file\r\n", verbose);
      return permission;
    }
    DebugLineFlagged("File permission granted\r\n", verbose);
    DebugLineFlagged("qxProgramFlash - Smart Mode #6\r\n", verbose);

    FlashPortWrite(kFlashModeCommand, sizeof kFlashModeCommand, verbose);
    Sleep(500);
    FlashPortWrite(kFlashModeInquiry, sizeof kFlashModeInquiry, verbose);
    Sleep(500);
    BYTE reply[kReplySize] = {};
    DWORD bytesRead = 0;
    qxGetStatus(kReadOnly, reply, kReplySize, &bytesRead);
    const DWORD got = std::min(bytesRead, kReplySize);
    const char* begin = reinterpret_cast<const char*>(reply);
    const char* end = begin + got;
    if (std::search(begin, end, kFlashReady, kFlashReady + sizeof kFlashReady - 1) == end) {
      DebugLineFlagged("\r\nPrinter did not enter Flash Reprogram mode\r\n", verbose);
      return QX_ERR_NO_FLASH_MODE;
    }
    DebugLineFlagged("\r\nPrinter ENTERED Flash Reprogram mode\r\n", verbose);
    DebugLineFlagged("qxProgramFlash - Smart Mode #7\r\n", verbose);
    CountSeconds(15, verbose);
  }

  DebugLineFlagged("qxProgramFlash - #8\r\n", verbose);
  for (int attempt = 0;; ++attempt) {
    if (!SendFile(fileName, verbose)) {
      DebugLineFlagged("Bin file not found\r\n", verbose);
      return QX_ERR_FILE_NOT_FOUND;
    }
    DebugLineFlagged("qxProgramFlash - #9\r\n", verbose);
    CountSeconds(20, verbose);
    DebugLineFlagged("qxProgramFlash - #10\r\n", verbose);
    if (ReadVersionStatus(&record) == QX_ERR_OK) {
      char firmware[sizeof record.firmwareVersion + 1] = {};
      char detail[sizeof record.versionDetail + 1] = {};
      std::memcpy(firmware, record.firmwareVersion, sizeof record.firmwareVersion);
      std::memcpy(detail, record.versionDetail, sizeof record.versionDetail);
      if (version != nullptr && versionSize > 0) {
        std::memset(version, 0, versionSize);
        const size_t first = std::min<size_t>(std::strlen(firmware), versionSize - 1);
        std::memcpy(version, firmware, first);
        const size_t second = std::min<size_t>(std::strlen(detail), versionSize - 1 - first);
        std::memcpy(version + first, detail, second);
      }
      DebugLineFlagged(firmware, verbose);
      DebugLineFlagged(detail, verbose);
      DebugLineFlaggedFormat(verbose, 2048, "Status = %x, Version = %s\r\n", static_cast<unsigned>(record.statusWord), firmware);
      return QX_ERR_OK;
    }
    DebugLineFlagged("Flash reprogram failed retrying\r\n", verbose);
    if (attempt + 1 >= 2) {
      DebugLineFlagged("Flash reprogram failed\r\n", verbose);
      return QX_ERR_FLASH_FAILED;
    }
  }
}

}  // namespace
}  // namespace qx

extern "C" {

QXRESULT QXAPI qxProgramFlash(LPSTR fileName, BOOL smartMode, LPSTR version, DWORD versionSize, DWORD verbose) {
  using namespace qx;
  const int flag = verbose != 0 ? 1 : 0;
  if (fileName == nullptr) return QX_ERR_FILE_NOT_FOUND;
  DebugLineFlaggedFormat(flag, 2048, "qxProgramFlash - File name = %s\r\n", fileName);
  UpperCaseInPlace(fileName);
  char baseName[kBaseNameSize];
  BaseName(fileName, baseName, flag);

  char printer[kNameSize] = {};
  char spoolerPort[kSpoolerPortSize] = {};
  char driver[64] = {};
  DWORD nameLength = 0, portLength = 0, driverLength = 0;
  GetCurrentPrinterIdentity(nullptr, printer, sizeof printer, &nameLength, spoolerPort, sizeof spoolerPort,
                            &portLength, driver, sizeof driver, &driverLength);
  if (qxAcquirePort(printer) != QX_ERR_OK) {
    DebugLineFlagged("qxProgramFlash - Can not acquire printer port\r\n", flag);
    return QX_ERR_NOT_READY;
  }
  const QXRESULT result = ProgramWithPortHeld(fileName, baseName, smartMode, version, versionSize, flag);
  qxReleasePort();
  return result;
}

}  // extern "C"
