#include "runner/option_patch.h"

#include <cstring>

#include "base/endian.h"
#include "runner/resource_table.h"

namespace {

// A bounds-checked view of the file.
struct Bytes {
  const uint8_t* data;
  size_t size;
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
};

// ---- PE ----------------------------------------------------------------------------------

constexpr size_t kDosLfanew = 0x3C;
constexpr size_t kPeSignatureSize = 4;
constexpr size_t kCoffNumberOfSections = 2;
constexpr size_t kCoffSizeOfOptionalHeader = 16;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kOptMagic = 0;
constexpr uint16_t kOptMagicPe32 = 0x10B;
constexpr uint16_t kOptMagicPe32Plus = 0x20B;
constexpr size_t kOptRvaCountPe32 = 92;
constexpr size_t kOptRvaCountPe32Plus = 108;
constexpr size_t kDataDirectoryEntrySize = 8;
constexpr uint32_t kDataDirectoryResource = 2;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionVirtualAddress = 12;
constexpr size_t kSectionSizeOfRawData = 16;
constexpr size_t kSectionPointerToRawData = 20;
constexpr size_t kResDirNamedCount = 12;
constexpr size_t kResDirIdCount = 14;
constexpr size_t kResDirHeaderSize = 16;
constexpr size_t kResEntrySize = 8;
constexpr uint32_t kResHighBit = 0x80000000u;
constexpr size_t kResDataRva = 0;
constexpr size_t kResDataSize = 4;
constexpr size_t kResDataEntrySize = 16;

struct PeImage {
  Bytes file;
  size_t sections = 0;
  uint32_t section_count = 0;
  size_t rsrc = 0;  // file offset of the resource directory
  uint32_t rsrc_size = 0;

  // File offset of `length` bytes at `rva`, when they lie in one section's file data.
  bool RvaToOffset(uint32_t rva, uint32_t length, size_t* offset) const {
    for (uint32_t i = 0; i < section_count; ++i) {
      const uint8_t* s = file.data + sections + i * kSectionHeaderSize;
      uint32_t va = LoadLe32(s + kSectionVirtualAddress);
      uint32_t raw = LoadLe32(s + kSectionSizeOfRawData);
      uint32_t pointer = LoadLe32(s + kSectionPointerToRawData);
      if (rva < va || uint64_t(rva) - va + length > raw) continue;
      if (!file.Has(uint64_t(pointer) + (rva - va), length)) return false;
      *offset = pointer + (rva - va);
      return true;
    }
    return false;
  }

