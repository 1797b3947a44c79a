// Printer commands over the language-monitor pipe, the monitor reload on
// request, and the flash progress text parser.
#include <qxdll.h>

#include <climits>
#include <cstring>

#include "core/log.h"
#include "core/state.h"
#include "lm/frame.h"
#include "lm/transact.h"
#include "spool/devmode.h"

using qx::g_state;

namespace {

constexpr DWORD kMaxFlashFileName = qx::kMaxRequestPayload - 1;  // 1016, after "T" or "F"
constexpr DWORD kMaxRegistryKey = 507;
constexpr DWORD kMaxProgressRequest = 127;
constexpr DWORD kProgressWorkSize = 1024;

// A command whose reply text nobody reads.
QXRESULT Command(BYTE command, const BYTE* payload = nullptr, DWORD length = 0) {
  char discarded[qx::kFrameBufferSize];
  return qx::qxLMSetGeneric(command, payload, length, discarded, sizeof discarded, nullptr, g_state.pipeName,
                            g_state.pipeTimeout);
}

// A command whose reply text goes to the caller.
QXRESULT TextCommand(BYTE command, const BYTE* payload, DWORD length, LPSTR text, DWORD textSize,
                     LONG* replyLength) {
  return qx::qxLMSetGeneric(command, payload, length, text, textSize, replyLength, g_state.pipeName,
                            g_state.pipeTimeout);
}

void PutLittleEndian(BYTE* out, LONG value) {
  const auto bits = static_cast<DWORD>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(bits >> (8 * i));
}

// Empties the caller's text before anything else is checked.
void EmptyText(LPSTR text, DWORD textSize) {
  if (text != nullptr && textSize != 0) text[0] = '\0';
}

// The decimal value of a field's leading part: optional white space and
// sign, then digits; none gives 0; values beyond 32 bits saturate.
LONG LeadingNumber(const char* field) {
  const char* p = field;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<LONG>(value);
}

}  // namespace

