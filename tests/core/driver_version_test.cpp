// The driver version report against worlds whose drivers list their files:
// qxsimd writes each file with its date and version resource, and the library
// reads them back through the spooler, the file calls and the version calls.
#include "core/driver_version.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "world_test_util.h"

namespace {

using qxtest::json;
using qxtest::kBoarding;
using qxtest::kOffice;
using qxtest::kTicket;

const std::string kFolder = "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\";

json File(const std::string& name, const std::string& date, const std::string& version = "") {
  json f = {{"path", kFolder + name}, {"date", date}};
  if (!version.empty()) f["version"] = version;
  return f;
}

// The default world with the boarding-pass printer's dependent files replaced.
std::string WithFiles(const json& files) {
  return qxtest::WorldFrom([&](json& w) { qxtest::PrinterIn(w, kBoarding)["driver"]["dependent_files"] = files; });
}

struct Report {
  BOOL result;
  std::string text;
  DWORD length;
};

Report ReportFor(const char* printer, DWORD size = 64) {
  std::vector<char> text(size + 1, 'x');
  DWORD length = 12345;
  const BOOL result = qxLMGetDriverVersion(printer, text.data(), size, &length);
  return {result, size > 0 ? std::string(text.data(), strnlen(text.data(), size)) : "", length};
}

// Dates are written as UTC; the report shows local time, so the tests run in UTC.
class DriverVersion : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    if (const char* tz = getenv("TZ")) saved_tz_ = tz;
    had_tz_ = getenv("TZ") != nullptr;
    setenv("TZ", "UTC", 1);
    qxtest::LibraryWorld::SetUp();
  }
  void TearDown() override {
    qxtest::LibraryWorld::TearDown();
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }
  bool Captured(const std::string& line) const {
    for (const std::string& text : qxplat::debug_captured()) {
      if (text == line) return true;
    }
    return false;
  }

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
};

// The embedded world: a table-matched module beside a version module, a newer
// module with only its own version, and a driver with neither.
TEST_F(DriverVersion, DefaultWorldDrivers) {
  Report r = ReportFor(kBoarding);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.text, "2.05");  // VNQUIF_G_200X.DLL of 9/11/2006, whatever QXVERSION.DLL says
  EXPECT_EQ(r.length, 4u);
  r = ReportFor(kTicket);
  EXPECT_EQ(r.text, "5.0.1.9");
  EXPECT_EQ(r.length, 7u);
  r = ReportFor(kOffice);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.length, 12345u);
}

TEST_F(DriverVersion, NullOrEmptyNameIsTheCurrentPrinter) {
  Attach();
  EXPECT_EQ(ReportFor(nullptr).text, "5.0.1.9");
  EXPECT_EQ(ReportFor("").text, "5.0.1.9");
  ASSERT_TRUE(qxSetNewPrinter(kBoarding));
  EXPECT_EQ(ReportFor(nullptr).text, "2.05");
}

TEST_F(DriverVersion, UnknownOrOverlongPrinterReportsNothing) {
  Report r = ReportFor("No Such Printer");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.length, 12345u);
  // Over 511 characters: nothing is opened.
  qxplat_call_counts_reset();
  const std::string long_name(512, 'Q');
  r = ReportFor(long_name.c_str());
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 0u);
}

// The date test is a substring test, rows in table order; module names match
// in any case.
TEST_F(DriverVersion, TableMatchesByNameAndSubstringDate) {
  UseWorld(WithFiles(
      json::array({File("VNP_BAGTAG_UI.DLL", "2017-12-20T12:00:00"), File("QXVERSION.DLL", "2017-01-01", "2.0.6.0")})));
  EXPECT_EQ(ReportFor(kBoarding).text, "5.0.0.6");
  UseWorld(WithFiles(json::array({File("vnpiuif_200.dll", "2017-11-04T08:00:00")})));
  EXPECT_EQ(ReportFor(kBoarding).text, "6.1.0.0");
}

TEST_F(DriverVersion, VersionModuleWhenTheTableHasNoRow) {
  UseWorld(WithFiles(json::array(
      {File("VNQUIF_G_200X.DLL", "2006-09-12T12:00:00", "5.9.9.9"), File("QXVERSION.DLL", "2006-09-12", "2.0.6.0")})));
  EXPECT_EQ(ReportFor(kBoarding).text, "2.06");
  EXPECT_TRUE(Captured("Not found\r\n"));
}

TEST_F(DriverVersion, UserInterfaceModuleOwnVersionFromMajorFive) {
  UseWorld(WithFiles(json::array({File("QXNEW_UI.DLL", "2019-01-01", "5.1.2.3")})));
  EXPECT_EQ(ReportFor(kBoarding).text, "5.1.2.3");
  UseWorld(WithFiles(json::array({File("QXNEW_UI.DLL", "2019-01-01", "4.9.0.0")})));
  const Report r = ReportFor(kBoarding);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.text, "");
  // A module without a version resource says so and reports nothing.
  UseWorld(WithFiles(json::array({File("QXOLD_UI.DLL", "2019-01-01")})));
  EXPECT_EQ(ReportFor(kBoarding).result, 0);
  EXPECT_TRUE(Captured("version size = 0, return without version\r\n"));
}

