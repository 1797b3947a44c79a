/*
 * qxdll.h - public interface of qxdll, the library that drives the maker's
 * thermal ticket printers through the Windows print spooler.
 *
 * Contents, in order:
 *   1. calling convention, result type and result codes (qxResultName)
 *   2. named constants for callers
 *   3. host-owned records: status record, flash progress record, ticket
 *      document record, with their layouts checked at compile time
 *   4. the exports, by family:
 *        core and discovery
 *        language-monitor pipe
 *        port and status
 *        spooler settings
 *        flash
 *        fonts and device contexts
 *        raw printing and cash drawer
 *
 * Conventions of every export:
 *   - Texts are 8-bit and zero-terminated unless an export says otherwise.
 *   - QXRESULT exports return QX_ERR_OK (0) or one of the QX_ERR_ codes, and
 *     pass the codes of what they call up unchanged. A few return the Windows
 *     error code (GetLastError) in the same 16-bit result when a spooler or
 *     graphics call fails; each says so.
 *   - BOOL exports return 1 or 0, never a result code.
 *   - Unless it is given a printer name, an export works on the library's
 *     current printer: the one chosen when the library was loaded, or the one
 *     set since with qxSetNewPrinter.
 *   - "Count query": the list exports (qxEnumPrinters, qxEnumSheetSizes,
 *     qxEnumBins) take the address of a count; QX_COUNT_QUERY (-1) there asks
 *     only for the size or the number of entries.
 *   - Whatever the library hands out (fonts, device contexts, automation
 *     strings) belongs to the caller, who releases it.
 *   - The library starts no threads. Pipe transactions are serialised inside
 *     the library; everything else (current printer, port acquisition, raw
 *     documents) is shared process-wide state that hosts serialise themselves.
 *
 * The header compiles as C11 and as C++, with the Windows SDK headers or with
 * the POSIX platform layer that presents the same names with the Win64 layout.
 */
#ifndef QXDLL_H
#define QXDLL_H

#include <windows.h>
#include <commdlg.h>
#include <oleauto.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Calling convention, visibility, compile-time checks                      */
/* ------------------------------------------------------------------------ */

/* Calling convention of every export. */
#define QXAPI WINAPI

/* On Windows the module-definition file names the exports. On ELF the library
   is built with hidden visibility, so the declarations here make exactly the
   exports visible. */
#if !defined(_WIN32) && defined(__GNUC__)
#define QX_EXPORT __attribute__((visibility("default")))
#else
#define QX_EXPORT
#endif

/* QX_STATIC_ASSERT(condition, message): a compile-time check in C11 and C++.
   Pre-C11 compilers get the negative-array-size form, which fails the same
   way without a message. */
#if defined(__cplusplus)
#define QX_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QX_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
#define QX_STATIC_ASSERT(condition, message) \
  extern char qx_static_assert_[(condition) ? 1 : -1]
#endif

/* Field offsets that are constant expressions in C and C++. */
#if defined(__GNUC__) || defined(__clang__)
#define QX_OFFSETOF(type, field) __builtin_offsetof(type, field)
#else
#define QX_OFFSETOF(type, field) offsetof(type, field)
#endif

/* ------------------------------------------------------------------------ */
/* Result codes                                                             */
/* ------------------------------------------------------------------------ */

/* A 16-bit unsigned result code: QX_ERR_OK or one of the failures below. The
   numbering has gaps; values in the gaps are never returned as codes. */
typedef WORD QXRESULT;

#define QX_ERR_OK             0x0000 /* success */
#define QX_ERR_NO_PRINTER     0xC001 /* printer not found or not openable; no "QX "/"qx " printer */
#define QX_ERR_PORT_OPEN      0xC002 /* the printer port could not be opened */
#define QX_ERR_FAILED         0xC003 /* general failure of a spooler, system or pipe call */
#define QX_ERR_GETPRINTER     0xC004 /* the printer record's size query failed or gave 0 */
#define QX_ERR_BAD_DATA       0xC006 /* a data pointer is null or a value is outside its set */
#define QX_ERR_BAD_LENGTH     0xC007 /* a length is outside 1 to 1024, or an input text is empty */
#define QX_ERR_BAD_BUFFER     0xC008 /* the reply buffer pointer is null */
#define QX_ERR_BAD_ARG        0xC009 /* another argument is invalid (size, name, level) */
#define QX_ERR_KEY_WRITE      0xC00A /* writing a printer data key failed */
#define QX_ERR_DEVICE         0xC00B /* the driver or the device refused a request */
#define QX_ERR_PRINTER_INFO   0xC00C /* printer information or the page-setup record is unavailable */
#define QX_ERR_SETPRINTER     0xC00D /* the spooler refused the changed printer record */
#define QX_ERR_NULL_ARG       0xC00E /* a required argument is missing (null or empty) */
#define QX_ERR_BAD_STATUS     0xC011 /* a status reply does not begin with S, N, E, A or C */
#define QX_ERR_BUFFER_SMALL   0xC013 /* the caller's buffer is smaller than the spooler needs */
#define QX_ERR_NO_MEMORY      0xC014 /* a memory allocation failed */
#define QX_ERR_BAD_REPLY      0xC015 /* a language-monitor reply was malformed or unexpected */
#define QX_ERR_JOBS_PENDING   0xC016 /* the printer whose port is wanted still has spooled jobs */
#define QX_ERR_SIZE_MISMATCH  0xC017 /* the sheet set differs from the size asked for */
#define QX_ERR_BIN_NOT_FOUND  0xC018 /* no output bin has the requested name */
#define QX_ERR_PIPE_BUSY      0xC019 /* the language-monitor pipe stayed busy for the whole time-out */
#define QX_ERR_NO_PIPE        0xC01A /* the language-monitor pipe could not be opened or set up */
#define QX_ERR_PIPE_TIMEOUT   0xC01B /* no reply could be read from the pipe within 2200 ms */
#define QX_ERR_NO_RESPONSE    0xC01C /* the printer does not respond */
#define QX_ERR_LM_TIMEOUT     0xC01D /* the language monitor reported a time-out */
#define QX_ERR_NOT_READY      0xC01F /* the port could not be taken, or the printer is not ready */
#define QX_ERR_FILE_NOT_FOUND 0xC020 /* the firmware file cannot be opened */
#define QX_ERR_BAD_EXTENSION  0xC021 /* the firmware file name does not end in .BIN, .FUL or .ALL */
#define QX_ERR_NO_PERMISSION  0xC024 /* the firmware file does not suit the model or its version */
#define QX_ERR_NO_FLASH_MODE  0xC025 /* the printer did not answer "FLASH READY" */
#define QX_ERR_FLASH_FAILED   0xC027 /* the firmware transfer failed on both attempts */
#define QX_ERR_UNKNOWN_MODEL  0xC028 /* the attached model is not in the firmware model table */
#define QX_ERR_UNKNOWN_KEY    0xC029 /* the printer data key is not a known setting */

/*
 * qxResultName - the name of a result code, for messages and logs.
 *   code (in): a value returned as a QXRESULT.
 * Returns the code's name ("QX_ERR_OK", "QX_ERR_NO_PRINTER", ...), or NULL
 * for a value that is not a result code (a gap in the numbering, or a Windows
 * error code returned in place of a result code).
 */
