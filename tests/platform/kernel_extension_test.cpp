// kernel_extension_test.cpp - the POSIX platform layer's own guarantees,
// checked through its extension header: debug output and its capture, the
// scaled clock, accounting and fault injection, the simulated version and
// code page, module registration, the exact message texts, and the refusal of
// foreign pointers and handles.
#include <windows.h>
#include <qxplatform.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include "win32_expect.h"

namespace {

using ::testing::ElementsAre;

// Restores the environment variable, clock scale, OS version, code page and
// faults that a test changes.
class Extension : public ::testing::Test {
 protected:
  void TearDown() override {
    qxplat_fault_clear();
    qxplat_reset_os_version();
    qxplat_set_code_page(1252);
    qxplat_debug_capture_stop();
    qxplat_debug_capture_clear();
    qxplat_clock_set_scale(scale_);
    unsetenv("QX_DEBUG_OUTPUT");
  }
  const double scale_ = qxplat_clock_scale();
};

std::string TempPath(const char* tag) {
  return ::testing::TempDir() + "qxplat-" + tag + "-" + std::to_string(getpid());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- Debug output ----------------------------------------------------------

using DebugOutput = Extension;

TEST_F(DebugOutput, CaptureKeepsTextsExactlyAndInOrder) {
  qxplat_debug_capture_start();
  OutputDebugStringA("\nDLL - first");
  OutputDebugStringA("second\r\n");
  OutputDebugStringA("");
  OutputDebugStringA(nullptr);
  qxplat_debug_capture_stop();
  OutputDebugStringA("after stop");
  EXPECT_THAT(qxplat::debug_captured(), ElementsAre("\nDLL - first", "second\r\n", ""));

  char small[4];
  EXPECT_EQ(qxplat_debug_capture_text(0, small, sizeof small), 12u);
  EXPECT_STREQ(small, "\nDL");
  EXPECT_EQ(qxplat_debug_capture_text(3, small, sizeof small), SIZE_MAX);

  qxplat_debug_capture_clear();
  EXPECT_EQ(qxplat_debug_capture_count(), 0u);
  qxplat_debug_capture_start();
  OutputDebugStringA("fresh");
  qxplat_debug_capture_start();  // a new start discards what came before
  EXPECT_EQ(qxplat_debug_capture_count(), 0u);
}

TEST_F(DebugOutput, ConcurrentWritersKeepTheirOrder) {
  qxplat_debug_capture_start();
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        OutputDebugStringA((std::to_string(t) + ":" + std::to_string(i) + "\r\n").c_str());
      }
    });
  }
  for (auto& th : threads) th.join();
  const auto texts = qxplat::debug_captured();
  ASSERT_EQ(texts.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const auto& text : texts) {
    const int t = text[0] - '0';
    ASSERT_EQ(text, std::to_string(t) + ":" + std::to_string(next[t]) + "\r\n");
    ++next[t];
  }
}

TEST_F(DebugOutput, FileDestinationIsAppendedAsWritten) {
  const std::string path = TempPath("debug");
  {
    std::ofstream(path, std::ios::binary) << "kept|";
  }
  setenv("QX_DEBUG_OUTPUT", path.c_str(), 1);
  OutputDebugStringA("\nDLL - one");
  OutputDebugStringA("two\r\n");
  unsetenv("QX_DEBUG_OUTPUT");
  OutputDebugStringA("dropped");
  EXPECT_EQ(ReadFile(path), "kept|\nDLL - one" "two\r\n");
  std::remove(path.c_str());
}

TEST_F(DebugOutput, StderrDestination) {
  setenv("QX_DEBUG_OUTPUT", "stderr", 1);
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("to stderr\r\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "to stderr\r\n");
}

// ---- Clock -----------------------------------------------------------------

using Clock = Extension;

TEST_F(Clock, LongSleepRunsFastOnALargeScale) {
  ASSERT_EQ(qxplat_clock_set_scale(1000), 0);
  qxplat_sleep_counters_reset();
  const ULONGLONG before64 = GetTickCount64();
  const DWORD before32 = GetTickCount();
  const auto real_start = std::chrono::steady_clock::now();
  Sleep(15000);
  const auto real_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - real_start)
                           .count();
  EXPECT_GE(GetTickCount64() - before64, 15000u);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before32), 15000u);  // also across a wrap
  EXPECT_LT(real_ms, 2000);
  Sleep(0);
  Sleep(5);
  EXPECT_EQ(qxplat_sleep_calls(), 3u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 15005u);
  qxplat_sleep_counters_reset();
  EXPECT_EQ(qxplat_sleep_calls(), 0u);
  EXPECT_EQ(qxplat_sleep_total_ms(), 0u);
}

