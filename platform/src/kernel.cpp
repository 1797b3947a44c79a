// kernel.cpp - POSIX implementation of the Win32 kernel area: last error,
// CloseHandle, mutexes and waiting, thread and process ids, Sleep and the
// tick counts, GetVersionExA, OutputDebugStringA, FormatMessageA, the 8-bit
// string helpers and the code page, and the module registry behind
// LoadLibraryA and GetProcAddress. Memory is in memory.cpp, automation
// strings in ole.cpp.
#include <windows.h>
#include <qxplatform.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "accounting.h"
#include "clock.h"
#include "handles.h"
#include "modules.h"
#include "simlink.h"

namespace qxplat {
namespace {

// ---- Threads ---------------------------------------------------------------

DWORD ThisThreadId() {
  thread_local const DWORD id = static_cast<DWORD>(gettid());
  return id;
}

thread_local DWORD t_last_error = ERROR_SUCCESS;

// ---- Mutexes ---------------------------------------------------------------

class MutexObject;

// The mutexes a thread owns. When the thread ends, its destructor abandons
// each of them: the next waiter gets it with WAIT_ABANDONED.
struct OwnedMutexes {
  DWORD thread_id = ThisThreadId();
  std::vector<std::weak_ptr<MutexObject>> owned;
  ~OwnedMutexes();
};

thread_local OwnedMutexes t_owned;

// Set once t_owned is destroyed. The main thread's thread-locals go before
// the shared libraries' destructors run, and a library's process detach may
// still wait on a mutex then; such late acquisitions are simply not tracked.
thread_local bool t_owned_gone = false;

// A Win32 mutex: recursive for its owner; ownership passes to one waiter at
// a time. Several handles (named mutexes) may share one object.
class MutexObject final : public Object, public std::enable_shared_from_this<MutexObject> {
 public:
  MutexObject() : Object(QXPLAT_KIND_KERNEL) {}

  // Wait - acquire for the calling thread within ms virtual milliseconds.
  // Returns WAIT_OBJECT_0, WAIT_ABANDONED (acquired; the last owner ended
  // without releasing) or WAIT_TIMEOUT.
  DWORD Wait(DWORD ms) {
    const DWORD self = ThisThreadId();
    std::unique_lock<std::mutex> lk(lock_);
    if (owner_ == self) {
      ++recursion_;
      return WAIT_OBJECT_0;
    }
    if (owner_ != 0) {
      auto free = [this] { return owner_ == 0; };
      if (ms == 0) return WAIT_TIMEOUT;
      if (ms == INFINITE) {
        cv_.wait(lk, free);
      } else if (!cv_.wait_until(lk, RealDeadline(ms), free)) {
        return WAIT_TIMEOUT;
      }
    }
    owner_ = self;
    recursion_ = 1;
    if (!t_owned_gone) t_owned.owned.push_back(weak_from_this());
    const bool abandoned = abandoned_;
    abandoned_ = false;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }

  // Release - undo one acquisition by the owner. False when the caller does
  // not own the mutex.
  bool Release() {
    std::lock_guard<std::mutex> guard(lock_);
    if (owner_ != ThisThreadId()) return false;
    if (--recursion_ == 0) {
      owner_ = 0;
      Forget();
      cv_.notify_one();
    }
    return true;
  }

  // Abandon - the owning thread thread_id has ended.
  void Abandon(DWORD thread_id) {
    std::lock_guard<std::mutex> guard(lock_);
    if (owner_ != thread_id) return;
    owner_ = 0;
    recursion_ = 0;
    abandoned_ = true;
    cv_.notify_one();
  }

 private:
  void Forget() {
    if (t_owned_gone) return;
    auto& owned = t_owned.owned;
    for (auto it = owned.begin(); it != owned.end(); ++it) {
      if (it->lock().get() == this) {
        owned.erase(it);
        return;
      }
    }
  }

