// Decode-ahead in the container reader: sequential reads get their next blocks decoded on the
// worker threads, and nothing a read returns changes because of it.
#include <gtest/gtest.h>

#include "base/thread.h"
#include "container_fixture.h"

using testing_support::Bytes;
using testing_support::MemoryFolder;
using testing_support::Pack;
using testing_support::ReadAll;
using testing_support::SampleImage;

namespace {

constexpr uint32_t kBlock = 8192;
constexpr size_t kImageSize = 40 * kBlock + 3000;

ciso::PackOptions Options(uint8_t compression, uint8_t hash, uint32_t block_size = kBlock) {
  ciso::PackOptions o;
  o.compression = compression;
  o.level = 1;
  o.hash = hash;
  o.block_size = block_size;
  return o;
}

ciso::AheadFacts Ahead(IsoReader* reader) {
  ciso::AheadFacts facts;
  ciso::DescribeDecodeAhead(reader, &facts);
  return facts;
}

// Where block `b`'s stored bytes begin in a single-part container without patches: the size
// table sits just before the trailer.
size_t StoredAt(const Bytes& part, IsoReader* reader, uint64_t b) {
  ciso::ContainerFacts facts;
  ciso::DescribeContainer(reader, &facts);
  size_t table = ciso::kPartHeaderSize + facts.stream_length - ciso::AlignUp(facts.block_count * 4);
  size_t at = ciso::kPartHeaderSize;
  for (uint64_t i = 0; i < b; ++i) at += LoadLe32(part.data() + table + 4 * i);
  return at;
}

TEST(CisoAhead, SequentialReadsGiveTheSameBytes) {
  Bytes image = SampleImage(kImageSize, 3);
  static const uint8_t kPayload[64] = {9, 8, 7};
  ciso::PackPatch patch = {5 * kBlock - 20, kPayload, sizeof kPayload};  // across a block edge
  Bytes patched = image;
  std::memcpy(patched.data() + patch.offset, kPayload, sizeof kPayload);
  for (auto [compression, hash] : {std::pair{ciso::kLzma, ciso::kHashSha256}, {ciso::kDeflate, ciso::kHashCrc32},
                                   {ciso::kLzma, ciso::kHashNone}, {ciso::kStored, ciso::kHashSha256}}) {
    SCOPED_TRACE(testing::Message() << "compression " << int(compression) << " hash " << int(hash));
    ciso::PackOptions options = Options(compression, hash);
    options.patches = &patch, options.patch_count = 1;
    options.split_size = 100000;
    MemoryFolder folder;
    folder.AddParts(Pack(image, options));
    for (uint32_t step : {3000u, kBlock, 5 * kBlock + 11}) {
      IsoReader* reader;
      ASSERT_EQ(folder.Open(&reader), kOk);
      Bytes back;
      ASSERT_EQ(ReadAll(reader, &back, step), kOk);
      EXPECT_TRUE(back == patched) << "step " << step;
      ciso::AheadFacts facts = Ahead(reader);
      EXPECT_GT(facts.taken, 0u) << "step " << step;
      EXPECT_LE(facts.taken, facts.started);
      reader->Destroy();
    }
    EXPECT_EQ(folder.files()->OpenHandles(), 0);
  }
}

TEST(CisoAhead, OnlySequentialRealReadsStartWork) {
  MemoryFolder folder;
  Bytes image = SampleImage(kImageSize, 4);
  folder.AddParts(Pack(image, Options(ciso::kLzma, ciso::kHashSha256)));
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  // A verify pass, block after block, checks digests only.
  for (uint64_t at = 0; at < kImageSize; at += kBlock) ASSERT_EQ(reader->Read(at, nullptr, kBlock), kOk);
  // Jumps around the image, and reads that stay inside cached blocks.
  Bytes buf(100);
  for (uint64_t b : {7, 2, 11, 4, 30, 9, 9, 4, 20}) {
    ASSERT_EQ(reader->Read(b * kBlock + 50, buf.data(), 100), kOk);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + b * kBlock + 50));
  }
  EXPECT_EQ(Ahead(reader).started, 0u);
  // Block 21 after 20: the reads now move forward, and the next blocks go ahead.
  ASSERT_EQ(reader->Read(21 * kBlock, buf.data(), 100), kOk);
  EXPECT_EQ(Ahead(reader).started, ciso::kDecodeAheadBlocks);
  ASSERT_EQ(reader->Read(22 * kBlock, buf.data(), 100), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + 22 * kBlock));
  EXPECT_EQ(Ahead(reader).taken, 1u);
  EXPECT_EQ(Ahead(reader).started, 3u);  // 22, 23, and 24 in the slot 22 left
  // A side trip to a block far behind does not end the stream: 23 carries on, and 25 goes ahead.
  ASSERT_EQ(reader->Read(0, buf.data(), 100), kOk);
  ASSERT_EQ(reader->Read(23 * kBlock, buf.data(), 100), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + 23 * kBlock));
  EXPECT_EQ(Ahead(reader).taken, 2u);
  EXPECT_EQ(Ahead(reader).started, 4u);
  reader->Destroy();
}

