// service.cpp - qxsimd, daemon side: the ports (see service.h).
#include "ports/service.h"

#include <qxplatform.h>
#include <qxwire/names.h>
#include <qxwire/ops.h>

#include <algorithm>
#include <string_view>

namespace qxsim {
namespace {

using nlohmann::json;

// The most one read asks for; a larger count is cut to it.
constexpr uint64_t kMaxRead = uint64_t{64} << 10;
// A wait re-checks the daemon's stopping at least this often (real ms).
constexpr unsigned kWaitSliceMs = 100;

struct PortError {
  DWORD code;
  std::string message;
};

json Error(DWORD code, const std::string& message) { return {{"error", code}, {"message", message}}; }

bool ShareAllows(DWORD share, DWORD access) {
  return !((access & GENERIC_READ) && !(share & FILE_SHARE_READ)) &&
         !((access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
}

// Kind - how the platform layer treats a handle of the port: "parallel"
// (LPTn:), "serial" (COMn:) or "usb" (a device interface path).
std::string KindOf(const std::string& port, bool by_path) {
  if (by_path) return "usb";
  if (port.size() >= 3 && EqualNoCase(std::string_view(port).substr(0, 3), "COM")) return "serial";
  return "parallel";
}

// The comm time-outs a request carries, in virtual ms.
struct Timeouts {
  uint64_t interval = 0;
  uint64_t multiplier = 0;
  uint64_t constant = 0;
};

Timeouts TimeoutsOf(const json& request, bool read) {
  Timeouts t;
  if (read) t.interval = Unsigned(request, "interval", MAXDWORD);
  t.multiplier = Unsigned(request, "multiplier", MAXDWORD);
  t.constant = Unsigned(request, "constant", MAXDWORD);
  return t;
}

// TotalMs - the total time-out of an operation on count bytes: multiplier
// times count plus constant; none given (both 0) and anything longer are
// kMaxPortWaitMs. A multiplier of MAXDWORD counts as 0 (Windows' "return at
// once with what has arrived, else wait up to the constant").
uint64_t TotalMs(const Timeouts& t, uint64_t count) {
  const uint64_t multiplier = t.multiplier == MAXDWORD ? 0 : t.multiplier;
  if (multiplier == 0 && t.constant == 0) return qxwire::kMaxPortWaitMs;
  return std::min(multiplier * count + t.constant, qxwire::kMaxPortWaitMs);
}

}  // namespace

PortService::PortService(SharedWorld& world) : w_(world) {}

Reply PortService::Handle(const json& request, const std::optional<std::string>& body, pid_t peer,
                          uint64_t connection) {
  try {
    if (!request.is_object()) throw BadRequest("a request must be an object");
    const std::string op = Text(request, qxwire::kOp, 64);
    std::string port;
    {
      std::lock_guard<std::mutex> guard(w_.lock);
      const auto hold = w_.port_holds.find(connection);
      if (op == qxwire::port::kOpen) {
        if (hold != w_.port_holds.end()) throw BadRequest("this connection holds a port already");
        PortHold h;
        h.pid = peer;
        h.access = static_cast<DWORD>(Unsigned(request, "access", MAXDWORD));
        h.share = static_cast<DWORD>(Unsigned(request, "share", MAXDWORD));
        const bool by_path = request.contains("path");
        if (by_path) {
          h.path = Text(request, "path", kMaxTextLength);
          for (const UsbInterface& u : w_.world.usb_interfaces) {
            if (EqualNoCase(u.device_path, h.path)) h.port = u.port_name;
          }
        } else {
          h.path = Text(request, "name", 64);
          h.port = h.path;
        }
        const Port* known = h.port.empty() ? nullptr : w_.world.FindPort(h.port);
        if (known == nullptr) return {Error(ERROR_FILE_NOT_FOUND, "no such port or device"), std::nullopt};
        h.port = known->name;
        if (w_.SpoolerOnPortLocked(h.port)) {
          return {Error(ERROR_SHARING_VIOLATION, "the spooler is printing on " + h.port), std::nullopt};
        }
        for (const auto& [id, other] : w_.port_holds) {
          if (!EqualNoCase(other.port, h.port)) continue;
          if (!ShareAllows(other.share, h.access) || !ShareAllows(h.share, other.access)) {
            return {Error(ERROR_SHARING_VIOLATION, h.port + " is held by process " + std::to_string(other.pid)),
                    std::nullopt};
          }
        }
        const std::string kind = KindOf(h.port, by_path);
        port = h.port;
        w_.port_holds.emplace(connection, std::move(h));
        return {{{"error", 0}, {"port", port}, {"kind", kind}}, std::nullopt};
      }
      if (hold == w_.port_holds.end()) throw BadRequest("no port is open on this connection");
      port = hold->second.port;
    }
    if (op == qxwire::port::kClose) {
      Closed(connection);
      return {{{"error", 0}}, std::nullopt};
    }

    const auto device = w_.devices.On(port);
    if (device == nullptr) return {Error(ERROR_DEVICE_NOT_CONNECTED, "the port has no device"), std::nullopt};
    if (op == qxwire::port::kStatusByte) {
      return {{{"error", 0}, {"status", device->StatusByte(qxplat_clock_now_ms())}}, std::nullopt};
    }
    if (op == qxwire::port::kDeviceId) {
      if (!device->attached()) return {Error(ERROR_NOT_READY, "no printer is attached"), std::nullopt};
      return {{{"error", 0}}, device->DeviceId()};
    }
    if (op == qxwire::port::kWrite) {
      if (!body) throw BadRequest("the bytes must come as the body");
      const Timeouts t = TimeoutsOf(request, false);
      const uint64_t deadline = qxplat_clock_now_ms() + TotalMs(t, body->size());
      if (body->empty()) return {{{"error", 0}, {"written", 0}}, std::nullopt};
      // The write a device's fail_write names is never taken: it times out.
      const bool fails = device->FailsPortWrite();
      // A printer that takes no bytes (busy, silent, not ready) may take
      // them later; the write waits for that up to its time-out.
      for (;;) {
        const uint64_t seen = device->generation();
        const uint64_t now = qxplat_clock_now_ms();
        const size_t taken = fails ? 0 : device->Write(*body, now);
        if (taken > 0) return {{{"error", 0}, {"written", taken}}, std::nullopt};
        if (now >= deadline || stopping_) {
          return {{{"error", ERROR_SEM_TIMEOUT}, {"written", 0}, {"message", "the printer took no bytes"}},
                  std::nullopt};
        }
        device->WaitChange(seen, deadline, kWaitSliceMs);
      }
    }
    if (op == qxwire::port::kRead) {
      const uint64_t max = std::min(Unsigned(request, "max", MAXDWORD), kMaxRead);
      const Timeouts t = TimeoutsOf(request, true);
      const bool at_once = t.interval == MAXDWORD && t.multiplier == 0 && t.constant == 0;
      const bool first_byte_ends = t.interval == MAXDWORD;
      uint64_t now = qxplat_clock_now_ms();
      const uint64_t deadline = now + TotalMs(t, max);
      // Automatic status back: with nothing asked, the printer's "S" reply.
      if (max > 0) device->AutoStatus(now);
      std::string got;
      uint64_t last_byte = 0;
      while (got.size() < max) {
        const uint64_t seen = device->generation();
        now = qxplat_clock_now_ms();
        const std::string chunk = device->Read(max - got.size(), now);
        if (!chunk.empty()) {
          got += chunk;
          last_byte = now;
          continue;
        }
        if (at_once || (first_byte_ends && !got.empty()) || stopping_) break;
        uint64_t wake = deadline;
        if (!got.empty() && t.interval != 0) wake = std::min(wake, last_byte + t.interval);
        if (now >= wake) break;
        if (const std::optional<uint64_t> next = device->NextReplyAt()) wake = std::min(wake, std::max(*next, now));
        device->WaitChange(seen, wake, kWaitSliceMs);
      }
      return {{{"error", 0}, {"read", got.size()}}, std::move(got)};
    }
    throw BadRequest("unknown operation \"" + op + "\"");
  } catch (const std::exception& e) {  // bad requests, json type errors and allocation failures
    return {Error(ERROR_INVALID_PARAMETER, e.what()), std::nullopt};
  }
}

void PortService::Closed(uint64_t connection) {
  try {
    std::lock_guard<std::mutex> guard(w_.lock);
    const auto hold = w_.port_holds.find(connection);
    if (hold == w_.port_holds.end()) return;
    const std::string port = hold->second.port;
    w_.ReleasePortLocked(connection);
    // Replies nobody read are gone with the last handle, as a printer's are
    // once sent; the next opener starts afresh.
    if (!w_.PortHeldLocked(port)) {
      if (const auto device = w_.devices.On(port)) device->DropReplies();
    }
  } catch (const std::exception&) {
    // Out of memory while printing the jobs that waited: they wait on.
  }
}

}  // namespace qxsim
