// spooler_enum_test.cpp - EnumPrintersA as Windows defines it: size probing,
// exact needed sizes, records first and their data packed after them inside
// the buffer, the levels, an empty spooler, no spooler at all, and what the
// control API changes at run time.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;
using nlohmann::json;

class Enumeration : public qxsim::SimFixture {
 protected:
  // Probes, then fills a buffer of exactly the size reported.
  std::vector<BYTE> Enumerate(DWORD level, DWORD& count, DWORD flags = PRINTER_ENUM_LOCAL) {
    DWORD needed = 0;
    count = 77;
    SetLastError(kUntouched);
    EXPECT_FALSE(EnumPrintersA(flags, nullptr, level, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(count, 0u);
    std::vector<BYTE> buffer(needed);
    DWORD again = 0;
    SetLastError(kUntouched);
    EXPECT_TRUE(EnumPrintersA(flags, nullptr, level, buffer.data(), needed, &again, &count));
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(again, needed) << "needed is reported on success too";
    return buffer;
  }
};

TEST_F(Enumeration, Level2RecordsComeFirstAndPointIntoTheBuffer) {
  DWORD count = 0;
  const std::vector<BYTE> buffer = Enumerate(2, count);
  ASSERT_EQ(count, 4u);
  const size_t size = buffer.size();
  const auto* p = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  const BYTE* data_start = buffer.data() + count * sizeof(PRINTER_INFO_2A);
  for (DWORD i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(p[i].pServerName, nullptr);
    for (const char* text : {p[i].pPrinterName, p[i].pShareName, p[i].pPortName, p[i].pDriverName,
                             p[i].pComment, p[i].pLocation, p[i].pSepFile, p[i].pPrintProcessor,
                             p[i].pDatatype, p[i].pParameters}) {
      ASSERT_TRUE(TextInside(text, buffer, size));
      EXPECT_GE(reinterpret_cast<const BYTE*>(text), data_start) << "after every record";
    }
    ASSERT_TRUE(Inside(p[i].pDevMode, buffer, size));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p[i].pDevMode) % 4, 0u) << "a DEVMODEA is aligned";
    const BYTE* dm_end = reinterpret_cast<const BYTE*>(p[i].pDevMode) + p[i].pDevMode->dmSize +
                         p[i].pDevMode->dmDriverExtra;
    EXPECT_LE(dm_end, buffer.data() + size) << "with its driver's extra bytes";
    EXPECT_TRUE(Inside(p[i].pSecurityDescriptor, buffer, size));
    EXPECT_STREQ(p[i].pPrintProcessor, "winprint");
  }
  EXPECT_STREQ(p[0].pPrinterName, kTicket);
  EXPECT_STREQ(p[0].pPortName, "USB001");
  EXPECT_STREQ(p[0].pDriverName, "QX ZDA-38 Driver");
  EXPECT_STREQ(p[0].pLocation, "Box office, window 1");
  EXPECT_EQ(p[0].Status, 0u);
  EXPECT_EQ(p[0].cJobs, 0u);
  EXPECT_EQ(p[3].cJobs, 2u);
  EXPECT_STREQ(p[3].pShareName, "OfficeLaser");
  EXPECT_EQ(p[0].Attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL |
                                                 PRINTER_ATTRIBUTE_ENABLE_BIDI));

  const DEVMODEA& dm = *p[0].pDevMode;
  EXPECT_EQ(dm.dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(dm.dmDriverExtra, 16u);
  EXPECT_STREQ(reinterpret_cast<const char*>(dm.dmDeviceName), kTicket);
  EXPECT_EQ(dm.dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH |
                                            DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_YRESOLUTION));
  EXPECT_EQ(dm.dmOrientation, DMORIENT_PORTRAIT);
  EXPECT_EQ(dm.dmPaperSize, 258);
  EXPECT_EQ(dm.dmPaperLength, 1397);
  EXPECT_EQ(dm.dmPaperWidth, 826);
  EXPECT_EQ(dm.dmDefaultSource, 1);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const BYTE*>(&dm) + dm.dmSize, "QXDM", 4), 0) << "the extra bytes";
}

