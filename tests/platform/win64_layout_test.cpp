// win64_layout_test.cpp - record sizes, field offsets and constant values of
// the Win32 headers, as Win64 has them. Uses only Win32 headers, so it builds
// against the real SDK as well; every check is made at compile time.
#include <windows.h>

#include <cstddef>

#include <gtest/gtest.h>

// Data model (LLP64).
static_assert(sizeof(BOOL) == 4 && sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(UINT) == 4);
static_assert(sizeof(INT) == 4 && sizeof(ULONG) == 4 && sizeof(WORD) == 2 && sizeof(BYTE) == 1);
static_assert(sizeof(WCHAR) == 2 && sizeof(OLECHAR) == 2);
static_assert(sizeof(LONG_PTR) == 8 && sizeof(ULONG_PTR) == 8 && sizeof(INT_PTR) == 8);
static_assert(sizeof(UINT_PTR) == 8 && sizeof(DWORD_PTR) == 8 && sizeof(SIZE_T) == 8);
static_assert(sizeof(LPARAM) == 8 && sizeof(WPARAM) == 8 && sizeof(LRESULT) == 8);
static_assert(sizeof(HANDLE) == 8 && sizeof(HMODULE) == 8 && sizeof(HGLOBAL) == 8);
static_assert(sizeof(HWND) == 8 && sizeof(HDC) == 8 && sizeof(HFONT) == 8 && sizeof(HKEY) == 8);
static_assert(sizeof(ULONGLONG) == 8 && sizeof(HRESULT) == 4 && sizeof(COLORREF) == 4);
static_assert(static_cast<LONG>(-1) < 0 && static_cast<DWORD>(-1) > 0);

// Records.
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(offsetof(OSVERSIONINFOA, dwPlatformId) == 16);
static_assert(offsetof(OSVERSIONINFOA, szCSDVersion) == 20);
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(offsetof(OSVERSIONINFOEXA, wServicePackMajor) == 148);
static_assert(offsetof(OSVERSIONINFOEXA, wProductType) == 154);
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);
static_assert(offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor) == 8);
static_assert(offsetof(SECURITY_ATTRIBUTES, bInheritHandle) == 16);
static_assert(sizeof(FILETIME) == 8 && sizeof(SYSTEMTIME) == 16);
static_assert(offsetof(SYSTEMTIME, wMilliseconds) == 14);
static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8 && sizeof(SIZE) == 8);
static_assert(sizeof(GUID) == 16 && offsetof(GUID, Data4) == 8);

static_assert(sizeof(LOGFONTA) == 60);
static_assert(offsetof(LOGFONTA, lfItalic) == 20);
static_assert(offsetof(LOGFONTA, lfCharSet) == 23);
static_assert(offsetof(LOGFONTA, lfFaceName) == 28);
static_assert(sizeof(TEXTMETRICA) == 56);
static_assert(offsetof(TEXTMETRICA, tmFirstChar) == 44);
static_assert(offsetof(TEXTMETRICA, tmCharSet) == 52);

static_assert(sizeof(DEVMODEA) == 156);
static_assert(offsetof(DEVMODEA, dmSpecVersion) == 32);
static_assert(offsetof(DEVMODEA, dmSize) == 36);
static_assert(offsetof(DEVMODEA, dmDriverExtra) == 38);
static_assert(offsetof(DEVMODEA, dmFields) == 40);
static_assert(offsetof(DEVMODEA, dmOrientation) == 44);
static_assert(offsetof(DEVMODEA, dmPaperSize) == 46);
static_assert(offsetof(DEVMODEA, dmPaperLength) == 48);
static_assert(offsetof(DEVMODEA, dmPaperWidth) == 50);
static_assert(offsetof(DEVMODEA, dmScale) == 52);
static_assert(offsetof(DEVMODEA, dmCopies) == 54);
static_assert(offsetof(DEVMODEA, dmDefaultSource) == 56);
static_assert(offsetof(DEVMODEA, dmPrintQuality) == 58);
static_assert(offsetof(DEVMODEA, dmPosition) == 44);
static_assert(offsetof(DEVMODEA, dmDisplayFixedOutput) == 56);
static_assert(offsetof(DEVMODEA, dmColor) == 60);
static_assert(offsetof(DEVMODEA, dmCollate) == 68);
static_assert(offsetof(DEVMODEA, dmFormName) == 70);
static_assert(offsetof(DEVMODEA, dmLogPixels) == 102);
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == 104);
static_assert(offsetof(DEVMODEA, dmNup) == 116);
static_assert(offsetof(DEVMODEA, dmMediaType) == 132);
static_assert(offsetof(DEVMODEA, dmPanningHeight) == 152);

