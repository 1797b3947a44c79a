// spooler_jobs_test.cpp - print jobs: a RAW document from StartDocPrinterA to
// EndDocPrinter reaching the device on the printer's port, the queue a paused
// printer keeps, AbortPrinter, EnumJobsA level 1 with size probing, SetJobA's
// delete, the print-to-file port, refusals injected through the world, and
// the fault points of the job calls.
#include <qxplatform.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_fixture.h"
#include "spooler_test_util.h"

namespace {

using namespace spooler_test;
using nlohmann::json;

class PrintJobs : public qxsim::SimFixture {
 protected:
  void TearDown() override {
    qxplat_fault_clear();
    SimFixture::TearDown();
  }

  static DWORD Start(HANDLE h, const char* document, const char* datatype = "RAW") {
    DOC_INFO_1A doc{const_cast<LPSTR>(document), nullptr, const_cast<LPSTR>(datatype)};
    return StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&doc));
  }
  static bool Write(HANDLE h, const std::string& bytes) {
    DWORD written = kUntouched;
    return WritePrinter(h, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written) &&
           written == bytes.size();
  }
  // One document of one page.
  static DWORD PrintDocument(HANDLE h, const char* document, const std::string& bytes) {
    const DWORD job = Start(h, document);
    if (job == 0 || !StartPagePrinter(h) || !Write(h, bytes) || !EndPagePrinter(h) || !EndDocPrinter(h)) return 0;
    return job;
  }
  // EnumJobsA level 1 by the probe-then-fill rule; the buffer, records first.
  static std::vector<BYTE> Jobs(HANDLE h, DWORD& count, DWORD first = 0, DWORD max = 100) {
    DWORD needed = 0;
    count = kUntouched;
    if (!EnumJobsA(h, first, max, 1, nullptr, 0, &needed, &count)) {
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    } else if (needed == 0) {
      return {};
    }
    std::vector<BYTE> buffer(needed);
    if (!EnumJobsA(h, first, max, 1, buffer.data(), needed, &needed, &count)) return {};
    return buffer;
  }
  static DWORD CJobs(HANDLE h) {
    DWORD needed = 0;
    GetPrinterA(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterA(h, 2, buffer.data(), needed, &needed)) return kUntouched;
    return reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data())->cJobs;
  }
};

// qxsimctl's output for args (already quoted for the shell) against the world in dir.
std::string Ctl(const std::string& dir, const std::string& args, int* status) {
  const std::string command = std::string(QXSIMCTL_PATH) + " --dir " + dir + " " + args;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) return out;
  char chunk[512];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

const std::string kTicketBytes("\x1b@QX TICKET\x00\xff\r\n\x0c", 16);

TEST_F(PrintJobs, ARawDocumentPrintsToTheDeviceOnItsPort) {
  Printer p(kTicket, PRINTER_ACCESS_USE);
  ASSERT_NE(p.h, nullptr);
  SetLastError(kUntouched);
  const DWORD job = Start(p.h, "Ticket 42");
  ASSERT_NE(job, 0u);
  EXPECT_EQ(GetLastError(), kUntouched);

  // While it spools it is in the queue.
  DWORD count = 0;
  std::vector<BYTE> list = Jobs(p.h, count);
  ASSERT_EQ(count, 1u);
  const auto& info = *reinterpret_cast<const JOB_INFO_1A*>(list.data());
  EXPECT_EQ(info.JobId, job);
  EXPECT_STREQ(info.pDocument, "Ticket 42");
  EXPECT_STREQ(info.pPrinterName, kTicket);
  EXPECT_STREQ(info.pDatatype, "RAW");
  EXPECT_TRUE(TextInside(info.pDocument, list, list.size()));
  EXPECT_NE(info.Status & JOB_STATUS_SPOOLING, 0u);
  EXPECT_EQ(info.Position, 1u);
  EXPECT_GE(info.Submitted.wYear, 2020);
  EXPECT_EQ(CJobs(p.h), 1u);

  SetLastError(kUntouched);
  EXPECT_TRUE(StartPagePrinter(p.h));
  DWORD written = kUntouched;
  EXPECT_TRUE(WritePrinter(p.h, const_cast<char*>(kTicketBytes.data()), 10, &written));
  EXPECT_EQ(written, 10u);
  EXPECT_TRUE(WritePrinter(p.h, const_cast<char*>(kTicketBytes.data()) + 10, 6, &written));
  EXPECT_EQ(written, 6u);
  EXPECT_TRUE(WritePrinter(p.h, nullptr, 0, &written)) << "nothing to write";
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(EndPagePrinter(p.h));
  EXPECT_EQ(control().Received("USB001"), "") << "nothing prints before the document ends";
  EXPECT_TRUE(EndDocPrinter(p.h));
  EXPECT_EQ(GetLastError(), kUntouched);

  EXPECT_EQ(control().Received("USB001"), kTicketBytes);
  EXPECT_EQ(control().Received("usb001", true), kTicketBytes) << "ports by any case; then cleared";
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_EQ(control().Received("LPT1:"), "") << "kept per device";
  EXPECT_EQ(CJobs(p.h), 0u) << "a printed job leaves the queue";
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty());

  const DWORD next = PrintDocument(p.h, "Ticket 43", "second");
  EXPECT_GT(next, job) << "job ids grow";
  EXPECT_EQ(control().Received("USB001"), "second");
}

