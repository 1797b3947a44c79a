// qxsimctl_pages.h - qxsimctl, the side of a person or a script: the pages a
// port's printer printed, listed and saved as PNG pictures.
#pragma once

#include <string>
#include <vector>

namespace qxsimctl {

// Pages - "device PORT pages [--out DIR]" and "device PORT page N --out
// FILE.png" (args from the command on); the exit status: 0 done, 1 refused
// or no daemon, 2 a usage error.
int Pages(const std::string& dir, bool as_json, const std::vector<std::string>& args);

}  // namespace qxsimctl
