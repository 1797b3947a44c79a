// names.cpp - qxwire, both sides: the runtime folder (see names.h).
#include "qxwire/names.h"

#include <unistd.h>

#include <cstdlib>

namespace qxwire {

std::string DefaultDir() {
  const char* dir = std::getenv("QX_SIM_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp/qxsim-" + std::to_string(getuid());
}

std::string PathIn(const std::string& dir, const char* name) { return dir + "/" + name; }

}  // namespace qxwire