TEST_F(Clock, WaitTimeoutRunsOnTheScaledClock) {
  ASSERT_EQ(qxplat_clock_set_scale(500), 0);
  HANDLE m = CreateMutexA(nullptr, TRUE, nullptr);
  DWORD result = 0;
  ULONGLONG waited = 0;
  std::thread([&] {
    const ULONGLONG start = GetTickCount64();
    result = WaitForSingleObject(m, 10000);
    waited = GetTickCount64() - start;
  }).join();
  EXPECT_EQ(result, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(waited, 10000u);
  EXPECT_LT(waited, 10000u + 500u * 1000u);  // well under a real second
  CloseHandle(m);
}

TEST_F(Clock, ScaleChangesKeepTheClockMonotonic) {
  EXPECT_EQ(qxplat_clock_set_scale(0), -1);
  EXPECT_EQ(qxplat_clock_set_scale(-2), -1);
  EXPECT_EQ(qxplat_clock_set_scale(1.0 / 0.0), -1);
  EXPECT_EQ(qxplat_clock_scale(), scale_);
  ASSERT_EQ(qxplat_clock_set_scale(100000), 0);
  const uint64_t high = qxplat_clock_now_ms();
  ASSERT_EQ(qxplat_clock_set_scale(0.25), 0);
  EXPECT_GE(qxplat_clock_now_ms(), high);
  EXPECT_EQ(qxplat_clock_scale(), 0.25);
}

// A fresh process takes its scale from QX_TIME_SCALE and reads the clock as
// CLOCK_MONOTONIC ms x scale, so that processes agree.
TEST(ClockEnvironment, FreshProcessFollowsTimeScaleVariable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("QX_TIME_SCALE", "250", 1);
  EXPECT_EXIT(
      {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const double expected = (ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6) * 250.0;
        const double now = static_cast<double>(qxplat_clock_now_ms());
        const bool agrees = now > expected - 2500 && now < expected + 2500;
        std::exit(qxplat_clock_scale() == 250.0 && agrees ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  unsetenv("QX_TIME_SCALE");
}

// ---- Mutexes at process exit -----------------------------------------------

// A library's process detach runs after the main thread's thread-locals are
// gone (as atexit handlers do); its mutex calls must still work.
TEST(MutexAtExit, WorksAfterThreadLocalsAreGone) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static HANDLE m = CreateMutexA(nullptr, TRUE, nullptr);
        std::atexit([] {
          const bool ok = WaitForSingleObject(m, 0) == WAIT_OBJECT_0 && ReleaseMutex(m) &&
                          ReleaseMutex(m) && !ReleaseMutex(m) && CloseHandle(m);
          std::_Exit(ok ? 0 : 3);
        });
        std::exit(1);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---- Accounting and fault injection ----------------------------------------

using Accounting = Extension;

TEST_F(Accounting, CountsGoUpAndBackDown) {
  const qxplat::LiveCounts start;
  HGLOBAL g = GlobalAlloc(GHND, 10);
  HLOCAL l = LocalAlloc(LPTR, 10);
  void* h = HeapAlloc(GetProcessHeap(), 0, 10);
  BSTR s = SysAllocStringByteLen("x", 1);
  HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
  HMODULE mod = LoadLibraryA("winspool.drv");
  EXPECT_EQ(start.Leaks(),
            "kernel handles +1, global blocks +1, local blocks +1, heap blocks +1, "
            "automation strings +1, module references +1");
  GlobalFree(g);
  LocalFree(l);
  HeapFree(GetProcessHeap(), 0, h);
  SysFreeString(s);
  CloseHandle(m);
  FreeLibrary(mod);
  EXPECT_EQ(start.Leaks(), "");
}

TEST_F(Accounting, SnapshotDiffReportsEachKind) {
  qxplat_counts before, after;
  qxplat_counts_snapshot(&before);
  HGLOBAL a = GlobalAlloc(GPTR, 1);
  HGLOBAL b = GlobalAlloc(GPTR, 1);
  qxplat_counts_snapshot(&after);
  EXPECT_EQ(after.live[QXPLAT_KIND_GLOBAL] - before.live[QXPLAT_KIND_GLOBAL], 2);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_GLOBAL), after.live[QXPLAT_KIND_GLOBAL]);
  char text[12];
  EXPECT_EQ(qxplat_counts_diff(&before, &after, text, sizeof text), 1u);
  EXPECT_STREQ(text, "global bloc");  // truncated, terminated
  EXPECT_EQ(qxplat_counts_diff(&after, &before, nullptr, 0), 1u);
  GlobalFree(a);
  GlobalFree(b);
  EXPECT_STREQ(qxplat_kind_name(QXPLAT_KIND_PRINTER), "printer handles");
  EXPECT_STREQ(qxplat_kind_name(static_cast<qxplat_kind>(99)), "?");
  EXPECT_EQ(qxplat_live_count(static_cast<qxplat_kind>(-1)), 0);
}

TEST_F(Accounting, NthAllocationFailsOnceWithChosenError) {
  ASSERT_EQ(qxplat_fault_arm("alloc", 2, ERROR_OUTOFMEMORY), 0);
  const qxplat::LiveCounts start;
  HGLOBAL first = GlobalAlloc(GHND, 8);
  SetLastError(kUntouched);
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
  BSTR third = SysAllocStringByteLen("abc", 3);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(qxplat_fault_fired(), 1u);
  GlobalFree(first);
  SysFreeString(third);
  EXPECT_EQ(start.Leaks(), "");
}

TEST_F(Accounting, NamedFunctionFaultAndNaturalError) {
  ASSERT_EQ(qxplat_fault_arm("GetVersionExA", 1, ERROR_ACCESS_DENIED), 0);
  ASSERT_EQ(qxplat_fault_arm("open", 1, 0), 0);
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  SetLastError(kUntouched);
  EXPECT_FALSE(GetVersionExA(&v));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(GetVersionExA(&v));

  HGLOBAL block = GlobalAlloc(GPTR, 1);
  EXPECT_NE(block, nullptr) << "an open fault does not fail allocations";
  GlobalFree(block);
  SetLastError(kUntouched);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(qxplat_fault_fired(), 2u);
  qxplat_fault_clear();
  EXPECT_EQ(qxplat_fault_fired(), 0u);
}

TEST_F(Accounting, ArmRejectsBadRequests) {
  EXPECT_EQ(qxplat_fault_arm(nullptr, 1, 0), -1);
  EXPECT_EQ(qxplat_fault_arm("", 1, 0), -1);
  EXPECT_EQ(qxplat_fault_arm("alloc", 0, 0), -1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(qxplat_fault_arm("never-called", 1, 0), 0);
  EXPECT_EQ(qxplat_fault_arm("alloc", 1, 0), -1);
}

TEST_F(Accounting, TwoFaultsDueOnOneCallFailTwoCalls) {
  ASSERT_EQ(qxplat_fault_arm("alloc", 1, 1001), 0);
  ASSERT_EQ(qxplat_fault_arm("LocalAlloc", 1, 1002), 0);
  EXPECT_EQ(LocalAlloc(LPTR, 1), nullptr);
  EXPECT_EQ(GetLastError(), 1001u);
  EXPECT_EQ(LocalAlloc(LPTR, 1), nullptr);
  EXPECT_EQ(GetLastError(), 1002u);
  HLOCAL ok = LocalAlloc(LPTR, 1);
  EXPECT_NE(ok, nullptr);
  LocalFree(ok);
}

// The pattern tests of the library use: fail call N for N = 1, 2, ... until
// the operation succeeds, and check that each failure releases everything.
TEST_F(Accounting, EveryFailurePathOfFormatMessageReleasesAll) {
  unsigned n = 1;
  for (;; ++n) {
    const qxplat::LiveCounts start;
    qxplat_fault_clear();
    ASSERT_EQ(qxplat_fault_arm("alloc", n, 0), 0);
    LPSTR text = nullptr;
    const DWORD len = FormatMessageA(0x1300, nullptr, ERROR_NOT_OWNER, 0x400,
                                     reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (qxplat_fault_fired() == 0) {
      ASSERT_GT(len, 0u);
      LocalFree(text);
      break;
    }
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(start.Leaks(), "") << "fault at allocation " << n;
  }
  EXPECT_EQ(n, 2u);  // exactly one allocation
}

// ---- Simulated system ------------------------------------------------------

using Simulated = Extension;

TEST_F(Simulated, DefaultAndSetVersion) {
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 10u);
  EXPECT_EQ(v.dwMinorVersion, 0u);
  EXPECT_EQ(v.dwBuildNumber, 19045u);
  EXPECT_EQ(v.dwPlatformId, 2u);
  EXPECT_STREQ(v.szCSDVersion, "");

  qxplat_set_os_version(4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, std::string(200, 'A').c_str());
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 4u);
  EXPECT_EQ(v.dwMinorVersion, 10u);
  EXPECT_EQ(v.dwBuildNumber, 2222u);
  EXPECT_EQ(v.dwPlatformId, 1u);
  EXPECT_EQ(std::strlen(v.szCSDVersion), 127u);

  qxplat_reset_os_version();
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 10u);
}

TEST_F(Simulated, JapaneseCodePageLeadBytes) {
  ASSERT_EQ(qxplat_set_code_page(932), 0);
  EXPECT_EQ(GetACP(), 932u);
  for (int c : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
  for (int c : {0x00, 0x5C, 0x80, 0xA0, 0xDF, 0xFD, 0xFF}) {
    EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
  }
  // A trail byte that looks like a letter is not folded.
  EXPECT_NE(lstrcmpiA("\x81" "A", "\x81" "a"), 0);
  EXPECT_EQ(lstrcmpiA("A\x81" "A", "a\x81" "A"), 0);

  EXPECT_EQ(qxplat_set_code_page(1234), -1);
  EXPECT_EQ(GetACP(), 932u);
  ASSERT_EQ(qxplat_set_code_page(1252), 0);
  EXPECT_FALSE(IsDBCSLeadByte(0x81));
  EXPECT_EQ(lstrcmpiA("\xC9" "T\xC9", "\xE9t\xE9"), 0);  // accented capitals fold in 1252
}

// ---- Modules ---------------------------------------------------------------

int g_test_proc_calls = 0;
void TestProc() { ++g_test_proc_calls; }

using ModuleRegistry = Extension;

TEST_F(ModuleRegistry, RegisteredProcedureIsFound) {
  g_test_proc_calls = 0;
  ASSERT_EQ(qxplat_register_proc("winspool.drv", "QxTestProc", &TestProc), 0);
  HMODULE m = LoadLibraryA("WinSpool");  // any case, ending optional
  ASSERT_NE(m, nullptr);
  FARPROC p = GetProcAddress(m, "QxTestProc");
  ASSERT_NE(p, nullptr);
  reinterpret_cast<void (*)()>(reinterpret_cast<void*>(p))();
  EXPECT_EQ(g_test_proc_calls, 1);
  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(m, "qxtestproc"), nullptr);  // names are case-sensitive
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(m);
  EXPECT_EQ(qxplat_register_proc("", "x", &TestProc), -1);
  EXPECT_EQ(qxplat_register_proc("m", "x", nullptr), -1);
}

TEST_F(ModuleRegistry, LastFreeUnloads) {
  ASSERT_EQ(qxplat_register_proc("qxtest.dll", "Proc", &TestProc), 0);
  SetLastError(kUntouched);
  EXPECT_EQ(GetModuleHandleA("qxtest"), nullptr);  // known but not loaded
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE m = LoadLibraryA("C:\\Windows\\System32\\QXTEST.DLL");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetModuleHandleA("qxtest.dll"), m);
  ASSERT_TRUE(FreeLibrary(m));

  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(m, "Proc"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(FreeLibrary(m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE again = LoadLibraryA("qxtest");
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, m);  // a new handle: the old one stays invalid
  EXPECT_NE(GetProcAddress(again, "Proc"), nullptr);
  FreeLibrary(again);
}

// ---- Handle and pointer validation -----------------------------------------

using Validation = Extension;

TEST_F(Validation, WrongKindsOfHandlesAreRejected) {
  HMODULE mod = LoadLibraryA("winspool.drv");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HGLOBAL movable = GlobalAlloc(GHND, 4);

  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(mod));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetModuleHandleA("winspool.drv"), mod) << "a refused close changes nothing";

  SetLastError(kUntouched);
  EXPECT_EQ(WaitForSingleObject(mod, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_FALSE(ReleaseMutex(movable));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(movable));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalLock(mutex), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(mutex), "x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  FreeLibrary(mod);
  CloseHandle(mutex);
  GlobalFree(movable);
}

TEST_F(Validation, HandleValuesAreNotReused) {
  HANDLE closed = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  std::vector<HANDLE> later;
  for (int i = 0; i < 100; ++i) {
    later.push_back(CreateMutexA(nullptr, FALSE, nullptr));
    ASSERT_NE(later.back(), closed);
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  for (HANDLE h : later) CloseHandle(h);
}

TEST_F(Validation, ForeignAndFreedPointersAreRefused) {
  const qxplat::LiveCounts start;
  char stack_bytes[16];
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalFree(stack_bytes), static_cast<HGLOBAL>(stack_bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GlobalSize(stack_bytes), 0u);
  EXPECT_EQ(GlobalFlags(stack_bytes), static_cast<UINT>(GMEM_INVALID_HANDLE));

  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
  ASSERT_EQ(GlobalFree(fixed), nullptr);
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalFree(fixed), fixed);  // a double free is refused
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HGLOBAL movable = GlobalAlloc(GHND, 8);
  void* data = GlobalLock(movable);
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalFree(data), data) << "the address of a movable block is not its handle";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  GlobalFree(movable);

  HANDLE heap = GetProcessHeap();
  HGLOBAL global = GlobalAlloc(GPTR, 8);
  SetLastError(kUntouched);
  EXPECT_FALSE(HeapFree(heap, 0, global));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(HeapSize(heap, 0, stack_bytes), static_cast<SIZE_T>(-1));
  GlobalFree(global);
  SetLastError(kUntouched);
  EXPECT_EQ(HeapAlloc(reinterpret_cast<HANDLE>(stack_bytes), 0, 8), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  BSTR s = SysAllocStringByteLen("ab", 2);
  SysFreeString(s);
  SysFreeString(s);  // ignored
  SysFreeString(reinterpret_cast<BSTR>(stack_bytes + 4));  // ignored
  EXPECT_EQ(start.Leaks(), "");
}

TEST_F(Validation, ReAllocMovesOnlyWhenAllowed) {
  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 16);
  std::memcpy(fixed, "0123456789abcdef", 16);
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalReAlloc(fixed, 1 << 16, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(GlobalSize(fixed), 16u) << "a failed resize leaves the block";
  EXPECT_EQ(GlobalReAlloc(fixed, 8, 0), fixed) << "shrinking stays in place";
  HGLOBAL moved = GlobalReAlloc(fixed, 1 << 16, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(std::memcmp(moved, "01234567", 8), 0);
  EXPECT_EQ(GlobalLock(moved), moved);
  GlobalFree(moved);

  HGLOBAL locked = GlobalAlloc(GHND, 16);
  GlobalLock(locked);
  EXPECT_EQ(GlobalReAlloc(locked, 1 << 16, 0), nullptr) << "a locked movable block stays put";
  GlobalUnlock(locked);
  EXPECT_EQ(GlobalReAlloc(locked, 1 << 16, 0), locked);
  GlobalFree(locked);

  HANDLE heap = GetProcessHeap();
  void* p = HeapAlloc(heap, 0, 16);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, 1 << 16), nullptr);
  EXPECT_EQ(HeapSize(heap, 0, p), 16u);
  HeapFree(heap, 0, p);
}

