/*
 * ole2.h - POSIX platform layer, Win32 header: the OLE umbrella header. Of OLE,
 * the layer offers the automation strings only.
 */
#ifndef QX_OLE2_H
#define QX_OLE2_H

#include <oleauto.h>

#endif /* QX_OLE2_H */
