// kernel_objects.cpp - POSIX implementation of the Win32 kernel objects and
// threads: the last error, CloseHandle, mutexes (CreateMutexA, ReleaseMutex)
// and waiting on them (WaitForSingleObject), thread and process ids, and the
// qxplat_ mutex trace. The handle table itself is in handles.cpp.
//
// The last error and the mutexes a thread owns are thread-locals of this
// one library, so every module of a process shares them.
#include <windows.h>
#include <qxplatform.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "accounting.h"
#include "clock.h"
#include "handles.h"

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

// ---- Mutex trace -----------------------------------------------------------

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

}  // extern "C"
