// Raw status reads: the printer's status reply, handed back byte for byte.
//
//   qxGetStatus, qxGetAddStatus                 the two-road read: through the
//     language monitor when it is known to answer, else from the port with up
//     to three attempts (one on 95/98/Me) and a last read-only attempt
//   qxGetStatus_NT_2K_XP, qxGetAddStatus_NT_2K_XP  the direct read: from the
//     port in one attempt, the printer's own first reply telling whether it
//     is busy
//
// The port is the library's current port while qxAcquirePort holds it (the
// queue then sits on "FILE:"). While the spooler still holds it, the exchange
// opens nothing, so that no status is taken from a port the spooler writes to
// and no file is created. Every read is bounded by the port's time-outs, and
// never reaches past replyLength bytes of the caller's buffer.
#include <windows.h>

#include <cstring>
#include <optional>

#include <qxdll.h>

#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"
#include "port/port.h"

using qx::g_state;

namespace {

constexpr size_t kLine = 128;
constexpr int kNtAttempts = 3;
constexpr DWORD kAttemptPause = 5000;   // ms after an NT attempt that read nothing
constexpr DWORD kExchangeWait = 200;    // ms between request and read, two-road
constexpr DWORD kDirectWait = 30;       // ms between request and read, direct
constexpr DWORD kWriteBound = 2000;     // WriteTotalTimeoutConstant, NT
constexpr DWORD kReadBound = 2000;      // ReadTotalTimeoutConstant when the port has no read bound
constexpr BYTE kStatusPreset = 0xBF;    // every status bit but busy
constexpr BYTE kBusyWordLowBit = 0x20;  // status word bit 0x0020, in reply byte 4

// The status request table: ESC "IS", "IN", "IE", "IA" 2/3/4, "IC".
constexpr BYTE kRequests[7][5] = {
    {0x1B, 'I', 'S'},       {0x1B, 'I', 'N'},       {0x1B, 'I', 'E'}, {0x1B, 'I', 'A', 0x02},
    {0x1B, 'I', 'A', 0x03}, {0x1B, 'I', 'A', 0x04}, {0x1B, 'I', 'C'},
};
constexpr WORD kRequestLengths[7] = {3, 3, 3, 4, 4, 4, 3};

// What one read sends: bytes and count, or nothing (read-only).
struct Request {
  const BYTE* bytes = nullptr;
  WORD length = 0;
  bool readOnly = false;
};

bool OnNT() { return g_state.osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT; }
bool On9x() { return g_state.osVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS; }

// The request of a table row; index -1 reads only. False for any other index.
bool RequestOfIndex(LONG index, Request* request) {
  if (index == QX_REQ_NONE) {
    request->readOnly = true;
    return true;
  }
  if (index < 0 || index > 6) return false;
  request->bytes = kRequests[index];
  request->length = kRequestLengths[index];
  return true;
}

// The caller's request text, sent without its zero; its length travels as a
// 16-bit count, so a longer text is refused.
QXRESULT RequestOfText(LPCSTR text, Request* request) {
  if (text == nullptr) return QX_ERR_NULL_ARG;
  const size_t length = strnlen(text, 0x10000);
  if (length > 0xFFFF) return QX_ERR_BAD_LENGTH;
  request->bytes = reinterpret_cast<const BYTE*>(text);
  request->length = static_cast<WORD>(length);
  return QX_ERR_OK;
}

// Checks shared by the four reads, before anything is touched.
QXRESULT CheckBuffers(const BYTE* reply, LONG replyLength, const DWORD* bytesRead) {
  if (reply == nullptr || bytesRead == nullptr) return QX_ERR_NULL_ARG;
  if (replyLength <= 0) return QX_ERR_BAD_ARG;
  return QX_ERR_OK;
}

// A port opened exclusively for reading and writing; OPEN_EXISTING, so a name
// that is not a device creates no file.
HANDLE OpenPort(LPCSTR name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The comm time-outs of a port handle changed for the guard's life, and put
// back at its end when they could be read. The 95/98/Me row bounds the read
// itself (20, 1, 75 ms) and the write (500 ms); the NT row only the write
// (2000 ms). A port whose own read time-outs would let a read wait without
// end gets a total read time-out, so that a silent printer never holds the
// caller.
class PortTimeouts {
 public:
  PortTimeouts(HANDLE port, bool row9x, const char* line) : port_(port) {
    COMMTIMEOUTS timeouts = {};
    saved_ = GetCommTimeouts(port, &original_) != FALSE;
    if (saved_) timeouts = original_;
    if (line != nullptr) qx::DebugLine(line);
    if (row9x) {
      timeouts.ReadIntervalTimeout = 20;
      timeouts.ReadTotalTimeoutMultiplier = 1;
      timeouts.ReadTotalTimeoutConstant = 75;
      timeouts.WriteTotalTimeoutConstant = 500;
    } else {
      timeouts.WriteTotalTimeoutConstant = kWriteBound;
    }
    const bool returnsAtOnce = timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
                               timeouts.ReadTotalTimeoutConstant == 0;
    if (!returnsAtOnce && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0) {
      timeouts.ReadTotalTimeoutConstant = kReadBound;
    }
    SetCommTimeouts(port, &timeouts);
  }
  ~PortTimeouts() {
    if (saved_) SetCommTimeouts(port_, &original_);
  }
  PortTimeouts(const PortTimeouts&) = delete;
  PortTimeouts& operator=(const PortTimeouts&) = delete;

 private:
  HANDLE port_;
  COMMTIMEOUTS original_ = {};
  bool saved_ = false;
};

// One ReadFile of at most length bytes into reply; the count read, held to
// length, goes to bytesRead. False when the read failed.
bool ReadReply(HANDLE port, BYTE* reply, DWORD length, DWORD* bytesRead) {
  DWORD got = 0;
  const BOOL ok = ReadFile(port, reply, length, &got, nullptr);
  *bytesRead = got <= length ? got : length;
  return ok != FALSE;
}

// Writes the whole request in one WriteFile.
bool WriteRequest(HANDLE port, const Request& request) {
  DWORD written = 0;
  return WriteFile(port, request.bytes, request.length, &written, nullptr) && written == request.length;
}

// The port status byte: 0xBF (not busy) unless the NT port driver answers.
BYTE PortStatusByte(HANDLE port) {
  BYTE status[8] = {kStatusPreset};
  DWORD got = 0;
  if (OnNT() &&
      DeviceIoControl(port, qx::kIoctlParQueryInformation, nullptr, 0, status, sizeof status, &got, nullptr)) {
    return got > 0 ? status[0] : kStatusPreset;
  }
  return kStatusPreset;
}

// One attempt of the two-road read on an open port: the time-outs (not on a
// USB device), the port status byte, the request unless the port is busy or
// the call only reads, 200 ms, one read. reply[0] holds the status byte until
// the read overwrites it.
void Exchange(HANDLE port, bool usb, const Request& request, BYTE* reply, DWORD length, DWORD* bytesRead) {
  std::optional<PortTimeouts> timeouts;
  if (!usb) {
    timeouts.emplace(
        port, On9x(),
        On9x() ? "\nDLL Setting timeouts for LPTx port, 95,98 or Me" : "\nDLL Setting timeouts for LPTx port, NT");
  }
  reply[0] = PortStatusByte(port);
  qx::DebugLineFormat(kLine, "\nDLL Result of DeviceIoControl = %x", reply[0]);
  if ((reply[0] & qx::kParallelBusy) != 0) {
    qx::DebugLine("\nDLL port is BUSY");
  } else {
    qx::DebugLine("\nDLL port is NOT busy");
    if (!request.readOnly) {
      qx::DebugLine("\nDLL Writing to port");
      WriteRequest(port, request);  // a failed write is not reported: the read follows all the same
      Sleep(kExchangeWait);
    }
  }
  qx::DebugLine("\nDLL Reading from port");
  ReadReply(port, reply, length, bytesRead);
}

// The two-road read's road through the port: the attempts, then the fallback
// read when none read anything.
QXRESULT ReadThroughPort(const Request& request, BYTE* reply, DWORD length, DWORD* bytesRead) {
  std::memset(reply, 0xFF, length);
  char spoolerPort[qx::kSpoolerPortSize];
  qx::CurrentSpoolerPort(spoolerPort);
  const bool usb = qx::UsesUsbOpener(spoolerPort);
  const bool moved = qx::Contains(spoolerPort, "FILE");

  QXRESULT result = QX_ERR_FAILED;
  const int attempts = OnNT() ? kNtAttempts : 1;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    qx::FileHandle port;
    if (usb) {
      qx::DebugLine("\nDLL Getting USB status NT 5.0");
      port.Reset(qx::OpenUsbDevice(spoolerPort));
    } else {
      qx::DebugLineFormat(kLine, "\nDLL Getting status other than NT5.0 USB - %s", spoolerPort);
      if (!moved) {
        // The spooler still holds the port: an attempt that reads nothing,
        // and no use waiting for the next one.
        qx::DebugLine("\nDLL Port used to read = FILE\r\n");
        *bytesRead = 0;
        result = QX_ERR_FAILED;
        break;
      }
      port.Reset(OpenPort(g_state.portName));
      qx::DebugLineFormat(kLine, "\nDLL Port used to read = %s\r\n", g_state.portName);
    }
    if (!port.valid()) {
      qx::DebugLine("\nDLL Can't open port USB or CreateFile ");
      result = QX_ERR_PORT_OPEN;
      break;
    }
    Exchange(port.get(), usb, request, reply, length, bytesRead);
    port.Close();
    if (*bytesRead > 0) {
      result = QX_ERR_OK;
      break;
    }
    result = QX_ERR_FAILED;
    if (!OnNT()) break;
    Sleep(kAttemptPause);
  }
  if (*bytesRead != 0 || request.readOnly) return result;

  // Fallback read: nothing is written. A moved queue's port is the library's
  // current port; otherwise the spooler's own port name is read.
  qx::FileHandle port(usb ? qx::OpenUsbDevice(spoolerPort) : OpenPort(qx::PrinterPortPath(spoolerPort)));
  if (port.valid()) {
    std::optional<PortTimeouts> timeouts;
    if (!usb) timeouts.emplace(port.get(), On9x(), nullptr);
    ReadReply(port.get(), reply, length, bytesRead);
  }
  return *bytesRead > 0 ? QX_ERR_OK : result;
}

// The direct read: one attempt on the library's current port. A first read
// (the printer's own status reply) tells whether it is busy; a busy printer
// is sent nothing and that first read is the reply.
QXRESULT DirectRead(const Request& request, BYTE* reply, DWORD length, DWORD* bytesRead) {
  qx::DebugLine("qxGetStatus_NT_2K_XP\r\n");
  *bytesRead = 0;
  char spoolerPort[qx::kSpoolerPortSize];
  qx::CurrentSpoolerPort(spoolerPort);
  if (!qx::Contains(spoolerPort, "FILE")) {
    qx::DebugLine("\nDLL Port used to read = FILE\r\n");
    qx::DebugLine("Printer not responding\r\n");
    return QX_ERR_NO_RESPONSE;
  }
  qx::FileHandle port(OpenPort(g_state.portName));
  qx::DebugLineFormat(kLine, "\nDLL Port used to read = %s\r\n", g_state.portName);
  if (!port.valid()) {
    qx::DebugLine("\nDLL Can't open port \r\n");
    return QX_ERR_PORT_OPEN;
  }
  // Put back before the handle closes, on every path below.
  PortTimeouts timeouts(port.get(), false, "\nDLL Setting timeouts for LPTx port, NT\r\n");

  bool busy = false;
  if (!request.readOnly) {
    qx::DebugLine("\nDLL Reading from port for BUSY check\r\n");
    if (!ReadReply(port.get(), reply, length, bytesRead) || *bytesRead == 0) {
      qx::DebugLine("Printer not responding\r\n");
      return QX_ERR_NO_RESPONSE;
    }
    qx::DebugLine("\nDLL First read passed\r\n");
    BYTE shown[5] = {};
    std::memcpy(shown, reply, *bytesRead < sizeof shown ? *bytesRead : sizeof shown);
    qx::DebugLineFormat(kLine, "%x %x %x %x %x\r\n", shown[0], shown[1], shown[2], shown[3], shown[4]);
    // Only a whole "S" reply carries the status word; anything else is asked again.
    busy = *bytesRead >= 5 && reply[0] == 'S' && (reply[4] & kBusyWordLowBit) != 0;
    if (busy) {
      qx::DebugLine("DLL port is BUSY\r\n");
    } else {
      qx::DebugLine("\nDLL Writing to port");
      if (!WriteRequest(port.get(), request)) {
        *bytesRead = 0;
        return QX_ERR_NO_RESPONSE;
      }
      Sleep(kDirectWait);
    }
  }
  qx::DebugLine("\nDLL Reading from status from port\r\n");
  if (!busy) ReadReply(port.get(), reply, length, bytesRead);
  if (*bytesRead > 0) {
    qx::DebugLine("\nDLL Read success\r\n");
    return QX_ERR_OK;
  }
  qx::DebugLine("\nDLL Read FAILED!\r\n");
  return QX_ERR_NO_RESPONSE;
}

}  // namespace

