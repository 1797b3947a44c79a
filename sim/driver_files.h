// driver_files.h - qxsimd, daemon side: the drivers' files of a world,
// written as real files into the runtime folder's drive folders
// (qxwire::kDrivesFolder), where the platform layer opens them by their
// Windows paths.
//
// Each printer's driver file and dependent files become small DLL images
// (pe_image.h): with a "version", one whose version resource holds it;
// without, one with no resources. Their last-write (and access) time is the
// file's "date", taken as UTC (a date alone is midnight), or the time of
// writing when it has none. A path listed more than once, in any case, is
// written once, as listed first; a path that is not a drive path ("X:\...")
// is not written.
//
// Folders are made (mode 0700) and files written without following links:
// every folder is opened with O_NOFOLLOW, and a file is made anew under a
// temporary name (O_EXCL | O_NOFOLLOW) and renamed into place, replacing
// whatever was there, never writing through it. Names are matched without
// regard to case, so "c:\windows" reaches the folder "C:\Windows" made.
#pragma once

#include <string>
#include <vector>

#include "state.h"
#include "world.h"

namespace qxsim {

// WriteDriverFiles - every driver file of world into dir. Returns one
// message for each file that could not be written (its path and why).
// One writer at a time (they share the temporary name).
std::vector<std::string> WriteDriverFiles(const std::string& dir, const World& world);

// RefreshDriverFiles - WriteDriverFiles for the world as it stands now (at
// the start, and after a control request added printers or reset the
// world); what cannot be written is said on standard error.
void RefreshDriverFiles(SharedWorld& w);

}  // namespace qxsim
