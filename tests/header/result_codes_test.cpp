// The result codes: their values, and qxResultName naming exactly them, in C
// and in C++.
#include <qxdll.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "c_probe.h"

namespace {

struct Code {
  unsigned macro;     // the header's value
  const char* name;   // the macro's own name
  unsigned expected;  // the documented value
};

#define QX_CODE(name, value) Code{name, #name, value},

const Code kCodes[] = {
    QX_CODE(QX_ERR_OK, 0x0000)
    QX_CODE(QX_ERR_NO_PRINTER, 0xC001)
    QX_CODE(QX_ERR_PORT_OPEN, 0xC002)
    QX_CODE(QX_ERR_FAILED, 0xC003)
    QX_CODE(QX_ERR_GETPRINTER, 0xC004)
    QX_CODE(QX_ERR_BAD_DATA, 0xC006)
    QX_CODE(QX_ERR_BAD_LENGTH, 0xC007)
    QX_CODE(QX_ERR_BAD_BUFFER, 0xC008)
    QX_CODE(QX_ERR_BAD_ARG, 0xC009)
    QX_CODE(QX_ERR_KEY_WRITE, 0xC00A)
    QX_CODE(QX_ERR_DEVICE, 0xC00B)
    QX_CODE(QX_ERR_PRINTER_INFO, 0xC00C)
    QX_CODE(QX_ERR_SETPRINTER, 0xC00D)
    QX_CODE(QX_ERR_NULL_ARG, 0xC00E)
    QX_CODE(QX_ERR_BAD_STATUS, 0xC011)
    QX_CODE(QX_ERR_BUFFER_SMALL, 0xC013)
    QX_CODE(QX_ERR_NO_MEMORY, 0xC014)
    QX_CODE(QX_ERR_BAD_REPLY, 0xC015)
    QX_CODE(QX_ERR_JOBS_PENDING, 0xC016)
    QX_CODE(QX_ERR_SIZE_MISMATCH, 0xC017)
    QX_CODE(QX_ERR_BIN_NOT_FOUND, 0xC018)
    QX_CODE(QX_ERR_PIPE_BUSY, 0xC019)
    QX_CODE(QX_ERR_NO_PIPE, 0xC01A)
    QX_CODE(QX_ERR_PIPE_TIMEOUT, 0xC01B)
    QX_CODE(QX_ERR_NO_RESPONSE, 0xC01C)
    QX_CODE(QX_ERR_LM_TIMEOUT, 0xC01D)
    QX_CODE(QX_ERR_NOT_READY, 0xC01F)
    QX_CODE(QX_ERR_FILE_NOT_FOUND, 0xC020)
    QX_CODE(QX_ERR_BAD_EXTENSION, 0xC021)
    QX_CODE(QX_ERR_NO_PERMISSION, 0xC024)
    QX_CODE(QX_ERR_NO_FLASH_MODE, 0xC025)
    QX_CODE(QX_ERR_FLASH_FAILED, 0xC027)
    QX_CODE(QX_ERR_UNKNOWN_MODEL, 0xC028)
    QX_CODE(QX_ERR_UNKNOWN_KEY, 0xC029)
};

constexpr size_t kCodeCount = 34;

const Code* FindCode(unsigned value) {
  for (const Code& c : kCodes) {
    if (c.expected == value) return &c;
  }
  return nullptr;
}

TEST(ResultCodes, ValuesAreTheDocumentedOnes) {
  ASSERT_EQ(sizeof kCodes / sizeof kCodes[0], kCodeCount);
  for (const Code& c : kCodes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.macro, c.expected);
  }
}

TEST(ResultCodes, EveryCodeFitsTheResultTypeUnchanged) {
  std::set<unsigned> seen;
  for (const Code& c : kCodes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(static_cast<unsigned>(static_cast<QXRESULT>(c.macro)), c.macro);
    EXPECT_TRUE(seen.insert(c.macro).second) << "value used twice";
  }
}

TEST(ResultName, NamesEveryCodeInCAndCxx) {
  for (const Code& c : kCodes) {
    SCOPED_TRACE(c.name);
    const char* cxx = qxResultName(c.macro);
    ASSERT_NE(cxx, nullptr);
    EXPECT_STREQ(cxx, c.name);
    const char* fromC = qx_c_result_name(c.macro);
    ASSERT_NE(fromC, nullptr);
    EXPECT_STREQ(fromC, c.name);
  }
}

// The numbering has gaps; nothing in them, and nothing else in 16 bits, has a
// name.
TEST(ResultName, NullForEveryOtherSixteenBitValue) {
  size_t named = 0;
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const char* name = qxResultName(v);
    const char* fromC = qx_c_result_name(v);
    const Code* code = FindCode(v);
    if (code == nullptr) {
      EXPECT_EQ(name, nullptr) << std::hex << "0x" << v << " is not a result code";
      EXPECT_EQ(fromC, nullptr) << std::hex << "0x" << v << " is not a result code (C)";
    } else {
      ++named;
    }
  }
  EXPECT_EQ(named, kCodeCount);
}

// Values beyond 16 bits are not codes: a name lookup that cut the value to
// 16 bits first would name them.
TEST(ResultName, NullForValuesBeyondSixteenBits) {
  for (const Code& c : kCodes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(qxResultName(c.macro + 0x10000u), nullptr);
    EXPECT_EQ(qxResultName(c.macro | 0xFFFF0000u), nullptr);
    EXPECT_EQ(qx_c_result_name(c.macro + 0x10000u), nullptr);
  }
}

}  // namespace
