/*
 * winerror.h - POSIX platform layer, Win32 header: system error codes (the
 * values GetLastError reports), HRESULT values and their macros.
 *
 * The codes are plain int constants (32 bits, as Windows' long constants are).
 */
#ifndef QX_WINERROR_H
#define QX_WINERROR_H

#include <winnt.h>

#define ERROR_SUCCESS                 0
#define NO_ERROR                      0
#define ERROR_INVALID_FUNCTION        1
#define ERROR_FILE_NOT_FOUND          2
#define ERROR_PATH_NOT_FOUND          3
#define ERROR_TOO_MANY_OPEN_FILES     4
#define ERROR_ACCESS_DENIED           5
#define ERROR_INVALID_HANDLE          6
#define ERROR_NOT_ENOUGH_MEMORY       8
#define ERROR_BAD_FORMAT              11
#define ERROR_INVALID_ACCESS          12
#define ERROR_INVALID_DATA            13
#define ERROR_OUTOFMEMORY             14
#define ERROR_INVALID_DRIVE           15
#define ERROR_NO_MORE_FILES           18
#define ERROR_BAD_UNIT                20
#define ERROR_NOT_READY               21
#define ERROR_BAD_COMMAND             22
#define ERROR_BAD_LENGTH              24
#define ERROR_WRITE_FAULT             29
#define ERROR_READ_FAULT              30
#define ERROR_GEN_FAILURE             31
#define ERROR_SHARING_VIOLATION       32
#define ERROR_LOCK_VIOLATION          33
#define ERROR_HANDLE_EOF              38
#define ERROR_HANDLE_DISK_FULL        39
#define ERROR_NOT_SUPPORTED           50
#define ERROR_BAD_NETPATH             53
#define ERROR_PRINT_CANCELLED         63
#define ERROR_FILE_EXISTS             80
#define ERROR_CANNOT_MAKE             82
#define ERROR_INVALID_PARAMETER       87
#define ERROR_BROKEN_PIPE             109
#define ERROR_BUFFER_OVERFLOW         111
#define ERROR_DISK_FULL               112
#define ERROR_CALL_NOT_IMPLEMENTED    120
#define ERROR_SEM_TIMEOUT             121
#define ERROR_INSUFFICIENT_BUFFER     122
#define ERROR_INVALID_NAME            123
#define ERROR_INVALID_LEVEL           124
#define ERROR_MOD_NOT_FOUND           126
#define ERROR_PROC_NOT_FOUND          127
#define ERROR_SIGNAL_REFUSED          156
#define ERROR_DISCARDED               157
#define ERROR_NOT_LOCKED              158
#define ERROR_BAD_PATHNAME            161
#define ERROR_BUSY                    170
#define ERROR_ALREADY_EXISTS          183
#define ERROR_ENVVAR_NOT_FOUND        203
#define ERROR_FILENAME_EXCED_RANGE    206
#define ERROR_BAD_PIPE                230
#define ERROR_PIPE_BUSY               231
#define ERROR_NO_DATA                 232
#define ERROR_PIPE_NOT_CONNECTED      233
#define ERROR_MORE_DATA               234
#define ERROR_NO_MORE_ITEMS           259
#define ERROR_DIRECTORY               267
#define ERROR_NOT_OWNER               288
#define ERROR_TOO_MANY_POSTS          298
#define ERROR_MR_MID_NOT_FOUND        317
#define ERROR_INVALID_ADDRESS         487
#define ERROR_ARITHMETIC_OVERFLOW     534
#define ERROR_PIPE_CONNECTED          535
#define ERROR_PIPE_LISTENING          536
#define ERROR_OPERATION_ABORTED       995
#define ERROR_IO_INCOMPLETE           996
#define ERROR_IO_PENDING              997
#define ERROR_NOACCESS                998
#define ERROR_INVALID_FLAGS           1004
#define ERROR_KEY_DOES_NOT_EXIST      1018
#define ERROR_UNRECOGNIZED_VOLUME     1005
#define ERROR_NO_UNICODE_TRANSLATION  1113
#define ERROR_DLL_INIT_FAILED         1114
#define ERROR_IO_DEVICE               1117
#define ERROR_COUNTER_TIMEOUT         1121
#define ERROR_DEVICE_NOT_CONNECTED    1167
#define ERROR_NOT_FOUND               1168
#define ERROR_CANCELLED               1223
#define ERROR_INVALID_WINDOW_HANDLE   1400
#define ERROR_NO_SYSTEM_RESOURCES     1450
#define ERROR_TIMEOUT                 1460
#define RPC_S_SERVER_UNAVAILABLE      1722
#define ERROR_INVALID_USER_BUFFER     1784
#define ERROR_UNKNOWN_PORT            1796
#define ERROR_UNKNOWN_PRINTER_DRIVER  1797
#define ERROR_UNKNOWN_PRINTPROCESSOR  1798
#define ERROR_INVALID_PRINTER_NAME    1801
#define ERROR_PRINTER_ALREADY_EXISTS  1802
#define ERROR_INVALID_PRINTER_COMMAND 1803
#define ERROR_INVALID_DATATYPE        1804
#define ERROR_INVALID_ENVIRONMENT     1805
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815
#define ERROR_NOT_ENOUGH_QUOTA        1816
#define ERROR_INVALID_FORM_NAME       1902
#define ERROR_INVALID_FORM_SIZE       1903
#define ERROR_ALREADY_WAITING         1904
#define ERROR_PRINTER_DELETED         1905
#define ERROR_INVALID_PRINTER_STATE   1906
#define ERROR_PRINTER_DRIVER_IN_USE   3001
#define ERROR_SPOOL_FILE_NOT_FOUND    3002
#define ERROR_SPL_NO_STARTDOC         3003
#define ERROR_SPL_NO_ADDJOB           3004
#define ERROR_PRINTER_NOT_FOUND       3012

#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 258
#endif

/* HRESULT values. */
#define _HRESULT_TYPEDEF_(sc) ((HRESULT)(sc))
#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_WIN32 7
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define HRESULT_SEVERITY(hr) (((hr) >> 31) & 0x1)
#define MAKE_HRESULT(sev, fac, code) \
  ((HRESULT)(((unsigned int)(sev) << 31) | ((unsigned int)(fac) << 16) | ((unsigned int)(code))))
#define HRESULT_FROM_WIN32(x) \
  ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x) & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000)))

#define S_OK _HRESULT_TYPEDEF_(0x00000000)
#define S_FALSE _HRESULT_TYPEDEF_(0x00000001)
#define E_NOTIMPL _HRESULT_TYPEDEF_(0x80004001)
#define E_NOINTERFACE _HRESULT_TYPEDEF_(0x80004002)
#define E_POINTER _HRESULT_TYPEDEF_(0x80004003)
#define E_ABORT _HRESULT_TYPEDEF_(0x80004004)
#define E_FAIL _HRESULT_TYPEDEF_(0x80004005)
#define E_UNEXPECTED _HRESULT_TYPEDEF_(0x8000FFFF)
#define E_ACCESSDENIED _HRESULT_TYPEDEF_(0x80070005)
#define E_HANDLE _HRESULT_TYPEDEF_(0x80070006)
#define E_OUTOFMEMORY _HRESULT_TYPEDEF_(0x8007000E)
#define E_INVALIDARG _HRESULT_TYPEDEF_(0x80070057)

#endif /* QX_WINERROR_H */
