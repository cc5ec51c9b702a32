// The one-shot LZMA decoder: decodes one classic LZMA stream whose uncompressed size is known
// in advance, in a single call, into the caller's buffer. The runner's compressed resources
// and the container's LZMA blocks both go through it.
//
// The stream is described by the 13-byte LZMA-alone header: one byte of lc/lp/pb, the
// dictionary size (32-bit little-endian) and the uncompressed size (64-bit little-endian).
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

// Byte offsets of the 13-byte header.
inline constexpr size_t kLzmaHeaderProperties = 0;
inline constexpr size_t kLzmaHeaderDictSize = 1;
inline constexpr size_t kLzmaHeaderUncompressedSize = 5;
inline constexpr size_t kLzmaHeaderSize = 13;

// Largest uncompressed size a blob may declare: sizes of 0x7FFFFFFF and up are refused.
inline constexpr uint32_t kLzmaBlobSizeLimit = 0x7FFFFFFF;

// Result codes of the decoder.
inline constexpr err_t kLzmaErrParameter = kErrTooManyOpenFiles;  // 4: properties rejected
inline constexpr err_t kLzmaErrMemory = kErrInvalidHandle;        // 6: no memory, size too large
inline constexpr err_t kLzmaErrOverrun = kErrBadFormat;           // 11: output limit or write error
inline constexpr err_t kLzmaErrData = kErrNotSameDevice;          // 17: corrupt or incomplete data

class LzmaBlockDecompressor {
 public:
  // Destroys and frees the object (null-safe through ReleaseLzmaBlockDecompressor).
  virtual void Release() = 0;
  // Decodes the whole source with a fresh decoder state into dst, which must be filled no
  // further than dst_cap; the stream must end within it. *produced is the byte count on
  // success and 0 on any failure.
  virtual err_t Decode(const uint8_t* src, size_t src_len, uint8_t* dst, size_t dst_cap,
                       size_t* produced) = 0;
  // Frees the decoder's tables and dictionary; frees the object too when free_memory is set.
  virtual void Destroy(bool free_memory) = 0;

 protected:
  ~LzmaBlockDecompressor() = default;
};

// Creates a decoder from a 13-byte header. Checks, in this order: the uncompressed size is below
// 2^31 (else kLzmaErrMemory), the decoder accepts the properties (else kLzmaErrParameter), the size
// is neither 0 nor 0x7FFFFFFF (else kLzmaErrMemory). *declared_size receives the size whenever the
// first check passed, so a caller can report it even when a later check failed; *out is null on
// every failure.
err_t CreateLzmaBlockDecompressor(const uint8_t* header, LzmaBlockDecompressor** out,
                                  uint32_t* declared_size);

inline void ReleaseLzmaBlockDecompressor(LzmaBlockDecompressor* d) {
  if (d) d->Release();
}
