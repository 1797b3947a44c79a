// The library's entry point: process attach fills the state record, process
// detach tears it down. Thread attach and detach leave it alone. Loading never
// fails, also when no printer is found.
#include <qxdll.h>

#include <cstring>

#include "bypass/raw.h"
#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "lm/pipe.h"
#include "port/port.h"

using qx::g_state;

namespace {

constexpr DWORD kProbeTimeout = 10000;  // ms for the attach probes of the pipe
constexpr DWORD kProbeNameSize = 2048;

// Probes the current port's language monitor with one waiting open, closing
// the pipe again at once. Sets the language-monitor-available flag.
bool ProbeMonitor(bool logged) {
  char pipeName[kProbeNameSize];
  qx::FormPipeName(pipeName, sizeof pipeName, g_state.portName);
  if (logged) qx::LogLevel(1, "QXDLL - open pipe, name = %s", pipeName);
  qx::FileHandle pipe;
  if (qx::OpenPipeWaiting(pipeName, kProbeTimeout, &pipe) == QX_ERR_OK) {
    g_state.lmAvailable = 1;
    pipe.Close();
    if (logged) qx::LogLevel(1, "QXDLL - Opened LM pipe");
    return true;
  }
  g_state.lmAvailable = 0;
  if (logged) qx::LogLevel(1, "QXDLL - LM pipe did not open");
  return false;
}

// Chooses the current printer: the maker's printer among the local ones, or
// the system default when there is none; a default printer of the maker's
// wins over the enumerated one. Reports whether the default query failed on
// the road where it alone gave the name.
bool ChoosePrinter() {
  DWORD length = 0;
  if (qx::qxGetQXPrinter(g_state.printerName, qx::kNameSize, &length) != QX_ERR_OK) {
    DWORD size = qx::kNameSize;
    return qxNewGetDefaultPrinter(g_state.printerName, &size) != QX_ERR_OK;
  }
  char defaultName[qx::kNameSize] = {};
  DWORD size = sizeof defaultName;
  if (qxNewGetDefaultPrinter(defaultName, &size) == QX_ERR_OK && qx::IsMakerPrinter(defaultName)) {
    std::memcpy(g_state.printerName, defaultName, sizeof defaultName);
  }
  return false;
}

// Stage 1: port, driver, sheets and probe of the chosen printer.
void SetUpChosenPrinter() {
  qxNewGetPrinterDriver(g_state.printerName, g_state.driverName);
  if (qxNewGetPrinterPort(g_state.printerName, g_state.portName) == QX_ERR_OK) {
    qx::BuildSheetTable(g_state.printerName, g_state.portName);
  }
  qx::FormPipeName(g_state.pipeName, sizeof g_state.pipeName, g_state.portName);
  qx::LogLevel(1, "QXDLL - DEFAULT PRINTER FOUND");
  g_state.pipeTimeout = qx::kDefaultTimeout;
  g_state.statusTimeout = qx::kDefaultTimeout;
  ProbeMonitor(true);
}

// Stage 2: the page-setup default printer takes the place of the chosen one
// when the system reports one. False when it does not.
bool SetUpPageSetupDefault() {
  if (qxGetDefaultPrinter(&g_state.pageSetup) != 0) return false;
  DWORD scratch = 0;
  if (qxGetPrinterNameAndPort(&g_state.pageSetup, g_state.printerName, &scratch,
                              g_state.portName, &scratch, g_state.driverName,
                              &scratch) == QX_ERR_OK) {
    qx::BuildSheetTable(g_state.printerName, g_state.portName);
  }
  qx::FormPipeName(g_state.pipeName, sizeof g_state.pipeName, g_state.portName);
  qx::DebugLine("DLL - DEFAULT PRINTER FOUND - DLL\r\n");
  g_state.pipeTimeout = qx::kDefaultTimeout;
  g_state.statusTimeout = qx::kDefaultTimeout;
  ProbeMonitor(false);
  return true;
}

void Attach() {
  // A load starts from a zero record; on POSIX a test may run detach and
  // attach again, and the second attach must see the same.
  g_state = qx::LibraryState{};
  g_state.pipeHandle = INVALID_HANDLE_VALUE;

  // Failures are not checked: a null mutex is skipped by the code that waits.
  g_state.pipeMutex = CreateMutexA(nullptr, FALSE, nullptr);
  g_state.switchMutex = CreateMutexA(nullptr, FALSE, nullptr);

  qxGetOSVersion(&g_state.osVersion, nullptr);

  g_state.pipeTimeout = qx::kDefaultTimeout;
  g_state.statusTimeout = qx::kDefaultTimeout;
  g_state.pageSetup.lStructSize = sizeof(PAGESETUPDLGA);
  g_state.pageSetup.Flags = PSD_RETURNDEFAULT;

  const bool noDefault = ChoosePrinter();
  if (!qx::IsMakerPrinter(g_state.printerName)) {
    qx::DebugLine("DLL - DLL - DLL - NO QX PRINTER - DLL - DLL - DLL\r\n");
  } else {
    if (noDefault) {
      qx::LogLevel(2, "QXDLL - NO DEFAULT PRINTER");
    } else {
      SetUpChosenPrinter();
    }
    if (!SetUpPageSetupDefault()) {
      qx::DebugLine("DLL - DLL - DLL - NO DEFAULT PRINTER - DLL - DLL - DLL\r\n");
    }
  }

  qx::LogLevel(1, "QXDLL - ATTACH version  = %s", qx::kVersionText);
  qx::LogLevel(1, "QXDLL - Default printer = %s", g_state.printerName);
  qx::LogLevel(1, "QXDLL - Output port     = %s", g_state.portName);
  qx::LogLevel(1, "QXDLL - Driver name     = %s", g_state.driverName);
  g_state.pageSetup.Flags = 0;
}

void CloseMutex(HANDLE& mutex) {
  if (mutex != nullptr) CloseHandle(mutex);
  mutex = nullptr;
}

// The page-setup record's blocks belong to the library; they go with it, so
// that loading and unloading the library again and again leaks nothing.
void FreePageSetup() {
  if (g_state.pageSetup.hDevMode != nullptr) GlobalFree(g_state.pageSetup.hDevMode);
  if (g_state.pageSetup.hDevNames != nullptr) GlobalFree(g_state.pageSetup.hDevNames);
  g_state.pageSetup.hDevMode = nullptr;
  g_state.pageSetup.hDevNames = nullptr;
}

void Detach() {
  // Queues still moved to "FILE:" get their own ports back before anything
  // else goes. This is the record's last chance, so a queue the spooler
  // refused once is asked for again; then the record goes whatever the
  // spooler answered.
  for (int attempt = 0; attempt < 2 && g_state.isolation.isolated != 0; ++attempt) qxReleasePort();
  qx::DropIsolation();
  // A raw document left open never prints half-written: it goes unprinted.
  qx::DiscardRawDocument();
  qxLMClosePipe();
  CloseMutex(g_state.pipeMutex);
  CloseMutex(g_state.switchMutex);
  FreePageSetup();
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
