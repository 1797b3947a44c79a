// Layouts of the host-owned records and of the Win32 records the exports
// take: offsets and sizes as hosts and the library must share them, in C and
// in C++ alike.
#include <qxdll.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "c_probe.h"

namespace {

struct Field {
  const char* record;
  const char* field;
  size_t offset;
  size_t size;
};

// The binary interface, field by field.
constexpr Field kExpected[] = {
    {"QX_STATUS_RECORD", "statusWord", 0, 4},
    {"QX_STATUS_RECORD", "tag01Value", 4, 4},
    {"QX_STATUS_RECORD", "tag02Value", 8, 4},
    {"QX_STATUS_RECORD", "temperatureC", 12, 4},
    {"QX_STATUS_RECORD", "temperatureF", 16, 4},
    {"QX_STATUS_RECORD", "formLength", 20, 4},
    {"QX_STATUS_RECORD", "replyType", 24, 2},
    {"QX_STATUS_RECORD", "formLengthText", 26, 16},
    {"QX_STATUS_RECORD", "temperatureText", 42, 4},
    {"QX_STATUS_RECORD", "tag02Text", 46, 9},
    {"QX_STATUS_RECORD", "tag01Text", 55, 4},
    {"QX_STATUS_RECORD", "statusWordText", 59, 8},
    {"QX_STATUS_RECORD", "versionRaw", 67, 64},
    {"QX_STATUS_RECORD", "firmwareVersion", 131, 16},
    {"QX_STATUS_RECORD", "versionDetail", 147, 16},
    {"QX_FLASH_PROGRESS", "State", 0, 4},
    {"QX_FLASH_PROGRESS", "Max", 4, 4},
    {"QX_FLASH_PROGRESS", "Current", 8, 4},
    {"QX_FLASH_PROGRESS", "PassFail", 12, 1},
    {"QX_FLASH_PROGRESS", "Note", 13, 1024},
    {"QX_TICKET_DOC", "pageWidth", 0, 4},
    {"QX_TICKET_DOC", "pageHeight", 4, 4},
    {"QX_TICKET_DOC", "paperCode", 8, 4},
    {"QX_TICKET_DOC", "orientation", 12, 4},
    {"QX_TICKET_DOC", "hdc", 16, 8},
    {"QX_TICKET_DOC", "reserved", 24, 24},
    {"QX_TICKET_DOC", "docInfo", 48, 40},
    // The document description inside the ticket record goes to StartDocA as
    // it stands, so its own layout is part of the record's.
    {"DOCINFOA", "cbSize", 0, 4},
    {"DOCINFOA", "lpszDocName", 8, 8},
    {"DOCINFOA", "lpszOutput", 16, 8},
    {"DOCINFOA", "lpszDatatype", 24, 8},
    {"DOCINFOA", "fwType", 32, 4},
};

struct Record {
  const char* name;
  size_t size;
};

constexpr Record kExpectedSizes[] = {
    {"QX_STATUS_RECORD", 164},  // 163 bytes of fields and 1 of alignment fill
    {"QX_FLASH_PROGRESS", 1040},
    {"QX_TICKET_DOC", 88},
    {"DOCINFOA", 40},
};

#define QX_CXX_FIELD(record, field) \
  Field{#record, #field, offsetof(record, field), sizeof(record::field)},

const Field kCxxFields[] = {
    QX_CXX_FIELD(QX_STATUS_RECORD, statusWord)
    QX_CXX_FIELD(QX_STATUS_RECORD, tag01Value)
    QX_CXX_FIELD(QX_STATUS_RECORD, tag02Value)
    QX_CXX_FIELD(QX_STATUS_RECORD, temperatureC)
    QX_CXX_FIELD(QX_STATUS_RECORD, temperatureF)
    QX_CXX_FIELD(QX_STATUS_RECORD, formLength)
    QX_CXX_FIELD(QX_STATUS_RECORD, replyType)
    QX_CXX_FIELD(QX_STATUS_RECORD, formLengthText)
    QX_CXX_FIELD(QX_STATUS_RECORD, temperatureText)
    QX_CXX_FIELD(QX_STATUS_RECORD, tag02Text)
    QX_CXX_FIELD(QX_STATUS_RECORD, tag01Text)
    QX_CXX_FIELD(QX_STATUS_RECORD, statusWordText)
    QX_CXX_FIELD(QX_STATUS_RECORD, versionRaw)
    QX_CXX_FIELD(QX_STATUS_RECORD, firmwareVersion)
    QX_CXX_FIELD(QX_STATUS_RECORD, versionDetail)
    QX_CXX_FIELD(QX_FLASH_PROGRESS, State)
    QX_CXX_FIELD(QX_FLASH_PROGRESS, Max)
    QX_CXX_FIELD(QX_FLASH_PROGRESS, Current)
    QX_CXX_FIELD(QX_FLASH_PROGRESS, PassFail)
    QX_CXX_FIELD(QX_FLASH_PROGRESS, Note)
    QX_CXX_FIELD(QX_TICKET_DOC, pageWidth)
    QX_CXX_FIELD(QX_TICKET_DOC, pageHeight)
    QX_CXX_FIELD(QX_TICKET_DOC, paperCode)
    QX_CXX_FIELD(QX_TICKET_DOC, orientation)
    QX_CXX_FIELD(QX_TICKET_DOC, hdc)
    QX_CXX_FIELD(QX_TICKET_DOC, reserved)
    QX_CXX_FIELD(QX_TICKET_DOC, docInfo)
    QX_CXX_FIELD(DOCINFOA, cbSize)
    QX_CXX_FIELD(DOCINFOA, lpszDocName)
    QX_CXX_FIELD(DOCINFOA, lpszOutput)
    QX_CXX_FIELD(DOCINFOA, lpszDatatype)
    QX_CXX_FIELD(DOCINFOA, fwType)
};

size_t CxxRecordSize(const std::string& record) {
  if (record == "QX_STATUS_RECORD") return sizeof(QX_STATUS_RECORD);
  if (record == "QX_FLASH_PROGRESS") return sizeof(QX_FLASH_PROGRESS);
  if (record == "QX_TICKET_DOC") return sizeof(QX_TICKET_DOC);
  if (record == "DOCINFOA") return sizeof(DOCINFOA);
  return 0;
}

const Field* Find(const Field* begin, size_t count, const Field& wanted) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(begin[i].record, wanted.record) == 0 &&
        std::strcmp(begin[i].field, wanted.field) == 0) {
      return &begin[i];
    }
  }
  return nullptr;
}

