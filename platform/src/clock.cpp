// clock.cpp - POSIX implementation of the Win32 time calls (Sleep,
// GetTickCount, GetTickCount64) and of the scaled clock behind them and every
// time-out of the layer (see clock.h), with the qxplat_ clock and sleep
// counter functions.
//
// virtual ms = base_virtual + (CLOCK_MONOTONIC ms - base_real) x scale.
// At start the bases are 0, so processes started with the same QX_TIME_SCALE
// read the same virtual time. A change of scale at run time moves the bases to
// the present, which keeps the clock continuous and monotonic.
#include "clock.h"

#include <qxplatform.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

namespace qxplat {
namespace {

struct Clock {
  std::mutex lock;
  double scale = 1.0;
  double base_real_ms = 0.0;
  double base_virtual_ms = 0.0;
};

double RealNowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double ScaleFromEnvironment() {
  const char* text = std::getenv("QX_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  const double scale = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(scale) || scale <= 0.0) {
    std::fprintf(stderr, "qxplatform: QX_TIME_SCALE=\"%s\" is not a positive number; using 1\n",
                 text);
    return 1.0;
  }
  return scale;
}

Clock& TheClock() {
  static Clock* clock = [] {
    Clock* c = new Clock;
    c->scale = ScaleFromEnvironment();
    return c;
  }();
  return *clock;
}

double VirtualNowLocked(const Clock& c, double real_ms) {
  return c.base_virtual_ms + (real_ms - c.base_real_ms) * c.scale;
}

// What Sleep was asked for, for qxplat_sleep_calls and qxplat_sleep_total_ms.
std::atomic<uint64_t> g_sleep_calls{0};
std::atomic<uint64_t> g_sleep_total_ms{0};

}  // namespace

uint64_t VirtualNowMs() {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> guard(c.lock);
  const double v = VirtualNowLocked(c, RealNowMs());
  return v <= 0.0 ? 0 : static_cast<uint64_t>(v);
}

std::chrono::steady_clock::time_point RealDeadline(DWORD virtual_ms) {
  double scale;
  {
    Clock& c = TheClock();
    std::lock_guard<std::mutex> guard(c.lock);
    scale = c.scale;
  }
  // Round up so that the virtual clock has surely advanced by virtual_ms; a
  // tiny scale is held to about thirty years, well inside the clock's range.
  const double real_us =
      std::min(std::ceil(static_cast<double>(virtual_ms) * 1000.0 / scale), 1e15);
  return std::chrono::steady_clock::now() +
         std::chrono::microseconds(static_cast<int64_t>(real_us));
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// Sleep - wait dwMilliseconds on the scaled clock: afterwards GetTickCount has
// advanced by at least that much. 0 yields the processor; INFINITE never
// returns. Every call is counted for qxplat_sleep_calls and
// qxplat_sleep_total_ms.
void WINAPI Sleep(DWORD dwMilliseconds) {
  g_sleep_calls.fetch_add(1, std::memory_order_relaxed);
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  g_sleep_total_ms.fetch_add(dwMilliseconds, std::memory_order_relaxed);
  const uint64_t target = VirtualNowMs() + dwMilliseconds;
  for (uint64_t now = VirtualNowMs(); now < target; now = VirtualNowMs()) {
    std::this_thread::sleep_until(RealDeadline(static_cast<DWORD>(target - now)));
  }
}

// GetTickCount - virtual milliseconds, wrapping at 2^32 as on Windows.
DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(VirtualNowMs()); }

ULONGLONG WINAPI GetTickCount64(void) { return VirtualNowMs(); }

uint64_t qxplat_clock_now_ms(void) { return VirtualNowMs(); }

double qxplat_clock_scale(void) {
  Clock& c = TheClock();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.scale;
}

int qxplat_clock_set_scale(double scale) {
  if (!std::isfinite(scale) || scale <= 0.0) return -1;
  Clock& c = TheClock();
  std::lock_guard<std::mutex> guard(c.lock);
  const double real_ms = RealNowMs();
  c.base_virtual_ms = VirtualNowLocked(c, real_ms);
  c.base_real_ms = real_ms;
  c.scale = scale;
  return 0;
}

uint64_t qxplat_sleep_calls(void) { return g_sleep_calls.load(std::memory_order_relaxed); }

uint64_t qxplat_sleep_total_ms(void) { return g_sleep_total_ms.load(std::memory_order_relaxed); }

void qxplat_sleep_counters_reset(void) {
  g_sleep_calls.store(0, std::memory_order_relaxed);
  g_sleep_total_ms.store(0, std::memory_order_relaxed);
}

}  // extern "C"