  // Checks that `length` bytes at `offset` of the resource directory lie inside it.
  bool InDirectory(uint32_t offset, uint32_t length) const {
    return offset <= rsrc_size && length <= rsrc_size - offset;
  }
};

err_t OpenPe(Bytes file, PeImage* pe) {
  if (!file.Has(0, kDosLfanew + 4) || file.data[0] != 'M' || file.data[1] != 'Z')
    return kErrBadFormat;
  uint64_t nt = LoadLe32(file.data + kDosLfanew);
  if (!file.Has(nt, kPeSignatureSize + kCoffHeaderSize) ||
      std::memcmp(file.data + nt, "PE\0\0", 4) != 0)
    return kErrBadFormat;
  const uint8_t* coff = file.data + nt + kPeSignatureSize;
  uint64_t opt = nt + kPeSignatureSize + kCoffHeaderSize;
  uint16_t opt_size = LoadLe16(coff + kCoffSizeOfOptionalHeader);
  if (!file.Has(opt, opt_size) || opt_size < 2) return kErrBadFormat;
  uint16_t magic = LoadLe16(file.data + opt + kOptMagic);
  size_t count_at = magic == kOptMagicPe32       ? kOptRvaCountPe32
                    : magic == kOptMagicPe32Plus ? kOptRvaCountPe32Plus
                                                 : 0;
  if (count_at == 0 || opt_size < count_at + 4) return kErrBadFormat;
  uint32_t dir_count = LoadLe32(file.data + opt + count_at);
  size_t dir_at = count_at + 4 + kDataDirectoryResource * kDataDirectoryEntrySize;
  if (dir_count <= kDataDirectoryResource || opt_size < dir_at + kDataDirectoryEntrySize)
    return kErrResourceTypeNotFound;
  uint32_t rsrc_rva = LoadLe32(file.data + opt + dir_at);
  pe->rsrc_size = LoadLe32(file.data + opt + dir_at + 4);
  pe->file = file;
  pe->sections = size_t(opt + opt_size);
  pe->section_count = LoadLe16(coff + kCoffNumberOfSections);
  if (!file.Has(pe->sections, uint64_t(pe->section_count) * kSectionHeaderSize))
    return kErrBadFormat;
  if (rsrc_rva == 0 || pe->rsrc_size == 0) return kErrResourceTypeNotFound;
  if (!pe->RvaToOffset(rsrc_rva, pe->rsrc_size, &pe->rsrc)) return kErrBadFormat;
  return kOk;
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

// Whether the counted UTF-16LE name at `offset` of the directory equals `want`.
bool PeNameMatches(const PeImage& pe, uint32_t offset, const char16_t* want) {
  if (!pe.InDirectory(offset, 2)) return false;
  const uint8_t* s = pe.file.data + pe.rsrc + offset;
  uint16_t length = LoadLe16(s);
  if (!pe.InDirectory(offset + 2, uint32_t(length) * 2)) return false;
  for (uint16_t i = 0; i < length; ++i)
    if (!want[i] || AsciiUpper(char16_t(LoadLe16(s + 2 + 2 * i))) != AsciiUpper(want[i]))
      return false;
  return want[length] == 0;
}

// The target of the directory entry at `dir` named `want` (any entry when want is null).
// Named entries come first in a directory; numbered ones can only match a null `want`.
err_t PeFindEntry(const PeImage& pe, uint32_t dir, const char16_t* want, uint32_t* target) {
  if (!pe.InDirectory(dir, kResDirHeaderSize)) return kErrBadFormat;
  const uint8_t* d = pe.file.data + pe.rsrc + dir;
  uint32_t count = uint32_t(LoadLe16(d + kResDirNamedCount)) + LoadLe16(d + kResDirIdCount);
  if (!pe.InDirectory(dir + kResDirHeaderSize, count * kResEntrySize)) return kErrBadFormat;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = d + kResDirHeaderSize + i * kResEntrySize;
    uint32_t name = LoadLe32(e);
    if (want && !((name & kResHighBit) && PeNameMatches(pe, name & ~kResHighBit, want))) continue;
    *target = LoadLe32(e + 4);
    return kOk;
  }
  return kErrResourceNameNotFound;
}

err_t LocatePe(Bytes file, const char16_t* type, const char16_t* name, size_t* offset,
               uint32_t* length) {
  PeImage pe;
  err_t e = OpenPe(file, &pe);
  if (e != kOk) return e;
  // Three levels: type, name, language; each but the last leads to a subdirectory.
  uint32_t types = 0, names = 0, languages = 0, data = 0;
  e = PeFindEntry(pe, 0, type, &types);
  if (e == kErrResourceNameNotFound) return kErrResourceTypeNotFound;
  if (e == kOk && !(types & kResHighBit)) e = kErrBadFormat;
  if (e == kOk) e = PeFindEntry(pe, types & ~kResHighBit, name, &names);
  if (e == kOk && !(names & kResHighBit)) e = kErrBadFormat;
  if (e == kOk) e = PeFindEntry(pe, names & ~kResHighBit, nullptr, &languages);
  if (e == kErrResourceNameNotFound) return e;
  if (e == kOk && (languages & kResHighBit)) e = kErrBadFormat;
  data = languages;
  if (e != kOk || !pe.InDirectory(data, kResDataEntrySize)) return kErrBadFormat;
  const uint8_t* entry = file.data + pe.rsrc + data;
  uint32_t size = LoadLe32(entry + kResDataSize);
  if (!pe.RvaToOffset(LoadLe32(entry + kResDataRva), size, offset)) return kErrBadFormat;
  *length = size;
  return kOk;
}

// ---- ELF ---------------------------------------------------------------------------------

constexpr size_t kElfClass = 4;
constexpr size_t kElfData = 5;
constexpr uint8_t kElfClass32 = 1;
constexpr uint8_t kElfClass64 = 2;
constexpr uint8_t kElfDataLittle = 1;
constexpr uint32_t kShtNobits = 8;
constexpr char kRsrcSection[] = "isorun_rsrc";

// Field offsets of the file header and section headers for one ELF class.
struct ElfLayout {
  size_t header_size, shoff, shentsize, shnum, shstrndx;
  size_t sh_size_min, sh_name, sh_type, sh_offset, sh_size;
  bool wide;  // 64-bit offsets and sizes
};
constexpr ElfLayout kElf32 = {0x34, 0x20, 0x2E, 0x30, 0x32, 40, 0, 4, 0x10, 0x14, false};
constexpr ElfLayout kElf64 = {0x40, 0x28, 0x3A, 0x3C, 0x3E, 64, 0, 4, 0x18, 0x20, true};

uint64_t LoadWord(const uint8_t* p, bool wide) { return wide ? LoadLe64(p) : LoadLe32(p); }

struct ElfSection {
  uint64_t offset, size;
};

// The file range of the section named `want`.
err_t FindElfSection(Bytes file, const ElfLayout& l, const char* want, ElfSection* found) {
  if (!file.Has(0, l.header_size)) return kErrBadFormat;
  uint64_t shoff = LoadWord(file.data + l.shoff, l.wide);
  uint16_t entsize = LoadLe16(file.data + l.shentsize);
  uint16_t count = LoadLe16(file.data + l.shnum);
  uint16_t strndx = LoadLe16(file.data + l.shstrndx);
  if (count == 0) return kErrResourceTypeNotFound;
  if (entsize < l.sh_size_min || strndx >= count || !file.Has(shoff, uint64_t(entsize) * count))
    return kErrBadFormat;
  auto header = [&](uint16_t i) { return file.data + shoff + uint64_t(i) * entsize; };
  auto range = [&](uint16_t i) {
    return ElfSection{LoadWord(header(i) + l.sh_offset, l.wide),
                      LoadWord(header(i) + l.sh_size, l.wide)};
  };
  ElfSection names = range(strndx);
  if (!file.Has(names.offset, names.size)) return kErrBadFormat;
  size_t want_size = std::strlen(want) + 1;
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t name = LoadLe32(header(i) + l.sh_name);
    if (name > names.size || names.size - name < want_size) continue;
    if (std::memcmp(file.data + names.offset + name, want, want_size) != 0) continue;
    ElfSection s = range(i);
    if (LoadLe32(header(i) + l.sh_type) == kShtNobits || !file.Has(s.offset, s.size))
      return kErrBadFormat;
    *found = s;
    return kOk;
  }
  return kErrResourceTypeNotFound;
}