// Hosts copy these records with memcpy and declare them from C.
static_assert(std::is_standard_layout_v<QX_STATUS_RECORD> && std::is_trivial_v<QX_STATUS_RECORD>);
static_assert(std::is_standard_layout_v<QX_FLASH_PROGRESS> && std::is_trivial_v<QX_FLASH_PROGRESS>);
static_assert(std::is_standard_layout_v<QX_TICKET_DOC> && std::is_trivial_v<QX_TICKET_DOC>);

TEST(RecordLayout, EveryFieldHasItsOffsetAndSizeInCxx) {
  constexpr size_t n = sizeof kExpected / sizeof kExpected[0];
  ASSERT_EQ(sizeof kCxxFields / sizeof kCxxFields[0], n);
  for (const Field& want : kExpected) {
    SCOPED_TRACE(std::string(want.record) + "." + want.field);
    const Field* got = Find(kCxxFields, n, want);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->offset, want.offset);
    EXPECT_EQ(got->size, want.size);
  }
}

TEST(RecordLayout, CSeesTheSameLayoutAsCxx) {
  size_t count = 0;
  const qx_c_field* cFields = qx_c_fields(&count);
  ASSERT_EQ(count, sizeof kExpected / sizeof kExpected[0]);
  for (const Field& want : kExpected) {
    SCOPED_TRACE(std::string(want.record) + "." + want.field);
    const qx_c_field* got = nullptr;
    for (size_t i = 0; i < count; ++i) {
      if (std::strcmp(cFields[i].record, want.record) == 0 &&
          std::strcmp(cFields[i].field, want.field) == 0) {
        got = &cFields[i];
      }
    }
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->offset, want.offset);
    EXPECT_EQ(got->size, want.size);
  }
}

TEST(RecordLayout, RecordSizesInCAndCxx) {
  for (const Record& want : kExpectedSizes) {
    SCOPED_TRACE(want.name);
    EXPECT_EQ(CxxRecordSize(want.name), want.size);
    EXPECT_EQ(qx_c_record_size(want.name), want.size);
  }
}

