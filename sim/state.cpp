// state.cpp - qxsimd, daemon side: the world the rooms share (see state.h).
#include "state.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace qxsim {

using nlohmann::json;

qxwire::Fields In(const json& request) { return qxwire::Fields(request, "", qxwire::Dialect::kRequest); }

const json& Field(const json& request, const char* key) { return In(request).Need(key); }

uint64_t Unsigned(const json& request, const char* key, uint64_t max) { return In(request).Unsigned(key, max); }

std::string Text(const json& request, const char* key, size_t max) { return In(request).Text(key, "", max, true); }

std::optional<std::string> OptionalText(const json& request, const char* key, size_t max) {
  return In(request).OptionalText(key, max);
}

std::optional<bool> OptionalBool(const json& request, const char* key) { return In(request).OptionalBool(key); }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

SharedWorld::SharedWorld(World w, std::string from, std::string folder)
    : world(w), original(std::move(w)), source(std::move(from)), dir(std::move(folder)) {
  devices.Load(original);
  world.devices.clear();
}

void SharedWorld::ResetLocked() {
  world = original;
  devices.Load(original);
  world.devices.clear();
}

World SharedWorld::WorldLocked() const {
  World w = world;
  w.devices = devices.Devices();
  return w;
}

void SharedWorld::ReapHandlesLocked() {
  for (auto it = handles.begin(); it != handles.end();) {
    if (kill(it->second.pid, 0) != 0 && errno == ESRCH) {
      AbortDocLocked(it->second);
      it = handles.erase(it);
    } else {
      ++it;
    }
  }
}

void SharedWorld::AbortDocLocked(OpenHandle& handle) {
  if (handle.job == 0) return;
  if (Printer* p = world.FindPrinter(handle.printer)) {
    auto& jobs = p->jobs;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == handle.job; }),
               jobs.end());
  }
  handle.job = 0;
  handle.page = false;
}

bool SharedWorld::PortHeldLocked(std::string_view port) const {
  return std::any_of(port_holds.begin(), port_holds.end(),
                     [&](const auto& h) { return EqualNoCase(h.second.port, port); });
}

bool SharedWorld::SpoolerOnPortLocked(std::string_view port) const {
  for (const Printer& p : world.printers) {
    if (!EqualNoCase(p.port, port)) continue;
    for (const Job& job : p.jobs) {
      const bool spooling = job.spooled && (job.status & JOB_STATUS_SPOOLING) != 0;
      if (spooling || (job.status & JOB_STATUS_PRINTING) != 0) return true;
    }
  }
  return false;
}

void SharedWorld::ReleasePortLocked(uint64_t connection) {
  const auto it = port_holds.find(connection);
  if (it == port_holds.end()) return;
  const std::string port = it->second.port;
  port_holds.erase(it);
  if (PortHeldLocked(port)) return;
  for (Printer& p : world.printers) {
    if (EqualNoCase(p.port, port)) PrintReadyJobsLocked(p);
  }
}

void SharedWorld::PrintReadyJobsLocked(Printer& p) {
  if (p.status & PRINTER_STATUS_PAUSED) return;
  if (PortHeldLocked(p.port)) return;  // the jobs wait for the host to let the port go
  const Port* port = world.FindPort(p.port);
  const std::string port_name = port != nullptr ? port->name : p.port;
  for (auto it = p.jobs.begin(); it != p.jobs.end();) {
    const bool ready = it->spooled && !(it->status & (JOB_STATUS_SPOOLING | JOB_STATUS_PAUSED));
    if (!ready) {
      ++it;
      continue;
    }
    if (const auto device = devices.On(port_name)) {
      device->Receive(std::string_view(reinterpret_cast<const char*>(it->data.data()), it->data.size()));
    }
    if (EqualNoCase(port_name, "FILE:")) {
      // The print-to-file port: each job becomes a file of the world folder.
      const std::string path = dir + "/FILE-job" + std::to_string(it->id) + ".prn";
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        size_t done = 0;
        while (done < it->data.size()) {
          const ssize_t n = write(fd, it->data.data() + done, it->data.size() - done);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          done += static_cast<size_t>(n);
        }
        close(fd);
      }
    }
    it = p.jobs.erase(it);
  }
}

}  // namespace qxsim
