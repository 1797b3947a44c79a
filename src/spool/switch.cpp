// Printer switching and printer data keys: qxSetNewPrinter makes another
// installed printer the current one and probes its language monitor;
// qxSetPrinterKeyByName writes one of the driver's known numeric settings.
#include <windows.h>

#include <cstring>

#include <qxdll.h>

#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "lm/pipe.h"

using qx::g_state;

namespace {

// The load-time probe's time-out, which a switch uses too.
constexpr DWORD kSwitchProbeTimeout = 10000;
constexpr size_t kPipeWorkSize = 2048;

// The settings the driver keeps in the printer data, in the order they are
// matched; the list ends at "END".
constexpr const char* kPrinterDataKeys[] = {
    "AUTOSIZE",         "BACKUP_CONTROL",          "BEEPER_CONTROL",       "DO_NOT_COMPRESS",
    "ENERGY_LEVEL",     "ENERGY_TABLE",            "EOD_CONTROL",          "JAM_ERROR_CONTROL",
    "LOCKED",           "LOW_PAPER_ACTIVE_DETECT", "LOW_PAPER_ALGORITHMN", "MIN_FORM_LENGTH",
    "ROTATE_IMAGE_180", "SJO_CONFIG",              "TNT_CONTROL",          "TNT_DISPOSE",
    "TNT_EJECT_ALWAYS", "USE_IPS_LIMIT",           "END",
};

// The first listed key that the given name begins with (case-sensitive), or
// null. A name that merely begins with a key matches it: "AUTOSIZE2" is
// "AUTOSIZE".
const char* MatchPrinterDataKey(const char* keyName) {
  for (const char* key : kPrinterDataKeys) {
    if (std::strcmp(key, "END") == 0) break;
    if (std::strncmp(keyName, key, std::strlen(key)) == 0) return key;
  }
  return nullptr;
}

// Writes a 4-byte REG_DWORD printer data value; 1 on success, else the
// failure goes to the debugger and 0 is returned.
int WritePrinterDataValue(HANDLE printer, const char* name, LONG value, DWORD size) {
  const DWORD error = SetPrinterDataA(printer, const_cast<LPSTR>(name), REG_DWORD,
                                      reinterpret_cast<LPBYTE>(&value), size);
  if (error == ERROR_SUCCESS) return 1;
  qx::DebugLineFormat(128, "Write Print data to registry failed Dec = %d Hex = %x\r\n",
                      static_cast<int>(error), static_cast<unsigned>(error));
  return 0;
}

}  // namespace

// Holds the pipe mutex for the whole switch, so no pipe transaction runs
// against a half-updated record. A name that does not fit the 128-byte
// printer name is refused rather than cut, since the cut name could be
// another printer's.
BOOL QXAPI qxSetNewPrinter(LPCSTR printerName) {
  qx::MutexHold hold(g_state.pipeMutex);
  if (!qx::FitsPrinterName(printerName)) return 0;

  qx::PrinterHandle printer;
  if (!printer.Open(printerName, PRINTER_ALL_ACCESS)) {
    qx::LogLevel(1, "qxSetNewPrinter - Printer Open (%s) FAILED", printerName);
    return 0;
  }
  printer.Close();
  qx::LogLevel(1, "qxSetNewPrinter - Printer Open (%s) SUCCESSFUL", printerName);

  // The port and driver are emptied first, so that a failed identity query
  // leaves no trace of the previous printer's port in the new pipe name.
  char name[qx::kNameSize];
  std::memcpy(name, printerName, std::strlen(printerName) + 1);
  std::memcpy(g_state.printerName, name, sizeof name);
  g_state.portName[0] = '\0';
  g_state.driverName[0] = '\0';
  DWORD length = 0;
  char scratch[qx::kNameSize];
  qx::GetCurrentPrinterIdentity(&g_state.pageSetup, scratch, sizeof scratch, &length,
                                g_state.portName, qx::kNameSize, &length, g_state.driverName,
                                qx::kNameSize, &length);
  std::memcpy(g_state.printerName, name, sizeof name);

  char pipeName[kPipeWorkSize];
  qx::FormPipeName(pipeName, sizeof pipeName, g_state.portName);
  qx::CopyText(g_state.pipeName, qx::kPipeNameSize, pipeName);

  // The probe opens a handle of its own: a pipe the host holds open through
  // qxLMOpenPipe stays as it is.
  qx::FileHandle pipe;
  g_state.lmAvailable = qx::OpenPipeRecovering(g_state.pipeName, kSwitchProbeTimeout, &pipe) == QX_ERR_OK ? 1 : 0;
  return 1;
}

QXRESULT QXAPI qxSetPrinterKeyByName(LPCSTR keyName, LONG value) {
  const char* key = keyName != nullptr ? MatchPrinterDataKey(keyName) : nullptr;
  if (key == nullptr) return QX_ERR_UNKNOWN_KEY;

  qx::PrinterHandle printer;
  if (!printer.Open(g_state.printerName, PRINTER_ALL_ACCESS)) return QX_ERR_NO_PRINTER;

  // Only a setting the driver already keeps is written: the value is looked
  // up under the name as the caller spelled it.
  BYTE existing[1024];
  DWORD type = 0;
  DWORD needed = 0;
  if (GetPrinterDataA(printer.get(), const_cast<LPSTR>(keyName), &type, existing, sizeof existing,
                      &needed) != ERROR_SUCCESS) {
    return QX_ERR_UNKNOWN_KEY;
  }
  const int written = WritePrinterDataValue(printer.get(), key, value, sizeof value);
  printer.Close();
  return written == 1 ? QX_ERR_OK : QX_ERR_KEY_WRITE;
}
