// Opening and closing the language-monitor pipe, and the bounded read of a
// reply.
#include "lm/pipe.h"

#include <algorithm>

#include "core/text.h"
#include "core/state.h"

namespace qx {

namespace {
constexpr DWORD kWaitSlice = 100;  // ms per WaitNamedPipeA
constexpr DWORD kLongestPoll = 16;  // ms between looks at a silent pipe
}  // namespace

void FormPipeName(char* dest, DWORD destSize, const char* port) {
  const DWORD prefix = CopyText(dest, destSize, kPipePrefix);
  if (prefix + 1 < destSize) CopyText(dest + prefix, destSize - prefix, port);
}

QXRESULT OpenPipeWaiting(const char* pipeName, DWORD timeout, FileHandle* pipe) {
  pipe->Close();
  if (pipeName == nullptr || pipeName[0] == '\0') return QX_ERR_NO_PIPE;
  for (;;) {
    pipe->Reset(CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe->valid()) break;
    if (GetLastError() != ERROR_PIPE_BUSY) return QX_ERR_NO_PIPE;

    bool freed = false;
    for (DWORD slice = 0, slices = timeout / kWaitSlice; slice < slices && !freed; ++slice) {
      freed = WaitNamedPipeA(pipeName, kWaitSlice) != FALSE;
    }
    if (!freed) return QX_ERR_PIPE_BUSY;
  }

  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe->get(), &mode, nullptr, nullptr)) {
    pipe->Close();
    return QX_ERR_NO_PIPE;
  }
  return QX_ERR_OK;
}

ReplyRead ReadReplyBounded(HANDLE pipe, BYTE* buffer, DWORD size, DWORD* count, ULONGLONG limit) {
  *count = 0;
  const ULONGLONG start = GetTickCount64();
  DWORD pause = 0;
  for (;;) {
    // A message waiting shows as bytes available or left in it; a pipe whose
    // peer has gone fails the look, as it would fail the read.
    DWORD available = 0;
    DWORD left = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, &left)) return ReplyRead::kFailed;
    if (available != 0 || left != 0) {
      if (ReadFile(pipe, buffer, size, count, nullptr)) return ReplyRead::kRead;
      return GetLastError() == ERROR_MORE_DATA ? ReplyRead::kMoreData : ReplyRead::kFailed;
    }
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited >= limit) return ReplyRead::kTimedOut;
    // Look again soon at first, then at most every kLongestPoll ms.
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, limit - waited)));
    pause = std::min(pause == 0 ? 1 : pause * 2, kLongestPoll);
  }
}

}  // namespace qx

extern "C" BOOL QXAPI qxLMClosePipe(void) {
  // The handle is marked closed so that a second close cannot reach a handle
  // value the system has since given to something else.
  HANDLE& pipe = qx::g_state.pipeHandle;
  if (pipe != nullptr && pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  pipe = INVALID_HANDLE_VALUE;
  return 1;
}
