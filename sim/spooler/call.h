// call.h - qxsimd, daemon side, the spooler service's room: one call of the
// service and what its operations share (the handle a call names, the
// printer behind it, the document it spools). Internal to sim/spooler.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "state.h"
#include "wire.h"

namespace qxsim::spooler {

// A spooler request that fails with a Win32 error.
struct SpoolerError {
  DWORD code;
  std::string message;
};

// One call: the world (its mutex held), the request, its binary body, and
// the client's process (printer handles belong to it).
struct SpoolerCall {
  SharedWorld& w;
  const nlohmann::json& request;
  const std::optional<std::string>& body;
  pid_t peer;
};

// HandleEntry - the handle a request names. A handle is one only in the
// process that opened it: to every other process (the connection's peer, as
// the kernel reports it) it is no handle at all, as handle values are on
// Windows. ERROR_INVALID_HANDLE otherwise.
std::map<uint64_t, OpenHandle>::iterator HandleEntry(SpoolerCall& c);
// PrinterOf - the printer behind the handle; the handle outlives a removed
// printer and then reports it deleted.
const Printer& PrinterOf(SpoolerCall& c);
// HandleOf - the handle and its printer, for the calls that change them.
std::pair<OpenHandle&, Printer&> HandleOf(SpoolerCall& c);
// Named - a printer by name; ERROR_INVALID_PRINTER_NAME.
const Printer& Named(SpoolerCall& c, const std::string& name);

// The operations of the job room (jobs.cpp).
nlohmann::json StartDoc(SpoolerCall& c);
nlohmann::json StartPage(SpoolerCall& c);
nlohmann::json EndPage(SpoolerCall& c);
nlohmann::json Write(SpoolerCall& c);
nlohmann::json EndDoc(SpoolerCall& c);
nlohmann::json Abort(SpoolerCall& c);
nlohmann::json EnumJobs(SpoolerCall& c);
nlohmann::json SetJob(SpoolerCall& c);

}  // namespace qxsim::spooler
