// clock.cpp - POSIX implementation of the scaled clock behind Sleep,
// GetTickCount and every time-out of the layer (see clock.h), with the
// qxplat_ clock functions.
//
// virtual ms = base_virtual + (CLOCK_MONOTONIC ms - base_real) x scale.
// At start the bases are 0, so processes started with the same QX_TIME_SCALE
// read the same virtual time. A change of scale at run time moves the bases to
// the present, which keeps the clock continuous and monotonic.
#include "clock.h"

#include <qxplatform.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

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

}  // extern "C"