static_assert(sizeof(DOCINFOA) == 40 && offsetof(DOCINFOA, lpszDocName) == 8);
static_assert(offsetof(DOCINFOA, fwType) == 32);

static_assert(sizeof(DEVNAMES) == 8 && offsetof(DEVNAMES, wOutputOffset) == 4);
static_assert(sizeof(PAGESETUPDLGA) == 128);
static_assert(offsetof(PAGESETUPDLGA, hwndOwner) == 8);
static_assert(offsetof(PAGESETUPDLGA, hDevMode) == 16);
static_assert(offsetof(PAGESETUPDLGA, hDevNames) == 24);
static_assert(offsetof(PAGESETUPDLGA, Flags) == 32);
static_assert(offsetof(PAGESETUPDLGA, ptPaperSize) == 36);
static_assert(offsetof(PAGESETUPDLGA, rtMinMargin) == 44);
static_assert(offsetof(PAGESETUPDLGA, rtMargin) == 60);
static_assert(offsetof(PAGESETUPDLGA, hInstance) == 80);
static_assert(offsetof(PAGESETUPDLGA, lCustData) == 88);
static_assert(offsetof(PAGESETUPDLGA, hPageSetupTemplate) == 120);

// Constants.
static_assert(TRUE == 1 && FALSE == 0 && MAX_PATH == 260);
static_assert(INFINITE == 0xFFFFFFFF && WAIT_FAILED == 0xFFFFFFFF);
static_assert(WAIT_OBJECT_0 == 0 && WAIT_ABANDONED == 0x80 && WAIT_TIMEOUT == 0x102);
static_assert(DLL_PROCESS_DETACH == 0 && DLL_PROCESS_ATTACH == 1);
static_assert(DLL_THREAD_ATTACH == 2 && DLL_THREAD_DETACH == 3);
static_assert(VER_PLATFORM_WIN32s == 0 && VER_PLATFORM_WIN32_WINDOWS == 1);
static_assert(VER_PLATFORM_WIN32_NT == 2);
static_assert(GMEM_FIXED == 0 && GMEM_MOVEABLE == 2 && GMEM_ZEROINIT == 0x40);
static_assert(GHND == 0x42 && GPTR == 0x40 && LHND == 0x42 && LPTR == 0x40);
static_assert(GMEM_INVALID_HANDLE == 0x8000 && GMEM_LOCKCOUNT == 0xFF);
static_assert(HEAP_ZERO_MEMORY == 0x8 && HEAP_REALLOC_IN_PLACE_ONLY == 0x10);
static_assert((FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
               FORMAT_MESSAGE_FROM_SYSTEM) == 0x1300);
