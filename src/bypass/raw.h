// Raw pass-through printing: documents of data type "RAW" spooled to the
// current printer past its driver, and deleting queued jobs by name.
#pragma once

#include <windows.h>

namespace qx {

// Deletes the current printer's queued jobs whose document name is exactly
// docName (case included), or every job for a null docName. 1 when the job
// list was processed, also when a delete failed; 0 when it could not be read.
BOOL DeletePrintJobs(LPCSTR docName);

}  // namespace qx
