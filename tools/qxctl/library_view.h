// qxctl: the library's own view of its current printer, beyond what the
// exports show. Only the POSIX developer build can read it (library_view_posix.cpp);
// the Windows build has none (host_windows.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qxctl {

struct TicketSheetView {
  std::string name;
  uint32_t paperCode;
  float widthInches, lengthInches;
  long widthTenthsMm, lengthTenthsMm;
};

struct LibraryView {
  std::string driver;  // the current driver as the library recorded it
  std::string pipe;    // the language-monitor pipe every transaction uses
  bool monitor;        // the monitor answered at the last probe
  uint32_t pipeTimeoutMs, statusTimeoutMs;
  std::vector<TicketSheetView> sheets;  // the ticket sheet table built at load
};

// The view, or nothing when this build cannot see inside the library.
std::optional<LibraryView> InspectLibrary();

}  // namespace qxctl
