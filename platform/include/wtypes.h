/*
 * wtypes.h - POSIX platform layer, Win32 header: automation base types.
 *
 * A BSTR points at 16-bit characters; the 32-bit byte length is stored just
 * before them and two zero bytes follow them (see oleauto.h).
 */
#ifndef QX_WTYPES_H
#define QX_WTYPES_H

#include <guiddef.h>
#include <windef.h>

typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef OLECHAR *BSTR;
typedef BSTR *LPBSTR;
typedef short VARIANT_BOOL;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define OLESTR(str) u##str

#endif /* QX_WTYPES_H */
