// UDF descriptors shared by the volume reader and the virtual allocation table loader: tag
// identifiers and the tag check, allocation descriptors, and the fields of File Entries that
// both read. Offsets are ECMA-167's; every number is little-endian.
#pragma once
#include <cstdint>

#include "base/endian.h"

namespace IsoFs::Udf {

// Descriptor tag (ECMA-167 3/7.2).
inline constexpr uint32_t kTagChecksum = 4;
inline constexpr uint32_t kTagBytes = 16;
enum : uint16_t {
  kTagPrimaryVolume = 1,
  kTagAnchor = 2,
  kTagVolumePointer = 3,
  kTagPartition = 5,
  kTagLogicalVolume = 6,
  kTagFileSet = 256,
  kTagFileIdentifier = 257,
  kTagAllocationExtent = 258,
  kTagIndirectEntry = 259,
  kTagFileEntry = 261,
  kTagExtendedAttributeHeader = 262,
  kTagExtendedFileEntry = 266,
};

// A tag is valid when its identifier is not 0 and bytes 0-3 and 5-15 sum to byte 4.
inline bool TagValid(const uint8_t* d) {
  if (LoadLe16(d) == 0) return false;
  uint8_t sum = 0;
  for (uint32_t i = 0; i < kTagBytes; ++i) {
    if (i != kTagChecksum) sum = uint8_t(sum + d[i]);
  }
  return sum == d[kTagChecksum];
}

// The tag identifier, or 0 for an invalid tag.
inline uint16_t TagOf(const uint8_t* d) { return TagValid(d) ? LoadLe16(d) : 0; }

// Allocation descriptors: short (length, block), long (length, block, partition reference),
// extended (length at 0, block at 12, reference at 16), or data embedded in the entry. The top
// two bits of a length give the extent's kind: 0 recorded, 1 and 2 not recorded, 3 the
// continuation of the list in an allocation extent.
// ECMA-167 4/14.14.1 (short_ad), 4/14.14.2 (long_ad), 4/14.14.3 (ext_ad).
inline constexpr uint32_t kShortAdBlock = 4;
inline constexpr uint32_t kLongAdBlock = 4;
inline constexpr uint32_t kLongAdPartition = 8;
inline constexpr uint32_t kExtAdBlock = 12;
inline constexpr uint32_t kExtAdPartition = 16;
inline constexpr uint32_t kExtentLengthMask = 0x3FFFFFFF;
inline constexpr uint32_t kExtentKindShift = 30;
enum : uint32_t { kShortAd = 0, kLongAd = 1, kExtendedAd = 2, kEmbedded = 3 };
inline constexpr uint32_t kAdSizes[3] = {8, 16, 20};
enum : uint32_t { kExtentRecorded = 0, kExtentContinues = 3 };

// One allocation descriptor of a known type (not kEmbedded): its length, kind, first block and
// partition reference; a short one names no partition and stands in `own_partition`.
struct AllocationDescriptor {
  uint32_t length;
  uint32_t kind;
  uint32_t block;
  uint32_t partition;
};
inline AllocationDescriptor ReadAllocationDescriptor(const uint8_t* ad, uint32_t ad_type,
                                                     uint32_t own_partition) {
  uint32_t raw = LoadLe32(ad);
  AllocationDescriptor d{raw & kExtentLengthMask, raw >> kExtentKindShift, 0, own_partition};
  if (ad_type == kShortAd) {
    d.block = LoadLe32(ad + kShortAdBlock);
  } else if (ad_type == kLongAd) {
    d.block = LoadLe32(ad + kLongAdBlock), d.partition = LoadLe16(ad + kLongAdPartition);
  } else {
    d.block = LoadLe32(ad + kExtAdBlock), d.partition = LoadLe16(ad + kExtAdPartition);
  }
  return d;
}

// Allocation extent descriptor: the list continues after its 24-byte header.
inline constexpr uint32_t kAedLength = 20;
inline constexpr uint32_t kAedDescriptors = 24;

// ICB tag inside File Entries and indirect entries.
inline constexpr uint32_t kIcbFileType = 27;
inline constexpr uint32_t kIcbFlags = 34;

// File Entry and Extended File Entry.
inline constexpr uint32_t kEntryInformationLength = 56;  // 64-bit
struct EntryLayout {
  uint32_t ea_length, ad_length, ea_icb, modification_time, creation_time, area;
};
inline constexpr EntryLayout kFileEntry = {168, 172, 112, 84, 0, 176};
inline constexpr EntryLayout kExtendedFileEntry = {208, 212, 136, 92, 104, 216};
inline const EntryLayout& LayoutOf(const uint8_t* entry) {
  return LoadLe16(entry) == kTagExtendedFileEntry ? kExtendedFileEntry : kFileEntry;
}

// Chains of indirect entries and allocation extents end after this many links.
inline constexpr uint32_t kMaxChainHops = 4096;

}  // namespace IsoFs::Udf
