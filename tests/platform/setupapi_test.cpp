// setupapi_test.cpp - the calls of the USB device opener against qxsimd:
// Setupapi loaded at run time, UuidFromStringA, the device-information set
// over the world's USB printer interfaces (enumeration, the detail record's
// size probe and cbSize rule, the device key with "PortName"),
// RegQueryValueExA and RegCloseKey, lstrcmpiA; handles, sets, keys and
// module references all released; a fault point for each call.
#include <ntddpar.h>
#include <qxplatform.h>
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "win32_expect.h"

namespace {

const char kClass[] = "762bb1c4-5164-11d1-b00b-00c0d1570f9e";
const std::string kPath1 = "\\\\?\\usb#vid_1a2b&pid_0038#one#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}";
const std::string kPath2 = "\\\\?\\usb#vid_1a2b&pid_0038#two#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}";

RPC_CSTR Text(const char* s) { return reinterpret_cast<RPC_CSTR>(const_cast<char*>(s)); }

class SetupApi : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override {
    return R"({
      "ports": ["USB001", "USB002"],
      "usb_interfaces": [
        {"device_path": "\\\\?\\usb#vid_1a2b&pid_0038#one#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "port_name": "USB001"},
        {"device_path": "\\\\?\\usb#vid_1a2b&pid_0038#two#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "port_name": "USB002"}
      ],
      "devices": [{"port": "USB002", "model": "ZDA-38", "device_id": "MFG:QX;MDL:ZDA-38;"}]
    })";
  }
  void SetUp() override {
    SimFixture::SetUp();
    qxplat_counts_snapshot(&before_);
    ASSERT_EQ(UuidFromStringA(Text(kClass), &guid_), RPC_S_OK);
  }
  void TearDown() override {
    qxplat_fault_clear();
    qxplat_counts after;
    qxplat_counts_snapshot(&after);
    char diff[256];
    EXPECT_EQ(qxplat_counts_diff(&before_, &after, diff, sizeof diff), 0u) << diff;
    SimFixture::TearDown();
  }
  HDEVINFO Set() { return SetupDiGetClassDevsA(&guid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE); }
  // The device path of member index through the size probe.
  std::string PathOf(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, index, &data)) return "<none>";
    DWORD needed = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return "<no probe>";
    }
    std::vector<char> block(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, device)) return "<failed>";
    return detail->DevicePath;
  }

  GUID guid_{};
  qxplat_counts before_{};
};

TEST(Uuids, FromTheirText) {
  UUID u{};
  ASSERT_EQ(UuidFromStringA(Text(kClass), &u), RPC_S_OK);
  EXPECT_EQ(u.Data1, 0x762bb1c4u);
  EXPECT_EQ(u.Data2, 0x5164);
  EXPECT_EQ(u.Data3, 0x11d1);
  const BYTE tail[8] = {0xb0, 0x0b, 0x00, 0xc0, 0xd1, 0x57, 0x0f, 0x9e};
  EXPECT_EQ(std::memcmp(u.Data4, tail, 8), 0);
  UUID upper{};
  ASSERT_EQ(UuidFromStringA(Text("762BB1C4-5164-11D1-B00B-00C0D1570F9E"), &upper), RPC_S_OK);
  EXPECT_EQ(std::memcmp(&u, &upper, sizeof u), 0);
  for (const char* bad : {"{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "762bb1c4-5164-11d1-b00b-00c0d1570f9", "",
                          "762bb1c4-5164-11d1-b00b-00c0d1570f9e0", "762bb1c4+5164-11d1-b00b-00c0d1570f9e",
                          "762bb1c4-5164-11d1-b00b-00c0d1570fxe"}) {
    UUID left = u;
    EXPECT_EQ(UuidFromStringA(Text(bad), &left), RPC_S_INVALID_STRING_UUID) << bad;
    EXPECT_EQ(std::memcmp(&left, &u, sizeof u), 0) << "left alone: " << bad;
  }
  ASSERT_EQ(UuidFromStringA(nullptr, &u), RPC_S_OK);
  EXPECT_EQ(u.Data1, 0u) << "a null text is the nil UUID";
  EXPECT_EQ(UuidFromStringA(Text(kClass), nullptr), RPC_S_INVALID_ARG);
}

TEST(Strings, LstrcmpiIgnoresCase) {
  EXPECT_EQ(lstrcmpiA("usb002", "USB002"), 0);
  EXPECT_LT(lstrcmpiA("USB001", "usb002"), 0);
  EXPECT_GT(lstrcmpiA("USB0021", "usb002"), 0);
}

TEST_F(SetupApi, LoadedAtRunTimeByName) {
  const int64_t modules = qxplat_live_count(QXPLAT_KIND_MODULE);
  HMODULE setupapi = LoadLibraryA("Setupapi");
  ASSERT_NE(setupapi, nullptr);
  for (const char* name : {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
                           "SetupDiOpenDevRegKey", "SetupDiDestroyDeviceInfoList"}) {
    EXPECT_NE(GetProcAddress(setupapi, name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(setupapi, "SetupDiGetClassDevsW"), nullptr);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_MODULE), modules + 1);
  EXPECT_TRUE(FreeLibrary(setupapi));
}

