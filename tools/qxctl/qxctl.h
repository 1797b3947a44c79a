// qxctl: what its commands share.
#pragma once

#include <string>
#include <string_view>

namespace qxctl {

struct Options {
  bool json = false;  // machine-readable output
};

// A result code's name, for messages.
const char* ResultText(unsigned short code);

// A text as a JSON string value, quotes included.
std::string JsonText(std::string_view text);

}  // namespace qxctl
