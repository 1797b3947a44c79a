// Conformance-test helpers: a Win32 call's result and last error, checked with
// the last error preset to a value no call sets. Win32 only, so the tests that
// use it also build for Windows.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

// What GetLastError reads when a call left the last error alone.
inline constexpr DWORD kUntouched = 0xdeadbeef;

// A call that must fail with error: FALSE (EXPECT_FAILS) or
// INVALID_HANDLE_VALUE (EXPECT_OPEN_FAILS).
#define EXPECT_FAILS(call, error)                                  \
  do {                                                             \
    SetLastError(kUntouched);                                      \
    EXPECT_FALSE(call);                                            \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(error)) << #call; \
  } while (0)
#define EXPECT_OPEN_FAILS(call, error)                             \
  do {                                                             \
    SetLastError(kUntouched);                                      \
    EXPECT_EQ((call), INVALID_HANDLE_VALUE);                       \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(error)) << #call; \
  } while (0)
