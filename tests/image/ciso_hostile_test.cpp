// Containers with flipped bytes, forged fields, missing pieces: each gives its error code and
// nothing reads outside its buffers (the asan build checks the second half).
#include <gtest/gtest.h>

#include "container_fixture.h"
#include "image/source.h"

using testing_support::Bytes;
using testing_support::MemoryFolder;
using testing_support::Pack;
using testing_support::ReadAll;
using testing_support::Reseal;
using testing_support::SampleImage;

namespace {

constexpr uint32_t kBlock = 4096;

std::vector<Bytes> PackSample(uint8_t compression, uint8_t hash, uint64_t split = 0, bool locator = false) {
  ciso::PackOptions o;
  o.compression = compression;
  o.level = 1;
  o.hash = hash;
  o.block_size = kBlock;
  o.split_size = split;
  o.locator = locator;
  return Pack(SampleImage(40 * 1024), o);
}

uint8_t* Trailer(Bytes& part, uint32_t behind = 0) { return part.data() + part.size() - behind - ciso::kTrailerSize; }

// Opens a folder holding the given parts; the code of the open.
err_t OpenParts(const std::vector<Bytes>& parts) {
  MemoryFolder folder;
  folder.AddParts(parts);
  IsoReader* reader;
  err_t e = folder.Open(&reader);
  if (e == kOk) reader->Destroy();
  EXPECT_EQ(folder.files()->OpenHandles(), 0);
  return e;
}

// Changes one trailer field of an unhashed container and reseals the trailer.
template <typename Change>
err_t OpenWithTrailer(Change change, uint8_t compression = ciso::kLzma) {
  std::vector<Bytes> parts = PackSample(compression, ciso::kHashNone);
  uint8_t* t = Trailer(parts[0]);
  change(t);
  Reseal(t, ciso::kTrailerSize);
  return OpenParts(parts);
}

TEST(CisoHostile, PartHeaderChecksAtCreate) {
  auto create = [](Bytes file) {
    MemoryFiles files;
    files.Add(u"\\f", file.data(), file.size());
    IsoReader* reader;
    err_t e = OpenImage(&files, &reader, u"\\f", kNoHandle, nullptr, 0);
    if (e == kOk) reader->Destroy();
    return e;
  };
  Bytes good = PackSample(ciso::kLzma, ciso::kHashSha256)[0];
  EXPECT_EQ(create(good), kOk);
  Bytes bad_crc = good;
  bad_crc[20] ^= 1;
  EXPECT_EQ(create(bad_crc), kErrBadFormat);
  // The registry answers 11 whatever the factory said; ask the factory itself for its code.
  auto factory = [](Bytes file) {
    MemoryFiles files;
    files.Add(u"\\f", file.data(), file.size());
    IsoReader* reader = nullptr;
    err_t e = ciso::CreateCisoReader(&files, &reader, u"\\f", 1, file.data(), uint32_t(file.size()));
    if (reader) reader->Destroy();
    return e;
  };
  auto resealed = [&](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    Reseal(b.data(), ciso::kPartHeaderSize);
    return factory(b);
  };
  EXPECT_EQ(resealed(ciso::kFormatA, 0), kErrUnknownRevision);
  EXPECT_EQ(resealed(ciso::kFormatB, 2), kErrUnknownRevision);
  EXPECT_EQ(resealed(ciso::kFormatC, 9), kOk);
  EXPECT_EQ(resealed(ciso::kContentType + 2, 'x'), kErrUnknownRevision);
  EXPECT_EQ(resealed(ciso::kPartNumber, 1), kErrHandleEof);
  EXPECT_EQ(factory(Bytes(good.begin(), good.begin() + 90)), kErrHandleEof);
}

TEST(CisoHostile, TrailerAndTablesMustHold) {
  std::vector<Bytes> parts = PackSample(ciso::kLzma, ciso::kHashSha256);
  EXPECT_EQ(OpenParts(parts), kOk);
  auto with = [&](auto change) {
    std::vector<Bytes> p = parts;
    change(p[0]);
    return OpenParts(p);
  };
  EXPECT_EQ(with([](Bytes& b) { b.resize(b.size() - 32); }), kErrHandleEof);           // truncated
  EXPECT_EQ(with([](Bytes& b) { Trailer(b)[100] ^= 1; }), kErrHandleEof);              // CRC broken
  EXPECT_EQ(with([](Bytes& b) { Trailer(b)[-1] ^= 1; }), kErrBadFormat);               // table digest
  EXPECT_EQ(with([](Bytes& b) { Trailer(b)[ciso::kTableDigest] ^= 1, Reseal(Trailer(b), 192); }),
            kErrBadFormat);
  // Without a hash, padding of the size table is nobody's business, and digest bytes neither.
  std::vector<Bytes> plain = PackSample(ciso::kLzma, ciso::kHashNone);
  Trailer(plain[0])[-1] ^= 1;
  Trailer(plain[0])[ciso::kTableDigest + 3] ^= 1;
  Reseal(Trailer(plain[0]), ciso::kTrailerSize);
  EXPECT_EQ(OpenParts(plain), kOk);
  // With CRC-32 only the first four digest bytes count.
  std::vector<Bytes> crc = PackSample(ciso::kLzma, ciso::kHashCrc32);
  Trailer(crc[0])[ciso::kTableDigest + 4] ^= 1;
  Reseal(Trailer(crc[0]), ciso::kTrailerSize);
  EXPECT_EQ(OpenParts(crc), kOk);
  Trailer(crc[0])[ciso::kTableDigest + 3] ^= 1;
  Reseal(Trailer(crc[0]), ciso::kTrailerSize);
  EXPECT_EQ(OpenParts(crc), kErrBadFormat);
}

TEST(CisoHostile, SizeTableEntries) {
  // No hash: the size table is the last 32 bytes before the trailer (10 blocks x 4 bytes -> 64).
  auto with_entry = [](uint32_t block, auto change) {
    std::vector<Bytes> parts = PackSample(ciso::kLzma, ciso::kHashNone);
    uint8_t* entry = Trailer(parts[0]) - 64 + 4 * block;
    StoreLe32(entry, change(LoadLe32(entry)));
    return OpenParts(parts);
  };
  EXPECT_EQ(with_entry(0, [](uint32_t v) { return v + 1; }), kErrBadFormat);      // not aligned
  EXPECT_EQ(with_entry(0, [](uint32_t v) { return v + 32; }), kErrBadFormat);     // sizes do not add up
  EXPECT_EQ(with_entry(3, [](uint32_t) { return kBlock + 32; }), kErrBadFormat);  // above the block size
}

TEST(CisoHostile, Geometry) {
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kBlockSize, 1024); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kBlockSize, 0x800000); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kBlockSize, 4096 + 16); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kLastBlockSize, 0); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kLastBlockSize, kBlock + 32); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, 0); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kPatchTableSize, 16); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, 0xFFFFFFFFull); }),
            kErrUnknownRevision);
  // A forged count whose tables cannot fit the data stream fails before any allocation.
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, 0x10000000ull); }), kErrBadFormat);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, 0xFFFFFFF0ull); }),
            kErrUnknownRevision);  // its size table would not fit 32 bits
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe32(t + ciso::kPatchTableSize, 0x7FFFFFE0u); }), kErrBadFormat);
}