TEST_F(SetupApi, EnumeratesTheWorldsPrinterInterfaces) {
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVINFO), before_.live[QXPLAT_KIND_DEVINFO] + 1);
  EXPECT_EQ(PathOf(set, 0, nullptr), kPath1);
  EXPECT_EQ(PathOf(set, 1, nullptr), kPath2);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 2, &data), ERROR_NO_MORE_ITEMS);
  data.cbSize = 8;
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 0, &data), ERROR_INVALID_USER_BUFFER);
  GUID other = guid_;
  other.Data1 ^= 1;
  data.cbSize = sizeof data;
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data), ERROR_NO_MORE_ITEMS);
  ASSERT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FAILS(SetupDiDestroyDeviceInfoList(set), ERROR_INVALID_HANDLE);
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 0, &data), ERROR_INVALID_HANDLE);
}

TEST_F(SetupApi, TheDetailRecordsSizeProbeAndCbSize) {
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 1, &data));
  DWORD needed = kUntouched;
  EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(needed, 4 + kPath2.size() + 1) << "cbSize's 4 bytes, the path and its zero";
  std::vector<char> block(needed + 8, 'x');
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
  EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 8u);
  for (DWORD wrong : {0u, 5u, 6u, static_cast<DWORD>(needed)}) {
    SCOPED_TRACE(wrong);
    detail->cbSize = wrong;
    EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr),
                 ERROR_INVALID_USER_BUFFER);
  }
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed - 1, nullptr, nullptr),
               ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, needed, nullptr, nullptr),
               ERROR_INVALID_USER_BUFFER);
  SP_DEVINFO_DATA device{};
  device.cbSize = 8;
  EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, &device),
               ERROR_INVALID_USER_BUFFER);
  device.cbSize = sizeof device;
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, &device));
  EXPECT_EQ(std::string(detail->DevicePath), kPath2);
  EXPECT_EQ(block[needed], 'x') << "nothing past the size needed";
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApi, TheDeviceKeyHoldsThePortName) {
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  ASSERT_EQ(PathOf(set, 1, &device), kPath2);
  HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  ASSERT_NE(key, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_REGKEY), before_.live[QXPLAT_KIND_REGKEY] + 1);

  // Registry calls return their error and leave the last error alone.
  SetLastError(kUntouched);
  char value[128];
  DWORD type = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(key, "portname", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(value, "USB002");
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u) << "the size needed";
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(RegQueryValueExA(key, "Port", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "PortName", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

  // Failure is INVALID_HANDLE_VALUE, not null.
  SP_DEVINFO_DATA made_up{};
  made_up.cbSize = sizeof made_up;
  made_up.Reserved = 9;
  SetLastError(kUntouched);
  EXPECT_EQ(SetupDiOpenDevRegKey(set, &made_up, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetupDiOpenDevRegKey(set, &device, 8, 0, DIREG_DEV, KEY_ALL_ACCESS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SetupApi, TheSecondInterfaceOpensItsDevice) {
  // The USB device opener's walk: the member whose PortName is the port.
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  HANDLE opened = INVALID_HANDLE_VALUE;
  for (DWORD i = 0;; ++i) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    const std::string path = PathOf(set, i, &device);
    if (path == "<none>") break;
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
    ASSERT_NE(key, INVALID_HANDLE_VALUE);
    char port[128];
    DWORD size = sizeof port;
    const bool match = RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<LPBYTE>(port), &size) ==
                           ERROR_SUCCESS &&
                       lstrcmpiA(port, "usb002") == 0;
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    if (match) {
      opened = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      break;
    }
  }
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  ASSERT_NE(opened, INVALID_HANDLE_VALUE);
  char id[64];
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(opened, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id, sizeof id, &returned, nullptr));
  EXPECT_EQ(std::string(id, returned), "MFG:QX;MDL:ZDA-38;");
  EXPECT_TRUE(CloseHandle(opened));
}

TEST_F(SetupApi, NoWorldGivesAnEmptySet) {
  StopWorld();
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 0, &data), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  SetLastError(kUntouched);
  EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SetupApi, EveryCallHasAFaultPoint) {
  ASSERT_EQ(0, qxplat_fault_arm("SetupDiGetClassDevsA", 1, 0));
  SetLastError(kUntouched);
  EXPECT_EQ(Set(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  HDEVINFO set = Set();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_EQ(0, qxplat_fault_arm("SetupDiEnumDeviceInterfaces", 1, 0));
  EXPECT_FAILS(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 0, &data), ERROR_NO_MORE_ITEMS);
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid_, 0, &data));
  DWORD needed = 0;
  ASSERT_EQ(0, qxplat_fault_arm("SetupDiGetDeviceInterfaceDetailA", 1, 0));
  EXPECT_FAILS(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr), ERROR_INVALID_USER_BUFFER);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  ASSERT_EQ(PathOf(set, 0, &device), kPath1);
  ASSERT_EQ(0, qxplat_fault_arm("SetupDiOpenDevRegKey", 1, 0));
  EXPECT_EQ(SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS), INVALID_HANDLE_VALUE);
  HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  ASSERT_NE(key, INVALID_HANDLE_VALUE);
  DWORD size = 0;
  ASSERT_EQ(0, qxplat_fault_arm("RegQueryValueExA", 1, 0));
  EXPECT_EQ(RegQueryValueExA(key, "PortName", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(0, qxplat_fault_arm("RegCloseKey", 1, 0));
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << "the failed close left the key open";
  ASSERT_EQ(0, qxplat_fault_arm("SetupDiDestroyDeviceInfoList", 1, 0));
  EXPECT_FAILS(SetupDiDestroyDeviceInfoList(set), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  UUID u{};
  ASSERT_EQ(0, qxplat_fault_arm("UuidFromStringA", 1, 0));
  EXPECT_EQ(UuidFromStringA(Text(kClass), &u), RPC_S_INVALID_STRING_UUID);
  EXPECT_EQ(qxplat_fault_fired(), 8u);
}

}  // namespace
