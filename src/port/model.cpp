// Model identification: the attached printer's IEEE 1284 device ID, read
// from its port, and the model name it carries ("MDL:", else "MODEL:").
#include <windows.h>

#include <cstdio>
#include <cstring>

#include <qxdll.h>

#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"
#include "port/port.h"

using qx::g_state;

namespace qx {

namespace {

constexpr DWORD kDeviceIdSize = 1024;

}  // namespace

bool ReadDeviceId(LPSTR deviceId, DWORD size, ULONGLONG logEnable) {
  const int flag = logEnable != 0 ? 1 : 0;
  if (deviceId == nullptr || size < 2) return false;
  char spoolerPort[kSpoolerPortSize];
  CurrentSpoolerPort(spoolerPort);

  FileHandle port;
  if (UsesUsbOpener(spoolerPort)) {
    DebugLineFlagged("\nDLL Getting USB status NT 5.0", flag);
    port.Reset(OpenUsbDevice(spoolerPort));
  } else {
    DebugLineFlagged("DLL Getting Parallel status NT 5.0\r\n", flag);
    port.Reset(CreateFileA(PrinterPortPath(spoolerPort), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  if (!port.valid()) {
    DebugLineFlagged("Bad handle\r\n", flag);
    return false;
  }

  DebugLineFlagged("After Getting good handle, before device io control\r\n", flag);
  char buffer[kDeviceIdSize + 1] = {};
  DWORD count = 0;
  if (!DeviceIoControl(port.get(), kIoctlParQueryDeviceId, nullptr, 0, buffer, kDeviceIdSize, &count, nullptr)) {
    DebugLineFlagged("Bad PNP String\r\n", flag);
    return false;
  }
  DebugLineFlaggedFormat(flag, 2048, "%d bytes returned from iocontrol = \r\n", static_cast<int>(count));
  if (count > kDeviceIdSize) count = kDeviceIdSize;
  buffer[count] = '\0';
  // On the wire the ID is led by its length in two bytes, high byte first;
  // a port driver may pass them on. No ID text begins with a control
  // character, and no length of 1024 or less has a printable high byte.
  const char* text = buffer;
  if (count >= 2 && static_cast<BYTE>(buffer[0]) < 0x20) text += 2;
  DebugLineFlagged("qxGetModel - Full pnp string = \r\n", flag);
  DebugLineFlagged(text, flag);
  DebugLineFlagged("\r\n", flag);
  CopyText(deviceId, size, text);
  return true;
}

BOOL qxGetModel(LPSTR model, DWORD modelSize, ULONGLONG logEnable) {
  const int flag = logEnable != 0 ? 1 : 0;
  DebugLineFlagged("QX GET MODEL\r\n", flag);
  char deviceId[kDeviceIdSize + 1];
  if (!ReadDeviceId(deviceId, sizeof deviceId, logEnable)) return 0;
  if (!ModelFromDeviceId(deviceId, model, modelSize)) {
    DebugLineFlagged("Did not find model number identifier\r\n", flag);
    return 0;
  }
  DebugLineFlaggedFormat(flag, 2048, "qxGetModel - Model Name = %s\r\n", model);
  return 1;
}

}  // namespace qx
