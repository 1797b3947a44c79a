// kernel_conformance_test.cpp - the Win32 kernel contract as the library
// relies on it: last error, mutexes, version, memory, message texts, strings,
// automation strings, modules. Uses only Win32 (no platform extension), so the
// same file builds for Windows and must pass there too.
//
// Style: SetLastError(0xdeadbeef) before the call, then check both the result
// and GetLastError().
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include "win32_expect.h"

namespace {

// A mutex handle closed at the end of the test.
struct MutexHandle {
  HANDLE h;
  explicit MutexHandle(BOOL owned, LPCSTR name = nullptr) : h(CreateMutexA(nullptr, owned, name)) {}
  ~MutexHandle() {
    if (h != nullptr) CloseHandle(h);
  }
};

// Runs fn on another thread and waits for it to end.
template <class Fn>
void OnOtherThread(Fn fn) {
  std::thread t(fn);
  t.join();
}

// ---- Last error ------------------------------------------------------------

TEST(LastError, IsPerThread) {
  // Starting and joining a thread are calls that may set the last error
  // themselves, so both threads set and read theirs while the other waits,
  // with no Win32 call in between.
  std::atomic<int> step{0};
  DWORD seen_by_other = 0;
  std::thread other([&] {
    SetLastError(222);
    step = 1;
    while (step != 2) std::this_thread::yield();
    seen_by_other = GetLastError();
  });
  while (step != 1) std::this_thread::yield();
  SetLastError(111);
  const DWORD seen_by_main = GetLastError();
  step = 2;
  other.join();
  EXPECT_EQ(seen_by_main, 111u);
  EXPECT_EQ(seen_by_other, 222u);
}

TEST(LastError, SuccessfulCallsLeaveIt) {
  MutexHandle m(FALSE);
  ASSERT_NE(m.h, nullptr);
  SetLastError(kUntouched);
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m.h));
  HGLOBAL g = GlobalAlloc(GHND, 16);
  ASSERT_NE(g, nullptr);
  EXPECT_NE(GlobalLock(g), nullptr);
  EXPECT_EQ(GlobalSize(g), 16u);
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  EXPECT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(GetLastError(), kUntouched);
  GlobalUnlock(g);
  GlobalFree(g);
}

// ---- Mutexes ---------------------------------------------------------------

