// spooler_data_test.cpp - printer data: GetPrinterDataA and SetPrinterDataA
// return their error rather than setting it, report the size needed for a
// short buffer, match value names without regard to case, and write only
// through a handle that may administer the printer.
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;
using nlohmann::json;

using PrinterData = qxsim::SimFixture;

LPSTR Name(const char* text) { return const_cast<LPSTR>(text); }

TEST_F(PrinterData, ReadsADwordWithItsTypeAndSize) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  DWORD type = 0, needed = 0, value = 0xDEADBEEF;
  ASSERT_EQ(GetPrinterDataA(p.h, Name("ENERGY_LEVEL"), &type, reinterpret_cast<LPBYTE>(&value), sizeof value,
                            &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(value, 3u);
  // Names are matched without regard to case, as registry value names are.
  value = 0;
  EXPECT_EQ(GetPrinterDataA(p.h, Name("energy_level"), nullptr, reinterpret_cast<LPBYTE>(&value), 4, &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(value, 3u);
}

TEST_F(PrinterData, ShortBufferMissingValueAndBadArgumentsAreReturnedNotSet) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  SetLastError(12345);
  DWORD needed = 0;
  BYTE small[2] = {0x55, 0x55};
  EXPECT_EQ(GetPrinterDataA(p.h, Name("AUTOSIZE"), nullptr, small, sizeof small, &needed),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(small[0], 0x55);  // nothing copied
  EXPECT_EQ(GetPrinterDataA(p.h, Name("NO_SUCH_VALUE"), nullptr, small, sizeof small, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrinterDataA(p.h, nullptr, nullptr, small, sizeof small, &needed),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetPrinterDataA(p.h, Name("AUTOSIZE"), nullptr, small, sizeof small, nullptr),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetPrinterDataA(nullptr, Name("AUTOSIZE"), nullptr, small, sizeof small, &needed),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetLastError(), 12345u);
}

TEST_F(PrinterData, WritesOverwriteKeepingTheFirstSpellingAndCreateNewValues) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  DWORD minus_one = 0xFFFFFFFFu;
  ASSERT_EQ(SetPrinterDataA(p.h, Name("beeper_control"), REG_DWORD, reinterpret_cast<LPBYTE>(&minus_one), 4),
            static_cast<DWORD>(ERROR_SUCCESS));
  DWORD two = 2;
  ASSERT_EQ(SetPrinterDataA(p.h, Name("NEW_VALUE"), REG_DWORD, reinterpret_cast<LPBYTE>(&two), 4),
            static_cast<DWORD>(ERROR_SUCCESS));
  const json data = control().Printer(kTicket)["data"];
  EXPECT_EQ(data["BEEPER_CONTROL"], 0xFFFFFFFFu);
  EXPECT_FALSE(data.contains("beeper_control"));
  EXPECT_EQ(data["NEW_VALUE"], 2);

  char text[] = "on";
  EXPECT_EQ(SetPrinterDataA(p.h, Name("MODE"), REG_SZ, reinterpret_cast<LPBYTE>(text), sizeof text),
            static_cast<DWORD>(ERROR_SUCCESS));
  DWORD type = 0, needed = 0;
  char back[8] = {};
  EXPECT_EQ(GetPrinterDataA(p.h, Name("MODE"), &type, reinterpret_cast<LPBYTE>(back), sizeof back, &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(needed, 3u);
  EXPECT_STREQ(back, "on");
}

TEST_F(PrinterData, WritesNeedAdministerRightsAndDataThatSuitsTheType) {
  DWORD one = 1;
  {
    Printer user(kTicket, PRINTER_ACCESS_USE);
    ASSERT_NE(user.h, nullptr);
    EXPECT_EQ(SetPrinterDataA(user.h, Name("AUTOSIZE"), REG_DWORD, reinterpret_cast<LPBYTE>(&one), 4),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  EXPECT_EQ(SetPrinterDataA(p.h, Name("AUTOSIZE"), REG_DWORD, reinterpret_cast<LPBYTE>(&one), 3),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetPrinterDataA(p.h, Name("AUTOSIZE"), 99, reinterpret_cast<LPBYTE>(&one), 4),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetPrinterDataA(p.h, Name("AUTOSIZE"), REG_DWORD, nullptr, 4),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  control().ChangePrinter(kTicket, {{"refuse_set", true}});
  EXPECT_EQ(SetPrinterDataA(p.h, Name("AUTOSIZE"), REG_DWORD, reinterpret_cast<LPBYTE>(&one), 4),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(control().Printer(kTicket)["data"]["AUTOSIZE"], 1);  // nothing written
}

}  // namespace
