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

// A zeroed block from the process heap.
class HeapBlock {
 public:
  HeapBlock() = default;
  explicit HeapBlock(SIZE_T size) { Allocate(size); }
  ~HeapBlock() { Free(); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  // Frees what the block held and allocates size zeroed bytes (none for 0).
  bool Allocate(SIZE_T size) {
    Free();
    data_ = size != 0 ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : nullptr;
    size_ = data_ != nullptr ? size : 0;
    return data_ != nullptr;
  }

  // Frees now; reports whether HeapFree succeeded (true when nothing held).
  bool Free() {
    if (data_ == nullptr) return true;
    const BOOL ok = HeapFree(GetProcessHeap(), 0, data_);
    data_ = nullptr;
    size_ = 0;
    return ok != FALSE;
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

// A zeroed fixed block from GlobalAlloc.
class GlobalBlock {
 public:
  explicit GlobalBlock(SIZE_T size) : data_(size != 0 ? GlobalAlloc(GPTR, size) : nullptr), size_(data_ ? size : 0) {}
  ~GlobalBlock() {
    if (data_ != nullptr) GlobalFree(data_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  BYTE* get() const { return static_cast<BYTE*>(data_); }
  template <class T>
  T* as() const { return static_cast<T*>(data_); }
  DWORD size() const { return static_cast<DWORD>(size_); }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  HGLOBAL data_;
  SIZE_T size_;
};

// Locks a movable global block for the guard's lifetime.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL handle)
      : handle_(handle), data_(handle != nullptr ? GlobalLock(handle) : nullptr) {}
  ~GlobalLockGuard() {
    if (data_ != nullptr) GlobalUnlock(handle_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  template <class T>
  T* as() const { return static_cast<T*>(data_); }
  // The block's size, so that offsets read from it can be checked.
  SIZE_T size() const { return data_ != nullptr ? GlobalSize(handle_) : 0; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  HGLOBAL handle_;
  LPVOID data_;
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
