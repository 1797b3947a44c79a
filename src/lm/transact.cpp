// The transaction shapes: PipeQuery, qxLMSetGeneric, PipeRFIDExchange, and
// the RFID exports built on the last.
#include "lm/transact.h"

#include <algorithm>
#include <cstring>

#include "core/discovery.h"
#include "core/text.h"
#include "core/resources.h"
#include "core/state.h"
#include "lm/frame.h"
#include "lm/pipe.h"

using qx::g_state;

namespace qx {

namespace {

constexpr DWORD kRfidReadWindow = 2200;  // ms of failing reads before giving up
constexpr DWORD kRfidRetryPause = 10;    // ms between failing reads

// How far one exchange got.
enum class Stage { kOpenFailed, kWriteFailed, kReadFailed, kReplied };

struct Exchanged {
  Stage stage;
  QXRESULT openResult;  // for kOpenFailed
  DWORD received;       // for kReplied
};

// Writes the frame in one write; a short write counts as failed.
bool WriteFrame(HANDLE pipe, const BYTE* frame, LONG length) {
  DWORD written = 0;
  return WriteFile(pipe, frame, static_cast<DWORD>(length), &written, nullptr) &&
         written == static_cast<DWORD>(length);
}

// How long a reply may take: the pipe time-out, and the status time-out the
// monitor may spend waiting for the printer.
ULONGLONG ReplyLimit(DWORD pipeTimeout) {
  return static_cast<ULONGLONG>(pipeTimeout) + g_state.statusTimeout;
}

// Opens the pipe, writes one request frame and reads one reply of at most
// kFrameBufferSize bytes into received, under the pipe mutex; the pipe is
// closed before the mutex is released. A null pipe name means the stored one,
// read under the mutex that guards its changes. A reply that does not arrive
// within the pipe and status time-outs is a failed read.
Exchanged ExchangeOnce(BYTE command, const BYTE* payload, DWORD payloadLength, BYTE* received,
                       LPCSTR pipeName, DWORD timeout) {
  BYTE frame[kFrameBufferSize];
  LONG frameLength = 0;
  BuildPipeFrame(command, 0, payload, payloadLength, frame, &frameLength);

  MutexHold lock(g_state.pipeMutex);
  FileHandle pipe;
  const QXRESULT opened = OpenPipeRecovering(pipeName != nullptr ? pipeName : g_state.pipeName, timeout, &pipe);
  if (opened != QX_ERR_OK) return {Stage::kOpenFailed, opened, 0};
  if (!WriteFrame(pipe.get(), frame, frameLength)) return {Stage::kWriteFailed, QX_ERR_OK, 0};
  // One message: a longer one fails the read (ERROR_MORE_DATA).
  DWORD count = 0;
  if (ReadReplyBounded(pipe.get(), received, kFrameBufferSize, &count, ReplyLimit(timeout)) != ReplyRead::kRead ||
      count == 0) {
    return {Stage::kReadFailed, QX_ERR_OK, 0};
  }
  return {Stage::kReplied, QX_ERR_OK, count};
}

}  // namespace

QXRESULT PipeQuery(BYTE command, const BYTE* payload, DWORD payloadLength, BYTE* reply,
                   DWORD replySize, DWORD* replyLength) {
  if (payloadLength > kMaxRequestPayload) return QX_ERR_BAD_LENGTH;
  BYTE received[kFrameBufferSize];
  const Exchanged ex = ExchangeOnce(command, payload, payloadLength, received, nullptr, g_state.pipeTimeout);
  if (ex.stage == Stage::kOpenFailed) return ex.openResult;
  if (ex.stage != Stage::kReplied) return QX_ERR_FAILED;

  if (!IsWholeFrame(received, ex.received)) return QX_ERR_BAD_REPLY;
  BYTE code = 0;
  DWORD length = 0;
  ParsePipeFrame(received, ex.received, &code, reply, reply != nullptr ? replySize : 0, &length);
  if (replyLength != nullptr) *replyLength = reply != nullptr ? std::min(length, replySize) : 0;

  switch (code) {
    case kReplyBadFrame:
    case kReplyUnknown:
      return QX_ERR_FAILED;
    case kReplyNoResponse:
      return QX_ERR_NO_RESPONSE;
    case kReplyTimeout:
      return QX_ERR_LM_TIMEOUT;
    default:
      return QX_ERR_OK;
  }
}

QXRESULT qxLMSetGeneric(BYTE command, const BYTE* payload, DWORD payloadLength, LPSTR text,
                        DWORD textSize, LONG* replyLength, LPCSTR pipeName, DWORD timeout) {
  CopyTextRule(text, textSize, "Error qxLMSetGeneric");
  if (payloadLength > kMaxRequestPayload) return QX_ERR_BAD_LENGTH;
  BYTE received[kFrameBufferSize];
  // A null pipe name is an empty one: qxLMOpenPipe refuses it.
  const Exchanged ex = ExchangeOnce(command, payload, payloadLength, received, pipeName != nullptr ? pipeName : "",
                                    timeout);
  switch (ex.stage) {
    case Stage::kOpenFailed:
      if (ex.openResult == QX_ERR_PIPE_BUSY) CopyTextRule(text, textSize, "NAMED PIPE IS BUSY");
      if (ex.openResult == QX_ERR_NO_PIPE) CopyTextRule(text, textSize, "COULD NOT OPEN PIPE");
      return ex.openResult;
    case Stage::kWriteFailed:
      CopyTextRule(text, textSize, "WRITE PIPE FAILED");
      return QX_ERR_FAILED;
    case Stage::kReadFailed:
      CopyTextRule(text, textSize, "READ PIPE FAILED");
      return QX_ERR_FAILED;
    case Stage::kReplied:
      break;
  }

  if (!IsWholeFrame(received, ex.received)) return QX_ERR_BAD_REPLY;
  // The payload as text: up to its first zero or its end.
  char reply[2 * kFrameBufferSize];
  BYTE code = 0;
  DWORD length = 0;
  ParsePipeFrame(received, ex.received, &code, reinterpret_cast<BYTE*>(reply), sizeof reply - 1, &length);
  reply[std::min<DWORD>(length, sizeof reply - 1)] = '\0';
  CopyTextRule(text, textSize, reply);
  if (replyLength != nullptr) *replyLength = static_cast<LONG>(length);

  return code == kReplyBadFrame || code == kReplyFailed || code == kReplyUnknown ? QX_ERR_FAILED : QX_ERR_OK;
}

namespace {

// The RFID argument checks, in their order, before anything is locked.
QXRESULT CheckRfidArguments(const BYTE* request, DWORD requestCount, const BYTE* reply, DWORD replySize,
                            DWORD* replyLength) {
  if (replyLength == nullptr) return QX_ERR_BAD_ARG;
  *replyLength = 0;
  if (request == nullptr) return QX_ERR_BAD_DATA;
  if (requestCount == 0 || requestCount > kRfidMaxBytes) return QX_ERR_BAD_LENGTH;
  if (reply == nullptr) return QX_ERR_BAD_BUFFER;
  if (replySize == 0 || replySize > kRfidMaxBytes) return QX_ERR_BAD_ARG;
  return QX_ERR_OK;
}

// The exchange itself, arguments checked. A null pipe name is the stored
// one and a null printer name the current one (no stand-in), both read
// under the pipe mutex that guards their changes.
QXRESULT RfidExchange(LPCSTR pipeName, LPCSTR printerName, const BYTE* request, DWORD requestCount, BYTE* reply,
                      DWORD replySize, DWORD* replyLength) {
  BYTE frame[kRfidBufferSize];
  LONG frameLength = 0;
  BuildPipeFrame(kCmdRFID, 0, request, requestCount, frame, &frameLength);
  BYTE received[kRfidBufferSize] = {};
  DWORD count = 0;
  {
    MutexHold lock(g_state.pipeMutex);
    // Any reload recovery of the open acts on the addressed printer.
    FileHandle pipe;
    const QXRESULT opened = OpenPipeFor(pipeName, printerName, &pipe);
    if (opened != QX_ERR_OK) return opened;
    if (!WriteFrame(pipe.get(), frame, frameLength)) return QX_ERR_FAILED;

    std::memset(reply, 0, replySize);
    // Failing reads are retried until one delivers bytes; the read window
    // bounds the waiting for a reply as well as the retries. A message
    // longer than the buffer fails its first read with ERROR_MORE_DATA and
    // the next read takes the rest of it at once.
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      const ULONGLONG waited = GetTickCount64() - start;
      if (waited >= kRfidReadWindow) return QX_ERR_PIPE_TIMEOUT;
      const ReplyRead read = ReadReplyBounded(pipe.get(), received, sizeof received, &count, kRfidReadWindow - waited);
      if (read == ReplyRead::kRead && count != 0) break;
      if (read == ReplyRead::kMoreData) continue;
      if (read == ReplyRead::kTimedOut) return QX_ERR_PIPE_TIMEOUT;
      Sleep(kRfidRetryPause);
    }
  }