TEST(Mutex, CreateUnnamedSetsSuccess) {
  SetLastError(kUntouched);
  MutexHandle m(FALSE);
  ASSERT_NE(m.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(Mutex, RecursiveForItsOwner) {
  MutexHandle m(TRUE);  // owned once by creation
  ASSERT_NE(m.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m.h, INFINITE), WAIT_OBJECT_0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ReleaseMutex(m.h)) << "release " << i;
  SetLastError(kUntouched);
  EXPECT_FALSE(ReleaseMutex(m.h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST(Mutex, OtherThreadTimesOutAndCannotRelease) {
  MutexHandle m(FALSE);
  ASSERT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);
  DWORD poll = 0, timed = 0, release_error = 0;
  BOOL released = TRUE;
  OnOtherThread([&] {
    poll = WaitForSingleObject(m.h, 0);
    timed = WaitForSingleObject(m.h, 30);
    SetLastError(kUntouched);
    released = ReleaseMutex(m.h);
    release_error = GetLastError();
  });
  EXPECT_EQ(poll, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(timed, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(released);
  EXPECT_EQ(release_error, static_cast<DWORD>(ERROR_NOT_OWNER));
  // Still ours, once.
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_FALSE(ReleaseMutex(m.h));
}

TEST(Mutex, ReleaseHandsOwnershipToWaiter) {
  MutexHandle m(TRUE);
  std::atomic<bool> waiting{false};
  std::atomic<DWORD> result{kUntouched};
  std::thread waiter([&] {
    waiting = true;
    result = WaitForSingleObject(m.h, INFINITE);
    ReleaseMutex(m.h);
  });
  while (!waiting) std::this_thread::yield();
  Sleep(20);
  EXPECT_EQ(result.load(), kUntouched) << "waiter got a mutex that is owned";
  EXPECT_TRUE(ReleaseMutex(m.h));
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
}

TEST(Mutex, AbandonedWhenOwnerThreadEnds) {
  MutexHandle m(FALSE);
  DWORD taken = kUntouched;
  OnOtherThread([&] {
    taken = WaitForSingleObject(m.h, 0);
    WaitForSingleObject(m.h, 0);  // twice: the whole count is abandoned
  });
  ASSERT_EQ(taken, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m.h, 1000), WAIT_ABANDONED);
  // The new owner holds it once; abandonment is reported once only.
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_FALSE(ReleaseMutex(m.h));
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m.h));
}

TEST(Mutex, AbandonedMutexWakesWaiter) {
  MutexHandle m(FALSE);
  std::atomic<bool> owned{false};
  std::atomic<bool> finish{false};
  std::thread owner([&] {
    WaitForSingleObject(m.h, 0);
    owned = true;
    while (!finish) std::this_thread::yield();
  });
  while (!owned) std::this_thread::yield();
  std::atomic<DWORD> result{kUntouched};
  std::thread waiter([&] {
    result = WaitForSingleObject(m.h, INFINITE);
    ReleaseMutex(m.h);
  });
  finish = true;
  owner.join();
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_ABANDONED);
}

TEST(Mutex, SerialisesThreads) {
  MutexHandle m(FALSE);
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  long counter = 0;  // guarded by m only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        WaitForSingleObject(m.h, INFINITE);
        WaitForSingleObject(m.h, INFINITE);
        const long seen = counter;
        counter = seen + 1;
        ReleaseMutex(m.h);
        ReleaseMutex(m.h);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(Mutex, NamedMutexIsSharedByName) {
  const std::string name = "qx-conformance-" + std::to_string(GetCurrentProcessId());
  SetLastError(kUntouched);
  MutexHandle first(TRUE, name.c_str());
  ASSERT_NE(first.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  SetLastError(kUntouched);
  MutexHandle second(TRUE, name.c_str());  // initial ownership is ignored
  ASSERT_NE(second.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(first.h, second.h);

  DWORD other = kUntouched;
  OnOtherThread([&] { other = WaitForSingleObject(second.h, 0); });
  EXPECT_EQ(other, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(ReleaseMutex(second.h));   // same object, so this releases first's count
  EXPECT_FALSE(ReleaseMutex(first.h));
}

TEST(Handles, NullAndClosedHandlesAreRejected) {
  SetLastError(kUntouched);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(CloseHandle(m));
  SetLastError(kUntouched);
  EXPECT_FALSE(CloseHandle(m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kUntouched);
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- Version ---------------------------------------------------------------

TEST(Version, AcceptsBothRecordSizes) {
  OSVERSIONINFOA v;
  std::memset(&v, 0xff, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwOSVersionInfoSize, 148u);
  EXPECT_EQ(v.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_GE(v.dwMajorVersion, 6u);
  EXPECT_LT(std::strlen(v.szCSDVersion), sizeof v.szCSDVersion);

  OSVERSIONINFOEXA ex = {};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, v.dwMajorVersion);
  EXPECT_EQ(ex.dwBuildNumber, v.dwBuildNumber);
  EXPECT_NE(ex.wProductType, 0);
}

TEST(Version, OtherSizesFailWithInsufficientBuffer) {
  for (DWORD size : {0u, 147u, 149u, 155u, 157u, 276u}) {
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = size;
    SetLastError(kUntouched);
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) << size;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
    EXPECT_EQ(v.dwMajorVersion, 0u) << size;
  }
}

// ---- Global, local and heap memory -----------------------------------------

TEST(GlobalMemory, MovableBlockLocksToZeroedPointer) {
  HGLOBAL h = GlobalAlloc(GHND, 100);
  ASSERT_NE(h, nullptr);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(static_cast<void*>(p), h);
  EXPECT_EQ(GlobalSize(h), 100u);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 1u);
  EXPECT_EQ(GlobalHandle(p), h);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  std::memset(p, 'x', 100);
  EXPECT_EQ(GlobalLock(h), p);  // a second lock, same address
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);

  EXPECT_TRUE(GlobalUnlock(h));
  SetLastError(kUntouched);
  EXPECT_FALSE(GlobalUnlock(h));  // count reached zero
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  SetLastError(kUntouched);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, FixedBlockIsItsOwnHandle) {
  HGLOBAL h = GlobalAlloc(GPTR, 32);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalLock(h), h);
  EXPECT_EQ(GlobalHandle(h), h);
  EXPECT_EQ(GlobalSize(h), 32u);
  const auto* p = static_cast<const unsigned char*>(h);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(p[i], 0) << i;
  GlobalUnlock(h);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, LocalFunctionsAcceptGlobalHandles) {
  HGLOBAL h = GlobalAlloc(GHND, 8);
  ASSERT_NE(h, nullptr);
  void* p = LocalLock(h);
  EXPECT_EQ(p, GlobalLock(h));
  EXPECT_EQ(LocalSize(h), 8u);
  LocalUnlock(h);
  GlobalUnlock(h);
  EXPECT_EQ(LocalFree(h), nullptr);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroesGrowth) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  ASSERT_NE(h, nullptr);
  std::memcpy(GlobalLock(h), "abcd", 4);
  GlobalUnlock(h);
  HGLOBAL h2 = GlobalReAlloc(h, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(GlobalSize(h2), 4096u);
  const auto* p = static_cast<const unsigned char*>(GlobalLock(h2));
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  for (int i = 4; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  GlobalUnlock(h2);
  EXPECT_EQ(GlobalFree(h2), nullptr);
}

TEST(GlobalMemory, FreeingAFreedHandleFails) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(GlobalFree(h), nullptr);
  SetLastError(kUntouched);
  EXPECT_EQ(GlobalFree(h), h);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(HeapMemory, ZeroedAllocReAllocAndFree) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  auto* p = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(HeapSize(heap, 0, p), 64u);
  std::memset(p, 7, 64);
  auto* q = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, 256));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, q), 256u);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(q[i], 7) << i;
  for (int i = 64; i < 256; ++i) ASSERT_EQ(q[i], 0) << i;
  EXPECT_TRUE(HeapFree(heap, 0, q));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

