// The library's one process-wide state record.
#include "core/state.h"

namespace qx {

LibraryState g_state;

}  // namespace qx
