// Sheet size selection: the driver's sheet closest to a requested ticket size
// becomes the current printer's default paper.
#include <qxdll.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/capabilities.h"
#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "spool/devmode.h"

namespace {

constexpr size_t kLine = 128;
constexpr double kTenthsMmPerInch = 254.0;
constexpr double kNoDifference = 9999.0;  // inches: larger than any real difference
constexpr DWORD kSheetNameSize = 64;      // a DC_PAPERNAMES entry; a full one has no terminator

struct Candidate {
  SHORT code;
  double width, widthDiff;
  double length, lengthDiff;
  LONG closestLength;
};

// A size the sheets can be matched against: a number of inches above 0 and
// below kNoDifference. NaN compares false with every difference, so it would
// choose the first sheet; an infinity, a negative size or one whose every
// difference reaches kNoDifference would choose a sheet just as blindly.
bool IsSize(float inches) { return inches > 0.0f && inches < kNoDifference; }

// Rounds as the "%2.2f" formatter rounds, by formatting and reading back.
double TwoDecimals(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%2.2f", value);
  return std::strtod(text, nullptr);
}

}  // namespace

extern "C" {

QXRESULT QXAPI qxSetSheetSize(float* width, float* length) {
  if (width == nullptr || length == nullptr) return QX_ERR_NULL_ARG;
  // Refused before anything is logged or asked: the printer and the
  // caller's values stay as they were.
  if (!IsSize(*width) || !IsSize(*length)) return QX_ERR_BAD_DATA;
  qx::DebugLineFormat(kLine, "\nDLL qxSetSheet size, Width = %f, Length = %f \n", *width, *length);
  const qx::CurrentPrinterName printer;

  qx::CapabilityList codes, points;
  QXRESULT fetched = codes.Fetch(printer.name, printer.port, DC_PAPERS, sizeof(WORD));
  if (fetched == QX_ERR_OK) fetched = points.Fetch(printer.name, printer.port, DC_PAPERSIZE, sizeof(POINT));
  if (fetched != QX_ERR_OK) return fetched;
  // Only sheets both lists described.
  const int count = static_cast<int>(codes.count() < points.count() ? codes.count() : points.count());
  if (count <= 0) return QX_ERR_FAILED;

  const double wantWidth = *width;
  const double wantLength = *length;
  std::vector<Candidate> candidates(static_cast<size_t>(count));
  double closest = kNoDifference;
  for (int i = 0; i < count; ++i) {
    Candidate& c = candidates[i];
    c.code = static_cast<SHORT>(codes.as<WORD>()[i]);
    c.width = TwoDecimals(points.as<POINT>()[i].x / kTenthsMmPerInch);
    c.length = TwoDecimals(points.as<POINT>()[i].y / kTenthsMmPerInch);
    c.widthDiff = std::fabs(c.width - wantWidth);
    c.lengthDiff = std::fabs(c.length - wantLength);
    if (c.lengthDiff < closest) closest = c.lengthDiff;
  }
  // Length decides first, then width, then the driver's order.
  int chosen = 0;
  double bestWidth = kNoDifference;
  for (int i = 0; i < count; ++i) {
    Candidate& c = candidates[i];
    c.closestLength = c.lengthDiff == closest ? 1 : 0;
    if (c.closestLength && c.widthDiff < bestWidth) {
      bestWidth = c.widthDiff;
      chosen = i;
    }
  }
  const Candidate& best = candidates[chosen];

  qx::DebugLineFormat(kLine, "\nDLL Sheets found= %d\n", count);
  qx::DebugLineFormat(kLine, "\nDLL Best Size (ID) = %d\n", best.code);
  for (const Candidate& c : candidates) {
    qx::DebugLineFormat(kLine,
                        "\nDLL Sheets ID = %d, Width =  %2.2f, diff = %2.2f, Length =  %2.2f, diff = %2.2f , min = %d,",
                        c.code, c.width, c.widthDiff, c.length, c.lengthDiff, static_cast<int>(c.closestLength));
  }

  QXRESULT result = qx::SetCurrentPrinterCharacteristics(best.code, qx::kActionPaperSize);
  const float chosenWidth = static_cast<float>(best.width);
  const float chosenLength = static_cast<float>(best.length);
  if (result == QX_ERR_OK) {
    if (chosenWidth != *width) {
      qx::DebugLine("\nDLL - End width does not match input");
      result = QX_ERR_SIZE_MISMATCH;
    }
    if (chosenLength != *length) {
      qx::DebugLine("\nDLL - End length does not match input");
      result = QX_ERR_SIZE_MISMATCH;
    }
  }
  // The host always learns what the driver offered.
  *width = chosenWidth;
  *length = chosenLength;
  return result;
}

QXRESULT QXAPI qxEnumSheetSizes(LPSTR names, WORD* codes, LONG* count) {
  if (count == nullptr) return QX_ERR_NULL_ARG;
  if (*count < QX_COUNT_QUERY) return QX_ERR_BAD_ARG;
  const qx::CurrentPrinterName printer;
  if (printer.result != QX_ERR_OK) return printer.result;
  if (*count == QX_COUNT_QUERY) {
    *count = DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERNAMES, nullptr, nullptr);
    return QX_ERR_OK;
  }
  if (names == nullptr) return QX_ERR_NULL_ARG;
  qx::CapabilityList sheetNames, sheetCodes;
  QXRESULT result = sheetNames.Fetch(printer.name, printer.port, DC_PAPERNAMES, kSheetNameSize);
  if (result == QX_ERR_OK) result = sheetCodes.Fetch(printer.name, printer.port, DC_PAPERS, sizeof(WORD));
  if (result == QX_ERR_FAILED) return qx::LastDriverError();
  if (result != QX_ERR_OK) return result;
  return qx::CopyListsOut(sheetNames, kSheetNameSize, sheetCodes, names, codes, count);
}

}  // extern "C"
