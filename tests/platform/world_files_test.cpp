// world_files_test.cpp - the world's files behind drive paths (opening,
// refusals, links, case), their times, and what this layer adds to the
// version calls: blocks cut short and blocks that are no version tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <qxplatform.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>
#include <winver.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pe_image.h"
#include "win32_expect.h"

namespace {

class WorldFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qxwf-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    if (const char* saved = getenv("QX_SIM_DIR")) saved_ = saved;
    setenv("QX_SIM_DIR", dir, 1);
    for (const char* sub : {"/drives", "/drives/c", "/drives/c/Spool"}) mkdir((root_ + sub).c_str(), 0700);
  }
  void TearDown() override {
    EXPECT_EQ(live_.Leaks(), "");
    std::system(("rm -rf " + root_).c_str());
    if (saved_.empty()) {
      unsetenv("QX_SIM_DIR");
    } else {
      setenv("QX_SIM_DIR", saved_.c_str(), 1);
    }
  }
  // Writes bytes at a path under the drive folder "c", with a last-write time.
  void Write(const std::string& under_c, const std::vector<uint8_t>& bytes, time_t when = 0) {
    const std::string path = root_ + "/drives/c/" + under_c;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (when != 0) {
      const timespec times[2] = {{when, 0}, {when, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
  }

  std::string root_, saved_;
  qxplat::LiveCounts live_;
};

TEST_F(WorldFiles, OpensForReadingWithoutRegardToCase) {
  Write("Spool/QXUI.DLL", {'M', 'Z', 1, 2});
  HANDLE h = CreateFileA("c:\\SPOOL\\qxui.dll", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_FILE), 1);
  char buffer[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::memcmp(buffer, "MZ\1\2", 4), 0);
  DWORD written = 0;
  EXPECT_FAILS(WriteFile(h, "x", 1, &written, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(h));

  // "." and ".." as Windows resolves them; forward slashes too.
  h = CreateFileA("C:/Spool/../Spool/./QXUI.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(WorldFiles, RefusalsAndMissingFiles) {
  Write("Spool/QXUI.DLL", {'M', 'Z'});
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool\\QXUI.DLL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_ACCESS_DENIED);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool\\QXUI.DLL", GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                    ERROR_ACCESS_DENIED);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool\\NONE.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_FILE_NOT_FOUND);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Nowhere\\QXUI.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_PATH_NOT_FOUND);
  EXPECT_OPEN_FAILS(CreateFileA("D:\\QXUI.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_PATH_NOT_FOUND);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), ERROR_ACCESS_DENIED);
}

// Links are never followed, neither to a file nor to a folder on the way.
TEST_F(WorldFiles, LinksAreNotFollowed) {
  const std::string outside = root_ + "/outside.dll";
  FILE* f = std::fopen(outside.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("MZ", f);
  std::fclose(f);
  ASSERT_EQ(symlink(outside.c_str(), (root_ + "/drives/c/Spool/LINK.DLL").c_str()), 0);
  ASSERT_EQ(symlink(root_.c_str(), (root_ + "/drives/c/Linked").c_str()), 0);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool\\LINK.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_ACCESS_DENIED);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Linked\\outside.dll", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_ACCESS_DENIED);
  DWORD handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA("C:\\Spool\\LINK.DLL", &handle), 0u);
}

// A runtime folder open to others is not trusted for files either.
TEST_F(WorldFiles, UntrustedFolderRefusesFiles) {
  Write("Spool/QXUI.DLL", {'M', 'Z'});
  ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
  EXPECT_OPEN_FAILS(CreateFileA("C:\\Spool\\QXUI.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    ERROR_ACCESS_DENIED);
  chmod(root_.c_str(), 0700);
}

TEST_F(WorldFiles, FileTimeIsTheLastWrite) {
  Write("Spool/QXUI.DLL", {'M', 'Z'}, 1158021000);  // 2006-09-12 00:30:00 UTC
  HANDLE h = CreateFileA("C:\\Spool\\QXUI.DLL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME written = {};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  CloseHandle(h);
  const uint64_t ticks = uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime;
  EXPECT_EQ(ticks, (1158021000ull + 11644473600ull) * 10000000ull);
  EXPECT_FAILS(GetFileTime(nullptr, nullptr, nullptr, &written), ERROR_INVALID_HANDLE);

  // In a zone three hours east of UTC (fixed, no daylight saving) the local
  // time is 03:30 the same day; in one five hours west it is the day before.
  const char* saved = getenv("TZ");
  const std::string saved_tz = saved != nullptr ? saved : "";
  SYSTEMTIME s = {};
  FILETIME local = {};
  setenv("TZ", "XST-3", 1);
  ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &s));
  EXPECT_EQ(s.wDay, 12);
  EXPECT_EQ(s.wHour, 3);
  setenv("TZ", "YST5", 1);
  ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &s));
  EXPECT_EQ(s.wDay, 11);
  EXPECT_EQ(s.wHour, 19);
  if (saved != nullptr) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
}

// A block shorter than the resource holds what fits, and its queries stay
// inside it; a block that is no version tree answers nothing.
TEST_F(WorldFiles, ShortAndForeignBlocks) {
  Write("Spool/V.DLL", qxpe::MakeDll(qxpe::VersionFor("2.0.6.0", "V")));
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA("C:\\Spool\\V.DLL", &handle);
  ASSERT_GT(size, 100u);
  // The fixed information ends 92 bytes in (header 6, key 32, padding 2, value 52).
  std::vector<uint8_t> block(size, 0xAA);
  ASSERT_TRUE(GetFileVersionInfoA("C:\\Spool\\V.DLL", 0, 92, block.data()));
  EXPECT_EQ(block[92], 0xAA);
  EXPECT_EQ(block[0] | block[1] << 8, 92);
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_FAILS(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length),
               ERROR_RESOURCE_TYPE_NOT_FOUND);

  ASSERT_TRUE(GetFileVersionInfoA("C:\\Spool\\V.DLL", 0, size, block.data()));
  // Text values would need 8-bit copies, which this layer does not make.
  EXPECT_FAILS(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length),
               ERROR_CALL_NOT_IMPLEMENTED);

  std::vector<uint8_t> foreign = {0x40, 0x00, 0x34, 0x00, 0x00, 0x00, 'V', 0, 'S', 0};  // key never ends
  foreign.resize(64, 'x');
  EXPECT_FAILS(VerQueryValueA(foreign.data(), "\\", &value, &length), ERROR_INVALID_DATA);
  EXPECT_FAILS(VerQueryValueA(nullptr, "\\", &value, &length), ERROR_INVALID_PARAMETER);
  EXPECT_FAILS(GetFileVersionInfoA("C:\\Spool\\V.DLL", 0, size, nullptr), ERROR_INVALID_DATA);
}