TEST_F(Validation, UnzeroedMemoryIsNotZero) {
  HGLOBAL g = GlobalAlloc(GMEM_FIXED, 4);
  void* h = HeapAlloc(GetProcessHeap(), 0, 4);
  BSTR zeroed = SysAllocStringByteLen(nullptr, 4);
  EXPECT_EQ(std::memcmp(g, "\xA5\xA5\xA5\xA5", 4), 0);
  EXPECT_EQ(std::memcmp(h, "\xA5\xA5\xA5\xA5", 4), 0);
  EXPECT_EQ(std::memcmp(zeroed, "\0\0\0\0\0\0", 6), 0);
  GlobalFree(g);
  HeapFree(GetProcessHeap(), 0, h);
  SysFreeString(zeroed);
}

// ---- Message texts ---------------------------------------------------------

std::string SystemText(DWORD code, DWORD flags = 0x1300) {
  LPSTR text = nullptr;
  if (FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr) == 0) {
    return "<none>";
  }
  std::string s(text);
  LocalFree(text);
  return s;
}

TEST(MessageTexts, AreWindowsOwnWords) {
  EXPECT_EQ(SystemText(ERROR_SUCCESS), "The operation completed successfully.\r\n");
  EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_HANDLE), "The handle is invalid.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_PARAMETER), "The parameter is incorrect.\r\n");
  EXPECT_EQ(SystemText(ERROR_PIPE_BUSY), "All pipe instances are busy.\r\n");
  EXPECT_EQ(SystemText(ERROR_SEM_TIMEOUT), "The semaphore timeout period has expired.\r\n");
  EXPECT_EQ(SystemText(ERROR_INSUFFICIENT_BUFFER),
            "The data area passed to a system call is too small.\r\n");
  EXPECT_EQ(SystemText(ERROR_INVALID_PRINTER_NAME), "The printer name is invalid.\r\n");
  EXPECT_EQ(SystemText(RPC_S_SERVER_UNAVAILABLE), "The RPC server is unavailable.\r\n");
  EXPECT_EQ(SystemText(ERROR_NOT_OWNER), "Attempt to release mutex not owned by caller.\r\n");
}

