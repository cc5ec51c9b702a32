#include "image/decompressor.h"

#include <zlib.h>

#include <cstring>

#include "base/endian.h"
#include "base/own.h"
#include "image/lzma_block.h"

namespace ciso {
namespace {

voidpf ZlibAlloc(voidpf, uInt items, uInt size) {
  size_t bytes;
  return ArrayBytes(items, size, &bytes) ? HeapAllocate(bytes) : Z_NULL;
}
void ZlibFree(voidpf, voidpf block) { HeapFree(block); }

class CisoZipDecompressor final : public CisoDecompressor {
 public:
  // Raw deflate: no zlib header and no Adler-32 trailer.
  bool Init() {
    stream_.zalloc = ZlibAlloc;
    stream_.zfree = ZlibFree;
    stream_.opaque = Z_NULL;
    ready_ = inflateInit2(&stream_, -15) == Z_OK;
    return ready_;
  }

  void Destroy() override {
    if (ready_) {
      inflateReset(&stream_);
      inflateEnd(&stream_);
    }
    HeapDelete(this);
  }

  err_t Decode(const void* src, uint32_t src_length, void* dst, uint32_t capacity,
               uint32_t* produced) override {
    if (produced) *produced = 0;
    stream_.next_in = Z_NULL, stream_.avail_in = 0;
    stream_.next_out = Z_NULL, stream_.avail_out = 0;
    inflateReset(&stream_);
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(src));
    stream_.avail_in = src_length;
    stream_.next_out = static_cast<Bytef*>(dst);
    stream_.avail_out = capacity;
    int ret = inflate(&stream_, Z_FINISH);
    if (ret == Z_MEM_ERROR) return kErrOutOfMemory;
    uint32_t written = capacity - stream_.avail_out;
    if (ret != Z_STREAM_END) {
      // With Z_FINISH zlib reports a full output as a buffer error rather than Z_OK.
      if (stream_.avail_out != 0 || (ret != Z_OK && ret != Z_BUF_ERROR)) return kErrBadFormat;
      if (err_t e = PastTheBlock()) return e;
    }
    if (produced) {
      *produced = written;
      return kOk;
    }
    return written == capacity ? kOk : kErrHandleEof;
  }

 private:
  // The block is full but the stream has not ended: one more byte of output tells a stream
  // that goes on past the block (39) from one that was cut off (11), even when the cut-off
  // stream's bytes happen to fill the block, or one whose end simply had not been read yet.
  err_t PastTheBlock() {
    uint8_t extra;
    stream_.next_out = &extra, stream_.avail_out = 1;
    int ret = inflate(&stream_, Z_FINISH);
    if (stream_.avail_out == 0) return kErrHandleDiskFull;
    return ret == Z_STREAM_END ? kOk : kErrBadFormat;
  }

  z_stream stream_{};
  bool ready_ = false;
};

class CisoLzmaDecompressor final : public CisoDecompressor {
 public:
  explicit CisoLzmaDecompressor(LzmaBlockDecompressor* decoder) : decoder_(decoder) {}

  void Destroy() override {
    ReleaseLzmaBlockDecompressor(decoder_);
    HeapDelete(this);
  }

  err_t Decode(const void* src, uint32_t src_length, void* dst, uint32_t capacity,
               uint32_t* produced) override {
    if (produced) *produced = 0;
    size_t count = 0;
    err_t e = MapCode(decoder_->Decode(static_cast<const uint8_t*>(src), src_length,
                                       static_cast<uint8_t*>(dst), capacity, &count));
    if (e) return e;
    if (produced) {
      *produced = static_cast<uint32_t>(count);
      return kOk;
    }
    return count == capacity ? kOk : kErrBadFormat;
  }

  // The block decoder's codes in the container's numbering.
  static err_t MapCode(err_t code) {
    switch (code) {
      case kOk: return kOk;
      case kLzmaErrParameter: return kErrInvalidParameter;
      case kLzmaErrMemory: return kErrOutOfMemory;
      case kLzmaErrOverrun: return kErrGenFailure;
      default: return kErrBadFormat;
    }
  }

 private:
  LzmaBlockDecompressor* decoder_;
};

// The highest properties byte: pb 4, lp 4, lc 8.
constexpr uint8_t kMaxLzmaProperties = (4 * 5 + 4) * 9 + 8;

}  // namespace

err_t CreateZipDecompressor(CisoDecompressor** out) {
  auto* d = HeapNew<CisoZipDecompressor>();
  *out = nullptr;
  if (!d) return kErrOutOfMemory;
  if (!d->Init()) {
    d->Destroy();
    return kErrOutOfMemory;
  }
  *out = d;
  return kOk;
}

err_t CreateLzmaDecompressor(uint32_t block_size, uint8_t properties, CisoDecompressor** out) {
  *out = nullptr;
  if (block_size >= 0x80000000u) return kErrOutOfMemory;
  if (properties > kMaxLzmaProperties) return kErrBadFormat;
  // The header a classic LZMA stream of one block would carry: the block is both the
  // dictionary and the exact output size.
  uint8_t header[kLzmaHeaderSize];
  header[kLzmaHeaderProperties] = properties;
  StoreLe32(header + kLzmaHeaderDictSize, block_size);
  StoreLe64(header + kLzmaHeaderUncompressedSize, block_size);
  LzmaBlockDecompressor* decoder;
  uint32_t declared;
  if (err_t e = CreateLzmaBlockDecompressor(header, &decoder, &declared))
    return CisoLzmaDecompressor::MapCode(e);
  auto* d = HeapNew<CisoLzmaDecompressor>(decoder);
  if (!d) {
    decoder->Release();
    return kErrOutOfMemory;
  }
  *out = d;
  return kOk;
}

err_t CreateMethod2Decompressor(CisoDecompressor** out) {
  *out = nullptr;
  return kErrUnknownRevision;
}

}  // namespace ciso
