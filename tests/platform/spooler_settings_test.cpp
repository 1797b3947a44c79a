// spooler_settings_test.cpp - a printer's settings: SetPrinterA level 2
// writing the record and the device mode back, its access rules and refusals,
// and DocumentPropertiesA's size query, copy and merge as a driver does them,
// including the values a driver refuses and the fields it does not support.
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

class PrinterSettings : public qxsim::SimFixture {
 protected:
  void TearDown() override {
    qxplat_fault_clear();
    SimFixture::TearDown();
  }

  static std::vector<BYTE> Get2(HANDLE h) {
    DWORD needed = 0;
    if (GetPrinterA(h, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterA(h, 2, buffer.data(), needed, &needed)) return {};
    return buffer;
  }
  static const PRINTER_INFO_2A& Info(const std::vector<BYTE>& b) {
    return *reinterpret_cast<const PRINTER_INFO_2A*>(b.data());
  }
  // The printer's stored device mode, whole (public part and private bytes).
  static std::vector<BYTE> StoredDevmode(HANDLE h) {
    const std::vector<BYTE> info = Get2(h);
    if (info.empty() || Info(info).pDevMode == nullptr) return {};
    const auto* dm = Info(info).pDevMode;
    const auto* p = reinterpret_cast<const BYTE*>(dm);
    return std::vector<BYTE>(p, p + dm->dmSize + dm->dmDriverExtra);
  }
  static DEVMODEA& Dm(std::vector<BYTE>& bytes) { return *reinterpret_cast<DEVMODEA*>(bytes.data()); }
  static const DEVMODEA& Dm(const std::vector<BYTE>& bytes) {
    return *reinterpret_cast<const DEVMODEA*>(bytes.data());
  }
};

// ---- SetPrinterA ---------------------------------------------------------------

TEST_F(PrinterSettings, SetPrinterWritesTheDeviceModeAndTheTextsAsGiven) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  ASSERT_FALSE(info.empty());
  auto& record = *reinterpret_cast<PRINTER_INFO_2A*>(info.data());
  ASSERT_NE(record.pDevMode, nullptr);
  record.pDevMode->dmOrientation = DMORIENT_LANDSCAPE;
  record.pDevMode->dmPaperSize = 257;
  record.pDevMode->dmDefaultSource = 2;
  BYTE* extra = reinterpret_cast<BYTE*>(record.pDevMode) + record.pDevMode->dmSize;
  extra[15] = 0x7e;  // the driver's private bytes are stored as given too
  char location[] = "Lobby, window 3";
  record.pLocation = location;
  record.pSecurityDescriptor = nullptr;
  const auto* given = reinterpret_cast<const BYTE*>(record.pDevMode);
  const std::vector<BYTE> expected(given, given + record.pDevMode->dmSize + record.pDevMode->dmDriverExtra);

  SetLastError(kUntouched);
  ASSERT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), kUntouched);

  EXPECT_EQ(StoredDevmode(p.h), expected);
  const std::vector<BYTE> after = Get2(p.h);
  EXPECT_STREQ(Info(after).pLocation, "Lobby, window 3");
  EXPECT_STREQ(Info(after).pPortName, "USB001");
  EXPECT_NE(Info(after).pSecurityDescriptor, nullptr) << "the security is left alone";
  const json stored = control().Printer(kTicket);
  EXPECT_EQ(stored["devmode"]["orientation"], 2);
  EXPECT_EQ(stored["devmode"]["paper_size"], 257);
  EXPECT_EQ(stored["devmode"]["driver_extra"], "5158444d0200000001000000cb00007e");
  EXPECT_EQ(stored["location"], "Lobby, window 3");

  Printer other(kTicket, PRINTER_ACCESS_USE);
  EXPECT_EQ(StoredDevmode(other.h), expected) << "another handle sees the stored mode";
}

