#include "image/ciso_reader.h"

#include <gtest/gtest.h>

#include <tuple>

#include "container_fixture.h"

using testing_support::Bytes;
using testing_support::MemoryFolder;
using testing_support::Pack;
using testing_support::ReadAll;
using testing_support::Reseal;
using testing_support::SampleImage;

namespace {

constexpr size_t kImageSize = 150 * 1024 + 1000;  // the last block is partly padding

constexpr auto& Options = testing_support::QuickOptions;

Bytes Patched(Bytes image, const std::vector<ciso::PackPatch>& patches) {
  for (const auto& p : patches) std::memcpy(image.data() + p.offset, p.bytes, p.length);
  return image;
}

// Every compression x hash, over several block sizes, one part and several, with and
// without locator and patches: the reader gives back the image with the patches laid over it.
class RoundTrip : public testing::TestWithParam<std::tuple<uint8_t, uint8_t>> {};

TEST_P(RoundTrip, ReadsBackWhatWasPacked) {
  auto [compression, hash] = GetParam();
  Bytes image = SampleImage(kImageSize);
  static const uint8_t kPayload[300] = {1, 2, 3, 4, 5};
  std::vector<ciso::PackPatch> patches = {{0x8808, kPayload, 174}, {32768 - 100, kPayload, 300},
                                          {kImageSize - 10, kPayload, 10}};
  struct Case {
    uint32_t block_size;
    uint64_t split;
    bool locator;
    bool patched;
  };
  for (Case c : {Case{2048, 0, false, false}, Case{32768, 0, true, true}, Case{65536, 40000, false, true},
                 Case{2048, 16384, true, false}}) {
    SCOPED_TRACE(testing::Message() << "block " << c.block_size << " split " << c.split);
    ciso::PackOptions options = Options(compression, hash, c.block_size);
    options.split_size = c.split;
    options.locator = c.locator;
    if (c.patched) options.patches = patches.data(), options.patch_count = uint32_t(patches.size());
    std::vector<Bytes> parts = Pack(image, options);
    ASSERT_FALSE(parts.empty());
    if (c.split == 16384) {
      EXPECT_GT(parts.size(), 2u);
    }
    for (const Bytes& part : parts) {
      EXPECT_TRUE(ciso::IsAligned(part.size()));
      if (c.split) {
        EXPECT_LE(part.size(), c.split);
      }
    }
    MemoryFolder folder;
    folder.AddParts(parts);
    IsoReader* reader;
    const char* name;
    ASSERT_EQ(folder.Open(&reader, &name), kOk);
    EXPECT_STREQ(name, "CisoReader");
    EXPECT_EQ(reader->ImageSize(), kImageSize);
    EXPECT_EQ(reader->SectorSize(), 2048u);
    EXPECT_EQ(reader->SessionCount(), 0u);
    Bytes back;
    ASSERT_EQ(ReadAll(reader, &back), kOk);
    EXPECT_TRUE(back == (c.patched ? Patched(image, patches) : image));
    for (uint64_t at = 0; at < kImageSize; at += 0x40000) EXPECT_EQ(reader->Read(at, nullptr, 0x40000), kOk);
    ciso::ContainerFacts facts;
    ciso::DescribeContainer(reader, &facts);
    EXPECT_EQ(facts.part_count, parts.size());
    EXPECT_EQ(facts.has_locator, c.locator);
    EXPECT_EQ(facts.patch_count, c.patched ? 3u : 0u);
    if (compression != ciso::kStored && c.block_size == 2048) {
      EXPECT_GT(facts.zero_blocks, 0u);
    }
    reader->Destroy();
    EXPECT_EQ(folder.files()->OpenHandles(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllMethods, RoundTrip,
    testing::Combine(testing::Values(ciso::kStored, ciso::kDeflate, ciso::kLzma),
                     testing::Values(ciso::kHashNone, ciso::kHashCrc32, ciso::kHashSha256)));

// ---- The block cache ----

struct Opened {
  MemoryFolder folder;
  IsoReader* reader = nullptr;
  Bytes image;
  ~Opened() {
    if (reader) reader->Destroy();
  }
};

void OpenSample(Opened* o, ciso::PackOptions options, size_t size = kImageSize) {
  o->image = SampleImage(size);
  o->folder.AddParts(Pack(o->image, options));
  ASSERT_EQ(o->folder.Open(&o->reader), kOk);
}

TEST(CisoCache, StraddlingAndPastTheEnd) {
  Opened o;
  OpenSample(&o, Options(ciso::kLzma, ciso::kHashSha256, 4096));
  Bytes buf(6000, 0xEE);
  ASSERT_EQ(o.reader->Read(4096 - 3000, buf.data(), 6000), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), o.image.begin() + 4096 - 3000));
  // Past the end: zeros and success, also for a read that starts inside.
  std::fill(buf.begin(), buf.end(), 0xEE);
  ASSERT_EQ(o.reader->Read(kImageSize - 100, buf.data(), 6000), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 100, o.image.end() - 100));
  EXPECT_TRUE(std::all_of(buf.begin() + 100, buf.end(), [](uint8_t b) { return b == 0; }));
  ASSERT_EQ(o.reader->Read(uint64_t(1) << 40, buf.data(), 6000), kOk);
  EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; }));
}

