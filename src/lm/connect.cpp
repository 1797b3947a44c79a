// Opening the language-monitor pipe with its reload recovery, the probes,
// and the exported pipe settings.
#include <qxdll.h>

#include <cstring>

#include "bypass/raw.h"
#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "lm/pipe.h"
#include "spool/devmode.h"

using qx::g_state;

namespace {
constexpr DWORD kReloadPause = 500;  // ms after each reload attempt
}  // namespace

namespace qx {

namespace {

// Puts the current printer name back when it goes.
class PrinterNameSwap {
 public:
  explicit PrinterNameSwap(const char* standIn) {
    std::memcpy(saved_, g_state.printerName, sizeof saved_);
    // The stand-in may be the current name itself: copy it out first.
    char name[kNameSize];
    CopyText(name, sizeof name, standIn);
    std::memcpy(g_state.printerName, name, sizeof name);
  }
  ~PrinterNameSwap() { std::memcpy(g_state.printerName, saved_, sizeof saved_); }
  PrinterNameSwap(const PrinterNameSwap&) = delete;
  PrinterNameSwap& operator=(const PrinterNameSwap&) = delete;

 private:
  char saved_[kNameSize];
};

}  // namespace

QXRESULT OpenPipeFor(const char* pipeName, const char* printerName, FileHandle* pipe) {
  const char* name = pipeName != nullptr ? pipeName : g_state.pipeName;
  if (printerName == nullptr) return OpenPipeRecovering(name, g_state.pipeTimeout, pipe);
  PrinterNameSwap swap(printerName);
  return OpenPipeRecovering(name, g_state.pipeTimeout, pipe);
}

QXRESULT OpenPipeRecovering(const char* pipeName, DWORD timeout, FileHandle* pipe) {
  pipe->Close();
  if (pipeName == nullptr || pipeName[0] == '\0') {
    LogLevel(1, "qxLMOpenPipe - No Pipe Name provided");
    return QX_ERR_NO_PIPE;
  }
  // A busy pipe has a monitor: only a missing one is worth a reload.
  QXRESULT r = OpenPipeWaiting(pipeName, timeout, pipe);
  if (r != QX_ERR_NO_PIPE) return r;

  // The spooler reloads a printer's language monitor when its device mode is
  // rewritten.
  LogLevel(1, "qxLMOpenPipe - LM Not Available - Attempt to force a reload with SetPrinterCharacteristics");
  SetCurrentPrinterCharacteristics(0, kActionRefresh);
  Sleep(kReloadPause);
  r = OpenPipeWaiting(pipeName, timeout, pipe);
  if (r != QX_ERR_NO_PIPE) return r;

  // An offline printer, one whose status could not be read, or another
  // maker's printer is not worth a job.
  if ((g_state.lastStatus.status & PRINTER_STATUS_OFFLINE) != 0 || g_state.lastStatus.statusRead == 0 ||
      !IsMakerPrinter(g_state.printerName)) {
    return r;
  }

  // It also loads the monitor when a job starts on the port: a blank raw
  // document that never prints, deleted again.
  LogLevel(1, "qxLMOpenPipe - LM Not Available - Attempt to force a reload with a blank print doc");
  if (qxPrintBypassOpenPrinter(kBlankDocName) && FinishBlankDocument()) {
    Sleep(kReloadPause);
    DeletePrintJobs(kBlankDocName);
  }
  Sleep(kReloadPause);
  return OpenPipeWaiting(pipeName, timeout, pipe);
}

bool PipeNameOfPrinter(const char* printerName, char (&pipeName)[kPipeNameSize]) {
  char port[kNameSize] = {};
  char driver[kNameSize] = {};
  DWORD portLength = 0;
  DWORD driverLength = 0;
  if (GetPrinterIdentity(&g_state.pageSetup, printerName, port, sizeof port, &portLength, driver, sizeof driver,
                         &driverLength) != QX_ERR_OK) {
    return false;
  }
  FormPipeName(pipeName, kPipeNameSize, port);
  return true;
}

bool FitsPrinterName(const char* name) { return name != nullptr && strnlen(name, kNameSize) < kNameSize; }

namespace {

// The probe itself. A null pipe name is the stored one and a null printer
// name the current one (no stand-in), both read under the pipe mutex that
// guards their changes.
BOOL Probe(const char* pipeName, const char* printerName) {
  MutexHold lock(g_state.pipeMutex);
  FileHandle pipe;
  const QXRESULT r = OpenPipeFor(pipeName, printerName, &pipe);
  pipe.Close();
  // A busy pipe has a monitor behind it.
  return r == QX_ERR_OK || r == QX_ERR_PIPE_BUSY ? 1 : 0;
}

}  // namespace

BOOL ProbePipe(const char* pipeName, const char* printerName) {
  if (pipeName == nullptr || !FitsPrinterName(printerName)) return 0;
  return Probe(pipeName, printerName);
}

}  // namespace qx

extern "C" {

// The host's own open: the handle is kept in the state record until
// qxLMClosePipe, and a handle an earlier call left there is closed first, so
// that repeated opens never hold more than one instance of the monitor.
// Transactions use handles of their own and never touch this one.
QXRESULT QXAPI qxLMOpenPipe(LPCSTR pipeName, DWORD timeout) {
  qxLMClosePipe();
  qx::FileHandle pipe;
  const QXRESULT r = qx::OpenPipeRecovering(pipeName, timeout, &pipe);
  g_state.pipeHandle = pipe.Take();
  return r;
}

BOOL QXAPI qxLMIsPipe(void) { return qx::Probe(nullptr, nullptr); }

BOOL QXAPI qxLMPtrIsPipe(LPCSTR printerName) {
  if (!qx::FitsPrinterName(printerName)) return 0;
  qx::MutexHold lock(g_state.switchMutex);
  char pipeName[qx::kPipeNameSize];
  if (!qx::PipeNameOfPrinter(printerName, pipeName)) return 0;
  return qx::ProbePipe(pipeName, printerName);
}

BOOL QXAPI qxLMSetPipeName(LPCSTR pipeName) {
  // Held so that no transaction opens a half-written name; a longer name is
  // cut to the 255 characters the record holds.
  qx::MutexHold lock(g_state.pipeMutex);
  if (pipeName != nullptr) qx::CopyText(g_state.pipeName, sizeof g_state.pipeName, pipeName);
  return 1;
}

BOOL QXAPI qxLMSetPipeTimeOut(DWORD timeout) {
  g_state.pipeTimeout = timeout;
  return 1;
}

BOOL QXAPI qxLMSetStatusTimeOut(DWORD timeout) {
  g_state.statusTimeout = timeout;
  return 1;
}

}  // extern "C"
