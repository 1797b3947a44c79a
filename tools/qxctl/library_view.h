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

// The attached printer's identity as the library's model read sees it.
struct ModelView {
  std::string deviceId;  // the IEEE 1284 device ID text
  std::string model;     // the value of its "MDL:" (else "MODEL:") key
  bool found = false;    // whether the ID has either key
};

// Whether this build can run the library's model read (an internal routine).
bool ModelReadable();
// Runs it on the current printer's port, which the caller has taken; false
// when no device ID was read.
bool ReadModel(ModelView* view);

// What the library's firmware permission check (an internal routine) says
// of a firmware file's base name (in capitals) for a model and firmware
// version: its result code, or nothing where this build cannot run it.
std::optional<uint16_t> CheckFirmwareName(const std::string& model, const std::string& version,
                                          const std::string& baseName);

}  // namespace qxctl
