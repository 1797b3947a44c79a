/*
 * commdlg.h - POSIX platform layer, Win32 header: common-dialog records and
 * flags (the page-setup record and the device-names record).
 *
 * On Win64 these records use natural alignment (only 32-bit Windows packs
 * them), so PAGESETUPDLGA is 128 bytes. PageSetupDlgA and
 * CommDlgExtendedError are declared by the common-dialog area.
 */
#ifndef QX_COMMDLG_H
#define QX_COMMDLG_H

#include <windef.h>

/* PAGESETUPDLGA.Flags */
#define PSD_DEFAULTMINMARGINS 0x00000000
#define PSD_INWININIINTLMEASURE 0x00000000
#define PSD_MINMARGINS 0x00000001
#define PSD_MARGINS 0x00000002
#define PSD_INTHOUSANDTHSOFINCHES 0x00000004
#define PSD_INHUNDREDTHSOFMILLIMETERS 0x00000008
#define PSD_DISABLEMARGINS 0x00000010
#define PSD_DISABLEPRINTER 0x00000020
#define PSD_NOWARNING 0x00000080
#define PSD_DISABLEORIENTATION 0x00000100
#define PSD_DISABLEPAPER 0x00000200
#define PSD_RETURNDEFAULT 0x00000400
#define PSD_SHOWHELP 0x00000800
#define PSD_ENABLEPAGESETUPHOOK 0x00002000
#define PSD_ENABLEPAGESETUPTEMPLATE 0x00008000
#define PSD_ENABLEPAGESETUPTEMPLATEHANDLE 0x00020000
#define PSD_ENABLEPAGEPAINTHOOK 0x00040000
#define PSD_DISABLEPAGEPAINTING 0x00080000
#define PSD_NONETWORKBUTTON 0x00200000

/* DEVNAMES.wDefault */
#define DN_DEFAULTPRN 0x0001

typedef UINT_PTR(CALLBACK *LPPAGEPAINTHOOK)(HWND, UINT, WPARAM, LPARAM);
typedef UINT_PTR(CALLBACK *LPPAGESETUPHOOK)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPSDA {
  DWORD lStructSize;
  HWND hwndOwner;
  HGLOBAL hDevMode;
  HGLOBAL hDevNames;
  DWORD Flags;
  POINT ptPaperSize;
  RECT rtMinMargin;
  RECT rtMargin;
  HINSTANCE hInstance;
  LPARAM lCustData;
  LPPAGESETUPHOOK lpfnPageSetupHook;
  LPPAGEPAINTHOOK lpfnPagePaintHook;
  LPCSTR lpPageSetupTemplateName;
  HGLOBAL hPageSetupTemplate;
} PAGESETUPDLGA, *LPPAGESETUPDLGA;

/* Offsets, from the start of the record, of three zero-terminated texts after it. */
typedef struct tagDEVNAMES {
  WORD wDriverOffset;
  WORD wDeviceOffset;
  WORD wOutputOffset;
  WORD wDefault;
} DEVNAMES, *LPDEVNAMES;

typedef PAGESETUPDLGA PAGESETUPDLG;
typedef LPPAGESETUPDLGA LPPAGESETUPDLG;

QX_LAYOUT_ASSERT(sizeof(PAGESETUPDLGA) == 128, "PAGESETUPDLGA");
QX_LAYOUT_ASSERT(offsetof(PAGESETUPDLGA, hDevMode) == 16, "PAGESETUPDLGA.hDevMode");
QX_LAYOUT_ASSERT(offsetof(PAGESETUPDLGA, Flags) == 32, "PAGESETUPDLGA.Flags");
QX_LAYOUT_ASSERT(offsetof(PAGESETUPDLGA, hInstance) == 80, "PAGESETUPDLGA.hInstance");
QX_LAYOUT_ASSERT(sizeof(DEVNAMES) == 8, "DEVNAMES");

#endif /* QX_COMMDLG_H */
