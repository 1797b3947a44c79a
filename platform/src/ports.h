// ports.h - POSIX platform layer, internal: what the file dispatchers
// (files.cpp) call in the ports-and-devices area (ports.cpp).
#ifndef QX_PLATFORM_PORTS_H
#define QX_PLATFORM_PORTS_H

#include <windows.h>

#include <string>
#include <string_view>

namespace qxplat {

// The comm time-outs a fresh port handle has (ms): a read ends 50 ms after
// the last byte that came, or 5 s after it began; a write the printer does
// not take fails after 5 s.
inline constexpr COMMTIMEOUTS kDefaultPortTimeouts = {50, 0, 5000, 0, 5000};

// DeviceTarget - what a device path names.
//   port (out): "LPT1:" ... "LPT9:" or "COM1:" ... "COM9:" for a DOS device
//     name ("LPT1", "lpt1:", "\\.\LPT1"), else empty.
//   interface_path (out): the path itself for any other "\\?\" or "\\.\" path
//     (a device interface, as SetupAPI gives them), else empty.
// Returns true when path is a device path (one of the two is set). Pipe
// paths are the caller's to tell apart first.
bool DeviceTarget(std::string_view path, std::string& port, std::string& interface_path);

// PortOpen - the device side of CreateFileA.
//   access (in): GENERIC_READ and/or GENERIC_WRITE (GENERIC_ALL is both).
//   share (in): FILE_SHARE_READ and/or FILE_SHARE_WRITE.
// Returns a device handle or INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND
// (no such port or device in the world, or no world), ERROR_SHARING_VIOLATION
// (held by another handle whose sharing excludes this one, or by the spooler
// printing on it), ERROR_ACCESS_DENIED (runtime folder not to be trusted).
HANDLE PortOpen(const std::string& port, const std::string& interface_path, DWORD access, DWORD share);

}  // namespace qxplat

#endif  // QX_PLATFORM_PORTS_H