  std::mutex lock_;
  std::condition_variable cv_;
  DWORD owner_ = 0;  // thread id; 0 when free (no thread has id 0)
  DWORD recursion_ = 0;
  bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes() {
  t_owned_gone = true;
  // The main thread's thread-locals go when the process exits; like the
  // exiting thread on Windows, it keeps its mutexes through the detach that
  // follows.
  if (thread_id == static_cast<DWORD>(getpid())) return;
  for (auto& weak : owned) {
    if (auto mutex = weak.lock()) mutex->Abandon(thread_id);
  }
}

// Named mutexes are private to the process: the name finds the object while
// any handle to it is open.
struct MutexNames {
  std::mutex lock;
  std::unordered_map<std::string, std::weak_ptr<MutexObject>> names;
};

MutexNames& TheMutexNames() {
  static MutexNames* names = new MutexNames;
  return *names;
}

// ---- Time ------------------------------------------------------------------

std::atomic<uint64_t> g_sleep_calls{0};
std::atomic<uint64_t> g_sleep_total_ms{0};

// ---- Version ---------------------------------------------------------------

struct VersionState {
  std::mutex lock;
  OSVERSIONINFOEXA info;
  bool overridden = false;  // set by qxplat_set_os_version: the world is not asked
};

OSVERSIONINFOEXA DefaultVersion() {
  OSVERSIONINFOEXA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  v.dwMajorVersion = 10;
  v.dwMinorVersion = 0;
  v.dwBuildNumber = 19045;
  v.dwPlatformId = VER_PLATFORM_WIN32_NT;
  v.wSuiteMask = VER_SUITE_SINGLEUSERTS;
  v.wProductType = VER_NT_WORKSTATION;
  return v;
}

VersionState& TheVersion() {
  static VersionState* state = [] {
    auto* s = new VersionState;
    s->info = DefaultVersion();
    return s;
  }();
  return *state;
}

// ---- Debug output ----------------------------------------------------------

struct DebugSink {
  std::mutex lock;
  bool capturing = false;
  std::vector<std::string> captured;
};

DebugSink& TheDebugSink() {
  static DebugSink* sink = new DebugSink;
  return *sink;
}

void WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // debug output never fails visibly
    data += n;
    len -= static_cast<size_t>(n);
  }
}

// ---- Message texts ---------------------------------------------------------

struct Message {
  DWORD code;
  const char* text;
};

// The system's English texts for the codes the layer reports.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_BROKEN_PIPE, "The pipe has been ended.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_INVALID_LEVEL, "The system call level is not correct.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_NOT_LOCKED, "The segment is already unlocked.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_BAD_PIPE, "The pipe state is invalid.\r\n"},
    {ERROR_PIPE_BUSY, "All pipe instances are busy.\r\n"},
    {ERROR_NO_DATA, "The pipe is being closed.\r\n"},
    {ERROR_PIPE_NOT_CONNECTED, "No process is on the other end of the pipe.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {ERROR_PIPE_CONNECTED, "There is a process on other end of the pipe.\r\n"},
    {ERROR_PIPE_LISTENING, "Waiting for a process to open the other end of the pipe.\r\n"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request.\r\n"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.\r\n"},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_INVALID_FLAGS, "Invalid flags.\r\n"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
    {ERROR_NOT_FOUND, "Element not found.\r\n"},
    {ERROR_CANCELLED, "The operation was canceled by the user.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable.\r\n"},
    {ERROR_UNKNOWN_PORT, "The specified port is unknown.\r\n"},
    {ERROR_UNKNOWN_PRINTER_DRIVER, "The printer driver is unknown.\r\n"},
    {ERROR_INVALID_PRINTER_NAME, "The printer name is invalid.\r\n"},
    {ERROR_PRINTER_ALREADY_EXISTS, "The printer already exists.\r\n"},
    {ERROR_INVALID_PRINTER_COMMAND, "The printer command is invalid.\r\n"},
    {ERROR_INVALID_DATATYPE, "The specified datatype is invalid.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
    {ERROR_INVALID_PRINTER_STATE, "The state of the printer is invalid.\r\n"},
    {ERROR_PRINTER_NOT_FOUND, "No printers were found.\r\n"},
};

const char* FindMessage(DWORD code) {
  for (const Message& m : kMessages) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

bool KnownLanguage(DWORD lang) {
  return lang == 0 || lang == LANG_USER_DEFAULT || lang == LANG_SYSTEM_DEFAULT ||
         lang == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

// ---- Code page -------------------------------------------------------------

std::atomic<UINT> g_code_page{1252};
std::atomic<bool> g_code_page_overridden{false};  // set by qxplat_set_code_page

bool LeadByteIn(UINT code_page, BYTE c) {
  switch (code_page) {
    case 932:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
      return c >= 0x81 && c <= 0xFE;
    default:
      return false;
  }
}

// Lower case of one byte in the code page: ASCII letters everywhere, and in
// 1252 also the accented capitals and the few capitals at 0x8A-0x9F.
BYTE FoldByte(UINT code_page, BYTE c) {
  if (c >= 'A' && c <= 'Z') return static_cast<BYTE>(c + 32);
  if (code_page == 1252) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<BYTE>(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<BYTE>(c + 16);
    if (c == 0x9F) return 0xFF;
  }
  return c;
}

// Byte order of two texts, optionally ignoring case; double-byte characters
// compare unfolded, so a trail byte that looks like a letter stays itself.
int CompareTexts(LPCSTR a, LPCSTR b, bool ignore_case) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  const UINT cp = g_code_page.load(std::memory_order_relaxed);
  const auto* p = reinterpret_cast<const BYTE*>(a);
  const auto* q = reinterpret_cast<const BYTE*>(b);
  bool in_double = false;
  for (;; ++p, ++q) {
    BYTE x = *p;
    BYTE y = *q;
    if (ignore_case && !in_double) {
      x = FoldByte(cp, x);
      y = FoldByte(cp, y);
    }
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    in_double = !in_double && LeadByteIn(cp, *p);
  }
}

// ---- Modules ---------------------------------------------------------------

class ModuleObject final : public Object {
 public:
  explicit ModuleObject(std::string key) : Object(QXPLAT_KIND_COUNT), key_(std::move(key)) {}
  bool ClosableByCloseHandle() const override { return false; }
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

struct ModuleEntry {
  std::unordered_map<std::string, FARPROC> procs;
  DWORD refs = 0;
  HMODULE handle = nullptr;
  bool permanent = false;  // the process image: never unloaded, not counted
};

struct ModuleRegistry {
  std::mutex lock;
  std::unordered_map<std::string, ModuleEntry> modules;
};

constexpr const char* kImageKey = "";

// Registry key of a module name: the last path component, lower case, without
// a ".dll" or ".drv" ending ("C:\\Windows\\WINSPOOL.DRV" -> "winspool").
std::string ModuleKey(std::string_view name) {
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  for (const char* ending : {".dll", ".drv"}) {
    if (key.size() > 4 && key.compare(key.size() - 4, 4, ending) == 0) {
      key.resize(key.size() - 4);
      break;
    }
  }
  return key;
}

// Locked by the caller. The handle of a module is created when its first
// reference is taken and goes when the last one is dropped.
HMODULE EnsureHandleLocked(const std::string& key, ModuleEntry& entry) {
  if (entry.handle == nullptr) {
    entry.handle = static_cast<HMODULE>(InsertHandle(std::make_shared<ModuleObject>(key)));
  }
  return entry.handle;
}

ModuleRegistry& TheModules() {
  static ModuleRegistry* registry = [] {
    auto* r = new ModuleRegistry;
    r->modules[ModuleKey("winspool.drv")];
    r->modules[ModuleKey("Setupapi")];
    ModuleEntry& image = r->modules[kImageKey];
    image.permanent = true;
    EnsureHandleLocked(kImageKey, image);
    return r;
  }();
  return *registry;
}

// The mutex trace behind qxplat_mutex_trace_*: off unless a test starts it.
struct MutexTrace {
  std::atomic<bool> on{false};
  std::mutex lock;
  std::vector<qxplat_mutex_event> events;
};

MutexTrace& TheMutexTrace() {
  static MutexTrace* trace = new MutexTrace;
  return *trace;
}

constexpr size_t kMutexTraceLimit = size_t{1} << 20;

void TraceMutex(HANDLE handle, bool acquired) {
  MutexTrace& trace = TheMutexTrace();
  if (!trace.on.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(trace.lock);
  if (trace.events.size() >= kMutexTraceLimit) return;
  trace.events.push_back({ThisThreadId(), reinterpret_cast<uintptr_t>(handle), acquired ? 1 : 0});
}

}  // namespace

bool RegisterProc(const char* module, const char* proc, FARPROC fn) {
  if (module == nullptr || *module == '\0' || proc == nullptr || *proc == '\0' || fn == nullptr) {
    return false;
  }
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  r.modules[ModuleKey(module)].procs[proc] = fn;
  return true;
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// ---- Last error ------------------------------------------------------------

DWORD WINAPI GetLastError(void) { return t_last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }

// ---- Handles, mutexes, waiting ---------------------------------------------

// CloseHandle - close a handle of any kind CloseHandle accepts (mutexes now;
// files, pipes and devices as their areas add them). Unknown, closed and
// other kinds of handles: FALSE with ERROR_INVALID_HANDLE.
BOOL WINAPI CloseHandle(HANDLE hObject) {
  auto object =
      RemoveHandleIf(hObject, [](const Object& o) { return o.ClosableByCloseHandle(); });
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->OnClose();
  return TRUE;
}

// CreateMutexA - a new mutex, owned by the caller when bInitialOwner is set.
//   lpMutexAttributes: ignored (no security, no inheritance in one process).
//   lpName: null or empty for an unnamed mutex. A named mutex is found again
//     by its name (case-sensitive) within this process only; opening an
//     existing one returns a new handle to it with ERROR_ALREADY_EXISTS and
//     ignores bInitialOwner.
// Returns the handle (last error 0 for a new mutex) or NULL. Fault class "open".
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName) {
  if (FaultPoint(kFaultOpen, "CreateMutexA", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  const bool named = lpName != nullptr && *lpName != '\0';
  if (named && std::strlen(lpName) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }

  std::shared_ptr<MutexObject> mutex;
  if (named) {
    MutexNames& names = TheMutexNames();
    std::lock_guard<std::mutex> guard(names.lock);
    auto it = names.names.find(lpName);
    if (it != names.names.end()) mutex = it->second.lock();
    if (mutex != nullptr) {
      HANDLE handle = InsertHandle(mutex);
      SetLastError(ERROR_ALREADY_EXISTS);
      return handle;
    }
    mutex = std::make_shared<MutexObject>();
    names.names[lpName] = mutex;
  } else {
    mutex = std::make_shared<MutexObject>();
  }
  if (bInitialOwner) mutex->Wait(0);
  HANDLE handle = InsertHandle(mutex);
  if (bInitialOwner) TraceMutex(handle, true);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

// ReleaseMutex - undo one acquisition. Not the owner: FALSE, ERROR_NOT_OWNER.
BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupHandle<MutexObject>(hMutex);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!mutex->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  TraceMutex(hMutex, false);
  return TRUE;
}

// WaitForSingleObject - wait for a mutex, dwMilliseconds on the scaled clock
// or INFINITE. Returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT, or
// WAIT_FAILED with ERROR_INVALID_HANDLE for anything that is not a mutex.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto mutex = LookupHandle<MutexObject>(hHandle);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const DWORD result = mutex->Wait(dwMilliseconds);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) TraceMutex(hHandle, true);
  return result;
}

DWORD WINAPI GetCurrentThreadId(void) { return ThisThreadId(); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// ---- Time ------------------------------------------------------------------

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

void qxplat_mutex_trace_start(void) {
  MutexTrace& trace = TheMutexTrace();
  std::lock_guard<std::mutex> guard(trace.lock);
  trace.events.clear();
  trace.on.store(true, std::memory_order_release);
}

void qxplat_mutex_trace_stop(void) { TheMutexTrace().on.store(false, std::memory_order_release); }

size_t qxplat_mutex_trace_read(qxplat_mutex_event* out, size_t max) {
  MutexTrace& trace = TheMutexTrace();
  std::lock_guard<std::mutex> guard(trace.lock);
  const size_t n = std::min(max, trace.events.size());
  if (out != nullptr) std::copy_n(trace.events.begin(), n, out);
  return trace.events.size();
}

uint64_t qxplat_sleep_calls(void) { return g_sleep_calls.load(std::memory_order_relaxed); }

uint64_t qxplat_sleep_total_ms(void) { return g_sleep_total_ms.load(std::memory_order_relaxed); }

void qxplat_sleep_counters_reset(void) {
  g_sleep_calls.store(0, std::memory_order_relaxed);
  g_sleep_total_ms.store(0, std::memory_order_relaxed);
}

// ---- Version ---------------------------------------------------------------

// GetVersionExA - fill an OSVERSIONINFOA (dwOSVersionInfoSize 148) or
// OSVERSIONINFOEXA (156) with the simulated system's version: the reachable
// world's record, unless a test set one (qxplatform.h). Any other size:
// FALSE with ERROR_INSUFFICIENT_BUFFER, as Windows answers.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (FaultPoint({}, "GetVersionExA", ERROR_INVALID_PARAMETER)) return FALSE;

  VersionState& v = TheVersion();
  OSVERSIONINFOEXA out;
  bool overridden;
  {
    std::lock_guard<std::mutex> guard(v.lock);
    out = v.info;
    overridden = v.overridden;
  }
  // A reachable world's own version record, unless a test has set one.
  SimSystem world;
  if (!overridden && SimSystemInfo(world)) {
    out.dwMajorVersion = world.major;
    out.dwMinorVersion = world.minor;
    out.dwBuildNumber = world.build;
    out.dwPlatformId = world.platform_id;
    std::memset(out.szCSDVersion, 0, sizeof out.szCSDVersion);
    std::memcpy(out.szCSDVersion, world.csd.data(),
                std::min(world.csd.size(), sizeof out.szCSDVersion - 1));
  }
  // The two records share their first 148 bytes; copy what the caller has room for.
  out.dwOSVersionInfoSize = size;
  std::memcpy(lpVersionInformation, &out, size);
  return TRUE;
}

void qxplat_set_os_version(uint32_t major, uint32_t minor, uint32_t build, uint32_t platform_id,
                           const char* csd) {
  VersionState& v = TheVersion();
  std::lock_guard<std::mutex> guard(v.lock);
  v.info.dwMajorVersion = major;
  v.info.dwMinorVersion = minor;
  v.info.dwBuildNumber = build;
  v.info.dwPlatformId = platform_id;
  v.overridden = true;
  std::memset(v.info.szCSDVersion, 0, sizeof v.info.szCSDVersion);
  if (csd != nullptr) {
    std::strncpy(v.info.szCSDVersion, csd, sizeof v.info.szCSDVersion - 1);
  }
}

void qxplat_reset_os_version(void) {
  VersionState& v = TheVersion();
  std::lock_guard<std::mutex> guard(v.lock);
  v.info = DefaultVersion();
  v.overridden = false;
}

// ---- Debug output ----------------------------------------------------------

// OutputDebugStringA - one call writes its text exactly as given, as one
// write, to QX_DEBUG_OUTPUT: unset or empty drops it, "stderr" is standard
// error, anything else a file path appended to. The variable is read on every
// call. A null pointer writes nothing. Calls are serialised, so texts never
// interleave, and captured in order when capture is on.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  const size_t len = std::strlen(lpOutputString);
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (sink.capturing) sink.captured.emplace_back(lpOutputString, len);
  const char* destination = std::getenv("QX_DEBUG_OUTPUT");
  if (destination == nullptr || *destination == '\0' || len == 0) return;
  if (std::strcmp(destination, "stderr") == 0) {
    WriteAll(STDERR_FILENO, lpOutputString, len);
    return;
  }
  const int fd = open(destination, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  WriteAll(fd, lpOutputString, len);
  close(fd);
}

void qxplat_debug_capture_start(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.captured.clear();
  sink.capturing = true;
}

void qxplat_debug_capture_stop(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.capturing = false;
}

void qxplat_debug_capture_clear(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  sink.captured.clear();
}

size_t qxplat_debug_capture_count(void) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  return sink.captured.size();
}

size_t qxplat_debug_capture_text(size_t index, char* buf, size_t size) {
  DebugSink& sink = TheDebugSink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (index >= sink.captured.size()) return SIZE_MAX;
  const std::string& text = sink.captured[index];
  if (buf != nullptr && size > 0) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
  }
  return text.size();
}

// ---- Message texts ---------------------------------------------------------

// FormatMessageA - the system's message text for an error code.
//   dwFlags: FORMAT_MESSAGE_FROM_SYSTEM is required (the layer has no message
//     tables of modules and formats no caller strings); ALLOCATE_BUFFER makes
//     lpBuffer an LPSTR* that receives a LocalAlloc block (at least nSize
//     bytes) the caller frees with LocalFree; without it lpBuffer holds nSize
//     bytes. A nonzero width (low byte) turns the texts' line breaks into
//     spaces; the texts are single lines and are not wrapped.
//   dwLanguageId: 0, LANG_USER_DEFAULT, LANG_SYSTEM_DEFAULT or US English;
//     others fail with ERROR_RESOURCE_LANG_NOT_FOUND.
// Returns the characters stored, without the zero; 0 on failure with
// ERROR_MR_MID_NOT_FOUND (unknown code), ERROR_INSUFFICIENT_BUFFER (buffer
// too small) or ERROR_INVALID_PARAMETER (other flags, or a text with inserts
// without FORMAT_MESSAGE_IGNORE_INSERTS; Arguments are never read).
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  if (allocate && lpBuffer != nullptr) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
      (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 ||
      lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (FaultPoint({}, "FormatMessageA", ERROR_NOT_ENOUGH_MEMORY)) return 0;
  if (!KnownLanguage(dwLanguageId)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* message = FindMessage(dwMessageId);
  if (message == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(message, '%') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With a width set, each line break becomes one blank.
  const bool join_lines = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0;
  std::string text;
  for (const char* p = message; *p != '\0'; ++p) {
    if (join_lines && p[0] == '\r' && p[1] == '\n') {
      text += ' ';
      ++p;
    } else {
      text += *p;
    }
  }
  const size_t needed = text.size() + 1;

  if (allocate) {
    const SIZE_T bytes = needed > nSize ? needed : nSize;
    auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr) return 0;  // LocalAlloc has set the error
    std::memcpy(block, text.c_str(), needed);
    *reinterpret_cast<LPSTR*>(lpBuffer) = block;
  } else {
    if (needed > nSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, text.c_str(), needed);
  }
  return static_cast<DWORD>(text.size());
}

// ---- 8-bit strings and the code page ----------------------------------------
//
// lstrcmpA and lstrcmpiA compare in byte order (case folded in the code page
// for lstrcmpiA), not in the linguistic order of CompareStringA: equal texts
// and case variants compare as on Windows; the order between letters and
// punctuation may differ.

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareTexts(lpString1, lpString2, false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareTexts(lpString1, lpString2, true);
}

// lstrcpynA - copy at most iMaxLength - 1 characters and always terminate
// (when iMaxLength > 0). Null pointers: NULL with ERROR_INVALID_PARAMETER,
// where Windows catches the access fault.
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr || (lpString2 == nullptr && iMaxLength > 1)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto count = static_cast<UINT>(iMaxLength);
  LPSTR d = lpString1;
  for (LPCSTR s = lpString2; count > 1 && *s != '\0'; --count) *d++ = *s++;
  if (count != 0) *d = '\0';
  return lpString1;
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::strcpy(lpString1, lpString2);
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::strcat(lpString1, lpString2);
}

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  return LeadByteIn(g_code_page.load(std::memory_order_relaxed), TestChar) ? TRUE : FALSE;
}

// GetACP - the ANSI code page: a reachable world's, unless a test has set one.
// IsDBCSLeadByte follows the layer's own setting only, as asking the world
// for every byte would be far too slow.
UINT WINAPI GetACP(void) {
  SimSystem world;
  if (!g_code_page_overridden.load(std::memory_order_relaxed) && SimSystemInfo(world) &&
      world.code_page != 0) {
    return world.code_page;
  }
  return g_code_page.load(std::memory_order_relaxed);
}

int qxplat_set_code_page(uint32_t code_page) {
  switch (code_page) {
    case 1252:
    case 932:
    case 936:
    case 949:
    case 950:
      g_code_page.store(code_page, std::memory_order_relaxed);
      g_code_page_overridden.store(true, std::memory_order_relaxed);
      return 0;
    default:
      return -1;
  }
}

void qxplat_reset_code_page(void) {
  g_code_page.store(1252, std::memory_order_relaxed);
  g_code_page_overridden.store(false, std::memory_order_relaxed);
}

// ---- Modules ---------------------------------------------------------------

// LoadLibraryA - take a reference on one of the layer's modules ("winspool.drv",
// "Setupapi", and those the areas or tests register). The name matches
// without regard to case, directory, or a ".dll"/".drv" ending. Returns the
// module's handle (the same for every reference) or NULL with
// ERROR_MOD_NOT_FOUND. Fault class "open".
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (FaultPoint(kFaultOpen, "LoadLibraryA", ERROR_MOD_NOT_FOUND)) return nullptr;
  const std::string key = ModuleKey(lpLibFileName);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = key.empty() ? r.modules.end() : r.modules.find(key);
  if (it == r.modules.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleEntry& entry = it->second;
  HMODULE handle = EnsureHandleLocked(key, entry);
  ++entry.refs;
  CountUp(QXPLAT_KIND_MODULE);
  return handle;
}

// FreeLibrary - drop one reference; the last one unloads the module and its
// handle becomes invalid. NULL: ERROR_INVALID_HANDLE; a handle that is not
// a loaded module: ERROR_MOD_NOT_FOUND.
BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto module = LookupHandle<ModuleObject>(hLibModule);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = module == nullptr ? r.modules.end() : r.modules.find(module->key());
  if (it == r.modules.end() || it->second.handle != hLibModule) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  ModuleEntry& entry = it->second;
  if (entry.permanent) return TRUE;
  if (entry.refs == 0) {  // lost a race with another thread's last free
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  CountDown(QXPLAT_KIND_MODULE);
  if (--entry.refs == 0) {
    RemoveHandle<ModuleObject>(entry.handle);
    entry.handle = nullptr;
  }
  return TRUE;
}

// GetModuleHandleA - the handle of a loaded module, taking no reference; NULL
// names the process image. Not loaded: NULL with ERROR_MOD_NOT_FOUND.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  const std::string key = lpModuleName == nullptr ? kImageKey : ModuleKey(lpModuleName);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.modules.find(key);
  if (it == r.modules.end() || it->second.handle == nullptr ||
      (lpModuleName != nullptr && key.empty())) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return it->second.handle;
}

// GetProcAddress - a procedure registered under a loaded module; NULL for the
// module names the process image, which has none. The name is case-sensitive;
// ordinals are not supported (no module has any). Errors: ERROR_MOD_NOT_FOUND
// for a handle that is not a loaded module, ERROR_PROC_NOT_FOUND.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (FaultPoint({}, "GetProcAddress", ERROR_PROC_NOT_FOUND)) return nullptr;
  std::string key = kImageKey;
  if (hModule != nullptr) {
    auto module = LookupHandle<ModuleObject>(hModule);
    if (module == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    key = module->key();
  }
  if (reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.modules.find(key);
  if (it == r.modules.end() || (hModule != nullptr && it->second.handle != hModule)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto proc = it->second.procs.find(lpProcName);
  if (proc == it->second.procs.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return proc->second;
}

int qxplat_register_proc(const char* module, const char* proc, void (*fn)(void)) {
  return RegisterProc(module, proc, reinterpret_cast<FARPROC>(fn)) ? 0 : -1;
}

}  // extern "C"
