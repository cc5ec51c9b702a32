// The packer: writes a disc image as a compressed image container that CisoReader reads.
//
// Blocks are compressed on worker threads and written in block order, so the output is the
// same whatever the thread count. The image id and part-set id are derived from the content
// and the options, so packing the same image the same way always gives the same bytes.
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "image/format.h"

namespace ciso {

// Where the image comes from: exactly `length` bytes at `offset`, or an error.
class PackInput {
 public:
  virtual err_t Read(uint64_t offset, void* buffer, uint32_t length) = 0;

 protected:
  ~PackInput() = default;
};

// Where the container goes: part files in order, each begun before its bytes are written.
// Part headers are written with their ids left zero first; RewriteHeader puts the final 96
// bytes at the start of a part once every block is known.
class PackOutput {
 public:
  virtual err_t BeginPart(uint32_t number) = 0;
  virtual err_t Write(const void* data, uint32_t length) = 0;
  virtual err_t RewriteHeader(uint32_t number, const uint8_t* header) = 0;

 protected:
  ~PackOutput() = default;
};

struct PackPatch {
  uint64_t offset;  // image offset the payload overwrites
  const uint8_t* bytes;
  uint32_t length;
};

struct PackOptions {
  uint8_t compression = kLzma;
  uint32_t level = 6;  // LZMA 0-9, deflate 1-9
  uint8_t hash = kHashSha256;
  uint32_t block_size = kMaxBlockSize;
  uint64_t split_size = 0;  // largest part file; 0 keeps one part
  bool locator = false;     // end the last part with a trailer locator
  uint32_t threads = 1;
  const PackPatch* patches = nullptr;
  uint32_t patch_count = 0;
  // Called on the calling thread after each block is written.
  void (*progress)(void* context, uint64_t done, uint64_t total) = nullptr;
  void* progress_context = nullptr;
};

// The smallest split size accepted.
inline constexpr uint64_t kMinSplitSize = 4096;

struct PackResult {
  uint64_t image_size;
  uint32_t block_size;  // the options' block size, or less for an image smaller than that
  uint64_t block_count;
  uint64_t stored_bytes;     // the stored blocks
  uint64_t container_bytes;  // everything written, every part together
  uint64_t zero_blocks;
  uint64_t raw_blocks;
  uint64_t quick_blocks;  // compressed with the quick search, being largely compressed before
  uint32_t parts;
  uint8_t image_id[kIdSize];
};

// kErrInvalidParameter for options out of range or an empty image; otherwise the first error of the
// input, the output or a compressor.
err_t PackContainer(PackInput* input, uint64_t image_size, PackOutput* output,
                    const PackOptions& options, PackResult* result);

}  // namespace ciso