TEST_F(PrinterSettings, NullFieldsAreLeftAlone) {
  Printer p(kOffice);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> before = StoredDevmode(p.h);
  PRINTER_INFO_2A record{};
  char comment[] = "Second floor";
  record.pComment = comment;
  record.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED;
  SetLastError(kUntouched);
  ASSERT_TRUE(SetPrinterA(p.h, 2, reinterpret_cast<LPBYTE>(&record), 0));
  EXPECT_EQ(GetLastError(), kUntouched);
  const std::vector<BYTE> after = Get2(p.h);
  EXPECT_STREQ(Info(after).pComment, "Second floor");
  EXPECT_STREQ(Info(after).pLocation, "Back office");
  EXPECT_EQ(Info(after).Attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL |
                                                       PRINTER_ATTRIBUTE_SHARED));
  EXPECT_EQ(Info(after).Priority, 1u) << "priority 0 gives none";
  EXPECT_EQ(StoredDevmode(p.h), before);
}

TEST_F(PrinterSettings, APortWrittenBackMovesTheLanguageMonitorAlong) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  ASSERT_FALSE(info.empty());
  char port[] = "com1:";
  reinterpret_cast<PRINTER_INFO_2A*>(info.data())->pPortName = port;
  SetLastError(kUntouched);
  ASSERT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_STREQ(Info(Get2(p.h)).pPortName, "COM1:") << "the port's own spelling";
  const json monitors = control().Monitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0]["port"], "COM1:");
  EXPECT_EQ(monitors[0]["printer"], kTicket);
}

TEST_F(PrinterSettings, AHandleWithoutAdministerRightsCannotSet) {
  for (DWORD access : {static_cast<DWORD>(PRINTER_ACCESS_USE), 0u}) {
    Printer p(kTicket, access);
    ASSERT_NE(p.h, nullptr);
    std::vector<BYTE> info = Get2(p.h);
    ASSERT_FALSE(info.empty());
    auto& record = *reinterpret_cast<PRINTER_INFO_2A*>(info.data());
    record.pDevMode->dmOrientation = DMORIENT_LANDSCAPE;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0)) << access;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << access;
  }
  Printer admin(kTicket, PRINTER_ACCESS_ADMINISTER);
  std::vector<BYTE> info = Get2(admin.h);
  ASSERT_FALSE(info.empty());
  EXPECT_TRUE(SetPrinterA(admin.h, 2, info.data(), 0));
  EXPECT_EQ(control().Printer(kTicket)["devmode"]["orientation"], 1) << "nothing was written by the refused calls";
}

TEST_F(PrinterSettings, APrinterSetToRefuseWritesDeniesThem) {
  control().ChangePrinter(kTicket, {{"refuse_set", true}});
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  char location[] = "Moved";
  reinterpret_cast<PRINTER_INFO_2A*>(info.data())->pLocation = location;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  control().ChangePrinter(kTicket, {{"refuse_set", ERROR_NOT_SUPPORTED}});
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(control().Printer(kTicket)["location"], "Box office, window 1");
  control().ChangePrinter(kTicket, {{"refuse_set", false}});
  EXPECT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(control().Printer(kTicket)["location"], "Moved");
}

TEST_F(PrinterSettings, TheWorldFileCanMakeAPrinterRefuseWrites) {
  json world = qxsim::DefaultWorld();
  world["printers"][2]["refuse_set"] = true;  // the boarding-pass printer
  UseWorld(world.dump());
  EXPECT_EQ(control().Printer(kBoarding)["refuse_set"], ERROR_ACCESS_DENIED);
  Printer p(kBoarding);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(PrinterSettings, SetPrinterArgumentErrors) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  for (DWORD level : {0u, 1u, 5u, 9u}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(SetPrinterA(p.h, level, info.data(), 0)) << level;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << level;
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 1)) << "commands are not supported";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(reinterpret_cast<HANDLE>(0x4321), 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  auto& record = *reinterpret_cast<PRINTER_INFO_2A*>(info.data());
  char location[] = "Should not stick";
  char port[] = "LPT9:";
  record.pLocation = location;
  record.pPortName = port;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  EXPECT_EQ(control().Printer(kTicket)["location"], "Box office, window 1") << "a refused call writes nothing";

  char usb[] = "usb001";
  char name[] = "Renamed Printer";
  record.pPortName = usb;
  record.pPrinterName = name;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  char own[] = "qx zda-38 ticket printer";
  char driver[] = "Some Other Driver";
  record.pPrinterName = own;
  record.pDriverName = driver;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
  record.pDriverName = nullptr;
  record.Priority = 100;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  record.Priority = 1;
  record.pDevMode->dmSize = sizeof(DEVMODEA) - 2;
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0)) << "a device mode shorter than DEVMODEA";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  record.pDevMode->dmSize = sizeof(DEVMODEA);
  SetLastError(kUntouched);
  EXPECT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(control().Printer(kTicket)["location"], "Should not stick");
}

