/*
 * winspool.h - POSIX platform layer, Win32 header: the print spooler.
 *
 * Records, constants and functions of the spooler client, implemented by
 * platform/src/spooler.cpp over the spooler service of the simulated world
 * (qxsimd). The records are laid out as on Win64 (sizes checked below); the
 * device mode they carry comes from wingdi.h, where DeviceCapabilitiesA is
 * declared too, as on Windows.
 *
 * GetDefaultPrinterA is deliberately not declared: as with the import library
 * the product links on Windows, it is reached only through
 * LoadLibraryA("winspool.drv") and GetProcAddress, with the signature
 *   BOOL GetDefaultPrinterA(LPSTR pszBuffer, LPDWORD pcchBuffer);
 */
#ifndef QX_WINSPOOL_H
#define QX_WINSPOOL_H

#include <windef.h>
#include <winbase.h>
#include <wingdi.h>

/* EnumPrintersA flags. */
#define PRINTER_ENUM_DEFAULT 0x00000001
#define PRINTER_ENUM_LOCAL 0x00000002
#define PRINTER_ENUM_CONNECTIONS 0x00000004
#define PRINTER_ENUM_FAVORITE 0x00000004
#define PRINTER_ENUM_NAME 0x00000008
#define PRINTER_ENUM_REMOTE 0x00000010
#define PRINTER_ENUM_SHARED 0x00000020
#define PRINTER_ENUM_NETWORK 0x00000040
#define PRINTER_ENUM_EXPAND 0x00004000
#define PRINTER_ENUM_CONTAINER 0x00008000
#define PRINTER_ENUM_ICONMASK 0x00ff0000
#define PRINTER_ENUM_ICON8 0x00800000

/* PRINTER_INFO_2A.Status */
#define PRINTER_STATUS_PAUSED 0x00000001
#define PRINTER_STATUS_ERROR 0x00000002
#define PRINTER_STATUS_PENDING_DELETION 0x00000004
#define PRINTER_STATUS_PAPER_JAM 0x00000008
#define PRINTER_STATUS_PAPER_OUT 0x00000010
#define PRINTER_STATUS_MANUAL_FEED 0x00000020
#define PRINTER_STATUS_PAPER_PROBLEM 0x00000040
#define PRINTER_STATUS_OFFLINE 0x00000080
#define PRINTER_STATUS_IO_ACTIVE 0x00000100
#define PRINTER_STATUS_BUSY 0x00000200
#define PRINTER_STATUS_PRINTING 0x00000400
#define PRINTER_STATUS_OUTPUT_BIN_FULL 0x00000800
#define PRINTER_STATUS_NOT_AVAILABLE 0x00001000
#define PRINTER_STATUS_WAITING 0x00002000
#define PRINTER_STATUS_PROCESSING 0x00004000
#define PRINTER_STATUS_INITIALIZING 0x00008000
#define PRINTER_STATUS_WARMING_UP 0x00010000
#define PRINTER_STATUS_TONER_LOW 0x00020000
#define PRINTER_STATUS_NO_TONER 0x00040000
#define PRINTER_STATUS_PAGE_PUNT 0x00080000
#define PRINTER_STATUS_USER_INTERVENTION 0x00100000
#define PRINTER_STATUS_OUT_OF_MEMORY 0x00200000
#define PRINTER_STATUS_DOOR_OPEN 0x00400000
#define PRINTER_STATUS_SERVER_UNKNOWN 0x00800000
#define PRINTER_STATUS_POWER_SAVE 0x01000000

/* PRINTER_INFO_2A.Attributes */
#define PRINTER_ATTRIBUTE_QUEUED 0x00000001
#define PRINTER_ATTRIBUTE_DIRECT 0x00000002
#define PRINTER_ATTRIBUTE_DEFAULT 0x00000004
#define PRINTER_ATTRIBUTE_SHARED 0x00000008
#define PRINTER_ATTRIBUTE_NETWORK 0x00000010
#define PRINTER_ATTRIBUTE_HIDDEN 0x00000020
#define PRINTER_ATTRIBUTE_LOCAL 0x00000040
#define PRINTER_ATTRIBUTE_ENABLE_DEVQ 0x00000080
#define PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS 0x00000100
#define PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST 0x00000200
#define PRINTER_ATTRIBUTE_WORK_OFFLINE 0x00000400
#define PRINTER_ATTRIBUTE_ENABLE_BIDI 0x00000800
#define PRINTER_ATTRIBUTE_RAW_ONLY 0x00001000
#define PRINTER_ATTRIBUTE_PUBLISHED 0x00002000