TEST_F(PrintJobs, APausedPrinterKeepsCompletedJobsQueued) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  const DWORD first = PrintDocument(p.h, "One", "first;");
  const DWORD second = PrintDocument(p.h, "Two", "second;");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(control().Received("USB001"), "");
  EXPECT_EQ(CJobs(p.h), 2u);
  DWORD count = 0;
  std::vector<BYTE> list = Jobs(p.h, count);
  ASSERT_EQ(count, 2u);
  const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(list.data());
  EXPECT_EQ(jobs[0].JobId, first);
  EXPECT_EQ(jobs[1].JobId, second);
  EXPECT_EQ(jobs[1].Position, 2u);
  EXPECT_EQ(jobs[0].Status & JOB_STATUS_SPOOLING, 0u) << "complete, waiting";
  EXPECT_EQ(jobs[0].TotalPages, 1u);
  const json queue = control().Jobs(std::string(kTicket));
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[0]["size"], 6);

  control().SetPrinterStatus(kTicket, 0);
  EXPECT_EQ(control().Received("USB001"), "first;second;") << "resumed, it prints in order";
  EXPECT_EQ(CJobs(p.h), 0u);
}

TEST_F(PrintJobs, AbortPrinterDeletesTheDocumentBeingSpooled) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  ASSERT_NE(Start(p.h, "Spoiled"), 0u);
  ASSERT_TRUE(Write(p.h, "half a ticket"));
  SetLastError(kUntouched);
  EXPECT_TRUE(AbortPrinter(p.h));
  EXPECT_EQ(GetLastError(), kUntouched);
  EXPECT_EQ(CJobs(p.h), 0u);
  EXPECT_EQ(control().Received("USB001"), "");

  for (auto call : {+[](HANDLE h) { return AbortPrinter(h); }, +[](HANDLE h) { return EndDocPrinter(h); },
                    +[](HANDLE h) { return StartPagePrinter(h); }, +[](HANDLE h) { return EndPagePrinter(h); },
                    +[](HANDLE h) { return static_cast<BOOL>(Write(h, "x")); }}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(call(p.h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
  }
  EXPECT_NE(PrintDocument(p.h, "After", "ok"), 0u) << "the handle starts over";
  EXPECT_EQ(control().Received("USB001"), "ok");
}

TEST_F(PrintJobs, ClosingAHandleDropsItsUnfinishedDocument) {
  {
    Printer p(kTicket);
    ASSERT_NE(Start(p.h, "Never ended"), 0u);
    ASSERT_TRUE(Write(p.h, "lost"));
  }
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty());
  EXPECT_EQ(control().Received("USB001"), "");
}

