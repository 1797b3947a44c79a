/*
 * winreg.h - POSIX platform layer, Win32 header: the registry calls the
 * library makes on keys it is given (a device's key from SetupDiOpenDevRegKey).
 *
 * Implemented by platform/src/registry.cpp. Registry calls return their
 * error as the result and leave the last error alone, as on Windows.
 */
#ifndef QX_WINREG_H
#define QX_WINREG_H

#include <windef.h>
#include <winerror.h>

typedef LONG LSTATUS;
typedef DWORD REGSAM;

/* Access rights of a key. */
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

QX_BEGIN_DECLS

WINBASEAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData);
WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY hKey);

QX_END_DECLS

#define RegQueryValueEx RegQueryValueExA

#endif /* QX_WINREG_H */
