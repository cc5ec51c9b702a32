// The container writer and its block compressors. The round trips through the reader are the
// reader's tests (tests/image); these pin what the writer decides alone.
#include "pack/packer.h"

#include <gtest/gtest.h>

#include "base/endian.h"
#include "image/container_fixture.h"
#include "pack/compressor.h"

using testing_support::Bytes;
using testing_support::Pack;
using testing_support::SampleImage;

namespace {

constexpr auto& Options = testing_support::QuickOptions;

TEST(Packer, OutputDoesNotDependOnThreads) {
  Bytes image = SampleImage(300 * 1024, 7);
  ciso::PackOptions options = Options(ciso::kLzma, ciso::kHashSha256, 8192);
  options.threads = 1;
  std::vector<Bytes> one = Pack(image, options);
  options.threads = 3;
  EXPECT_EQ(Pack(image, options), one);
  Bytes other = image;
  other[5000] ^= 1;
  std::vector<Bytes> changed = Pack(other, options);
  EXPECT_NE(std::memcmp(changed[0].data() + ciso::kImageId, one[0].data() + ciso::kImageId, 16), 0)
      << "different content, same image id";
}

TEST(Packer, DefaultsAndRefusals) {
  ciso::PackOptions defaults;
  EXPECT_EQ(defaults.compression, ciso::kLzma);
  EXPECT_EQ(defaults.hash, ciso::kHashSha256);
  EXPECT_EQ(defaults.block_size, 0x400000u);
  Bytes image = SampleImage(10000);
  err_t e;
  for (auto bad : {Options(2, 0, 2048), Options(0, 3, 2048), Options(0, 0, 1024), Options(0, 0, 2048 + 16),
                   Options(0, 0, 0x800000)}) {
    Pack(image, bad, &e);
    EXPECT_EQ(e, kErrInvalidParameter);
  }
  Pack(Bytes{}, Options(0, 0, 2048), &e);
  EXPECT_EQ(e, kErrInvalidParameter);
  // A small image is one LZMA block of its own size at the grain, not one of 4 MiB.
  std::vector<Bytes> parts = Pack(image, defaults);
  ASSERT_EQ(parts.size(), 1u);
  const uint8_t* trailer = parts[0].data() + parts[0].size() - ciso::kTrailerSize;
  EXPECT_EQ(trailer[ciso::kLzmaProperties], 0x5D);
  EXPECT_EQ(LoadLe32(trailer + ciso::kBlockSize), ciso::AlignUp(10000));
  EXPECT_EQ(LoadLe32(trailer + ciso::kLastBlockSize), 10000u);
  EXPECT_EQ(LoadLe64(trailer + ciso::kBlockCount), 1u);
}

// Noise is stored raw without a full encode; a block with noise in half of it still shrinks,
// through the quick search; the quick stream and the raw block's digest (the block's own
// SHA-256) are checked by reading them back.
TEST(Packer, OnlyIncompressibleBlocksAreStoredRaw) {
  constexpr uint32_t kBlock = 256 * 1024;
  Bytes image(3 * kBlock);
  uint32_t x = 3;
  for (size_t i = 0; i < image.size(); ++i) {
    x = x * 1664525u + 1013904223u;
    bool noise = i < kBlock || (i < 2 * kBlock && i % 32768 < 16384);
    image[i] = noise ? uint8_t(x >> 24) : uint8_t("a vendor's text "[i % 16]);
  }
  for (uint8_t method : {ciso::kLzma, ciso::kDeflate}) {
    testing_support::VectorInput in(image);
    testing_support::VectorOutput out;
    ciso::PackResult result;
    ASSERT_EQ(ciso::PackContainer(&in, image.size(), &out,
                                  Options(method, ciso::kHashSha256, kBlock), &result),
              kOk);
    EXPECT_EQ(result.raw_blocks, 1u);
    EXPECT_EQ(result.quick_blocks, 1u);
    EXPECT_LT(result.stored_bytes, kBlock + kBlock * 6 / 10) << "the half-noise block shrinks";
    testing_support::MemoryFolder folder;
    folder.AddParts(out.parts);
    IsoReader* reader;
    ASSERT_EQ(folder.Open(&reader), kOk);
    Bytes back;
    EXPECT_EQ(testing_support::ReadAll(reader, &back), kOk);
    EXPECT_EQ(back, image);
    reader->Destroy();
  }
}

TEST(Compressor, IncompressibleBlockDoesNotFit) {
  Bytes noise(4096);
  uint32_t x = 7;
  for (auto& b : noise) x = x * 1664525u + 1013904223u, b = uint8_t(x >> 24);
  for (uint8_t method : {ciso::kDeflate, ciso::kLzma}) {
    ciso::BlockCompressor* c;
    ASSERT_EQ(ciso::CreateBlockCompressor(method, 6, 4096, &c), kOk);
    Bytes out(4096);
    uint32_t written = 1;
    EXPECT_EQ(c->Compress(noise.data(), 4096, out.data(), 4096 - 32, &written), kErrHandleDiskFull);
    EXPECT_EQ(written, 0u);
    c->Destroy();
  }
  ciso::BlockCompressor* c;
  EXPECT_EQ(ciso::CreateBlockCompressor(2, 6, 4096, &c), kErrInvalidParameter);
  EXPECT_EQ(ciso::CreateBlockCompressor(ciso::kDeflate, 0, 4096, &c), kErrInvalidParameter);
}

}  // namespace