TEST_F(PrinterSettings, SetPrinterIsAFaultPoint) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  char location[] = "Faulted";
  reinterpret_cast<PRINTER_INFO_2A*>(info.data())->pLocation = location;
  qxplat_call_counts_reset();
  ASSERT_EQ(qxplat_fault_arm("SetPrinterA", 1, ERROR_ACCESS_DENIED), 0);
  SetLastError(kUntouched);
  EXPECT_FALSE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(qxplat_fault_fired(), 1u);
  EXPECT_EQ(control().Printer(kTicket)["location"], "Box office, window 1");
  EXPECT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  EXPECT_EQ(qxplat_call_count("SetPrinterA"), 2u);
}

// ---- DocumentPropertiesA --------------------------------------------------------

TEST_F(PrinterSettings, ModeZeroGivesTheFullDeviceModeSize) {
  for (const auto& [name, extra] : {std::pair{kTicket, 16u}, std::pair{kOffice, 0u}}) {
    Printer p(name);
    ASSERT_NE(p.h, nullptr);
    SetLastError(kUntouched);
    EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, const_cast<LPSTR>(name), nullptr, nullptr, 0),
              static_cast<LONG>(sizeof(DEVMODEA) + extra))
        << name;
    EXPECT_EQ(GetLastError(), kUntouched);
  }
}

