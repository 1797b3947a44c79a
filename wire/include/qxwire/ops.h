// ops.h - qxwire, both sides: the names of the operations each service of
// qxsimd answers, so that a client and the service never spell one apart.
// A request is a JSON object whose "op" is one of these; docs/world.md says
// what each takes and answers. Namespace-scope constexpr: each user has its
// own copy, none is an exported symbol.
#pragma once

namespace qxwire {

// The member of every request that names its operation.
constexpr const char* kOp = "op";

// The spooler service (spooler.sock): the platform layer's winspool calls.
namespace spool {
constexpr const char* kSystem = "system";
constexpr const char* kEnumPrinters = "enum_printers";
constexpr const char* kOpenPrinter = "open_printer";
constexpr const char* kClosePrinter = "close_printer";
constexpr const char* kGetPrinter = "get_printer";
constexpr const char* kSetPrinter = "set_printer";
constexpr const char* kGetPrinterDriver = "get_printer_driver";
constexpr const char* kGetDefaultPrinter = "get_default_printer";
constexpr const char* kDeviceCapabilities = "device_capabilities";
constexpr const char* kDocumentProperties = "document_properties";
constexpr const char* kDefaultDevnames = "default_devnames";
constexpr const char* kGetPrinterData = "get_printer_data";
constexpr const char* kSetPrinterData = "set_printer_data";
constexpr const char* kStartDoc = "start_doc";
constexpr const char* kStartPage = "start_page";
constexpr const char* kWrite = "write";  // the bytes as a binary body, or "data" in hex
constexpr const char* kEndPage = "end_page";
constexpr const char* kEndDoc = "end_doc";
constexpr const char* kAbort = "abort";
constexpr const char* kEnumJobs = "enum_jobs";
constexpr const char* kSetJob = "set_job";
constexpr const char* kUsbInterfaces = "usb_interfaces";  // SetupAPI's USB printer interfaces
}  // namespace spool

// The ports (ports.sock): one connection is one port handle of the platform
// layer, held from a successful "open" until the connection ends.
namespace port {
constexpr const char* kOpen = "open";          // "name" (a port) or "path" (a device interface), "access", "share"
constexpr const char* kRead = "read";          // "max" and the read time-outs; the bytes as the reply's body
constexpr const char* kWrite = "write";        // the bytes as the body, the write time-outs
constexpr const char* kStatusByte = "status";  // IOCTL_PAR_QUERY_INFORMATION's byte
constexpr const char* kDeviceId = "device_id"; // IOCTL_PAR_QUERY_DEVICE_ID's text, as the reply's body
constexpr const char* kClose = "close";        // CloseHandle: the port goes before the reply
}  // namespace port

// The control API (control.sock): tests, tools and qxsimctl.
namespace control {
constexpr const char* kStatus = "status";
constexpr const char* kWorld = "world";
constexpr const char* kPrinters = "printers";
constexpr const char* kPrinter = "printer";
constexpr const char* kJobs = "jobs";
constexpr const char* kPorts = "ports";
constexpr const char* kDevices = "devices";
constexpr const char* kMonitors = "monitors";
constexpr const char* kReceived = "received";  // with "binary": true, the bytes as a body
constexpr const char* kSetPrinter = "set_printer";
constexpr const char* kAddPrinter = "add_printer";
constexpr const char* kRemovePrinter = "remove_printer";
constexpr const char* kSetDefault = "set_default";
constexpr const char* kAddJob = "add_job";
constexpr const char* kRemoveJob = "remove_job";
constexpr const char* kSetDevice = "set_device";
constexpr const char* kRemoveDevice = "remove_device";
constexpr const char* kDeviceState = "device_state";  // busy, silent, garbled as seen through the port
constexpr const char* kPort = "port";                  // who holds a port
constexpr const char* kMonitor = "monitor";
constexpr const char* kSetMonitor = "set_monitor";
constexpr const char* kScriptMonitor = "script_monitor";
constexpr const char* kMonitorRequests = "monitor_requests";
constexpr const char* kMonitorState = "monitor_state";
constexpr const char* kReset = "reset";
constexpr const char* kStop = "stop";
}  // namespace control

}  // namespace qxwire