// ---- Message texts ---------------------------------------------------------

TEST(SystemMessage, AllocatedSystemTextIsFreedWithLocalFree) {
  for (DWORD lang : {0u, 0x400u}) {
    LPSTR text = nullptr;
    SetLastError(kUntouched);
    const DWORD n = FormatMessageA(0x1300, nullptr, ERROR_INVALID_HANDLE, lang,
                                   reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_GT(n, 2u) << lang;
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::strlen(text), n);
    EXPECT_EQ(std::string(text + n - 2), "\r\n");
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(LocalFree(text), nullptr);
  }
}

TEST(SystemMessage, UnknownCodeFails) {
  LPSTR text = nullptr;
  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(0x1300, nullptr, 0x2000FFFF, 0, reinterpret_cast<LPSTR>(&text), 0,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(text, nullptr);
}

TEST(SystemMessage, CallerBufferMustHoldTextAndZero) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char buf[256];
  const DWORD n = FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, buf, sizeof buf, nullptr);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::strlen(buf), n);

  char exact[256];
  EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, exact, n + 1, nullptr), n);
  EXPECT_STREQ(exact, buf);

  SetLastError(kUntouched);
  EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, exact, 5, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// ---- Strings ---------------------------------------------------------------

TEST(Strings, LengthCompareCopy) {
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA(""), 0);
  EXPECT_EQ(lstrlenA("QX 200"), 6);

  EXPECT_EQ(lstrcmpiA("USB001", "usb001"), 0);
  EXPECT_EQ(lstrcmpiA("QX Printer", "qx printer"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
  EXPECT_LT(lstrcmpiA("", "a"), 0);
  EXPECT_NE(lstrcmpA("abc", "ABC"), 0);

  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(lstrcpynA(buf, "hello", 3), buf);
  EXPECT_STREQ(buf, "he");
  EXPECT_EQ(lstrcpynA(buf, "hi", sizeof buf), buf);
  EXPECT_STREQ(buf, "hi");
  EXPECT_EQ(lstrcatA(buf, "!"), buf);
  EXPECT_STREQ(buf, "hi!");
  EXPECT_EQ(lstrcpyA(buf, "LPT1:"), buf);
  EXPECT_STREQ(buf, "LPT1:");
}

TEST(Strings, WesternCodePageHasNoLeadBytes) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  for (int c = 0; c < 256; ++c) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
}

// ---- Automation strings ----------------------------------------------------

TEST(AutomationString, ByteLengthLayout) {
  BSTR s = SysAllocStringByteLen("abcde", 5);
  ASSERT_NE(s, nullptr);
  const auto* bytes = reinterpret_cast<const unsigned char*>(s);
  uint32_t prefix;
  std::memcpy(&prefix, bytes - 4, 4);
  EXPECT_EQ(prefix, 5u);
  EXPECT_EQ(SysStringByteLen(s), 5u);
  EXPECT_EQ(SysStringLen(s), 2u);
  EXPECT_EQ(std::memcmp(bytes, "abcde", 5), 0);
  EXPECT_EQ(bytes[5], 0);
  EXPECT_EQ(bytes[6], 0);
  SysFreeString(s);
}

TEST(AutomationString, WideAndEmptyAndNull) {
  const OLECHAR text[] = {'Q', 'X', 0};
  BSTR s = SysAllocString(text);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 2u);
  EXPECT_EQ(SysStringByteLen(s), 4u);
  EXPECT_EQ(s[0], 'Q');
  EXPECT_EQ(s[2], 0);
  SysFreeString(s);

  const OLECHAR empty[] = {0};
  BSTR e = SysAllocString(empty);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(SysStringByteLen(e), 0u);
  EXPECT_EQ(e[0], 0);
  SysFreeString(e);

  BSTR n = SysAllocStringByteLen(nullptr, 6);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(SysStringByteLen(n), 6u);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(n)[6], 0);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(n)[7], 0);
  SysFreeString(n);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

// ---- Modules ---------------------------------------------------------------

TEST(Modules, SpoolerModuleIsReferenceCounted) {
  HMODULE a = LoadLibraryA("winspool.drv");
  ASSERT_NE(a, nullptr);
  HMODULE b = LoadLibraryA("WINSPOOL.DRV");
  EXPECT_EQ(a, b);
  EXPECT_EQ(GetModuleHandleA("winspool.drv"), a);

  SetLastError(kUntouched);
  EXPECT_EQ(GetProcAddress(a, "QxNoSuchProcedure"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_TRUE(FreeLibrary(a));
}

TEST(Modules, SetupModuleLoads) {
  HMODULE m = LoadLibraryA("Setupapi");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(Modules, UnknownModuleFails) {
  SetLastError(kUntouched);
  EXPECT_EQ(LoadLibraryA("qx-no-such-module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_EQ(GetModuleHandleA("qx-no-such-module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

}  // namespace
