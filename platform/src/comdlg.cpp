// comdlg.cpp - POSIX implementation of the Win32 common dialogs the library
// uses: PageSetupDlgA (its PSD_RETURNDEFAULT form, which shows no dialog) and
// CommDlgExtendedError. There is no user to show a dialog to: any other
// call ends as if the user had cancelled it.
#include <windows.h>
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include <qxwire/devmode.h>
#include <qxwire/ops.h>

#include "accounting.h"
#include "simlink.h"

namespace qxplat {
namespace {

using nlohmann::json;

// The error of the calling thread's last common-dialog call; 0 after success
// or a cancel.
thread_local DWORD t_extended_error = 0;

BOOL Fail(DWORD code) {
  t_extended_error = code;
  return FALSE;
}

std::string TextOf(const json& reply, const char* key) {
  auto it = reply.find(key);
  return it != reply.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The paper size of a device mode in tenths of a millimetre: its explicit
// length and width when it has them, else the size of the sheet its paper
// code names; landscape swaps the two.
POINT PaperSize(const DEVMODEA& dm, const json& sheets) {
  POINT size{0, 0};
  if ((dm.dmFields & DM_PAPERLENGTH) && (dm.dmFields & DM_PAPERWIDTH) && dm.dmPaperLength > 0 &&
      dm.dmPaperWidth > 0) {
    size = {dm.dmPaperWidth, dm.dmPaperLength};
  } else if (sheets.is_array()) {
    for (const json& s : sheets) {
      if (s.is_array() && s.size() == 4 && s[1].is_number_integer() && s[1].get<int>() == dm.dmPaperSize &&
          s[2].is_number_integer() && s[3].is_number_integer()) {
        size = {s[2].get<LONG>(), s[3].get<LONG>()};
        break;
      }
    }
  }
  if ((dm.dmFields & DM_ORIENTATION) && dm.dmOrientation == DMORIENT_LANDSCAPE) std::swap(size.x, size.y);
  return size;
}

// Tenths of a millimetre into the record's unit: hundredths of a millimetre
// when asked for, else thousandths of an inch (the unit of the United States
// locale the layer simulates).
LONG InUnit(LONG tenths_mm, DWORD flags) {
  if (flags & PSD_INHUNDREDTHSOFMILLIMETERS) return tenths_mm * 10;
  return static_cast<LONG>((static_cast<int64_t>(tenths_mm) * 1000 + 127) / 254);
}

// Movable - a GMEM_MOVEABLE block holding bytes; null when allocation fails.
HGLOBAL Movable(const void* data, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == nullptr) return nullptr;
  void* p = GlobalLock(block);
  if (p == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, data, size);
  GlobalUnlock(block);
  return block;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// PageSetupDlgA - with PSD_RETURNDEFAULT, fill the record for the system
// default printer without showing a dialog:
//   hDevMode (out): a GMEM_MOVEABLE block with the printer's DEVMODEA and its
//     driver's extra bytes;
//   hDevNames (out): a GMEM_MOVEABLE block with a DEVNAMES whose driver text
//     is "winspool" (as on Windows), device text the printer name and output
//     text its port, wDefault DN_DEFAULTPRN;
//   ptPaperSize (out): the default paper in thousandths of an inch, or in
//     hundredths of a millimetre with PSD_INHUNDREDTHSOFMILLIMETERS.
// The caller frees both blocks with GlobalFree.
// FALSE, with CommDlgExtendedError: CDERR_INITIALIZATION (null record),
// CDERR_STRUCTSIZE (lStructSize not 128), PDERR_RETDEFFAILURE (a handle was
// already set), PDERR_NODEFAULTPRN (no default printer, or no spooler),
// PDERR_PRINTERNOTFOUND (the default printer cannot be opened),
// CDERR_MEMALLOCFAILURE. Without PSD_RETURNDEFAULT: FALSE with 0, a cancel.
BOOL WINAPI PageSetupDlgA(LPPAGESETUPDLGA lppsd) {
  // An injected failure is one the common dialog reports as its own.
  if (qxplat::FaultPoint({}, "PageSetupDlgA", ERROR_SUCCESS)) return Fail(PDERR_NODEFAULTPRN);
  if (lppsd == nullptr) return Fail(CDERR_INITIALIZATION);
  if (lppsd->lStructSize != sizeof(PAGESETUPDLGA)) return Fail(CDERR_STRUCTSIZE);
  if ((lppsd->Flags & PSD_RETURNDEFAULT) == 0) return Fail(0);
  if (lppsd->hDevMode != nullptr || lppsd->hDevNames != nullptr) return Fail(PDERR_RETDEFFAILURE);

  json reply;
  const DWORD error = SimRequest(SimDir(), {{"op", qxwire::spool::kDefaultDevnames}}, reply);
  if (error == ERROR_FILE_NOT_FOUND || error == RPC_S_SERVER_UNAVAILABLE) return Fail(PDERR_NODEFAULTPRN);
  if (error != 0) return Fail(PDERR_PRINTERNOTFOUND);

  std::vector<uint8_t> devmode;
  if (qxwire::DecodeDevmode(TextOf(reply, "devmode"), sizeof(DEVMODEA), devmode) != qxwire::DevmodeCheck::kOk) {
    return Fail(PDERR_GETDEVMODEFAIL);
  }
  DEVMODEA dm{};
  std::memcpy(&dm, devmode.data(), sizeof dm);

  const std::string driver = "winspool";
  const std::string device = TextOf(reply, "name");
  const std::string output = TextOf(reply, "port");
  std::vector<uint8_t> names(sizeof(DEVNAMES));
  DEVNAMES head{};
  head.wDriverOffset = static_cast<WORD>(names.size());
  names.insert(names.end(), driver.begin(), driver.end());
  names.push_back(0);
  head.wDeviceOffset = static_cast<WORD>(names.size());
  names.insert(names.end(), device.begin(), device.end());
  names.push_back(0);
  head.wOutputOffset = static_cast<WORD>(names.size());
  names.insert(names.end(), output.begin(), output.end());
  names.push_back(0);
  head.wDefault = DN_DEFAULTPRN;
  if (names.size() > 0xFFFF) return Fail(PDERR_INITFAILURE);
  std::memcpy(names.data(), &head, sizeof head);

  HGLOBAL dev_mode = Movable(devmode.data(), devmode.size());
  if (dev_mode == nullptr) return Fail(CDERR_MEMALLOCFAILURE);
  HGLOBAL dev_names = Movable(names.data(), names.size());
  if (dev_names == nullptr) {
    GlobalFree(dev_mode);
    return Fail(CDERR_MEMALLOCFAILURE);
  }
  const POINT paper = PaperSize(dm, reply.contains("sheets") ? reply["sheets"] : json());
  lppsd->hDevMode = dev_mode;
  lppsd->hDevNames = dev_names;
  lppsd->ptPaperSize = {InUnit(paper.x, lppsd->Flags), InUnit(paper.y, lppsd->Flags)};
  t_extended_error = 0;
  return TRUE;
}

// CommDlgExtendedError - the error of this thread's last common-dialog call.
DWORD WINAPI CommDlgExtendedError(void) { return t_extended_error; }

}  // extern "C"
