// version.cpp - POSIX platform layer, Win32 side: version resources
// (GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA), read from
// the file itself in the Windows executable format, so that a file answers
// here as it does on Windows.
//
// The way to the resource: the DOS header's e_lfanew, the NT signature and
// file header, the optional header's resource directory (PE32 or PE32+),
// the section that holds it, then the three levels of the resource
// directory (type 16 RT_VERSION, name 1 VS_VERSION_INFO, the first language)
// to the data entry, whose RVA is mapped to the file through the sections.
// Every offset and size read from the file is checked against the file and
// its section before it is used; a file that breaks any rule has no version
// resource (fail closed), whatever else it holds.
#include <qxplatform.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>
#include <winver.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "accounting.h"
#include "world_files.h"

namespace qxplat {
namespace {

constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVersionInfoName = 1;
constexpr size_t kMaxSections = 96;             // the loader's own limit
constexpr uint32_t kMaxResourceSize = 0x10000;  // wLength is 16 bits
constexpr uint32_t kSubdirectory = 0x80000000u;

// Errors, as Windows gives them: a file that is no executable image, or an
// image whose structure is broken, has no resource data at all; an image
// with resources but none of type RT_VERSION, or without the entry name 1,
// says which is missing.
constexpr DWORD kNoResources = ERROR_RESOURCE_DATA_NOT_FOUND;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }

// A file read by offset, never past its end.
class ImageFile {
 public:
  explicit ImageFile(int fd) : fd_(fd) {
    struct stat st;
    size_ = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  }
  ~ImageFile() { close(fd_); }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Read - exactly n bytes at offset into out; false when they are not all there.
  bool Read(uint64_t offset, size_t n, std::vector<uint8_t>& out) const {
    if (offset > size_ || n > size_ - offset) return false;
    out.resize(n);
    size_t done = 0;
    while (done < n) {
      const ssize_t got = pread(fd_, out.data() + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

struct Section {
  uint32_t rva, virtual_size, raw_size, raw_offset;
};

// FileOffset - where n bytes at rva lie in the file: inside one section's
// raw data. False when they do not lie wholly in one.
bool FileOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t n, uint64_t& offset) {
  for (const Section& s : sections) {
    const uint64_t extent = std::max(s.virtual_size, s.raw_size);
    if (rva < s.rva || rva - s.rva >= extent) continue;
    const uint64_t within = rva - s.rva;
    if (within + n > s.raw_size) return false;
    offset = uint64_t{s.raw_offset} + within;
    return true;
  }
  return false;
}

// The resource directory as one block, with checked reads of its entries.
struct ResourceDirectory {
  std::vector<uint8_t> bytes;

  enum class Entry { kFound, kMissing, kBroken };

  // FindEntry - the entry of the directory at dir with the numeric id (or
  // the first of any kind): kBroken when the directory does not lie inside
  // the block, kMissing when it has no such entry.
  Entry FindEntry(uint32_t dir, uint16_t id, bool first_any, uint32_t& target) const {
    if (dir > bytes.size() || bytes.size() - dir < 16) return Entry::kBroken;
    const size_t named = Get16(&bytes[dir + 12]);
    const size_t ids = Get16(&bytes[dir + 14]);
    const size_t count = named + ids;
    if ((bytes.size() - dir - 16) / 8 < count) return Entry::kBroken;
    for (size_t i = first_any ? 0 : named; i < count; ++i) {
      const uint8_t* entry = &bytes[dir + 16 + 8 * i];
      if (first_any || Get32(entry) == id) {
        target = Get32(entry + 4);
        return Entry::kFound;
      }
    }
    return Entry::kMissing;
  }
};

// FindVersionResource - the version resource's bytes; 0 or the error.
DWORD FindVersionResource(const char* path, std::vector<uint8_t>& resource) {
  int fd = -1;
  if (const DWORD error = OpenWorldFile(path, &fd); error != 0) return error;
  const ImageFile file(fd);

  std::vector<uint8_t> b;
  if (!file.Read(0, 64, b) || b[0] != 'M' || b[1] != 'Z') return kNoResources;
  const uint32_t nt = Get32(&b[0x3C]);
  if (!file.Read(nt, 24, b) || std::memcmp(b.data(), "PE\0\0", 4) != 0) return kNoResources;
  const size_t section_count = Get16(&b[6]);
  const uint16_t optional_size = Get16(&b[20]);
  if (section_count == 0 || section_count > kMaxSections) return kNoResources;

  std::vector<uint8_t> optional;
  if (!file.Read(uint64_t{nt} + 24, optional_size, optional) || optional_size < 2) return kNoResources;
  const uint16_t magic = Get16(optional.data());
  const size_t count_at = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
  if (count_at == 0 || optional_size < count_at + 4) return kNoResources;
  const uint32_t directories = Get32(&optional[count_at]);
  const size_t resource_at = count_at + 4 + 2 * 8;
  if (directories < 3 || optional_size < resource_at + 8) return kNoResources;
  const uint32_t directory_rva = Get32(&optional[resource_at]);
  const uint32_t directory_size = Get32(&optional[resource_at + 4]);
  if (directory_rva == 0 || directory_size < 16) return kNoResources;

  std::vector<uint8_t> table;
  if (!file.Read(uint64_t{nt} + 24 + optional_size, section_count * 40, table)) return kNoResources;
  std::vector<Section> sections;
  for (size_t i = 0; i < section_count; ++i) {
    const uint8_t* s = &table[i * 40];
    sections.push_back({Get32(s + 12), Get32(s + 8), Get32(s + 16), Get32(s + 20)});
  }

  // The directory, read whole (its size bounded by its section), then its
  // three levels: RT_VERSION, VS_VERSION_INFO, the first language.
  uint64_t offset = 0;
  if (!FileOffset(sections, directory_rva, 16, offset)) return kNoResources;
  uint32_t available = 0;
  for (const Section& s : sections) {
    if (directory_rva >= s.rva && directory_rva - s.rva < s.raw_size) available = s.raw_size - (directory_rva - s.rva);
  }
  ResourceDirectory directory;
  if (!file.Read(offset, std::min(directory_size, available), directory.bytes)) return kNoResources;
  // Each level: a broken directory is no resource data; a missing entry
  // says which level lacks it.
  uint32_t target = kSubdirectory;
  const struct {
    uint16_t id;
    bool first_any;
    DWORD missing;
  } levels[] = {{kRtVersion, false, ERROR_RESOURCE_TYPE_NOT_FOUND},
                {kVersionInfoName, false, ERROR_RESOURCE_NAME_NOT_FOUND},
                {0, true, ERROR_RESOURCE_LANG_NOT_FOUND}};
  for (const auto& level : levels) {
    if ((target & kSubdirectory) == 0) return kNoResources;
    switch (directory.FindEntry(target & ~kSubdirectory, level.id, level.first_any, target)) {
      case ResourceDirectory::Entry::kFound:
        break;
      case ResourceDirectory::Entry::kMissing:
        return level.missing;
      case ResourceDirectory::Entry::kBroken:
        return kNoResources;
    }
  }
  if ((target & kSubdirectory) != 0 || target > directory.bytes.size() || directory.bytes.size() - target < 16) {
    return kNoResources;
  }
  const uint32_t data_rva = Get32(&directory.bytes[target]);
  const uint32_t data_size = Get32(&directory.bytes[target + 4]);
  if (data_size == 0 || data_size > kMaxResourceSize || !FileOffset(sections, data_rva, data_size, offset) ||
      !file.Read(offset, data_size, resource)) {
    return kNoResources;
  }
  return 0;
}

// One node of a version tree in a caller's block: where it lies and its parts.
struct Node {
  const uint8_t* start = nullptr;
  const uint8_t* end = nullptr;  // start + wLength
  uint16_t value_length = 0;
  uint16_t type = 0;
  const uint8_t* key = nullptr;  // UTF-16, terminated inside the node
  const uint8_t* value = nullptr;
  const uint8_t* children = nullptr;
};

const uint8_t* Align4(const uint8_t* base, const uint8_t* p) {
  return base + ((p - base + 3) & ~static_cast<ptrdiff_t>(3));
}

// ParseNode - the node at p, which must lie wholly before limit.
bool ParseNode(const uint8_t* base, const uint8_t* p, const uint8_t* limit, Node& node) {
  if (limit - p < 6) return false;
  const uint16_t length = Get16(p);
  if (length < 6 || length > limit - p) return false;
  node.start = p;
  node.end = p + length;
  node.value_length = Get16(p + 2);
  node.type = Get16(p + 4);
  node.key = p + 6;
  const uint8_t* q = node.key;
  while (true) {
    if (node.end - q < 2) return false;
    if (Get16(q) == 0) break;
    q += 2;
  }
  node.value = Align4(base, q + 2);
  const size_t value_bytes = node.type == 1 ? size_t{node.value_length} * 2 : node.value_length;
  if (node.value > node.end || static_cast<size_t>(node.end - node.value) < value_bytes) return false;
  node.children = Align4(base, node.value + value_bytes);
  return true;
}

// The key of a node equals name (8-bit), without regard to the case of A to Z.
bool KeyIs(const Node& node, const std::string& name) {
  const uint8_t* q = node.key;
  for (char c : name) {
    uint16_t k = Get16(q);
    if (k >= 'a' && k <= 'z') k = static_cast<uint16_t>(k - 'a' + 'A');
    uint16_t n = static_cast<uint8_t>(c);
    if (n >= 'a' && n <= 'z') n = static_cast<uint16_t>(n - 'a' + 'A');
    if (k == 0 || k != n) return false;
    q += 2;
  }
  return Get16(q) == 0;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace
}  // namespace qxplat

using namespace qxplat;

extern "C" {

// GetFileVersionInfoSizeA - the size of block GetFileVersionInfoA needs for
// the file's version resource: twice the resource and 4 bytes, as Windows
// reserves room for 8-bit copies of its texts.
//   lptstrFilename (in): a drive path of the world's files (world_files.h).
//   lpdwHandle (out, may be null): set to 0.
// Returns 0 with the last error on failure: ERROR_INVALID_PARAMETER (null
// name), ERROR_BAD_PATHNAME (empty name), the file's open error
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED),
// ERROR_RESOURCE_DATA_NOT_FOUND (not an executable image, a broken one, or
// none with resources), ERROR_RESOURCE_TYPE_NOT_FOUND (resources but no
// version), ERROR_RESOURCE_NAME_NOT_FOUND. Fault class "open".
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  if (FaultPoint(kFaultOpen, "GetFileVersionInfoSizeA", ERROR_FILE_NOT_FOUND)) return 0;
  if (lptstrFilename == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (*lptstrFilename == '\0') return Fail(ERROR_BAD_PATHNAME);
  std::vector<uint8_t> resource;
  if (const DWORD error = FindVersionResource(lptstrFilename, resource); error != 0) return Fail(error);
  return static_cast<DWORD>(resource.size() * 2 + 4);
}

// GetFileVersionInfoA - the file's version resource into lpData.
//   dwHandle: ignored, as on Windows.
//   dwLen (in), lpData (out): receives the resource, cut to dwLen bytes when
//     shorter (the size from GetFileVersionInfoSizeA always holds it). A cut
//     block's root length is lowered to what it holds, so that
//     VerQueryValueA never reads past it.
// Returns TRUE, or FALSE with the errors of GetFileVersionInfoSizeA, or
// ERROR_INVALID_DATA for a null block. Fault class "open".
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
  (void)dwHandle;
  if (FaultPoint(kFaultOpen, "GetFileVersionInfoA", ERROR_FILE_NOT_FOUND)) return FALSE;
  if (lpData == nullptr) return Fail(ERROR_INVALID_DATA);
  if (lptstrFilename == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (*lptstrFilename == '\0') return Fail(ERROR_BAD_PATHNAME);
  std::vector<uint8_t> resource;
  if (const DWORD error = FindVersionResource(lptstrFilename, resource); error != 0) return Fail(error);
  const size_t n = std::min<size_t>(dwLen, resource.size());
  std::memcpy(lpData, resource.data(), n);
  auto* block = static_cast<uint8_t*>(lpData);
  if (n >= 2 && Get16(block) > n) {
    block[0] = static_cast<uint8_t>(n);
    block[1] = static_cast<uint8_t>(n >> 8);
  }
  return TRUE;
}

// VerQueryValueA - a value of a version block from GetFileVersionInfoA.
//   pBlock (in): the block.
//   lpSubBlock (in): "\\" (or null or empty) for the root's value, the
//     VS_FIXEDFILEINFO; or a path of keys "\\VarFileInfo\\Translation",
//     compared without regard to case, to a binary value.
//   lplpBuffer (out): the value's address inside the block.
//   puLen (out, may be null): its length in bytes (0 when not found).
// Returns TRUE; FALSE for a null block or out address (ERROR_INVALID_PARAMETER),
// a block that is no version tree (ERROR_INVALID_DATA), a key not there
// (ERROR_RESOURCE_TYPE_NOT_FOUND), or a text value: their 8-bit copies are
// not made by this layer (ERROR_CALL_NOT_IMPLEMENTED). The root query
// succeeds whatever its value's length, as on Windows: callers check it.
BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (puLen != nullptr) *puLen = 0;
  if (pBlock == nullptr || lplpBuffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const auto* base = static_cast<const uint8_t*>(pBlock);
  Node node;
  if (!ParseNode(base, base, base + Get16(base), node)) return Fail(ERROR_INVALID_DATA);
  const std::string path = lpSubBlock != nullptr ? lpSubBlock : "";
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    const std::string key = path.substr(at, end - at);
    at = end + 1;
    if (key.empty()) continue;
    bool found = false;
    Node child;
    for (const uint8_t* p = node.children; p < node.end; p = Align4(base, child.end)) {
      if (!ParseNode(base, p, node.end, child)) break;
      if (KeyIs(child, key)) {
        found = true;
        break;
      }
    }
    if (!found) return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    node = child;
  }
  if (node.start != base && node.type == 1) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  *lplpBuffer = const_cast<uint8_t*>(node.value);
  if (puLen != nullptr) *puLen = node.value_length;
  return TRUE;
}

}  // extern "C"
