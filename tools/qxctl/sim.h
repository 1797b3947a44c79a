// qxctl sim: start, stop and show the simulated world in the background.
#pragma once

#include <string>
#include <vector>

namespace qxctl {

struct Options {
  bool json = false;
};

int CmdSim(const Options& options, const std::vector<std::string>& args);

}  // namespace qxctl
