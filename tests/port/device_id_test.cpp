// The model name inside an IEEE 1284 device ID.
#include <gtest/gtest.h>

#include <string>

#include "port/port.h"

namespace {

// The model the ID carries, or "(none)" when it has neither key.
std::string ModelOf(const char* id, DWORD size = 1025) {
  std::string model(size, '#');
  if (!qx::ModelFromDeviceId(id, model.data(), size)) return "(none)";
  return model.c_str();
}

TEST(DeviceId, ModelKeys) {
  EXPECT_EQ(ModelOf("MFG:QX;MDL:ZDA-38;CMD:QXPL;"), "ZDA-38");
  EXPECT_EQ(ModelOf("MANUFACTURER:QX;MODEL:VNP-24;CLASS:PRINTER;"), "VNP-24");
  // "MDL:" wins wherever "MODEL:" stands.
  EXPECT_EQ(ModelOf("MODEL:Long Name;MFG:QX;MDL:ZDA-38;"), "ZDA-38");
  EXPECT_EQ(ModelOf("MFG:QX;MDL:ZDA-38;MODEL:Long Name;"), "ZDA-38");
  // A value without a closing ";" runs to the end; an empty one is a model.
  EXPECT_EQ(ModelOf("MFG:QX;MDL:ZDA-38"), "ZDA-38");
  EXPECT_EQ(ModelOf("MDL:;"), "");
  // Any key ending in the four characters counts; the match is case-sensitive.
  EXPECT_EQ(ModelOf("XMDL:odd;"), "odd");
  EXPECT_EQ(ModelOf("mdl:zda;model:x;"), "(none)");
  EXPECT_EQ(ModelOf("MFG:QX;CMD:QXPL;"), "(none)");
  EXPECT_EQ(ModelOf(""), "(none)");
  EXPECT_EQ(ModelOf(nullptr), "(none)");
}

// The model buffer is a capacity: a long value is cut to fit, terminated.
TEST(DeviceId, ModelIsCutToTheBuffer) {
  EXPECT_EQ(ModelOf("MDL:ZDA-38;", 4), "ZDA");
  EXPECT_EQ(ModelOf("MDL:ZDA-38;", 1), "");
  const std::string longId = "MDL:" + std::string(2000, 'x');
  EXPECT_EQ(ModelOf(longId.c_str()), std::string(1024, 'x'));
  char untouched[4] = "abc";
  EXPECT_FALSE(qx::ModelFromDeviceId("MDL:x;", untouched, 0));
  EXPECT_FALSE(qx::ModelFromDeviceId("CMD:x;", untouched, sizeof untouched));
  EXPECT_STREQ(untouched, "abc");  // written only when a model is found
}

}  // namespace