  // Strict: the reply must be a whole frame with a good checksum.
  BYTE code = 0;
  DWORD length = 0;
  if (!ParsePipeFrame(received, count, &code, reply, replySize, &length)) {
    if (IsWholeFrame(received, count)) *replyLength = std::min(length, replySize);
    return QX_ERR_BAD_REPLY;
  }
  *replyLength = std::min(length, replySize);
  if (code == kReplyRfidNoResponse) return QX_ERR_NO_RESPONSE;
  return code == kReplyRfidOk ? QX_ERR_OK : QX_ERR_BAD_REPLY;
}

}  // namespace

QXRESULT PipeRFIDExchange(LPCSTR pipeName, LPCSTR printerName, const BYTE* request,
                          DWORD requestCount, BYTE* reply, DWORD replySize, DWORD* replyLength) {
  const QXRESULT checked = CheckRfidArguments(request, requestCount, reply, replySize, replyLength);
  if (checked != QX_ERR_OK) return checked;
  if (pipeName == nullptr || !FitsPrinterName(printerName)) return QX_ERR_BAD_ARG;
  return RfidExchange(pipeName, printerName, request, requestCount, reply, replySize, replyLength);
}

}  // namespace qx

extern "C" {

QXRESULT QXAPI qxLMRFIDPrinter(const BYTE* request, DWORD requestCount, BYTE* reply, DWORD replySize,
                               DWORD* replyLength, LONG /*reserved*/) {
  // The stored pipe name and the current printer, read under the pipe mutex.
  const QXRESULT checked = qx::CheckRfidArguments(request, requestCount, reply, replySize, replyLength);
  if (checked != QX_ERR_OK) return checked;
  return qx::RfidExchange(nullptr, nullptr, request, requestCount, reply, replySize, replyLength);
}

QXRESULT QXAPI qxLMPtrRFIDPrinter(LPCSTR printerName, const BYTE* request, DWORD requestCount,
                                  BYTE* reply, DWORD replySize, DWORD* replyLength, LONG /*reserved*/) {
  if (!qx::FitsPrinterName(printerName)) return QX_ERR_BAD_ARG;
  // The printer-switch mutex first; the exchange takes the pipe mutex inside.
  qx::MutexHold lock(g_state.switchMutex);
  char pipeName[qx::kPipeNameSize];
  if (!qx::PipeNameOfPrinter(printerName, pipeName)) return QX_ERR_NO_PIPE;
  return qx::PipeRFIDExchange(pipeName, printerName, request, requestCount, reply, replySize, replyLength);
}

}  // extern "C"
