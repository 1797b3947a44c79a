// Sheet size selection: the driver's sheet closest to a requested ticket size
// becomes the current printer's default paper.
#include <qxdll.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/discovery.h"
#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"
#include "spool/devmode.h"

namespace {

constexpr size_t kLine = 128;
constexpr double kTenthsMmPerInch = 254.0;
constexpr double kNoDifference = 9999.0;  // inches: larger than any real difference

struct Candidate {
  SHORT code;
  double width, widthDiff;
  double length, lengthDiff;
  LONG closestLength;
};

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
  qx::DebugLineFormat(kLine, "\nDLL qxSetSheet size, Width = %f, Length = %f \n", *width, *length);
  const qx::CurrentPrinterName printer;

  const int n = DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERNAMES, nullptr, nullptr);
  if (n <= 0) return QX_ERR_FAILED;
  qx::HeapBlock codes(SIZE_T{static_cast<DWORD>(n)} * sizeof(WORD));
  qx::HeapBlock points(SIZE_T{static_cast<DWORD>(n)} * sizeof(POINT));
  if (!codes || !points) return QX_ERR_NO_MEMORY;
  const int gotCodes = DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERS, codes.as<char>(), nullptr);
  const int gotSizes = DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERSIZE, points.as<char>(), nullptr);
  // Only sheets every list described, never more than were allocated.
  int count = gotSizes;
  if (gotCodes < count) count = gotCodes;
  if (n < count) count = n;
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
  const qx::CurrentPrinterName printer;
  if (printer.result != QX_ERR_OK) return printer.result;
  const int n = DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERNAMES, nullptr, nullptr);
  if (*count == QX_COUNT_QUERY) {
    *count = n;
    return QX_ERR_OK;
  }
  if (names == nullptr) return QX_ERR_NULL_ARG;
  if (DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERNAMES, names, nullptr) < 0 ||
      DeviceCapabilitiesA(printer.name, printer.port, DC_PAPERS, reinterpret_cast<LPSTR>(codes), nullptr) < 0) {
    return static_cast<QXRESULT>(GetLastError());
  }
  return QX_ERR_OK;
}

}  // extern "C"
