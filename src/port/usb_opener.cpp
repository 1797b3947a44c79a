// The USB device opener: a USB printer is reached through its device
// interface, not through the spooler's port name. SetupAPI (loaded at run
// time) lists the present interfaces of the USB printer class; the one whose
// device key holds the wanted "PortName" is opened by its device path.
#include <windows.h>

#include <setupapi.h>

#include <qxdll.h>

#include "core/resources.h"
#include "core/state.h"
#include "core/text.h"
#include "port/port.h"

namespace qx {

namespace {

constexpr char kUsbPrinterClass[] = "762bb1c4-5164-11d1-b00b-00c0d1570f9e";
constexpr DWORD kPortNameValueSize = 128;

using GetClassDevsFn = decltype(&SetupDiGetClassDevsA);
using EnumInterfacesFn = decltype(&SetupDiEnumDeviceInterfaces);
using GetDetailFn = decltype(&SetupDiGetDeviceInterfaceDetailA);
using OpenDevRegKeyFn = decltype(&SetupDiOpenDevRegKey);
using DestroyListFn = decltype(&SetupDiDestroyDeviceInfoList);

// A device-information set, destroyed with the function SetupAPI gave.
class DeviceInfoSet {
 public:
  DeviceInfoSet(HDEVINFO set, DestroyListFn destroy) : set_(set), destroy_(destroy) {}
  ~DeviceInfoSet() {
    if (valid()) destroy_(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
  DestroyListFn destroy_;
};

// A registry key, closed with RegCloseKey.
class RegistryKey {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() {
    if (valid()) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  bool valid() const { return key_ != nullptr && key_ != static_cast<HKEY>(INVALID_HANDLE_VALUE); }
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

// Whether the device key's "PortName" value is the wanted port, ignoring
// case. A value may come without its terminating zero; it is read as text of
// at most 127 characters.
bool PortNameMatches(HKEY key, LPCSTR portName) {
  char value[kPortNameValueSize] = {};
  DWORD type = 0;
  DWORD size = sizeof value - 1;
  if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  return lstrcmpiA(value, portName) == 0;
}

}  // namespace

bool UsesUsbOpener(LPCSTR spoolerPort) { return g_state.osVersion.dwMajorVersion >= 5 && Contains(spoolerPort, "USB"); }

HANDLE OpenUsbDevice(LPCSTR portName) {
  if (portName == nullptr) return INVALID_HANDLE_VALUE;
  const Module setupApi("Setupapi");
  const auto getClassDevs = setupApi.Entry<GetClassDevsFn>("SetupDiGetClassDevsA");
  const auto enumInterfaces = setupApi.Entry<EnumInterfacesFn>("SetupDiEnumDeviceInterfaces");
  const auto getDetail = setupApi.Entry<GetDetailFn>("SetupDiGetDeviceInterfaceDetailA");
  const auto openDevRegKey = setupApi.Entry<OpenDevRegKeyFn>("SetupDiOpenDevRegKey");
  const auto destroyList = setupApi.Entry<DestroyListFn>("SetupDiDestroyDeviceInfoList");
  if (getClassDevs == nullptr || enumInterfaces == nullptr || getDetail == nullptr || openDevRegKey == nullptr ||
      destroyList == nullptr) {
    return INVALID_HANDLE_VALUE;
  }

  GUID usbPrinters;
  if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(const_cast<char*>(kUsbPrinterClass)), &usbPrinters) != RPC_S_OK) {
    return INVALID_HANDLE_VALUE;
  }
  const DeviceInfoSet set(getClassDevs(&usbPrinters, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                          destroyList);
  if (!set.valid()) return INVALID_HANDLE_VALUE;

  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD member = 0; enumInterfaces(set.get(), nullptr, &usbPrinters, member, &interfaceData); ++member) {
    HeapBlock detail;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const Fetched fetched = FetchInto(detail, [&](BYTE* buffer, DWORD size, DWORD* needed) {
      auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
      // The record's size field is the fixed part's size, whatever the block's.
      if (record != nullptr) {
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return FALSE;
        record->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      }
      return getDetail(set.get(), &interfaceData, record, size, needed, record != nullptr ? &device : nullptr);
    });
    if (fetched != Fetched::kAll) continue;

    // Read access is all the "PortName" value needs.
    const RegistryKey key(openDevRegKey(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
    if (!key.valid() || !PortNameMatches(key.get(), portName)) continue;

    // The path ends within the block: the detail is terminated there.
    auto* record = detail.as<SP_DEVICE_INTERFACE_DETAIL_DATA_A>();
    detail.get()[detail.size() - 1] = '\0';
    return CreateFileA(record->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace qx
