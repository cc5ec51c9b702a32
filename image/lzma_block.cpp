#include "image/lzma_block.h"

#include <lzma.h>

#include <cstring>

#include "base/endian.h"
#include "base/own.h"

namespace {

// The most the decoder may take, its dictionary above all: no block (4 MiB at most) or resource
// this program writes needs more, and a hostile header must not make it ask for gigabytes.
constexpr uint64_t kLzmaMemoryLimit = 256u << 20;

// The decoder never needs a window larger than the whole output; a smaller one saves memory
// when a header declares a huge dictionary. liblzma's own minimum is 4 KiB.
constexpr uint32_t kMinDictSize = 4096;

uint32_t EffectiveDictSize(uint32_t declared_dict, uint32_t size) {
  uint32_t needed = size < kMinDictSize ? kMinDictSize : size;
  return declared_dict < needed ? declared_dict : needed;
}

err_t MapLzmaResult(lzma_ret ret) {
  switch (ret) {
    case LZMA_OK:
    case LZMA_STREAM_END: return kOk;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return kLzmaErrMemory;
    case LZMA_OPTIONS_ERROR:
    case LZMA_PROG_ERROR: return kLzmaErrParameter;
    default: return kLzmaErrData;
  }
}

class LzmaVestroBlockDecompressor final : public LzmaBlockDecompressor {
 public:
  explicit LzmaVestroBlockDecompressor(const uint8_t* header) {
    std::memcpy(header_, header, kLzmaHeaderSize);
    // Every decode starts from this header; the dictionary is cut to the output size.
    uint32_t size = uint32_t(LoadLe64(header + kLzmaHeaderUncompressedSize));
    StoreLe32(header_ + kLzmaHeaderDictSize,
              EffectiveDictSize(LoadLe32(header + kLzmaHeaderDictSize), size));
  }

  void Release() override { Destroy(true); }

  err_t Decode(const uint8_t* src, size_t src_len, uint8_t* dst, size_t dst_cap,
               size_t* produced) override {
    *produced = 0;
    stream_.next_out = dst;
    stream_.avail_out = dst_cap;
    lzma_ret ret = Restart();
    if (ret == LZMA_OK && stream_.avail_in == 0) ret = Feed(src, src_len, LZMA_FINISH);
    if (ret == LZMA_STREAM_END) {
      *produced = dst_cap - stream_.avail_out;
      return kOk;
    }
    if (ret != LZMA_OK && ret != LZMA_BUF_ERROR) return MapLzmaResult(ret);
    // Stopped short of the end: either the output limit came first, or the input ran out.
    return stream_.avail_out == 0 ? kLzmaErrOverrun : kLzmaErrData;
  }

  void Destroy(bool free_memory) override {
    lzma_end(&stream_);
    stream_ = LZMA_STREAM_INIT;
    if (!free_memory) return;
    this->~LzmaVestroBlockDecompressor();
    HeapFree(this);
  }

  // Checks that liblzma accepts the header by decoding it into no output.
  err_t CheckHeader() {
    uint8_t scratch;
    stream_.next_out = &scratch;
    stream_.avail_out = 1;
    lzma_ret ret = Restart();
    if (ret == LZMA_OK && stream_.avail_in == 0) return kOk;
    // The header decoder reports properties it rejects as a format error.
    bool memory = ret == LZMA_MEM_ERROR || ret == LZMA_MEMLIMIT_ERROR;
    return memory ? kLzmaErrMemory : kLzmaErrParameter;
  }

 private:
  ~LzmaVestroBlockDecompressor() = default;

  // A fresh decoder state (its dictionary buffer is reused) that has read the header.
  lzma_ret Restart() {
    lzma_ret ret = lzma_alone_decoder(&stream_, kLzmaMemoryLimit);
    return ret == LZMA_OK ? Feed(header_, kLzmaHeaderSize, LZMA_RUN) : ret;
  }

  // Runs the decoder over the input until it ends, fails or makes no more progress.
  lzma_ret Feed(const uint8_t* in, size_t len, lzma_action action) {
    stream_.next_in = in;
    stream_.avail_in = len;
    for (;;) {
      size_t in_before = stream_.avail_in, out_before = stream_.avail_out;
      lzma_ret ret = lzma_code(&stream_, action);
      if (ret != LZMA_OK) return ret;
      if (stream_.avail_in == in_before && stream_.avail_out == out_before) return ret;
    }
  }

  lzma_stream stream_ = LZMA_STREAM_INIT;
  uint8_t header_[kLzmaHeaderSize];
};

}  // namespace

err_t CreateLzmaBlockDecompressor(const uint8_t* header, LzmaBlockDecompressor** out,
                                  uint32_t* declared_size) {
  *out = nullptr;
  *declared_size = 0;
  uint64_t size = LoadLe64(header + kLzmaHeaderUncompressedSize);
  if (size >= 0x80000000u) return kLzmaErrMemory;
  *declared_size = uint32_t(size);
  // Refused before the decoder exists: its dictionary could be as large as the size claimed.
  if (size == kLzmaBlobSizeLimit) return kLzmaErrMemory;
  auto* d = HeapNew<LzmaVestroBlockDecompressor>(header);
  if (!d) return kLzmaErrMemory;
  err_t e = d->CheckHeader();
  if (e == kOk && size == 0) e = kLzmaErrMemory;
  if (e != kOk) {
    d->Release();
    return e;
  }
  *out = d;
  return kOk;
}
