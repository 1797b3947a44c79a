// registry.h - POSIX platform layer, internal: registry keys other areas
// hand out (SetupAPI's device keys), read with RegQueryValueExA and closed
// with RegCloseKey (registry.cpp).
#ifndef QX_PLATFORM_REGISTRY_H
#define QX_PLATFORM_REGISTRY_H

#include <windows.h>

#include <string>
#include <vector>

namespace qxplat {

// One value of a key: its name (matched without regard to case), type and
// bytes as stored (a REG_SZ with its zero, unless made without one).
struct RegistryValue {
  std::string name;
  DWORD type = REG_SZ;
  std::string bytes;
};

// NewRegistryKey - a key holding values, counted as a live registry key
// until RegCloseKey. Throws std::bad_alloc.
HKEY NewRegistryKey(std::vector<RegistryValue> values);

}  // namespace qxplat

#endif  // QX_PLATFORM_REGISTRY_H