// Fields follow one another without overlap and the last one ends inside the
// record: a field widened by mistake shows here even where the header's
// offset checks still hold (for instance the last field growing into the
// alignment fill).
TEST(RecordLayout, FieldsDoNotOverlapAndFitTheRecord) {
  constexpr size_t n = sizeof kExpected / sizeof kExpected[0];
  for (size_t i = 0; i < n; ++i) {
    const Field& f = kCxxFields[i];
    SCOPED_TRACE(std::string(f.record) + "." + f.field);
    const bool lastOfRecord = i + 1 == n || std::strcmp(kCxxFields[i + 1].record, f.record) != 0;
    if (lastOfRecord) {
      EXPECT_LE(f.offset + f.size, CxxRecordSize(f.record));
    } else {
      EXPECT_LE(f.offset + f.size, kCxxFields[i + 1].offset);
    }
  }
}

// The ticket record's cbSize carries the size of the whole record, and the
// description must start where StartDocA on a pointer to it expects it.
TEST(RecordLayout, TicketDocumentDescriptionIsUsableInPlace) {
  QX_TICKET_DOC doc = {};
  doc.docInfo.cbSize = static_cast<int>(sizeof doc);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&doc);
  int sizeField = 0;
  std::memcpy(&sizeField, bytes + 48, sizeof sizeField);
  EXPECT_EQ(sizeField, 88);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&doc.docInfo), bytes + 48);
}

// The status record's texts have room for what the decoder writes into them.
TEST(RecordLayout, StatusTextsHoldTheirFormattedValues) {
  QX_STATUS_RECORD record = {};
  // "0x%4.4lx" of the largest 16-bit status word, and its terminator.
  EXPECT_GE(sizeof record.statusWordText, std::strlen("0xffff") + 1);
  // "%6.2f in." of the largest form length (655.35 inches).
  EXPECT_GE(sizeof record.formLengthText, std::strlen("655.35 in.") + 1);
  // Three and eight characters of the numeric tags, plus terminators.
  EXPECT_GE(sizeof record.temperatureText, 3u + 1);
  EXPECT_GE(sizeof record.tag01Text, 3u + 1);
  EXPECT_GE(sizeof record.tag02Text, 8u + 1);
  // Five and ten bytes of the version field, zero-filled behind them.
  EXPECT_GT(sizeof record.firmwareVersion, 5u);
  EXPECT_GT(sizeof record.versionDetail, 10u);
}

// Win32 records and scalars the exports take or return: the POSIX platform
// layer must give them the Win64 layout, or hosts and library disagree.
TEST(Win32Layout, RecordsTheExportsTakeHaveWin64Sizes) {
  EXPECT_EQ(sizeof(OSVERSIONINFOA), 148u);
  EXPECT_EQ(sizeof(PAGESETUPDLGA), 128u);
  EXPECT_EQ(sizeof(LOGFONTA), 60u);
  EXPECT_EQ(sizeof(RECT), 16u);
  EXPECT_EQ(offsetof(LOGFONTA, lfHeight), 0u);
  EXPECT_EQ(offsetof(LOGFONTA, lfWidth), 4u);
  EXPECT_EQ(offsetof(LOGFONTA, lfFaceName), 28u);
  EXPECT_EQ(offsetof(PAGESETUPDLGA, hDevMode), 16u);
  EXPECT_EQ(offsetof(PAGESETUPDLGA, hDevNames), 24u);
  EXPECT_EQ(offsetof(PAGESETUPDLGA, Flags), 32u);
}

TEST(Win32Layout, ScalarTypesHaveLlp64Widths) {
  EXPECT_EQ(sizeof(QXRESULT), 2u);
  EXPECT_TRUE(std::is_unsigned_v<QXRESULT>);
  EXPECT_EQ(qx_c_result_size(), 2u);
  EXPECT_TRUE(qx_c_result_is_unsigned());
  EXPECT_EQ(sizeof(BOOL), 4u);
  EXPECT_EQ(sizeof(LONG), 4u);
  EXPECT_TRUE(std::is_signed_v<LONG>);
  EXPECT_EQ(sizeof(DWORD), 4u);
  EXPECT_TRUE(std::is_unsigned_v<DWORD>);
  EXPECT_EQ(sizeof(SHORT), 2u);
  EXPECT_EQ(sizeof(WORD), 2u);
  EXPECT_EQ(sizeof(COLORREF), 4u);
  EXPECT_EQ(sizeof(LONGLONG), 8u);
  EXPECT_TRUE(std::is_signed_v<LONGLONG>);
  EXPECT_EQ(sizeof(ULONG_PTR), sizeof(void*));
  EXPECT_EQ(sizeof(LONG_PTR), sizeof(void*));
}

}  // namespace