TEST(MessageTexts, EveryCodeTheLayerReportsHasAText) {
  for (DWORD code :
       {1u, 2u, 3u, 5u, 6u, 8u, 13u, 14u, 21u, 31u, 32u, 87u, 109u, 121u, 122u, 123u, 124u, 126u,
        127u, 158u, 161u, 183u, 231u, 232u, 233u, 234u, 259u, 288u, 535u, 997u, 1460u, 1722u,
        1801u, 1803u, 1815u, 3012u}) {
    const std::string text = SystemText(code);
    EXPECT_NE(text, "<none>") << code;
    EXPECT_THAT(text, ::testing::EndsWith(".\r\n")) << code;
  }
}

TEST(MessageTexts, FlagsAndLanguages) {
  // A width turns the line break into a space.
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0x1300 | FORMAT_MESSAGE_MAX_WIDTH_MASK),
            "Access is denied. ");
  // Inserts stay as they are with IGNORE_INSERTS and are refused without it.
  EXPECT_THAT(SystemText(ERROR_MR_MID_NOT_FOUND), ::testing::HasSubstr("0x%1"));
  SetLastError(kUntouched);
  EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND, 0x1100), "<none>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0x1100), "Access is denied.\r\n");

  SetLastError(kUntouched);
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, FORMAT_MESSAGE_FROM_STRING | 0x300), "<none>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  LPSTR text = nullptr;
  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(0x1300, nullptr, 5, 0x411, reinterpret_cast<LPSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
  ASSERT_NE(FormatMessageA(0x1300, nullptr, 5, 0x409, reinterpret_cast<LPSTR>(&text), 64, nullptr),
            0u);
  EXPECT_EQ(LocalSize(text), 64u) << "nSize is the least size allocated";
  LocalFree(text);
}

}  // namespace
