// version_conformance_test.cpp - version resources and file-time conversions
// as the driver version report relies on them, against DLL images made by the
// same writer qxsimd uses (sim/pe_image.h). Win32 only apart from where the
// images are put, so the same file builds for Windows and passes under wine:
// the errors pinned here are wine's answers.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pe_image.h"
#include "win32_expect.h"

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Where the images go: a temporary folder on Windows; on POSIX the drive
// folder "C:\qxtest" of a world folder of the test's own.
class VersionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    folder_ = std::string(temp) + "qxver" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
#else
    char dir[] = "/tmp/qxver-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    const char* saved = getenv("QX_SIM_DIR");
    if (saved != nullptr) saved_ = saved;
    had_ = saved != nullptr;
    setenv("QX_SIM_DIR", dir, 1);
    for (const char* sub : {"/drives", "/drives/c", "/drives/c/qxtest"}) mkdir((root_ + sub).c_str(), 0700);
    folder_ = "C:\\qxtest\\";
#endif
  }
  void TearDown() override {
    for (const std::string& name : names_) Remove(name);
#ifdef _WIN32
    RemoveDirectoryA(folder_.c_str());
#else
    for (const char* sub : {"/drives/c/qxtest", "/drives/c", "/drives", ""}) rmdir((root_ + sub).c_str());
    if (had_) {
      setenv("QX_SIM_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("QX_SIM_DIR");
    }
#endif
  }

  // Put - a file of these bytes; returns the Win32 path that names it.
  std::string Put(const std::string& name, const Bytes& bytes) {
    names_.push_back(name);
    FILE* f = std::fopen(HostPath(name).c_str(), "wb");
    EXPECT_NE(f, nullptr) << name;
    if (f == nullptr) return {};
    if (!bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
    return folder_ + name;
  }
  std::string PathOf(const std::string& name) const { return folder_ + name; }

 private:
  std::string HostPath(const std::string& name) const {
#ifdef _WIN32
    return folder_ + name;
#else
    return root_ + "/drives/c/qxtest/" + name;
#endif
  }
  void Remove(const std::string& name) { std::remove(HostPath(name).c_str()); }

  std::string folder_;
  std::vector<std::string> names_;
#ifndef _WIN32
  std::string root_, saved_;
  bool had_ = false;
#endif
};

Bytes Image(const char* version) { return qxpe::MakeDll(qxpe::VersionFor(version, "Test module")); }

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The version block of a file, read as the report reads it.
Bytes ReadBlock(const std::string& path) {
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return {};
  Bytes block(size);
  EXPECT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  return block;
}

TEST_F(VersionFiles, RootBlockIsTheFixedFileInformation) {
  const Bytes image = Image("2.0.6.0");
  const std::string path = Put("good.dll", image);
  const Bytes block = ReadBlock(path);
  // Room for the resource itself at least (Windows reserves more for 8-bit copies).
  ASSERT_GE(block.size(), qxpe::VersionInfo(*qxpe::VersionFor("2.0.6.0", "Test module")).size());

  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, value, sizeof info);
  EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info.dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(info.dwFileVersionLS, 0x00060000u);
  EXPECT_EQ(info.dwProductVersionMS, 0x00020000u);
  EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_DLL));
  // The value lies inside the block.
  EXPECT_GE(static_cast<const uint8_t*>(value), block.data());
  EXPECT_LE(static_cast<const uint8_t*>(value) + length, block.data() + block.size());
}

TEST_F(VersionFiles, BinarySubBlocksAndMissingKeys) {
  const std::string path = Put("keys.dll", Image("5.1.2.3"));
  const Bytes block = ReadBlock(path);
  ASSERT_FALSE(block.empty());
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* words = static_cast<const WORD*>(value);
  EXPECT_EQ(words[0], 0x0409);
  EXPECT_EQ(words[1], 0x04B0);
  // Keys match without regard to case.
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\varfileinfo\\TRANSLATION", &value, &length));

  SetLastError(kUntouched);
  length = 7;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\VarFileInfo\\NoSuchKey", &value, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(length, 0u);
}