TEST_F(PrinterSettings, OutBufferCopiesTheCurrentDeviceMode) {
  Printer p(kTicket, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  const LONG size = DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, 0);
  ASSERT_GT(size, 0);
  std::vector<BYTE> out(static_cast<size_t>(size) + 8, 0xAB);
  SetLastError(kUntouched);
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()), nullptr,
                                DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(GetLastError(), kUntouched);
  const std::vector<BYTE> stored = StoredDevmode(p.h);
  EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + size), stored);
  EXPECT_EQ(out[static_cast<size_t>(size)], 0xAB) << "nothing written past the device mode";

  SetLastError(kUntouched);
  EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, DM_OUT_BUFFER), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_LT(DocumentPropertiesA(nullptr, nullptr, const_cast<LPSTR>(kTicket), reinterpret_cast<PDEVMODEA>(out.data()),
                                nullptr, DM_OUT_BUFFER),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PrinterSettings, MergeTakesTheNamedFieldsAndStoresNothing) {
  Printer p(kTicket, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> stored = StoredDevmode(p.h);
  ASSERT_EQ(stored.size(), sizeof(DEVMODEA) + 16);
  std::vector<BYTE> in = stored;
  Dm(in).dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_DEFAULTSOURCE;
  Dm(in).dmOrientation = DMORIENT_LANDSCAPE;
  Dm(in).dmPaperSize = 260;
  Dm(in).dmDefaultSource = 4;
  Dm(in).dmPaperLength = 999;  // not named: the current value stays
  Dm(in).dmPrintQuality = 600;
  std::vector<BYTE> out(stored.size(), 0);
  SetLastError(kUntouched);
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()),
                                reinterpret_cast<PDEVMODEA>(in.data()), DM_IN_BUFFER | DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(Dm(out).dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_EQ(Dm(out).dmPaperSize, 260);
  EXPECT_EQ(Dm(out).dmDefaultSource, 4);
  EXPECT_EQ(Dm(out).dmPaperLength, 1397);
  EXPECT_EQ(Dm(out).dmPrintQuality, 203);
  EXPECT_EQ(Dm(out).dmFields, Dm(stored).dmFields) << "the driver's fields, not the input's";
  EXPECT_EQ(Dm(out).dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(Dm(out).dmDriverExtra, 16);
  EXPECT_EQ(StoredDevmode(p.h), stored) << "only SetPrinterA stores";

  // Length and width are taken when named and positive.
  Dm(in).dmFields = DM_PAPERLENGTH | DM_PAPERWIDTH;
  Dm(in).dmPaperLength = 1500;
  Dm(in).dmPaperWidth = 700;
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()),
                                reinterpret_cast<PDEVMODEA>(in.data()), DM_IN_BUFFER | DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(Dm(out).dmPaperLength, 1500);
  EXPECT_EQ(Dm(out).dmPaperWidth, 700);
  EXPECT_EQ(Dm(out).dmOrientation, DMORIENT_PORTRAIT) << "merged into the current settings, not the last merge";
}

TEST_F(PrinterSettings, MergeInPlaceWhenInputAndOutputAreOneBuffer) {
  Printer p(kTicket, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> buffer = StoredDevmode(p.h);
  Dm(buffer).dmFields = DM_ORIENTATION | DM_PAPERSIZE;
  Dm(buffer).dmOrientation = DMORIENT_LANDSCAPE;
  Dm(buffer).dmPaperSize = 262;
  buffer[sizeof(DEVMODEA) + 15] = 0x55;  // private bytes of the same size are the driver's to take
  auto* dm = reinterpret_cast<PDEVMODEA>(buffer.data());
  SetLastError(kUntouched);
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, dm, dm, DM_IN_BUFFER | DM_OUT_BUFFER), IDOK);
  EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_EQ(dm->dmPaperSize, 262);
  EXPECT_EQ(dm->dmPaperLength, 1397);
  EXPECT_EQ(dm->dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH |
                                             DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_YRESOLUTION));
  EXPECT_EQ(buffer[sizeof(DEVMODEA) + 15], 0x55);

  // A bare DEVMODEA input (no private bytes) into a full-size output.
  DEVMODEA bare{};
  bare.dmSize = sizeof bare;
  bare.dmFields = DM_ORIENTATION;
  bare.dmOrientation = DMORIENT_LANDSCAPE;
  std::vector<BYTE> out(sizeof(DEVMODEA) + 16, 0);
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()), &bare,
                                DM_IN_BUFFER | DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(Dm(out).dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_EQ(Dm(out).dmPaperSize, 258);
  EXPECT_EQ(std::memcmp(out.data() + sizeof(DEVMODEA), "QXDM", 4), 0) << "the driver's own private bytes";
}