static inline const char *qxResultName(unsigned code) {
#define QX_RESULT_NAME_CASE(name) \
  case name:                      \
    return #name;
  switch (code) {
    QX_RESULT_NAME_CASE(QX_ERR_OK)
    QX_RESULT_NAME_CASE(QX_ERR_NO_PRINTER)
    QX_RESULT_NAME_CASE(QX_ERR_PORT_OPEN)
    QX_RESULT_NAME_CASE(QX_ERR_FAILED)
    QX_RESULT_NAME_CASE(QX_ERR_GETPRINTER)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_DATA)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_LENGTH)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_BUFFER)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_ARG)
    QX_RESULT_NAME_CASE(QX_ERR_KEY_WRITE)
    QX_RESULT_NAME_CASE(QX_ERR_DEVICE)
    QX_RESULT_NAME_CASE(QX_ERR_PRINTER_INFO)
    QX_RESULT_NAME_CASE(QX_ERR_SETPRINTER)
    QX_RESULT_NAME_CASE(QX_ERR_NULL_ARG)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_STATUS)
    QX_RESULT_NAME_CASE(QX_ERR_BUFFER_SMALL)
    QX_RESULT_NAME_CASE(QX_ERR_NO_MEMORY)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_REPLY)
    QX_RESULT_NAME_CASE(QX_ERR_JOBS_PENDING)
    QX_RESULT_NAME_CASE(QX_ERR_SIZE_MISMATCH)
    QX_RESULT_NAME_CASE(QX_ERR_BIN_NOT_FOUND)
    QX_RESULT_NAME_CASE(QX_ERR_PIPE_BUSY)
    QX_RESULT_NAME_CASE(QX_ERR_NO_PIPE)
    QX_RESULT_NAME_CASE(QX_ERR_PIPE_TIMEOUT)
    QX_RESULT_NAME_CASE(QX_ERR_NO_RESPONSE)
    QX_RESULT_NAME_CASE(QX_ERR_LM_TIMEOUT)
    QX_RESULT_NAME_CASE(QX_ERR_NOT_READY)
    QX_RESULT_NAME_CASE(QX_ERR_FILE_NOT_FOUND)
    QX_RESULT_NAME_CASE(QX_ERR_BAD_EXTENSION)
    QX_RESULT_NAME_CASE(QX_ERR_NO_PERMISSION)
    QX_RESULT_NAME_CASE(QX_ERR_NO_FLASH_MODE)
    QX_RESULT_NAME_CASE(QX_ERR_FLASH_FAILED)
    QX_RESULT_NAME_CASE(QX_ERR_UNKNOWN_MODEL)
    QX_RESULT_NAME_CASE(QX_ERR_UNKNOWN_KEY)
    default:
      return NULL;
  }
#undef QX_RESULT_NAME_CASE
}

/* ------------------------------------------------------------------------ */
/* Named constants                                                          */
/* ------------------------------------------------------------------------ */

/* Count argument of the list exports: ask only for the size or number. */
#define QX_COUNT_QUERY (-1)

/* Buffer sizes the exports expect. */
#define QX_NAME_SIZE        128  /* printer, port and driver name outputs */
#define QX_PIPE_NAME_SIZE   256  /* pipe name, terminator included */
#define QX_SHEET_NAME_SIZE  64   /* one entry of qxEnumSheetSizes' names */
#define QX_BIN_NAME_SIZE    24   /* one entry of qxEnumBins' names */
#define QX_RFID_DATA_MAX    1024 /* largest RFID request and reply size */
#define QX_DLL_VERSION_SIZE 21   /* smallest buffer qxGetDLLVersion fills */

/* Pipe and status time-out the library starts with, in milliseconds. */
#define QX_DEFAULT_TIMEOUT 20000

/* A language monitor's pipe is this prefix followed at once by the port name
   ("LPT1:" gives \\.\pipe\QXNamedPipeLPT1:). */
#define QX_PIPE_PREFIX "\\\\.\\pipe\\QXNamedPipe"

/* Status request indices of qxGetStatus, qxGetStatus_NT_2K_XP, qxLMGetStatus
   and qxLMPtrGetStatus: the ESC "I" inquiry sent to the printer. */
#define QX_REQ_NONE      (-1) /* direct road: send nothing, only read */
#define QX_REQ_IS        0    /* ESC "IS": the "S" reply with the status word */
#define QX_REQ_IN        1    /* ESC "IN" */
#define QX_REQ_IE        2    /* ESC "IE" */
#define QX_REQ_IA02      3    /* ESC "IA" 0x02 */
#define QX_REQ_IA03      4    /* ESC "IA" 0x03 */
#define QX_REQ_IA04      5    /* ESC "IA" 0x04 */
#define QX_REQ_IC        6    /* ESC "IC": the reply carrying the firmware version */
#define QX_REQ_LM_STATUS 7    /* pipe only: the monitor's status reply, no inquiry */

/* Bits of the 16-bit status word (QX_STATUS_RECORD.statusWord). */
#define QX_STATUS_NOT_READY        0x8000 /* fault summary */
#define QX_STATUS_MAN_DESELECT     0x2000 /* manual deselect */
#define QX_STATUS_JAM              0x1C00 /* paper jam: any of the three bits */
#define QX_STATUS_HEAD_LEVER_OPEN  0x0200
#define QX_STATUS_OUT_OF_PAPER     0x0100
#define QX_STATUS_BUSY             0x0020
#define QX_STATUS_TICKET_NOT_TAKEN 0x0008
#define QX_STATUS_LOW_PAPER        0x0001

/* Orientation codes of qxSetOrientation and qxMakeDocDC (the Windows
   DMORIENT_ values); QX_ORIENT_KEEP only for qxMakeDocDC. */
#define QX_ORIENT_KEEP      0
#define QX_ORIENT_PORTRAIT  1
#define QX_ORIENT_LANDSCAPE 2

/* Effect codes of qxFontFX: where the copy in the effect colour is drawn
   behind the centred text. */
#define QX_FX_SHADOW_RIGHT_DOWN 2 /* 1 unit right and 1 down */
#define QX_FX_SHADOW_LEFT_UP    3 /* 2 units left and 2 up */

/* Printer data keys that qxSetPrinterKeyByName accepts. */
#define QX_KEY_AUTOSIZE                "AUTOSIZE"
#define QX_KEY_BACKUP_CONTROL          "BACKUP_CONTROL"
#define QX_KEY_BEEPER_CONTROL          "BEEPER_CONTROL"
#define QX_KEY_DO_NOT_COMPRESS         "DO_NOT_COMPRESS"
#define QX_KEY_ENERGY_LEVEL            "ENERGY_LEVEL"
#define QX_KEY_ENERGY_TABLE            "ENERGY_TABLE"
#define QX_KEY_EOD_CONTROL             "EOD_CONTROL"
#define QX_KEY_JAM_ERROR_CONTROL       "JAM_ERROR_CONTROL"
#define QX_KEY_LOCKED                  "LOCKED"
#define QX_KEY_LOW_PAPER_ACTIVE_DETECT "LOW_PAPER_ACTIVE_DETECT"
#define QX_KEY_LOW_PAPER_ALGORITHMN    "LOW_PAPER_ALGORITHMN"
#define QX_KEY_MIN_FORM_LENGTH         "MIN_FORM_LENGTH"
#define QX_KEY_ROTATE_IMAGE_180        "ROTATE_IMAGE_180"
#define QX_KEY_SJO_CONFIG              "SJO_CONFIG"
#define QX_KEY_TNT_CONTROL             "TNT_CONTROL"
#define QX_KEY_TNT_DISPOSE             "TNT_DISPOSE"
#define QX_KEY_TNT_EJECT_ALWAYS        "TNT_EJECT_ALWAYS"
#define QX_KEY_USE_IPS_LIMIT           "USE_IPS_LIMIT"

/* ------------------------------------------------------------------------ */
/* Host-owned records                                                       */
/* ------------------------------------------------------------------------ */

/* The records have the Win64 layout; their offsets are part of the binary
   interface. Packing is pinned so that a host's packing option cannot change
   them. */
QX_STATIC_ASSERT(sizeof(void *) == 8, "qxdll's records have the Win64 layout");

#pragma pack(push, 8)

/*
 * Status record, filled by qxParseStatus from a printer's status reply. A
 * field whose tag the reply did not carry stays zero. The texts are
 * zero-terminated unless a field says otherwise.
 */
