// The platform's graphics area against Windows behaviour where the library
// relies on it: objects selected and deleted, stock objects, font records,
// printer contexts from a device mode, and pages printed through the spooler.
#include <cstring>
#include <string>

#include "world_test_util.h"

namespace {

using qxtest::kTicket;

class Graphics : public qxtest::LibraryWorld {
 protected:
  HDC Context(const DEVMODEA* mode = nullptr) { return CreateDCA("WINSPOOL", kTicket, nullptr, mode); }
  static int64_t Gdi() { return qxplat_live_count(QXPLAT_KIND_GDI); }
};

TEST_F(Graphics, ASelectedFontOutlivesItsDeletionUntilDeselected) {
  HDC hdc = Context();
  ASSERT_NE(hdc, nullptr);
  HFONT font = CreateFontA(20, 10, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  const int64_t live = Gdi();
  EXPECT_EQ(SelectObject(hdc, font), GetStockObject(SYSTEM_FONT));  // a context starts with the stock font
  EXPECT_TRUE(DeleteObject(font));  // selected: deleted later, as on Windows
  EXPECT_EQ(Gdi(), live);
  SIZE extent{};
  EXPECT_TRUE(GetTextExtentPoint32A(hdc, "abc", 3, &extent));  // still measures with it
  EXPECT_EQ(extent.cx, 30);
  EXPECT_EQ(extent.cy, 20);
  EXPECT_EQ(SelectObject(hdc, GetStockObject(SYSTEM_FONT)), font);
  EXPECT_EQ(Gdi(), live - 1);
  EXPECT_EQ(SelectObject(hdc, font), nullptr);  // gone now
  // Deleted while selected, then the context goes: both are freed.
  HFONT other = CreateFontA(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  SelectObject(hdc, other);
  EXPECT_TRUE(DeleteObject(other));
  EXPECT_TRUE(DeleteDC(hdc));
  EXPECT_EQ(Gdi(), live - 2);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteDC(hdc));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Graphics, StockObjectsAndFontRecords) {
  const int64_t live = Gdi();
  EXPECT_TRUE(DeleteObject(GetStockObject(SYSTEM_FONT)));
  EXPECT_EQ(Gdi(), live);
  LOGFONTA asked{};
  asked.lfHeight = -24;
  asked.lfItalic = 1;
  std::strcpy(asked.lfFaceName, "F03 1:1 NR 10 cpi");
  HFONT font = CreateFontIndirectA(&asked);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(GetObjectA(font, 0, nullptr), 60);
  LOGFONTA got{};
  EXPECT_EQ(GetObjectA(font, sizeof got, &got), 60);
  EXPECT_EQ(std::memcmp(&got, &asked, sizeof got), 0);  // as created
  LONG height = 0;
  EXPECT_EQ(GetObjectA(font, sizeof height, &height), 4);
  EXPECT_EQ(height, -24);
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_FALSE(DeleteObject(font));
  EXPECT_EQ(GetObjectA(font, sizeof got, &got), 0);
  EXPECT_EQ(Gdi(), live);
}

TEST_F(Graphics, PrinterContextsComeFromTheDeviceMode) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateDCA("DISPLAY", kTicket, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateDCA("WINSPOOL", "No Such Printer", nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));

  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_PAPERLENGTH | DM_PAPERWIDTH | DM_ORIENTATION;
  mode.dmPaperWidth = 826;    // 3.25 inches
  mode.dmPaperLength = 1524;  // 6 inches
  mode.dmOrientation = DMORIENT_PORTRAIT;
  HDC hdc = Context(&mode);
  ASSERT_NE(hdc, nullptr);
  const int dpi = GetDeviceCaps(hdc, LOGPIXELSX);
  EXPECT_GT(dpi, 0);
  EXPECT_EQ(GetDeviceCaps(hdc, HORZRES), 826 * dpi / 254);
  EXPECT_EQ(GetDeviceCaps(hdc, VERTRES), 1524 * GetDeviceCaps(hdc, LOGPIXELSY) / 254);
  DeleteDC(hdc);
  mode.dmOrientation = DMORIENT_LANDSCAPE;
  hdc = Context(&mode);
  EXPECT_EQ(GetDeviceCaps(hdc, HORZRES), 1524 * dpi / 254);
  EXPECT_EQ(GetDeviceCaps(hdc, 12345), 0);
  DeleteDC(hdc);
  EXPECT_EQ(GetDeviceCaps(hdc, HORZRES), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
}

TEST_F(Graphics, APagePrintsThroughTheSpoolerOrNotAtAll) {
  HDC hdc = Context();
  DOCINFOA doc = {sizeof doc, "Ticket 7", nullptr, nullptr, 0};
  ASSERT_GT(StartDocA(hdc, &doc), 0);
  EXPECT_EQ(StartDocA(hdc, &doc), SP_ERROR);  // one document at a time
  ASSERT_GT(StartPage(hdc), 0);
  SetTextColor(hdc, RGB(0, 0, 255));
  ASSERT_TRUE(TextOutA(hdc, 10, 20, "Hi", 2));
  ASSERT_GT(EndPage(hdc), 0);
  EXPECT_EQ(control().Received("USB001"), "") << "nothing prints before the document ends";
  ASSERT_GT(EndDoc(hdc), 0);
  const std::string printed = control().Received("USB001", true);
  EXPECT_EQ(printed.rfind("QXPAGE 1 ", 0), 0u) << printed;
  EXPECT_NE(printed.find("\nTEXT 10 20 ff0000 16 8 53797374656d 4869\nENDPAGE\n"), std::string::npos) << printed;

  // Aborted, or the context deleted with its document open: nothing prints.
  ASSERT_GT(StartDocA(hdc, &doc), 0);
  StartPage(hdc);
  TextOutA(hdc, 1, 1, "x", 1);
  EndPage(hdc);
  EXPECT_GT(AbortDoc(hdc), 0);
  ASSERT_GT(StartDocA(hdc, &doc), 0);
  StartPage(hdc);
  EndPage(hdc);
  DeleteDC(hdc);
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
}

}  // namespace
