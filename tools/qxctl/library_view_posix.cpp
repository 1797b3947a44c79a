// library_view_posix.cpp - INSPECTION ONLY: the POSIX developer build's look
// inside the library. Compiled only on POSIX, and the one file of qxctl that
// includes the library's own headers (src/).
//
// It reads the state record of the libqxdll.so this process loaded, for what
// no export shows: the pipe name, the language-monitor-available flag, the
// ticket sheet table and the driver as the library recorded them; and it
// runs the library's model read, which no export offers. The library hides
// both, so they are found as a debugger finds them: by their symbols in the
// library file's symbol table, the record's size checked against the layout
// compiled here and each routine's type named by its mangled name. A
// stripped library, or one whose record differs, gives no view. The model
// read opens the port; nothing is written to the library.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qxdll.h>

#include <cstring>
#include <type_traits>

#include "core/state.h"
#include "flash/permissions.h"
#include "library_view.h"
#include "port/port.h"

namespace qxctl {
namespace {

constexpr char kStateSymbol[] = "_ZN2qx7g_stateE";  // qx::g_state
// bool qx::ReadDeviceId(char*, DWORD, ULONGLONG): the last parameter's code
// is that of the type the platform's ULONGLONG is.
static_assert(std::is_same_v<DWORD, unsigned int>, "DWORD mangles as j");
constexpr const char* kReadDeviceIdSymbol =
    std::is_same_v<ULONGLONG, unsigned long> ? "_ZN2qx12ReadDeviceIdEPcjm" : "_ZN2qx12ReadDeviceIdEPcjy";
// bool qx::ModelFromDeviceId(const char*, char*, unsigned int)
constexpr char kModelSymbol[] = "_ZN2qx17ModelFromDeviceIdEPKcPcj";

// What a symbol must be to be the one looked for.
struct Wanted {
  const char* name;
  size_t nameSize;       // with its zero
  unsigned char type;    // STT_OBJECT or STT_FUNC
  uint64_t size;         // the object's size; 0 for any (functions)
};

// The symbol's value in the library file at path, or 0: the symbol tables
// are read within the file's bounds only.
ElfW(Addr) SymbolValue(const char* path, const Wanted& wanted) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Elf64_Ehdr))) {
    close(fd);
    return 0;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return 0;
  const auto* file = static_cast<const unsigned char*>(map);
  auto within = [size](uint64_t offset, uint64_t bytes) { return offset <= size && bytes <= size - offset; };

  ElfW(Addr) value = 0;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(file);
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 && header->e_ident[EI_CLASS] == ELFCLASS64 &&
      header->e_shentsize == sizeof(Elf64_Shdr) &&
      within(header->e_shoff, uint64_t{header->e_shnum} * sizeof(Elf64_Shdr))) {
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file + header->e_shoff);
    for (unsigned i = 0; i < header->e_shnum && value == 0; ++i) {
      const Elf64_Shdr& symtab = sections[i];
      if (symtab.sh_type != SHT_SYMTAB || symtab.sh_entsize != sizeof(Elf64_Sym) ||
          symtab.sh_link >= header->e_shnum) {
        continue;
      }
      const Elf64_Shdr& strtab = sections[symtab.sh_link];
      if (!within(symtab.sh_offset, symtab.sh_size) || !within(strtab.sh_offset, strtab.sh_size) ||
          strtab.sh_size < wanted.nameSize) {
        continue;
      }
      const auto* symbols = reinterpret_cast<const Elf64_Sym*>(file + symtab.sh_offset);
      const char* names = reinterpret_cast<const char*>(file + strtab.sh_offset);
      for (size_t s = 0; s < symtab.sh_size / sizeof(Elf64_Sym); ++s) {
        const Elf64_Sym& symbol = symbols[s];
        if (ELF64_ST_TYPE(symbol.st_info) != wanted.type || (wanted.size != 0 && symbol.st_size != wanted.size) ||
            symbol.st_shndx == SHN_UNDEF || symbol.st_name > strtab.sh_size - wanted.nameSize ||
            std::memcmp(names + symbol.st_name, wanted.name, wanted.nameSize) != 0) {
          continue;
        }
        value = symbol.st_value;
        break;
      }
    }
  }
  munmap(map, size);
  return value;
}

