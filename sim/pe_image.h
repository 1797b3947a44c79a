// pe_image.h - qxsimd and tests: the writer of small Windows DLL images
// (PE32+, x86-64) that carry a version resource, as the world's driver files
// do. Pure C++ with no system calls, so the same bytes are made on POSIX
// (qxsimd, the platform layer's tests) and in the Windows test programs.
//
// The image is as small as the loader accepts: headers in the first 512
// bytes, then one section. With a version it is ".rsrc", holding the
// resource directory (type 16 RT_VERSION, name 1, language 0x0409) and the
// VS_VERSIONINFO tree: the fixed file information, a StringFileInfo table
// 040904B0 with the given texts, and VarFileInfo\Translation. Without a
// version the one section is ".rdata" and the image has no resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qxpe {

// Where the parts of an image lie, for tests that damage them.
inline constexpr size_t kNtHeaderOffset = 0x80;                                         // e_lfanew: "PE\0\0"
inline constexpr size_t kOptionalHeaderOffset = 0x98;                                   // after the 20-byte file header
inline constexpr size_t kResourceDirectoryEntry = kOptionalHeaderOffset + 112 + 2 * 8;  // RVA, size
inline constexpr size_t kSectionTableOffset = kOptionalHeaderOffset + 240;
inline constexpr size_t kSectionFileOffset = 0x200;  // PointerToRawData of the one section
inline constexpr uint32_t kSectionRva = 0x1000;
inline constexpr size_t kVersionInfoOffset = kSectionFileOffset + 0x58;  // VS_VERSIONINFO in the file

struct Version {
  uint16_t file[4] = {0, 0, 0, 0};  // a.b.c.d: MS = a << 16 | b, LS = c << 16 | d
  uint16_t product[4] = {0, 0, 0, 0};
  // The StringFileInfo texts (ASCII), such as {"FileVersion", "2.0.6.0"}.
  std::vector<std::pair<std::string, std::string>> strings;
};

// ParseVersion - "a.b.c.d", each part 0 to 65535, into parts; false otherwise.
bool ParseVersion(const std::string& text, uint16_t parts[4]);

// VersionFor - a version whose file and product versions are text (which
// must parse), with FileVersion, ProductVersion and FileDescription texts.
std::optional<Version> VersionFor(const std::string& text, const std::string& description);

// VersionInfo - the VS_VERSIONINFO tree alone, as it sits in the resource.
std::vector<uint8_t> VersionInfo(const Version& version);

// MakeDll - the whole image; with version, its version resource.
std::vector<uint8_t> MakeDll(const std::optional<Version>& version);

}  // namespace qxpe
