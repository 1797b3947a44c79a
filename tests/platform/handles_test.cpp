// handles_test.cpp - the internal handle table that later areas plug their
// object kinds into: dispatch of CloseHandle, type checks, accounting, and
// the lifetime of objects still in use when their handle is closed.
#include "handles.h"

#include <windows.h>
#include <qxplatform.h>

#include <gtest/gtest.h>

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

}  // namespace
