// handles_test.cpp - the internal handle table that later areas plug their
// object kinds into: dispatch of CloseHandle, type checks, accounting, the
// lifetime of objects still in use when their handle is closed, and the
// file-handle interface ReadFile, WriteFile and FlushFileBuffers dispatch
// through, with the answers of a kind that has no device control.
#include "handles.h"

#include <windows.h>
#include <qxplatform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// A kind CloseHandle closes (as files and pipes will be).
struct Closable : qxplat::Object {
  explicit Closable(int* counter) : Object(QXPLAT_KIND_DEVICE), closes(counter) {}
  void OnClose() override { ++*closes; }
  int* closes;
};

// A kind with its own close function (as printers and GDI objects will be).
struct OwnClose : qxplat::Object {
  OwnClose() : Object(QXPLAT_KIND_GDI) {}
  bool ClosableByCloseHandle() const override { return false; }
};

TEST(HandleTable, CloseHandleRunsTheObjectsCloseOnce) {
  int closes = 0;
  const int64_t before = qxplat_live_count(QXPLAT_KIND_DEVICE);
  HANDLE h = qxplat::InsertHandle(std::make_shared<Closable>(&closes));
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVICE), before + 1);
  ASSERT_NE(qxplat::LookupHandle<Closable>(h), nullptr);

  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_DEVICE), before);
  EXPECT_EQ(qxplat::LookupAnyHandle(h), nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(closes, 1);
}

TEST(HandleTable, LookupAndRemoveCheckTheType) {
  int closes = 0;
  HANDLE closable = qxplat::InsertHandle(std::make_shared<Closable>(&closes));
  HANDLE own = qxplat::InsertHandle(std::make_shared<OwnClose>());

  EXPECT_EQ(qxplat::LookupHandle<OwnClose>(closable), nullptr);
  EXPECT_EQ(qxplat::RemoveHandle<OwnClose>(closable), nullptr);
  EXPECT_NE(qxplat::LookupHandle<Closable>(closable), nullptr) << "a refused remove keeps it";

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CloseHandle(own));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  const int64_t gdi = qxplat_live_count(QXPLAT_KIND_GDI);
  EXPECT_NE(qxplat::RemoveHandle<OwnClose>(own), nullptr);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_GDI), gdi - 1);
  EXPECT_EQ(qxplat::LookupAnyHandle(own), nullptr);

  EXPECT_TRUE(CloseHandle(closable));
}

TEST(HandleTable, ObjectOutlivesItsHandleWhileInUse) {
  int closes = 0;
  HANDLE h = qxplat::InsertHandle(std::make_shared<Closable>(&closes));
  auto in_use = qxplat::LookupHandle<Closable>(h);  // as a call on another thread would
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(in_use->closes, &closes);  // still a valid object
}

TEST(HandleTable, ValuesAreFreshMultiplesOfFour) {
  int closes = 0;
  auto object = std::make_shared<Closable>(&closes);
  HANDLE a = qxplat::InsertHandle(object);
  HANDLE b = qxplat::InsertHandle(object);  // two handles, one object
  HANDLE reserved = qxplat::NewHandleValue();
  const auto va = reinterpret_cast<uintptr_t>(a);
  const auto vb = reinterpret_cast<uintptr_t>(b);
  const auto vr = reinterpret_cast<uintptr_t>(reserved);
  EXPECT_EQ(va % 4, 0u);
  EXPECT_LT(va, vb);
  EXPECT_LT(vb, vr);
  EXPECT_EQ(qxplat::LookupAnyHandle(reserved), nullptr);
  EXPECT_NE(a, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_EQ(qxplat::LookupHandle<Closable>(b), object);
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_EQ(closes, 2);
}

// A kind of file handle, as pipe ends are and ports will be: it keeps what
// it is written and gives back a fixed text.
struct MemoryFile : qxplat::FileObject {
  MemoryFile() : FileObject(QXPLAT_KIND_DEVICE) {}
  BOOL Read(void* buffer, DWORD size, DWORD* read) override {
    const DWORD n = std::min<DWORD>(size, 5);
    std::memcpy(buffer, "hello", n);
    *read = n;
    return TRUE;
  }
  BOOL Write(const void* data, DWORD size, DWORD* written) override {
    if (size == 0) {
      SetLastError(ERROR_WRITE_FAULT);  // a failure of the kind's own
      return FALSE;
    }
    kept.append(static_cast<const char*>(data), size);
    *written = size;
    return TRUE;
  }
  BOOL Flush() override {
    ++flushes;
    return TRUE;
  }
  void OnClose() override { ++closes; }
  std::string kept;
  int flushes = 0;
  int closes = 0;
};

// A kind with device control, as the parallel port will be.
struct StatusDevice : MemoryFile {
  BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD out_size,
                 DWORD* returned) override {
    if (code != kIoctlParQueryInformation || out_size < 1) {
      return MemoryFile::IoControl(code, nullptr, 0, out, out_size, returned);
    }
    *static_cast<BYTE*>(out) = 0x80;  // selected
    *returned = 1;
    return TRUE;
  }
  static constexpr DWORD kIoctlParQueryInformation = 0x00160004;
};

TEST(FileHandles, ReadWriteAndFlushReachTheKindsOperations) {
  auto file = std::make_shared<MemoryFile>();
  HANDLE h = qxplat::InsertHandle(file);
  char buffer[8] = {};
  DWORD count = 99;
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(ReadFile(h, buffer, 3, &count, nullptr));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(buffer, count), "hel");
  EXPECT_TRUE(WriteFile(h, "abc", 3, &count, nullptr));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(file->kept, "abc");
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_EQ(file->flushes, 1);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "success leaves the last error alone";

  count = 99;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WriteFile(h, "", 0, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT)) << "the kind's own error";
  EXPECT_EQ(count, 0u) << "the count is cleared before the kind is called";

  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(file->closes, 1);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(FileHandles, SharedArgumentsAreCheckedBeforeTheKindIsCalled) {
  auto file = std::make_shared<MemoryFile>();
  HANDLE h = qxplat::InsertHandle(file);
  char buffer[8];
  DWORD count = 99;
  OVERLAPPED overlapped = {};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &count, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WriteFile(h, nullptr, 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
  EXPECT_EQ(file->kept, "");
  EXPECT_TRUE(CloseHandle(h));
}

TEST(FileHandles, AHandleOfAnotherKindIsNoFile) {
  int closes = 0;
  HANDLE h = qxplat::InsertHandle(std::make_shared<Closable>(&closes));
  char buffer[8];
  DWORD count = 99;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WriteFile(h, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h));
}

TEST(FileHandles, AKindWithoutDeviceControlRefusesItAsADiskFileDoes) {
  MemoryFile file;
  BYTE status = 0x55;
  DWORD returned = 99;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(file.IoControl(StatusDevice::kIoctlParQueryInformation, nullptr, 0, &status, 1,
                              &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(status, 0x55);
  COMMTIMEOUTS timeouts = {1, 2, 3, 4, 5};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(file.GetCommTimeouts(&timeouts));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 1u);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(file.SetCommTimeouts(timeouts));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(FileHandles, AKindWithDeviceControlOverridesIt) {
  StatusDevice device;
  BYTE status = 0;
  DWORD returned = 0;
  EXPECT_TRUE(device.IoControl(StatusDevice::kIoctlParQueryInformation, nullptr, 0, &status, 1,
                               &returned));
  EXPECT_EQ(returned, 1u);
  EXPECT_EQ(status, 0x80);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(device.IoControl(0x0016000C, nullptr, 0, &status, 1, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << "a code it does not know";
}

}  // namespace