extern "C" {

QXRESULT QXAPI qxLMAbortDocument(void) { return Command(qx::kCmdAbortDocument); }

QXRESULT QXAPI qxLMClearCRCError(void) { return Command(qx::kCmdClearCRCError); }

QXRESULT QXAPI qxLMResetPrinter(void) { return Command(qx::kCmdResetPrinter); }

QXRESULT QXAPI qxLMSetHeartBeat(LONG setting) {
  const BYTE payload[] = {static_cast<BYTE>(setting)};
  return Command(qx::kCmdHeartBeat, payload, sizeof payload);
}

QXRESULT QXAPI qxLMSetHeartBeatRate(LONG rate) {
  BYTE payload[4];
  PutLittleEndian(payload, rate);
  return Command(qx::kCmdHeartBeatRate, payload, sizeof payload);
}

QXRESULT QXAPI qxLMSetSpoolerSaveMethod(LONG method) {
  const BYTE payload[] = {static_cast<BYTE>(method)};
  return Command(qx::kCmdSpoolerSaveMethod, payload, sizeof payload);
}

QXRESULT QXAPI qxLMWDSetup(BOOL firstFlag, BOOL secondFlag, LONG firstValue, LONG secondValue) {
  const BYTE payload[] = {static_cast<BYTE>(firstFlag != 0 ? 1 : 0), static_cast<BYTE>(secondFlag != 0 ? 1 : 0),
                          static_cast<BYTE>(firstValue), static_cast<BYTE>(secondValue)};
  return Command(qx::kCmdWDSetup, payload, sizeof payload);
}

QXRESULT QXAPI qxLMSetRegistryKey(LPCSTR key, LONG value, LPSTR text, DWORD textSize, LONG* replyLength) {
  if (text == nullptr || replyLength == nullptr) return QX_ERR_NULL_ARG;
  EmptyText(text, textSize);
  *replyLength = 0;
  if (key == nullptr) return QX_ERR_NULL_ARG;
  const size_t keyLength = strnlen(key, kMaxRegistryKey + 1);
  if (keyLength > kMaxRegistryKey) return QX_ERR_BAD_LENGTH;
  // The value little-endian, then the key with its zero.
  BYTE payload[4 + kMaxRegistryKey + 1];
  PutLittleEndian(payload, value);
  std::memcpy(payload + 4, key, keyLength);
  payload[4 + keyLength] = 0;
  return TextCommand(qx::kCmdRegistryKey, payload, static_cast<DWORD>(keyLength + 5), text, textSize,
                     replyLength);
}

QXRESULT QXAPI qxLMProgramFlash(LPCSTR fileName, BOOL flag, LPSTR text, DWORD textSize) {
  if (text == nullptr) return QX_ERR_NULL_ARG;
  EmptyText(text, textSize);
  if (fileName == nullptr) return QX_ERR_NULL_ARG;
  const size_t nameLength = strnlen(fileName, kMaxFlashFileName + 1);
  if (nameLength > kMaxFlashFileName) return QX_ERR_BAD_LENGTH;
  // "T" or "F", then the file name without its zero.
  BYTE payload[qx::kMaxRequestPayload];
  payload[0] = flag != 0 ? 'T' : 'F';
  std::memcpy(payload + 1, fileName, nameLength);
  return TextCommand(qx::kCmdProgramFlash, payload, static_cast<DWORD>(nameLength + 1), text, textSize,
                     nullptr);
}

QXRESULT QXAPI qxLMGetProgress(LPCSTR request, LPSTR text, DWORD textSize, LONG* replyLength) {
  if (text == nullptr || replyLength == nullptr) return QX_ERR_NULL_ARG;
  EmptyText(text, textSize);
  *replyLength = 0;
  if (request == nullptr) return QX_ERR_NULL_ARG;
  const size_t length = strnlen(request, kMaxProgressRequest + 1);
  if (length > kMaxProgressRequest) return QX_ERR_BAD_LENGTH;
  return TextCommand(qx::kCmdProgress, reinterpret_cast<const BYTE*>(request), static_cast<DWORD>(length), text,
                     textSize, replyLength);
}

QXRESULT QXAPI qxLMRefresh(void) {
  qx::DebugLine("DLL-DLL **************** Language Monitor refresh\r\n");
  return qx::SetCurrentPrinterCharacteristics(0, qx::kActionRefresh);
}

QXRESULT QXAPI qxLMParseFlashProgress(LPCSTR text, QX_FLASH_PROGRESS* progress) {
  if (text == nullptr || progress == nullptr) return QX_ERR_NULL_ARG;
  char work[kProgressWorkSize];
  qx::CopyText(work, sizeof work, text);

  progress->State = 0;
  progress->Max = 0;
  progress->Current = 0;
  progress->PassFail = 'F';
  qx::CopyText(progress->Note, sizeof progress->Note, " ");

  // Fields at commas; runs of commas are one separator, so an empty field
  // takes no position.
  int field = 0;
  for (char* p = work; *p != '\0' && field < 5;) {
    if (*p == ',') {
      ++p;
      continue;
    }
    char* end = std::strchr(p, ',');
    if (end != nullptr) *end = '\0';
    switch (field++) {
      case 0:
        progress->State = LeadingNumber(p);
        break;
      case 1:
        progress->Max = LeadingNumber(p);
        break;
      case 2:
        progress->Current = LeadingNumber(p);
        break;
      case 3:
        progress->PassFail = p[0];
        break;
      default:
        qx::CopyText(progress->Note, sizeof progress->Note, p);
        break;
    }
    if (end == nullptr) break;
    p = end + 1;
  }

  static constexpr char kRule[] =
      "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp\r\n";
  static_assert(sizeof kRule == 59 + 3, "59 p characters");
  qx::DebugLine(kRule);
  qx::DebugLine("PARSE PROGRESS PARSE PROGRESS PARSE PROGRESS PARSE PROGRESS\r\n");
  qx::DebugLine(text);
  qx::DebugLine("\r\n");
  // PassFail is a signed character: 0x80 and above print as ffffff80 and so on.
  const int passFail = static_cast<signed char>(progress->PassFail);
  qx::DebugLineFormat(2048, "State = %d, Max = %d, Current = %d, PassFail = %x, Note = %s\r\n",
                      static_cast<int>(progress->State), static_cast<int>(progress->Max),
                      static_cast<int>(progress->Current), static_cast<unsigned>(passFail), progress->Note);
  qx::DebugLine(kRule);
  return QX_ERR_OK;
}

}  // extern "C"
