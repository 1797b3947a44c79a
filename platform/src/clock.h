// clock.h - POSIX platform layer, internal: the scaled (virtual) clock.
//
// Every time-out and delay of the layer is stated in virtual milliseconds,
// the unit of Sleep and GetTickCount. Areas that wait (pipe waits, comm
// time-outs) turn a virtual deadline into a real one with RealDeadline and
// wait on std::chrono::steady_clock, which is CLOCK_MONOTONIC.
#ifndef QX_PLATFORM_CLOCK_H
#define QX_PLATFORM_CLOCK_H

#include <windows.h>

#include <chrono>
#include <cstdint>

namespace qxplat {

// Virtual milliseconds now.
uint64_t VirtualNowMs();

// The steady-clock time at which the virtual clock will have advanced by
// virtual_ms from now. INFINITE is not special here: callers test it first.
std::chrono::steady_clock::time_point RealDeadline(DWORD virtual_ms);

}  // namespace qxplat

#endif  // QX_PLATFORM_CLOCK_H
