// world_json.cpp - qxsimd, daemon side: the world written back in the world
// file's form (see world.h); it loads back to an equal world.
#include <qxwire/hex.h>

#include "world.h"
#include "world_flags.h"

namespace qxsim {

using nlohmann::json;
using qxwire::ToHex;
using namespace world_flags;

json JobStatusToJson(DWORD status) { return FlagsToJson(status, kJobStatusFlags); }

namespace {

std::string FixedText(const BYTE* text, size_t size) {
  size_t n = 0;
  while (n < size && text[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(text), n);
}

json DriverFileToJson(const DriverFile& f) {
  json j = {{"path", f.path}};
  if (!f.date.empty()) j["date"] = f.date;
  if (!f.version.empty()) j["version"] = f.version;
  return j;
}

json DevmodeToJson(const Printer& p) {
  const DEVMODEA& dm = p.devmode;
  json j = {
      {"device_name", FixedText(dm.dmDeviceName, sizeof dm.dmDeviceName)},
      {"spec_version", dm.dmSpecVersion},
      {"driver_version", dm.dmDriverVersion},
      {"fields", FlagsToJson(dm.dmFields, kDevmodeFlags)},
      {"orientation", dm.dmOrientation},
      {"paper_size", dm.dmPaperSize},
      {"paper_length", dm.dmPaperLength},
      {"paper_width", dm.dmPaperWidth},
      {"scale", dm.dmScale},
      {"copies", dm.dmCopies},
      {"default_source", dm.dmDefaultSource},
      {"print_quality", dm.dmPrintQuality},
      {"color", dm.dmColor},
      {"duplex", dm.dmDuplex},
      {"y_resolution", dm.dmYResolution},
      {"tt_option", dm.dmTTOption},
      {"collate", dm.dmCollate},
      {"form_name", FixedText(dm.dmFormName, sizeof dm.dmFormName)},
  };
  if (!p.driver_extra.empty()) j["driver_extra"] = ToHex(p.driver_extra);
  return j;
}

}  // namespace

std::vector<std::string> StatusNames(DWORD status) {
  std::vector<std::string> names;
  for (const FlagName& f : kStatusFlags) {
    if (status & f.bit) names.push_back(f.name);
  }
  return names;
}

json PrinterToJson(const Printer& p) {
  json driver = {
      {"name", p.driver.name},
      {"version", p.driver.version},
      {"path", p.driver.file.path},
      {"data_file", p.driver.data_file},
      {"config_file", p.driver.config_file},
      {"help_file", p.driver.help_file},
      {"default_datatype", p.driver.default_datatype},
      {"dependent_files", json::array()},
      {"language_monitor", nullptr},
  };
  if (!p.driver.file.date.empty()) driver["date"] = p.driver.file.date;
  if (!p.driver.file.version.empty()) driver["file_version"] = p.driver.file.version;
  for (const DriverFile& f : p.driver.dependent_files) {
    driver["dependent_files"].push_back(DriverFileToJson(f));
  }
  if (p.driver.language_monitor) {
    driver["language_monitor"] = {{"name", p.driver.language_monitor->name},
                                  {"version", p.driver.language_monitor->version},
                                  {"running", p.driver.language_monitor->running},
                                  {"reload_on_devmode", p.driver.language_monitor->reload_on_devmode},
                                  {"reload_on_job", p.driver.language_monitor->reload_on_job}};
  }
  json j = {
      {"name", p.name},
      {"port", p.port},
      {"share_name", p.share_name},
      {"location", p.location},
      {"comment", p.comment},
      {"status", FlagsToJson(p.status, kStatusFlags)},
      {"attributes", FlagsToJson(p.attributes, kAttributeFlags)},
      {"priority", p.priority},
      {"timeouts",
       {{"device_not_selected", p.device_not_selected_timeout},
        {"transmission_retry", p.transmission_retry_timeout}}},
      {"driver", driver},
      {"devmode", DevmodeToJson(p)},
      {"sheets", json::array()},
      {"bins", json::array()},
      {"data", json::object()},
      {"jobs", json::array()},
  };
  for (const RefusalKey& k : kRefusalKeys) j[k.key] = p.*k.error;
  j["write_limit"] = p.write_limit;
  for (const Sheet& s : p.sheets) {
    j["sheets"].push_back({{"name", s.name}, {"code", s.code}, {"width", s.width}, {"length", s.length}});
  }
  for (const Bin& b : p.bins) j["bins"].push_back({{"name", b.name}, {"code", b.code}});
  for (const auto& [name, value] : p.data) {
    if (value.type == REG_DWORD && value.bytes.size() == 4) {
      DWORD word;
      std::memcpy(&word, value.bytes.data(), 4);
      j["data"][name] = word;
    } else if (value.type == REG_SZ && !value.bytes.empty()) {
      j["data"][name] = std::string(value.bytes.begin(), value.bytes.end() - 1);
    } else {
      j["data"][name] = {{"binary", ToHex(value.bytes)}};
    }
  }
  for (const Job& job : p.jobs) {
    j["jobs"].push_back({{"id", job.id},
                         {"document", job.document},
                         {"status", FlagsToJson(job.status, kJobStatusFlags)},
                         {"owner", job.owner},
                         {"datatype", job.datatype},
                         {"pages", job.pages},
                         {"size", job.size}});
  }
  return j;
}

json DeviceToJson(const Device& d) {
  static const char* const kModes[] = {"echo", "fixed", "silent"};
  json rfid = {{"mode", kModes[static_cast<int>(d.rfid.mode)]}};
  if (d.rfid.mode == RfidBehaviour::Mode::kFixed) {
    rfid["reply"] = ToHex(std::vector<uint8_t>(d.rfid.reply.begin(), d.rfid.reply.end()));
  }
  return {{"port", d.port},
          {"model", d.model},
          {"device_id", d.device_id},
          {"firmware", d.firmware},
          {"faults", d.faults},
          {"status_word", d.status_word},
          {"temperature", d.temperature},
          {"form_length", d.form_length},
          {"version_detail", d.version_detail},
          {"reply_delay_ms", d.reply_delay_ms},
          {"restart_ms", d.restart_ms},
          {"fail_write", d.fail_write},
          {"busy", d.busy},
          {"counters",
           {{"errors", d.counters.errors},
            {"tickets", d.counters.tickets},
            {"head_travel", d.counters.head_travel},
            {"jobs", d.counters.jobs},
            {"cuts", d.counters.cuts}}},
          {"rfid", rfid}};
}

json WorldToJson(const World& w) {
  json j = {
      {"os",
       {{"major", w.os.major},
        {"minor", w.os.minor},
        {"build", w.os.build},
        {"platform_id", w.os.platform_id},
        {"csd", w.os.csd}}},
      {"code_page", w.code_page},
      {"default_printer", w.default_printer ? json(*w.default_printer) : json(nullptr)},
      {"ports", json::array()},
      {"printers", json::array()},
      {"usb_interfaces", json::array()},
      {"devices", json::array()},
  };
  for (const Port& p : w.ports) {
    json port = {{"name", p.name}};
    if (!p.description.empty()) port["description"] = p.description;
    j["ports"].push_back(port);
  }
  for (const Printer& p : w.printers) j["printers"].push_back(PrinterToJson(p));
  for (const UsbInterface& u : w.usb_interfaces) {
    j["usb_interfaces"].push_back({{"device_path", u.device_path}, {"port_name", u.port_name}});
  }
  for (const Device& d : w.devices) j["devices"].push_back(DeviceToJson(d));
  return j;
}

}  // namespace qxsim