typedef struct QX_STATUS_RECORD {
  LONG statusWord;          /* tag "00": high byte * 256 + low byte; QX_STATUS_ bits */
  LONG tag01Value;          /* tag "01": decimal value of its 3 characters */
  LONG tag02Value;          /* tag "02": decimal value of its 8 characters */
  LONG temperatureC;        /* tag "03": degrees Celsius */
  LONG temperatureF;        /* tag "03": temperatureC * 9 / 5 + 32, truncated */
  LONG formLength;          /* tag "04": hundredths of an inch, 0 for roll stock */
  char replyType[2];        /* the reply's first byte and a zero */
  char formLengthText[16];  /* tag "04": "%6.2f in." in inches, or "roll" */
  char temperatureText[4];  /* tag "03": its 3 characters */
  char tag02Text[9];        /* tag "02": its 8 characters */
  char tag01Text[4];        /* tag "01": its 3 characters */
  char statusWordText[8];   /* tag "00": "0x%4.4lx" of statusWord */
  char versionRaw[64];      /* tag "05": the version bytes as received */
  char firmwareVersion[16]; /* tag "05": its first 5 bytes */
  char versionDetail[16];   /* tag "05": its next 10 bytes */
} QX_STATUS_RECORD;

QX_STATIC_ASSERT(sizeof(QX_STATUS_RECORD) == 164, "status record is 164 bytes");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, statusWord) == 0, "statusWord");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, tag01Value) == 4, "tag01Value");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, tag02Value) == 8, "tag02Value");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, temperatureC) == 12, "temperatureC");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, temperatureF) == 16, "temperatureF");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, formLength) == 20, "formLength");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, replyType) == 24, "replyType");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, formLengthText) == 26, "formLengthText");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, temperatureText) == 42, "temperatureText");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, tag02Text) == 46, "tag02Text");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, tag01Text) == 55, "tag01Text");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, statusWordText) == 59, "statusWordText");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, versionRaw) == 67, "versionRaw");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, firmwareVersion) == 131, "firmwareVersion");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_STATUS_RECORD, versionDetail) == 147, "versionDetail");

/* Size of QX_FLASH_PROGRESS.Note. */
#define QX_FLASH_NOTE_SIZE 1024

/*
 * Flash progress record, filled by qxLMParseFlashProgress from a progress
 * text "State,Max,Current,PassFail,Note". Fields the text does not carry keep
 * their initial values: 0, 0, 0, 'F' and a single space.
 */
typedef struct QX_FLASH_PROGRESS {
  LONG State;                    /* first field */
  LONG Max;                      /* second field */
  LONG Current;                  /* third field */
  char PassFail;                 /* first character of the fourth field */
  char Note[QX_FLASH_NOTE_SIZE]; /* fifth field, zero-terminated */
} QX_FLASH_PROGRESS;

QX_STATIC_ASSERT(sizeof(QX_FLASH_PROGRESS) == 1040, "flash progress record is 1040 bytes");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_FLASH_PROGRESS, State) == 0, "State");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_FLASH_PROGRESS, Max) == 4, "Max");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_FLASH_PROGRESS, Current) == 8, "Current");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_FLASH_PROGRESS, PassFail) == 12, "PassFail");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_FLASH_PROGRESS, Note) == 13, "Note");

/*
 * Ticket document record, filled by qxMakeDocDC. docInfo is ready to be
 * passed to StartDocA on hdc; its cbSize holds the size of this whole record
 * (88), not that of DOCINFOA.
 */
typedef struct QX_TICKET_DOC {
  LONG pageWidth;    /* HORZRES of the device context, in pixels */
  LONG pageHeight;   /* VERTRES of the device context, in pixels */
  DWORD paperCode;   /* paper code of the chosen sheet (low 16 bits) */
  DWORD orientation; /* orientation applied: QX_ORIENT_PORTRAIT or _LANDSCAPE */
  HDC hdc;           /* the printer device context made */
  BYTE reserved[24]; /* not used by the library */
  DOCINFOA docInfo;  /* "Quixaro Sample Ticket", no output file, no data type */
} QX_TICKET_DOC;

QX_STATIC_ASSERT(sizeof(DOCINFOA) == 40, "DOCINFOA is 40 bytes on Win64");
QX_STATIC_ASSERT(sizeof(QX_TICKET_DOC) == 88, "ticket document record is 88 bytes");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, pageWidth) == 0, "pageWidth");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, pageHeight) == 4, "pageHeight");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, paperCode) == 8, "paperCode");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, orientation) == 12, "orientation");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, hdc) == 16, "hdc");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, reserved) == 24, "reserved");
QX_STATIC_ASSERT(QX_OFFSETOF(QX_TICKET_DOC, docInfo) == 48, "docInfo");

#pragma pack(pop)

/* ======================================================================== */
/* Core and discovery                                                       */
/* ======================================================================== */

/*
 * qxCopyData - copies bytes between buffers, for hosts without pointers.
 *   source (in), destination (out): the two areas; they must not overlap.
 *   count (in): number of bytes.
 * Returns destination in every case; nothing is copied when either address
 * is null.
 */
QX_EXPORT LPVOID QXAPI qxCopyData(LPCVOID source, LPVOID destination, DWORD count);

/*
 * qxGetAddressForObject - a value as a 32-bit number. A scripting host passes
 * a variable by reference and so learns its address.
 *   value (in): any pointer-sized value.
 * Returns its low 32 bits.
 */
QX_EXPORT DWORD QXAPI qxGetAddressForObject(ULONG_PTR value);

/*
 * qxGetDLLVersion - the library's version text, "2.0.0.9 (10/23/2018)".
 *   buffer (out), size (in): the caller's text buffer; it needs room for the
 *     20 characters and the zero (QX_DLL_VERSION_SIZE).
 *   length (out, may be null): 20.
 * Returns 1 when the text was copied; 0, with nothing written, when buffer is
 * null or too small.
 */
QX_EXPORT BOOL QXAPI qxGetDLLVersion(LPSTR buffer, DWORD size, DWORD *length);

/*
 * qxGetOSVersion - the operating-system version, as GetVersionExA gives it.
 *   record (out, may be null): receives the 148-byte record.
 *   versionText (out, may be null): receives the address of the library's
 *     constant version text; the caller must not change or free it.
 * Returns QX_ERR_OK, or QX_ERR_FAILED when the version cannot be read (record
 * and text then untouched). Also records whether the platform is NT, even
 * when record is null (qxIsNT).
 */
QX_EXPORT QXRESULT QXAPI qxGetOSVersion(LPOSVERSIONINFOA record, LPCSTR *versionText);

/*
 * qxGetStringFromLPSTR - wraps a text as an automation string.
 *   text (in, may be null).
 * Returns a new BSTR holding the text's 8-bit bytes unconverted (byte length
 * = the text's length), so that a scripting host receives the text as it
 * stands; an empty BSTR for null. The caller frees it with SysFreeString.
 */
QX_EXPORT BSTR QXAPI qxGetStringFromLPSTR(LPCSTR text);

/*
 * qxIsNT - returns 1 on the NT platform, else 0. Once set the flag stays set
 * until the library is unloaded.
 */
QX_EXPORT BOOL QXAPI qxIsNT(void);

/*
 * qxMakeUpperCase - copies a text with a to z turned into capitals; every
 * other byte, the zero included, is copied as it is.
 *   destination (out): room for the source's length plus one; no size is
 *     taken.
 *   source (in).
 * Returns QX_ERR_OK; QX_ERR_BAD_LENGTH for an empty or null source (checked
 * first); QX_ERR_BAD_DATA for a null destination. Nothing is written on
 * failure.
 */
QX_EXPORT QXRESULT QXAPI qxMakeUpperCase(LPSTR destination, LPCSTR source);

/*
 * qxSetVB - records that the host is a scripting host.
 *   value (in): stored; no operation of the library reads it.
 * Returns 0.
 */
QX_EXPORT LONG QXAPI qxSetVB(LONG value);