// A module listed but not there: its date cannot be read, so no row matches.
TEST_F(DriverVersion, MissingModuleAndMissingList) {
  UseWorld(WithFiles(json::array({"VNQUIF_G_200X.DLL"})));
  EXPECT_EQ(ReportFor(kBoarding).result, 0);
  EXPECT_TRUE(Captured("getFileDate - file did not open\r\n"));
  UseWorld(qxtest::WorldFrom([](json& w) { qxtest::PrinterIn(w, kBoarding)["driver"].erase("dependent_files"); }));
  EXPECT_EQ(ReportFor(kBoarding).result, 0);
}

// A version that does not fit whole is not written, never cut to another.
TEST_F(DriverVersion, TextLongerThanTheBufferIsNotWritten) {
  Report r = ReportFor(kTicket, 7);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.length, 12345u);
  r = ReportFor(kTicket, 8);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.text, "5.0.1.9");
  EXPECT_EQ(qxLMGetDriverVersion(kTicket, nullptr, 0, nullptr), 0);
}

// The date text on a 12-hour clock: 00:05 is 12:05 AM, 12:30 is 12:30 PM.
TEST_F(DriverVersion, FileDateOnATwelveHourClock) {
  UseWorld(WithFiles(json::array({File("A_UI.DLL", "2006-09-11T00:05:00"), File("B_UI.DLL", "2006-09-11T12:30:00"),
                                  File("C_UI.DLL", "2017-12-20T23:59:00"), File("D_UI.DLL", "2006-03-02T09:07:00")})));
  const struct {
    const char* name;
    const char* text;
  } cases[] = {{"A_UI.DLL", "9/11/2006 12:05 AM"},
               {"B_UI.DLL", "9/11/2006 12:30 PM"},
               {"C_UI.DLL", "12/20/2017 11:59 PM"},
               {"D_UI.DLL", "3/2/2006 09:07 AM"}};
  for (const auto& c : cases) {
    char text[64] = "untouched";
    ASSERT_TRUE(qx::getFileDate((kFolder + c.name).c_str(), text, sizeof text));
    EXPECT_STREQ(text, c.text);
  }
  char small[8] = "keep";
  EXPECT_FALSE(qx::getFileDate((kFolder + "A_UI.DLL").c_str(), small, sizeof small));
  EXPECT_STREQ(small, "keep");
}

TEST_F(DriverVersion, FileVersionTexts) {
  char shortText[32] = "Not found", fullText[32] = "";
  WORD major = 0;
  ASSERT_TRUE(qx::getFileVersion((kFolder + "QXVERSION.DLL").c_str(), shortText, 32, fullText, &major));
  EXPECT_STREQ(shortText, "2.06");
  EXPECT_STREQ(fullText, "2.0.6.0");
  EXPECT_EQ(major, 2);
  // Texts that do not fit are left as they were.
  char tiny[4] = "ab", tinyFull[4] = "cd";
  EXPECT_TRUE(qx::getFileVersion((kFolder + "QXVERSION.DLL").c_str(), tiny, 4, tinyFull, nullptr));
  EXPECT_STREQ(tiny, "ab");
  EXPECT_STREQ(tinyFull, "cd");
  EXPECT_FALSE(qx::getFileVersion((kFolder + "NONE.DLL").c_str(), shortText, 32, fullText, &major));
}

TEST_F(DriverVersion, ReleasesEverythingUnderFaults) {
  qxtest::SweepEveryClass<BOOL>("qxLMGetDriverVersion", [] { return ReportFor(kBoarding).result; }, {0, 1},
                                {"open", "spool"});
}

// qxsimd writes the files with their dates and replaces, on a reset, a link
// planted in a file's place without writing through it.
TEST_F(DriverVersion, DaemonReplacesLinksWithoutFollowing) {
  const std::string folder = dir() + "/drives/c/Windows/System32/spool/DRIVERS/x64/3/";
  const std::string outside = dir() + "/outside.txt";
  FILE* f = std::fopen(outside.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("keep", f);
  std::fclose(f);
  ASSERT_EQ(std::remove((folder + "QXVERSION.DLL").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (folder + "QXVERSION.DLL").c_str()), 0);
  EXPECT_EQ(ReportFor(kBoarding).text, "2.05");  // the link is not followed: no version module

  control().Reset();
  struct stat st;
  ASSERT_EQ(lstat((folder + "QXVERSION.DLL").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mtim.tv_sec, 1157976000);  // 2006-09-11 12:00:00 UTC
  f = std::fopen(outside.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 4u);
  std::fclose(f);
  EXPECT_STREQ(text, "keep");
}

}  // namespace
