// handles.cpp - POSIX platform layer, internal: the handle table, and the
// defaults of the file-handle interface (see handles.h).
#include "handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "accounting.h"

namespace qxplat {
namespace {

// Values start well above the small numbers Windows code sometimes treats
// specially and step by 4 as Windows handle values do.
constexpr uintptr_t kFirstValue = 0x10000;
constexpr uintptr_t kStep = 4;

struct Table {
  std::mutex lock;
  uintptr_t next = kFirstValue;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
};

// Never destroyed: handles may be closed from static destructors and
// thread-exit code that runs after this file's statics would be gone.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

uintptr_t NextValueLocked(Table& t) {
  const uintptr_t value = t.next;
  t.next += kStep;
  return value;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<Object> object) {
  Table& t = TheTable();
  const qxplat_kind kind = object->counted_as();
  uintptr_t value;
  {
    std::lock_guard<std::mutex> guard(t.lock);
    value = NextValueLocked(t);
    t.objects.emplace(value, std::move(object));
  }
  CountUp(kind);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> LookupAnyHandle(HANDLE handle) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandleIf(HANDLE handle, bool (*accept)(const Object&)) {
  Table& t = TheTable();
  std::shared_ptr<Object> object;
  {
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end() || !accept(*it->second)) return nullptr;
    object = std::move(it->second);
    t.objects.erase(it);
  }
  CountDown(object->counted_as());
  return object;
}

BOOL FileObject::IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD* returned) {
  *returned = 0;
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}

BOOL FileObject::GetCommTimeouts(COMMTIMEOUTS*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL FileObject::SetCommTimeouts(const COMMTIMEOUTS&) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HANDLE NewHandleValue() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return reinterpret_cast<HANDLE>(NextValueLocked(t));
}

}  // namespace qxplat