err_t LocateElf(Bytes file, const char16_t* type, const char16_t* name, size_t* offset,
                uint32_t* length) {
  uint8_t cls = file.data[kElfClass];
  if ((cls != kElfClass32 && cls != kElfClass64) || file.data[kElfData] != kElfDataLittle)
    return kErrBadFormat;
  ElfSection s;
  err_t e = FindElfSection(file, cls == kElfClass64 ? kElf64 : kElf32, kRsrcSection, &s);
  if (e != kOk) return e;
  RsrcLocation at;
  if (!rsrc_table_find(file.data + s.offset, size_t(s.size), type, name, &at))
    return kErrResourceNameNotFound;
  *offset = size_t(s.offset) + at.offset;
  *length = at.size;
  return kOk;
}

}  // namespace

err_t locate_file_resource(const uint8_t* file, size_t size, const char16_t* type,
                           const char16_t* name, size_t* offset, uint32_t* length) {
  *offset = 0;
  *length = 0;
  if (!file || !type || !name) return kErrInvalidParameter;
  Bytes bytes{file, size};
  size_t at = 0;
  uint32_t found = 0;
  err_t e = kErrBadFormat;
  if (size >= 2 && file[0] == 'M' && file[1] == 'Z') {
    e = LocatePe(bytes, type, name, &at, &found);
  } else if (size >= 16 && std::memcmp(file,
                                       "\x7F"
                                       "ELF",
                                       4) == 0) {
    e = LocateElf(bytes, type, name, &at, &found);
  }
  if (e != kOk) return e;
  *offset = at;
  *length = found;
  return kOk;
}

err_t patch_option(uint8_t* file, size_t size, const char16_t* name, const char16_t* value) {
  size_t offset;
  uint32_t length;
  err_t e = locate_file_resource(file, size, u"OPTION", name, &offset, &length);
  if (e != kOk) return e;
  size_t units = 0;
  while (value && value[units]) ++units;
  if ((units + 1) * 2 > length) return kErrInsufficientBuffer;
  std::memset(file + offset, 0, length);
  for (size_t i = 0; i < units; ++i) StoreLe16(file + offset + 2 * i, value[i]);
  return kOk;
}
