// The library's entry point: process attach fills the state record, process
// detach tears it down. Thread attach and detach leave it alone. Loading never
// fails, also when no printer is found.
#include <qxdll.h>

#include "core/state.h"

using qx::g_state;

namespace {

void Attach() {
  // A load starts from a zero record; on POSIX a test may run detach and
  // attach again, and the second attach must see the same.
  g_state = qx::LibraryState{};

  // Failures are not checked: a null mutex is skipped by the code that waits.
  g_state.pipeMutex = CreateMutexA(nullptr, FALSE, nullptr);
  g_state.switchMutex = CreateMutexA(nullptr, FALSE, nullptr);

  qxGetOSVersion(&g_state.osVersion, nullptr);

  g_state.pipeTimeout = qx::kDefaultTimeout;
  g_state.statusTimeout = qx::kDefaultTimeout;
  g_state.pageSetup.lStructSize = sizeof(PAGESETUPDLGA);
  g_state.pageSetup.Flags = PSD_RETURNDEFAULT;

  g_state.pageSetup.Flags = 0;
}

void CloseMutex(HANDLE& mutex) {
  if (mutex != nullptr) CloseHandle(mutex);
  mutex = nullptr;
}

void Detach() {
  CloseMutex(g_state.pipeMutex);
  CloseMutex(g_state.switchMutex);
}

}  // namespace

// QX_EXPORT: on POSIX hosts and tests may run detach and attach again; on
// Windows the module-definition file leaves the entry point unexported.
extern "C" QX_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      Attach();
      break;
    case DLL_PROCESS_DETACH:
      Detach();
      break;
    default:
      break;
  }
  return TRUE;
}
