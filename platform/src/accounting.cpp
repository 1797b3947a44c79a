// accounting.cpp - POSIX platform layer, internal: live-object counts,
// counted fault injection and per-function call counts (see accounting.h),
// with their qxplat_ functions.
#include "accounting.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qxplat {
namespace {

std::array<std::atomic<int64_t>, QXPLAT_KIND_SLOTS> g_live{};

constexpr const char* kKindNames[QXPLAT_KIND_COUNT] = {
    "kernel handles",     "printer handles", "file handles", "pipe handles",
    "device handles",     "global blocks",   "local blocks", "heap blocks",
    "automation strings", "GDI objects",     "module references", "registry keys",
    "device info sets",
};

bool ValidKind(int kind) { return kind >= 0 && kind < QXPLAT_KIND_COUNT; }

struct Fault {
  std::string what;  // a class ("alloc", "open") or a function name
  unsigned remaining;  // matching calls still to pass before the one that fails
  DWORD error;
};

constexpr size_t kMaxFaults = 16;

struct Faults {
  std::mutex lock;
  std::vector<Fault> armed;
  unsigned fired = 0;
  // Lets FaultPoint skip the lock when nothing is armed, the usual case.
  std::atomic<bool> any{false};
};

Faults& TheFaults() {
  static Faults* faults = new Faults;
  return *faults;
}

// Calls that passed a fault point, by function name. Keyed by std::string
// with a transparent comparison, so counting a known name allocates nothing.
struct CallCounts {
  std::mutex lock;
  std::map<std::string, uint64_t, std::less<>> calls;
};

CallCounts& TheCallCounts() {
  static CallCounts* counts = new CallCounts;
  return *counts;
}

void CountCall(std::string_view function) {
  if (function.empty()) return;
  CallCounts& c = TheCallCounts();
  std::lock_guard<std::mutex> guard(c.lock);
  auto it = c.calls.find(function);
  if (it == c.calls.end()) {
    c.calls.emplace(std::string(function), 1);
  } else {
    ++it->second;
  }
}

}  // namespace

void CountUp(qxplat_kind kind) {
  if (ValidKind(kind)) g_live[kind].fetch_add(1, std::memory_order_relaxed);
}

void CountDown(qxplat_kind kind) {
  if (ValidKind(kind)) g_live[kind].fetch_sub(1, std::memory_order_relaxed);
}

// Every armed fault that matches counts this call; the first whose count
// runs out fires, is removed, and decides the error.
bool FaultPoint(std::string_view fault_class, std::string_view function, DWORD natural_error) {
  CountCall(function);
  Faults& f = TheFaults();
  if (!f.any.load(std::memory_order_acquire)) return false;
  bool fire = false;
  DWORD error = 0;
  {
    std::lock_guard<std::mutex> guard(f.lock);
    for (auto it = f.armed.begin(); it != f.armed.end();) {
      const bool matches =
          (!fault_class.empty() && it->what == fault_class) || it->what == function;
      if (!matches) {
        ++it;
      } else if (it->remaining > 1) {
        --it->remaining;
        ++it;
      } else if (!fire) {
        fire = true;
        error = it->error;
        it = f.armed.erase(it);
      } else {
        ++it;  // also due, but a call fails once: it fires on the next match
      }
    }
    if (fire) ++f.fired;
    f.any.store(!f.armed.empty(), std::memory_order_release);
  }
  if (fire) SetLastError(error != 0 ? error : natural_error);
  return fire;
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

int64_t qxplat_live_count(qxplat_kind kind) {
  return ValidKind(kind) ? g_live[kind].load(std::memory_order_relaxed) : 0;
}

const char* qxplat_kind_name(qxplat_kind kind) { return ValidKind(kind) ? kKindNames[kind] : "?"; }

void qxplat_counts_snapshot(qxplat_counts* out) {
  if (out == nullptr) return;
  for (size_t i = 0; i < QXPLAT_KIND_SLOTS; ++i) out->live[i] = g_live[i].load(std::memory_order_relaxed);
}

size_t qxplat_counts_diff(const qxplat_counts* before, const qxplat_counts* after, char* buf,
                          size_t size) {
  std::string text;
  size_t differing = 0;
  if (before != nullptr && after != nullptr) {
    for (int i = 0; i < QXPLAT_KIND_COUNT; ++i) {
      const int64_t delta = after->live[i] - before->live[i];
      if (delta == 0) continue;
      ++differing;
      if (!text.empty()) text += ", ";
      char item[64];
      std::snprintf(item, sizeof item, "%s %+lld", kKindNames[i], static_cast<long long>(delta));
      text += item;
    }
  }
  if (buf != nullptr && size > 0) std::snprintf(buf, size, "%s", text.c_str());
  return differing;
}

int qxplat_fault_arm(const char* what, unsigned nth, uint32_t error) {
  if (what == nullptr || *what == '\0' || nth == 0) return -1;
  Faults& f = TheFaults();
  std::lock_guard<std::mutex> guard(f.lock);
  if (f.armed.size() >= kMaxFaults) return -1;
  f.armed.push_back(Fault{what, nth, error});
  f.any.store(true, std::memory_order_release);
  return 0;
}

void qxplat_fault_clear(void) {
  Faults& f = TheFaults();
  std::lock_guard<std::mutex> guard(f.lock);
  f.armed.clear();
  f.fired = 0;
  f.any.store(false, std::memory_order_release);
}

unsigned qxplat_fault_fired(void) {
  Faults& f = TheFaults();
  std::lock_guard<std::mutex> guard(f.lock);
  return f.fired;
}

uint64_t qxplat_call_count(const char* function) {
  if (function == nullptr) return 0;
  CallCounts& c = TheCallCounts();
  std::lock_guard<std::mutex> guard(c.lock);
  auto it = c.calls.find(std::string_view(function));
  return it == c.calls.end() ? 0 : it->second;
}

void qxplat_call_counts_reset(void) {
  CallCounts& c = TheCallCounts();
  std::lock_guard<std::mutex> guard(c.lock);
  for (auto& entry : c.calls) entry.second = 0;
}

}  // extern "C"
