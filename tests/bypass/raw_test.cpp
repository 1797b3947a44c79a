// Raw documents spooled past the driver, and queued jobs deleted by name.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bypass/raw.h"
#include "core/state.h"
#include "world_test_util.h"

namespace {

using qx::g_state;
using qxtest::json;
using qxtest::kOffice;
using qxtest::kTicket;

class RawPrinting : public qxtest::LibraryWorld {
 protected:
  void SetUp() override {
    qxtest::LibraryWorld::SetUp();
    std::strcpy(g_state.printerName, kTicket);
  }
  void TearDown() override {
    // Whatever a test left open is finished, so the leak check sees only leaks.
    qxPrintBypassClosePrinter();
    qxtest::LibraryWorld::TearDown();
  }
  std::string Received() { return control().Received("USB001"); }
  std::vector<std::string> Documents(const char* printer) {
    std::vector<std::string> names;
    for (const json& job : control().Jobs(std::string(printer))) names.push_back(job["document"]);
    return names;
  }
};

TEST_F(RawPrinting, BytesArriveAtTheDeviceExactly) {
  const std::string data("\x1b" "IS\0\x01\xff ticket", 13);
  ASSERT_EQ(qxPrintBypassPrintDocument("ticket 1", data.data(), static_cast<LONG>(data.size())), 1);
  EXPECT_EQ(Received(), data);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
}

TEST_F(RawPrinting, OpenWriteCloseInSteps) {
  ASSERT_EQ(qxPrintBypassOpenPrinter("steps"), 1);
  EXPECT_EQ(qxPrintBypassOpenPrinter("second"), 0);  // one raw document at a time
  EXPECT_EQ(qxPrintBypassWritePrinter("ab", 2), 1);
  EXPECT_EQ(qxPrintBypassWritePrinter("", 0), 1);  // a zero-length write is accepted
  EXPECT_EQ(qxPrintBypassWritePrinter("cd", 2), 1);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 1);
  EXPECT_EQ(Received(), "abcd");
  // Nothing is open any more.
  EXPECT_EQ(qxPrintBypassWritePrinter("x", 1), 0);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 0);
}

TEST_F(RawPrinting, RefusedStartLeavesNothingOpen) {
  qxplat_fault_arm("StartDocPrinterA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxPrintBypassPrintDocument("refused", "x", 1), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  qxplat_fault_clear();
  qxplat_fault_arm("StartPagePrinter", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxPrintBypassOpenPrinter("no page"), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  qxplat_fault_clear();
  std::strcpy(g_state.printerName, "QX No Such Printer");
  EXPECT_EQ(qxPrintBypassOpenPrinter("nowhere"), 0);
}

TEST_F(RawPrinting, RefusedWriteEndsAndClosesTheDocument) {
  ASSERT_EQ(qxPrintBypassOpenPrinter("refused write"), 1);
  qxplat_fault_arm("WritePrinter", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxPrintBypassWritePrinter("abc", 3), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 0);
}

TEST_F(RawPrinting, RefusedWriteDeletesWhatArrivedBefore) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);  // an ended document would stay queued
  ASSERT_EQ(qxPrintBypassOpenPrinter("refused later"), 1);
  ASSERT_EQ(qxPrintBypassWritePrinter("ab", 2), 1);
  control().ChangePrinter(kTicket, {{"refuse_write", true}});
  EXPECT_EQ(qxPrintBypassWritePrinter("cd", 2), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_TRUE(Documents(kTicket).empty());
  EXPECT_EQ(qxPrintBypassWritePrinter("x", 1), 0);  // nothing open any more
  control().SetPrinterStatus(kTicket, 0);
  EXPECT_EQ(Received(), "");
}

TEST_F(RawPrinting, RefusedDocumentIsDeletedWhenAbortIsRefusedToo) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  ASSERT_EQ(qxPrintBypassOpenPrinter("abort refused"), 1);
  ASSERT_EQ(qxPrintBypassWritePrinter("ab", 2), 1);
  qxplat_fault_arm("WritePrinter", 1, ERROR_ACCESS_DENIED);
  qxplat_fault_arm("AbortPrinter", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxPrintBypassWritePrinter("cd", 2), 0);
  EXPECT_EQ(qxplat_fault_fired(), 2u);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_TRUE(Documents(kTicket).empty());
  control().SetPrinterStatus(kTicket, 0);
  EXPECT_EQ(Received(), "");
}

