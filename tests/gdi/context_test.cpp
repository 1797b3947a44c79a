// Printer device contexts from a page-setup record: qxGetHDC as the device
// mode stands, qxMakeDocDC set up for one ticket, against the default world.
#include <cmath>
#include <cstring>
#include <limits>

#include "core/resources.h"
#include "core/state.h"
#include "world_test_util.h"

namespace {

using qx::g_state;

class DocContexts : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    Attach();
    std::memset(&pageSetup_, 0, sizeof pageSetup_);
    ASSERT_EQ(qxGetDefaultPrinter(&pageSetup_), 0u);
    std::memset(&doc_, 0x5A, sizeof doc_);
    // A table of five of the ticket printer's own sheets: 3.25, 5.5, 6, 7
    // and 8 inches long.
    const struct { WORD code; LONG width, length; } sheets[] = {
        {262, 508, 826}, {257, 508, 1397}, {259, 826, 1524}, {263, 826, 1778}, {260, 826, 2032}};
    g_state.sheets.count = 5;
    for (int i = 0; i < 5; ++i) {
      qx::TicketSheet& s = g_state.sheets.sheets[i];
      s.paperCode = sheets[i].code;
      s.widthTenthsMm = sheets[i].width;
      s.lengthTenthsMm = sheets[i].length;
      s.widthInches = static_cast<float>(sheets[i].width / 254.0);
      s.lengthInches = static_cast<float>(sheets[i].length / 254.0);
    }
  }
  void TearDown() override {
    if (hdc_ != nullptr) DeleteDC(hdc_);
    GlobalFree(pageSetup_.hDevMode);
    GlobalFree(pageSetup_.hDevNames);
    qxtest::LibraryWorld::TearDown();
  }
  DEVMODEA Mode() {
    const qx::GlobalLockGuard locked(pageSetup_.hDevMode);
    return *locked.as<DEVMODEA>();
  }
  PAGESETUPDLGA pageSetup_;
  QX_TICKET_DOC doc_;
  HDC hdc_ = nullptr;
};

TEST_F(DocContexts, NothingAskedMakesAContextFromThePrinterAsItIs) {
  const DWORD fields = Mode().dmFields;
  // A landscape the host set without naming it in the mask is not applied.
  {
    const qx::GlobalLockGuard locked(pageSetup_.hDevMode);
    locked.as<DEVMODEA>()->dmOrientation = DMORIENT_LANDSCAPE;
  }
  ASSERT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 0.0f, FALSE, &doc_, &pageSetup_, &hdc_), QX_ERR_OK);
  ASSERT_NE(hdc_, nullptr);
  EXPECT_EQ(doc_.hdc, hdc_);
  EXPECT_EQ(doc_.pageWidth, GetDeviceCaps(hdc_, HORZRES));
  EXPECT_EQ(doc_.pageHeight, GetDeviceCaps(hdc_, VERTRES));
  EXPECT_LT(doc_.pageWidth, doc_.pageHeight) << "portrait, as the printer holds it";
  EXPECT_EQ(doc_.paperCode, 0x5A5A5A5Au);
  EXPECT_EQ(doc_.orientation, 0x5A5A5A5Au);
  EXPECT_EQ(doc_.reserved[0], 0x5A);
  EXPECT_EQ(doc_.docInfo.cbSize, 88);
  EXPECT_STREQ(doc_.docInfo.lpszDocName, "Quixaro Sample Ticket");
  EXPECT_EQ(doc_.docInfo.lpszOutput, nullptr);
  EXPECT_EQ(doc_.docInfo.lpszDatatype, nullptr);
  EXPECT_EQ(doc_.docInfo.fwType, 0u);
  EXPECT_EQ(Mode().dmFields, fields);
}

TEST_F(DocContexts, SheetsAreChosenByLengthWithinATenthOfAnInch) {
  ASSERT_EQ(qxMakeDocDC(QX_ORIENT_PORTRAIT, 3.30f, FALSE, &doc_, &pageSetup_, &hdc_), QX_ERR_OK);
  EXPECT_EQ(doc_.paperCode, 262u);
  EXPECT_EQ(doc_.orientation, static_cast<DWORD>(QX_ORIENT_PORTRAIT));
  EXPECT_EQ(Mode().dmPaperSize, 262);
  EXPECT_EQ(Mode().dmPaperLength, 826);
  const int dpi = GetDeviceCaps(hdc_, LOGPIXELSY);
  EXPECT_EQ(doc_.pageHeight, 826 * dpi / 254);

  // 3.36 is 0.11 from the first sheet: no match, the middle sheet of five.
  const int64_t live = qxplat_live_count(QXPLAT_KIND_GDI);
  ASSERT_EQ(qxMakeDocDC(QX_ORIENT_LANDSCAPE, 3.36f, TRUE, &doc_, &pageSetup_, &hdc_), QX_ERR_OK);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_GDI), live) << "the first context was deleted";
  EXPECT_EQ(doc_.paperCode, 259u);
  EXPECT_EQ(doc_.pageWidth, 1524 * GetDeviceCaps(hdc_, LOGPIXELSX) / 254) << "landscape 6 inches across";
  EXPECT_EQ(Mode().dmOrientation, DMORIENT_LANDSCAPE);

  // With no ticket sheets the paper stays as it is.
  g_state.sheets.count = 0;
  doc_.paperCode = 7;
  ASSERT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 4.0f, FALSE, &doc_, &pageSetup_, &hdc_), QX_ERR_OK);
  EXPECT_EQ(doc_.paperCode, 7u);
  EXPECT_EQ(Mode().dmPaperSize, 259);
}

TEST_F(DocContexts, BadInputChangesNothingButIsSaidSo) {
  const DEVMODEA before = Mode();
  EXPECT_EQ(qxMakeDocDC(3, 0.0f, FALSE, &doc_, &pageSetup_, &hdc_), QX_ERR_BAD_DATA);
  for (float length : {std::nanf(""), std::numeric_limits<float>::infinity(), -3.0f}) {
    EXPECT_EQ(qxMakeDocDC(QX_ORIENT_PORTRAIT, length, FALSE, &doc_, &pageSetup_, &hdc_), QX_ERR_BAD_DATA);
  }
  const DEVMODEA after = Mode();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(hdc_, nullptr);
  EXPECT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 0.0f, FALSE, nullptr, &pageSetup_, &hdc_), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 0.0f, FALSE, &doc_, nullptr, &hdc_), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 0.0f, FALSE, &doc_, &pageSetup_, nullptr), QX_ERR_NULL_ARG);
  PAGESETUPDLGA empty{};
  EXPECT_EQ(qxMakeDocDC(QX_ORIENT_KEEP, 0.0f, FALSE, &doc_, &empty, &hdc_), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxGetHDC(nullptr, &hdc_), QX_ERR_NULL_ARG);
  EXPECT_EQ(qxGetHDC(&empty, &hdc_), QX_ERR_NULL_ARG);
  EXPECT_EQ(hdc_, nullptr);
}

TEST_F(DocContexts, GetHdcUsesTheDeviceModeAsItStands) {
  ASSERT_EQ(qxGetHDC(&pageSetup_, &hdc_), QX_ERR_OK);
  ASSERT_NE(hdc_, nullptr);
  EXPECT_GT(GetDeviceCaps(hdc_, HORZRES), 0);
  // A printer the spooler no longer has: the Windows error, null stored.
  control().RemovePrinter(qxtest::kTicket);
  HDC other = reinterpret_cast<HDC>(1);
  EXPECT_EQ(qxGetHDC(&pageSetup_, &other), static_cast<QXRESULT>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(other, nullptr);
}

}  // namespace
