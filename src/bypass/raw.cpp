// Raw pass-through printing through the spooler.
#include "bypass/raw.h"

#include <qxdll.h>

#include <cstring>

#include "core/log.h"
#include "core/resources.h"
#include "core/state.h"

namespace {

using qx::g_state;

void ClearBypass() { g_state.bypass = qx::BypassDocument{}; }

// Deletes the open document so that none of it prints, and closes the
// printer. The document is never ended: ending it would print what arrived.
// Should the spooler refuse AbortPrinter, the job is deleted by its id.
void Discard() {
  if (!AbortPrinter(g_state.bypass.printer))
    SetJobA(g_state.bypass.printer, g_state.bypass.job, 0, nullptr, JOB_CONTROL_DELETE);
  ClosePrinter(g_state.bypass.printer);
  ClearBypass();
}

// Writes all of length bytes into the open document, writing the rest again
// after each short write. False when a write is refused or takes nothing.
bool WriteWhole(const BYTE* data, DWORD length) {
  DWORD done = 0;
  do {
    DWORD written = 0;
    if (!WritePrinter(g_state.bypass.printer, const_cast<BYTE*>(data + done), length - done, &written)) return false;
    if (written == 0 && done < length) return false;
    done += written < length - done ? written : length - done;
  } while (done < length);
  return true;
}

}  // namespace

namespace qx {

BOOL DeletePrintJobs(LPCSTR docName) {
  PrinterHandle printer;
  if (!printer.Open(g_state.printerName, PRINTER_ALL_ACCESS)) return 0;

  DWORD jobs = 0;
  {
    GlobalBlock record;
    if (FetchInto(record, [&](BYTE* buffer, DWORD size, DWORD* needed) {
          return GetPrinterA(printer.get(), 2, buffer, size, needed);
        }) != Fetched::kAll) {
      return 0;
    }
    jobs = record.as<PRINTER_INFO_2A>()->cJobs;
  }
  if (jobs == 0) return 1;

  GlobalBlock list;
  DWORD returned = 0;
  if (FetchInto(list, [&](BYTE* buffer, DWORD size, DWORD* needed) {
        return EnumJobsA(printer.get(), 0, jobs, 1, buffer, size, needed, &returned);
      }) != Fetched::kAll) {
    return 0;
  }

  const auto* job = list.as<JOB_INFO_1A>();
  for (DWORD i = 0; i < returned; ++i) {
    const char* document = job[i].pDocument != nullptr ? job[i].pDocument : "";
    if (docName != nullptr && std::strcmp(document, docName) != 0) continue;
    if (!SetJobA(printer.get(), job[i].JobId, 0, nullptr, JOB_CONTROL_DELETE)) {
      LogLevel(1, "DeletePrintJobs - Failed to Delete Job (%u):\"%s\"", static_cast<unsigned>(job[i].JobId), document);
    }
  }
  return 1;
}

void DiscardRawDocument() {
  if (g_state.bypass.printer != nullptr) Discard();
}

BOOL FinishBlankDocument() {
  if (g_state.bypass.printer == nullptr) return 0;
  if (!EndPagePrinter(g_state.bypass.printer)) {
    Discard();
    return 0;
  }
  if (!AbortPrinter(g_state.bypass.printer)) EndDocPrinter(g_state.bypass.printer);
  ClosePrinter(g_state.bypass.printer);
  ClearBypass();
  return 1;
}

}  // namespace qx

extern "C" {

BOOL QXAPI qxPrintBypassOpenPrinter(LPCSTR docName) {
  // One raw document at a time: a second open would lose the first one's
  // printer handle and leave its job unfinished in the spooler.
  if (g_state.bypass.printer != nullptr) return 0;
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (!OpenPrinterA(qx::g_state.printerName, &printer, &defaults) || printer == nullptr) return 0;
  g_state.bypass.printer = printer;

  char datatype[] = "RAW";
  DOC_INFO_1A doc = {const_cast<LPSTR>(docName), nullptr, datatype};
  g_state.bypass.job = StartDocPrinterA(g_state.bypass.printer, 1, reinterpret_cast<LPBYTE>(&doc));
  if (g_state.bypass.job == 0) {
    ClosePrinter(g_state.bypass.printer);
    ClearBypass();
    return 0;
  }
  if (!StartPagePrinter(g_state.bypass.printer)) {
    Discard();
    return 0;
  }
  return 1;
}

BOOL QXAPI qxPrintBypassWritePrinter(LPCVOID data, LONG length) {
  if (g_state.bypass.printer == nullptr || length < 0 || (data == nullptr && length != 0)) return 0;
  DWORD written = 0;
  if (!WritePrinter(g_state.bypass.printer, const_cast<LPVOID>(data), static_cast<DWORD>(length), &written)) {
    // A refused write deletes the document: none of it may print.
    Discard();
    return 0;
  }
  // A short write leaves the document open for the caller to finish.
  return written == static_cast<DWORD>(length) ? 1 : 0;
}

BOOL QXAPI qxPrintBypassClosePrinter(void) {
  if (g_state.bypass.printer == nullptr) return 0;
  // A document whose page or end the spooler refuses is deleted rather than
  // ended, so that 0 always means none of it prints and a host may safely
  // print it again.
  if (!EndPagePrinter(g_state.bypass.printer) || !EndDocPrinter(g_state.bypass.printer)) {
    Discard();
    return 0;
  }
  ClosePrinter(g_state.bypass.printer);
  ClearBypass();
  return 1;
}

BOOL QXAPI qxPrintBypassPrintDocument(LPCSTR docName, LPCVOID data, LONG length) {
  if (length < 0 || (data == nullptr && length != 0)) return 0;
  if (!qxPrintBypassOpenPrinter(docName)) return 0;
  // The device gets the whole document or nothing.
  if (!WriteWhole(static_cast<const BYTE*>(data), static_cast<DWORD>(length))) {
    Discard();
    return 0;
  }
  return qxPrintBypassClosePrinter();
}

}  // extern "C"
