// POSIX side: runs the library's DllMain when the shared library is loaded and
// unloaded, as the Windows loader does for a DLL. Linked into libqxdll.so only.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

__attribute__((constructor)) void OnLoad() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }

__attribute__((destructor)) void OnUnload() { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); }

}  // namespace
