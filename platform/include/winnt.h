/*
 * winnt.h - POSIX platform layer, Win32 header: base types of the Win64 data
 * model (LLP64), version records, language ids and a few basic macros.
 *
 * Integer types are chosen so that LONG, DWORD, BOOL and UINT are 32 bits,
 * every *_PTR type and SIZE_T is 64 bits, and WCHAR is 16 bits, as on Win64.
 * Where a Windows type is the same type as a standard C type on Win64 (SIZE_T
 * and size_t, LONG_PTR and intptr_t, ULONGLONG and uint64_t) it is that
 * standard type here too, so mixed expressions compile alike on both sides.
 * DWORD and LONG cannot be: they are unsigned long and long on Windows, which
 * are 64 bits here, so they are unsigned int and int. Print them through a
 * cast to unsigned or int.
 */
#ifndef QX_WINNT_H
#define QX_WINNT_H

#ifdef UNICODE
#error "the POSIX platform layer provides the ANSI (A) forms of Win32 only"
#endif

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

/* Calling conventions do not exist on x86-64 System V: all expand to nothing. */
#define WINAPI
#define WINAPIV
#define CALLBACK
#define APIENTRY WINAPI
#define STDMETHODCALLTYPE
#define FAR
#define NEAR
#define CONST const
#define VOID void
#define OPTIONAL

/* Every function of the layer has C linkage and is exported from libqxplatform. */
#ifdef __cplusplus
#define QX_BEGIN_DECLS extern "C" {
#define QX_END_DECLS }
#else
#define QX_BEGIN_DECLS
#define QX_END_DECLS
#endif
/* Record sizes are checked where the records are declared. */
#ifdef __cplusplus
#define QX_LAYOUT_ASSERT(cond, what) static_assert(cond, what)
#else
#define QX_LAYOUT_ASSERT(cond, what) _Static_assert(cond, what)
#endif
#define WINBASEAPI __attribute__((visibility("default")))
#define WINGDIAPI __attribute__((visibility("default")))
#define WINOLEAUTAPI_(type) __attribute__((visibility("default"))) type

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef float FLOAT;
typedef BYTE BOOLEAN;

typedef char CHAR;
typedef unsigned char UCHAR;
typedef short SHORT;
typedef unsigned short USHORT;
typedef int LONG;
typedef unsigned int ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORDLONG;
typedef int32_t INT32;
typedef uint32_t UINT32;
typedef int64_t INT64;
typedef uint64_t UINT64;
typedef uint32_t DWORD32;
typedef uint64_t DWORD64;
typedef int32_t LONG32;
typedef uint32_t ULONG32;
typedef int64_t LONG64;
typedef uint64_t ULONG64;

typedef intptr_t INT_PTR, *PINT_PTR;
typedef uintptr_t UINT_PTR, *PUINT_PTR;
typedef intptr_t LONG_PTR, *PLONG_PTR;
typedef uintptr_t ULONG_PTR, *PULONG_PTR;
typedef ULONG_PTR DWORD_PTR, *PDWORD_PTR;
typedef ULONG_PTR SIZE_T, *PSIZE_T;
typedef LONG_PTR SSIZE_T, *PSSIZE_T;

typedef char16_t WCHAR; /* in C, <uchar.h> makes char16_t uint_least16_t */

typedef CHAR TCHAR;
#define TEXT(quote) quote
#define __TEXT(quote) quote

typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef HANDLE *PHANDLE, *LPHANDLE;

typedef CHAR *PCHAR, *LPCH, *PCH, *NPSTR, *LPSTR, *PSTR;
typedef const CHAR *LPCCH, *PCCH, *LPCSTR, *PCSTR;
typedef WCHAR *PWCHAR, *LPWCH, *PWCH, *LPWSTR, *PWSTR;
typedef const WCHAR *LPCWCH, *PCWCH, *LPCWSTR, *PCWSTR;
typedef LPSTR LPTSTR, PTSTR;
typedef LPCSTR LPCTSTR, PCTSTR;

typedef BOOL *PBOOL, *LPBOOL;
typedef BYTE *PBYTE, *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef WORD *PWORD, *LPWORD;
typedef DWORD *PDWORD, *LPDWORD;
typedef INT *PINT, *LPINT;
typedef UINT *PUINT, *LPUINT;
typedef LONG *PLONG, *LPLONG;
typedef ULONG *PULONG;
typedef SHORT *PSHORT;
typedef USHORT *PUSHORT;
typedef UCHAR *PUCHAR;
typedef FLOAT *PFLOAT;

typedef LONG HRESULT;
typedef DWORD LCID;
typedef WORD LANGID;

#define MAXBYTE 0xff
#define MAXWORD 0xffff
#define MAXDWORD 0xffffffffu
#define MAXLONG 0x7fffffff

#define ANYSIZE_ARRAY 1
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))
#define UNREFERENCED_PARAMETER(p) ((void)(p))

#define RtlEqualMemory(d, s, n) (!memcmp((d), (s), (n)))
#define RtlMoveMemory(d, s, n) memmove((d), (s), (n))
#define RtlCopyMemory(d, s, n) memcpy((d), (s), (n))
#define RtlFillMemory(d, n, f) memset((d), (f), (n))
#define RtlZeroMemory(d, n) memset((d), 0, (n))

/* Language ids. */
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define PRIMARYLANGID(l) ((WORD)(l) & 0x3ff)
#define SUBLANGID(l) ((WORD)(l) >> 10)
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define LANG_SYSTEM_DEFAULT (MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT))
#define LANG_USER_DEFAULT (MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT))

/* Reasons passed to a DLL's entry point. */
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

/* Process heap flags. */
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010

/* Registry value types. */
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_MULTI_SZ 7
#define REG_QWORD 11

/* Operating-system version records. */
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003
#define VER_SUITE_SINGLEUSERTS 0x00000100

/* Generic access rights, share modes and file attributes (CreateFileA). */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

typedef OSVERSIONINFOA OSVERSIONINFO;
typedef POSVERSIONINFOA POSVERSIONINFO;
typedef LPOSVERSIONINFOA LPOSVERSIONINFO;
typedef OSVERSIONINFOEXA OSVERSIONINFOEX;
typedef POSVERSIONINFOEXA POSVERSIONINFOEX;
typedef LPOSVERSIONINFOEXA LPOSVERSIONINFOEX;

QX_LAYOUT_ASSERT(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "LLP64");
QX_LAYOUT_ASSERT(sizeof(LONG_PTR) == 8 && sizeof(SIZE_T) == 8 && sizeof(HANDLE) == 8, "LLP64");
QX_LAYOUT_ASSERT(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
QX_LAYOUT_ASSERT(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
QX_LAYOUT_ASSERT(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA");

#endif /* QX_WINNT_H */