TEST_F(RawPrinting, DocumentInOneCallArrivesWholeOrNotAtAll) {
  // Short writes: the rest follows until the document is whole.
  control().ChangePrinter(kTicket, {{"write_limit", 4}});
  ASSERT_EQ(qxPrintBypassPrintDocument("in pieces", "0123456789", 10), 1);
  EXPECT_EQ(Received(), "0123456789");
  EXPECT_EQ(qxplat_call_count("WritePrinter"), 3u);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);

  // A write refused after a short one: nothing of the document prints.
  control().Received("USB001", true);
  qxplat_fault_arm("WritePrinter", 2, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qxPrintBypassPrintDocument("cut off", "0123456789", 10), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_TRUE(Documents(kTicket).empty());
  EXPECT_EQ(Received(), "");
  qxplat_fault_clear();

  // Refused from the first write, on a paused printer where an ended
  // document would stay queued: no job is left.
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  control().ChangePrinter(kTicket, {{"refuse_write", true}});
  EXPECT_EQ(qxPrintBypassPrintDocument("refused", "0123456789", 10), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_TRUE(Documents(kTicket).empty());
  control().SetPrinterStatus(kTicket, 0);
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(qxPrintBypassWritePrinter("x", 1), 0);  // no document left open
}

TEST_F(RawPrinting, DocumentInOneCallRefusesBadArgumentsBeforeSpooling) {
  EXPECT_EQ(qxPrintBypassPrintDocument("bad", nullptr, 4), 0);
  EXPECT_EQ(qxPrintBypassPrintDocument("bad", "abc", -1), 0);
  EXPECT_EQ(qxplat_call_count("OpenPrinterA"), 0u);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  ASSERT_EQ(qxPrintBypassPrintDocument("empty", nullptr, 0), 1);  // an empty document is whole
  EXPECT_EQ(Received(), "");
}

TEST_F(RawPrinting, ShortWriteLeavesTheDocumentOpen) {
  control().ChangePrinter(kTicket, {{"write_limit", 3}});
  ASSERT_EQ(qxPrintBypassOpenPrinter("short"), 1);
  EXPECT_EQ(qxPrintBypassWritePrinter("abcdef", 6), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 1);  // still open for the caller
  EXPECT_EQ(qxPrintBypassWritePrinter("gh", 2), 1);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 1);
  EXPECT_EQ(Received(), "abcgh");

  // In one call the rest of a short write follows: the document arrives whole.
  control().Received("USB001", true);
  EXPECT_EQ(qxPrintBypassPrintDocument("short again", "wxyz", 4), 1);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_EQ(Received(), "wxyz");
}

TEST_F(RawPrinting, BadArgumentsAreRefusedWithoutWriting) {
  ASSERT_EQ(qxPrintBypassOpenPrinter("bad"), 1);
  EXPECT_EQ(qxPrintBypassWritePrinter(nullptr, 4), 0);
  EXPECT_EQ(qxPrintBypassWritePrinter("abc", -1), 0);
  EXPECT_EQ(qxPrintBypassClosePrinter(), 1);
  EXPECT_EQ(Received(), "");
}

TEST_F(RawPrinting, JobsAreDeletedByExactName) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);  // completed jobs stay queued
  for (const char* name : {"Blank", "blank", "Blank", "Other"}) {
    ASSERT_EQ(qxPrintBypassPrintDocument(name, "x", 1), 1);
  }
  ASSERT_EQ(Documents(kTicket).size(), 4u);
  EXPECT_EQ(qx::DeletePrintJobs("Blank"), 1);
  EXPECT_EQ(Documents(kTicket), (std::vector<std::string>{"blank", "Other"}));
  EXPECT_EQ(qx::DeletePrintJobs(nullptr), 1);
  EXPECT_TRUE(Documents(kTicket).empty());
  // No jobs: nothing to do, still processed.
  EXPECT_EQ(qx::DeletePrintJobs("Blank"), 1);
}

TEST_F(RawPrinting, DeletingGoesOnAfterARefusal) {
  std::strcpy(g_state.printerName, kOffice);  // two queued jobs in the default world
  qxplat_fault_arm("SetJobA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(qx::DeletePrintJobs(nullptr), 1);
  EXPECT_EQ(Documents(kOffice).size(), 1u);
  std::strcpy(g_state.printerName, "QX No Such Printer");
  EXPECT_EQ(qx::DeletePrintJobs(nullptr), 0);
}

}  // namespace

// A host that unloads the library with a raw document still open leaves no
// half-written job behind and no printer handle open; the pipe it opened
// itself is closed too.
TEST_F(RawPrinting, DetachDiscardsAnOpenDocument) {
  Attach();
  ASSERT_EQ(qxPrintBypassOpenPrinter("left open"), 1);
  ASSERT_EQ(qxPrintBypassWritePrinter("PART-ONE", 8), 1);
  ASSERT_EQ(qxLMOpenPipe(g_state.pipeName, 1000), QX_ERR_OK);
  Detach();
  EXPECT_EQ(Received(), "");
  const std::vector<std::string> queued = Documents(kTicket);
  EXPECT_EQ(std::find(queued.begin(), queued.end(), "left open"), queued.end());
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PRINTER), 0);
  EXPECT_EQ(qxplat_live_count(QXPLAT_KIND_PIPE), 0);
  EXPECT_EQ(g_state.bypass.printer, nullptr);
}
