// The cash-drawer pulse: the printer's drawer command, sent as a raw document
// only while the language monitor reports the printer in order.
#include <qxdll.h>

namespace {

// ESC "DR" 0x02: pulse the drawer output.
constexpr BYTE kDrawerCommand[] = {0x1B, 0x44, 0x52, 0x02};

}  // namespace

extern "C" {

BOOL QXAPI qxPulseCashDrawerGPrinter(void) {
  BOOL ok = FALSE;
  if (qxLMGetPrinterOKStatus(&ok) != QX_ERR_OK || !ok) return 0;
  return qxPrintBypassPrintDocument("Cash Drawer Command", kDrawerCommand, sizeof kDrawerCommand);
}

}  // extern "C"
