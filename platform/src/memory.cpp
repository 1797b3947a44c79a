// memory.cpp - POSIX implementation of the Win32 memory functions: global and
// local blocks (fixed and movable) and the process heap.
//
// Every block is registered, so that a pointer or handle the layer did not
// hand out (or already freed) is refused with an error instead of corrupting
// memory. Global and local blocks are one kind of block, as on Windows, where
// GlobalLock and LocalLock accept each other's handles; they are counted
// apart by the function that allocated them. Heap blocks are separate.
//
// A fixed block's handle is its address. A movable block's handle is a value
// from the handle table's sequence, distinct from every address and never
// reused; locking it gives the address.
//
// Approximations: a block is limited to 2 GiB (a larger request fails with
// ERROR_NOT_ENOUGH_MEMORY, as an exhausted heap does); a block of 0 bytes is
// an ordinary block of size 0, not a discarded one; memory not asked to be
// zeroed is filled with 0xA5, so code that forgets GMEM_ZEROINIT and relies
// on fresh pages being zero fails here as it would some day on Windows.
#include <windows.h>
#include <qxplatform.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "accounting.h"
#include "handles.h"

namespace qxplat {
namespace {

constexpr SIZE_T kMaxBlock = SIZE_T{1} << 31;
constexpr unsigned char kFill = 0xA5;

struct Block {
  unsigned char* data = nullptr;
  SIZE_T size = 0;
  SIZE_T capacity = 0;  // bytes allocated at data (at least 1)
  qxplat_kind kind = QXPLAT_KIND_GLOBAL;
  bool movable = false;
  bool discardable = false;
  UINT locks = 0;
  HANDLE handle = nullptr;  // movable: the handle; fixed: data
};

struct Memory {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::unique_ptr<Block>> by_data;  // global and local
  std::unordered_map<uintptr_t, Block*> by_handle;                // movable handles
  std::unordered_map<uintptr_t, std::unique_ptr<Block>> heap;     // process heap
  HANDLE process_heap = NewHandleValue();
};

Memory& TheMemory() {
  static Memory* memory = new Memory;
  return *memory;
}

uintptr_t Key(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// NewBlock - allocate bytes (at least 1), zeroed or filled. Null when out of
// memory or too large; sets ERROR_NOT_ENOUGH_MEMORY.
std::unique_ptr<Block> NewBlock(SIZE_T bytes, bool zero) {
  if (bytes > kMaxBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const SIZE_T capacity = bytes == 0 ? 1 : bytes;
  auto* data = static_cast<unsigned char*>(std::malloc(capacity));
  if (data == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::memset(data, zero ? 0 : kFill, capacity);
  auto block = std::make_unique<Block>();
  block->data = data;
  block->size = bytes;
  block->capacity = capacity;
  return block;
}

// Resize - give a block bytes, in place when they fit, else moved when
// may_move. Grown bytes are zeroed or filled. False (ERROR_NOT_ENOUGH_MEMORY)
// when it would have to move and may not, or memory is short; the block is
// then unchanged.
bool Resize(Block& block, SIZE_T bytes, bool zero, bool may_move) {
  if (bytes > kMaxBlock || (bytes > block.capacity && !may_move)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (bytes > block.capacity) {
    auto* data = static_cast<unsigned char*>(std::malloc(bytes));
    if (data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    std::memcpy(data, block.data, block.size);
    std::free(block.data);
    block.data = data;
    block.capacity = bytes;
  }
  if (bytes > block.size) std::memset(block.data + block.size, zero ? 0 : kFill, bytes - block.size);
  block.size = bytes;
  return true;
}

// FindLocked - the global or local block named by a handle: a movable
// handle, or the address of a fixed block. Null when there is none.
Block* FindLocked(Memory& m, const void* handle) {
  if (handle == nullptr) return nullptr;
  auto h = m.by_handle.find(Key(handle));
  if (h != m.by_handle.end()) return h->second;
  auto d = m.by_data.find(Key(handle));
  if (d != m.by_data.end() && !d->second->movable) return d->second.get();
  return nullptr;
}

HANDLE BlockAlloc(qxplat_kind kind, const char* function, UINT flags, SIZE_T bytes) {
  if (FaultPoint(kFaultAlloc, function, ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  auto block = NewBlock(bytes, (flags & GMEM_ZEROINIT) != 0);
  if (block == nullptr) return nullptr;
  block->kind = kind;
  block->movable = (flags & GMEM_MOVEABLE) != 0;
  block->discardable = block->movable && (flags & GMEM_DISCARDABLE) != 0;
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  if (block->movable) {
    block->handle = NewHandleValue();
    m.by_handle.emplace(Key(block->handle), block.get());
  } else {
    block->handle = block->data;
  }
  HANDLE result = block->handle;
  m.by_data.emplace(Key(block->data), std::move(block));
  CountUp(kind);
  return result;
}

HANDLE BlockReAlloc(const char* function, HANDLE handle, SIZE_T bytes, UINT flags) {
  if (FaultPoint(kFaultAlloc, function, ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  Block* block = FindLocked(m, handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (flags & GMEM_MODIFY) {
    if (block->movable) block->discardable = (flags & GMEM_DISCARDABLE) != 0;
    return handle;
  }
  // A movable block moves freely while unlocked; a locked or fixed one only
  // when the caller allows it with GMEM_MOVEABLE.
  const bool may_move = (block->movable && block->locks == 0) || (flags & GMEM_MOVEABLE) != 0;
  const uintptr_t old_key = Key(block->data);
  if (!Resize(*block, bytes, (flags & GMEM_ZEROINIT) != 0, may_move)) return nullptr;
  if (Key(block->data) != old_key) {
    auto node = m.by_data.extract(old_key);
    node.key() = Key(block->data);
    m.by_data.insert(std::move(node));
    if (!block->movable) block->handle = block->data;
  }
  return block->handle;
}

SIZE_T BlockSize(HANDLE handle) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  Block* block = FindLocked(m, handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return block->size;
}

UINT BlockFlags(HANDLE handle) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  Block* block = FindLocked(m, handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return GMEM_INVALID_HANDLE;
  }
  return (block->locks & GMEM_LOCKCOUNT) | (block->discardable ? GMEM_DISCARDABLE : 0);
}

LPVOID BlockLock(HANDLE handle) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  Block* block = FindLocked(m, handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (block->movable && block->locks < GMEM_LOCKCOUNT) ++block->locks;
  return block->data;
}

HANDLE BlockHandle(LPCVOID pointer) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  auto d = m.by_data.find(Key(pointer));
  if (d != m.by_data.end()) return d->second->handle;
  auto h = m.by_handle.find(Key(pointer));
  if (h != m.by_handle.end()) return h->second->handle;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

// The result follows Windows: TRUE while still locked (and always for a
// fixed block), FALSE with NO_ERROR when the count reaches zero, FALSE with
// ERROR_NOT_LOCKED when it already was zero.
BOOL BlockUnlock(HANDLE handle) {
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  Block* block = FindLocked(m, handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!block->movable) return TRUE;
  if (block->locks == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--block->locks == 0) {
    SetLastError(NO_ERROR);
    return FALSE;
  }
  return TRUE;
}

// Returns NULL when freed (or given NULL); the handle itself, with
// ERROR_INVALID_HANDLE, when it names no block. Locked blocks are freed too.
HANDLE BlockFree(HANDLE handle) {
  if (handle == nullptr) return nullptr;
  std::unique_ptr<Block> block;
  {
    Memory& m = TheMemory();
    std::lock_guard<std::mutex> guard(m.lock);
    Block* found = FindLocked(m, handle);
    if (found == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return handle;
    }
    if (found->movable) m.by_handle.erase(Key(found->handle));
    auto node = m.by_data.extract(Key(found->data));
    block = std::move(node.mapped());
  }
  CountDown(block->kind);
  std::free(block->data);
  return nullptr;
}

bool IsProcessHeap(HANDLE heap) {
  if (heap != nullptr && heap == TheMemory().process_heap) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// GlobalAlloc - a block of dwBytes: GMEM_FIXED returns its address,
// GMEM_MOVEABLE a handle to lock; GMEM_ZEROINIT zeroes it (GHND, GPTR).
// NULL with ERROR_NOT_ENOUGH_MEMORY on failure. Fault class "alloc".
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  return BlockAlloc(QXPLAT_KIND_GLOBAL, "GlobalAlloc", uFlags, dwBytes);
}

// GlobalReAlloc - resize (GMEM_ZEROINIT zeroes the growth) or, with
// GMEM_MODIFY, change the discardable flag only. Returns the block's handle,
// which for a fixed block is its possibly new address; NULL on failure, the
// block unchanged.
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
  return BlockReAlloc("GlobalReAlloc", hMem, dwBytes, uFlags);
}

SIZE_T WINAPI GlobalSize(HGLOBAL hMem) { return BlockSize(hMem); }

UINT WINAPI GlobalFlags(HGLOBAL hMem) { return BlockFlags(hMem); }

LPVOID WINAPI GlobalLock(HGLOBAL hMem) { return BlockLock(hMem); }

HGLOBAL WINAPI GlobalHandle(LPCVOID pMem) { return BlockHandle(pMem); }

BOOL WINAPI GlobalUnlock(HGLOBAL hMem) { return BlockUnlock(hMem); }

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) { return BlockFree(hMem); }

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  return BlockAlloc(QXPLAT_KIND_LOCAL, "LocalAlloc", uFlags, uBytes);
}

HLOCAL WINAPI LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags) {
  return BlockReAlloc("LocalReAlloc", hMem, uBytes, uFlags);
}

SIZE_T WINAPI LocalSize(HLOCAL hMem) { return BlockSize(hMem); }

UINT WINAPI LocalFlags(HLOCAL hMem) { return BlockFlags(hMem); }

LPVOID WINAPI LocalLock(HLOCAL hMem) { return BlockLock(hMem); }

HLOCAL WINAPI LocalHandle(LPCVOID pMem) { return BlockHandle(pMem); }

BOOL WINAPI LocalUnlock(HLOCAL hMem) { return BlockUnlock(hMem); }

HLOCAL WINAPI LocalFree(HLOCAL hMem) { return BlockFree(hMem); }

// GetProcessHeap - the one heap; no other heap can be created.
HANDLE WINAPI GetProcessHeap(void) { return TheMemory().process_heap; }

// HeapAlloc - a block of dwBytes from the process heap, zeroed with
// HEAP_ZERO_MEMORY. NULL on failure (ERROR_NOT_ENOUGH_MEMORY, or
// ERROR_INVALID_HANDLE for another heap). Fault class "alloc".
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  if (!IsProcessHeap(hHeap)) return nullptr;
  if (FaultPoint(kFaultAlloc, "HeapAlloc", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  auto block = NewBlock(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
  if (block == nullptr) return nullptr;
  block->kind = QXPLAT_KIND_HEAP;
  void* data = block->data;
  Memory& m = TheMemory();
  {
    std::lock_guard<std::mutex> guard(m.lock);
    m.heap.emplace(Key(data), std::move(block));
  }
  CountUp(QXPLAT_KIND_HEAP);
  return data;
}

// HeapReAlloc - resize a heap block, moving it unless
// HEAP_REALLOC_IN_PLACE_ONLY; HEAP_ZERO_MEMORY zeroes the growth. NULL on
// failure, the block unchanged; ERROR_INVALID_PARAMETER for a pointer that is
// not a heap block.
LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
  if (!IsProcessHeap(hHeap)) return nullptr;
  if (FaultPoint(kFaultAlloc, "HeapReAlloc", ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  auto it = m.heap.find(Key(lpMem));
  if (it == m.heap.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Block& block = *it->second;
  if (!Resize(block, dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0,
              (dwFlags & HEAP_REALLOC_IN_PLACE_ONLY) == 0)) {
    return nullptr;
  }
  if (block.data != lpMem) {
    auto node = m.heap.extract(it);
    node.key() = Key(block.data);
    m.heap.insert(std::move(node));
  }
  return block.data;
}

// HeapFree - release a heap block; NULL is accepted. A pointer that is not a
// heap block: FALSE with ERROR_INVALID_PARAMETER.
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  if (FaultPoint({}, "HeapFree", ERROR_INVALID_PARAMETER)) return FALSE;
  if (!IsProcessHeap(hHeap)) return FALSE;
  if (lpMem == nullptr) return TRUE;
  std::unique_ptr<Block> block;
  {
    Memory& m = TheMemory();
    std::lock_guard<std::mutex> guard(m.lock);
    auto node = m.heap.extract(Key(lpMem));
    if (node.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    block = std::move(node.mapped());
  }
  CountDown(QXPLAT_KIND_HEAP);
  std::free(block->data);
  return TRUE;
}

// HeapSize - the size of a heap block, or (SIZE_T)-1.
SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem) {
  if (!IsProcessHeap(hHeap)) return static_cast<SIZE_T>(-1);
  Memory& m = TheMemory();
  std::lock_guard<std::mutex> guard(m.lock);
  auto it = m.heap.find(Key(lpMem));
  if (it == m.heap.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<SIZE_T>(-1);
  }
  return it->second->size;
}

}  // extern "C"
