/*
 * setupapi.h - POSIX platform layer, Win32 header: device setup services.
 *
 * The device-installation records and functions are declared here by the
 * SetupAPI area when it is built.
 */
#ifndef QX_SETUPAPI_H
#define QX_SETUPAPI_H

#include <windows.h>

#endif /* QX_SETUPAPI_H */
