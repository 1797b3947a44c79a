// The model name inside an IEEE 1284 device ID: a run of "KEY:value;" pairs
// in which the model is the value of "MDL:", or of "MODEL:" where "MDL:" is
// absent. A pure function, apart from the port that reads the ID.
#include <windows.h>

#include <cstring>

#include "core/text.h"
#include "port/port.h"

namespace qx {

// The key is looked for anywhere in the ID, so a longer key that ends in
// "MDL:" matches too; the value ends at the next ";" or at the end.
bool ModelFromDeviceId(const char* deviceId, LPSTR model, DWORD modelSize) {
  if (model == nullptr || modelSize == 0) return false;
  const char* key = FindSubstring(deviceId, "MDL:");
  if (key == nullptr) key = FindSubstring(deviceId, "MODEL:");
  if (key == nullptr) return false;
  const char* value = std::strchr(key, ':') + 1;
  DWORD length = 0;
  while (value[length] != '\0' && value[length] != ';' && length + 1 < modelSize) ++length;
  std::memcpy(model, value, length);
  model[length] = '\0';
  return true;
}

}  // namespace qx
