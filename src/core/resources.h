// RAII owners for the Win32 resources the library opens and allocates, so that
// every printer handle is closed and every block freed on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace qx {

// A spooler printer handle, closed with ClosePrinter.
class PrinterHandle {
 public:
  PrinterHandle() = default;
  ~PrinterHandle() { Close(); }
  PrinterHandle(const PrinterHandle&) = delete;
  PrinterHandle& operator=(const PrinterHandle&) = delete;

  // Opens a printer with the given access, no data type and no device mode.
  // A null name is refused: OpenPrinterA would open the print server instead.
  bool Open(LPCSTR name, ACCESS_MASK access) {
    Close();
    if (name == nullptr) return false;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, access};
    return OpenPrinterA(const_cast<LPSTR>(name), &handle_, &defaults) && handle_ != nullptr;
  }
  // Closes now; reports whether ClosePrinter succeeded (true when none open).
  bool Close() {
    if (handle_ == nullptr) return true;
    const BOOL ok = ClosePrinter(handle_);
    handle_ = nullptr;
    return ok != FALSE;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// A file, pipe or device handle, closed with CloseHandle. Empty is
// INVALID_HANDLE_VALUE, as CreateFileA reports a failed open.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Closes what it held and takes handle instead.
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    Close();
    handle_ = handle;
  }
  // Gives the handle up without closing it.
  HANDLE Take() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  void Close() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// How each of the library's allocators gives and takes back a zeroed block.
struct HeapAllocator {
  static LPVOID Allocate(SIZE_T size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }
  static bool Free(LPVOID data) { return HeapFree(GetProcessHeap(), 0, data) != FALSE; }
};
struct GlobalAllocator {
  static LPVOID Allocate(SIZE_T size) { return GlobalAlloc(GPTR, size); }
  static bool Free(LPVOID data) { return GlobalFree(data) == nullptr; }
};

// A zeroed block from one of the allocators, freed when it goes.
template <class Allocator>
class Block {
 public:
  Block() = default;
  explicit Block(SIZE_T size) { Allocate(size); }
  ~Block() { Free(); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  // Frees what the block held and allocates size zeroed bytes (none for 0).
  bool Allocate(SIZE_T size) {
    Free();
    data_ = size != 0 ? Allocator::Allocate(size) : nullptr;
    size_ = data_ != nullptr ? size : 0;
    return data_ != nullptr;
  }

  // Frees now; reports whether the allocator took it back (true when nothing held).
  bool Free() {
    if (data_ == nullptr) return true;
    const bool ok = Allocator::Free(data_);
    data_ = nullptr;
    size_ = 0;
    return ok;
  }
  // Gives the block up without freeing it; the caller frees it with the
  // allocator it came from.
  LPVOID Take() {
    size_ = 0;
    return std::exchange(data_, nullptr);
  }
  BYTE* get() const { return static_cast<BYTE*>(data_); }
  template <class T>
  T* as() const { return static_cast<T*>(data_); }
  DWORD size() const { return static_cast<DWORD>(size_); }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  LPVOID data_ = nullptr;
  SIZE_T size_ = 0;
};

using HeapBlock = Block<HeapAllocator>;
using GlobalBlock = Block<GlobalAllocator>;

// How far a size query, allocation and fill got.
enum class Fetched { kAll, kNoSize, kNoMemory, kNoFill };

// FetchInto - the Win32 two-call pattern into a block of the caller's
//   allocator: query(nullptr, 0, &needed) asks for the size, the block is
//   allocated that large, and query(buffer, size, &needed) fills it.
//   query: BOOL(BYTE* buffer, DWORD size, DWORD* needed).
//   needed (out, may be null): the size the first call reported.
//   strictSize: the first call must also fail with ERROR_INSUFFICIENT_BUFFER,
//     as Windows answers a null buffer; otherwise any size above 0 will do.
// The block is empty unless kAll is returned.
template <class Allocator, class Query>
Fetched FetchInto(Block<Allocator>& block, Query query, DWORD* needed = nullptr, bool strictSize = false) {
  block.Free();
  DWORD size = 0;
  if (strictSize) SetLastError(ERROR_SUCCESS);
  const BOOL answered = query(nullptr, 0, &size);
  if (needed != nullptr) *needed = size;
  if (size == 0 || (strictSize && !answered && GetLastError() != ERROR_INSUFFICIENT_BUFFER)) return Fetched::kNoSize;
  if (!block.Allocate(size)) return Fetched::kNoMemory;
  if (!query(block.get(), size, &size)) {
    block.Free();
    return Fetched::kNoFill;
  }
  return Fetched::kAll;
}

// How movable global and local blocks are locked and unlocked.
struct GlobalLocking {
  static LPVOID Lock(HGLOBAL handle) { return GlobalLock(handle); }
  static void Unlock(HGLOBAL handle) { GlobalUnlock(handle); }
  static SIZE_T Size(HGLOBAL handle) { return GlobalSize(handle); }
};
struct LocalLocking {
  static LPVOID Lock(HLOCAL handle) { return LocalLock(handle); }
  static void Unlock(HLOCAL handle) { LocalUnlock(handle); }
  static SIZE_T Size(HLOCAL handle) { return LocalSize(handle); }
};

// Locks a movable block for the guard's lifetime.
template <class Locking, class Handle>
class LockGuard {
 public:
  explicit LockGuard(Handle handle) : handle_(handle), data_(handle != nullptr ? Locking::Lock(handle) : nullptr) {}
  ~LockGuard() {
    if (data_ != nullptr) Locking::Unlock(handle_);
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

  template <class T>
  T* as() const { return static_cast<T*>(data_); }
  // The block's size, so that offsets read from it can be checked.
  SIZE_T size() const { return data_ != nullptr ? Locking::Size(handle_) : 0; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  Handle handle_;
  LPVOID data_;
};

using GlobalLockGuard = LockGuard<GlobalLocking, HGLOBAL>;
using LocalLockGuard = LockGuard<LocalLocking, HLOCAL>;

// A module loaded with LoadLibraryA, freed when it goes.
class Module {
 public:
  explicit Module(LPCSTR name) : module_(LoadLibraryA(name)) {}
  ~Module() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  explicit operator bool() const { return module_ != nullptr; }
  // An entry of the module as the function type F, or null.
  template <class F>
  F Entry(LPCSTR name) const {
    return module_ != nullptr ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                              : nullptr;
  }

 private:
  HMODULE module_;
};

// Holds one of the library's mutexes for a scope: waits without a time limit
// (the wait's result is not examined) and releases exactly once. A mutex that
// was never created (null) is skipped, so the caller runs unlocked.
class MutexHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) {
    if (mutex_ != nullptr) WaitForSingleObject(mutex_, INFINITE);
  }
  ~MutexHold() { Release(); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

  void Release() {
    if (mutex_ != nullptr) ReleaseMutex(mutex_);
    mutex_ = nullptr;
  }

 private:
  HANDLE mutex_;
};

}  // namespace qx
