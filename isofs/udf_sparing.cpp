// Sparing tables of UDF sparable partitions (UDF 2.2.9 the map, 2.2.12 the table).
#include "isofs/udf_sparing.h"

#include <algorithm>
#include <cstring>

#include "base/endian.h"
#include "isofs/media_impl.h"

namespace IsoFs {

namespace {

// Sparable partition map.
constexpr uint32_t kMapPacketLength = 40;  // 16-bit, in blocks
constexpr uint32_t kMapTableCount = 42;
constexpr uint32_t kMapTableLocations = 48;  // 32-bit physical sectors, up to 4
constexpr uint32_t kMaxTableCopies = 4;
// Sparing table: a tag whose identifier is 0, so it is known by its identifier string.
constexpr uint32_t kTableIdentifier = 17;
constexpr char kSparingIdentifier[19] = "*UDF Sparing Table";
constexpr uint32_t kTableEntryCount = 48;  // 16-bit
constexpr uint32_t kTableEntries = 56;     // 8 bytes each: original block, mapped sector
constexpr uint32_t kEntryBytes = 8;
// Originals from here on mark spare packets that are free or defective, not moved ones.
constexpr uint32_t kFirstUnusedOriginal = 0xFFFFFFF0;

// Reads one copy; false when it cannot be read or is no sparing table.
bool ReadCopy(Media* media, uint32_t sector, uint8_t* header, Owned<uint8_t>* entries,
              uint32_t* count) {
  uint64_t at = uint64_t(sector) * kSectorSize;
  if (media->ReadImage(at, header, kTableEntries) != kOk) return false;
  if (std::memcmp(header + kTableIdentifier, kSparingIdentifier, sizeof kSparingIdentifier - 1))
    return false;
  *count = LoadLe16(header + kTableEntryCount);
  *entries = Owned<uint8_t>::Array(uint64_t(*count) * kEntryBytes);
  if (!*entries) return false;
  return media->ReadImage(at + kTableEntries, entries->get(), *count * kEntryBytes) == kOk;
}

}  // namespace

err_t LoadSparingTable(Media* media, const uint8_t* map, SparingTable* table) {
  uint8_t header[kTableEntries];
  Owned<uint8_t> raw;
  uint32_t count = 0;
  uint32_t copies = map[kMapTableCount];
  if (copies > kMaxTableCopies) copies = kMaxTableCopies;
  bool found = false;
  for (uint32_t i = 0; i < copies && !found; ++i)
    found = ReadCopy(media, LoadLe32(map + kMapTableLocations + 4 * i), header, &raw, &count);
  if (!found) return kOk;
  table->packets = Owned<SparedPacket>::Array(count);
  if (!table->packets) return kErrOutOfMemory;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t original = LoadLe32(raw.get() + kEntryBytes * i);
    if (original >= kFirstUnusedOriginal) continue;
    table->packets[table->count++] = {original, LoadLe32(raw.get() + kEntryBytes * i + 4)};
  }
  // Kept sorted on the disc, but looked up by halves only once sorted here.
  SparedPacket* p = table->packets.get();
  std::sort(p, p + table->count, [](auto& a, auto& b) { return a.original < b.original; });
  table->packet = LoadLe16(map + kMapPacketLength);
  return kOk;
}

bool SparedSector(const SparingTable& table, uint32_t block, uint32_t* sector) {
  if (table.count == 0 || table.packet == 0) return false;
  uint32_t first = block - block % table.packet;
  const SparedPacket* begin = table.packets.get();
  const SparedPacket* end = begin + table.count;
  const SparedPacket* at = std::lower_bound(
      begin, end, first, [](const SparedPacket& p, uint32_t b) { return p.original < b; });
  if (at == end || at->original != first) return false;
  *sector = at->sector + block % table.packet;
  return true;
}

}  // namespace IsoFs