TEST_F(PrinterSettings, MergeRefusesValuesTheDriverDoesNotOffer) {
  Printer p(kTicket, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> stored = StoredDevmode(p.h);
  struct Bad {
    DWORD field;
    void (*set)(DEVMODEA&);
    const char* what;
  };
  const Bad cases[] = {
      {DM_ORIENTATION, [](DEVMODEA& d) { d.dmOrientation = 3; }, "orientation 3"},
      {DM_ORIENTATION, [](DEVMODEA& d) { d.dmOrientation = 0; }, "orientation 0"},
      {DM_PAPERSIZE, [](DEVMODEA& d) { d.dmPaperSize = 5; }, "Legal is not in the paper list"},
      {DM_PAPERSIZE, [](DEVMODEA& d) { d.dmPaperSize = 0; }, "paper code 0"},
      {DM_DEFAULTSOURCE, [](DEVMODEA& d) { d.dmDefaultSource = 8; }, "no tractor on this printer"},
      {DM_PAPERLENGTH, [](DEVMODEA& d) { d.dmPaperLength = 0; }, "zero length"},
      {DM_PAPERWIDTH, [](DEVMODEA& d) { d.dmPaperWidth = -5; }, "negative width"},
  };
  for (const Bad& c : cases) {
    std::vector<BYTE> in = stored;
    Dm(in).dmFields = c.field | DM_ORIENTATION;
    Dm(in).dmOrientation = DMORIENT_LANDSCAPE;
    c.set(Dm(in));
    std::vector<BYTE> out(stored.size(), 0xAB);
    SetLastError(kUntouched);
    EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()),
                                  reinterpret_cast<PDEVMODEA>(in.data()), DM_IN_BUFFER | DM_OUT_BUFFER),
              -1)
        << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
    EXPECT_EQ(out, std::vector<BYTE>(stored.size(), 0xAB)) << c.what << ": the output is left alone";
  }
  DEVMODEA tiny{};
  tiny.dmSize = 40;  // does not reach dmFields
  std::vector<BYTE> out(stored.size());
  SetLastError(kUntouched);
  EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()), &tiny,
                                DM_IN_BUFFER | DM_OUT_BUFFER),
            -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PrinterSettings, MergeIgnoresFieldsTheDriverDoesNotSupport) {
  // The boarding pass driver has no DM_PAPERLENGTH nor DM_PAPERWIDTH.
  Printer p(kBoarding, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  const std::vector<BYTE> stored = StoredDevmode(p.h);
  ASSERT_FALSE(stored.empty());
  ASSERT_EQ(Dm(stored).dmFields & DM_PAPERLENGTH, 0u);
  std::vector<BYTE> in = stored;
  Dm(in).dmFields = DM_PAPERLENGTH | DM_PAPERWIDTH | DM_DEFAULTSOURCE;
  Dm(in).dmPaperLength = 0;     // would be refused if the driver took it
  Dm(in).dmPaperWidth = 1234;
  Dm(in).dmDefaultSource = 4;   // Manual Feed
  std::vector<BYTE> out(stored.size());
  SetLastError(kUntouched);
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()),
                                reinterpret_cast<PDEVMODEA>(in.data()), DM_IN_BUFFER | DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(Dm(out).dmPaperWidth, 0);
  EXPECT_EQ(Dm(out).dmPaperLength, 0);
  EXPECT_EQ(Dm(out).dmDefaultSource, 4);
  EXPECT_EQ(Dm(out).dmFields & (DM_PAPERLENGTH | DM_PAPERWIDTH), 0u);
}

TEST_F(PrinterSettings, AMergedModeStoredWithSetPrinterIsTheNewCurrentOne) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::vector<BYTE> info = Get2(p.h);
  auto& record = *reinterpret_cast<PRINTER_INFO_2A*>(info.data());
  DEVMODEA want{};
  want.dmSize = sizeof want;
  want.dmFields = DM_PAPERSIZE;
  want.dmPaperSize = 259;
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, record.pDevMode, &want, DM_IN_BUFFER | DM_OUT_BUFFER), IDOK);
  record.pSecurityDescriptor = nullptr;
  ASSERT_TRUE(SetPrinterA(p.h, 2, info.data(), 0));
  std::vector<BYTE> out(DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, reinterpret_cast<PDEVMODEA>(out.data()), nullptr,
                                DM_OUT_BUFFER),
            IDOK);
  EXPECT_EQ(Dm(out).dmPaperSize, 259);
  EXPECT_EQ(control().Printer(kTicket)["devmode"]["paper_size"], 259);
}

TEST_F(PrinterSettings, DocumentPropertiesIsAFaultPoint) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  ASSERT_EQ(qxplat_fault_arm("DocumentPropertiesA", 2, 0), 0);
  EXPECT_GT(DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, 0), 0);
  SetLastError(kUntouched);
  EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(qxplat_fault_fired(), 1u);
  StopWorld();
  SetLastError(kUntouched);
  EXPECT_EQ(DocumentPropertiesA(nullptr, p.h, nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

}  // namespace
