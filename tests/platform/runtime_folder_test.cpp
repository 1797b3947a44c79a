// runtime_folder_test.cpp - the spooler client and the named pipes trust the
// world's runtime folder only when it is a folder of this user's own that no
// one else may enter: otherwise spooler calls fail as with no spooler
// (RPC_S_SERVER_UNAVAILABLE, and one line on standard error says why) and
// pipe calls fail with ERROR_ACCESS_DENIED.
//
// A folder owned by another user cannot be made without root, so the
// attacker's folder is played by folders of this user with modes that let
// others in, and by a link; ownership goes through the same check.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;

constexpr const char* kMonitorPipe = "\\\\.\\pipe\\QXNamedPipeUSB001";

class RuntimeFolder : public qxsim::SimFixture {
 protected:
  void TearDown() override {
    chmod(dir().c_str(), 0700);
    chmod((dir() + "/pipes").c_str(), 0700);
    SimFixture::TearDown();
  }

  // EnumPrintersA's error (0 on success).
  static DWORD EnumError() {
    DWORD needed = 0, count = 0;
    BYTE buffer[4096];
    SetLastError(0);
    return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buffer, sizeof buffer, &needed, &count) ? 0
                                                                                                   : GetLastError();
  }
  // CreateFileA's error on the monitor's pipe (0 on success).
  static DWORD PipeError() {
    SetLastError(0);
    HANDLE pipe = CreateFileA(kMonitorPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(pipe);
    return 0;
  }
};

TEST_F(RuntimeFolder, AFolderOthersMayEnterIsRefusedByTheSpoolerAndThePipes) {
  ASSERT_EQ(EnumError(), 0u);
  ASSERT_EQ(PipeError(), 0u);
  Printer held(kTicket);
  ASSERT_NE(held.h, nullptr);

  for (const mode_t mode : {0777, 0750, 0705, 0701, 0710}) {
    ASSERT_EQ(chmod(dir().c_str(), mode), 0);
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
    testing::internal::CaptureStderr();
    EXPECT_EQ(EnumError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << octal;
    HANDLE printer = nullptr;
    EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>(kTicket), &printer, nullptr)) << octal;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << octal;
    // A handle opened before is refused as well: every request checks.
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterA(held.h, 2, nullptr, 0, &needed)) << octal;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << octal;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "qxplatform: runtime folder " + dir() + " refused: open to other users (mode " + octal +
                        "); spooler calls fail until it is a folder of this user's own with mode 0700\n")
        << "one line for the first refusal, none for the next";

    EXPECT_EQ(PipeError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << octal;
  }

  // The pipes subfolder is held to the same rule.
  ASSERT_EQ(chmod(dir().c_str(), 0700), 0);
  ASSERT_EQ(chmod((dir() + "/pipes").c_str(), 0755), 0);
  EXPECT_EQ(PipeError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(chmod((dir() + "/pipes").c_str(), 0700), 0);

  // Private again: both work, the old handle included.
  EXPECT_EQ(EnumError(), 0u);
  EXPECT_EQ(PipeError(), 0u);
  DWORD needed = 0;
  GetPrinterA(held.h, 2, nullptr, 0, &needed);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// A link in the folder's place is not the folder, even when it leads to it.
TEST_F(RuntimeFolder, ALinkToTheFolderIsRefused) {
  const std::string link = dir() + ".link";
  ASSERT_EQ(symlink(dir().c_str(), link.c_str()), 0);
  setenv("QX_SIM_DIR", link.c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(EnumError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(link + " refused: a symbolic link, not a folder"), std::string::npos) << said;
  EXPECT_EQ(PipeError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  unlink(link.c_str());
  setenv("QX_SIM_DIR", dir().c_str(), 1);
}

// No folder at all is simply no world: no message.
TEST_F(RuntimeFolder, AMissingFolderIsNoWorldAndSaysNothing) {
  setenv("QX_SIM_DIR", (dir() + "/none").c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(EnumError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(PipeError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  setenv("QX_SIM_DIR", dir().c_str(), 1);
}

}  // namespace