/* Access rights (PRINTER_DEFAULTSA.DesiredAccess). */
#ifndef STANDARD_RIGHTS_REQUIRED
#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#endif
#define SERVER_ACCESS_ADMINISTER 0x00000001
#define SERVER_ACCESS_ENUMERATE 0x00000002
#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)

/* JOB_INFO_1A.Status */
#define JOB_STATUS_PAUSED 0x00000001
#define JOB_STATUS_ERROR 0x00000002
#define JOB_STATUS_DELETING 0x00000004
#define JOB_STATUS_SPOOLING 0x00000008
#define JOB_STATUS_PRINTING 0x00000010
#define JOB_STATUS_OFFLINE 0x00000020
#define JOB_STATUS_PAPEROUT 0x00000040
#define JOB_STATUS_PRINTED 0x00000080
#define JOB_STATUS_DELETED 0x00000100
#define JOB_STATUS_BLOCKED_DEVQ 0x00000200
#define JOB_STATUS_USER_INTERVENTION 0x00000400
#define JOB_STATUS_RESTART 0x00000800
#define JOB_STATUS_COMPLETE 0x00001000

/* SetJobA commands (level 0). */
#define JOB_CONTROL_PAUSE 1
#define JOB_CONTROL_RESUME 2
#define JOB_CONTROL_CANCEL 3
#define JOB_CONTROL_RESTART 4
#define JOB_CONTROL_DELETE 5
#define JOB_CONTROL_SENT_TO_PRINTER 6
#define JOB_CONTROL_LAST_PAGE_EJECTED 7

/* DocumentPropertiesA's answer when it succeeds (winuser.h's IDOK on Windows). */
#ifndef IDOK
#define IDOK 1
#endif

/* Declared by winnt.h on Windows; a repeated identical typedef is harmless. */
typedef DWORD ACCESS_MASK;

typedef struct _PRINTER_INFO_1A {
  DWORD Flags;
  LPSTR pDescription;
  LPSTR pName;
  LPSTR pComment;
} PRINTER_INFO_1A, *PPRINTER_INFO_1A, *LPPRINTER_INFO_1A;

typedef struct _PRINTER_INFO_2A {
  LPSTR pServerName;
  LPSTR pPrinterName;
  LPSTR pShareName;
  LPSTR pPortName;
  LPSTR pDriverName;
  LPSTR pComment;
  LPSTR pLocation;
  LPDEVMODEA pDevMode;
  LPSTR pSepFile;
  LPSTR pPrintProcessor;
  LPSTR pDatatype;
  LPSTR pParameters;
  PVOID pSecurityDescriptor; /* PSECURITY_DESCRIPTOR */
  DWORD Attributes;
  DWORD Priority;
  DWORD DefaultPriority;
  DWORD StartTime;
  DWORD UntilTime;
  DWORD Status;
  DWORD cJobs;
  DWORD AveragePPM;
} PRINTER_INFO_2A, *PPRINTER_INFO_2A, *LPPRINTER_INFO_2A;

typedef struct _PRINTER_INFO_4A {
  LPSTR pPrinterName;
  LPSTR pServerName;
  DWORD Attributes;
} PRINTER_INFO_4A, *PPRINTER_INFO_4A, *LPPRINTER_INFO_4A;

typedef struct _PRINTER_INFO_5A {
  LPSTR pPrinterName;
  LPSTR pPortName;
  DWORD Attributes;
  DWORD DeviceNotSelectedTimeout;
  DWORD TransmissionRetryTimeout;
} PRINTER_INFO_5A, *PPRINTER_INFO_5A, *LPPRINTER_INFO_5A;

typedef struct _DRIVER_INFO_1A {
  LPSTR pName;
} DRIVER_INFO_1A, *PDRIVER_INFO_1A, *LPDRIVER_INFO_1A;