// From 2^29 - 1 blocks on, the offsets table (block count + 1 entries of 8 bytes) needs 2^32
// bytes or more: a 32-bit build refuses the count before anything is allocated, where it once
// wrapped to a table of a few bytes and wrote past it. A 64-bit build finds that the tables
// cannot fit the data stream.
TEST(CisoHostile, BlockCountsBeyondA32BitAddressSpace) {
  const bool narrow = sizeof(size_t) == 4;
  auto with_count = [](uint64_t count) {
    return OpenWithTrailer([count](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, count); });
  };
  EXPECT_EQ(with_count(0x1FFFFFFEull), kErrBadFormat);  // 2^32 - 8 bytes of offsets: addressable
  EXPECT_EQ(with_count(0x1FFFFFFFull), narrow ? kErrUnknownRevision : kErrBadFormat);
  EXPECT_EQ(with_count(0x20000000ull), narrow ? kErrUnknownRevision : kErrBadFormat);
  EXPECT_EQ(with_count(0x3FFFFFF0ull), narrow ? kErrUnknownRevision : kErrBadFormat);
  // A stored container has no offsets table, but its full-size blocks must fill the stream.
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { StoreLe64(t + ciso::kBlockCount, 0x20000000ull); }, ciso::kStored),
            kErrBadFormat);
}

