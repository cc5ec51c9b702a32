// Small stand-ins for built runners, made in memory: a PE file whose resource directory holds
// OPTION entries, and an ELF file with an "isorun_rsrc" section, each with the layout the real
// tools write, so the option patcher can be tested (and fuzzed) on any host.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A PE32 file with one section ".rsrc" holding type OPTION with the given (name, size) entries,
// each zero-filled, language 0x409.
inline std::vector<uint8_t> MakeFakePe(const std::vector<std::pair<std::string, uint32_t>>& options) {
  constexpr uint32_t kLfanew = 0x40, kOptSize = 224, kRaw = 0x200, kVa = 0x1000;
  const uint32_t n = uint32_t(options.size());
  // Resource section: root directory (types), the OPTION directory (names), one language
  // directory per name, the data entries, then the name strings and the data.
  std::vector<uint8_t> r(16 + 8 + 16 + 8 * n + n * (16 + 8) + n * 16);
  auto dir = [&](size_t at, uint16_t named, uint16_t ids) {
    Put16(r, at + 12, named);
    Put16(r, at + 14, ids);
  };
  auto add_string = [&](const std::string& s) {
    uint32_t at = uint32_t(r.size());
    r.resize(r.size() + 2 + 2 * s.size());
    Put16(r, at, uint32_t(s.size()));
    for (size_t i = 0; i < s.size(); ++i) Put16(r, at + 2 + 2 * i, uint8_t(s[i]));
    return at;
  };
  size_t type_dir = 24, langs_dir0 = type_dir + 16 + 8 * n, data0 = langs_dir0 + n * 24;
  dir(0, 1, 0);
  Put32(r, 16, add_string("OPTION") | 0x80000000u);
  Put32(r, 20, uint32_t(type_dir) | 0x80000000u);
  dir(type_dir, uint16_t(n), 0);
  for (uint32_t i = 0; i < n; ++i) {
    size_t entry = type_dir + 16 + 8 * i, langs = langs_dir0 + 24 * i;
    Put32(r, entry, add_string(options[i].first) | 0x80000000u);
    Put32(r, entry + 4, uint32_t(langs) | 0x80000000u);
    dir(langs, 0, 1);
    Put32(r, langs + 16, 0x409);
    Put32(r, langs + 20, uint32_t(data0 + 16 * i));
  }
  for (uint32_t i = 0; i < n; ++i) {
    r.resize((r.size() + 3) & ~size_t(3));
    Put32(r, data0 + 16 * i, kVa + uint32_t(r.size()));
    Put32(r, data0 + 16 * i + 4, options[i].second);
    r.resize(r.size() + options[i].second);
  }
  // Headers: DOS stub, signature, COFF header, optional header, one section header.
  std::vector<uint8_t> f(kRaw, 0);
  f[0] = 'M', f[1] = 'Z';
  Put32(f, 0x3C, kLfanew);
  f[kLfanew] = 'P', f[kLfanew + 1] = 'E';
  size_t coff = kLfanew + 4, opt = coff + 20, sec = opt + kOptSize;
  Put16(f, coff, 0x14C);
  Put16(f, coff + 2, 1);
  Put16(f, coff + 16, kOptSize);
  Put16(f, opt, 0x10B);
  Put16(f, opt + 68, 3);  // console subsystem
  Put32(f, opt + 92, 16);
  Put32(f, opt + 96 + 16, kVa);
  Put32(f, opt + 96 + 20, uint32_t(r.size()));
  std::string name = ".rsrc";
  for (size_t i = 0; i < name.size(); ++i) f[sec + i] = uint8_t(name[i]);
  Put32(f, sec + 8, uint32_t(r.size()));
  Put32(f, sec + 12, kVa);
  Put32(f, sec + 16, uint32_t(r.size()));
  Put32(f, sec + 20, kRaw);
  f.insert(f.end(), r.begin(), r.end());
  return f;
}

// A 64-bit ELF file with section headers for "", ".shstrtab" and "isorun_rsrc", the last
// holding `table` (a resource table image).
inline std::vector<uint8_t> MakeFakeElf(const uint8_t* table, size_t table_size) {
  const std::string names = std::string("\0.shstrtab\0isorun_rsrc\0", 24);
  std::vector<uint8_t> f(64, 0);
  f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = 2, f[5] = 1, f[6] = 1;
  // Names at 64, the table at the next 16-byte boundary, then the section headers.
  size_t names_at = 64, table_at = (names_at + names.size() + 15) & ~size_t(15);
  size_t sh_at = table_at + table_size;
  f.resize(sh_at + 3 * 64);
  for (size_t i = 0; i < names.size(); ++i) f[names_at + i] = uint8_t(names[i]);
  for (size_t i = 0; i < table_size; ++i) f[table_at + i] = table[i];
  Put32(f, 0x28, uint32_t(sh_at));
  Put16(f, 0x3A, 64);
  Put16(f, 0x3C, 3);
  Put16(f, 0x3E, 1);
  auto section = [&](int i, uint32_t name, uint32_t type, size_t at, size_t size) {
    size_t h = sh_at + 64 * i;
    Put32(f, h, name);
    Put32(f, h + 4, type);
    Put32(f, h + 0x18, uint32_t(at));
    Put32(f, h + 0x20, uint32_t(size));
  };
  section(1, 1, 3, names_at, names.size());
  section(2, 11, 1, table_at, table_size);
  return f;
}

}  // namespace testing_support