typedef struct _DRIVER_INFO_2A {
  DWORD cVersion;
  LPSTR pName;
  LPSTR pEnvironment;
  LPSTR pDriverPath;
  LPSTR pDataFile;
  LPSTR pConfigFile;
} DRIVER_INFO_2A, *PDRIVER_INFO_2A, *LPDRIVER_INFO_2A;

/* pDependentFiles is a list of zero-terminated texts ended by an empty one. */
typedef struct _DRIVER_INFO_3A {
  DWORD cVersion;
  LPSTR pName;
  LPSTR pEnvironment;
  LPSTR pDriverPath;
  LPSTR pDataFile;
  LPSTR pConfigFile;
  LPSTR pHelpFile;
  LPSTR pDependentFiles;
  LPSTR pMonitorName;
  LPSTR pDefaultDataType;
} DRIVER_INFO_3A, *PDRIVER_INFO_3A, *LPDRIVER_INFO_3A;

typedef struct _PRINTER_DEFAULTSA {
  LPSTR pDatatype;
  LPDEVMODEA pDevMode;
  ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSA, *PPRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA;

/* StartDocPrinterA level 1. */
typedef struct _DOC_INFO_1A {
  LPSTR pDocName;
  LPSTR pOutputFile;
  LPSTR pDatatype;
} DOC_INFO_1A, *PDOC_INFO_1A, *LPDOC_INFO_1A;

/* EnumJobsA level 1. */
typedef struct _JOB_INFO_1A {
  DWORD JobId;
  LPSTR pPrinterName;
  LPSTR pMachineName;
  LPSTR pUserName;
  LPSTR pDocument;
  LPSTR pDatatype;
  LPSTR pStatus;
  DWORD Status;
  DWORD Priority;
  DWORD Position;
  DWORD TotalPages;
  DWORD PagesPrinted;
  SYSTEMTIME Submitted;
} JOB_INFO_1A, *PJOB_INFO_1A, *LPJOB_INFO_1A;

typedef PRINTER_INFO_1A PRINTER_INFO_1;
typedef PRINTER_INFO_2A PRINTER_INFO_2;
typedef PRINTER_INFO_4A PRINTER_INFO_4;
typedef PRINTER_INFO_5A PRINTER_INFO_5;
typedef DRIVER_INFO_1A DRIVER_INFO_1;
typedef DRIVER_INFO_2A DRIVER_INFO_2;
typedef DRIVER_INFO_3A DRIVER_INFO_3;
typedef DOC_INFO_1A DOC_INFO_1;
typedef JOB_INFO_1A JOB_INFO_1;
typedef PRINTER_DEFAULTSA PRINTER_DEFAULTS;
typedef LPPRINTER_DEFAULTSA LPPRINTER_DEFAULTS;

QX_LAYOUT_ASSERT(sizeof(PRINTER_INFO_1A) == 32, "PRINTER_INFO_1A");
QX_LAYOUT_ASSERT(sizeof(PRINTER_INFO_2A) == 136, "PRINTER_INFO_2A");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_2A, pDevMode) == 56, "PRINTER_INFO_2A.pDevMode");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_2A, pSecurityDescriptor) == 96, "PRINTER_INFO_2A.pSecurityDescriptor");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_2A, Attributes) == 104, "PRINTER_INFO_2A.Attributes");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_2A, Status) == 124, "PRINTER_INFO_2A.Status");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_2A, cJobs) == 128, "PRINTER_INFO_2A.cJobs");
QX_LAYOUT_ASSERT(sizeof(PRINTER_INFO_4A) == 24, "PRINTER_INFO_4A");
QX_LAYOUT_ASSERT(sizeof(PRINTER_INFO_5A) == 32, "PRINTER_INFO_5A");
QX_LAYOUT_ASSERT(offsetof(PRINTER_INFO_5A, TransmissionRetryTimeout) == 24, "PRINTER_INFO_5A.TransmissionRetryTimeout");
QX_LAYOUT_ASSERT(sizeof(DRIVER_INFO_1A) == 8, "DRIVER_INFO_1A");
QX_LAYOUT_ASSERT(sizeof(DRIVER_INFO_2A) == 48, "DRIVER_INFO_2A");
QX_LAYOUT_ASSERT(offsetof(DRIVER_INFO_2A, pDriverPath) == 24, "DRIVER_INFO_2A.pDriverPath");
QX_LAYOUT_ASSERT(sizeof(DRIVER_INFO_3A) == 80, "DRIVER_INFO_3A");
QX_LAYOUT_ASSERT(offsetof(DRIVER_INFO_3A, pMonitorName) == 64, "DRIVER_INFO_3A.pMonitorName");
QX_LAYOUT_ASSERT(sizeof(PRINTER_DEFAULTSA) == 24, "PRINTER_DEFAULTSA");
QX_LAYOUT_ASSERT(offsetof(PRINTER_DEFAULTSA, DesiredAccess) == 16, "PRINTER_DEFAULTSA.DesiredAccess");

