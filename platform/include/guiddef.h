/*
 * guiddef.h - POSIX platform layer, Win32 header: the GUID record.
 */
#ifndef QX_GUIDDEF_H
#define QX_GUIDDEF_H

#include <winnt.h>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;
#endif

typedef GUID IID;
typedef GUID CLSID;
typedef GUID *LPGUID;
typedef const GUID *LPCGUID;
#ifdef __cplusplus
#define REFGUID const GUID &
#define REFIID const IID &
#define REFCLSID const IID &
#else
#define REFGUID const GUID *
#define REFIID const IID *
#define REFCLSID const IID *
#endif

QX_LAYOUT_ASSERT(sizeof(GUID) == 16, "GUID");

#endif /* QX_GUIDDEF_H */