// The address of a symbol of the loaded library, or null.
void* FindSymbol(const Wanted& wanted) {
  Dl_info info{};
  link_map* module = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&qxIsNT), &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0 ||
      info.dli_fname == nullptr || module == nullptr) {
    return nullptr;
  }
  const ElfW(Addr) value = SymbolValue(info.dli_fname, wanted);
  if (value == 0) return nullptr;
  return reinterpret_cast<void*>(module->l_addr + value);
}

// The loaded library's state record, or null.
const qx::LibraryState* FindState() {
  return static_cast<const qx::LibraryState*>(
      FindSymbol({kStateSymbol, sizeof kStateSymbol, STT_OBJECT, sizeof(qx::LibraryState)}));
}

using ReadDeviceIdFn = decltype(&qx::ReadDeviceId);
using ModelFromDeviceIdFn = decltype(&qx::ModelFromDeviceId);

ReadDeviceIdFn FindReadDeviceId() {
  return reinterpret_cast<ReadDeviceIdFn>(
      FindSymbol({kReadDeviceIdSymbol, std::strlen(kReadDeviceIdSymbol) + 1, STT_FUNC, 0}));
}
ModelFromDeviceIdFn FindModelFromDeviceId() {
  return reinterpret_cast<ModelFromDeviceIdFn>(FindSymbol({kModelSymbol, sizeof kModelSymbol, STT_FUNC, 0}));
}

using CheckPermissionsFn = decltype(&qx::CheckPermissions);
constexpr char kCheckSymbol[] = "_ZN2qx16CheckPermissionsEPKNS_17PermissionRequestEi";

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

std::optional<LibraryView> InspectLibrary() {
  const qx::LibraryState* state = FindState();
  if (state == nullptr) return std::nullopt;
  LibraryView view;
  view.driver = Text(state->driverName, sizeof state->driverName);
  view.pipe = Text(state->pipeName, sizeof state->pipeName);
  view.monitor = state->lmAvailable != 0;
  view.pipeTimeoutMs = state->pipeTimeout;
  view.statusTimeoutMs = state->statusTimeout;
  const WORD count = state->sheets.count < qx::kMaxTicketSheets ? state->sheets.count : qx::kMaxTicketSheets;
  for (WORD i = 0; i < count; ++i) {
    const qx::TicketSheet& s = state->sheets.sheets[i];
    view.sheets.push_back({Text(s.name, sizeof s.name), s.paperCode, s.widthInches, s.lengthInches,
                           static_cast<long>(s.widthTenthsMm), static_cast<long>(s.lengthTenthsMm)});
  }
  return view;
}

bool ModelReadable() { return FindReadDeviceId() != nullptr && FindModelFromDeviceId() != nullptr; }

bool ReadModel(ModelView* view) {
  const ReadDeviceIdFn readDeviceId = FindReadDeviceId();
  const ModelFromDeviceIdFn modelOf = FindModelFromDeviceId();
  if (readDeviceId == nullptr || modelOf == nullptr) return false;
  char deviceId[1025] = {};
  if (!readDeviceId(deviceId, sizeof deviceId, 0)) return false;
  char model[1025] = {};
  view->deviceId = deviceId;
  view->found = modelOf(deviceId, model, sizeof model);
  view->model = view->found ? model : "";
  return true;
}

std::optional<uint16_t> CheckFirmwareName(const std::string& model, const std::string& version,
                                          const std::string& baseName) {
  const auto check =
      reinterpret_cast<CheckPermissionsFn>(FindSymbol({kCheckSymbol, sizeof kCheckSymbol, STT_FUNC, 0}));
  if (check == nullptr) return std::nullopt;
  qx::PermissionRequest request{};
  std::snprintf(request.model, sizeof request.model, "%s", model.c_str());
  std::snprintf(request.version, sizeof request.version, "%s", version.c_str());
  std::snprintf(request.fileName, sizeof request.fileName, "%s", baseName.c_str());
  return check(&request, 0);
}

}  // namespace qxctl
