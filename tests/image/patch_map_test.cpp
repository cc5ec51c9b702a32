// Patch records resolved into an ordered map: overlapping records (the later one in the table
// wins), adjacent ones, records hiding parts of others, and a million records read back through
// the container reader.
#include <gtest/gtest.h>

#include <algorithm>

#include "container_fixture.h"
#include "image/patch_map.h"

using testing_support::Bytes;
using testing_support::MemoryFolder;
using testing_support::Pack;

namespace {

// What the records make of `image` when each is copied over it in table order.
Bytes CopiedInOrder(Bytes image, const std::vector<ciso::PatchRange>& records) {
  for (const ciso::PatchRange& r : records) std::copy(r.payload, r.payload + (r.end - r.start), image.begin() + r.start);
  return image;
}

// Every window [at, at + n) of the map's answer equals the copy in table order.
void ExpectSameWindows(const std::vector<ciso::PatchRange>& records, size_t size) {
  ciso::PatchMap map;
  ASSERT_EQ(map.Build(records.data(), uint32_t(records.size())), kOk);
  Bytes base(size, 0xEE);
  Bytes want = CopiedInOrder(base, records);
  for (size_t n : {1u, 7u, 64u, 333u}) {
    for (size_t at = 0; at + n <= size; at += n / 2 + 1) {
      Bytes got(base.begin() + at, base.begin() + at + n);
      map.Apply(at, got.data(), uint32_t(n));
      ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin() + at)) << "window " << at << "+" << n;
    }
  }
}

Bytes Payload(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed * 31 + i);
  return b;
}

}  // namespace

TEST(PatchMap, LaterRecordsWinWhereRecordsOverlap) {
  Bytes a = Payload(100, 1), b = Payload(10, 2), c = Payload(30, 3), d = Payload(8, 4), e = Payload(8, 5);
  // b hides the middle of a, which goes on after it; c overlaps a's end; d and e touch.
  std::vector<ciso::PatchRange> records = {{0, 100, a.data()},    {40, 50, b.data()}, {90, 120, c.data()},
                                           {200, 208, d.data()}, {208, 216, e.data()}};
  ExpectSameWindows(records, 300);
  ciso::PatchMap map;
  ASSERT_EQ(map.Build(records.data(), uint32_t(records.size())), kOk);
  EXPECT_EQ(map.range_count(), 6u);  // a, b, a again, c, d, e
  // The same records the other way round: a now hides b and part of c.
  std::reverse(records.begin(), records.end());
  ExpectSameWindows(records, 300);
}

TEST(PatchMap, EqualStartsAndNestedRecords) {
  Bytes p[6] = {Payload(50, 1), Payload(50, 2), Payload(10, 3), Payload(70, 4), Payload(1, 5), Payload(5, 6)};
  std::vector<ciso::PatchRange> records = {{10, 60, p[0].data()}, {10, 60, p[1].data()}, {20, 30, p[2].data()},
                                           {0, 70, p[3].data()},  {35, 36, p[4].data()}, {65, 70, p[5].data()}};
  ExpectSameWindows(records, 100);
}

TEST(PatchMap, ManyRandomOverlaps) {
  uint32_t x = 12345;
  auto next = [&x](uint32_t n) { return ((x = x * 1664525u + 1013904223u) >> 8) % n; };
  std::vector<Bytes> payloads;
  payloads.reserve(400);
  std::vector<ciso::PatchRange> records;
  for (int i = 0; i < 400; ++i) {
    uint32_t start = next(4000), length = 1 + next(200);
    payloads.push_back(Payload(length, uint8_t(i)));
    records.push_back({start, start + length, payloads.back().data()});
  }
  ExpectSameWindows(records, 4200);
}

TEST(PatchMap, NoRecords) {
  ciso::PatchMap map;
  ASSERT_EQ(map.Build(nullptr, 0), kOk);
  uint8_t byte = 7;
  map.Apply(0, &byte, 1);
  EXPECT_EQ(byte, 7);
}

// A million records, packed into a container and read back sector by sector: the reader finds
// each read's records by binary search (a scan of every record per read would take 4096 times
// a million steps here), and the bytes are those of the records copied in table order.
TEST(PatchMap, AMillionRecordsThroughTheReader) {
  constexpr uint32_t kRecords = 1000000, kSize = 8 * 1024 * 1024;
  Bytes image = testing_support::SampleImage(kSize);
  Bytes payloads(kRecords * 2);
  std::vector<ciso::PackPatch> patches(kRecords);
  for (uint32_t i = 0; i < kRecords; ++i) {
    payloads[2 * i] = uint8_t(i), payloads[2 * i + 1] = uint8_t(i >> 8);
    // Two bytes every eight, and every 1000th record over the one before it.
    uint64_t at = i % 1000 == 999 ? uint64_t(i - 1) * 8 + 1 : uint64_t(i) * 8;
    patches[i] = {at, &payloads[2 * i], 2};
  }
  ciso::PackOptions o;
  o.compression = ciso::kStored;
  o.hash = ciso::kHashNone;
  o.block_size = 65536;
  o.patches = patches.data(), o.patch_count = kRecords;
  std::vector<Bytes> parts = Pack(image, o);
  ASSERT_FALSE(parts.empty());
  for (const ciso::PackPatch& p : patches) std::copy(p.bytes, p.bytes + p.length, image.begin() + p.offset);
  MemoryFolder folder;
  folder.AddParts(parts);
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  ciso::ContainerFacts facts;
  ciso::DescribeContainer(reader, &facts);
  EXPECT_EQ(facts.patch_count, kRecords);
  Bytes sector(2048);
  for (uint32_t at = 0; at < kSize; at += 2048) {
    ASSERT_EQ(reader->Read(at, sector.data(), 2048), kOk);
    ASSERT_TRUE(std::equal(sector.begin(), sector.end(), image.begin() + at)) << "sector at " << at;
  }
  reader->Destroy();
}
