#include "pack/compressor.h"

#include <lzma.h>
#include <zlib.h>

#include <new>

#include "image/format.h"

namespace ciso {
namespace {

constexpr uint32_t kLzmaMinDict = 4096;

class DeflateCompressor final : public BlockCompressor {
 public:
  bool Init(int level) {
    ready_ = deflateInit2(&stream_, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_;
  }
  void Destroy() override {
    if (ready_) deflateEnd(&stream_);
    delete this;
  }
  err_t Compress(const void* src, uint32_t length, void* dst, uint32_t capacity,
                 uint32_t* written) override {
    *written = 0;
    deflateReset(&stream_);
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(src));
    stream_.avail_in = length;
    stream_.next_out = static_cast<Bytef*>(dst);
    stream_.avail_out = capacity;
    int ret = deflate(&stream_, Z_FINISH);
    if (ret != Z_STREAM_END)
      return ret == Z_OK || ret == Z_BUF_ERROR ? kErrHandleDiskFull : kErrGenFailure;
    *written = capacity - stream_.avail_out;
    return kOk;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

class LzmaCompressor final : public BlockCompressor {
 public:
  LzmaCompressor(const lzma_options_lzma& options) : options_(options) {
    filters_[0] = {LZMA_FILTER_LZMA1EXT, &options_};
    filters_[1] = {LZMA_VLI_UNKNOWN, nullptr};
  }
  void Destroy() override {
    lzma_end(&stream_);
    delete this;
  }
  // A fresh encoder per block (liblzma keeps its buffers between inits); no end marker, so
  // the stream ends exactly where the block's bytes do.
  err_t Compress(const void* src, uint32_t length, void* dst, uint32_t capacity,
                 uint32_t* written) override {
    *written = 0;
    lzma_ret ret = lzma_raw_encoder(&stream_, filters_);
    if (ret != LZMA_OK) return ret == LZMA_MEM_ERROR ? kErrOutOfMemory : kErrGenFailure;
    stream_.next_in = static_cast<const uint8_t*>(src);
    stream_.avail_in = length;
    stream_.next_out = static_cast<uint8_t*>(dst);
    stream_.avail_out = capacity;
    do {
      ret = lzma_code(&stream_, LZMA_FINISH);
    } while (ret == LZMA_OK && stream_.avail_out > 0);
    if (ret == LZMA_OK || ret == LZMA_BUF_ERROR) return kErrHandleDiskFull;
    if (ret != LZMA_STREAM_END) return ret == LZMA_MEM_ERROR ? kErrOutOfMemory : kErrGenFailure;
    *written = capacity - static_cast<uint32_t>(stream_.avail_out);
    return kOk;
  }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  lzma_options_lzma options_;
  lzma_filter filters_[2];
};

// Level 1's search (hash chains, fast mode) with the level's dictionary, literal and position
// bits: the properties byte stays the level's own, and repeats far apart in a block (level 1's
// 1 MiB would miss them) are still found.
void QuickenLzma(lzma_options_lzma* options) {
  lzma_options_lzma fast;
  lzma_lzma_preset(&fast, 1);
  fast.lc = options->lc;
  fast.lp = options->lp;
  fast.pb = options->pb;
  fast.dict_size = options->dict_size;
  *options = fast;
}

}  // namespace

uint8_t LzmaPropertiesForLevel(uint32_t level) {
  lzma_options_lzma options;
  if (level > 9 || lzma_lzma_preset(&options, level)) return 0;
  return static_cast<uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc);
}

err_t CreateBlockCompressor(uint8_t method, uint32_t level, uint32_t block_size,
                            BlockCompressor** out, Effort effort) {
  *out = nullptr;
  const bool quick = effort == Effort::kQuick;
  if (method == kDeflate) {
    if (level < 1 || level > 9) return kErrInvalidParameter;
    auto* c = new (std::nothrow) DeflateCompressor();
    if (!c) return kErrOutOfMemory;
    if (!c->Init(quick ? 1 : static_cast<int>(level))) {
      c->Destroy();
      return kErrOutOfMemory;
    }
    *out = c;
    return kOk;
  }
  if (method != kLzma) return kErrInvalidParameter;
  lzma_options_lzma options;
  if (level > 9 || lzma_lzma_preset(&options, level)) return kErrInvalidParameter;
  if (quick && level > 1) QuickenLzma(&options);
  uint32_t window = block_size < kLzmaMinDict ? kLzmaMinDict : block_size;
  if (options.dict_size > window) options.dict_size = window;
  options.ext_flags = 0;
  lzma_set_ext_size(options, block_size);
  auto* c = new (std::nothrow) LzmaCompressor(options);
  if (!c) return kErrOutOfMemory;
  *out = c;
  return kOk;
}

}  // namespace ciso
