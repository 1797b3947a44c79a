// qxctl status and language-monitor commands.
#pragma once

#include <string>
#include <vector>

#include "qxctl.h"

namespace qxctl {

// status [--request IS|IN|IE|IA2|IA3|IA4|IC|plain]: the printer's decoded
// status through its language monitor.
int CmdStatus(const Options& options, const std::vector<std::string>& args);
// parse-status HEX: decodes a status reply given as hexadecimal bytes.
int CmdParseStatus(const Options& options, const std::vector<std::string>& args);
// lm SUBCOMMAND ...: the monitor's information and printer commands.
int CmdMonitor(const Options& options, const std::vector<std::string>& args);
// rfid HEX: bytes through the printer's RFID function.
int CmdRfid(const Options& options, const std::vector<std::string>& args);
// key NAME VALUE: writes one of the driver's known settings.
int CmdKey(const Options& options, const std::vector<std::string>& args);

}  // namespace qxctl