// The pipe road passes no failure through: any failure is QX_ERR_FAILED.
QXRESULT QXAPI qxGetStatus(LONG requestIndex, BYTE* reply, LONG replyLength, DWORD* bytesRead) {
  if (const QXRESULT bad = CheckBuffers(reply, replyLength, bytesRead); bad != QX_ERR_OK) return bad;
  if (g_state.lmAvailable != 0) {
    const LONG index = requestIndex >= 0 && requestIndex <= QX_REQ_LM_STATUS ? requestIndex : QX_REQ_IS;
    return qxLMGetStatus(index, reply, static_cast<DWORD>(replyLength), bytesRead) == QX_ERR_OK ? QX_ERR_OK
                                                                                                : QX_ERR_FAILED;
  }
  Request request;
  if (!RequestOfIndex(requestIndex, &request)) return QX_ERR_BAD_ARG;
  return ReadThroughPort(request, reply, static_cast<DWORD>(replyLength), bytesRead);
}

QXRESULT QXAPI qxGetAddStatus(LPCSTR request, BYTE* reply, LONG replyLength, DWORD* bytesRead) {
  if (const QXRESULT bad = CheckBuffers(reply, replyLength, bytesRead); bad != QX_ERR_OK) return bad;
  Request text;
  if (const QXRESULT bad = RequestOfText(request, &text); bad != QX_ERR_OK) return bad;
  if (g_state.lmAvailable != 0) {
    return qxLMGetAddStatus(request, reply, static_cast<DWORD>(replyLength), bytesRead) == QX_ERR_OK ? QX_ERR_OK
                                                                                                     : QX_ERR_FAILED;
  }
  return ReadThroughPort(text, reply, static_cast<DWORD>(replyLength), bytesRead);
}

QXRESULT QXAPI qxGetStatus_NT_2K_XP(LONG requestIndex, BYTE* reply, LONG replyLength, DWORD* bytesRead) {
  if (const QXRESULT bad = CheckBuffers(reply, replyLength, bytesRead); bad != QX_ERR_OK) return bad;
  Request request;
  if (!RequestOfIndex(requestIndex, &request)) return QX_ERR_BAD_ARG;
  return DirectRead(request, reply, static_cast<DWORD>(replyLength), bytesRead);
}

QXRESULT QXAPI qxGetAddStatus_NT_2K_XP(LPCSTR request, BYTE* reply, LONG replyLength, DWORD* bytesRead) {
  if (const QXRESULT bad = CheckBuffers(reply, replyLength, bytesRead); bad != QX_ERR_OK) return bad;
  Request text;
  if (const QXRESULT bad = RequestOfText(request, &text); bad != QX_ERR_OK) return bad;
  return DirectRead(text, reply, static_cast<DWORD>(replyLength), bytesRead);
}
