/*
 * c_probe.h - what the C translation unit c_probe.c reports about the public
 * header as a C compiler sees it, so that the C++ tests can compare the two
 * languages' views.
 */
#ifndef QX_TESTS_HEADER_C_PROBE_H
#define QX_TESTS_HEADER_C_PROBE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One field of a host-owned record: its offset and size in C. */
typedef struct qx_c_field {
  const char *record;
  const char *field;
  size_t offset;
  size_t size;
} qx_c_field;

/* Every field of the three records (and of the DOCINFOA inside the ticket
   document record), in declaration order; count receives their number. */
const qx_c_field *qx_c_fields(size_t *count);

/* sizeof the named record in C, or 0 for an unknown name. */
size_t qx_c_record_size(const char *record);

/* Number of exports the header declares to C (each taken by sizeof(&name),
   which fails to compile for an undeclared name). */
int qx_c_declared_exports(void);

/* qxResultName compiled as C. */
const char *qx_c_result_name(unsigned code);

/* sizeof of the 16-bit result type in C, and whether it is unsigned. */
size_t qx_c_result_size(void);
int qx_c_result_is_unsigned(void);

#ifdef __cplusplus
}
#endif

#endif /* QX_TESTS_HEADER_C_PROBE_H */
