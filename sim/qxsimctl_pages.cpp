// qxsimctl_pages.cpp - qxsimctl: the pages a port's printer printed (see
// qxsimctl_pages.h). The list comes from the control API's "pages", each
// picture from "page" as the reply's binary body.
#include "qxsimctl_pages.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "client.h"

namespace qxsimctl {
namespace {

using nlohmann::json;

int Usage(const std::string& message) {
  std::fprintf(stderr, "qxsimctl: %s\nusage: qxsimctl device PORT pages [--out DIR]\n"
                       "       qxsimctl device PORT page N --out FILE.png\n", message.c_str());
  return 2;
}

// A refusal: on standard error, or as the daemon's form of one with --json.
int Refused(bool as_json, const std::string& message) {
  if (as_json) {
    std::printf("%s\n", json({{"ok", false}, {"error", message}}).dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  } else {
    std::fprintf(stderr, "qxsimctl: %s\n", message.c_str());
  }
  return 1;
}

bool WriteFile(const std::string& path, const std::string& bytes, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

// One line of the list, for a person.
void PrintPage(const json& p) {
  std::printf("page %4llu  job %-5u page %-3u %5d x %-5d %3d dpi  %zu text%s", p["number"].get<unsigned long long>(),
              p["job"].get<unsigned>(), p["page"].get<unsigned>(), p["width"].get<int>(), p["height"].get<int>(),
              p["dpi_x"].get<int>(), p["texts"].get<size_t>(), p["texts"].get<size_t>() == 1 ? "" : "s");
  if (p["unreadable"].is_string()) std::printf("  UNREADABLE: %s", p["unreadable"].get<std::string>().c_str());
  std::printf("\n");
}

int List(const qxsim::ControlClient& control, bool as_json, const std::string& port, const std::string& out_dir) {
  json reply = control.Pages(port);
  json saved = json::array();
  if (!out_dir.empty()) {
    if (mkdir(out_dir.c_str(), 0755) != 0 && errno != EEXIST) {
      return Refused(as_json, out_dir + ": " + std::strerror(errno));
    }
    for (const json& p : reply["pages"]) {
      if (!p["unreadable"].is_null()) continue;
      std::string png, error;
      const uint64_t number = p["number"].get<uint64_t>();
      control.Page(port, number, false, &png);
      const std::string path = out_dir + "/page-" + std::to_string(number) + ".png";
      if (!WriteFile(path, png, &error)) return Refused(as_json, error);
      saved.push_back(path);
    }
  }
  if (as_json) {
    if (!out_dir.empty()) reply["saved"] = saved;
    std::printf("%s\n", reply.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("%s: %llu page%s printed, %llu unreadable; the latest %zu are kept\n", port.c_str(),
              reply["printed"].get<unsigned long long>(), reply["printed"].get<uint64_t>() == 1 ? "" : "s",
              reply["unreadable"].get<unsigned long long>(), reply["kept_at_most"].get<size_t>());
  for (const json& p : reply["pages"]) PrintPage(p);
  for (const json& path : saved) std::printf("saved %s\n", path.get<std::string>().c_str());
  return 0;
}

int Fetch(const qxsim::ControlClient& control, bool as_json, const std::string& port, uint64_t number,
          const std::string& file) {
  std::string png, error;
  json reply = control.Page(port, number, false, &png);
  if (!WriteFile(file, png, &error)) return Refused(as_json, error);
  if (as_json) {
    reply["saved"] = file;
    std::printf("%s\n", reply.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  } else {
    std::printf("saved page %llu (%d x %d pixels, %zu bytes) as %s\n", static_cast<unsigned long long>(number),
                reply["picture_width"].get<int>(), reply["picture_height"].get<int>(), png.size(), file.c_str());
  }
  return 0;
}

}  // namespace

int Pages(const std::string& dir, bool as_json, const std::vector<std::string>& args) {
  // args: device PORT pages|page ...
  const std::string& port = args[1];
  std::string out;
  std::vector<std::string> rest;
  for (size_t i = 3; i < args.size(); ++i) {
    if (args[i] == "--out") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage("--out needs a path");
      out = args[++i];
    } else {
      rest.push_back(args[i]);
    }
  }
  try {
    const qxsim::ControlClient control(dir);
    if (args[2] == "pages") {
      if (!rest.empty()) return Usage("pages takes only --out DIR, not \"" + rest[0] + "\"");
      return List(control, as_json, port, out);
    }
    if (rest.size() != 1) return Usage("page takes one page number");
    const std::string& text = rest[0];
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || errno == ERANGE || number == 0) {
      return Usage("\"" + text + "\" is not a page number");
    }
    if (out.empty()) return Usage("page needs --out FILE.png");
    return Fetch(control, as_json, port, number, out);
  } catch (const std::exception& e) {
    return Refused(as_json, e.what());
  }
}

}  // namespace qxsimctl