/*
 * qxEnumPrinters - the local printers, as EnumPrintersA lists them.
 *   buffer (out), bufferSize (in): receive the PRINTER_INFO_n records of the
 *     level, their strings packed after them.
 *   level (in): 1 to 5.
 *   needed (out): the size the spooler needs, in bytes.
 *   count (in/out): QX_COUNT_QUERY asks for the size only (buffer untouched);
 *     otherwise it receives the number of records.
 * Returns QX_ERR_OK; QX_ERR_BAD_ARG for a level outside 1 to 5 (the spooler
 * is not asked); QX_ERR_PRINTER_INFO when the spooler reports no size;
 * QX_ERR_BUFFER_SMALL when bufferSize is below the needed size.
 */
QX_EXPORT QXRESULT QXAPI qxEnumPrinters(BYTE *buffer, LONG bufferSize, DWORD level,
                                        DWORD *needed, LONG *count);

/*
 * qxGetDefaultPrinter - fills a page-setup record for the system's default
 * printer without showing a dialog.
 *   pageSetup (in/out): zeroed and set up afresh; its hDevMode and hDevNames
 *     then hold the default printer's device mode and names. Handles it held
 *     before are dropped, not freed.
 * Returns 0, or the common-dialog error code (CommDlgExtendedError), not a
 * result code, when there is no default printer.
 */
QX_EXPORT DWORD QXAPI qxGetDefaultPrinter(LPPAGESETUPDLGA pageSetup);

/*
 * qxGetPrinterNameAndPort - name, port and driver file of the printer a
 * page-setup record describes.
 *   pageSetup (in, may be null): null means the library's own record, filled
 *     with the default printer at load.
 *   printerName, portName, driver (out, QX_NAME_SIZE bytes each): the device
 *     and output names of the record, and the driver's file path (not its
 *     name), cut to 126 characters.
 *   nameLength, portLength, driverLength (out): their lengths.
 * Returns QX_ERR_OK, or QX_ERR_PRINTER_INFO when no record or no device names
 * are available or the printer cannot be opened.
 */
QX_EXPORT QXRESULT QXAPI qxGetPrinterNameAndPort(LPPAGESETUPDLGA pageSetup, LPSTR printerName,
                                                 DWORD *nameLength, LPSTR portName,
                                                 DWORD *portLength, LPSTR driver,
                                                 DWORD *driverLength);

/*
 * qxNewGetDefaultPrinter - the system default printer's name, through
 * GetDefaultPrinterA.
 *   name (out).
 *   size (in/out): the buffer's size in characters; as GetDefaultPrinterA
 *     defines it, receives the characters needed when the buffer is too small.
 * Returns QX_ERR_OK, or QX_ERR_FAILED when there is no default printer, the
 * buffer is too small or the spooler call is unavailable.
 */
QX_EXPORT QXRESULT QXAPI qxNewGetDefaultPrinter(LPSTR name, DWORD *size);

/*
 * qxNewGetPrinterDriver - the driver name of a printer.
 *   printerName (in).
 *   driverName (out, QX_NAME_SIZE bytes): emptied first.
 * Returns QX_ERR_OK; QX_ERR_PRINTER_INFO when the printer cannot be opened;
 * QX_ERR_FAILED when its driver record cannot be read.
 */
QX_EXPORT QXRESULT QXAPI qxNewGetPrinterDriver(LPCSTR printerName, LPSTR driverName);

/*
 * qxNewGetPrinterPort - the spooler port of a printer.
 *   printerName (in).
 *   portName (out, QX_NAME_SIZE bytes): emptied first.
 * Returns QX_ERR_OK; QX_ERR_PRINTER_INFO when the printer cannot be opened or
 * its record read; QX_ERR_FAILED when the size query or allocation fails.
 */
QX_EXPORT QXRESULT QXAPI qxNewGetPrinterPort(LPCSTR printerName, LPSTR portName);

/*
 * qxLMGetDriverVersion - the version of a printer's driver package, such as
 * "2.05" or "5.0.0.2". Older user-interface modules carry no usable version
 * resource, so known builds are recognised by file name and date first; then
 * the version module's resource, then the user-interface module's own.
 *   printerName (in, may be null or empty for the current printer).
 *   text (out), size (in): emptied on entry, then receive the version text.
 *   length (out): the text's length, written only together with a text.
 * Returns 1 when a non-empty version was written, else 0 (not a result code).
 */
QX_EXPORT BOOL QXAPI qxLMGetDriverVersion(LPCSTR printerName, LPSTR text, DWORD size,
                                          DWORD *length);

/* ======================================================================== */
/* Language-monitor pipe                                                    */
/* ======================================================================== */

/*
 * The printer's language monitor serves the pipe QX_PIPE_PREFIX + port name.
 * Each transaction opens it, writes one request, reads one reply and closes it
 * again, under a process-wide lock. Replies the monitor marks as failed give
 * QX_ERR_FAILED; status and information queries also fail on "printer not
 * responding" (QX_ERR_NO_RESPONSE) and "time-out" (QX_ERR_LM_TIMEOUT), which
 * printer commands accept as success. Every pipe export can also return
 * QX_ERR_PIPE_BUSY and QX_ERR_NO_PIPE from opening the pipe, and
 * QX_ERR_BAD_REPLY when the reply is not a frame at all (the caller's buffer
 * is then left alone). Texts too long for one request give QX_ERR_BAD_LENGTH
 * and null buffers, flags or lengths QX_ERR_NULL_ARG, both before anything is
 * sent.
 *
 * Reply-text exports (those with a text buffer and its size) receive at most
 * size - 2 characters and a zero, one fewer than the buffer could hold; on
 * failure the buffer holds the failure in words ("NAMED PIPE IS BUSY",
 * "COULD NOT OPEN PIPE", "WRITE PIPE FAILED", "READ PIPE FAILED"). The size
 * must be at least 2.
 */

/*
 * qxLMOpenPipe - opens a language-monitor pipe into the library's pipe handle.
 *   pipeName (in).
 *   timeout (in): milliseconds to wait while the pipe is busy, in 100 ms
 *     slices; below 100 a busy pipe fails at once.
 * Returns QX_ERR_OK with the pipe open (close it with qxLMClosePipe),
 * QX_ERR_PIPE_BUSY, or QX_ERR_NO_PIPE (empty name, no monitor, or message
 * mode refused). A missing pipe makes the spooler reload the monitor first,
 * by rewriting the current printer's settings and, for the maker's printers,
 * spooling and deleting a blank document: up to three opens and 1.5 s of
 * pauses. Takes no lock: do not overlap with other pipe calls.
 */
QX_EXPORT QXRESULT QXAPI qxLMOpenPipe(LPCSTR pipeName, DWORD timeout);

/*
 * qxLMClosePipe - closes the library's pipe handle. Returns 1, also when no
 * pipe is open. Takes no lock: do not overlap with other pipe calls.
 */
QX_EXPORT BOOL QXAPI qxLMClosePipe(void);

/*
 * qxLMIsPipe - returns 1 when the current printer's language monitor answers
 * (its pipe opens or is busy), else 0.
 */
QX_EXPORT BOOL QXAPI qxLMIsPipe(void);

/*
 * qxLMPtrIsPipe - qxLMIsPipe for a named printer, through the pipe of that
 * printer's port; the library's own pipe name is left alone.
 *   printerName (in).
 * Returns 1 when its monitor answers; 0 otherwise, also for a null name or a
 * printer the spooler does not know.
 */
QX_EXPORT BOOL QXAPI qxLMPtrIsPipe(LPCSTR printerName);

/*
 * qxLMSetPipeName - sets the pipe name every transaction uses until the
 * current printer changes.
 *   pipeName (in): a longer name is cut to 255 characters; null changes
 *     nothing.
 * Returns 1.
 */
QX_EXPORT BOOL QXAPI qxLMSetPipeName(LPCSTR pipeName);

/*
 * qxLMSetPipeTimeOut - sets how long a busy pipe is waited for.
 *   timeout (in): milliseconds, stored unchecked; it bounds only the waiting
 *     for a busy pipe, not reads or writes. (DWORD)-1 waits practically
 *     without end.
 * Returns 1.
 */