TEST(CisoHostile, Methods) {
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { t[ciso::kHashMethod] = 3; }), kErrUnknownRevision);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { t[ciso::kEncryptionMethod] = 1; }), kErrUnknownRevision);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { t[ciso::kCompressionMethod] = 2; }), kErrUnknownRevision);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { t[ciso::kCompressionMethod] = 4; }), kErrUnknownRevision);
  EXPECT_EQ(OpenWithTrailer([](uint8_t* t) { t[ciso::kLzmaProperties] = 225; }), kErrBadFormat);
}

TEST(CisoHostile, PatchRecords) {
  // A container whose patch table is forged after packing, with hash none.
  auto with_patches = [](auto edit) {
    static const uint8_t kPayload[40] = {9, 9, 9};
    ciso::PackPatch patches[] = {{100, kPayload, 40}, {5000, kPayload, 8}};
    ciso::PackOptions o;
    o.compression = ciso::kStored;
    o.hash = ciso::kHashNone;
    o.block_size = kBlock;
    o.patches = patches, o.patch_count = 2;
    Bytes image = SampleImage(20000);
    std::vector<Bytes> parts = Pack(image, o);
    uint8_t* table = Trailer(parts[0]) - 96;  // records of 64 and 32 bytes
    edit(table);
    MemoryFolder folder;
    folder.AddParts(parts);
    IsoReader* reader;
    err_t e = folder.Open(&reader);
    Bytes back;
    if (e == kOk) {
      EXPECT_EQ(ReadAll(reader, &back), kOk);
      reader->Destroy();
    }
    return std::make_pair(e, back);
  };
  auto [ok, both] = with_patches([](uint8_t*) {});
  ASSERT_EQ(ok, kOk);
  EXPECT_EQ(both[100], 9);
  EXPECT_EQ(both[5000], 9);
  // A zero length ends the table: the second record is never read.
  auto [ended, first_only] = with_patches([](uint8_t* t) { StoreLe32(t + 64 + 4, 0); StoreLe32(t + 64, 0); });
  EXPECT_EQ(ended, kOk);
  EXPECT_EQ(first_only[5000], SampleImage(20000)[5000]);
  // Another tag is skipped but still walked over.
  auto [skipped, none] = with_patches([](uint8_t* t) { t[0] = 'x'; });
  EXPECT_EQ(skipped, kOk);
  EXPECT_EQ(none[100], SampleImage(20000)[100]);
  EXPECT_EQ(with_patches([](uint8_t* t) { StoreLe32(t + 64 + 4, 17); }).first, kErrBadFormat);
  EXPECT_EQ(with_patches([](uint8_t* t) { StoreLe64(t + 8, ~uint64_t{0} - 10); }).first, kErrBadFormat);
}

TEST(CisoHostile, LocatorAndExtensionChunks) {
  std::vector<Bytes> parts = PackSample(ciso::kDeflate, ciso::kHashSha256, 0, true);
  EXPECT_EQ(OpenParts(parts), kOk);
  auto with_locator = [&](auto edit) {
    std::vector<Bytes> p = parts;
    uint8_t* locator = p[0].data() + p[0].size() - ciso::kLocatorSize;
    edit(p[0], locator);
    Reseal(p[0].data() + p[0].size() - ciso::kLocatorSize, ciso::kLocatorSize);
    return OpenParts(p);
  };
  EXPECT_EQ(with_locator([](Bytes&, uint8_t* l) { StoreLe64(l + ciso::kLocatorDistance, 64 + 8); }), kErrHandleEof);
  EXPECT_EQ(with_locator([](Bytes&, uint8_t* l) { StoreLe64(l + ciso::kLocatorDistance, 1ull << 40); }), kErrHandleEof);
  EXPECT_EQ(with_locator([](Bytes&, uint8_t* l) { StoreLe64(l + ciso::kLocatorDistance, 0); }), kErrHandleEof);
  EXPECT_EQ(with_locator([](Bytes&, uint8_t* l) { l[ciso::kLocatorImageId] ^= 1; }), kErrHandleEof);
  // A chunk between the trailer and the locator: walked over when well formed.
  auto with_chunk = [&](uint32_t length, uint8_t type) {
    return with_locator([&](Bytes& b, uint8_t*) {
      Bytes chunk(32, 0);
      std::memcpy(chunk.data(), ciso::kChunkMagic, 4);
      StoreLe32(chunk.data() + ciso::kChunkLength, length);
      chunk[ciso::kChunkType] = type;
      b.insert(b.end() - ciso::kLocatorSize, chunk.begin(), chunk.end());
      StoreLe64(b.data() + b.size() - ciso::kLocatorSize + ciso::kLocatorDistance, 64 + 32);
    });
  };
  EXPECT_EQ(with_chunk(32, 7), kOk);
  EXPECT_EQ(with_chunk(32, ciso::kChunkKeyMaterial), kOk);
  EXPECT_EQ(with_chunk(0, 7), kErrBadFormat);
  EXPECT_EQ(with_chunk(16, 7), kErrBadFormat);
  EXPECT_EQ(with_chunk(48, 7), kErrBadFormat);  // not aligned
  EXPECT_EQ(with_chunk(4096, 7), kErrBadFormat);  // beyond the part
}

