// Printer device contexts from a page-setup record's device mode: as it
// stands (qxGetHDC), or set up for one ticket with a ready document
// description (qxMakeDocDC).
#include <qxdll.h>

#include <cmath>
#include <cstring>

#include "core/capabilities.h"
#include "core/resources.h"
#include "core/state.h"

using qx::g_state;

namespace {

constexpr char kTicketDocName[] = "Quixaro Sample Ticket";
constexpr double kSheetTolerance = 0.1;  // inches

// A printer context for a device mode: the device is its dmDeviceName (at
// most 31 characters), the mode itself the initialisation data.
HDC ContextFor(const DEVMODEA& mode) {
  char device[CCHDEVICENAME + 1];
  std::memcpy(device, mode.dmDeviceName, CCHDEVICENAME);
  device[CCHDEVICENAME] = '\0';
  return CreateDCA("WINSPOOL", device, nullptr, &mode);
}

// The sheet of the ticket sheet table for a length: the first within 0.1
// inch, else the middle one; null when the table is empty.
const qx::TicketSheet* SheetFor(float length) {
  const qx::TicketSheetTable& table = g_state.sheets;
  const WORD count = table.count <= qx::kMaxTicketSheets ? table.count : qx::kMaxTicketSheets;
  if (count == 0) return nullptr;
  for (WORD i = 0; i < count; ++i) {
    if (std::fabs(static_cast<double>(table.sheets[i].lengthInches) - length) <= kSheetTolerance) {
      return &table.sheets[i];
    }
  }
  return &table.sheets[count / 2];
}

// Puts a device mode's field mask back when it goes.
class FieldMaskRestore {
 public:
  explicit FieldMaskRestore(DEVMODEA& mode) : mode_(mode), saved_(mode.dmFields) {}
  ~FieldMaskRestore() { mode_.dmFields = saved_; }
  FieldMaskRestore(const FieldMaskRestore&) = delete;
  FieldMaskRestore& operator=(const FieldMaskRestore&) = delete;

 private:
  DEVMODEA& mode_;
  DWORD saved_;
};

}  // namespace

extern "C" {

QXRESULT QXAPI qxGetHDC(LPPAGESETUPDLGA pageSetup, HDC* hdc) {
  if (pageSetup == nullptr || hdc == nullptr) return QX_ERR_NULL_ARG;
  *hdc = nullptr;
  const qx::GlobalLockGuard locked(pageSetup->hDevMode);
  if (!locked || locked.size() < sizeof(DEVMODEA)) return QX_ERR_NULL_ARG;
  *hdc = ContextFor(*locked.as<DEVMODEA>());
  return *hdc != nullptr ? QX_ERR_OK : qx::LastDriverError();
}

QXRESULT QXAPI qxMakeDocDC(DWORD orientation, float length, BOOL useBin, QX_TICKET_DOC* doc,
                           LPPAGESETUPDLGA pageSetup, HDC* hdc) {
  if (doc == nullptr || pageSetup == nullptr || hdc == nullptr) return QX_ERR_NULL_ARG;
  // A length that is no number of inches would choose a sheet blindly.
  if (!std::isfinite(length) || length < 0) return QX_ERR_BAD_DATA;
  const qx::LocalLockGuard locked(pageSetup->hDevMode);
  if (!locked || locked.size() < sizeof(DEVMODEA)) return QX_ERR_NULL_ARG;
  DEVMODEA& mode = *locked.as<DEVMODEA>();
  {
    // Only the fields changed here are applied; the mask is put back after.
    const FieldMaskRestore restore(mode);
    mode.dmFields = 0;
    if (orientation == QX_ORIENT_PORTRAIT || orientation == QX_ORIENT_LANDSCAPE) {
      mode.dmOrientation = static_cast<SHORT>(orientation);
      mode.dmFields = DM_ORIENTATION;
      doc->orientation = orientation;
    } else if (orientation != QX_ORIENT_KEEP) {
      return QX_ERR_BAD_DATA;
    }
    // With no ticket sheets the paper stays as it is.
    if (length != 0.0f) {
      if (const qx::TicketSheet* sheet = SheetFor(length)) {
        mode.dmPaperWidth = static_cast<SHORT>(sheet->widthTenthsMm);
        mode.dmPaperLength = static_cast<SHORT>(sheet->lengthTenthsMm);
        mode.dmPaperSize = static_cast<SHORT>(sheet->paperCode);
        mode.dmFields |= DM_PAPERSIZE;
        doc->paperCode = sheet->paperCode;
      }
    }
    if (useBin) mode.dmFields |= DM_DEFAULTSOURCE;

    if (*hdc != nullptr) DeleteDC(*hdc);
    *hdc = ContextFor(mode);
    if (*hdc == nullptr) return qx::LastDriverError();
  }
  doc->hdc = *hdc;
  doc->pageHeight = GetDeviceCaps(*hdc, VERTRES);
  doc->pageWidth = GetDeviceCaps(*hdc, HORZRES);
  doc->docInfo.cbSize = sizeof(QX_TICKET_DOC);
  doc->docInfo.lpszDocName = kTicketDocName;
  doc->docInfo.lpszOutput = nullptr;
  doc->docInfo.lpszDatatype = nullptr;
  doc->docInfo.fwType = 0;
  return QX_ERR_OK;
}

}  // extern "C"