TEST_F(PrintJobs, StartDocArgumentErrors) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  DOC_INFO_1A doc{const_cast<LPSTR>("Doc"), nullptr, nullptr};
  for (DWORD level : {0u, 2u, 3u}) {
    SetLastError(kUntouched);
    EXPECT_EQ(StartDocPrinterA(p.h, level, reinterpret_cast<LPBYTE>(&doc)), 0u) << level;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << level;
  }
  SetLastError(kUntouched);
  EXPECT_EQ(StartDocPrinterA(p.h, 1, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_EQ(Start(p.h, "EMF", "NT EMF 1.008"), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATATYPE));
  SetLastError(kUntouched);
  EXPECT_EQ(StartDocPrinterA(reinterpret_cast<HANDLE>(0x999), 1, reinterpret_cast<LPBYTE>(&doc)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty()) << "refused starts queue nothing";

  SetLastError(kUntouched);
  const DWORD job = StartDocPrinterA(p.h, 1, reinterpret_cast<LPBYTE>(&doc));
  ASSERT_NE(job, 0u) << "a null data type is RAW";
  SetLastError(kUntouched);
  EXPECT_EQ(Start(p.h, "Again"), 0u) << "one document at a time on a handle";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_STATE));
  DWORD written = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(WritePrinter(p.h, const_cast<char*>("x"), 1, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(WritePrinter(p.h, nullptr, 1, &written));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(EndDocPrinter(p.h));
  EXPECT_EQ(control().Received("USB001"), "") << "an empty document prints nothing";
}

TEST_F(PrintJobs, EnumJobsSizesLevelsAndRanges) {
  Printer p(kOffice);
  ASSERT_NE(p.h, nullptr);
  DWORD needed = 0, count = kUntouched;
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumJobsA(p.h, 0, 10, 1, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(count, 0u);
  std::vector<BYTE> buffer(needed);
  DWORD again = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumJobsA(p.h, 0, 10, 1, buffer.data(), needed - 1, &again, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, needed);
  SetLastError(kUntouched);
  ASSERT_TRUE(EnumJobsA(p.h, 0, 10, 1, buffer.data(), needed, &again, &count));
  EXPECT_EQ(GetLastError(), kUntouched);
  ASSERT_EQ(count, 2u);
  const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
  EXPECT_EQ(jobs[0].JobId, 7u);
  EXPECT_STREQ(jobs[0].pDocument, "Daily sales report");
  EXPECT_STREQ(jobs[0].pUserName, "boxoffice");
  EXPECT_EQ(jobs[0].Status, static_cast<DWORD>(JOB_STATUS_PRINTING));
  EXPECT_EQ(jobs[0].TotalPages, 3u);
  EXPECT_EQ(jobs[1].JobId, 8u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(TextInside(jobs[i].pPrinterName, buffer, needed));
    EXPECT_TRUE(TextInside(jobs[i].pDocument, buffer, needed));
    EXPECT_GE(reinterpret_cast<const BYTE*>(jobs[i].pDocument), buffer.data() + 2 * sizeof(JOB_INFO_1A))
        << "texts come after the records";
  }

  std::vector<BYTE> tail = Jobs(p.h, count, 1, 5);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(reinterpret_cast<const JOB_INFO_1A*>(tail.data())->JobId, 8u);
  EXPECT_EQ(reinterpret_cast<const JOB_INFO_1A*>(tail.data())->Position, 2u);
  Jobs(p.h, count, 0, 1);
  EXPECT_EQ(count, 1u);

  SetLastError(kUntouched);
  EXPECT_TRUE(EnumJobsA(p.h, 5, 10, 1, nullptr, 0, &needed, &count)) << "past the end: none";
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);
  Printer empty(kTicket);
  SetLastError(kUntouched);
  EXPECT_TRUE(EnumJobsA(empty.h, 0, 10, 1, nullptr, 0, &needed, &count));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);
  for (DWORD level : {0u, 2u, 3u, 4u}) {
    SetLastError(kUntouched);
    EXPECT_FALSE(EnumJobsA(p.h, 0, 10, level, nullptr, 0, &needed, &count)) << level;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)) << level;
  }
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumJobsA(p.h, 0, 10, 1, nullptr, 10, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumJobsA(p.h, 0, 10, 1, nullptr, 0, nullptr, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PrintJobs, SetJobDeletesAQueuedJob) {
  control().SetPrinterStatus(kTicket, PRINTER_STATUS_PAUSED);
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  const DWORD first = PrintDocument(p.h, "Keep", "kept");
  const DWORD second = PrintDocument(p.h, "Drop", "dropped");
  SetLastError(kUntouched);
  EXPECT_TRUE(SetJobA(p.h, second, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(GetLastError(), kUntouched);
  DWORD count = 0;
  std::vector<BYTE> list = Jobs(p.h, count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(reinterpret_cast<const JOB_INFO_1A*>(list.data())->JobId, first);

  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, second, 0, nullptr, JOB_CONTROL_DELETE)) << "gone already";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, 7, 0, nullptr, JOB_CONTROL_DELETE)) << "a job of another printer";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, first, 1, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, first, 0, nullptr, JOB_CONTROL_RESTART));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  control().SetPrinterStatus(kTicket, 0);
  EXPECT_EQ(control().Received("USB001"), "kept");

  // A document deleted while it spools is cancelled for its handle.
  const DWORD spooling = Start(p.h, "Cancelled");
  ASSERT_NE(spooling, 0u);
  EXPECT_TRUE(SetJobA(p.h, spooling, 0, nullptr, JOB_CONTROL_DELETE));
  SetLastError(kUntouched);
  EXPECT_FALSE(Write(p.h, "late"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_CANCELLED));
  SetLastError(kUntouched);
  EXPECT_FALSE(EndDocPrinter(p.h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
  EXPECT_EQ(control().Received("USB001"), "kept");
}

TEST_F(PrintJobs, RefusalsSetThroughTheControlApi) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  control().ChangePrinter(kTicket, {{"refuse_start_doc", true}});
  SetLastError(kUntouched);
  EXPECT_EQ(Start(p.h, "Refused"), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  control().ChangePrinter(kTicket, {{"refuse_start_doc", false}, {"refuse_write", ERROR_NOT_READY}});
  ASSERT_NE(Start(p.h, "Write refused"), 0u);
  DWORD written = kUntouched;
  SetLastError(kUntouched);
  EXPECT_FALSE(WritePrinter(p.h, const_cast<char*>("abc"), 3, &written));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(written, 0u);
  control().ChangePrinter(kTicket, {{"refuse_write", 0}, {"status", json::array({"paused"})}});
  ASSERT_TRUE(Write(p.h, "abc"));
  ASSERT_TRUE(EndDocPrinter(p.h));
  control().ChangePrinter(kTicket, {{"refuse_delete", true}});
  const json queue = control().Jobs(std::string(kTicket));
  ASSERT_EQ(queue.size(), 1u);
  const auto id = queue[0]["id"].get<DWORD>();
  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, id, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(control().Jobs(std::string(kTicket)).size(), 1u);
  const json stored = control().Printer(kTicket);
  EXPECT_EQ(stored["refuse_delete"], ERROR_ACCESS_DENIED);
  EXPECT_EQ(stored["refuse_write"], 0);
}

TEST_F(PrintJobs, TheWorldFileCanRefuseDocuments) {
  json world = qxsim::DefaultWorld();
  world["printers"][0]["refuse_start_doc"] = ERROR_NOT_READY;
  UseWorld(world.dump());
  Printer p(kTicket);
  SetLastError(kUntouched);
  EXPECT_EQ(Start(p.h, "Refused"), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

TEST_F(PrintJobs, ThePrintToFilePortWritesAFileInTheWorldFolder) {
  control().ChangePrinter(kBoarding, {{"port", "FILE:"}});
  Printer p(kBoarding);
  ASSERT_NE(p.h, nullptr);
  const DWORD job = PrintDocument(p.h, "To file", kTicketBytes);
  ASSERT_NE(job, 0u);
  std::ifstream in(dir() + "/FILE-job" + std::to_string(job) + ".prn", std::ios::binary);
  ASSERT_TRUE(in.good());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kTicketBytes);
  EXPECT_EQ(control().Received("FILE:"), kTicketBytes);
}

TEST_F(PrintJobs, LargeWritesArriveWhole) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  std::string big(700 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_NE(Start(p.h, "Big"), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WritePrinter(p.h, big.data(), static_cast<DWORD>(big.size()), &written));
  EXPECT_EQ(written, big.size());
  ASSERT_TRUE(EndDocPrinter(p.h));
  EXPECT_EQ(control().Received("USB001"), big);
}

TEST_F(PrintJobs, ADeviceKeepsTheLatestFourMebibytes) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  const std::string old_part(1000, 'o');
  const std::string body((size_t{4} << 20) - 10, 'b');
  ASSERT_NE(PrintDocument(p.h, "Old", old_part), 0u);
  ASSERT_NE(PrintDocument(p.h, "New", body + "0123456789"), 0u);
  const std::string got = control().Received("USB001");
  ASSERT_EQ(got.size(), size_t{4} << 20);
  EXPECT_EQ(got.substr(got.size() - 10), "0123456789");
  EXPECT_EQ(got.substr(0, 10), std::string(10, 'b')) << "the oldest bytes went first";
}

TEST_F(PrintJobs, QxsimctlShowsTheQueueAndWhatTheDeviceReceived) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  ASSERT_NE(PrintDocument(p.h, "Ticket 42", kTicketBytes), 0u);
  int status = -1;
  EXPECT_EQ(Ctl(dir(), "device USB001 received", &status),
            "USB001 received 16 bytes\n"
            "00000000 1b 40 51 58 20 54 49 43 4b 45 54 00 ff 0d 0a 0c  .@QX TICKET.....\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Ctl(dir(), "device USB001 received raw", &status), kTicketBytes);
  EXPECT_EQ(Ctl(dir(), "device USB001 received clear", &status).substr(0, 24), "USB001 received 16 bytes");
  EXPECT_EQ(control().Received("USB001"), "");

  control().ChangePrinter(kTicket, {{"status", json::array({"paused"})}});
  const DWORD job = PrintDocument(p.h, "Held", "held");
  const std::string jobs = Ctl(dir(), "jobs", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(jobs.find(std::to_string(job) + "  QX ZDA-38 Ticket Printer"), std::string::npos) << jobs;
  EXPECT_NE(jobs.find("Held"), std::string::npos) << jobs;
}

TEST_F(PrintJobs, JobCallsAreFaultPoints) {
  Printer p(kTicket);
  ASSERT_NE(p.h, nullptr);
  qxplat_call_counts_reset();
  ASSERT_EQ(qxplat_fault_arm("StartDocPrinterA", 1, 0), 0);
  SetLastError(kUntouched);
  EXPECT_EQ(Start(p.h, "Faulted"), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_TRUE(control().Jobs(std::string(kTicket)).empty());
  for (const char* function : {"StartPagePrinter", "WritePrinter", "EndPagePrinter", "EndDocPrinter"}) {
    qxplat_fault_clear();
    ASSERT_EQ(qxplat_fault_arm(function, 1, ERROR_NOT_READY), 0) << function;
    const bool ended = PrintDocument(p.h, nullptr, "") != 0;  // fails on the armed call
    EXPECT_FALSE(ended) << function;
    EXPECT_EQ(qxplat_fault_fired(), 1u) << function;
    AbortPrinter(p.h);
  }
  qxplat_fault_clear();
  ASSERT_NE(Start(p.h, "Abort fails"), 0u);
  ASSERT_EQ(qxplat_fault_arm("AbortPrinter", 1, 0), 0);
  EXPECT_FALSE(AbortPrinter(p.h));
  EXPECT_TRUE(AbortPrinter(p.h));
  ASSERT_EQ(qxplat_fault_arm("EnumJobsA", 1, 0), 0);
  DWORD needed = 0, count = 0;
  SetLastError(kUntouched);
  EXPECT_FALSE(EnumJobsA(p.h, 0, 1, 1, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  ASSERT_EQ(qxplat_fault_arm("SetJobA", 1, ERROR_ACCESS_DENIED), 0);
  SetLastError(kUntouched);
  EXPECT_FALSE(SetJobA(p.h, 1, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_GE(qxplat_call_count("WritePrinter"), 1u);
  EXPECT_EQ(qxplat_call_count("AbortPrinter"), 6u);
}

}  // namespace
