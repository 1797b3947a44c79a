// The firmware file permission check: whether a firmware file suits the
// attached printer, decided from the printer's model, its current firmware
// version and the file's name alone (no file contents are read).
#pragma once

#include <windows.h>

#include <qxdll.h>

namespace qx {

// Each field holds at most 31 characters and a zero.
constexpr size_t kPermissionFieldSize = 32;

struct PermissionRequest {
  char model[kPermissionFieldSize];     // from the printer's device ID, e.g. "VNP-38"
  char version[kPermissionFieldSize];   // the printer's firmware version text, e.g. "V1.00"
  char fileName[kPermissionFieldSize];  // the file's base name, in capitals
};

// CheckPermissions - QX_ERR_OK when the file may be written to the printer;
// QX_ERR_BAD_EXTENSION (not .BIN, .FUL or .ALL), QX_ERR_UNKNOWN_MODEL, or
// QX_ERR_NO_PERMISSION (prefix or version rules it out). The tests run in that
// order, after the abort-file rule. Every line is a flagged debug line.
QXRESULT CheckPermissions(const PermissionRequest* request, int verbose);

// FileKind - "BIN", "FUL" or "ALL" from the name's last four characters
// (capitals only) into kind; 1 when found, 0 otherwise ("BAD" stays in kind
// when it has room for it).
int FileKind(const char* fileName, char* kind, size_t kindSize, int verbose);

// StripVersion - keeps only the digits and points of text, in their order.
void StripVersion(char* text);

}  // namespace qx