TEST(CisoCache, VerifyThenReadDecompresses) {
  Opened o;
  OpenSample(&o, Options(ciso::kDeflate, ciso::kHashSha256, 8192));
  ASSERT_EQ(o.reader->Read(0, nullptr, 8192 * 3), kOk);
  Bytes buf(8192 * 3);
  ASSERT_EQ(o.reader->Read(0, buf.data(), uint32_t(buf.size())), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), o.image.begin()));
}

TEST(CisoCache, DigestMismatchSticksUntilEvicted) {
  Opened o;
  // Stored and hashed: block b lies at 96 + b * 4096 in the single part.
  OpenSample(&o, Options(ciso::kStored, ciso::kHashSha256, 4096));
  uint8_t& victim = o.folder.bytes(0)[ciso::kPartHeaderSize + 4096 + 10];
  victim ^= 0xFF;
  Bytes buf(4096);
  EXPECT_EQ(o.reader->Read(4096, buf.data(), 100), kErrBadFormat);
  EXPECT_EQ(o.reader->Read(0, buf.data(), 100), kOk);
  victim ^= 0xFF;  // repaired, but the failure stays with the cached block
  EXPECT_EQ(o.reader->Read(4096 + 200, buf.data(), 100), kErrBadFormat);
  EXPECT_EQ(o.reader->Read(4096, nullptr, 100), kErrBadFormat);
  for (uint64_t b = 2; b < 2 + ciso::kCacheEntries; ++b) ASSERT_EQ(o.reader->Read(b * 4096, buf.data(), 1), kOk);
  EXPECT_EQ(o.reader->Read(4096, buf.data(), 4096), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), o.image.begin() + 4096));
}

TEST(CisoCache, ZeroBlocksHaveNoStoredBytes) {
  Bytes image(64 * 1024, 0);
  image[1000] = 7;
  MemoryFolder folder;
  std::vector<Bytes> parts = Pack(image, Options(ciso::kLzma, ciso::kHashCrc32, 4096));
  folder.AddParts(parts);
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  ciso::ContainerFacts facts;
  ciso::DescribeContainer(reader, &facts);
  EXPECT_EQ(facts.zero_blocks, 15u);
  Bytes back;
  ASSERT_EQ(ReadAll(reader, &back), kOk);
  EXPECT_EQ(back, image);
  reader->Destroy();
}

TEST(CisoCache, CloseFilesThenReadReopens) {
  Opened o;
  ciso::PackOptions options = Options(ciso::kStored, ciso::kHashNone, 2048);
  options.split_size = 20000;
  OpenSample(&o, options);
  Bytes buf(100);
  o.reader->CloseFiles();
  EXPECT_EQ(o.folder.files()->OpenHandles(), 0);
  ASSERT_EQ(o.reader->Read(60000, buf.data(), 100), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), o.image.begin() + 60000));
  EXPECT_EQ(o.folder.files()->OpenHandles(), 1);
}

}  // namespace