TEST_F(Enumeration, OtherLevelsCarryTheirOwnFields) {
  DWORD count = 0;
  std::vector<BYTE> one = Enumerate(1, count);
  ASSERT_EQ(count, 4u);
  const auto* p1 = reinterpret_cast<const PRINTER_INFO_1A*>(one.data());
  EXPECT_EQ(p1[0].Flags, static_cast<DWORD>(PRINTER_ENUM_ICON8));
  EXPECT_STREQ(p1[0].pName, kTicket);
  EXPECT_STREQ(p1[0].pDescription, "QX ZDA-38 Ticket Printer,QX ZDA-38 Driver,Box office, window 1");
  EXPECT_TRUE(TextInside(p1[3].pComment, one, one.size()));

  std::vector<BYTE> four = Enumerate(4, count);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(four.size(), 4 * sizeof(PRINTER_INFO_4A) + std::strlen(kTicket) + std::strlen(kKiosk) + std::strlen(kBoarding) +
                             std::strlen(kOffice) + 4)
      << "exactly the records and the names";
  const auto* p4 = reinterpret_cast<const PRINTER_INFO_4A*>(four.data());
  EXPECT_STREQ(p4[2].pPrinterName, kBoarding);
  EXPECT_EQ(p4[2].pServerName, nullptr);

  std::vector<BYTE> five = Enumerate(5, count);
  ASSERT_EQ(count, 4u);
  const auto* p5 = reinterpret_cast<const PRINTER_INFO_5A*>(five.data());
  EXPECT_STREQ(p5[2].pPrinterName, kBoarding);
  EXPECT_STREQ(p5[2].pPortName, "LPT1:");
  EXPECT_EQ(p5[2].DeviceNotSelectedTimeout, 15000u);
  EXPECT_EQ(p5[2].TransmissionRetryTimeout, 45000u);
  EXPECT_TRUE(TextInside(p5[3].pPortName, five, five.size()));
}

TEST_F(Enumeration, OneByteShortFailsAndStoresTheSize) {
  DWORD needed = 0, count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &count);
  ASSERT_GT(needed, 0u);
  std::vector<BYTE> buffer(needed, 0xEE);
  DWORD reported = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.data(), needed - 1, &reported, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(reported, needed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(buffer[0], 0xEE) << "nothing written";
}

TEST_F(Enumeration, UnsupportedLevelsAndBadArguments) {
  DWORD needed = 5, count = 5;
  for (DWORD level : {0u, 3u, 6u, 7u, 9u, 0xFFFFFFFFu}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &needed, &count)) << level;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << level;
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 100, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  char server[] = "\\\\ELSEWHERE";
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_NAME, server, 1, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST_F(Enumeration, FlagsChooseWhichPrinters) {
  DWORD count = 0;
  Enumerate(5, count, PRINTER_ENUM_DEFAULT);
  EXPECT_EQ(count, 1u) << "only the default";
  Enumerate(5, count, PRINTER_ENUM_NAME);
  EXPECT_EQ(count, 4u) << "no name: the local printers";
  DWORD needed = 9;
  SetLastError(kUntouched);
  EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u) << "there are no connections";
  EXPECT_EQ(count, 0u);
}

TEST_F(Enumeration, ControlChangesAreSeenAtOnce) {
  control().SetPrinterStatus(kBoarding, PRINTER_STATUS_OFFLINE | PRINTER_STATUS_PAPER_OUT);
  control().AddJob(kBoarding, "Boarding pass 0042");
  DWORD count = 0;
  std::vector<BYTE> buffer = Enumerate(2, count);
  ASSERT_EQ(count, 4u);
  const auto* p = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  EXPECT_EQ(p[2].Status, static_cast<DWORD>(PRINTER_STATUS_OFFLINE | PRINTER_STATUS_PAPER_OUT));
  EXPECT_EQ(p[2].cJobs, 1u);

  control().RemovePrinter(kTicket);
  buffer = Enumerate(5, count);
  ASSERT_EQ(count, 3u);
  EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_5A*>(buffer.data())[1].pPrinterName, kBoarding);
}

class NoPrinters : public qxsim::SimFixture {
 protected:
  std::string WorldJson() const override { return R"({"ports": ["LPT1:"]})"; }
};

TEST_F(NoPrinters, SucceedWithNothingNeeded) {
  for (DWORD level : {1u, 2u, 4u, 5u}) {
    DWORD needed = 123, count = 456;
    SetLastError(kUntouched);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &needed, &count)) << level;
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(count, 0u);
  }
}

TEST_F(NoPrinters, NoSpoolerMeansTheServerIsUnavailable) {
  StopWorld();
  DWORD needed = 0, count = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

// Worlds are found by QX_SIM_DIR at every call, so one process can switch.
TEST_F(NoPrinters, EachCallFollowsQxSimDir) {
  DWORD needed = 0, count = 0;
  EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
  UseWorld("");
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, 0u);
}

}  // namespace