TEST(CisoHostile, PartSets) {
  std::vector<Bytes> parts = PackSample(ciso::kLzma, ciso::kHashSha256, 4096);
  ASSERT_GE(parts.size(), 3u);
  EXPECT_EQ(OpenParts(parts), kOk);
  std::vector<Bytes> no_middle = parts;
  no_middle.erase(no_middle.begin() + 1);
  MemoryFolder gap;
  gap.AddFile(MemoryFolder::PartName(0), parts[0]);
  for (size_t n = 2; n < parts.size(); ++n) gap.AddFile(MemoryFolder::PartName(n), parts[n]);
  IsoReader* reader;
  EXPECT_EQ(gap.Open(&reader), kErrBadFormat);
  std::vector<Bytes> no_last(parts.begin(), parts.end() - 1);
  EXPECT_EQ(OpenParts(no_last), kErrHandleEof);

  // A duplicate of a part under another name changes nothing.
  MemoryFolder twice;
  twice.AddParts(parts);
  twice.AddFile(std::u16string(MemoryFolder::kName) + u".copy", parts[1]);
  ASSERT_EQ(twice.Open(&reader), kOk);
  reader->Destroy();

  // A part of another set, a forged logical offset, an absurd part number.
  std::vector<Bytes> other = PackSample(ciso::kLzma, ciso::kHashSha256, 8192);
  std::vector<Bytes> mixed = parts;
  mixed[1] = other[1];
  EXPECT_EQ(OpenParts(mixed), kErrBadFormat);
  std::vector<Bytes> shifted = parts;
  StoreLe64(shifted[1].data() + ciso::kLogicalOffset, LoadLe64(shifted[1].data() + ciso::kLogicalOffset) + 32);
  Reseal(shifted[1].data(), ciso::kPartHeaderSize);
  EXPECT_EQ(OpenParts(shifted), kErrBadFormat);
  std::vector<Bytes> far = parts;
  StoreLe32(far[1].data() + ciso::kPartNumber, 0x7FFFFFFF);
  Reseal(far[1].data(), ciso::kPartHeaderSize);
  EXPECT_EQ(OpenParts(far), kErrBadFormat);
  // A part file whose size is not a multiple of 32 is no candidate.
  std::vector<Bytes> ragged = parts;
  ragged[1].push_back(0);
  EXPECT_EQ(OpenParts(ragged), kErrBadFormat);
}

TEST(CisoHostile, CorruptBlocks) {
  // Hashed: the digest catches it, for reads and verify reads alike.
  std::vector<Bytes> hashed = PackSample(ciso::kLzma, ciso::kHashCrc32);
  hashed[0][ciso::kPartHeaderSize + 5] ^= 0x40;
  MemoryFolder folder;
  folder.AddParts(hashed);
  IsoReader* reader;
  ASSERT_EQ(folder.Open(&reader), kOk);
  EXPECT_EQ(reader->Read(0, nullptr, 2048), kErrBadFormat);
  uint8_t buf[2048];
  EXPECT_EQ(reader->Read(0, buf, 2048), kErrBadFormat);
  EXPECT_EQ(reader->Read(kBlock, buf, 2048), kOk);
  reader->Destroy();
  // Unhashed: the decompressor catches it.
  std::vector<Bytes> plain = PackSample(ciso::kLzma, ciso::kHashNone);
  for (int i = 0; i < 40; ++i) plain[0][ciso::kPartHeaderSize + 5 + i] ^= 0x55;
  MemoryFolder folder2;
  folder2.AddParts(plain);
  ASSERT_EQ(folder2.Open(&reader), kOk);
  EXPECT_NE(reader->Read(0, buf, 2048), kOk);
  reader->Destroy();
}

}  // namespace
