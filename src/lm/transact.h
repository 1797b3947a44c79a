// The three transaction shapes on the language-monitor pipe. Each holds the
// pipe mutex from before the open until after the close, writes one request
// frame in one write and reads one reply frame.
//
//                     PipeQuery          qxLMSetGeneric       PipeRFIDExchange
//   argument checks   none               none                 before locking
//   reads             one, 1024 bytes    one, 1024 bytes      repeated for 2200 ms
//   not a frame       QX_ERR_BAD_REPLY   QX_ERR_BAD_REPLY     QX_ERR_BAD_REPLY
//   bad checksum      accepted           accepted             QX_ERR_BAD_REPLY
//   failing codes     B N: FAILED,       B F N: FAILED        13: NO_RESPONSE,
//                     O: NO_RESPONSE,                         all but 12: BAD_REPLY
//                     T: LM_TIMEOUT
#pragma once

#include <windows.h>

#include <qxdll.h>

namespace qx {

// Command bytes the library sends.
enum : BYTE {
  kCmdPlainStatus = 0x00,
  kCmdStatusInquiry = 0x01,
  kCmdPrinterName = 0x02,
  kCmdPortName = 0x03,
  kCmdPrintInProgress = 0x04,
  kCmdHeartBeat = 0x05,
  kCmdHeartBeatRate = 0x06,
  kCmdSpoolerSaveMethod = 0x07,
  kCmdVersion = 0x08,
  kCmdProgramFlash = 0x09,
  kCmdProgress = 0x0A,
  kCmdAbortDocument = 0x0B,
  kCmdRegistryKey = 0x0C,
  kCmdCRCError = 0x0E,
  kCmdClearCRCError = 0x0F,
  kCmdResetPrinter = 0x10,
  kCmdWDSetup = 0x11,
  kCmdRFID = 0x12,
};

// Reply codes the transactions act on.
enum : BYTE {
  kReplyBadFrame = 'B',
  kReplyFailed = 'F',
  kReplyUnknown = 'N',
  kReplyNoResponse = 'O',
  kReplyTimeout = 'T',
  kReplyRfidOk = 0x12,
  kReplyRfidNoResponse = 0x13,
};

// PipeQuery - a query on the stored pipe name with the pipe time-out.
//   command (in); payload (in), payloadLength (in): at most 1017 bytes
//     (longer: QX_ERR_BAD_LENGTH, nothing sent).
//   reply (out), replySize (in): receives at most replySize payload bytes.
//   replyLength (out): the number of bytes copied.
// Returns QX_ERR_OK, the open's failure, QX_ERR_FAILED (write or read failed,
// "B", "N"), QX_ERR_NO_RESPONSE ("O"), QX_ERR_LM_TIMEOUT ("T"), or
// QX_ERR_BAD_REPLY for bytes that are not a frame (reply and replyLength
// untouched). A bad checksum does not matter; the payload is delivered
// whatever the verdict on the reply code.
QXRESULT PipeQuery(BYTE command, const BYTE* payload, DWORD payloadLength, BYTE* reply,
                   DWORD replySize, DWORD* replyLength);

// qxLMSetGeneric - a printer command, its reply as text.
//   command, payload, payloadLength: as for PipeQuery.
//   text (out, may be null), textSize (in): the reply text (up to its first
//     zero) by the text copy rule, or the failure in words: "NAMED PIPE IS
//     BUSY", "COULD NOT OPEN PIPE", "WRITE PIPE FAILED", "READ PIPE FAILED",
//     else "Error qxLMSetGeneric".
//   replyLength (out, may be null): the reply's payload length; written only
//     when a frame was read.
//   pipeName (in), timeout (in): the pipe and its busy wait.
// Returns QX_ERR_OK, the open's failure, QX_ERR_FAILED (write or read failed,
// "B", "F", "N") or QX_ERR_BAD_REPLY (not a frame). "O", "T" and "J" are
// success; a bad checksum does not matter.
QXRESULT qxLMSetGeneric(BYTE command, const BYTE* payload, DWORD payloadLength, LPSTR text,
                        DWORD textSize, LONG* replyLength, LPCSTR pipeName, DWORD timeout);

// PipeRFIDExchange - passes bytes to the printer's RFID function (command
// 0x12) through the given pipe, with printerName standing in for the current
// printer during the open.
//   request (in), requestCount (in): 1 to 1024 bytes.
//   reply (out), replySize (in): 1 to 1024; cleared before the read.
//   replyLength (out): 0 first, then the number of reply bytes copied.
// Returns QX_ERR_OK (reply code 0x12); QX_ERR_BAD_DATA (null request),
// QX_ERR_BAD_LENGTH (count), QX_ERR_BAD_BUFFER (null reply), QX_ERR_BAD_ARG
// (reply size, null replyLength, null pipe name, printer name null or of 128
// characters or more), all before locking; the open's failure; QX_ERR_FAILED
// (write); QX_ERR_PIPE_TIMEOUT (no read succeeded within 2200 ms);
// QX_ERR_NO_RESPONSE (0x13, payload delivered); QX_ERR_BAD_REPLY (not a
// frame, bad checksum, or another code).
QXRESULT PipeRFIDExchange(LPCSTR pipeName, LPCSTR printerName, const BYTE* request,
                          DWORD requestCount, BYTE* reply, DWORD replySize, DWORD* replyLength);

}  // namespace qx
