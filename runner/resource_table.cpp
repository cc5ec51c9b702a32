#include "runner/resource_table.h"

#include <cstring>

#include "base/endian.h"
#include "base/text.h"

namespace {

// Compares a NUL-padded ASCII field with a UTF-16 name, ASCII letters without regard to case.
bool FieldMatches(const uint8_t* field, size_t max, const char16_t* name) {
  size_t i = 0;
  for (; i < max && name[i]; ++i)
    if (AsciiUpper(char16_t(field[i])) != AsciiUpper(name[i])) return false;
  return i < max && field[i] == 0;
}

// Searches one table's entries; `table` holds exactly `size` bytes.
bool FindInTable(const uint8_t* table, size_t size, const char16_t* type, const char16_t* name,
                 size_t* offset, uint32_t* data_size) {
  for (size_t at = kRsrcTableHeaderSize; size - at >= kRsrcEntryHeaderSize;) {
    const uint8_t* e = table + at;
    uint32_t entry = LoadLe32(e + kRsrcEntrySize);
    uint32_t data = LoadLe32(e + kRsrcEntryDataSize);
    if (entry < kRsrcEntryHeaderSize || entry % kRsrcAlign || entry > size - at ||
        data > entry - kRsrcEntryHeaderSize)
      return false;
    if (FieldMatches(e + kRsrcEntryType, kRsrcEntryTypeMax, type) &&
        FieldMatches(e + kRsrcEntryName, kRsrcEntryNameMax, name)) {
      *offset = at + kRsrcEntryHeaderSize;
      *data_size = data;
      return true;
    }
    at += entry;
  }
  return false;
}

}  // namespace

bool rsrc_table_find(const uint8_t* region, size_t region_size, const char16_t* type,
                     const char16_t* name, RsrcLocation* found) {
  *found = {0, 0};
  if (!type || !name) return false;
  for (size_t at = 0; region_size - at >= kRsrcTableHeaderSize;) {
    const uint8_t* t = region + at;
    if (std::memcmp(t, kRsrcMarker, kRsrcMarkerSize) != 0) {
      at += kRsrcAlign;  // padding between tables
      continue;
    }
    uint32_t size = LoadLe32(t + kRsrcTableSize);
    if (size < kRsrcTableHeaderSize || size % kRsrcAlign || size > region_size - at) return false;
    size_t offset;
    uint32_t data_size;
    if (FindInTable(t, size, type, name, &offset, &data_size)) {
      *found = {at + offset, data_size};
      return true;
    }
    at += size;
  }
  return false;
}
