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

bool DrivePathParts(std::string_view path, std::vector<std::string>& parts) {
  parts.clear();
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  const char letter = path.size() >= 3 ? path[0] : '\0';
  const bool lower = letter >= 'a' && letter <= 'z';
  if (!(lower || (letter >= 'A' && letter <= 'Z')) || path[1] != ':' || !separator(path[2])) return false;
  parts.push_back(std::string(1, static_cast<char>(lower ? letter : letter - 'A' + 'a')));
  size_t at = 3;
  while (at < path.size()) {
    size_t end = at;
    while (end < path.size() && !separator(path[end])) ++end;
    const std::string_view part = path.substr(at, end - at);
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    at = end + 1;
  }
  if (parts.size() < 2) parts.clear();
  return !parts.empty();
}

}  // namespace qxwire