QX_EXPORT BOOL QXAPI qxLMSetPipeTimeOut(DWORD timeout);

/*
 * qxLMSetStatusTimeOut - sets the status time-out the monitor is given with
 * every status inquiry.
 *   timeout (in): milliseconds, stored unchecked; only its low 16 bits travel.
 * Returns 1.
 */
QX_EXPORT BOOL QXAPI qxLMSetStatusTimeOut(DWORD timeout);

/*
 * qxLMRFIDPrinter - passes bytes to the current printer's RFID function and
 * returns its answer.
 *   request (in), requestCount (in): 1 to 1024 bytes.
 *   reply (out), replySize (in): 1 to 1024; cleared before the reply arrives.
 *   replyLength (out): set to 0 first, then the number of reply bytes
 *     delivered (at most replySize); null gives QX_ERR_BAD_ARG.
 *   reserved (in): accepted, no effect.
 * Returns QX_ERR_OK; QX_ERR_BAD_DATA, QX_ERR_BAD_LENGTH, QX_ERR_BAD_BUFFER or
 * QX_ERR_BAD_ARG for bad arguments (checked before the pipe is touched);
 * QX_ERR_PIPE_TIMEOUT when no reply is read within 2200 ms;
 * QX_ERR_NO_RESPONSE when the printer does not answer (the reply bytes are
 * delivered all the same); QX_ERR_BAD_REPLY for a malformed reply.
 */
QX_EXPORT QXRESULT QXAPI qxLMRFIDPrinter(const BYTE *request, DWORD requestCount, BYTE *reply,
                                         DWORD replySize, DWORD *replyLength, LONG reserved);

/*
 * qxLMPtrRFIDPrinter - qxLMRFIDPrinter for a named printer.
 *   printerName (in): null, or 128 characters or more, gives QX_ERR_BAD_ARG;
 *     a printer the spooler cannot open gives QX_ERR_NO_PIPE.
 *   the rest as for qxLMRFIDPrinter.
 */
QX_EXPORT QXRESULT QXAPI qxLMPtrRFIDPrinter(LPCSTR printerName, const BYTE *request,
                                            DWORD requestCount, BYTE *reply, DWORD replySize,
                                            DWORD *replyLength, LONG reserved);

/*
 * qxLMGetStatus - the printer's status reply, through the language monitor.
 *   requestIndex (in): QX_REQ_IS to QX_REQ_LM_STATUS; any other value,
 *     negative ones included, asks QX_REQ_IS.
 *   reply (out), replySize (in): the reply bytes as the printer sent them,
 *     not terminated; decode them with qxParseStatus. Nothing is written past
 *     replySize; replies are at most 1017 bytes, so 1024 always suffice.
 *   replyLength (out): the number of reply bytes delivered.
 * Returns QX_ERR_OK or a pipe failure; the reply is delivered also when the
 * monitor marks it as failed. QX_ERR_NULL_ARG for a null reply or length.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetStatus(LONG requestIndex, BYTE *reply, DWORD replySize,
                                       DWORD *replyLength);

/*
 * qxLMGetAddStatus - qxLMGetStatus with the caller's own inquiry.
 *   inquiry (in): the inquiry bytes, sent without the terminator; at most
 *     1015 (QX_ERR_BAD_LENGTH beyond).
 *   reply, replySize, replyLength: as for qxLMGetStatus.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetAddStatus(LPCSTR inquiry, BYTE *reply, DWORD replySize,
                                          DWORD *replyLength);

/*
 * qxLMPtrGetStatus - qxLMGetStatus for a named printer. The library switches
 * to that printer with qxSetNewPrinter for the call, then puts back the
 * current printer name, port name and pipe name. The driver name and the
 * language-monitor flag keep the named printer's values.
 *   printerName (in); requestIndex, reply, replySize, replyLength as for
 *     qxLMGetStatus.
 * Returns as qxLMGetStatus; QX_ERR_NO_PIPE for a null name, reply or length,
 * a size of 0, or a printer that cannot be opened.
 */
QX_EXPORT QXRESULT QXAPI qxLMPtrGetStatus(LPCSTR printerName, LONG requestIndex, BYTE *reply,
                                          DWORD replySize, DWORD *replyLength);

/*
 * Status condition getters. Each asks for the QX_REQ_IS reply and sets its
 * flag (out) to 1 or 0 from the status word; when the query fails the result
 * is its code and the flag is left untouched. Two getters called one after
 * the other may see two different replies.
 *   qxLMGetOutOfPaperStatus      1 when QX_STATUS_OUT_OF_PAPER is set
 *   qxLMGetHeadLeverOpenStatus   1 when QX_STATUS_HEAD_LEVER_OPEN is set
 *   qxLMGetJamStatus             1 when any bit of QX_STATUS_JAM is set
 *   qxLMGetManDeselectStatus     1 when QX_STATUS_MAN_DESELECT is set
 *   qxLMGetPrinterOKStatus       1 when QX_STATUS_NOT_READY and
 *                                QX_STATUS_LOW_PAPER are both clear
 *   qxLMGetPrinterOKStatus2      1 when QX_STATUS_NOT_READY is clear
 *   qxLMGetLowPaperStatus        1 when QX_STATUS_LOW_PAPER is set
 *   qxLMGetTicketNotTakenStatus  1 when QX_STATUS_TICKET_NOT_TAKEN is set
 */
