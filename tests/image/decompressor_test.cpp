#include "image/decompressor.h"

#include <gtest/gtest.h>

#include <vector>

#include <zlib.h>

#include "image/format.h"
#include "pack/compressor.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Compressible but not trivial: runs of text with a counter in them.
Bytes SampleBlock(uint32_t size, uint32_t seed) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < size; ++i) {
    if (i % 64 == 0) x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>("the quick brown fox "[i % 20] + ((x >> 16) & 3));
  }
  return b;
}

Bytes Compress(uint8_t method, const Bytes& block, uint32_t level = 6) {
  ciso::BlockCompressor* c;
  EXPECT_EQ(ciso::CreateBlockCompressor(method, level, uint32_t(block.size()), &c), kOk);
  Bytes out(block.size() * 2 + 1024);
  uint32_t written = 0;
  EXPECT_EQ(c->Compress(block.data(), uint32_t(block.size()), out.data(), uint32_t(out.size()), &written), kOk);
  c->Destroy();
  out.resize(written);
  return out;
}

ciso::CisoDecompressor* Make(uint8_t method, uint32_t block_size) {
  ciso::CisoDecompressor* d = nullptr;
  if (method == ciso::kDeflate) EXPECT_EQ(ciso::CreateZipDecompressor(&d), kOk);
  else EXPECT_EQ(ciso::CreateLzmaDecompressor(block_size, ciso::LzmaPropertiesForLevel(6), &d), kOk);
  return d;
}

class BothMethods : public testing::TestWithParam<uint8_t> {};

TEST_P(BothMethods, RoundTripsPaddedBlocksOfEverySize) {
  for (uint32_t size : {2048u, 65536u, 1u << 20}) {
    Bytes block = SampleBlock(size, size);
    Bytes stored = Compress(GetParam(), block);
    ASSERT_LT(stored.size(), block.size());
    stored.resize(ciso::AlignUp(stored.size()), 0);  // as it lies in a container
    ciso::CisoDecompressor* d = Make(GetParam(), size);
    Bytes out(size, 0xEE);
    EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), size, nullptr), kOk);
    EXPECT_EQ(out, block) << size;
    // The same block again: nothing carries over from the first decode.
    Bytes again(size, 0x11);
    EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), again.data(), size, nullptr), kOk);
    EXPECT_EQ(again, block);
    d->Destroy();
  }
}

TEST_P(BothMethods, CorruptStreamFailsAndTheDecoderStaysUsable) {
  Bytes block = SampleBlock(8192, 3);
  Bytes stored = Compress(GetParam(), block);
  Bytes bad = stored;
  for (size_t i = 2; i < bad.size(); i += 7) bad[i] ^= 0x5A;
  ciso::CisoDecompressor* d = Make(GetParam(), 8192);
  Bytes out(8192);
  EXPECT_EQ(d->Decode(bad.data(), uint32_t(bad.size()), out.data(), 8192, nullptr), kErrBadFormat);
  EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), 8192, nullptr), kOk);
  EXPECT_EQ(out, block);
  d->Destroy();
}

INSTANTIATE_TEST_SUITE_P(Methods, BothMethods, testing::Values(ciso::kDeflate, ciso::kLzma));

TEST(ZipDecompressor, LengthMismatchCodes) {
  Bytes block = SampleBlock(4096, 9);
  Bytes stored = Compress(ciso::kDeflate, block);
  ciso::CisoDecompressor* d = Make(ciso::kDeflate, 0);
  Bytes out(8192);
  // The stream ends before the block does.
  EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), 8192, nullptr), kErrHandleEof);
  uint32_t produced = 0;
  EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), 8192, &produced), kOk);
  EXPECT_EQ(produced, 4096u);
  // The stream is longer than the block.
  EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), 2048, nullptr), kErrHandleDiskFull);
  d->Destroy();
}

// A stream cut off before its end, whose bytes happen to fill the block exactly, is corrupt:
// every input byte was used, so it is not a stream longer than the block.
TEST(ZipDecompressor, CutOffStreamThatFillsTheBlockIsCorrupt) {
  Bytes block = SampleBlock(4096, 3);
  Bytes cut(8192);
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  z.next_in = block.data(), z.avail_in = uint32_t(block.size());
  z.next_out = cut.data(), z.avail_out = uint32_t(cut.size());
  ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);  // every byte out, but no final block
  cut.resize(cut.size() - z.avail_out);
  deflateEnd(&z);
  ciso::CisoDecompressor* d = Make(ciso::kDeflate, 0);
  Bytes out(4096);
  EXPECT_EQ(d->Decode(cut.data(), uint32_t(cut.size()), out.data(), 4096, nullptr), kErrBadFormat);
  EXPECT_EQ(out, block);
  cut.resize(cut.size() / 2);
  EXPECT_EQ(d->Decode(cut.data(), uint32_t(cut.size()), out.data(), 4096, nullptr), kErrBadFormat);
  d->Destroy();
}

TEST(LzmaDecompressor, StreamEndingBeforeTheBlockIsCorrupt) {
  Bytes block = SampleBlock(4096, 5);
  Bytes stored = Compress(ciso::kLzma, block);
  ciso::CisoDecompressor* d = Make(ciso::kLzma, 8192);
  Bytes out(8192);
  EXPECT_EQ(d->Decode(stored.data(), uint32_t(stored.size()), out.data(), 8192, nullptr), kErrBadFormat);
  d->Destroy();
}

TEST(LzmaDecompressor, CreationChecks) {
  ciso::CisoDecompressor* d = reinterpret_cast<ciso::CisoDecompressor*>(1);
  EXPECT_EQ(ciso::CreateLzmaDecompressor(0x80000000u, 0x5D, &d), kErrOutOfMemory);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(ciso::CreateLzmaDecompressor(4096, 225, &d), kErrBadFormat);
  EXPECT_EQ(ciso::CreateMethod2Decompressor(&d), kErrUnknownRevision);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(ciso::LzmaPropertiesForLevel(6), 0x5D);
}

}  // namespace
