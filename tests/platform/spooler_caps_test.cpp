// spooler_caps_test.cpp - DeviceCapabilitiesA: counts with a null output,
// the entry formats (64-character paper names and 24-character bin names,
// unterminated when full; 16-bit codes; sizes as POINTs in tenths of a
// millimetre), the device-mode values, and -1 for the errors. Ends with the
// selection the library's sheet table makes from these lists.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;

int Caps(const char* device, WORD what, void* out = nullptr) {
  return DeviceCapabilitiesA(device, "USB001", what, static_cast<LPSTR>(out), nullptr);
}

class Capabilities : public qxsim::SimFixture {};

TEST_F(Capabilities, ListsCountWithANullOutput) {
  EXPECT_EQ(Caps(kTicket, DC_PAPERNAMES), 9);
  EXPECT_EQ(Caps(kTicket, DC_PAPERS), 9);
  EXPECT_EQ(Caps(kTicket, DC_PAPERSIZE), 9);
  EXPECT_EQ(Caps(kTicket, DC_BINS), 3);
  EXPECT_EQ(Caps(kTicket, DC_BINNAMES), 3);
  EXPECT_EQ(Caps(kTicket, DC_FILEDEPENDENCIES), 3);
  EXPECT_EQ(Caps(kOffice, DC_PAPERNAMES), 6);
}

TEST_F(Capabilities, EntriesHaveTheirWindowsFormats) {
  std::vector<char> names(9 * 64, 'x');
  std::vector<WORD> codes(9, 0xEEEE);
  std::vector<POINT> sizes(9);
  ASSERT_EQ(Caps(kTicket, DC_PAPERNAMES, names.data()), 9);
  ASSERT_EQ(Caps(kTicket, DC_PAPERS, codes.data()), 9);
  ASSERT_EQ(Caps(kTicket, DC_PAPERSIZE, sizes.data()), 9);
  EXPECT_STREQ(&names[0], "Letter");
  EXPECT_EQ(names[63], '\0') << "short names are padded with zeros";
  EXPECT_STREQ(&names[3 * 64], "3.25 x 5.5 L = 5.5");
  EXPECT_EQ(codes[0], DMPAPER_LETTER);
  EXPECT_EQ(codes[1], DMPAPER_A4);
  EXPECT_EQ(codes[3], 258);
  EXPECT_EQ(sizes[0].x, 2159) << "x is the width";
  EXPECT_EQ(sizes[0].y, 2794);
  EXPECT_EQ(sizes[2].x, 508);
  EXPECT_EQ(sizes[2].y, 1397);

  std::vector<char> bins(3 * 24, 'x');
  std::vector<WORD> bin_codes(3);
  ASSERT_EQ(Caps(kTicket, DC_BINNAMES, bins.data()), 3);
  ASSERT_EQ(Caps(kTicket, DC_BINS, bin_codes.data()), 3);
  EXPECT_STREQ(&bins[24], "Rear Feed");
  EXPECT_EQ(bin_codes[2], DMBIN_MANUAL);
}

TEST_F(Capabilities, DeviceModeValues) {
  EXPECT_EQ(Caps(kTicket, DC_SIZE), static_cast<int>(sizeof(DEVMODEA)));
  EXPECT_EQ(Caps(kTicket, DC_EXTRA), 16);
  EXPECT_EQ(Caps(kTicket, DC_VERSION), DM_SPECVERSION);
  EXPECT_EQ(Caps(kTicket, DC_DRIVER), 512);
  EXPECT_EQ(Caps(kTicket, DC_FIELDS) & DM_PAPERSIZE, DM_PAPERSIZE);
  EXPECT_EQ(Caps(kTicket, DC_ORIENTATION), 90);
  EXPECT_EQ(Caps(kOffice, DC_DUPLEX), 1);
  EXPECT_EQ(Caps(kTicket, DC_DUPLEX), 0);
}

TEST_F(Capabilities, ErrorsAreMinusOne) {
  SetLastError(kUntouched);
  EXPECT_EQ(Caps("No Such Printer", DC_PAPERNAMES), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  SetLastError(kUntouched);
  EXPECT_EQ(DeviceCapabilitiesA(nullptr, nullptr, DC_PAPERS, nullptr, nullptr), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  SetLastError(kUntouched);
  EXPECT_EQ(Caps(kTicket, DC_ENUMRESOLUTIONS), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  StopWorld();
  SetLastError(kUntouched);
  EXPECT_EQ(Caps(kTicket, DC_BINS), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

// Names that fill their entries exactly: no terminator, nothing past the entry.
class FullNames : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override {
    return R"({"ports": ["LPT1:"], "printers": [{"name": "P", "port": "LPT1:",
      "driver": {"name": "D", "path": "d"},
      "sheets": [{"name": ")" + std::string(64, 'S') + R"(", "code": 300, "width": 1, "length": 2},
                 {"name": "short", "code": 301, "width": 3, "length": 4}],
      "bins": [{"name": ")" + std::string(24, 'B') + R"(", "code": 260}, {"name": "b", "code": 261}]}]})";
  }
};

TEST_F(FullNames, FillTheirEntriesWithoutATerminator) {
  std::vector<char> names(2 * 64 + 1, '#');
  ASSERT_EQ(DeviceCapabilitiesA("P", nullptr, DC_PAPERNAMES, names.data(), nullptr), 2);
  EXPECT_EQ(std::string(&names[0], 64), std::string(64, 'S'));
  EXPECT_STREQ(&names[64], "short");
  EXPECT_EQ(names[128], '#') << "nothing written past the entries";
  std::vector<char> bins(2 * 24 + 1, '#');
  ASSERT_EQ(DeviceCapabilitiesA("P", nullptr, DC_BINNAMES, bins.data(), nullptr), 2);
  EXPECT_EQ(std::string(&bins[0], 24), std::string(24, 'B'));
  EXPECT_STREQ(&bins[24], "b");
  EXPECT_EQ(bins[48], '#');
}

// The library keeps a sheet when its name contains the printer's filter ("x
// 4.4" for ZDA24 printers, else "L =") and its code is 42 or above.
TEST_F(Capabilities, ListsFeedTheLibrarysSheetFilter) {
  for (const char* printer : {kTicket, kBoarding}) {
    const char* filter = std::strstr(printer, "ZDA24") != nullptr ? "x 4.4" : "L =";
    const int n = Caps(printer, DC_PAPERNAMES);
    ASSERT_GT(n, 0);
    std::vector<char> names(static_cast<size_t>(n) * 64);
    std::vector<WORD> codes(static_cast<size_t>(n));
    ASSERT_EQ(Caps(printer, DC_PAPERNAMES, names.data()), n);
    ASSERT_EQ(Caps(printer, DC_PAPERS, codes.data()), n);
    int kept = 0, skipped = 0;
    for (int i = 0; i < n; ++i) {
      const std::string name(&names[static_cast<size_t>(i) * 64], strnlen(&names[static_cast<size_t>(i) * 64], 64));
      if (name.find(filter) != std::string::npos && codes[static_cast<size_t>(i)] >= 42) {
        ++kept;
      } else {
        ++skipped;
      }
    }
    EXPECT_GE(kept, 3) << printer;
    EXPECT_GE(skipped, 2) << printer << ": ordinary sheets sit among them";
  }
}

}  // namespace
