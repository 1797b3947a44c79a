// world_flags.h - qxsimd, daemon side: the flag words of the world file
// (printer status, attributes, job status, a device mode's fields) by name,
// and their reading and writing. Internal to the world's loader (world.cpp)
// and writer (world_json.cpp).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>
#include <qxwire/fields.h>

namespace qxsim::world_flags {

using nlohmann::json;
using qxwire::Fail;
using qxwire::Index;

struct FlagName {
  const char* name;
  DWORD bit;
};

constexpr FlagName kStatusFlags[] = {
    {"paused", PRINTER_STATUS_PAUSED},
    {"error", PRINTER_STATUS_ERROR},
    {"pending_deletion", PRINTER_STATUS_PENDING_DELETION},
    {"paper_jam", PRINTER_STATUS_PAPER_JAM},
    {"paper_out", PRINTER_STATUS_PAPER_OUT},
    {"manual_feed", PRINTER_STATUS_MANUAL_FEED},
    {"paper_problem", PRINTER_STATUS_PAPER_PROBLEM},
    {"offline", PRINTER_STATUS_OFFLINE},
    {"io_active", PRINTER_STATUS_IO_ACTIVE},
    {"busy", PRINTER_STATUS_BUSY},
    {"printing", PRINTER_STATUS_PRINTING},
    {"output_bin_full", PRINTER_STATUS_OUTPUT_BIN_FULL},
    {"not_available", PRINTER_STATUS_NOT_AVAILABLE},
    {"waiting", PRINTER_STATUS_WAITING},
    {"processing", PRINTER_STATUS_PROCESSING},
    {"initializing", PRINTER_STATUS_INITIALIZING},
    {"warming_up", PRINTER_STATUS_WARMING_UP},
    {"toner_low", PRINTER_STATUS_TONER_LOW},
    {"no_toner", PRINTER_STATUS_NO_TONER},
    {"page_punt", PRINTER_STATUS_PAGE_PUNT},
    {"user_intervention", PRINTER_STATUS_USER_INTERVENTION},
    {"out_of_memory", PRINTER_STATUS_OUT_OF_MEMORY},
    {"door_open", PRINTER_STATUS_DOOR_OPEN},
    {"server_unknown", PRINTER_STATUS_SERVER_UNKNOWN},
    {"power_save", PRINTER_STATUS_POWER_SAVE},
};

constexpr FlagName kAttributeFlags[] = {
    {"queued", PRINTER_ATTRIBUTE_QUEUED},
    {"direct", PRINTER_ATTRIBUTE_DIRECT},
    {"default", PRINTER_ATTRIBUTE_DEFAULT},
    {"shared", PRINTER_ATTRIBUTE_SHARED},
    {"network", PRINTER_ATTRIBUTE_NETWORK},
    {"hidden", PRINTER_ATTRIBUTE_HIDDEN},
    {"local", PRINTER_ATTRIBUTE_LOCAL},
    {"enable_devq", PRINTER_ATTRIBUTE_ENABLE_DEVQ},
    {"keep_printed_jobs", PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS},
    {"do_complete_first", PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST},
    {"work_offline", PRINTER_ATTRIBUTE_WORK_OFFLINE},
    {"enable_bidi", PRINTER_ATTRIBUTE_ENABLE_BIDI},
    {"raw_only", PRINTER_ATTRIBUTE_RAW_ONLY},
    {"published", PRINTER_ATTRIBUTE_PUBLISHED},
};

constexpr FlagName kJobStatusFlags[] = {
    {"paused", JOB_STATUS_PAUSED},
    {"error", JOB_STATUS_ERROR},
    {"deleting", JOB_STATUS_DELETING},
    {"spooling", JOB_STATUS_SPOOLING},
    {"printing", JOB_STATUS_PRINTING},
    {"offline", JOB_STATUS_OFFLINE},
    {"paperout", JOB_STATUS_PAPEROUT},
    {"printed", JOB_STATUS_PRINTED},
    {"deleted", JOB_STATUS_DELETED},
    {"blocked_devq", JOB_STATUS_BLOCKED_DEVQ},
    {"user_intervention", JOB_STATUS_USER_INTERVENTION},
    {"restart", JOB_STATUS_RESTART},
    {"complete", JOB_STATUS_COMPLETE},
};

constexpr FlagName kDevmodeFlags[] = {
    {"orientation", DM_ORIENTATION},
    {"paper_size", DM_PAPERSIZE},
    {"paper_length", DM_PAPERLENGTH},
    {"paper_width", DM_PAPERWIDTH},
    {"scale", DM_SCALE},
    {"copies", DM_COPIES},
    {"default_source", DM_DEFAULTSOURCE},
    {"print_quality", DM_PRINTQUALITY},
    {"color", DM_COLOR},
    {"duplex", DM_DUPLEX},
    {"y_resolution", DM_YRESOLUTION},
    {"tt_option", DM_TTOPTION},
    {"collate", DM_COLLATE},
    {"form_name", DM_FORMNAME},
};

template <size_t N>
DWORD ParseFlags(const json& value, const FlagName (&table)[N], const std::string& path) {
  if (value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0)) {
    const uint64_t n = value.get<uint64_t>();
    if (n > 0xFFFFFFFFu) Fail(path, "must fit in 32 bits");
    return static_cast<DWORD>(n);
  }
  if (!value.is_array()) Fail(path, "must be a number or a list of flag names");
  DWORD word = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const json& item = value[i];
    if (!item.is_string()) Fail(Index(path, i), "must be a flag name");
    const std::string name = item.get<std::string>();
    const auto* it = std::find_if(std::begin(table), std::end(table),
                                  [&](const FlagName& f) { return name == f.name; });
    if (it == std::end(table)) {
      std::string known;
      for (const FlagName& f : table) known += std::string(known.empty() ? "" : ", ") + f.name;
      Fail(Index(path, i), "unknown flag \"" + name + "\" (known: " + known + ")");
    }
    word |= it->bit;
  }
  return word;
}

// A list of names when every bit has one, else the number.
template <size_t N>
json FlagsToJson(DWORD word, const FlagName (&table)[N]) {
  json names = json::array();
  DWORD rest = word;
  for (const FlagName& f : table) {
    if (word & f.bit) {
      names.push_back(f.name);
      rest &= ~f.bit;
    }
  }
  if (rest != 0) return word;
  return names;
}

}  // namespace qxsim::world_flags
