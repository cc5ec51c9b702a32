// The resource table of the Linux runner: the twin of a Windows resource section, compiled into
// the program in its own ELF section ("isorun_rsrc") and patched in place by tools.
//
// Layout (all integers little-endian, every table and entry a multiple of 16 bytes long):
//
//   table header, 32 bytes
//     0  16  marker "isorun resources" (ASCII, no terminator)
//    16   4  table size in bytes, header included
//    20   4  entry count
//    24   8  zero
//   entry, repeated
//     0   4  entry size in bytes: the 64-byte entry header, the data, zero padding
//     4   4  data size: the resource's size as the lookup reports it
//     8  24  type name, ASCII upper case, NUL-padded ("OPTION", "LZMAFILE")
//    32  32  resource name, ASCII upper case, NUL-padded ("USE_STDERR", "USERTEXT")
//    64   -  data
//
// The section may hold several tables back to back (a test program adds its own); zero bytes
// between them are skipped in 16-byte steps. A patcher finds the section by name through the
// ELF section headers, checks the marker, and rewrites an entry's data in place without
// changing any size (runner/option_patch.h).
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr char kRsrcMarker[] = "isorun resources";
inline constexpr size_t kRsrcMarkerSize = 16;
inline constexpr size_t kRsrcTableSize = 16;
inline constexpr size_t kRsrcTableCount = 20;
inline constexpr size_t kRsrcTableHeaderSize = 32;
inline constexpr size_t kRsrcEntrySize = 0;
inline constexpr size_t kRsrcEntryDataSize = 4;
inline constexpr size_t kRsrcEntryType = 8;
inline constexpr size_t kRsrcEntryTypeMax = 24;
inline constexpr size_t kRsrcEntryName = 32;
inline constexpr size_t kRsrcEntryNameMax = 32;
inline constexpr size_t kRsrcEntryHeaderSize = 64;
inline constexpr size_t kRsrcAlign = 16;

// Where a resource's data sits inside a region holding resource tables.
struct RsrcLocation {
  size_t offset;  // from the start of the region
  uint32_t size;
};

// Finds the first entry of that type and name (ASCII letters match without regard to case) in
// a region of back-to-back tables. Malformed tables end the search; never reads outside it.
bool rsrc_table_find(const uint8_t* region, size_t region_size, const char16_t* type,
                     const char16_t* name, RsrcLocation* found);

// Compile-time construction of one table. Each entry reserves `size` bytes, the first
// `data_len` of which come from `data` (the rest are zero).
struct RsrcSpec {
  const char* type;
  const char* name;
  uint32_t size;
  const uint8_t* data = nullptr;
  uint32_t data_len = 0;
};

constexpr size_t rsrc_round(size_t n) { return (n + kRsrcAlign - 1) / kRsrcAlign * kRsrcAlign; }

template <size_t N>
constexpr size_t rsrc_table_bytes(const RsrcSpec (&specs)[N]) {
  size_t total = kRsrcTableHeaderSize;
  for (const RsrcSpec& s : specs) total += kRsrcEntryHeaderSize + rsrc_round(s.size);
  return total;
}

template <size_t Bytes>
struct alignas(kRsrcAlign) RsrcTableImage {
  uint8_t bytes[Bytes];
};

namespace rsrc_detail {
constexpr void put32(uint8_t* p, size_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
constexpr void put_name(uint8_t* p, const char* s, size_t max) {
  for (size_t i = 0; i < max - 1 && s[i]; ++i)
    p[i] = uint8_t(s[i] >= 'a' && s[i] <= 'z' ? s[i] - 32 : s[i]);
}
}  // namespace rsrc_detail

template <size_t Bytes, size_t N>
constexpr RsrcTableImage<Bytes> rsrc_build_table(const RsrcSpec (&specs)[N]) {
  RsrcTableImage<Bytes> t{};
  for (size_t i = 0; i < kRsrcMarkerSize; ++i) t.bytes[i] = uint8_t(kRsrcMarker[i]);
  rsrc_detail::put32(t.bytes + kRsrcTableSize, Bytes);
  rsrc_detail::put32(t.bytes + kRsrcTableCount, N);
  size_t at = kRsrcTableHeaderSize;
  for (const RsrcSpec& s : specs) {
    uint8_t* e = t.bytes + at;
    size_t entry = kRsrcEntryHeaderSize + rsrc_round(s.size);
    rsrc_detail::put32(e + kRsrcEntrySize, entry);
    rsrc_detail::put32(e + kRsrcEntryDataSize, s.size);
    rsrc_detail::put_name(e + kRsrcEntryType, s.type, kRsrcEntryTypeMax);
    rsrc_detail::put_name(e + kRsrcEntryName, s.name, kRsrcEntryNameMax);
    for (uint32_t k = 0; k < s.data_len && k < s.size; ++k) e[kRsrcEntryHeaderSize + k] = s.data[k];
    at += entry;
  }
  return t;
}

// Defines a table from a constexpr array of RsrcSpec, placed in the resource section:
//   ISORUN_RESOURCE_TABLE(kMyTable, kMySpecs);
#define ISORUN_RESOURCE_TABLE(var, specs)                         \
  [[gnu::used, gnu::section("isorun_rsrc")]] constexpr auto var = \
      rsrc_build_table<rsrc_table_bytes(specs)>(specs)
