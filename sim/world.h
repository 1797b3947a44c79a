// world.h - qxsimd, daemon side: the model of one simulated installation
// (OS version, printers with their drivers, device modes, sheets, bins,
// printer data and jobs; ports, USB printer interfaces and the devices on
// the ports), its loader from the world file (JSON) and its writer back to
// the same form. docs/world.md describes the file.
//
// Loading checks every key and value: an unknown key or a bad value throws
// WorldError whose message names the place in the file ("printers[1].sheets[3].code:
// must be an integer from 1 to 32767").
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <qxwire/fields.h>

#include "printer.h"

namespace qxsim {

// A bad world file or device object: the wire library's checked reader
// names the place (qxwire/fields.h).
using WorldError = qxwire::FieldError;

// Limits the loader and the control API enforce; the spooler's records must
// stay far below them.
inline constexpr size_t kMaxPrinters = 256;
inline constexpr size_t kMaxNameLength = 220;  // printer names, as Windows allows
inline constexpr size_t kMaxTextLength = 259;  // paths, locations, comments
inline constexpr size_t kMaxSheets = 512;
inline constexpr size_t kMaxSheetName = 64;    // a DC_PAPERNAMES entry
inline constexpr size_t kMaxBins = 64;
inline constexpr size_t kMaxBinName = 24;      // a DC_BINNAMES entry
inline constexpr size_t kMaxJobs = 1024;
inline constexpr size_t kMaxDataValues = 256;
inline constexpr size_t kMaxDataBytes = 8192;
inline constexpr size_t kMaxDriverExtra = 4096;
inline constexpr size_t kMaxDependentFiles = 64;
inline constexpr size_t kMaxPorts = 64;
inline constexpr size_t kMaxDeviceId = 1024;
inline constexpr int64_t kMaxDelayMs = 86400000;  // a day, for every simulated delay
inline constexpr int64_t kMaxCounter = 99999999;  // the eight digits a reply carries

struct OsVersion {
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 19045;
  DWORD platform_id = VER_PLATFORM_WIN32_NT;
  std::string csd;
};

// A driver file with the date and version resource it carries.
struct DriverFile {
  std::string path;
  std::string date;     // "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS", may be empty
  std::string version;  // "a.b.c.d", may be empty
};

struct LanguageMonitorInfo {
  std::string name;     // DRIVER_INFO_3A.pMonitorName
  std::string version;  // the version text the monitor reports
  bool running = true;  // started with the world
  // A stopped monitor is started again (the spooler reloads it) when the
  // printer's device mode is rewritten, or when a job starts on its port.
  bool reload_on_devmode = false;
  bool reload_on_job = false;
};

struct Driver {
  std::string name;
  DWORD version = 3;  // DRIVER_INFO_2A.cVersion
  DriverFile file;    // pDriverPath
  std::string data_file;
  std::string config_file;
  std::string help_file;
  std::vector<DriverFile> dependent_files;
  std::string default_datatype = "RAW";
  std::optional<LanguageMonitorInfo> language_monitor;
};

struct Sheet {
  std::string name;
  int code = 0;    // DC_PAPERS, 16 bits
  LONG width = 0;  // tenths of a millimetre
  LONG length = 0;
};

struct Bin {
  std::string name;
  int code = 0;  // DC_BINS, 16 bits
};

// One printer-data value: REG_DWORD, REG_SZ or REG_BINARY.
struct DataValue {
  DWORD type = REG_DWORD;
  std::vector<uint8_t> bytes;  // REG_SZ includes its zero
};

struct Job {
  DWORD id = 0;
  std::string document;
  DWORD status = 0;
  std::string owner;
  std::string datatype = "RAW";
  DWORD pages = 0;
  DWORD size = 0;
  // Jobs spooled through the spooler service (not those of the world file):
  // their bytes, printed to the port's device once the document has ended.
  bool spooled = false;
  std::vector<uint8_t> data;
  int64_t submitted = 0;  // Unix time (UTC) of StartDocPrinterA
};

struct Printer {
  std::string name;
  std::string port;
  std::string share_name;
  std::string location;
  std::string comment;
  DWORD status = 0;
  DWORD attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL;
  DWORD priority = 1;
  DWORD device_not_selected_timeout = 15000;
  DWORD transmission_retry_timeout = 45000;
  Driver driver;
  DEVMODEA devmode{};                // dmSize is sizeof(DEVMODEA)
  std::vector<uint8_t> driver_extra; // dmDriverExtra bytes after it
  std::vector<Sheet> sheets;
  std::vector<Bin> bins;
  std::map<std::string, DataValue> data;
  std::vector<Job> jobs;
  // Run-time switches (world file "refuse_open", "refuse_set",
  // "refuse_start_doc", "refuse_write", "refuse_delete"): OpenPrinterA,
  // SetPrinterA, StartDocPrinterA, WritePrinter and SetJobA's delete fail
  // with this error while nonzero.
  DWORD refuse_open_error = 0;
  DWORD refuse_set_error = 0;
  DWORD refuse_start_doc_error = 0;
  DWORD refuse_write_error = 0;
  DWORD refuse_delete_error = 0;
  // World file "write_limit": the most bytes one WritePrinter call takes
  // (a short write reports fewer than it was given); 0 for no limit.
  DWORD write_limit = 0;
};

// The refusal switches of a printer, by their world file key.
struct RefusalKey {
  const char* key;
  DWORD Printer::*error;
};
inline constexpr RefusalKey kRefusalKeys[] = {
    {"refuse_open", &Printer::refuse_open_error},
    {"refuse_set", &Printer::refuse_set_error},
    {"refuse_start_doc", &Printer::refuse_start_doc_error},
    {"refuse_write", &Printer::refuse_write_error},
    {"refuse_delete", &Printer::refuse_delete_error},
};

// ParseRefusal - a refusal switch: true (ERROR_ACCESS_DENIED), false, or a
// Win32 error code (0 to accept). Throws WorldError naming path.
DWORD ParseRefusal(const nlohmann::json& value, const std::string& path);

struct Port {
  std::string name;
  std::string description;
};

struct UsbInterface {
  std::string device_path;
  std::string port_name;  // the device's "PortName" value
};

// The faults a device can be set to show.
inline const std::vector<std::string> kDeviceFaults = {
    "not_responding", "paper_out",  "head_open",     "jam",         "low_paper",
    "ticket_not_taken", "not_ready", "garbled_reply", "refuse_firmware", "refuse_flash", "never_restart",
};

struct World {
  OsVersion os;
  UINT code_page = 1252;
  std::optional<std::string> default_printer;
  std::vector<Printer> printers;
  std::vector<Port> ports;
  std::vector<UsbInterface> usb_interfaces;
  std::vector<Device> devices;
  DWORD next_job_id = 1;

