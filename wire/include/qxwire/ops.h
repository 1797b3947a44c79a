// ops.h - qxwire, both sides: the names of the operations each service of
// qxsimd answers, so that a client and the service never spell one apart.
// A request is a JSON object whose "op" is one of these; docs/world.md says
// what each takes and answers.
#pragma once

// Hidden wherever it is linked: the platform's shared library exports Win32
// names only.
#pragma GCC visibility push(hidden)

namespace qxwire {

// The member of every request that names its operation.
inline constexpr const char* kOp = "op";

// The spooler service (spooler.sock): the platform layer's winspool calls.
namespace spool {
inline constexpr const char* kSystem = "system";
inline constexpr const char* kEnumPrinters = "enum_printers";
inline constexpr const char* kOpenPrinter = "open_printer";
inline constexpr const char* kClosePrinter = "close_printer";
inline constexpr const char* kGetPrinter = "get_printer";
inline constexpr const char* kSetPrinter = "set_printer";
inline constexpr const char* kGetPrinterDriver = "get_printer_driver";
inline constexpr const char* kGetDefaultPrinter = "get_default_printer";
inline constexpr const char* kDeviceCapabilities = "device_capabilities";
inline constexpr const char* kDocumentProperties = "document_properties";
inline constexpr const char* kDefaultDevnames = "default_devnames";
inline constexpr const char* kGetPrinterData = "get_printer_data";
inline constexpr const char* kSetPrinterData = "set_printer_data";
inline constexpr const char* kStartDoc = "start_doc";
inline constexpr const char* kStartPage = "start_page";
inline constexpr const char* kWrite = "write";  // the bytes as a binary body, or "data" in hex
inline constexpr const char* kEndPage = "end_page";
inline constexpr const char* kEndDoc = "end_doc";
inline constexpr const char* kAbort = "abort";
inline constexpr const char* kEnumJobs = "enum_jobs";
inline constexpr const char* kSetJob = "set_job";
}  // namespace spool

// The control API (control.sock): tests, tools and qxsimctl.
namespace control {
inline constexpr const char* kStatus = "status";
inline constexpr const char* kWorld = "world";
inline constexpr const char* kPrinters = "printers";
inline constexpr const char* kPrinter = "printer";
inline constexpr const char* kJobs = "jobs";
inline constexpr const char* kPorts = "ports";
inline constexpr const char* kDevices = "devices";
inline constexpr const char* kMonitors = "monitors";
inline constexpr const char* kReceived = "received";  // with "binary": true, the bytes as a body
inline constexpr const char* kSetPrinter = "set_printer";
inline constexpr const char* kAddPrinter = "add_printer";
inline constexpr const char* kRemovePrinter = "remove_printer";
inline constexpr const char* kSetDefault = "set_default";
inline constexpr const char* kAddJob = "add_job";
inline constexpr const char* kRemoveJob = "remove_job";
inline constexpr const char* kSetDevice = "set_device";
inline constexpr const char* kRemoveDevice = "remove_device";
inline constexpr const char* kMonitor = "monitor";
inline constexpr const char* kSetMonitor = "set_monitor";
inline constexpr const char* kScriptMonitor = "script_monitor";
inline constexpr const char* kMonitorRequests = "monitor_requests";
inline constexpr const char* kMonitorState = "monitor_state";
inline constexpr const char* kReset = "reset";
inline constexpr const char* kStop = "stop";
}  // namespace control

}  // namespace qxwire

#pragma GCC visibility pop
