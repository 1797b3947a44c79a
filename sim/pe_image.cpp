// pe_image.cpp - the writer of small PE32+ DLL images with a version resource
// (see pe_image.h). All fields are little-endian, as the format is.
#include "pe_image.h"

#include <algorithm>

namespace qxpe {
namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kLangEnUs = 0x0409;
constexpr size_t kDataEntryOffset = 0x48;  // in the section: IMAGE_RESOURCE_DATA_ENTRY
constexpr size_t kDataOffset = 0x58;       // in the section: the resource's bytes

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void Put64(Bytes& b, size_t at, uint64_t v) {
  Put32(b, at, static_cast<uint32_t>(v));
  Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
void Append16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Append32(Bytes& b, uint32_t v) {
  Append16(b, v & 0xFFFF);
  Append16(b, v >> 16);
}
void Pad4(Bytes& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}
uint32_t AlignUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }

// One node of the version tree: wLength, wValueLength, wType, the key in
// UTF-16 with its zero, padding, the value, padding, then the children.
// wLength counts everything but the padding after the last child.
// value_length: bytes for binary values (type 0), characters for texts (type 1).
Bytes Node(const std::string& key, const Bytes& value, uint16_t value_length, uint16_t type,
           const std::vector<Bytes>& children) {
  Bytes b(6, 0);
  for (char c : key) Append16(b, static_cast<uint8_t>(c));
  Append16(b, 0);
  Pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    Pad4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  Put16(b, 0, static_cast<uint32_t>(b.size()));
  Put16(b, 2, value_length);
  Put16(b, 4, type);
  return b;
}

Bytes TextValue(const std::string& text) {
  Bytes b;
  for (char c : text) Append16(b, static_cast<uint8_t>(c));
  Append16(b, 0);
  return b;
}

Bytes FixedFileInfo(const Version& v) {
  Bytes b;
  Append32(b, 0xFEEF04BD);  // dwSignature
  Append32(b, 0x00010000);  // dwStrucVersion
  Append32(b, uint32_t{v.file[0]} << 16 | v.file[1]);
  Append32(b, uint32_t{v.file[2]} << 16 | v.file[3]);
  Append32(b, uint32_t{v.product[0]} << 16 | v.product[1]);
  Append32(b, uint32_t{v.product[2]} << 16 | v.product[3]);
  Append32(b, 0x3F);        // dwFileFlagsMask
  Append32(b, 0);           // dwFileFlags
  Append32(b, 0x00040004);  // dwFileOS: VOS_NT_WINDOWS32
  Append32(b, 2);           // dwFileType: VFT_DLL
  Append32(b, 0);           // dwFileSubtype
  Append32(b, 0);           // dwFileDateMS
  Append32(b, 0);           // dwFileDateLS
  return b;
}

// The resource section: directory, data entry, then the resource itself.
Bytes ResourceSection(const Bytes& resource) {
  Bytes s(kDataOffset, 0);
  auto directory = [&](size_t at, uint16_t id, uint32_t target) {
    Put16(s, at + 14, 1);  // NumberOfIdEntries
    Put32(s, at + 16, id);
    Put32(s, at + 20, target);
  };
  directory(0x00, kRtVersion, 0x80000000u | 0x18);  // type -> name directory
  directory(0x18, 1, 0x80000000u | 0x30);           // name 1 -> language directory
  directory(0x30, kLangEnUs, kDataEntryOffset);     // language -> data entry
  Put32(s, kDataEntryOffset, kSectionRva + kDataOffset);
  Put32(s, kDataEntryOffset + 4, static_cast<uint32_t>(resource.size()));
  s.insert(s.end(), resource.begin(), resource.end());
  return s;
}

}  // namespace

bool ParseVersion(const std::string& text, uint16_t parts[4]) {
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    size_t digits = 0;
    unsigned long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
      value = value * 10 + static_cast<unsigned long>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 0xFFFF) return false;
    parts[i] = static_cast<uint16_t>(value);
  }
  return at == text.size();
}

