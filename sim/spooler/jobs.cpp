// jobs.cpp - qxsimd, daemon side, the spooler service's room: documents and
// jobs (StartDocPrinterA to EndDocPrinter, AbortPrinter, EnumJobsA, SetJobA).
// docs/world.md says how a job is spooled, held and printed.
#include <ctime>
#include <vector>

#include <qxwire/hex.h>

#include "spooler/call.h"

namespace qxsim::spooler {

using nlohmann::json;

namespace {

// A spooled job holds at most this many bytes.
constexpr size_t kMaxJobBytes = size_t{16} << 20;
// SetJobA commands.
constexpr uint64_t kJobControlPause = 1;
constexpr uint64_t kJobControlResume = 2;
constexpr uint64_t kJobControlCancel = 3;
constexpr uint64_t kJobControlDelete = 5;

Job* FindJob(Printer& p, DWORD id) {
  for (Job& job : p.jobs) {
    if (job.id == id) return &job;
  }
  return nullptr;
}

// Spooling - the job a handle spools; a job deleted under it cancels the
// document.
Job& Spooling(OpenHandle& h, Printer& p) {
  if (h.job == 0) throw SpoolerError{ERROR_SPL_NO_STARTDOC, "no document has been started"};
  Job* job = FindJob(p, h.job);
  if (job == nullptr) {
    h.job = 0;
    h.page = false;
    throw SpoolerError{ERROR_PRINT_CANCELLED, "the document has been deleted"};
  }
  return *job;
}

json JobInfo(const Printer& p, const Job& job, size_t position) {
  return {{"id", job.id},
          {"printer", p.name},
          {"document", job.document},
          {"owner", job.owner},
          {"datatype", job.datatype},
          {"status", job.status},
          {"priority", 1},
          {"position", position},
          {"pages", job.pages},
          {"size", job.spooled ? job.data.size() : job.size},
          {"submitted", job.submitted}};
}

}  // namespace

// StartDocPrinterA: a job with status spooling, one a handle.
json StartDoc(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  const std::optional<std::string> document = OptionalText(c.request, "document", kMaxRequest);
  const std::optional<std::string> datatype = OptionalText(c.request, "datatype", kMaxRequest);
  if (h.job != 0 && FindJob(p, h.job) != nullptr) {
    throw SpoolerError{ERROR_INVALID_PRINTER_STATE, "a document is being spooled on this handle"};
  }
  h.job = 0;
  if (datatype && !EqualNoCase(*datatype, "RAW")) {
    throw SpoolerError{ERROR_INVALID_DATATYPE, "only RAW documents are accepted"};
  }
  if (p.refuse_start_doc_error != 0) throw SpoolerError{p.refuse_start_doc_error, "the printer refuses documents"};
  if (p.jobs.size() >= kMaxJobs) throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "the queue is full"};
  Job job;
  job.id = c.w.world.next_job_id++;
  job.document = document ? document->substr(0, kMaxTextLength) : "";
  job.status = JOB_STATUS_SPOOLING;
  job.datatype = "RAW";
  job.spooled = true;
  job.submitted = static_cast<int64_t>(std::time(nullptr));
  p.jobs.push_back(job);
  h.job = job.id;
  h.page = false;
  // A job on the port makes the spooler reload a stopped language monitor.
  c.w.pending_reloads.emplace_back(p.port, LanguageMonitor::ReloadCause::kJob);
  return {{"error", 0}, {"job", job.id}};
}

// StartPagePrinter: a page counted.
json StartPage(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  Job& job = Spooling(h, p);
  h.page = true;
  ++job.pages;
  return {{"error", 0}};
}

// EndPagePrinter.
json EndPage(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  Spooling(h, p);
  h.page = false;
  return {{"error", 0}};
}

// WritePrinter: the bytes, as the binary body or in hex as "data"; a printer
// with a write limit takes only the first bytes (a short write).
json Write(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  // The bytes come as the binary body, or in hex as "data".
  const std::string hex = c.body ? std::string() : Text(c.request, "data", kMaxRequest);
  Job& job = Spooling(h, p);
  if (p.refuse_write_error != 0) throw SpoolerError{p.refuse_write_error, "the printer refuses the bytes"};
  std::vector<uint8_t> bytes;
  if (c.body) {
    bytes.assign(c.body->begin(), c.body->end());
  } else if (!qxwire::FromHex(hex, bytes)) {
    throw BadRequest("\"data\" must be hexadecimal digits");
  }
  // A printer with a write limit takes only the first bytes: a short write.
  if (p.write_limit != 0 && bytes.size() > p.write_limit) bytes.resize(p.write_limit);
  if (job.data.size() + bytes.size() > kMaxJobBytes) {
    throw SpoolerError{ERROR_NOT_ENOUGH_MEMORY, "the job is as large as a job can be"};
  }
  job.data.insert(job.data.end(), bytes.begin(), bytes.end());
  return {{"error", 0}, {"written", bytes.size()}};
}

// EndDocPrinter: the job completes and prints unless held.
json EndDoc(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  Job& job = Spooling(h, p);
  job.status &= ~static_cast<DWORD>(JOB_STATUS_SPOOLING);
  h.job = 0;
  h.page = false;
  c.w.PrintReadyJobsLocked(p);
  return {{"error", 0}};
}

// AbortPrinter: the document deleted.
json Abort(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  if (h.job == 0) throw SpoolerError{ERROR_SPL_NO_STARTDOC, "no document has been started"};
  c.w.AbortDocLocked(h);
  (void)p;
  return {{"error", 0}};
}

// EnumJobsA: the queue from position "first", at most "count" jobs.
json EnumJobs(SpoolerCall& c) {
  const Printer& p = PrinterOf(c);
  const auto first = Unsigned(c.request, "first", 0xFFFFFFFFu);
  const auto count = Unsigned(c.request, "count", 0xFFFFFFFFu);
  json list = json::array();
  for (size_t i = first; i < p.jobs.size() && list.size() < count; ++i) {
    list.push_back(JobInfo(p, p.jobs[i], i + 1));
  }
  return {{"error", 0}, {"jobs", list}};
}

// SetJobA: delete, cancel, pause or resume a job.
json SetJob(SpoolerCall& c) {
  auto [h, p] = HandleOf(c);
  (void)h;
  const auto id = static_cast<DWORD>(Unsigned(c.request, "job", 0xFFFFFFFFu));
  const auto command = Unsigned(c.request, "command", 0xFFFFFFFFu);
  Job* job = FindJob(p, id);
  if (job == nullptr) throw SpoolerError{ERROR_INVALID_PARAMETER, "no such job on this printer"};
  if (command == kJobControlDelete || command == kJobControlCancel) {
    if (p.refuse_delete_error != 0) throw SpoolerError{p.refuse_delete_error, "the printer refuses to delete"};
    p.jobs.erase(p.jobs.begin() + (job - p.jobs.data()));
  } else if (command == kJobControlPause) {
    job->status |= JOB_STATUS_PAUSED;
  } else if (command == kJobControlResume) {
    job->status &= ~static_cast<DWORD>(JOB_STATUS_PAUSED);
    c.w.PrintReadyJobsLocked(p);
  } else {
    throw SpoolerError{ERROR_INVALID_PARAMETER, "unsupported job command"};
  }
  return {{"error", 0}};
}

}  // namespace qxsim::spooler
