// The entry point and the OS-version record, on the library's own state.
#include <gtest/gtest.h>
#include <qxdll.h>
#include <qxplatform.h>

#include <cstring>

#include "core/state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

using qx::g_state;

class EntryPoint : public ::testing::Test {
 protected:
  void TearDown() override {
    qxplat_fault_clear();
    qxplat_reset_os_version();
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
  }
};

TEST_F(EntryPoint, AttachCreatesTheMutexesAndDetachClosesThem) {
  const int64_t before = qxplat_live_count(QXPLAT_KIND_KERNEL);
  EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_NE(g_state.pipeMutex, nullptr);
  EXPECT_NE(g_state.switchMutex, nullptr);
  EXPECT_NE(g_state.pipeMutex, g_state.switchMutex);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), before + 2);
  // Created, not owned: another thread could take them at once.
  EXPECT_EQ(WaitForSingleObject(g_state.pipeMutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(g_state.pipeMutex));

  EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(g_state.pipeMutex, nullptr);
  EXPECT_EQ(g_state.switchMutex, nullptr);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_KERNEL), before);
}

TEST_F(EntryPoint, AttachRecordsVersionAndTimeouts) {
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(g_state.osVersion.dwOSVersionInfoSize, 148u);
  EXPECT_EQ(g_state.osVersion.dwMajorVersion, 10u);
  EXPECT_EQ(g_state.osVersion.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(g_state.isNT, 1);
  EXPECT_EQ(g_state.pipeTimeout, 20000u);
  EXPECT_EQ(g_state.statusTimeout, 20000u);
  EXPECT_EQ(g_state.pageSetup.lStructSize, 128u);
  // PSD_RETURNDEFAULT only while attach runs.
  EXPECT_EQ(g_state.pageSetup.Flags, 0u);
}

TEST_F(EntryPoint, AttachSucceedsWhenNothingCanBeCreated) {
  qxplat_fault_arm("CreateMutexA", 1, ERROR_NOT_ENOUGH_MEMORY);
  qxplat_fault_arm("CreateMutexA", 2, ERROR_NOT_ENOUGH_MEMORY);
  qxplat_fault_arm("GetVersionExA", 1, ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(qxplat_fault_fired(), 3u);
  EXPECT_EQ(g_state.pipeMutex, nullptr);
  EXPECT_EQ(g_state.switchMutex, nullptr);
  EXPECT_EQ(g_state.isNT, 0);
  EXPECT_EQ(g_state.pipeTimeout, 20000u);
  // Detach copes with the null mutexes.
  EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
}

TEST_F(EntryPoint, ThreadReasonsLeaveTheStateAlone) {
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  const HANDLE mutex = g_state.pipeMutex;
  EXPECT_TRUE(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr));
  EXPECT_TRUE(DllMain(nullptr, DLL_THREAD_DETACH, nullptr));
  EXPECT_EQ(g_state.pipeMutex, mutex);
  EXPECT_EQ(g_state.isNT, 1);
}

TEST_F(EntryPoint, ReattachStartsFromAZeroRecord) {
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  g_state.scriptingHost = 5;
  std::strcpy(g_state.printerName, "QX stale");
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
  ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(g_state.scriptingHost, 0);
  EXPECT_STREQ(g_state.printerName, "");
}

class OsVersion : public EntryPoint {
 protected:
  void SetUp() override { ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr)); }
};

TEST_F(OsVersion, FailedQueryLeavesEverythingAlone) {
  qxplat_set_os_version(4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, "A");
  g_state.isNT = 0;
  OSVERSIONINFOA record;
  std::memset(&record, 0xAB, sizeof record);
  LPCSTR text = "unchanged";
  qxplat_fault_arm("GetVersionExA", 1, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qxGetOSVersion(&record, &text), QX_ERR_FAILED);
  EXPECT_EQ(record.dwMajorVersion, 0xABABABABu);
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(g_state.isNT, 0);
}

TEST_F(OsVersion, NinetyFiveRecordLeavesTheNtFlagAsItWas) {
  qxplat_set_os_version(4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A ");
  OSVERSIONINFOA record = {};
  EXPECT_EQ(qxGetOSVersion(&record, nullptr), QX_ERR_OK);
  EXPECT_EQ(record.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_STREQ(record.szCSDVersion, " A ");
  EXPECT_EQ(qxIsNT(), 1);  // set at attach; nothing clears it

  g_state.isNT = 0;
  EXPECT_EQ(qxGetOSVersion(&record, nullptr), QX_ERR_OK);
  EXPECT_EQ(qxIsNT(), 0);
}

TEST_F(OsVersion, NullRecordUsesWhatTheLibraryHolds) {
  g_state.isNT = 0;
  LPCSTR text = nullptr;
  EXPECT_EQ(qxGetOSVersion(nullptr, &text), QX_ERR_OK);
  EXPECT_STREQ(text, "2.0.0.9 (10/23/2018)");
  LPCSTR again = nullptr;
  EXPECT_EQ(qxGetOSVersion(nullptr, &again), QX_ERR_OK);
  EXPECT_EQ(again, text);  // one constant text, not a copy
  // The record from attach says NT, so the flag comes back.
  EXPECT_EQ(qxIsNT(), 1);
}

}  // namespace
