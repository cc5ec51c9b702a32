// Block compressors for the packer: the writing twins of the block decompressors.
//
// Each block is compressed as an independent stream that decodes to exactly one block size:
// raw deflate (window bits -15), or raw LZMA without an end marker, whose properties byte
// goes into the trailer. One compressor serves one thread and reuses its state per block.
#pragma once
#include <cstdint>

#include "base/errors.h"

namespace ciso {

class BlockCompressor {
 public:
  virtual void Destroy() = 0;
  // Compresses src (one whole block) into dst. Returns kOk with *written, or kErrHandleDiskFull
  // when the stream would not fit in `capacity` (the caller then stores the block raw).
  virtual err_t Compress(const void* src, uint32_t length, void* dst, uint32_t capacity,
                         uint32_t* written) = 0;

 protected:
  ~BlockCompressor() = default;
};

// How hard a compressor works: kFull at the level asked for, kQuick with the method's fastest
// search (for blocks that are largely already-compressed data, where a deep search finds next to
// nothing). Both write streams that the same decoder reads with the same properties byte.
enum class Effort { kFull, kQuick };

// `method` is a compression method byte (kDeflate, kLzma); `level` 0-9 (deflate 1-9); the LZMA
// dictionary never exceeds the block size. kErrInvalidParameter for a method or level out of range,
// kErrOutOfMemory when memory runs out.
err_t CreateBlockCompressor(uint8_t method, uint32_t level, uint32_t block_size,
                            BlockCompressor** out, Effort effort = Effort::kFull);

// The LZMA properties byte the LZMA compressor writes for this level.
uint8_t LzmaPropertiesForLevel(uint32_t level);

}  // namespace ciso