QX_EXPORT QXRESULT QXAPI qxLMGetOutOfPaperStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetHeadLeverOpenStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetJamStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetManDeselectStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetPrinterOKStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetPrinterOKStatus2(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetLowPaperStatus(BOOL *flag);
QX_EXPORT QXRESULT QXAPI qxLMGetTicketNotTakenStatus(BOOL *flag);

/*
 * qxLMGetPrintInProgress - whether the monitor is printing.
 *   inProgress (out): on QX_ERR_OK, 1 when the reply begins with "D", else 0;
 *     untouched on failure.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetPrintInProgress(BOOL *inProgress);

/*
 * qxLMGetCRCError - whether the monitor has a CRC error flagged.
 *   crcError (out): written on every path: 1 when a reply was read and begins
 *     with "1", else 0, also when the monitor marked the reply as failed.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetCRCError(BOOL *crcError);

/*
 * qxLMGetPrinterName, qxLMGetPortName, qxLMGetLMVersion - the printer name,
 * the port name and the monitor's version text, as the monitor reports them.
 *   reply (out), replySize (in), replyLength (out): as for qxLMGetStatus. The
 *     text is not terminated by the library: use replyLength.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetPrinterName(BYTE *reply, DWORD replySize, DWORD *replyLength);
QX_EXPORT QXRESULT QXAPI qxLMGetPortName(BYTE *reply, DWORD replySize, DWORD *replyLength);
QX_EXPORT QXRESULT QXAPI qxLMGetLMVersion(BYTE *reply, DWORD replySize, DWORD *replyLength);

/*
 * Printer commands through the language monitor; the reply text is
 * discarded. Replies marked "printer not responding" or "time-out" count as
 * success.
 *   qxLMAbortDocument         aborts the document in progress
 *   qxLMClearCRCError         clears a flagged CRC error
 *   qxLMResetPrinter          resets the printer
 *   qxLMSetHeartBeat          setting: only its low 8 bits are sent
 *   qxLMSetHeartBeatRate      rate: sent as 32 bits
 *   qxLMSetSpoolerSaveMethod  method: only its low 8 bits are sent
 *   qxLMWDSetup               two flags (sent as 1 or 0) and two values
 *                             (only their low 8 bits are sent)
 */
QX_EXPORT QXRESULT QXAPI qxLMAbortDocument(void);
QX_EXPORT QXRESULT QXAPI qxLMClearCRCError(void);
QX_EXPORT QXRESULT QXAPI qxLMResetPrinter(void);
QX_EXPORT QXRESULT QXAPI qxLMSetHeartBeat(LONG setting);
QX_EXPORT QXRESULT QXAPI qxLMSetHeartBeatRate(LONG rate);
QX_EXPORT QXRESULT QXAPI qxLMSetSpoolerSaveMethod(LONG method);
QX_EXPORT QXRESULT QXAPI qxLMWDSetup(BOOL firstFlag, BOOL secondFlag, LONG firstValue,
                                     LONG secondValue);

/*
 * qxLMSetRegistryKey - has the monitor write a registry value.
 *   key (in): the value's name, at most 507 characters (QX_ERR_BAD_LENGTH
 *     beyond).
 *   value (in).
 *   text (out), textSize (in): the monitor's reply text, or the failure in
 *     words; emptied first.
 *   replyLength (out): the reply's length, 0 when none was read.
 */
QX_EXPORT QXRESULT QXAPI qxLMSetRegistryKey(LPCSTR key, LONG value, LPSTR text, DWORD textSize,
                                            LONG *replyLength);

/*
 * qxLMProgramFlash - has the monitor program the printer's flash from a file.
 *   fileName (in): the firmware file as the monitor sees it, at most 1016
 *     characters (QX_ERR_BAD_LENGTH beyond).
 *   flag (in): sent as "T" when nonzero, "F" when zero.
 *   text (out), textSize (in): the monitor's reply text, or the failure in
 *     words; emptied first. Follow the run with qxLMGetProgress.
 */
QX_EXPORT QXRESULT QXAPI qxLMProgramFlash(LPCSTR fileName, BOOL flag, LPSTR text,
                                          DWORD textSize);

/*
 * qxLMGetProgress - a progress report from the monitor, such as the progress
 * text of a flash run (see qxLMParseFlashProgress).
 *   request (in): the request text, at most 127 characters
 *     (QX_ERR_BAD_LENGTH beyond).
 *   text (out), textSize (in): the reply text, or the failure in words;
 *     emptied first.
 *   replyLength (out): the reply's length, 0 when none was read.
 */
QX_EXPORT QXRESULT QXAPI qxLMGetProgress(LPCSTR request, LPSTR text, DWORD textSize,
                                         LONG *replyLength);

/*
 * qxLMRefresh - makes the spooler reload the current printer's language
 * monitor by rewriting the printer's settings unchanged. Opens no pipe.
 * Returns QX_ERR_OK or the failure of the settings change (for instance
 * QX_ERR_NO_PRINTER).
 */
QX_EXPORT QXRESULT QXAPI qxLMRefresh(void);

/*
 * qxLMParseFlashProgress - takes a progress text apart. No pipe is involved.
 *   text (in): "State,Max,Current,PassFail,Note", at most 1023 characters.
 *     Empty fields do not count, so "3,,7" gives State 3 and Max 7; Note ends
 *     at the next comma.
 *     A longer text is cut to 1023 characters.
 *   progress (out): set to its initial values, then filled.
 * Returns QX_ERR_OK for any text; QX_ERR_NULL_ARG when text or progress is
 * null (nothing written).
 */
QX_EXPORT QXRESULT QXAPI qxLMParseFlashProgress(LPCSTR text, QX_FLASH_PROGRESS *progress);

/* ======================================================================== */
/* Port and status                                                          */
/* ======================================================================== */

/*
 * qxAcquirePort - takes the printer port from the spooler before the host or
 * the library talks to the port directly; pair with qxReleasePort.
 *   printerName (in): the printer whose port is wanted.
 * When the current printer's language monitor answers, no port is taken: the
 * library marks the monitor available, so status reads go through it, and
 * printerName is not looked at. Otherwise, on NT, every queue on that
 * printer's port is moved to "FILE:" (USB ports never are): all of them or,
 * when one cannot be moved, none. Calling again while queues are moved gives
 * them back first.
 * Returns QX_ERR_OK; QX_ERR_JOBS_PENDING when a printer on the port (or, with
 * the monitor, the current printer) has spooled jobs; QX_ERR_NULL_ARG,
 * QX_ERR_PRINTER_INFO, QX_ERR_NO_PRINTER (name not among the printers),
 * QX_ERR_NO_MEMORY or QX_ERR_FAILED; or the failure of moving a queue
 * (QX_ERR_SETPRINTER, QX_ERR_GETPRINTER, ...), with every queue back on
 * its port, or of giving back the queues of an earlier acquisition.
 */
QX_EXPORT QXRESULT QXAPI qxAcquirePort(LPCSTR printerName);

/*
 * qxReleasePort - gives every queue moved by qxAcquirePort its own port back.
 * After an acquisition through the language monitor it only clears the
 * monitor-available mark, so later status reads take the port directly until
 * something sets it again. Runs at unload too while queues are moved.
 * Returns QX_ERR_OK; or the failure of a queue the spooler would not give
 * its port back (QX_ERR_SETPRINTER, ...): that queue stays in the library's
 * record, and the next qxReleasePort (or the unload) tries it again.
 */
QX_EXPORT QXRESULT QXAPI qxReleasePort(void);

/*
 * qxGetSpoolingStatus - whether the current printer has spooled jobs.
 *   jobsPending (out): 1 when it has at least one, else 0.
 * Returns QX_ERR_OK; QX_ERR_FAILED, QX_ERR_GETPRINTER or QX_ERR_NO_MEMORY;
 * QX_ERR_NULL_ARG for a null jobsPending.
 */
QX_EXPORT QXRESULT QXAPI qxGetSpoolingStatus(BOOL *jobsPending);

/*
 * qxGetStatus - the printer's raw status reply, through the language monitor
 * when it is known to answer, otherwise from the port directly.
 *   requestIndex (in): QX_REQ_IS to QX_REQ_IC; QX_REQ_NONE only reads on the
 *     direct road (the monitor is sent QX_REQ_IS instead).
 *   reply (out): the bytes as received, not terminated. On the direct road
 *     the rest of the buffer is filled with 0xFF, which ends qxParseStatus'
 *     walk.
 *   replyLength (in): the buffer's size and the number of bytes asked of one
 *     read.
 *   bytesRead (in/out): must be 0 on entry; the number of bytes read.
 * Returns QX_ERR_OK when bytes were read; QX_ERR_FAILED when none came or
 * the monitor failed (its code is not passed on); QX_ERR_PORT_OPEN when the
 * port could not be opened. On NT a silent printer is tried three times,
 * 5 s apart, before a last read: about 15 s. Take the port with qxAcquirePort
 * first; while the spooler holds it no status comes from the port.
 */
QX_EXPORT QXRESULT QXAPI qxGetStatus(LONG requestIndex, BYTE *reply, LONG replyLength,
                                     DWORD *bytesRead);

/*
 * qxGetAddStatus - qxGetStatus with the caller's own request.
 *   request (in): the request bytes, sent without the terminator.
 *   reply, replyLength, bytesRead: as for qxGetStatus.
 */
QX_EXPORT QXRESULT QXAPI qxGetAddStatus(LPCSTR request, BYTE *reply, LONG replyLength,
                                        DWORD *bytesRead);

/*
 * qxGetStatus_NT_2K_XP - the printer's raw status reply, always from the port
 * directly, in one attempt. A first read shows whether the printer is busy;
 * a busy printer is sent nothing and that first read is the reply.
 *   requestIndex (in): QX_REQ_NONE (only read, no busy check) or QX_REQ_IS to
 *     QX_REQ_IC.
 *   reply (out), replyLength (in), bytesRead (out): as for qxGetStatus.
 * Returns QX_ERR_OK; QX_ERR_PORT_OPEN; QX_ERR_NO_RESPONSE when a read or the
 * write failed or the reply is empty.
 */
QX_EXPORT QXRESULT QXAPI qxGetStatus_NT_2K_XP(LONG requestIndex, BYTE *reply, LONG replyLength,
                                              DWORD *bytesRead);

/*
 * qxGetAddStatus_NT_2K_XP - qxGetStatus_NT_2K_XP with the caller's own
 * request (in, sent without the terminator).
 */
QX_EXPORT QXRESULT QXAPI qxGetAddStatus_NT_2K_XP(LPCSTR request, BYTE *reply, LONG replyLength,
                                                 DWORD *bytesRead);

/*
 * qxParseStatus - decodes a status reply into the status record.
 *   reply (in): the reply as a status export delivered it.
 *   replyLength (in): bounds the walk. Pass the reply buffer's size rather
 *     than the count read: the 0xFF fill and any unknown tag end the walk.
 *   record (out): zeroed, then filled.
 * Returns QX_ERR_OK, or QX_ERR_BAD_STATUS when the reply does not begin with
 * S, N, E, A or C (replyType is set even then).
 */
QX_EXPORT QXRESULT QXAPI qxParseStatus(const BYTE *reply, LONG replyLength,
                                       QX_STATUS_RECORD *record);

/*
 * qxSetNTPort - gives the current printer a parallel port for good.
 *   portNumber (in): only its low 8 bits count: 2 gives "LPT2:", 3 "LPT3:",
 *     anything else "LPT1:".
 * Does nothing, and returns QX_ERR_OK, while the language monitor is known to
 * answer. Returns QX_ERR_OK; QX_ERR_GETPRINTER, QX_ERR_NO_MEMORY,
 * QX_ERR_FAILED, QX_ERR_SETPRINTER; or the Windows error code when the
 * printer cannot be opened. The library's record of the current port is not
 * updated.
 */
QX_EXPORT QXRESULT QXAPI qxSetNTPort(DWORD portNumber);

/*
 * qxSetNTPortAscii - gives the current printer any spooler port for good,
 * also while the language monitor answers. The change is not undone by
 * qxReleasePort.
 *   portName (in): the new port name, used unchanged.
 * Returns as qxSetNTPort; QX_ERR_NULL_ARG for a null name.
 */
QX_EXPORT QXRESULT QXAPI qxSetNTPortAscii(LPCSTR portName);

/* ======================================================================== */
/* Spooler settings                                                         */
/* ======================================================================== */

/*
 * qxSetSheetSize - makes the driver sheet closest to a ticket size the
 * current printer's default paper: nearest length first, then nearest width,
 * then the driver's order.
 *   width, length (in/out): the size asked for in inches, each a number
 *     above 0 and below 9999; receive the chosen sheet's size, rounded to
 *     two decimals, whenever the driver's sheets were read.
 * Returns QX_ERR_OK; QX_ERR_SIZE_MISMATCH when the sheet was set but its size
 * is not exactly the one asked for (so any request that is not a two-decimal
 * size of a driver sheet); QX_ERR_NULL_ARG for a null pointer and
 * QX_ERR_BAD_DATA for a size that is NaN, 0, negative, 9999 or more, both
 * before the printer is asked, with nothing written or logged; or the
 * failure of the settings change.
 */
QX_EXPORT QXRESULT QXAPI qxSetSheetSize(float *width, float *length);

/*
 * qxEnumSheetSizes - the current printer driver's sheets.
 *   names (out): QX_SHEET_NAME_SIZE characters per sheet, not terminated when
 *     full; may be null for a count query.
 *   codes (out): one paper code per sheet; may be null for a count query.
 *   count (in/out): QX_COUNT_QUERY receives the number of sheets (-1 when the
 *     driver cannot be asked). Otherwise the number of entries both buffers
 *     hold (0 or more): at most that many are written, and the count
 *     receives the number written, or the number needed when the driver has
 *     more.
 * Returns QX_ERR_OK; QX_ERR_BUFFER_SMALL when the driver has more sheets
 * than the count allows (the first ones are written); QX_ERR_BAD_ARG for a
 * count below QX_COUNT_QUERY (nothing written, the driver not asked);
 * QX_ERR_NULL_ARG for a null names buffer outside a count query; the failure
 * of the printer's identity query; QX_ERR_NO_MEMORY; or the Windows error
 * code when the driver's lists cannot be fetched.
 */
QX_EXPORT QXRESULT QXAPI qxEnumSheetSizes(LPSTR names, WORD *codes, LONG *count);

/*
 * qxSetOrientation - sets the current printer's default orientation.
 *   orientation (in): QX_ORIENT_PORTRAIT or QX_ORIENT_LANDSCAPE; not checked.
 * Returns QX_ERR_OK, or the failure of the settings change (QX_ERR_FAILED
 * when the driver has no orientation setting).
 */
QX_EXPORT QXRESULT QXAPI qxSetOrientation(SHORT orientation);

/*
 * qxSetBinByBinID - sets the current printer's default output bin.
 *   binId (in): a bin code of the driver (qxEnumBins); not checked.
 * Returns as qxSetOrientation.
 */
QX_EXPORT QXRESULT QXAPI qxSetBinByBinID(SHORT binId);

/*
 * qxSetBinByBinName - sets the output bin that bears a name; when several do,
 * the last in the driver's list.
 *   binName (in): compared exactly, case included.
 * Returns QX_ERR_OK once the bin is found, even when the driver then refuses
 * the change; QX_ERR_BIN_NOT_FOUND; QX_ERR_DEVICE when the bin list cannot be
 * read.
 */
QX_EXPORT QXRESULT QXAPI qxSetBinByBinName(LPCSTR binName);

/*
 * qxEnumBins - the current printer driver's output bins.
 *   names (out): QX_BIN_NAME_SIZE characters per bin, not terminated when
 *     full.
 *   codes (out): one bin code per bin.
 *   count (in/out): as for qxEnumSheetSizes; a null buffer receives nothing.
 * Returns QX_ERR_OK; QX_ERR_BUFFER_SMALL, with the count the number of bins,
 * when the driver has more bins than the count allows; QX_ERR_BAD_ARG for a
 * count below QX_COUNT_QUERY; QX_ERR_NO_MEMORY; or the Windows error code
 * when the lists cannot be fetched. An unknown printer shows as a count of -1.
 */
QX_EXPORT QXRESULT QXAPI qxEnumBins(LPSTR names, WORD *codes, LONG *count);

/*
 * qxSetNewPrinter - makes an installed printer the current printer for every
 * later call: name, port, driver and pipe name, and probes its language
 * monitor (up to 10 s, possibly reloading it). The sheet table built at load
 * stays as it was.
 *   printerName (in): at most 127 characters.
 * Returns 1 when the printer became current, 0 (nothing changed) when the
 * spooler cannot open it.
 */
QX_EXPORT BOOL QXAPI qxSetNewPrinter(LPCSTR printerName);

/*
 * qxSetPrinterKeyByName - writes a numeric driver setting into the current
 * printer's printer data.
 *   keyName (in): must begin with one of the QX_KEY_ names (case included),
 *     and the printer must already hold a value of that exact name; the value
 *     is written under the listed name.
 *   value (in): stored as a 32-bit REG_DWORD.
 * Returns QX_ERR_OK; QX_ERR_UNKNOWN_KEY; QX_ERR_NO_PRINTER; QX_ERR_KEY_WRITE.
 */
QX_EXPORT QXRESULT QXAPI qxSetPrinterKeyByName(LPCSTR keyName, LONG value);

/* ======================================================================== */
/* Flash                                                                    */
/* ======================================================================== */

/*
 * qxProgramFlash - reprograms the printer's firmware from a file over the
 * port. The port is taken for the run and given back on every exit.
 *   fileName (in/out): the firmware file; turned into capitals in place.
 *   smartMode (in): nonzero checks that the printer is ready, that the file
 *     suits the model and firmware version, and puts the printer into its
 *     flash-reprogram mode; zero sends the file straight to a printer that is
 *     already waiting for firmware.
 *   version (out), versionSize (in): on success, zeroed and then given the
 *     new firmware version followed by the further version text.
 *   verbose (in): nonzero writes progress lines to the debugger output.
 * Returns QX_ERR_OK; QX_ERR_NOT_READY; QX_ERR_FILE_NOT_FOUND;
 * QX_ERR_BAD_EXTENSION, QX_ERR_UNKNOWN_MODEL, QX_ERR_NO_PERMISSION;
 * QX_ERR_NO_FLASH_MODE; QX_ERR_FLASH_FAILED when the printer gave no status
 * after two transfers. Blocks for at least 20 s (36 s in smart mode) plus the
 * transfer, twice that when the first transfer fails. Runs must not overlap.
 */
QX_EXPORT QXRESULT QXAPI qxProgramFlash(LPSTR fileName, BOOL smartMode, LPSTR version,
                                        DWORD versionSize, DWORD verbose);

/* ======================================================================== */
/* Fonts and device contexts                                                */
/* ======================================================================== */

/*
 * qxCreateFont - a logical font for one of the printer's device fonts, with
 * that font's cell height and width.
 *   reserved (in): not used.
 *   faceName (in): a device font face name such as "F01 2:2 NR 14.5 cpi",
 *     matched exactly, case and blanks included.
 * Returns the new font, owned by the caller (qxDeleteObject), or NULL when
 * the name is not a known device font or the font cannot be created.
 */
QX_EXPORT HFONT QXAPI qxCreateFont(LPVOID reserved, LPCSTR faceName);

/*
 * qxFindMaxFont - the largest font in which a text fits a box, found by
 * shrinking the height (by 20 %) until it fits, then the width (by 5 %).
 *   hdc (in): the device context to measure on.
 *   boxWidth, boxHeight (in): the box, in logical units.
 *   text (in).
 *   font (in/out): the caller's description; lfHeight and lfWidth are
 *     overwritten, all else is kept. Untouched when the box is empty.
 * Returns the font handle as a 32-bit value ((HFONT)(LONG_PTR) turns it back;
 * graphics handles keep their 32 bits), owned by the caller; 0 for an empty
 * box or when the font cannot be created. After 500 tries the last font is
 * returned even if the text does not fit; font is then one step smaller.
 */
QX_EXPORT LONG QXAPI qxFindMaxFont(HDC hdc, LONG boxWidth, LONG boxHeight, LPCSTR text,
                                   LPLOGFONTA font);

/*
 * qxFontFX - draws a text centred in a box over a copy of itself offset in
 * another colour.
 *   hdc (in); box (in); text (in).
 *   effect (in): QX_FX_SHADOW_RIGHT_DOWN or QX_FX_SHADOW_LEFT_UP.
 *   textColor, effectColor (in).
 * Returns 0. The device context keeps textColor as its text colour.
 */
QX_EXPORT LONG QXAPI qxFontFX(HDC hdc, const RECT *box, LPCSTR text, LONG effect,
                              COLORREF textColor, COLORREF effectColor);

/*
 * qxTextOut - TextOutA of a whole text (up to its zero) at x, y.
 * Returns TextOutA's result (nonzero on success), widened to 64 bits with its
 * sign.
 */
QX_EXPORT LONGLONG QXAPI qxTextOut(HDC hdc, int x, int y, LPCSTR text);

/*
 * qxSelectObject - SelectObject for hosts that cannot call graphics directly.
 * Returns the previously selected object.
 */
QX_EXPORT HGDIOBJ QXAPI qxSelectObject(HDC hdc, HGDIOBJ object);

/*
 * qxDeleteObject - DeleteObject, to release the fonts of qxCreateFont and
 * qxFindMaxFont. Returns its result.
 */
QX_EXPORT BOOL QXAPI qxDeleteObject(HGDIOBJ object);

/*
 * qxGetHDC - a printer device context for the device mode of a page-setup
 * record, as it stands.
 *   pageSetup (in): its hDevMode is used.
 *   hdc (out): the new device context, owned by the caller (DeleteDC); NULL
 *     on failure.
 * Returns QX_ERR_OK; QX_ERR_NULL_ARG for a null record or hdc address
 * (nothing stored) or a record without a device mode (NULL stored); or the
 * Windows error code when the device context cannot be created.
 */
QX_EXPORT QXRESULT QXAPI qxGetHDC(LPPAGESETUPDLGA pageSetup, HDC *hdc);

/*
 * qxMakeDocDC - a printer device context set up for one ticket, with a ready
 * document description.
 *   orientation (in): QX_ORIENT_KEEP, QX_ORIENT_PORTRAIT or
 *     QX_ORIENT_LANDSCAPE.
 *   length (in): the ticket length in inches; 0 keeps the paper. The first
 *     sheet (of those found when the library was loaded) within 0.1 inch is
 *     taken, else the middle one.
 *   useBin (in): nonzero applies the device mode's default source.
 *   doc (out): the ticket document record.
 *   pageSetup (in/out): its device mode gets the changes; only their field
 *     mask is restored afterwards.
 *   hdc (in/out): a device context already stored there is deleted first;
 *     receives the new one, owned by the caller (DeleteDC), NULL on failure.
 * Returns QX_ERR_OK; QX_ERR_BAD_DATA for another orientation, or a length
 * that is not a finite number of 0 or more (nothing changed); QX_ERR_NULL_ARG
 * for a null doc, pageSetup or hdc address, or a record without a device
 * mode (nothing touched); or the Windows error code when the device context
 * cannot be created. With no ticket sheets the paper stays as it is.
 */
QX_EXPORT QXRESULT QXAPI qxMakeDocDC(DWORD orientation, float length, BOOL useBin,
                                     QX_TICKET_DOC *doc, LPPAGESETUPDLGA pageSetup, HDC *hdc);

/* ======================================================================== */
/* Raw printing and cash drawer                                             */
/* ======================================================================== */

/*
 * Raw documents go to the current printer with data type "RAW": the driver
 * does not render them and the spooler hands the bytes to the port. One raw
 * document can be open per process at a time; hosts serialise them.
 */

/*
 * qxPrintBypassOpenPrinter - opens the current printer and starts a raw
 * document of one page.
 *   docName (in): the document's name in the queue.
 * Returns 1, or 0 with nothing left open.
 */
QX_EXPORT BOOL QXAPI qxPrintBypassOpenPrinter(LPCSTR docName);

/*
 * qxPrintBypassWritePrinter - writes bytes into the open raw page.
 *   data (in), length (in): the bytes; a length of 0 is accepted.
 * Returns 1 when all bytes were written. Returns 0 when the spooler refuses
 * the write: the document is deleted, so nothing of it prints, and the
 * printer closed. Returns 0 with the document still open when the write was
 * short: the host writes the rest, or closes.
 */
QX_EXPORT BOOL QXAPI qxPrintBypassWritePrinter(LPCVOID data, LONG length);

/*
 * qxPrintBypassClosePrinter - ends the raw page and document and closes the
 * printer. Returns 1 when the document was ended and goes to the printer.
 * Returns 0 when the spooler refused to end the page or the document: it is
 * then deleted, so nothing of it prints and the host may print it again. The
 * printer is closed either way.
 */
QX_EXPORT BOOL QXAPI qxPrintBypassClosePrinter(void);

/*
 * qxPrintBypassPrintDocument - open, write and close in one call. After a
 * short write the rest is written until the document is whole; the printer
 * receives the whole document or nothing.
 *   docName (in); data (in), length (in): null data with a nonzero length,
 *     or a negative length, gives 0 before the printer is opened.
 * Returns 1 when the whole document was spooled, else 0 with nothing left
 * open; a document refused part way is deleted.
 */
QX_EXPORT BOOL QXAPI qxPrintBypassPrintDocument(LPCSTR docName, LPCVOID data, LONG length);

/*
 * qxPulseCashDrawerGPrinter - opens the cash drawer on the printer's drawer
 * output, only when the language monitor reports the printer in order (see
 * qxLMGetPrinterOKStatus); without the monitor the drawer is never pulsed.
 * Returns 1 when the drawer command was spooled, else 0.
 */
QX_EXPORT BOOL QXAPI qxPulseCashDrawerGPrinter(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QXDLL_H */