// Offsets inside the resource directory that point outside it or outside
// the file: the directory entry's data RVA, a subdirectory offset, the
// resource directory's own RVA.
TEST_F(WorldFiles, ResourceOffsetsAreChecked) {
  const std::vector<uint8_t> good = qxpe::MakeDll(qxpe::VersionFor("1.2.3.4", "R"));
  auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  struct Case {
    size_t at;
    uint32_t value;
    DWORD error;
  } cases[] = {
      {qxpe::kSectionFileOffset + 0x48, 0x00FFF000, ERROR_RESOURCE_DATA_NOT_FOUND},  // data RVA far away
      {qxpe::kSectionFileOffset + 0x4C, 0x00100000, ERROR_RESOURCE_DATA_NOT_FOUND},  // data size past the file
      {qxpe::kSectionFileOffset + 0x14, 0x8000FFF0, ERROR_RESOURCE_DATA_NOT_FOUND},  // subdirectory outside
      {qxpe::kSectionFileOffset + 0x10, 0x00000003, ERROR_RESOURCE_TYPE_NOT_FOUND},  // no RT_VERSION entry
      {qxpe::kSectionFileOffset + 0x28, 0x00000002, ERROR_RESOURCE_NAME_NOT_FOUND},  // no name 1
      {qxpe::kResourceDirectoryEntry, 0x00009000, ERROR_RESOURCE_DATA_NOT_FOUND},    // directory in no section
      {qxpe::kSectionTableOffset + 20, 0x00100000, ERROR_RESOURCE_DATA_NOT_FOUND},   // raw data past the file
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    put32(bad, c.at, c.value);
    Write("Spool/BAD.DLL", bad);
    DWORD handle = 0;
    SetLastError(kUntouched);
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\Spool\\BAD.DLL", &handle), 0u) << c.at;
    EXPECT_EQ(GetLastError(), c.error) << c.at;
  }
}

}  // namespace
