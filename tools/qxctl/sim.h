// qxctl sim: start, stop and show the simulated world in the background.
#pragma once

#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {

int CmdSim(const Options& options, const std::vector<std::string>& args);

}  // namespace qxctl