TEST_F(VersionFiles, FilesWithoutAVersionResource) {
  DWORD handle = 0;
  // A DLL with no resources at all.
  const std::string bare = Put("bare.dll", qxpe::MakeDll(std::nullopt));
  SetLastError(kUntouched);
  EXPECT_EQ(GetFileVersionInfoSizeA(bare.c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));

  // No file there.
  SetLastError(kUntouched);
  EXPECT_EQ(GetFileVersionInfoSizeA(PathOf("missing.dll").c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  Bytes block(64);
  EXPECT_FAILS(GetFileVersionInfoA(bare.c_str(), 0, static_cast<DWORD>(block.size()), block.data()),
               ERROR_RESOURCE_DATA_NOT_FOUND);
}

// Broken images never give a version: each damage is a file of its own.
TEST_F(VersionFiles, DamagedImagesHaveNoVersion) {
  const Bytes good = Image("2.0.6.0");
  struct Damage {
    const char* name;
    Bytes bytes;
  };
  std::vector<Damage> damaged;
  damaged.push_back({"text.dll", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}});
  damaged.push_back({"empty.dll", Bytes{}});
  Bytes cut(good.begin(), good.begin() + qxpe::kSectionFileOffset + 0x20);  // ends inside the directory
  damaged.push_back({"cut.dll", cut});
  Bytes far_nt = good;
  Put32(far_nt, 0x3C, 0x7FFFFFF0);  // e_lfanew past the end
  damaged.push_back({"far_nt.dll", far_nt});
  Bytes no_pe = good;
  no_pe[qxpe::kNtHeaderOffset] = 'X';
  damaged.push_back({"no_pe.dll", no_pe});

  for (const Damage& d : damaged) {
    SCOPED_TRACE(d.name);
    const std::string path = Put(d.name, d.bytes);
    DWORD handle = 0;
    SetLastError(kUntouched);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u);
    EXPECT_NE(GetLastError(), kUntouched);
    EXPECT_NE(GetLastError(), 0u);
  }
}

TEST(FileTimes, SystemTimeSplitsWithoutZone) {
  // 2006-09-11 12:30:15.250 UTC, a Monday.
  const uint64_t ticks = 128024514152500000ull;
  const FILETIME t = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME s = {};
  ASSERT_TRUE(FileTimeToSystemTime(&t, &s));
  EXPECT_EQ(s.wYear, 2006);
  EXPECT_EQ(s.wMonth, 9);
  EXPECT_EQ(s.wDay, 11);
  EXPECT_EQ(s.wDayOfWeek, 1);
  EXPECT_EQ(s.wHour, 12);
  EXPECT_EQ(s.wMinute, 30);
  EXPECT_EQ(s.wSecond, 15);
  EXPECT_EQ(s.wMilliseconds, 250);

  const FILETIME origin = {0, 0};
  ASSERT_TRUE(FileTimeToSystemTime(&origin, &s));
  EXPECT_EQ(s.wYear, 1601);
  EXPECT_EQ(s.wMonth, 1);
  EXPECT_EQ(s.wDay, 1);
  EXPECT_EQ(s.wDayOfWeek, 1);

  const FILETIME too_far = {0, 0x80000000u};
  EXPECT_FAILS(FileTimeToSystemTime(&too_far, &s), ERROR_INVALID_PARAMETER);
}

// The local conversion applies the bias in force now to every date: a winter
// date and a summer date move by the same amount.
TEST(FileTimes, LocalTimeUsesTheCurrentBiasForEveryDate) {
  const uint64_t winter = 127805472000000000ull;  // 2006-01-01 00:00 UTC
  const uint64_t summer = 127961856000000000ull;  // 2006-07-01 00:00 UTC
  int64_t shifts[2];
  int i = 0;
  for (uint64_t ticks : {winter, summer}) {
    const FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    FILETIME local = {};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    const uint64_t back = uint64_t{local.dwHighDateTime} << 32 | local.dwLowDateTime;
    shifts[i++] = static_cast<int64_t>(back - ticks);
  }
  EXPECT_EQ(shifts[0], shifts[1]);
  EXPECT_EQ(shifts[0] % 600000000, 0) << "a bias of whole minutes";
}

}  // namespace
