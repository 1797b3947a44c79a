// Status word decoding: qxParseStatus walks a printer's status reply (a
// reply letter, then fields of a two-character tag and a body) into the
// host's status record.
//
//   tag  body                              record
//   00   2 raw bytes, high then low        statusWord, statusWordText
//   01   3 decimal characters              tag01Value, tag01Text
//   02   8 decimal characters              tag02Value, tag02Text
//   03   3 decimal characters (degrees C)  temperatureC/F, temperatureText
//   04   2 raw bytes, big-endian           formLength, formLengthText
//   05   2 count digits n, then n bytes    versionRaw, firmwareVersion, versionDetail
//
// The walk stops at the first tag outside 00..05 (the 0xFF fill of a direct
// read, the zero after a text) and at a field whose body would run past the
// reply's length: nothing past replyLength is ever read.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <qxdll.h>

#include "core/log.h"

namespace {

constexpr size_t kParseLine = 128;
constexpr size_t kFirmwareBytes = 5;
constexpr size_t kDetailBytes = 10;

bool IsReplyLetter(BYTE letter) {
  return letter == 'S' || letter == 'N' || letter == 'E' || letter == 'A' || letter == 'C';
}

// Copies count characters into a text field of count + 1 bytes and returns
// their decimal value: leading white space and a sign, then digits; no digits
// give 0. Values cannot leave the 32-bit range with at most 8 characters.
LONG DecimalField(const BYTE* body, size_t count, char* text) {
  std::memcpy(text, body, count);
  text[count] = '\0';
  return static_cast<LONG>(std::strtol(text, nullptr, 10));
}

}  // namespace

QXRESULT QXAPI qxParseStatus(const BYTE* reply, LONG replyLength, QX_STATUS_RECORD* record) {
  if (record == nullptr || reply == nullptr) return QX_ERR_NULL_ARG;
  std::memset(record, 0, sizeof *record);
  if (replyLength < 1) return QX_ERR_BAD_STATUS;
  record->replyType[0] = static_cast<char>(reply[0]);
  if (!IsReplyLetter(reply[0])) return QX_ERR_BAD_STATUS;

  const BYTE* const end = reply + replyLength;
  const BYTE* p = reply + 1;
  // Each field needs its tag and the body's fixed part within the reply.
  auto fits = [&](size_t bytes) { return static_cast<size_t>(end - p) >= bytes; };
  while (fits(2)) {
    // The tag's arithmetic is 16-bit, so unusual characters can still
    // combine to a known tag; only the result is judged.
    const auto tag = static_cast<short>(10 * (p[0] - '0') + (p[1] - '0'));
    if (tag < 0 || tag > 5) break;
    if (tag == 0) {
      if (!fits(4)) break;
      record->statusWord = (LONG{p[2]} << 8) | LONG{p[3]};
      // The bytes print as signed characters: 0x80 and above show eight digits.
      qx::DebugLineFormat(kParseLine, "\nDLL Parse Status before conversion p = %2.2X \n",
                          static_cast<unsigned>(static_cast<signed char>(p[2])));
      qx::DebugLineFormat(kParseLine, "\nDLL Parse Status before conversion p+1 = %2.2X \n",
                          static_cast<unsigned>(static_cast<signed char>(p[3])));
      qx::DebugLineFormat(kParseLine, "\nDLL Parse Status  after conversion = %4.4X \n",
                          static_cast<unsigned>(record->statusWord));
      std::snprintf(record->statusWordText, sizeof record->statusWordText, "0x%4.4lx",
                    static_cast<unsigned long>(record->statusWord));
      p += 4;
    } else if (tag == 1) {
      if (!fits(5)) break;
      record->tag01Value = DecimalField(p + 2, 3, record->tag01Text);
      p += 5;
    } else if (tag == 2) {
      if (!fits(10)) break;
      record->tag02Value = DecimalField(p + 2, 8, record->tag02Text);
      p += 10;
    } else if (tag == 3) {
      if (!fits(5)) break;
      record->temperatureC = DecimalField(p + 2, 3, record->temperatureText);
      record->temperatureF = record->temperatureC * 9 / 5 + 32;
      p += 5;
    } else if (tag == 4) {
      if (!fits(4)) break;
      record->formLength = LONG{p[2]} * 256 + LONG{p[3]};
      if (record->formLength != 0) {
        std::snprintf(record->formLengthText, sizeof record->formLengthText, "%6.2f in.",
                      record->formLength / 100.0);
      } else {
        std::memcpy(record->formLengthText, "roll", sizeof "roll");
      }
      p += 4;
    } else {
      if (!fits(4)) break;
      const int count = 10 * (p[2] - '0') + (p[3] - '0');
      if (count < 0 || !fits(4 + static_cast<size_t>(count))) break;
      // The raw field holds 64 bytes; a longer version keeps its first 64.
      const size_t kept = std::min(static_cast<size_t>(count), sizeof record->versionRaw);
      std::memset(record->versionRaw, 0, sizeof record->versionRaw);
      std::memcpy(record->versionRaw, p + 4, kept);
      std::memset(record->firmwareVersion, 0, sizeof record->firmwareVersion);
      std::memset(record->versionDetail, 0, sizeof record->versionDetail);
      std::memcpy(record->firmwareVersion, record->versionRaw, kFirmwareBytes);
      std::memcpy(record->versionDetail, record->versionRaw + kFirmwareBytes, kDetailBytes);
      p += 4 + count;
    }
  }
  return QX_ERR_OK;
}
