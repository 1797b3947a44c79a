/*
 * c_probe.c - compiles the public header as C11 and reports what C sees.
 *
 * The header comes first and alone, so it must stand on its own in C; the
 * second inclusion checks its include guard.
 */
#include <qxdll.h>
#include <qxdll.h>

#include <stddef.h>
#include <string.h>

#include "c_probe.h"
#include "export_list.h"

#define QX_C_FIELD(record, field) \
  {#record, #field, offsetof(record, field), sizeof(((record *)0)->field)},

static const qx_c_field kFields[] = {
    QX_C_FIELD(QX_STATUS_RECORD, statusWord)
    QX_C_FIELD(QX_STATUS_RECORD, tag01Value)
    QX_C_FIELD(QX_STATUS_RECORD, tag02Value)
    QX_C_FIELD(QX_STATUS_RECORD, temperatureC)
    QX_C_FIELD(QX_STATUS_RECORD, temperatureF)
    QX_C_FIELD(QX_STATUS_RECORD, formLength)
    QX_C_FIELD(QX_STATUS_RECORD, replyType)
    QX_C_FIELD(QX_STATUS_RECORD, formLengthText)
    QX_C_FIELD(QX_STATUS_RECORD, temperatureText)
    QX_C_FIELD(QX_STATUS_RECORD, tag02Text)
    QX_C_FIELD(QX_STATUS_RECORD, tag01Text)
    QX_C_FIELD(QX_STATUS_RECORD, statusWordText)
    QX_C_FIELD(QX_STATUS_RECORD, versionRaw)
    QX_C_FIELD(QX_STATUS_RECORD, firmwareVersion)
    QX_C_FIELD(QX_STATUS_RECORD, versionDetail)
    QX_C_FIELD(QX_FLASH_PROGRESS, State)
    QX_C_FIELD(QX_FLASH_PROGRESS, Max)
    QX_C_FIELD(QX_FLASH_PROGRESS, Current)
    QX_C_FIELD(QX_FLASH_PROGRESS, PassFail)
    QX_C_FIELD(QX_FLASH_PROGRESS, Note)
    QX_C_FIELD(QX_TICKET_DOC, pageWidth)
    QX_C_FIELD(QX_TICKET_DOC, pageHeight)
    QX_C_FIELD(QX_TICKET_DOC, paperCode)
    QX_C_FIELD(QX_TICKET_DOC, orientation)
    QX_C_FIELD(QX_TICKET_DOC, hdc)
    QX_C_FIELD(QX_TICKET_DOC, reserved)
    QX_C_FIELD(QX_TICKET_DOC, docInfo)
    QX_C_FIELD(DOCINFOA, cbSize)
    QX_C_FIELD(DOCINFOA, lpszDocName)
    QX_C_FIELD(DOCINFOA, lpszOutput)
    QX_C_FIELD(DOCINFOA, lpszDatatype)
    QX_C_FIELD(DOCINFOA, fwType)
};

const qx_c_field *qx_c_fields(size_t *count) {
  *count = sizeof kFields / sizeof kFields[0];
  return kFields;
}

size_t qx_c_record_size(const char *record) {
  if (strcmp(record, "QX_STATUS_RECORD") == 0) return sizeof(QX_STATUS_RECORD);
  if (strcmp(record, "QX_FLASH_PROGRESS") == 0) return sizeof(QX_FLASH_PROGRESS);
  if (strcmp(record, "QX_TICKET_DOC") == 0) return sizeof(QX_TICKET_DOC);
  if (strcmp(record, "DOCINFOA") == 0) return sizeof(DOCINFOA);
  return 0;
}

/* sizeof does not evaluate its operand, so no export is referenced and the
   program links without the library. */
#define QX_C_COUNT_DECLARED(name) +(sizeof(&name) > 0)

int qx_c_declared_exports(void) { return 0 QX_EXPORT_LIST(QX_C_COUNT_DECLARED); }

const char *qx_c_result_name(unsigned code) { return qxResultName(code); }

size_t qx_c_result_size(void) { return sizeof(QXRESULT); }

int qx_c_result_is_unsigned(void) { return (QXRESULT)-1 > 0; }
