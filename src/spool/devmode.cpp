// Changing a printer's stored device mode through the spooler.
#include "spool/devmode.h"

#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"

namespace qx {


namespace {

constexpr size_t kLine = 128;  // every line of this routine is formatted into 128 bytes

void DumpDevMode(const DEVMODEA& mode) {
  DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. DevMode dmFields = %x",
                  static_cast<unsigned>(mode.dmFields));
  DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. DevMode dmPaperSize = %d", mode.dmPaperSize);
}

// The capability bit an action needs, or 0 for the refresh, which needs none.
DWORD CapabilityOf(WORD action) {
  switch (action) {
    case kActionPaperSize: return DM_PAPERSIZE;
    case kActionOrientation: return DM_ORIENTATION;
    case kActionOutputBin: return DM_DEFAULTSOURCE;
    default: return 0;
  }
}

// Applies an action to the fetched record. False when the driver lacks the
// capability; the lines say which.
bool ApplyAction(PRINTER_INFO_2A& info, SHORT value, WORD action) {
  DEVMODEA& mode = *info.pDevMode;
  static constexpr const char* kUnsupported[] = {
      nullptr,
      "\nDLL - SetPrinterCharc. .. Driver does NOT support paper size changes",
      "\nDLL - SetPrinterCharc. .. Driver does NOT support orientation change",
      "\nDLL - SetPrinterCharc. .. Driver does NOT support paper bin change",
  };
  switch (action) {
    case kActionPaperSize:
      DebugLine("\nDLL - SetPrinterCharc. .. Action = Set Paper Size");
      break;
    case kActionOrientation:
      DebugLine("\nDLL - SetPrinterCharc. .. Action = Set Orientation");
      break;
    case kActionOutputBin:
      DebugLine("\nDLL - SetPrinterCharc. .. Action = Set output bin");
      break;
    case kActionRefresh:
      // The settings are written back as they are; only an orientation bit
      // narrows the merge to that one field.
      if (mode.dmFields & DM_ORIENTATION) {
        mode.dmFields = DM_ORIENTATION;
        info.pSecurityDescriptor = nullptr;
      }
      return true;
    default:
      return false;
  }
  const DWORD capability = CapabilityOf(action);
  if ((mode.dmFields & capability) == 0) {
    DebugLine(kUnsupported[action]);
    return false;
  }
  if (action == kActionPaperSize) DebugLine("\nDLL - SetPrinterCharc. .. Driver supports paper size changes");
  // Exactly the one bit: the merge sees only the field being changed.
  mode.dmFields = capability;
  switch (action) {
    case kActionPaperSize:
      mode.dmPaperSize = value;
      mode.dmPaperLength = 0;
      mode.dmPaperWidth = 0;
      break;
    case kActionOrientation:
      mode.dmOrientation = value;
      break;
    default:
      mode.dmDefaultSource = value;
      break;
  }
  info.pSecurityDescriptor = nullptr;
  return true;
}

QXRESULT Change(LPCSTR printerName, SHORT value, WORD action) {
  PrinterHandle printer;
  if (!printer.Open(printerName, PRINTER_ALL_ACCESS)) {
    DebugLine("\nDLL - SetPrinterCharc. .. Open Printer failed");
    LogLevel(1, "SetPrinterCharacteristics - Printer Open (%s) FAILED", printerName);
    return QX_ERR_NO_PRINTER;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. Open Printer passed - Printer = ");
  DebugLineFormat(kLine, "%s", printerName);

  GlobalBlock block;
  DWORD needed = 0;
  const Fetched fetched = FetchInto(
      block, [&](BYTE* buffer, DWORD size, DWORD* got) { return GetPrinterA(printer.get(), 2, buffer, size, got); },
      &needed, true);
  if (fetched == Fetched::kNoSize) {
    DebugLine("\nDLL - SetPrinterCharc. .. Problem with 1st call to GetPrinter");
    return QX_ERR_GETPRINTER;
  }
  DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. Get printer needs %u bytes for PRINTER_INFO_2",
                  static_cast<unsigned>(needed));
  if (fetched == Fetched::kNoMemory) {
    DebugLine("\nDLL - SetPrinterCharc. .. Memory allocation for pinfo 2 structure failed");
    return QX_ERR_NO_MEMORY;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. Memory allocation for pinfo 2 structure passed");
  if (fetched == Fetched::kNoFill) {
    DebugLine("\nDLL - SetPrinterCharc. .. Second call to Get Printer failed");
    return QX_ERR_FAILED;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. Second call to Get Printer passed");

  auto& info = *block.as<PRINTER_INFO_2A>();
  if (info.pDevMode == nullptr) {
    DebugLine("\nDLL - SetPrinterCharc. .. GetPrinter FAILED to fill in devMode");
    return QX_ERR_FAILED;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. GetPrinter filled in devMode");
  DumpDevMode(*info.pDevMode);
  if (info.pPortName != nullptr) DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. pPortName = %s", info.pPortName);
  if (info.pLocation != nullptr) DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. pLocation = %s", info.pLocation);
  if (info.pDriverName != nullptr) {
    DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. pDriverName = %s", info.pDriverName);
  }

  const DWORD status = info.Status;
  DebugLineFormat(kLine,
                  "\nDLL - SetPrinterCharc. .. Status = %d (Offline: %d - Unknown: %d - Busy: %d - Not Available: %d)",
                  static_cast<int>(status), (status & PRINTER_STATUS_OFFLINE) ? 1 : 0,
                  (status & PRINTER_STATUS_SERVER_UNKNOWN) ? 1 : 0, (status & PRINTER_STATUS_BUSY) ? 1 : 0,
                  (status & PRINTER_STATUS_NOT_AVAILABLE) ? 1 : 0);
  g_state.lastStatus.status = status;
  g_state.lastStatus.statusRead = 1;

  if (action < kActionPaperSize || action > kActionRefresh) {
    DebugLine("\nDLL - SetPrinterCharc. .. Action NOT supported");
    return QX_ERR_FAILED;
  }
  if (!ApplyAction(info, value, action)) return QX_ERR_FAILED;

  DebugLine("\nDLL - SetPrinterCharc. .. devMode before document properties");
  DumpDevMode(*info.pDevMode);
  if (DocumentPropertiesA(nullptr, printer.get(), const_cast<LPSTR>(printerName), info.pDevMode,
                          info.pDevMode, DM_IN_BUFFER | DM_OUT_BUFFER) != IDOK) {
    DebugLine("\nDLL - SetPrinterCharc. .. Document properties merge failed");
    return QX_ERR_FAILED;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. Document properties merge passed");
  DebugLine("\nDLL - SetPrinterCharc. .. DevMode before set printer");
  DumpDevMode(*info.pDevMode);

  if (!SetPrinterA(printer.get(), 2, block.get(), 0)) {
    DebugLine("\nDLL - SetPrinterCharc. .. failed to make requested change");
    return QX_ERR_FAILED;
  }
  DebugLine("\nDLL - SetPrinterCharc. .. requested change made");
  return QX_ERR_OK;
}

}  // namespace

QXRESULT SetPrinterCharacteristics(LPCSTR printer, SHORT value, WORD action) {
  g_state.lastStatus = LastStatus{};
  LogLevel(1, "SetPrinterCharacteristics - Printer (%s) Start - actionID: %d", printer ? printer : "", value);
  DebugLineFormat(kLine, "\nDLL - SetPrinterCharc. .. passed parameter = %d", value);
  const QXRESULT result = Change(printer, value, action);
  LogLevel(1, "SetPrinterCharacteristics - Printer (%s) End", printer ? printer : "");
  return result;
}

QXRESULT SetCurrentPrinterCharacteristics(LONG value, LONG action) {
  return SetPrinterCharacteristics(g_state.printerName, static_cast<SHORT>(value),
                                   static_cast<WORD>(action));
}

}  // namespace qx
