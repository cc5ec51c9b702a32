// The sparing table of a UDF sparable partition (rewritable media). Such media are written in
// packets of a fixed number of blocks; a packet that went bad is written elsewhere, in a spare
// area, and the table records where: each entry names the first logical block of a packet in
// the partition and the physical sector that now holds it. Blocks of packets the table does not
// name stay where the partition puts them.
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "base/own.h"

namespace IsoFs {

class Media;

struct SparedPacket {
  uint32_t original;  // the packet's first block in the partition
  uint32_t sector;    // the physical sector that holds it now
};

struct SparingTable {
  Owned<SparedPacket> packets;  // the moved packets, by original block
  uint32_t count = 0;
  uint32_t packet = 0;  // blocks per packet, 0 for a partition without a table
};

// Loads the table of a sparable partition map (UDF 2.2.9): the first of its copies that reads
// and carries the sparing identifier. No readable copy leaves the table empty, so nothing is
// remapped, as on media that never needed sparing. 14 when memory runs out.
err_t LoadSparingTable(Media* media, const uint8_t* map, SparingTable* table);

// The physical sector of partition block `block` when the table moved its packet.
bool SparedSector(const SparingTable& table, uint32_t block, uint32_t* sector);

}  // namespace IsoFs
