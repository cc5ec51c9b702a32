// Fuzz target: the LZMA blob decoder on arbitrary resource bytes (13-byte header, stream).
// Blobs that declare more than 1 MiB only exercise the header checks, so one input never asks
// for a gigabyte of output.
#include <cstddef>
#include <cstdint>

#include "base/endian.h"
#include "base/pool.h"
#include "image/lzma_block.h"
#include "runner/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFF) return 0;
  if (size >= kLzmaHeaderSize && LoadLe64(data + kLzmaHeaderUncompressedSize) > (1u << 20)) {
    LzmaBlockDecompressor* decoder = nullptr;
    uint32_t declared = 0;
    if (CreateLzmaBlockDecompressor(data, &decoder, &declared) == kOk) decoder->Release();
    return 0;
  }
  kd_mp_c pool;
  uint32_t length = 0;
  decode_lzma_blob(&pool, data, uint32_t(size), &length);
  return 0;
}