  Printer* FindPrinter(std::string_view name);  // case-insensitive, as the spooler matches
  const Printer* FindPrinter(std::string_view name) const;
  Device* FindDevice(std::string_view port);
  const Device* FindDevice(std::string_view port) const;
  const Port* FindPort(std::string_view name) const;
};

// The embedded default world, as JSON text.
extern const char* const kDefaultWorldJson;

// ParseWorld - a world from its JSON form; throws WorldError.
World ParseWorld(const nlohmann::json& doc);
// LoadWorldText - parse JSON text, then ParseWorld; syntax errors become
// WorldError with the line and column.
World LoadWorldText(const std::string& text);
// ParsePrinter - one printer object (as in "printers"), checked against the
// world's ports; path names it in messages. Throws WorldError.
Printer ParsePrinter(const nlohmann::json& object, const World& world, const std::string& path,
                     DWORD& next_job_id);
// ParseDeviceFaults - a list of fault names; throws WorldError naming path.
std::vector<std::string> ParseDeviceFaults(const nlohmann::json& list, const std::string& path);
// SetDeviceKey - one key of a device object (any but "port") into device,
// checked as the world file checks it; path names the key in messages.
// False for a key a device does not have; throws WorldError for a bad value.
bool SetDeviceKey(Device& device, const std::string& key, const nlohmann::json& value,
                  const std::string& path);

// Flag words as the world file writes them: a number or a list of names.
DWORD ParsePrinterStatus(const nlohmann::json& value, const std::string& path);
DWORD ParsePrinterAttributes(const nlohmann::json& value, const std::string& path);
DWORD ParseJobStatus(const nlohmann::json& value, const std::string& path);
nlohmann::json JobStatusToJson(DWORD status);

// WorldToJson - the world in the world file's form (loads back to an equal world).
nlohmann::json WorldToJson(const World& world);
nlohmann::json PrinterToJson(const Printer& printer);
nlohmann::json DeviceToJson(const Device& device);

// Names of the bits of the status, attributes and dmFields words.
std::vector<std::string> StatusNames(DWORD status);

// EqualNoCase - ASCII case-insensitive equality, the spooler's name rule.
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace qxsim
