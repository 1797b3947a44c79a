/*
 * setupapi.h - POSIX platform layer, Win32 header: device setup services,
 * the part that enumerates device interfaces and opens a device's registry
 * key (implemented by platform/src/setupapi.cpp over the world's USB printer
 * interfaces). Layouts are Win64's: SP_DEVICE_INTERFACE_DETAIL_DATA_A is 8
 * bytes (the size its cbSize must hold), SP_DEVINFO_DATA and
 * SP_DEVICE_INTERFACE_DATA 32.
 */
#ifndef QX_SETUPAPI_H
#define QX_SETUPAPI_H

#include <windows.h>

typedef PVOID HDEVINFO;
typedef DWORD DEVINST;

/* SetupDiGetClassDevsA flags. */
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

/* SetupDiOpenDevRegKey scopes and key types. */
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DICS_FLAG_CONFIGGENERAL 0x00000004
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004

/* SP_DEVICE_INTERFACE_DATA.Flags. */
#define SPINT_ACTIVE 0x00000001
#define SPINT_DEFAULT 0x00000002
#define SPINT_REMOVED 0x00000004

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

QX_LAYOUT_ASSERT(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA");
QX_LAYOUT_ASSERT(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA");
QX_LAYOUT_ASSERT(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "SP_DEVICE_INTERFACE_DETAIL_DATA_A");

QX_BEGIN_DECLS

WINBASEAPI HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                                DWORD Flags);
WINBASEAPI BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                   const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                                   PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
WINBASEAPI BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                                        DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                        PSP_DEVINFO_DATA DeviceInfoData);
WINBASEAPI HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                            DWORD HwProfile, DWORD KeyType, REGSAM samDesired);
WINBASEAPI BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

QX_END_DECLS

#define SetupDiGetClassDevs SetupDiGetClassDevsA
#define SetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailA
#define SP_DEVICE_INTERFACE_DETAIL_DATA SP_DEVICE_INTERFACE_DETAIL_DATA_A
#define PSP_DEVICE_INTERFACE_DETAIL_DATA PSP_DEVICE_INTERFACE_DETAIL_DATA_A

#endif /* QX_SETUPAPI_H */
