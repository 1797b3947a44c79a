// Status and information queries over the language-monitor pipe: the status
// reply, the single conditions of its status word, and what the monitor
// reports of itself.
#include <qxdll.h>

#include <cstring>

#include "core/resources.h"
#include "core/state.h"
#include "lm/frame.h"
#include "lm/pipe.h"
#include "lm/transact.h"

using qx::g_state;

namespace {

// The inquiries the printer answers, by request index; row 7 asks the monitor
// for its own status reply and sends nothing to the printer.
struct StatusRequest {
  BYTE command;
  BYTE length;
  BYTE bytes[4];
};

constexpr StatusRequest kStatusRequests[] = {
    {qx::kCmdStatusInquiry, 3, {0x1B, 'I', 'S'}},
    {qx::kCmdStatusInquiry, 3, {0x1B, 'I', 'N'}},
    {qx::kCmdStatusInquiry, 3, {0x1B, 'I', 'E'}},
    {qx::kCmdStatusInquiry, 4, {0x1B, 'I', 'A', 0x02}},
    {qx::kCmdStatusInquiry, 4, {0x1B, 'I', 'A', 0x03}},
    {qx::kCmdStatusInquiry, 4, {0x1B, 'I', 'A', 0x04}},
    {qx::kCmdStatusInquiry, 3, {0x1B, 'I', 'C'}},
    {qx::kCmdPlainStatus, 0, {}},
};
constexpr DWORD kRequestCount = sizeof kStatusRequests / sizeof kStatusRequests[0];

constexpr DWORD kTimeoutBytes = 2;
constexpr DWORD kMaxInquiry = qx::kMaxRequestPayload - kTimeoutBytes;  // 1015

// A status inquiry: the status time-out's low 16 bits, big-endian, then the
// inquiry bytes.
QXRESULT SendInquiry(const BYTE* inquiry, DWORD length, BYTE* reply, DWORD replySize, DWORD* replyLength) {
  BYTE payload[qx::kMaxRequestPayload];
  payload[0] = static_cast<BYTE>(g_state.statusTimeout >> 8);
  payload[1] = static_cast<BYTE>(g_state.statusTimeout);
  if (length != 0) std::memcpy(payload + kTimeoutBytes, inquiry, length);
  return qx::PipeQuery(qx::kCmdStatusInquiry, payload, kTimeoutBytes + length, reply, replySize, replyLength);
}

// Bytes 3 and 4 of the ESC "IS" reply: the status word, high byte first.
constexpr DWORD kStatusWordEnd = 5;  // reply bytes up to the status word's low byte

struct StatusWordBytes {
  BYTE high = 0;
  BYTE low = 0;
  // The 16-bit status word, tested with the header's QX_STATUS_ bits.
  bool Has(WORD bits) const { return ((high << 8 | low) & bits) != 0; }
};

QXRESULT ReadStatusWord(StatusWordBytes* word) {
  BYTE reply[qx::kFrameBufferSize] = {};
  DWORD length = 0;
  const QXRESULT r = qxLMGetStatus(QX_REQ_IS, reply, sizeof reply, &length);
  if (r != QX_ERR_OK) return r;
  // A reply too short to hold the status word says nothing about the
  // printer: no condition is read from bytes that did not arrive.
  if (length < kStatusWordEnd) return QX_ERR_BAD_REPLY;
  word->high = reply[3];
  word->low = reply[4];
  return QX_ERR_OK;
}

// One status condition: the flag is set from the status word on success and
// left untouched on failure.
template <class Test>
QXRESULT StatusCondition(BOOL* flag, Test test) {
  if (flag == nullptr) return QX_ERR_NULL_ARG;
  StatusWordBytes word;
  const QXRESULT r = ReadStatusWord(&word);
  if (r == QX_ERR_OK) *flag = test(word) ? 1 : 0;
  return r;
}

// One byte of an information reply: the query's result, and the reply's
// first byte (0 when no reply was read or it was empty).
QXRESULT FirstReplyByte(BYTE command, BYTE* first) {
  BYTE reply[qx::kFrameBufferSize] = {};
  DWORD length = 0;
  const QXRESULT r = qx::PipeQuery(command, nullptr, 0, reply, sizeof reply, &length);
  *first = length > 0 ? reply[0] : 0;
  return r;
}

QXRESULT InformationQuery(BYTE command, BYTE* reply, DWORD replySize, DWORD* replyLength) {
  if (reply == nullptr || replyLength == nullptr) return QX_ERR_NULL_ARG;
  return qx::PipeQuery(command, nullptr, 0, reply, replySize, replyLength);
}

}  // namespace