QX_LAYOUT_ASSERT(sizeof(DOC_INFO_1A) == 24, "DOC_INFO_1A");
QX_LAYOUT_ASSERT(offsetof(DOC_INFO_1A, pDatatype) == 16, "DOC_INFO_1A.pDatatype");
QX_LAYOUT_ASSERT(sizeof(JOB_INFO_1A) == 96, "JOB_INFO_1A");
QX_LAYOUT_ASSERT(offsetof(JOB_INFO_1A, pPrinterName) == 8, "JOB_INFO_1A.pPrinterName");
QX_LAYOUT_ASSERT(offsetof(JOB_INFO_1A, pDocument) == 32, "JOB_INFO_1A.pDocument");
QX_LAYOUT_ASSERT(offsetof(JOB_INFO_1A, Status) == 56, "JOB_INFO_1A.Status");
QX_LAYOUT_ASSERT(offsetof(JOB_INFO_1A, PagesPrinted) == 72, "JOB_INFO_1A.PagesPrinted");
QX_LAYOUT_ASSERT(offsetof(JOB_INFO_1A, Submitted) == 76, "JOB_INFO_1A.Submitted");

#define WINSPOOLAPI __attribute__((visibility("default")))

QX_BEGIN_DECLS

WINSPOOLAPI BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum,
                                      DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
WINSPOOLAPI BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter,
                                     LPPRINTER_DEFAULTSA pDefault);
WINSPOOLAPI BOOL WINAPI ClosePrinter(HANDLE hPrinter);
WINSPOOLAPI BOOL WINAPI GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                                    LPDWORD pcbNeeded);
WINSPOOLAPI BOOL WINAPI GetPrinterDriverA(HANDLE hPrinter, LPSTR pEnvironment, DWORD Level,
                                          LPBYTE pDriverInfo, DWORD cbBuf, LPDWORD pcbNeeded);
WINSPOOLAPI BOOL WINAPI SetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command);
WINSPOOLAPI LONG WINAPI DocumentPropertiesA(HWND hWnd, HANDLE hPrinter, LPSTR pDeviceName,
                                            PDEVMODEA pDevModeOutput, PDEVMODEA pDevModeInput,
                                            DWORD fMode);
WINSPOOLAPI DWORD WINAPI StartDocPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo);
WINSPOOLAPI BOOL WINAPI StartPagePrinter(HANDLE hPrinter);
WINSPOOLAPI BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
WINSPOOLAPI BOOL WINAPI EndPagePrinter(HANDLE hPrinter);
WINSPOOLAPI BOOL WINAPI EndDocPrinter(HANDLE hPrinter);
WINSPOOLAPI BOOL WINAPI AbortPrinter(HANDLE hPrinter);
WINSPOOLAPI BOOL WINAPI EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level,
                                  LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
WINSPOOLAPI BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
WINSPOOLAPI DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData,
                                         DWORD nSize, LPDWORD pcbNeeded);
WINSPOOLAPI DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData,
                                         DWORD cbData);

QX_END_DECLS

#define EnumPrinters EnumPrintersA
#define OpenPrinter OpenPrinterA
#define GetPrinter GetPrinterA
#define GetPrinterDriver GetPrinterDriverA
#define SetPrinter SetPrinterA
#define DocumentProperties DocumentPropertiesA
#define StartDocPrinter StartDocPrinterA
#define EnumJobs EnumJobsA
#define SetJob SetJobA
#define GetPrinterData GetPrinterDataA
#define SetPrinterData SetPrinterDataA

#endif /* QX_WINSPOOL_H */
