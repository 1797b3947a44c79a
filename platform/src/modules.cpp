// modules.cpp - POSIX implementation of the Win32 module calls:
// LoadLibraryA, FreeLibrary, GetModuleHandleA and GetProcAddress over the
// layer's registry of modules (see modules.h), with qxplat_register_proc for
// tests.
#include "modules.h"

#include <qxplatform.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "accounting.h"
#include "handles.h"

namespace qxplat {
namespace {

class ModuleObject final : public Object {
 public:
  explicit ModuleObject(std::string key) : Object(QXPLAT_KIND_COUNT), key_(std::move(key)) {}
  bool ClosableByCloseHandle() const override { return false; }
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

struct ModuleEntry {
  std::unordered_map<std::string, FARPROC> procs;
  DWORD refs = 0;
  HMODULE handle = nullptr;
  bool permanent = false;  // the process image: never unloaded, not counted
};

struct ModuleRegistry {
  std::mutex lock;
  std::unordered_map<std::string, ModuleEntry> modules;
};

constexpr const char* kImageKey = "";

// Registry key of a module name: the last path component, lower case, without
// a ".dll" or ".drv" ending ("C:\\Windows\\WINSPOOL.DRV" -> "winspool").
std::string ModuleKey(std::string_view name) {
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  for (const char* ending : {".dll", ".drv"}) {
    if (key.size() > 4 && key.compare(key.size() - 4, 4, ending) == 0) {
      key.resize(key.size() - 4);
      break;
    }
  }
  return key;
}

// Locked by the caller. The handle of a module is created when its first
// reference is taken and goes when the last one is dropped.
HMODULE EnsureHandleLocked(const std::string& key, ModuleEntry& entry) {
  if (entry.handle == nullptr) {
    entry.handle = static_cast<HMODULE>(InsertHandle(std::make_shared<ModuleObject>(key)));
  }
  return entry.handle;
}

ModuleRegistry& TheModules() {
  static ModuleRegistry* registry = [] {
    auto* r = new ModuleRegistry;
    r->modules[ModuleKey("winspool.drv")];
    r->modules[ModuleKey("Setupapi")];
    ModuleEntry& image = r->modules[kImageKey];
    image.permanent = true;
    EnsureHandleLocked(kImageKey, image);
    return r;
  }();
  return *registry;
}

}  // namespace

bool RegisterProc(const char* module, const char* proc, FARPROC fn) {
  if (module == nullptr || *module == '\0' || proc == nullptr || *proc == '\0' || fn == nullptr) {
    return false;
  }
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  r.modules[ModuleKey(module)].procs[proc] = fn;
  return true;
}

}  // namespace qxplat

using namespace qxplat;

extern "C" {

// LoadLibraryA - take a reference on one of the layer's modules ("winspool.drv",
// "Setupapi", and those the areas or tests register). The name matches
// without regard to case, directory, or a ".dll"/".drv" ending. Returns the
// module's handle (the same for every reference) or NULL with
// ERROR_MOD_NOT_FOUND. Fault class "open".
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (FaultPoint(kFaultOpen, "LoadLibraryA", ERROR_MOD_NOT_FOUND)) return nullptr;
  const std::string key = ModuleKey(lpLibFileName);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = key.empty() ? r.modules.end() : r.modules.find(key);
  if (it == r.modules.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleEntry& entry = it->second;
  HMODULE handle = EnsureHandleLocked(key, entry);
  ++entry.refs;
  CountUp(QXPLAT_KIND_MODULE);
  return handle;
}

// FreeLibrary - drop one reference; the last one unloads the module and its
// handle becomes invalid. NULL: ERROR_INVALID_HANDLE; a handle that is not
// a loaded module: ERROR_MOD_NOT_FOUND.
BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto module = LookupHandle<ModuleObject>(hLibModule);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = module == nullptr ? r.modules.end() : r.modules.find(module->key());
  if (it == r.modules.end() || it->second.handle != hLibModule) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  ModuleEntry& entry = it->second;
  if (entry.permanent) return TRUE;
  if (entry.refs == 0) {  // lost a race with another thread's last free
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  CountDown(QXPLAT_KIND_MODULE);
  if (--entry.refs == 0) {
    RemoveHandle<ModuleObject>(entry.handle);
    entry.handle = nullptr;
  }
  return TRUE;
}

// GetModuleHandleA - the handle of a loaded module, taking no reference; NULL
// names the process image. Not loaded: NULL with ERROR_MOD_NOT_FOUND.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  const std::string key = lpModuleName == nullptr ? kImageKey : ModuleKey(lpModuleName);
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.modules.find(key);
  if (it == r.modules.end() || it->second.handle == nullptr ||
      (lpModuleName != nullptr && key.empty())) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return it->second.handle;
}

// GetProcAddress - a procedure registered under a loaded module; NULL for the
// module names the process image, which has none. The name is case-sensitive;
// ordinals are not supported (no module has any). Errors: ERROR_MOD_NOT_FOUND
// for a handle that is not a loaded module, ERROR_PROC_NOT_FOUND.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (FaultPoint({}, "GetProcAddress", ERROR_PROC_NOT_FOUND)) return nullptr;
  std::string key = kImageKey;
  if (hModule != nullptr) {
    auto module = LookupHandle<ModuleObject>(hModule);
    if (module == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    key = module->key();
  }
  if (reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  ModuleRegistry& r = TheModules();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.modules.find(key);
  if (it == r.modules.end() || (hModule != nullptr && it->second.handle != hModule)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto proc = it->second.procs.find(lpProcName);
  if (proc == it->second.procs.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return proc->second;
}

int qxplat_register_proc(const char* module, const char* proc, void (*fn)(void)) {
  return RegisterProc(module, proc, reinterpret_cast<FARPROC>(fn)) ? 0 : -1;
}

}  // extern "C"