extern "C" {

QXRESULT QXAPI qxLMGetStatus(LONG requestIndex, BYTE* reply, DWORD replySize, DWORD* replyLength) {
  if (reply == nullptr || replyLength == nullptr) return QX_ERR_NULL_ARG;
  // Compared as unsigned: negative indices are out of range too.
  DWORD index = static_cast<DWORD>(requestIndex);
  if (index >= kRequestCount) index = QX_REQ_IS;
  const StatusRequest& row = kStatusRequests[index];
  if (row.command == qx::kCmdPlainStatus) {
    return qx::PipeQuery(row.command, nullptr, 0, reply, replySize, replyLength);
  }
  return SendInquiry(row.bytes, row.length, reply, replySize, replyLength);
}

QXRESULT QXAPI qxLMGetAddStatus(LPCSTR inquiry, BYTE* reply, DWORD replySize, DWORD* replyLength) {
  if (inquiry == nullptr || reply == nullptr || replyLength == nullptr) return QX_ERR_NULL_ARG;
  const size_t length = strnlen(inquiry, kMaxInquiry + 1);
  if (length > kMaxInquiry) return QX_ERR_BAD_LENGTH;
  return SendInquiry(reinterpret_cast<const BYTE*>(inquiry), static_cast<DWORD>(length), reply, replySize,
                     replyLength);
}

QXRESULT QXAPI qxLMGetOutOfPaperStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_OUT_OF_PAPER); });
}

QXRESULT QXAPI qxLMGetHeadLeverOpenStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_HEAD_LEVER_OPEN); });
}

QXRESULT QXAPI qxLMGetJamStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_JAM); });
}

QXRESULT QXAPI qxLMGetManDeselectStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_MAN_DESELECT); });
}

QXRESULT QXAPI qxLMGetPrinterOKStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return !w.Has(QX_STATUS_NOT_READY | QX_STATUS_LOW_PAPER); });
}

QXRESULT QXAPI qxLMGetPrinterOKStatus2(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return !w.Has(QX_STATUS_NOT_READY); });
}

QXRESULT QXAPI qxLMGetLowPaperStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_LOW_PAPER); });
}

QXRESULT QXAPI qxLMGetTicketNotTakenStatus(BOOL* flag) {
  return StatusCondition(flag, [](StatusWordBytes w) { return w.Has(QX_STATUS_TICKET_NOT_TAKEN); });
}

QXRESULT QXAPI qxLMGetPrintInProgress(BOOL* inProgress) {
  if (inProgress == nullptr) return QX_ERR_NULL_ARG;
  BYTE first = 0;
  const QXRESULT r = FirstReplyByte(qx::kCmdPrintInProgress, &first);
  if (r == QX_ERR_OK) *inProgress = first == 'D' ? 1 : 0;
  return r;
}

QXRESULT QXAPI qxLMGetCRCError(BOOL* crcError) {
  if (crcError == nullptr) return QX_ERR_NULL_ARG;
  // Written on every path, also when the monitor marked its reply as failed.
  BYTE first = 0;
  const QXRESULT r = FirstReplyByte(qx::kCmdCRCError, &first);
  *crcError = first == '1' ? 1 : 0;
  return r;
}

QXRESULT QXAPI qxLMGetPrinterName(BYTE* reply, DWORD replySize, DWORD* replyLength) {
  return InformationQuery(qx::kCmdPrinterName, reply, replySize, replyLength);
}

QXRESULT QXAPI qxLMGetPortName(BYTE* reply, DWORD replySize, DWORD* replyLength) {
  return InformationQuery(qx::kCmdPortName, reply, replySize, replyLength);
}

QXRESULT QXAPI qxLMGetLMVersion(BYTE* reply, DWORD replySize, DWORD* replyLength) {
  return InformationQuery(qx::kCmdVersion, reply, replySize, replyLength);
}

QXRESULT QXAPI qxLMPtrGetStatus(LPCSTR printerName, LONG requestIndex, BYTE* reply, DWORD replySize,
                                DWORD* replyLength) {
  if (printerName == nullptr || reply == nullptr || replyLength == nullptr || replySize == 0) {
    return QX_ERR_NO_PIPE;
  }
  // The printer-switch mutex first, then the pipe mutex (recursive, so the
  // switch and the query take it again inside) from before the switch until
  // the names are back: no other thread's pipe call can see the switched
  // printer or go to its monitor.
  qx::MutexHold lock(g_state.switchMutex);
  qx::MutexHold pipe(g_state.pipeMutex);
  char savedPrinter[qx::kNameSize];
  char savedPort[qx::kNameSize];
  char savedPipe[qx::kPipeNameSize];
  std::memcpy(savedPrinter, g_state.printerName, sizeof savedPrinter);
  std::memcpy(savedPort, g_state.portName, sizeof savedPort);
  std::memcpy(savedPipe, g_state.pipeName, sizeof savedPipe);

  QXRESULT r = QX_ERR_NO_PIPE;
  const bool current = savedPrinter[0] != '\0' && std::strncmp(printerName, savedPrinter, sizeof savedPrinter) == 0;
  if (current || qxSetNewPrinter(printerName)) r = qxLMGetStatus(requestIndex, reply, replySize, replyLength);

  // The driver name and the monitor flag keep what the switch set.
  std::memcpy(g_state.printerName, savedPrinter, sizeof savedPrinter);
  std::memcpy(g_state.portName, savedPort, sizeof savedPort);
  std::memcpy(g_state.pipeName, savedPipe, sizeof savedPipe);
  return r;
}

}  // extern "C"
