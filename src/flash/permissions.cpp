// The firmware file permission check and its model table.
#include "flash/permissions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "core/text.h"

namespace qx {
namespace {

// One model's rules: the file prefixes it accepts, the lowest firmware
// version that may be reprogrammed at all, and the version from which a
// partial (.BIN, .ALL) file is enough; below it only a full (.FUL) file is.
struct ModelRule {
  char model[kPermissionFieldSize];
  char prefixA[kPermissionFieldSize];
  char prefixB[kPermissionFieldSize];
  char minimumVersion[kPermissionFieldSize];
  char fullFileThreshold[kPermissionFieldSize];
};

constexpr ModelRule kModelTable[] = {
    {"ZDA-38", "FWZDA1", "FWZDA1", "1.20", "1.20"},
    {"VNP-38", "FWVNP1", "FWVNP1", "1.00", "1.00"},
    {"VNP-23", "FWVNP4", "FWVNP4", "1.02", "1.03"},
    {"VNP-24", "FWVNP4", "FWVNP4", "1.02", "1.03"},
    {"VNQ-2002", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-2003", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-2004", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-3002", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-3003", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-3004", "FWVNQ", "FWZDG", "1.06", "1.12"},
    {"VNQ-2002G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"VNQ-2003G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"VNQ-2004G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"VNQ-3002G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"VNQ-3003G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"VNQ-3004G", "FWZDG", "FWVNQ", "1.01", "1.05"},
    {"END", "", "", "", ""},
};

bool IsEnd(const ModelRule& row) { return std::strcmp(row.model, "END") == 0; }

// A field of the request as a text of at most 31 characters, whether or not
// the caller terminated it.
struct Field {
  explicit Field(const char (&source)[kPermissionFieldSize]) {
    std::memcpy(text, source, kPermissionFieldSize - 1);
    text[kPermissionFieldSize - 1] = '\0';
  }
  char text[kPermissionFieldSize];
};


}  // namespace

int FileKind(const char* fileName, char* kind, size_t kindSize, int verbose) {
  static constexpr struct {
    const char* extension;
    const char* kind;
    const char* line;
  } kKinds[] = {
      {".BIN", "BIN", "Found file extension .BIN\r\n"},
      {".FUL", "FUL", "Found file extension .FUL\r\n"},
      {".ALL", "ALL", "Found file extension .ALL\r\n"},
  };
  const size_t length = fileName == nullptr ? 0 : std::strlen(fileName);
  if (length < 4 || kind == nullptr || kindSize < 4) return 0;
  std::strcpy(kind, "BAD");
  const char* last4 = fileName + length - 4;
  for (const auto& k : kKinds) {
    if (std::memcmp(last4, k.extension, 4) == 0) {
      std::strcpy(kind, k.kind);
      DebugLineFlagged(k.line, verbose);
      return 1;
    }
  }
  DebugLineFlagged("VALID FILE EXTENSION NOT FOUND\r\n", verbose);
  return 0;
}

void StripVersion(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if ((*in >= '0' && *in <= '9') || *in == '.') *out++ = *in;
  }
  *out = '\0';
}

QXRESULT CheckPermissions(const PermissionRequest* request, int verbose) {
  if (request == nullptr) return QX_ERR_NULL_ARG;
  const Field model(request->model);
  const Field fileName(request->fileName);

  char kind[4];
  if (!FileKind(fileName.text, kind, sizeof kind, verbose)) return QX_ERR_BAD_EXTENSION;

  if (Contains(model.text, "VN") && Contains(fileName.text, "ABORT")) {
    DebugLineFlagged("Abort file for VN platform found\r\n", verbose);
    return QX_ERR_OK;
  }

  char version[128];
  CopyText(version, sizeof version, Field(request->version).text);
  DebugLineFlaggedFormat(verbose, 1024, "CheckPermissions - Version (unstripped) = %s\r\n", version);
  StripVersion(version);

  const ModelRule* row = kModelTable;
  for (;; ++row) {
    if (IsEnd(*row)) {
      DebugLineFlagged("Did not find model\r\n", verbose);
      return QX_ERR_UNKNOWN_MODEL;
    }
    DebugLineFlaggedFormat(verbose, 1024, "Model tested = %s\r\n", row->model);
    if (std::strcmp(model.text, row->model) == 0) break;
  }
  const double v = std::atof(version);
  DebugLineFlaggedFormat(verbose, 1024, "Found model %s\r\n", row->model);
  DebugLineFlaggedFormat(verbose, 1024, "Version number = %lf\r\n", v);

  if (!Contains(fileName.text, row->prefixA) && !Contains(fileName.text, row->prefixB)) {
    DebugLineFlagged("FILE prefix error\r\n", verbose);
    return QX_ERR_NO_PERMISSION;
  }
  const double minimum = std::atof(row->minimumVersion);
  const double full = std::atof(row->fullFileThreshold);
  if (v < minimum) return QX_ERR_NO_PERMISSION;
  if (minimum == full || v >= full) return QX_ERR_OK;
  return std::strcmp(kind, "FUL") == 0 ? QX_ERR_OK : QX_ERR_NO_PERMISSION;
}

}  // namespace qx
