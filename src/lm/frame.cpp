// Building and taking apart pipe frames. Pure functions over their arguments.
#include "lm/frame.h"

#include <algorithm>
#include <cstring>

namespace qx {

namespace {

DWORD DeclaredLength(const BYTE* frame) { return (DWORD{frame[2]} << 8) | frame[3]; }

}  // namespace

int BuildPipeFrame(int command, int reserved, const BYTE* payload, DWORD payloadLength, BYTE* frame,
                   LONG* frameLength) {
  const DWORD length = payloadLength & 0xFFFF;
  frame[0] = kFrameLead;
  frame[1] = static_cast<BYTE>(reserved);
  frame[2] = static_cast<BYTE>(length >> 8);
  frame[3] = static_cast<BYTE>(length);
  frame[4] = static_cast<BYTE>(command);
  WORD sum = 0;
  for (DWORD i = 0; i < kFrameHead; ++i) sum = static_cast<WORD>(sum + frame[i]);
  for (DWORD i = 0; i < length; ++i) {
    frame[kFrameHead + i] = payload[i];
    sum = static_cast<WORD>(sum + payload[i]);
  }
  frame[kFrameHead + length] = static_cast<BYTE>(sum >> 8);
  frame[kFrameHead + length + 1] = static_cast<BYTE>(sum);
  if (frameLength != nullptr) *frameLength = static_cast<LONG>(kFrameOverhead + length);
  return 1;
}

bool IsWholeFrame(const BYTE* frame, DWORD received) {
  if (frame == nullptr || received < kFrameOverhead || frame[0] != kFrameLead) return false;
  return kFrameOverhead + DeclaredLength(frame) <= received;
}

int ParsePipeFrame(const BYTE* frame, DWORD received, BYTE* replyCode, BYTE* payload,
                   DWORD payloadSize, DWORD* payloadLength) {
  // A declared length running past the bytes received is not a frame: its
  // checksum would lie in bytes that never arrived.
  if (!IsWholeFrame(frame, received)) return 0;
  const DWORD length = DeclaredLength(frame);
  if (payloadLength != nullptr) *payloadLength = length;
  if (replyCode != nullptr) *replyCode = frame[4];
  if (payload != nullptr) {
    const DWORD copied = std::min(length, payloadSize);
    if (copied != 0) std::memcpy(payload, frame + kFrameHead, copied);
  }
  WORD sum = 0;
  for (DWORD i = 0; i < kFrameHead + length; ++i) sum = static_cast<WORD>(sum + frame[i]);
  const WORD sent = static_cast<WORD>((frame[kFrameHead + length] << 8) | frame[kFrameHead + length + 1]);
  return sum == sent ? 1 : 0;
}

}  // namespace qx
