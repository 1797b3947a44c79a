// Which port the direct road reaches: the current printer's spooler port
// name, and the port behind it while the queue sits on "FILE:".
#include "core/discovery.h"
#include "core/state.h"
#include "core/text.h"
#include "port/port.h"

namespace qx {

void CurrentSpoolerPort(char (&port)[kSpoolerPortSize]) {
  char name[kNameSize] = {};
  char driver[64] = {};
  DWORD nameLength = 0, portLength = 0, driverLength = 0;
  port[0] = '\0';
  if (GetCurrentPrinterIdentity(nullptr, name, sizeof name, &nameLength, port, sizeof port, &portLength, driver,
                                sizeof driver, &driverLength) != QX_ERR_OK) {
    port[0] = '\0';
  }
}

LPCSTR PrinterPortPath(LPCSTR spoolerPort) { return Contains(spoolerPort, "FILE") ? g_state.portName : spoolerPort; }

}  // namespace qx
