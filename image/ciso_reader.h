// CisoReader: the compressed image container reader.
//
// It finds every part of a container (a host program's image region, the region behind a
// signature, sibling part files named "NAME.*"), checks the trailer and the tables against the
// table digest, and serves random-access reads of the image through a six-entry block cache:
// each block's digest is checked as it is fetched, the block is decompressed, and patch
// records are laid over the bytes returned. A verify read checks digests only.
//
// While real reads move through the image block after block, the next blocks are checked and
// decompressed ahead on the worker threads, each into a slot of its own; a read that reaches
// such a block takes the slot's bytes into the cache as if it had loaded them there and then,
// result code included. Errors of a block decoded ahead surface only when that block is read.
#pragma once
#include <cstdint>

#include "image/iso_reader.h"

namespace ciso {

inline constexpr uint32_t kCisoProbeSize = 0x10000;
// More parts than this are not believed: a region claiming a higher part number is passed over.
inline constexpr uint32_t kMaxParts = 0x10000;
inline constexpr uint32_t kCacheEntries = 6;
// Blocks decoded ahead of sequential reads at most, each holding one block of bytes, its
// stored bytes and a decoder of its own while it waits.
inline constexpr uint32_t kDecodeAheadBlocks = 2;

// The registry's create function: validates the first part header (at the start of the file,
// or of a host program's image region).
err_t CreateCisoReader(ImageSource* source, IsoReader** out, const char16_t* path,
                       file_handle_t handle, const uint8_t* probe, uint32_t probe_length);

// What an opened container is made of, for `isorun info`.
struct ContainerFacts {
  uint64_t image_size;
  uint64_t block_count;
  uint32_t block_size;
  uint32_t last_block_size;
  uint8_t hash_method;
  uint8_t compression_method;
  uint8_t lzma_properties;
  uint32_t digest_length;
  uint64_t stream_length;  // the data stream: stored blocks and tables
  uint64_t stored_bytes;   // the stored blocks alone
  uint64_t zero_blocks;    // stored as size 0
  uint64_t raw_blocks;     // stored uncompressed in a compressed container
  uint32_t patch_count;
  uint32_t part_count;
  bool has_locator;
  uint8_t image_id[16];
};

struct PartFacts {
  const char16_t* path;
  uint64_t slice_start;  // file offsets of the part's slice of the data stream
  uint64_t slice_end;
  uint64_t logical_offset;
};

// `reader` must be an opened reader made by the "CisoReader" factory.
void DescribeContainer(IsoReader* reader, ContainerFacts* facts);
// False when `index` is not below the part count.
bool DescribePart(IsoReader* reader, uint32_t index, PartFacts* facts);

// What decode-ahead has done so far, for tests and benchmarks.
struct AheadFacts {
  uint64_t started;  // blocks handed to a worker
  uint64_t taken;    // of those, blocks a read took into the cache
};
void DescribeDecodeAhead(IsoReader* reader, AheadFacts* facts);

}  // namespace ciso
