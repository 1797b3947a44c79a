// Opening and closing the language-monitor pipe.
#include "lm/pipe.h"

#include "core/log.h"
#include "core/state.h"

namespace qx {

namespace {
constexpr DWORD kWaitSlice = 100;  // ms per WaitNamedPipeA
}

void FormPipeName(char* dest, DWORD destSize, const char* port) {
  const DWORD prefix = CopyText(dest, destSize, kPipePrefix);
  if (prefix + 1 < destSize) CopyText(dest + prefix, destSize - prefix, port);
}

QXRESULT OpenPipeWaiting(const char* pipeName, DWORD timeout) {
  if (pipeName == nullptr || pipeName[0] == '\0') {
    g_state.pipeHandle = INVALID_HANDLE_VALUE;
    return QX_ERR_NO_PIPE;
  }
  for (;;) {
    g_state.pipeHandle = CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (g_state.pipeHandle != INVALID_HANDLE_VALUE) break;
    if (GetLastError() != ERROR_PIPE_BUSY) return QX_ERR_NO_PIPE;

    bool freed = false;
    for (DWORD slice = 0, slices = timeout / kWaitSlice; slice < slices && !freed; ++slice) {
      freed = WaitNamedPipeA(pipeName, kWaitSlice) != FALSE;
    }
    if (!freed) return QX_ERR_PIPE_BUSY;
  }

  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(g_state.pipeHandle, &mode, nullptr, nullptr)) {
    CloseHandle(g_state.pipeHandle);
    g_state.pipeHandle = INVALID_HANDLE_VALUE;
    return QX_ERR_NO_PIPE;
  }
  return QX_ERR_OK;
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