static_assert(LANG_USER_DEFAULT == 0x400 && LANG_SYSTEM_DEFAULT == 0x800);
static_assert(DM_ORIENTATION == 0x1 && DM_PAPERSIZE == 0x2 && DM_PAPERLENGTH == 0x4);
static_assert(DM_PAPERWIDTH == 0x8 && DM_DEFAULTSOURCE == 0x200 && DM_FORMNAME == 0x10000);
static_assert(DM_IN_BUFFER == 8 && DM_OUT_BUFFER == 2 && DM_SPECVERSION == 0x401);
static_assert(DMORIENT_PORTRAIT == 1 && DMORIENT_LANDSCAPE == 2);
static_assert(DC_PAPERS == 2 && DC_BINS == 6 && DC_BINNAMES == 12 && DC_PAPERNAMES == 16);
static_assert(PSD_RETURNDEFAULT == 0x400 && PSD_MARGINS == 0x2 && PSD_DISABLEPRINTER == 0x20);
static_assert(PSD_INHUNDREDTHSOFMILLIMETERS == 0x8 && PSD_NONETWORKBUTTON == 0x200000);
static_assert(FW_NORMAL == 400 && FW_BOLD == 700 && ANSI_CHARSET == 0 && OEM_CHARSET == 255);
static_assert(RGB(1, 2, 3) == 0x030201);
static_assert(HORZRES == 8 && VERTRES == 10 && LOGPIXELSX == 88 && PHYSICALOFFSETY == 113);
static_assert(REG_SZ == 1 && REG_BINARY == 3 && REG_DWORD == 4 && REG_MULTI_SZ == 7);

static_assert(ERROR_SUCCESS == 0 && ERROR_INVALID_FUNCTION == 1 && ERROR_FILE_NOT_FOUND == 2);
static_assert(ERROR_PATH_NOT_FOUND == 3 && ERROR_ACCESS_DENIED == 5 && ERROR_INVALID_HANDLE == 6);
static_assert(ERROR_NOT_ENOUGH_MEMORY == 8 && ERROR_INVALID_DATA == 13 && ERROR_OUTOFMEMORY == 14);
static_assert(ERROR_NOT_READY == 21 && ERROR_GEN_FAILURE == 31 && ERROR_SHARING_VIOLATION == 32);
static_assert(ERROR_INVALID_PARAMETER == 87 && ERROR_BROKEN_PIPE == 109);
static_assert(ERROR_SEM_TIMEOUT == 121 && ERROR_INSUFFICIENT_BUFFER == 122);
static_assert(ERROR_INVALID_NAME == 123 && ERROR_INVALID_LEVEL == 124);
static_assert(ERROR_MOD_NOT_FOUND == 126 && ERROR_PROC_NOT_FOUND == 127);
static_assert(ERROR_NOT_LOCKED == 158 && ERROR_BAD_PATHNAME == 161 && ERROR_ALREADY_EXISTS == 183);
static_assert(ERROR_PIPE_BUSY == 231 && ERROR_NO_DATA == 232 && ERROR_PIPE_NOT_CONNECTED == 233);
static_assert(ERROR_MORE_DATA == 234 && ERROR_NO_MORE_ITEMS == 259 && ERROR_NOT_OWNER == 288);
static_assert(ERROR_MR_MID_NOT_FOUND == 317 && ERROR_PIPE_CONNECTED == 535);
static_assert(ERROR_IO_PENDING == 997 && ERROR_TIMEOUT == 1460 && RPC_S_SERVER_UNAVAILABLE == 1722);
static_assert(ERROR_INVALID_PRINTER_NAME == 1801 && ERROR_INVALID_PRINTER_COMMAND == 1803);
static_assert(ERROR_RESOURCE_LANG_NOT_FOUND == 1815 && ERROR_PRINTER_NOT_FOUND == 3012);
static_assert(S_OK == 0 && S_FALSE == 1);
static_assert(E_FAIL == static_cast<HRESULT>(0x80004005) && E_OUTOFMEMORY == static_cast<HRESULT>(0x8007000E));
static_assert(E_INVALIDARG == static_cast<HRESULT>(0x80070057) && FAILED(E_NOTIMPL) && SUCCEEDED(S_FALSE));
static_assert(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) == E_ACCESSDENIED);

TEST(Win64Layout, InvalidHandleValueIsAllOnes) {
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(INVALID_HANDLE_VALUE), ~ULONG_PTR{0});
}
