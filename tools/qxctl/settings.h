// qxctl settings and raw printing commands.
#pragma once

#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {

int CmdOrientation(const Options& options, const std::vector<std::string>& args);
int CmdBins(const Options& options, const std::vector<std::string>& args);
int CmdBin(const Options& options, const std::vector<std::string>& args);
int CmdSheet(const Options& options, const std::vector<std::string>& args);
int CmdDriverSheets(const Options& options);
int CmdPrintRaw(const Options& options, const std::vector<std::string>& args);
int CmdJobs(const Options& options, const std::vector<std::string>& args);

}  // namespace qxctl
