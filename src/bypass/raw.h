// Raw pass-through printing: documents of data type "RAW" spooled to the
// current printer past its driver, and deleting queued jobs by name.
#pragma once

#include <windows.h>

namespace qx {

// Deletes the current printer's queued jobs whose document name is exactly
// docName (case included), or every job for a null docName. 1 when the job
// list was processed, also when a delete failed; 0 when it could not be read.
BOOL DeletePrintJobs(LPCSTR docName);

// FinishBlankDocument - ends the blank raw document that the pipe opening
// spools to make the spooler reload a language monitor, so that it never
// reaches the printer as a job of its own: after its page has ended the job
// is aborted (removed unprinted); should the spooler refuse that, it is
// ended empty and left for the DeletePrintJobs that follows. The printer is
// closed and the bypass handle cleared on every path.
// Returns 1 whenever the page was ended, 0 when no document was open or its
// page could not be ended (the document is then aborted).
BOOL FinishBlankDocument();

// Deletes a raw document the host left open, unprinted, and closes its
// printer; nothing when none is open. Run at process detach.
void DiscardRawDocument();

}  // namespace qx