std::optional<Version> VersionFor(const std::string& text, const std::string& description) {
  Version v;
  if (!ParseVersion(text, v.file)) return std::nullopt;
  for (int i = 0; i < 4; ++i) v.product[i] = v.file[i];
  v.strings = {{"FileDescription", description}, {"FileVersion", text}, {"ProductVersion", text}};
  return v;
}

Bytes VersionInfo(const Version& version) {
  std::vector<Bytes> strings;
  for (const auto& [key, text] : version.strings) {
    strings.push_back(Node(key, TextValue(text), static_cast<uint16_t>(text.size() + 1), 1, {}));
  }
  const Bytes table = Node("040904B0", {}, 0, 1, strings);
  const Bytes string_info = Node("StringFileInfo", {}, 0, 1, {table});
  Bytes translation;
  Append16(translation, kLangEnUs);
  Append16(translation, 0x04B0);  // Unicode
  const Bytes var = Node("Translation", translation, 4, 0, {});
  const Bytes var_info = Node("VarFileInfo", {}, 0, 1, {var});
  const Bytes fixed = FixedFileInfo(version);
  return Node("VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), 0, {string_info, var_info});
}

Bytes MakeDll(const std::optional<Version>& version) {
  const Bytes section = version ? ResourceSection(VersionInfo(*version)) : Bytes(16, 0);
  const uint32_t virtual_size = static_cast<uint32_t>(section.size());
  const uint32_t raw_size = AlignUp(virtual_size, kFileAlignment);
  Bytes b(kSectionFileOffset + raw_size, 0);

  // DOS header: the signature and where the NT headers are.
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kNtHeaderOffset);

  // NT signature and file header: x86-64, one section, an executable DLL
  // that handles addresses above 2 GB.
  b[kNtHeaderOffset] = 'P';
  b[kNtHeaderOffset + 1] = 'E';
  const size_t file_header = kNtHeaderOffset + 4;
  Put16(b, file_header, 0x8664);
  Put16(b, file_header + 2, 1);
  Put16(b, file_header + 16, 240);  // SizeOfOptionalHeader
  Put16(b, file_header + 18, 0x2022);

  // Optional header (PE32+).
  const size_t o = kOptionalHeaderOffset;
  Put16(b, o, 0x20B);
  b[o + 2] = 14;                     // linker version
  Put32(b, o + 8, raw_size);         // SizeOfInitializedData
  Put32(b, o + 20, kSectionRva);     // BaseOfCode
  Put64(b, o + 24, 0x180000000ull);  // ImageBase
  Put32(b, o + 32, kSectionAlignment);
  Put32(b, o + 36, kFileAlignment);
  Put16(b, o + 40, 6);                                                       // operating system version 6.0
  Put16(b, o + 48, 6);                                                       // subsystem version 6.0
  Put32(b, o + 56, kSectionRva + AlignUp(virtual_size, kSectionAlignment));  // SizeOfImage
  Put32(b, o + 60, kSectionFileOffset);                                      // SizeOfHeaders
  Put16(b, o + 68, 2);                                                       // Subsystem: Windows GUI
  Put16(b, o + 70, 0x0160);    // dynamic base, high-entropy VA, NX compatible
  Put64(b, o + 72, 0x100000);  // stack reserve
  Put64(b, o + 80, 0x1000);    // stack commit
  Put64(b, o + 88, 0x100000);  // heap reserve
  Put64(b, o + 96, 0x1000);    // heap commit
  Put32(b, o + 108, 16);       // NumberOfRvaAndSizes
  if (version) {
    Put32(b, kResourceDirectoryEntry, kSectionRva);
    Put32(b, kResourceDirectoryEntry + 4, virtual_size);
  }

  // The one section.
  const size_t s = kSectionTableOffset;
  const char* name = version ? ".rsrc" : ".rdata";
  for (size_t i = 0; name[i] != '\0'; ++i) b[s + i] = static_cast<uint8_t>(name[i]);
  Put32(b, s + 8, virtual_size);
  Put32(b, s + 12, kSectionRva);
  Put32(b, s + 16, raw_size);
  Put32(b, s + 20, kSectionFileOffset);
  Put32(b, s + 36, 0x40000040);  // initialised data, readable

  std::copy(section.begin(), section.end(), b.begin() + kSectionFileOffset);
  return b;
}

}  // namespace qxpe
