// The virtual allocation table of a UDF volume written on write-once media. Such a volume keeps
// its file set, directories and File Entries in a virtual partition, whose block numbers map
// through the table to blocks of the physical partition beneath it; rewriting a directory then
// means writing it anew and changing one table entry. The table is a file whose File Entry is
// the last recorded sector: either of file type 248, opening with a header (its own length, a
// logical volume identifier, counts and revisions), or the older form, of file type 0, which
// ends with the identifier "*UDF Virtual Alloc Tbl" and the previous table's location.
#pragma once
#include <cstdint>

#include "base/errors.h"

namespace IsoFs {

class Media;

// A table entry for a virtual block that is not in use.
inline constexpr uint32_t kVirtualBlockUnused = 0xFFFFFFFF;

struct VirtualTable {
  uint32_t* blocks = nullptr;  // each virtual block's block in the physical partition (heap)
  uint32_t count = 0;
  bool loaded = false;
  uint8_t volume_identifier[128] = {};  // dstring; a used length of 0 when the table has none
};

// The physical partition that holds the table and that its entries point into: its first
// sector, its length in blocks, and the reference of its partition map, the only one the
// table's long allocation descriptors may name.
struct PhysicalPartition {
  uint32_t start;
  uint32_t length;
  uint32_t reference;
};

// Finds the table at the end of the recorded sectors (trailing sectors of zeros are not
// recorded) and loads it. 11 when there is none or it is unsound: truncated, data outside the
// partition or in another one, more entries than the partition has blocks, an entry pointing
// past the partition. 1001 when its allocation extents loop; 14 when memory runs out; reader
// errors as they come.
err_t LoadVirtualTable(Media* media, const PhysicalPartition& partition, VirtualTable* table);
void FreeVirtualTable(VirtualTable* table);

}  // namespace IsoFs
