// handles.h - POSIX platform layer, internal: the handle table.
//
// Every Win32 handle the layer hands out (mutexes, modules, and as the other
// areas are built files, pipes, devices, printers, GDI objects, registry keys)
// is a key into one process-wide table of typed objects. A value that is not
// in the table, was closed, or names an object of another type is rejected
// before anything is dereferenced, so callers get ERROR_INVALID_HANDLE where
// Windows would report it (or crash).
//
// Values are multiples of 4 from a 64-bit counter and never reused, so a
// double close or a use after close always misses.
//
// An area adds a kind of object by deriving from Object:
//
//   struct MutexObject : qxplat::Object {
//     MutexObject() : Object(QXPLAT_KIND_KERNEL) {}
//   };
//   HANDLE h = qxplat::InsertHandle(std::make_shared<MutexObject>());
//   auto mutex = qxplat::LookupHandle<MutexObject>(h);   // null when not a mutex
//
// OnClose() is where a kind releases what a handle holds (a pipe end
// disconnects there).
//
// CloseHandle takes any object whose ClosableByCloseHandle() is true out of
// the table and runs its OnClose(). Kinds with their own close function
// (ClosePrinter, DeleteObject, FreeLibrary, RegCloseKey) return false there
// and use RemoveHandle<T>() instead.
//
// A kind of file handle (pipe ends; ports and devices next) derives from
// FileObject instead, the one interface the file calls dispatch through:
// ReadFile, WriteFile and FlushFileBuffers call its Read, Write and Flush;
// device control and the comm time-outs have defaults for kinds without
// them; CloseHandle runs its OnClose like any other object's.
#ifndef QX_PLATFORM_HANDLES_H
#define QX_PLATFORM_HANDLES_H

#include <windows.h>
#include <qxplatform.h>

#include <memory>

namespace qxplat {

class Object {
 public:
  // counted_as: the accounting kind; one live object is counted per handle.
  // QXPLAT_KIND_COUNT: not counted by the table (the area counts it itself).
  explicit Object(qxplat_kind counted_as) : counted_as_(counted_as) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // True when CloseHandle may close this kind of handle.
  virtual bool ClosableByCloseHandle() const { return true; }

  // Runs once for each handle of this object when that handle is closed,
  // after it left the table. The object itself lives on while another handle
  // or a call in progress on another thread still holds it.
  virtual void OnClose() {}

  qxplat_kind counted_as() const { return counted_as_; }

 private:
  qxplat_kind counted_as_;
};

// The operations of a file handle. The dispatchers (files.cpp) have checked
// the common arguments: no overlapped record, count pointers present and
// set to 0, buffers present when their size is not 0. Each operation
// returns TRUE, or FALSE with the last error set.
class FileObject : public Object {
 public:
  using Object::Object;

  // Read - up to size bytes into buffer; *read is what was delivered.
  virtual BOOL Read(void* buffer, DWORD size, DWORD* read) = 0;
  // Write - size bytes from data; *written is what was accepted.
  virtual BOOL Write(const void* data, DWORD size, DWORD* written) = 0;
  // Flush - wait until what was written has reached its destination.
  virtual BOOL Flush() = 0;

  // IoControl - one device I/O control code; *returned is the bytes
  // placed in out. By default the kind has no such control:
  // ERROR_INVALID_FUNCTION, as Windows answers for a disk file.
  virtual BOOL IoControl(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                         DWORD* returned);
  // GetCommTimeouts, SetCommTimeouts - the comm time-outs of a port. By
  // default the kind has none: ERROR_INVALID_HANDLE, as Windows answers for
  // a disk file.
  virtual BOOL GetCommTimeouts(COMMTIMEOUTS* timeouts);
  virtual BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts);
};

// InsertHandle - add an object under a new handle value.
//   object (in): not null. Several handles may share one object.
// Returns the handle; counts one live object of object->counted_as().
HANDLE InsertHandle(std::shared_ptr<Object> object);

// LookupAnyHandle - the object behind a handle, or null when unknown.
std::shared_ptr<Object> LookupAnyHandle(HANDLE handle);

// LookupHandle<T> - the object behind a handle when it is a T, else null.
// Sets no error; the caller reports ERROR_INVALID_HANDLE (or its own code).
template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupAnyHandle(handle));
}

// RemoveHandleIf - take a handle out of the table when accept(object) holds.
// Returns the object (its handle is gone and its count released; OnClose has
// not run), or null when the handle is unknown or not accepted.
std::shared_ptr<Object> RemoveHandleIf(HANDLE handle, bool (*accept)(const Object&));

// RemoveHandle<T> - take a handle out when it names a T.
template <class T>
std::shared_ptr<T> RemoveHandle(HANDLE handle) {
  return std::static_pointer_cast<T>(RemoveHandleIf(
      handle, [](const Object& o) { return dynamic_cast<const T*>(&o) != nullptr; }));
}

// NewHandleValue - a fresh value that is never in the table, for handle-like
// values an area keeps in its own registry (movable memory blocks).
HANDLE NewHandleValue();

}  // namespace qxplat

#endif  // QX_PLATFORM_HANDLES_H
