// The frame every pipe message is: lead byte 0x03, a reserved byte, the
// payload length (16 bits, big-endian), the command or reply code, the
// payload, and the 16-bit big-endian additive sum of every byte before it.
#pragma once

#include <windows.h>

namespace qx {

inline constexpr BYTE kFrameLead = 0x03;
inline constexpr DWORD kFrameOverhead = 7;       // head of 5 bytes, checksum of 2
inline constexpr DWORD kFrameHead = 5;
inline constexpr DWORD kFrameBufferSize = 1024;  // requests and ordinary replies
inline constexpr DWORD kMaxRequestPayload = kFrameBufferSize - kFrameOverhead;  // 1017
inline constexpr DWORD kRfidBufferSize = 1034;   // the RFID request and reply
inline constexpr DWORD kRfidMaxBytes = 1024;     // RFID request and reply sizes

// BuildPipeFrame - lays a request out as a frame.
//   command, reserved (in): only their low 8 bits are used.
//   payload (in, may be null when payloadLength is 0), payloadLength (in):
//     at most 65535 bytes.
//   frame (out): at least 7 + payloadLength bytes; the caller sees to that.
//   frameLength (out): 7 + payloadLength.
// Returns 1; there is no failure.
int BuildPipeFrame(int command, int reserved, const BYTE* payload, DWORD payloadLength, BYTE* frame,
                   LONG* frameLength);

// IsWholeFrame - whether the bytes received can be taken apart at all: the
// lead byte is 0x03 and the frame its length field declares lies within the
// bytes received. Bytes after the frame are ignored.
bool IsWholeFrame(const BYTE* frame, DWORD received);

// ParsePipeFrame - takes a reply frame apart.
//   frame (in), received (in): the bytes one read delivered and their count.
//   replyCode (out): byte 4.
//   payload (out), payloadSize (in): receives the payload bytes as sent, no
//     terminator added, at most payloadSize of them.
//   payloadLength (out): the declared payload length L, which can exceed
//     what payloadSize let through.
// Returns 1 for a valid frame (lead byte and checksum), else 0. When the
// bytes are not a whole frame (IsWholeFrame false) nothing is written; a
// whole frame with a bad checksum has delivered its code and payload all the
// same, and the caller decides whether to use them. Never reads past
// received nor writes past payloadSize.
int ParsePipeFrame(const BYTE* frame, DWORD received, BYTE* replyCode, BYTE* payload,
                   DWORD payloadSize, DWORD* payloadLength);

}  // namespace qx
