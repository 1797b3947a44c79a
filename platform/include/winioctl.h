/*
 * winioctl.h - POSIX platform layer, Win32 header: device I/O control codes.
 *
 * CTL_CODE and its parts; the parallel-port codes are in ntddpar.h.
 * DeviceIoControl itself is declared in winbase.h.
 */
#ifndef QX_WINIOCTL_H
#define QX_WINIOCTL_H

#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define FILE_DEVICE_PARALLEL_PORT 0x00000016
#define FILE_DEVICE_SERIAL_PORT 0x0000001b

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3

#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

#endif /* QX_WINIOCTL_H */
