/*
 * winspool.h - POSIX platform layer, Win32 header: the print spooler.
 *
 * The spooler's records, constants and functions are declared here by the
 * spooler area; the device mode they carry comes from wingdi.h.
 */
#ifndef QX_WINSPOOL_H
#define QX_WINSPOOL_H

#include <windef.h>
#include <wingdi.h>

#endif /* QX_WINSPOOL_H */
