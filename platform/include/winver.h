/*
 * winver.h - POSIX platform layer, Win32 header: version resources
 * (version.cpp). As on Windows, not part of windows.h: include it beside it.
 */
#ifndef QX_WINVER_H
#define QX_WINVER_H

#include <windef.h>

/* VS_FIXEDFILEINFO.dwSignature. */
#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VS_FFI_STRUCVERSION 0x00010000L
#define VS_FILE_INFO 16 /* RT_VERSION */
#define VS_VERSION_INFO 1

/* dwFileType. */
#define VFT_UNKNOWN 0x00000000L
#define VFT_APP 0x00000001L
#define VFT_DLL 0x00000002L
#define VFT_DRV 0x00000003L

/* The fixed part of a version resource: the root block "\\". */
typedef struct tagVS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

QX_LAYOUT_ASSERT(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO");

QX_BEGIN_DECLS

WINBASEAPI DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
WINBASEAPI BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
WINBASEAPI BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID *lplpBuffer, PUINT puLen);

QX_END_DECLS

#define GetFileVersionInfoSize GetFileVersionInfoSizeA
#define GetFileVersionInfo GetFileVersionInfoA
#define VerQueryValue VerQueryValueA

#endif /* QX_WINVER_H */
