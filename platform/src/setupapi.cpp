// setupapi.cpp - POSIX platform layer, Win32 side: the device setup calls
// that find a USB printer by its port (SetupDiGetClassDevsA,
// SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA,
// SetupDiOpenDevRegKey, SetupDiDestroyDeviceInfoList), over the world's USB
// printer interfaces (world file "usb_interfaces"). They are exported, and
// reached as the library reaches them, through LoadLibraryA("Setupapi") and
// GetProcAddress.
//
// A device-information set is a snapshot of the interfaces taken when it is
// made, counted as a live device-info set until destroyed. The records the
// calls fill carry their member's index (Reserved, DevInst: index + 1), so
// that a record of another set or a made-up one is refused.
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <qxwire/fields.h>
#include <qxwire/ops.h>

#include "accounting.h"
#include "handles.h"
#include "modules.h"
#include "registry.h"
#include "simlink.h"

namespace qxplat {
namespace {

// GUID_DEVINTERFACE_USBPRINT and the Printer setup class.
constexpr GUID kUsbPrintInterface = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
constexpr GUID kUsbPrinterInterface = {
    0x762bb1c4, 0x5164, 0x11d1, {0xb0, 0x0b, 0x00, 0xc0, 0xd1, 0x57, 0x0f, 0x9e}};
constexpr GUID kPrinterClass = {0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Member {
  std::string device_path;
  std::string port_name;
};

class DevInfoSet final : public Object {
 public:
  explicit DevInfoSet(std::vector<Member> members) : Object(QXPLAT_KIND_DEVINFO), members_(std::move(members)) {}
  bool ClosableByCloseHandle() const override { return false; }
  const std::vector<Member>& members() const { return members_; }
  // The member a record names by its tag (index + 1), or null.
  const Member* At(ULONG_PTR tag) const { return tag >= 1 && tag <= members_.size() ? &members_[tag - 1] : nullptr; }

 private:
  std::vector<Member> members_;
};

// The world's USB printer interfaces, in order; none when no world answers.
std::vector<Member> WorldInterfaces() {
  nlohmann::json reply;
  std::vector<Member> members;
  if (SimRequest(SimDir(), {{qxwire::kOp, qxwire::spool::kUsbInterfaces}}, reply) != 0) return members;
  const nlohmann::json& list = qxwire::Member(reply, "interfaces");
  if (!list.is_array()) return members;
  for (const nlohmann::json& item : list) {
    const std::string* path = qxwire::TextOf(item, "device_path");
    const std::string* port = qxwire::TextOf(item, "port_name");
    if (path != nullptr && port != nullptr) members.push_back({*path, *port});
  }
  return members;
}

BOOL FailBool(DWORD error) {
  SetLastError(error);
  return FALSE;
}

HDEVINFO FailSet(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HKEY FailKey(DWORD error) {
  SetLastError(error);
  return static_cast<HKEY>(INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// SetupDiGetClassDevsA - a set of the present devices of a class.
//   ClassGuid (in): with DIGCF_DEVICEINTERFACE, an interface class; the USB
//     printer interfaces are "762bb1c4-5164-11d1-b00b-00c0d1570f9e" (and
//     GUID_DEVINTERFACE_USBPRINT); any other class has no members here.
//   Enumerator, hwndParent: ignored.
//   Flags (in): DIGCF_*; without DIGCF_DEVICEINTERFACE the set holds no
//     interfaces.
// Returns the set (destroy it with SetupDiDestroyDeviceInfoList), or
// INVALID_HANDLE_VALUE: ERROR_INVALID_PARAMETER for a null class without
// DIGCF_ALLCLASSES, ERROR_INVALID_FLAGS for unknown flags. With no world
// running the set is empty. Fault class "open".
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR, HWND, DWORD Flags) {
  if (FaultPoint(kFaultOpen, "SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY)) return INVALID_HANDLE_VALUE;
  constexpr DWORD kKnown = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
  if ((Flags & ~kKnown) != 0) return FailSet(ERROR_INVALID_FLAGS);
  if (ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES)) return FailSet(ERROR_INVALID_PARAMETER);
  try {
    std::vector<Member> members;
    const bool printers = ClassGuid == nullptr || SameGuid(*ClassGuid, kUsbPrinterInterface) ||
                          SameGuid(*ClassGuid, kUsbPrintInterface);
    if ((Flags & DIGCF_DEVICEINTERFACE) && printers) members = WorldInterfaces();
    return InsertHandle(std::make_shared<DevInfoSet>(std::move(members)));
  } catch (const std::exception&) {
    return FailSet(ERROR_NOT_ENOUGH_MEMORY);
  }
}

// SetupDiEnumDeviceInterfaces - member MemberIndex of the set.
//   DeviceInfoData: must be null (interfaces of the whole set).
//   InterfaceClassGuid (in): the interface class.
//   DeviceInterfaceData (out): cbSize must be sizeof(SP_DEVICE_INTERFACE_DATA).
// FALSE with ERROR_NO_MORE_ITEMS (259) past the last member (or for a class
// the set does not hold), ERROR_INVALID_USER_BUFFER for a wrong cbSize,
// ERROR_INVALID_PARAMETER for null arguments, ERROR_INVALID_HANDLE for what
// is not a set.
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  if (FaultPoint({}, "SetupDiEnumDeviceInterfaces", ERROR_NO_MORE_ITEMS)) return FALSE;
  const auto set = LookupHandle<DevInfoSet>(DeviceInfoSet);
  if (set == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr || DeviceInfoData != nullptr) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return FailBool(ERROR_INVALID_USER_BUFFER);
  const bool printers =
      SameGuid(*InterfaceClassGuid, kUsbPrinterInterface) || SameGuid(*InterfaceClassGuid, kUsbPrintInterface);
  if (!printers || MemberIndex >= set->members().size()) return FailBool(ERROR_NO_MORE_ITEMS);
  DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = MemberIndex + 1;
  return TRUE;
}

// SetupDiGetDeviceInterfaceDetailA - the device path of an interface.
//   DeviceInterfaceDetailData (out, optional): cbSize must be
//     sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) (8), else
//     ERROR_INVALID_USER_BUFFER; null with a size of 0 to ask the size.
//   DeviceInterfaceDetailDataSize (in): the record's size in bytes.
//   RequiredSize (out, optional): what the record needs: the path's offset
//     (4), the path and its zero.
//   DeviceInfoData (out, optional): the interface's device; its cbSize must
//     be sizeof(SP_DEVINFO_DATA).
// FALSE with ERROR_INSUFFICIENT_BUFFER (122) when the record is null or too
// small (RequiredSize set); ERROR_INVALID_USER_BUFFER for a null record with
// a size, or a wrong cbSize; ERROR_INVALID_PARAMETER for an interface record
// of no member; ERROR_INVALID_HANDLE for what is not a set.
BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
  if (FaultPoint({}, "SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_USER_BUFFER)) return FALSE;
  const auto set = LookupHandle<DevInfoSet>(DeviceInfoSet);
  if (set == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return FailBool(ERROR_INVALID_PARAMETER);
  }
  const Member* member = set->At(DeviceInterfaceData->Reserved);
  if (member == nullptr) return FailBool(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceDetailData == nullptr ? DeviceInterfaceDetailDataSize != 0
                                           : DeviceInterfaceDetailData->cbSize !=
                                                 sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return FailBool(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return FailBool(ERROR_INVALID_USER_BUFFER);
  }
  const size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const auto needed = static_cast<DWORD>(offset + member->device_path.size() + 1);
  if (RequiredSize != nullptr) *RequiredSize = needed;
  if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed) {
    return FailBool(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(DeviceInterfaceDetailData->DevicePath, member->device_path.c_str(), member->device_path.size() + 1);
  if (DeviceInfoData != nullptr) {
    DeviceInfoData->ClassGuid = kPrinterClass;
    DeviceInfoData->DevInst = static_cast<DWORD>(DeviceInterfaceData->Reserved);
    DeviceInfoData->Reserved = DeviceInterfaceData->Reserved;
  }
  return TRUE;
}

// SetupDiOpenDevRegKey - a device's registry key: DIREG_DEV holds the value
// "PortName" (REG_SZ, the interface's port), DIREG_DRV no values. Scope
// DICS_FLAG_GLOBAL or DICS_FLAG_CONFIGSPECIFIC. Close it with RegCloseKey.
// Returns the key, or INVALID_HANDLE_VALUE (not null) with
// ERROR_INVALID_HANDLE (not a set), ERROR_INVALID_PARAMETER (no device of
// the set), ERROR_INVALID_USER_BUFFER (wrong cbSize) or ERROR_INVALID_FLAGS
// (scope or key type). Fault class "open".
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD,
                                 DWORD KeyType, REGSAM) {
  if (FaultPoint(kFaultOpen, "SetupDiOpenDevRegKey", ERROR_KEY_DOES_NOT_EXIST)) {
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  const auto set = LookupHandle<DevInfoSet>(DeviceInfoSet);
  if (set == nullptr) return FailKey(ERROR_INVALID_HANDLE);
  if (DeviceInfoData == nullptr) return FailKey(ERROR_INVALID_PARAMETER);
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return FailKey(ERROR_INVALID_USER_BUFFER);
  const Member* member = set->At(DeviceInfoData->Reserved);
  if (member == nullptr) return FailKey(ERROR_INVALID_PARAMETER);
  if ((Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) ||
      (KeyType != DIREG_DEV && KeyType != DIREG_DRV)) {
    return FailKey(ERROR_INVALID_FLAGS);
  }
  try {
    std::vector<RegistryValue> values;
    if (KeyType == DIREG_DEV) values.push_back({"PortName", REG_SZ, member->port_name + '\0'});
    return NewRegistryKey(std::move(values));
  } catch (const std::exception&) {
    return FailKey(ERROR_NOT_ENOUGH_MEMORY);
  }
}

// SetupDiDestroyDeviceInfoList - the set goes: TRUE, or FALSE with
// ERROR_INVALID_HANDLE for what is not a set.
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (FaultPoint({}, "SetupDiDestroyDeviceInfoList", ERROR_INVALID_HANDLE)) return FALSE;
  const auto set = RemoveHandle<DevInfoSet>(DeviceInfoSet);
  if (set == nullptr) return FailBool(ERROR_INVALID_HANDLE);
  set->OnClose();
  return TRUE;
}

}  // extern "C"

namespace {

// AsProc - a procedure as GetProcAddress returns it (through void(void),
// the type that converts to and from every function type).
template <class F>
FARPROC AsProc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(f));
}

// The Setupapi module's procedures, for LoadLibraryA("Setupapi") and GetProcAddress.
[[maybe_unused]] const bool kRegistered = [] {
  const char* module = "Setupapi";
  bool ok = RegisterProc(module, "SetupDiGetClassDevsA", AsProc(SetupDiGetClassDevsA));
  ok &= RegisterProc(module, "SetupDiEnumDeviceInterfaces", AsProc(SetupDiEnumDeviceInterfaces));
  ok &= RegisterProc(module, "SetupDiGetDeviceInterfaceDetailA",
                     AsProc(SetupDiGetDeviceInterfaceDetailA));
  ok &= RegisterProc(module, "SetupDiOpenDevRegKey", AsProc(SetupDiOpenDevRegKey));
  ok &= RegisterProc(module, "SetupDiDestroyDeviceInfoList",
                     AsProc(SetupDiDestroyDeviceInfoList));
  return ok;
}();

}  // namespace
