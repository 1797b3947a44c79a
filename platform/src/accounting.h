// accounting.h - POSIX platform layer, internal: live-object counts and
// counted fault injection, the hooks every area calls.
//
// Count an object when it comes alive and again when it is released:
//
//   CountUp(QXPLAT_KIND_FILE);  ...  CountDown(QXPLAT_KIND_FILE);
//
// Handles in the handle table are counted by the table itself.
//
// Put a fault point at the top of each call that can fail, before it changes
// anything, naming its class and itself:
//
//   if (FaultPoint(kFaultOpen, "CreateFileA", ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
//
// FaultPoint returns true when an armed fault fires for this call; it has then
// set the last error, and the call fails as it would for that error. Every
// call that passes a fault point is also counted under its function's name
// (qxplat_call_count), whether or not a fault fires.
#ifndef QX_PLATFORM_ACCOUNTING_H
#define QX_PLATFORM_ACCOUNTING_H

#include <windows.h>
#include <qxplatform.h>

#include <string_view>

namespace qxplat {

void CountUp(qxplat_kind kind);
void CountDown(qxplat_kind kind);

inline constexpr std::string_view kFaultAlloc = "alloc";
inline constexpr std::string_view kFaultOpen = "open";
inline constexpr std::string_view kFaultSpool = "spool";  // winspool calls but the opens

// FaultPoint - one call of class fault_class (may be empty) by the function
// named function. natural_error is the last error left when the armed fault
// asked for 0.
bool FaultPoint(std::string_view fault_class, std::string_view function, DWORD natural_error);

}  // namespace qxplat

#endif  // QX_PLATFORM_ACCOUNTING_H
