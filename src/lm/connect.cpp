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

PipeCloser::~PipeCloser() { qxLMClosePipe(); }

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

QXRESULT OpenPipeFor(const char* pipeName, const char* printerName) {
  const char* name = pipeName != nullptr ? pipeName : g_state.pipeName;
  if (printerName == nullptr) return qxLMOpenPipe(name, g_state.pipeTimeout);
  PrinterNameSwap swap(printerName);
  return qxLMOpenPipe(name, g_state.pipeTimeout);
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
  const QXRESULT r = OpenPipeFor(pipeName, printerName);
  if (r == QX_ERR_OK) qxLMClosePipe();
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

QXRESULT QXAPI qxLMOpenPipe(LPCSTR pipeName, DWORD timeout) {
  if (pipeName == nullptr || pipeName[0] == '\0') {
    qx::LogLevel(1, "qxLMOpenPipe - No Pipe Name provided");
    g_state.pipeHandle = INVALID_HANDLE_VALUE;
    return QX_ERR_NO_PIPE;
  }
  // A busy pipe has a monitor: only a missing one is worth a reload.
  QXRESULT r = qx::OpenPipeWaiting(pipeName, timeout);
  if (r != QX_ERR_NO_PIPE) return r;

  // The spooler reloads a printer's language monitor when its device mode is
  // rewritten.
  qx::LogLevel(1, "qxLMOpenPipe - LM Not Available - Attempt to force a reload with SetPrinterCharacteristics");
  qx::SetCurrentPrinterCharacteristics(0, qx::kActionRefresh);
  Sleep(kReloadPause);
  r = qx::OpenPipeWaiting(pipeName, timeout);
  if (r != QX_ERR_NO_PIPE) return r;

  // An offline printer, one whose status could not be read, or another
  // maker's printer is not worth a job.
  if ((qx::g_lastStatus.status & PRINTER_STATUS_OFFLINE) != 0 || qx::g_lastStatus.statusRead == 0 ||
      !qx::IsMakerPrinter(g_state.printerName)) {
    return r;
  }

  // It also loads the monitor when a job starts on the port: a blank raw
  // document that never prints, deleted again.
  qx::LogLevel(1, "qxLMOpenPipe - LM Not Available - Attempt to force a reload with a blank print doc");
  if (qxPrintBypassOpenPrinter(qx::kBlankDocName) && qx::FinishBlankDocument()) {
    Sleep(kReloadPause);
    qx::DeletePrintJobs(qx::kBlankDocName);
  }
  Sleep(kReloadPause);
  return qx::OpenPipeWaiting(pipeName, timeout);
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
