// rpc.cpp - POSIX platform layer, Win32 side: UuidFromStringA, the one call
// of the RPC runtime the library makes.
#include <rpc.h>
#include <windows.h>

#include <cstring>

#include "accounting.h"

namespace {

// Hex - the value of count hex digits at text, or -1 when one is not.
int64_t Hex(const unsigned char* text, int count) {
  int64_t value = 0;
  for (int i = 0; i < count; ++i) {
    const unsigned char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

extern "C" {

// UuidFromStringA - "762bb1c4-5164-11d1-b00b-00c0d1570f9e" into a UUID: 36
// characters, hex digits in either case, hyphens at 8, 13, 18 and 23, no
// braces and nothing after. A null text gives the nil UUID. Returns RPC_S_OK,
// RPC_S_INVALID_STRING_UUID for any other text (the UUID left alone), or
// RPC_S_INVALID_ARG for a null UUID.
RPC_STATUS RPC_ENTRY UuidFromStringA(RPC_CSTR StringUuid, UUID* Uuid) {
  if (qxplat::FaultPoint({}, "UuidFromStringA", RPC_S_INVALID_STRING_UUID)) {
    return static_cast<RPC_STATUS>(GetLastError());
  }
  if (Uuid == nullptr) return RPC_S_INVALID_ARG;
  if (StringUuid == nullptr) {
    std::memset(Uuid, 0, sizeof *Uuid);
    return RPC_S_OK;
  }
  const unsigned char* s = StringUuid;
  if (strnlen(reinterpret_cast<const char*>(s), 37) != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' ||
      s[23] != '-') {
    return RPC_S_INVALID_STRING_UUID;
  }
  UUID out;
  const int64_t data1 = Hex(s, 8), data2 = Hex(s + 9, 4), data3 = Hex(s + 14, 4);
  if (data1 < 0 || data2 < 0 || data3 < 0) return RPC_S_INVALID_STRING_UUID;
  out.Data1 = static_cast<DWORD>(data1);
  out.Data2 = static_cast<WORD>(data2);
  out.Data3 = static_cast<WORD>(data3);
  static const int kOffsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    const int64_t byte = Hex(s + kOffsets[i], 2);
    if (byte < 0) return RPC_S_INVALID_STRING_UUID;
    out.Data4[i] = static_cast<BYTE>(byte);
  }
  *Uuid = out;
  return RPC_S_OK;
}

}  // extern "C"
