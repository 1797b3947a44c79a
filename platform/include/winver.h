/*
 * winver.h - POSIX platform layer, Win32 header: version resources.
 *
 * The version-resource records and functions are declared here by the
 * version area when it is built.
 */
#ifndef QX_WINVER_H
#define QX_WINVER_H

#include <windef.h>

#endif /* QX_WINVER_H */