// A damaged block decoded ahead says nothing until a read reaches it; then it fails exactly as
// it fails for a reader that loads it on the spot, and keeps failing while cached.
TEST(CisoAhead, ErrorsOfBlocksAheadWaitForTheirRead) {
  constexpr uint64_t kBad = 3;
  for (auto [compression, hash] : {std::pair{ciso::kLzma, ciso::kHashSha256}, {ciso::kDeflate, ciso::kHashNone},
                                   {ciso::kLzma, ciso::kHashNone}}) {
    SCOPED_TRACE(testing::Message() << "compression " << int(compression) << " hash " << int(hash));
    Bytes image = SampleImage(kImageSize, 5);
    std::vector<Bytes> parts = Pack(image, Options(compression, hash));
    ASSERT_EQ(parts.size(), 1u);
    MemoryFolder folder;
    folder.AddParts(parts);
    IsoReader* reader;
    ASSERT_EQ(folder.Open(&reader), kOk);
    size_t at = StoredAt(folder.bytes(0), reader, kBad);
    for (size_t i = 20; i < 60; ++i) folder.bytes(0)[at + i] ^= 0x5A;
    Bytes buf(kBlock);
    err_t expected = reader->Read(kBad * kBlock, buf.data(), kBlock);  // loaded on the spot
    ASSERT_NE(expected, kOk);
    reader->Destroy();

    ASSERT_EQ(folder.Open(&reader), kOk);
    for (uint64_t b = 0; b < kBad; ++b) ASSERT_EQ(reader->Read(b * kBlock, buf.data(), kBlock), kOk) << b;
    EXPECT_GE(Ahead(reader).started, 2u);  // the damaged block was among them
    EXPECT_EQ(reader->Read(0, buf.data(), 10), kOk);
    EXPECT_EQ(reader->Read(kBad * kBlock + 100, buf.data(), 10), expected);
    EXPECT_EQ(reader->Read(kBad * kBlock, buf.data(), 10), expected);
    EXPECT_EQ(reader->Read((kBad + 1) * kBlock, buf.data(), 10), kOk);
    reader->Destroy();

    // Decoded ahead and never read: no error anywhere.
    ASSERT_EQ(folder.Open(&reader), kOk);
    for (uint64_t b = 0; b < kBad; ++b) ASSERT_EQ(reader->Read(b * kBlock, buf.data(), kBlock), kOk) << b;
    reader->Destroy();
  }
}

// Releasing the reader while workers are still decoding waits for them (the sanitizers see to
// the rest); so does a reader whose workers could not be started.
TEST(CisoAhead, ReleaseWithWorkInFlight) {
  constexpr uint32_t kBig = 0x40000;
  Bytes image = SampleImage(12 * kBig, 6);
  MemoryFolder folder;
  folder.AddParts(Pack(image, Options(ciso::kLzma, ciso::kHashSha256, kBig)));
  Bytes buf(1000);
  for (int round = 0; round < 8; ++round) {
    IsoReader* reader;
    ASSERT_EQ(folder.Open(&reader), kOk);
    for (uint64_t b = 0; b <= uint64_t(round % 3); ++b) ASSERT_EQ(reader->Read(b * kBig, buf.data(), 1000), kOk);
    reader->Destroy();
  }
  ThreadFailNextStarts(1000);
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  Bytes back;
  EXPECT_EQ(ReadAll(reader, &back, 100000), kOk);
  EXPECT_TRUE(back == image);
  reader->Destroy();
  ThreadFailNextStarts(0);
}

}  // namespace
