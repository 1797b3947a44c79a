/*
 * windows.h - POSIX platform layer, Win32 header: the umbrella header.
 *
 * As on Windows without WIN32_LEAN_AND_MEAN, it brings in the base types, the
 * kernel, errors, graphics, the spooler, the common dialogs and OLE
 * automation. Library sources include this (and the few headers Windows keeps
 * separate, such as setupapi.h and winver.h) and nothing POSIX.
 */
#ifndef QX_WINDOWS_H
#define QX_WINDOWS_H

#include <windef.h>
#include <winbase.h>
#include <winerror.h>
#include <wingdi.h>
#ifndef WIN32_LEAN_AND_MEAN
#include <winioctl.h>
#include <winreg.h>
#include <rpc.h>
#include <winspool.h>
#include <commdlg.h>
#include <ole2.h>
#endif

#endif /* QX_WINDOWS_H */
