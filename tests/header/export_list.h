/*
 * export_list.h - the library's 84 exports as an X-macro list, in the order of
 * exports_all.txt. QX_EXPORT_LIST(X) expands X(name) once per export.
 *
 * Test programs that do not link the library may use the names only where
 * they are not evaluated (sizeof, decltype): a real reference would need the
 * definition.
 */
#ifndef QX_TESTS_HEADER_EXPORT_LIST_H
#define QX_TESTS_HEADER_EXPORT_LIST_H

#define QX_EXPORT_COUNT 84

#define QX_EXPORT_LIST(X) \
  X(qxAcquirePort) \
  X(qxCopyData) \
  X(qxCreateFont) \
  X(qxDeleteObject) \
  X(qxEnumBins) \
  X(qxEnumPrinters) \
  X(qxEnumSheetSizes) \
  X(qxFindMaxFont) \
  X(qxFontFX) \
  X(qxGetAddStatus_NT_2K_XP) \
  X(qxGetAddStatus) \
  X(qxGetAddressForObject) \
  X(qxGetDLLVersion) \
  X(qxGetDefaultPrinter) \
  X(qxGetHDC) \
  X(qxGetOSVersion) \
  X(qxGetPrinterNameAndPort) \
  X(qxGetSpoolingStatus) \
  X(qxGetStatus_NT_2K_XP) \
  X(qxGetStatus) \
  X(qxGetStringFromLPSTR) \
  X(qxIsNT) \
  X(qxLMAbortDocument) \
  X(qxLMClearCRCError) \
  X(qxLMClosePipe) \
  X(qxLMGetAddStatus) \
  X(qxLMGetCRCError) \
  X(qxLMGetDriverVersion) \
  X(qxLMGetHeadLeverOpenStatus) \
  X(qxLMGetJamStatus) \
  X(qxLMGetLMVersion) \
  X(qxLMGetLowPaperStatus) \
  X(qxLMGetManDeselectStatus) \
  X(qxLMGetOutOfPaperStatus) \
  X(qxLMGetPortName) \
  X(qxLMGetPrintInProgress) \
  X(qxLMGetPrinterName) \
  X(qxLMGetPrinterOKStatus2) \
  X(qxLMGetPrinterOKStatus) \
  X(qxLMGetProgress) \
  X(qxLMGetStatus) \
  X(qxLMGetTicketNotTakenStatus) \
  X(qxLMIsPipe) \
  X(qxLMOpenPipe) \
  X(qxLMParseFlashProgress) \
  X(qxLMProgramFlash) \
  X(qxLMPtrGetStatus) \
  X(qxLMPtrIsPipe) \
  X(qxLMPtrRFIDPrinter) \
  X(qxLMRFIDPrinter) \
  X(qxLMRefresh) \
  X(qxLMResetPrinter) \
  X(qxLMSetHeartBeatRate) \
  X(qxLMSetHeartBeat) \
  X(qxLMSetPipeName) \
  X(qxLMSetPipeTimeOut) \
  X(qxLMSetRegistryKey) \
  X(qxLMSetSpoolerSaveMethod) \
  X(qxLMSetStatusTimeOut) \
  X(qxLMWDSetup) \
  X(qxMakeDocDC) \
  X(qxMakeUpperCase) \
  X(qxNewGetDefaultPrinter) \
  X(qxNewGetPrinterDriver) \
  X(qxNewGetPrinterPort) \
  X(qxParseStatus) \
  X(qxPrintBypassClosePrinter) \
  X(qxPrintBypassOpenPrinter) \
  X(qxPrintBypassPrintDocument) \
  X(qxPrintBypassWritePrinter) \
  X(qxProgramFlash) \
  X(qxPulseCashDrawerGPrinter) \
  X(qxReleasePort) \
  X(qxSelectObject) \
  X(qxSetBinByBinID) \
  X(qxSetBinByBinName) \
  X(qxSetNTPortAscii) \
  X(qxSetNTPort) \
  X(qxSetNewPrinter) \
  X(qxSetOrientation) \
  X(qxSetPrinterKeyByName) \
  X(qxSetSheetSize) \
  X(qxSetVB) \
  X(qxTextOut)

#endif /* QX_TESTS_HEADER_EXPORT_LIST_H */
