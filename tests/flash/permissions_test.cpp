// The firmware permission check: the model table's rules and the order in
// which they are applied, with the lines written under the verbose flag.
#include <gtest/gtest.h>
#include <qxplatform.h>

#include <cstring>
#include <string>
#include <vector>

#include "flash/permissions.h"

namespace {

using qxplat::debug_captured;

qx::PermissionRequest Request(const char* model, const char* version, const char* file) {
  qx::PermissionRequest r{};
  std::strncpy(r.model, model, sizeof r.model - 1);
  std::strncpy(r.version, version, sizeof r.version - 1);
  std::strncpy(r.fileName, file, sizeof r.fileName - 1);
  return r;
}

QXRESULT Check(const char* model, const char* version, const char* file) {
  const qx::PermissionRequest r = Request(model, version, file);
  return qx::CheckPermissions(&r, 0);
}

TEST(CheckPermissions, ModelRulesAndThresholds) {
  struct Case {
    const char* model;
    const char* version;
    const char* file;
    QXRESULT result;
  };
  const Case cases[] = {
      // Both thresholds equal: at or above the minimum is enough.
      {"VNP-38", "V1.00", "FWVNP1_100.BIN", QX_ERR_OK},
      {"VNP-38", "0.99", "FWVNP1_100.BIN", QX_ERR_NO_PERMISSION},
      {"ZDA-38", "1.2", "FWZDA1_130.ALL", QX_ERR_OK},  // "1.2" reads as 1.20
      // Between minimum and full-file threshold only a full file will do.
      {"VNQ-2003", "1.08", "FWVNQ_112.BIN", QX_ERR_NO_PERMISSION},
      {"VNQ-2003", "1.08", "FWVNQ_112.ALL", QX_ERR_NO_PERMISSION},
      {"VNQ-2003", "1.08", "FWVNQ_112.FUL", QX_ERR_OK},
      {"VNQ-2003", "1.12", "FWVNQ_112.BIN", QX_ERR_OK},
      {"VNQ-2003", "1.06", "FWVNQ_112.FUL", QX_ERR_OK},
      {"VNQ-2004", "1.05", "FWVNQ_112.FUL", QX_ERR_NO_PERMISSION},
      // Either prefix of a row, in both orders of the G and plain models.
      {"VNQ-2003", "1.20", "FWZDG_105.ALL", QX_ERR_OK},
      {"VNQ-2003G", "1.05", "FWZDG_105.ALL", QX_ERR_OK},
      {"VNQ-2003G", "1.03", "FWVNQ_105.BIN", QX_ERR_NO_PERMISSION},
      {"VNQ-2003G", "1.03", "FWVNQ_105.FUL", QX_ERR_OK},
      {"VNP-23", "1.03", "FWVNP1_100.BIN", QX_ERR_NO_PERMISSION},  // wrong prefix
      {"VNP-24", "1.02", "FWVNP4_103.BIN", QX_ERR_NO_PERMISSION},
      // Letters and other characters in the version are dropped.
      {"VNP-24", "Rev 1.03a", "FWVNP4_103.BIN", QX_ERR_OK},
      {"VNP-24", "none", "FWVNP4_103.FUL", QX_ERR_NO_PERMISSION},  // reads as 0
      // The model must match whole and case included.
      {"VNQ-20", "1.20", "FWVNQ_112.BIN", QX_ERR_UNKNOWN_MODEL},
      {"vnq-2003", "1.20", "FWVNQ_112.BIN", QX_ERR_UNKNOWN_MODEL},
      // Kind first, then the abort rule, then the model.
      {"VNQ-9999", "0", "FWABORT.BIN", QX_ERR_OK},
      {"VNQ-9999", "0", "FWABORT.TXT", QX_ERR_BAD_EXTENSION},
      {"ZDA-38", "0", "FWABORT.BIN", QX_ERR_NO_PERMISSION},  // not a VN model
      {"VNP-38", "1.00", "FWVNP1_100.bin", QX_ERR_BAD_EXTENSION},
      {"VNP-38", "1.00", "BIN", QX_ERR_BAD_EXTENSION},
      {"VNP-38", "1.00", ".BIN", QX_ERR_NO_PERMISSION},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Check(c.model, c.version, c.file), c.result) << c.model << " " << c.version << " " << c.file;
  }
}

class CheckPermissionsLines : public ::testing::Test {
 protected:
  void SetUp() override { qxplat_debug_capture_start(); }
  void TearDown() override { qxplat_debug_capture_stop(); }
};

TEST_F(CheckPermissionsLines, VerboseRunNamesEachStep) {
  const qx::PermissionRequest r = Request("VNP-23", "V1.03", "FWVNP4_103.FUL");
  ASSERT_EQ(qx::CheckPermissions(&r, 1), QX_ERR_OK);
  EXPECT_EQ(debug_captured(), (std::vector<std::string>{
                                  "Found file extension .FUL\r\n",
                                  "CheckPermissions - Version (unstripped) = V1.03\r\n",
                                  "Model tested = ZDA-38\r\n",
                                  "Model tested = VNP-38\r\n",
                                  "Model tested = VNP-23\r\n",
                                  "Found model VNP-23\r\n",
                                  "Version number = 1.030000\r\n",
                              }));
}

TEST_F(CheckPermissionsLines, UnknownModelTestsEveryRowAndQuietRunsWriteNothing) {
  qx::PermissionRequest r = Request("XYZ-1", "1.00", "FWXYZ.BIN");
  ASSERT_EQ(qx::CheckPermissions(&r, 1), QX_ERR_UNKNOWN_MODEL);
  const auto lines = debug_captured();
  ASSERT_EQ(lines.size(), 2u + 16u + 1u);
  EXPECT_EQ(lines[17], "Model tested = VNQ-3004G\r\n");
  EXPECT_EQ(lines.back(), "Did not find model\r\n");

  qxplat_debug_capture_clear();
  EXPECT_EQ(qx::CheckPermissions(&r, 0), QX_ERR_UNKNOWN_MODEL);
  r = Request("VNP-38", "1.00", "ABC");  // too short for a kind: no line at all
  EXPECT_EQ(qx::CheckPermissions(&r, 1), QX_ERR_BAD_EXTENSION);
  EXPECT_TRUE(debug_captured().empty());
}

TEST(CheckPermissions, FieldsWithoutTerminatorAreReadToTheirSize) {
  qx::PermissionRequest r{};
  std::memset(r.model, 'M', sizeof r.model);
  std::memset(r.version, '9', sizeof r.version);
  std::memset(r.fileName, 'F', sizeof r.fileName);
  std::memcpy(r.fileName + sizeof r.fileName - 4, ".BIN", 4);  // the zero would stand here
  EXPECT_EQ(qx::CheckPermissions(&r, 1), QX_ERR_BAD_EXTENSION);
  std::memcpy(r.fileName + sizeof r.fileName - 5, ".BIN", 4);
  EXPECT_EQ(qx::CheckPermissions(&r, 1), QX_ERR_UNKNOWN_MODEL);
  EXPECT_EQ(qx::CheckPermissions(nullptr, 1), QX_ERR_NULL_ARG);
}

TEST(VersionStrip, KeepsDigitsAndPointsInOrder) {
  char text[] = "V1.2-3b.4";
  qx::StripVersion(text);
  EXPECT_STREQ(text, "1.23.4");
  char none[] = "abc";
  qx::StripVersion(none);
  EXPECT_STREQ(none, "");
}

}  // namespace
