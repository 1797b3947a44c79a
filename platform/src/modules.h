// modules.h - POSIX platform layer, internal: the registry behind
// LoadLibraryA and GetProcAddress.
//
// The layer's "DLLs" are names with a table of procedures. "winspool.drv"
// and "Setupapi" exist from the start; each area registers its procedures
// under its module when the layer loads, for instance from a static
// initialiser in its own source file:
//
//   const bool registered = qxplat::RegisterProc("winspool.drv", "GetDefaultPrinterA",
//                                                reinterpret_cast<FARPROC>(&GetDefaultPrinterA));
#ifndef QX_PLATFORM_MODULES_H
#define QX_PLATFORM_MODULES_H

#include <windows.h>

namespace qxplat {

// RegisterProc - make GetProcAddress(module, proc) return fn; adds the module
// when its name is new. Returns false for an empty name or a null fn.
bool RegisterProc(const char* module, const char* proc, FARPROC fn);

}  // namespace qxplat

#endif  // QX_PLATFORM_MODULES_H
