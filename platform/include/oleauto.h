/*
 * oleauto.h - POSIX platform layer, Win32 header: automation strings.
 *
 * Implemented by platform/src/ole.cpp.
 */
#ifndef QX_OLEAUTO_H
#define QX_OLEAUTO_H

#include <wtypes.h>

QX_BEGIN_DECLS

WINOLEAUTAPI_(BSTR) SysAllocString(const OLECHAR *psz);
WINOLEAUTAPI_(BSTR) SysAllocStringLen(const OLECHAR *strIn, UINT ui);
WINOLEAUTAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len);
WINOLEAUTAPI_(void) SysFreeString(BSTR bstrString);
WINOLEAUTAPI_(UINT) SysStringLen(BSTR pbstr);
WINOLEAUTAPI_(UINT) SysStringByteLen(BSTR bstr);

QX_END_DECLS

#endif /* QX_OLEAUTO_H */
