// Block decompressors: one container block at a time, each block an independent stream.
//
// CisoZipDecompressor decodes compression method kDeflate (raw deflate), CisoLzmaDecompressor
// method kLzma (raw LZMA with the block size as dictionary and as the exact output size).
#pragma once
#include <cstdint>

#include "base/errors.h"

namespace ciso {

class CisoDecompressor {
 public:
  virtual void Destroy() = 0;
  // Decodes the whole stored block into `dst`. With `produced` given it receives the count and
  // any length is accepted; without it the output must fill `capacity` exactly.
  virtual err_t Decode(const void* src, uint32_t src_length, void* dst, uint32_t capacity,
                       uint32_t* produced) = 0;

 protected:
  ~CisoDecompressor() = default;
};

// kErrOutOfMemory when the object or its inflate stream cannot be made.
err_t CreateZipDecompressor(CisoDecompressor** out);
// The dictionary and output size are `block_size`; `properties` packs lc, lp and pb.
// kErrOutOfMemory for a size of 2^31 or more or no memory; kErrBadFormat for properties above 224.
err_t CreateLzmaDecompressor(uint32_t block_size, uint8_t properties, CisoDecompressor** out);
// Compression method 2 exists in the format but not here: always kErrUnknownRevision.
err_t CreateMethod2Decompressor(CisoDecompressor** out);

}  // namespace ciso
