#include "image/lzma_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/lzma_blob.h"
#include "support/vtable_slot.h"

using testing_support::MakeAloneBlob;
using testing_support::MakeLzmaBlob;
using testing_support::PutLe;
using testing_support::SampleText;

namespace {

struct Decoded {
  err_t create = 0;
  err_t decode = 0;
  uint32_t declared = 0;
  size_t produced = 0;
  std::string data;
};

// Creates a decoder from the blob's header and decodes the rest into `cap` bytes.
Decoded DecodeBlob(const std::vector<uint8_t>& blob, size_t cap) {
  Decoded r;
  LzmaBlockDecompressor* d = nullptr;
  r.create = CreateLzmaBlockDecompressor(blob.data(), &d, &r.declared);
  if (r.create != kOk) {
    EXPECT_EQ(d, nullptr);
    return r;
  }
  std::vector<uint8_t> out(cap + 1, 0xAA);
  r.decode = d->Decode(blob.data() + 13, blob.size() - 13, out.data(), cap, &r.produced);
  EXPECT_EQ(out[cap], 0xAA) << "wrote past the capacity";
  r.data.assign(reinterpret_cast<char*>(out.data()), r.produced);
  d->Release();
  return r;
}

}  // namespace

TEST(LzmaBlock, SlotOrderIsReleaseDecodeDestroy) {
  EXPECT_EQ(testing_support::VtableSlot(&LzmaBlockDecompressor::Release), 0u);
  EXPECT_EQ(testing_support::VtableSlot(&LzmaBlockDecompressor::Decode), 1u);
  EXPECT_EQ(testing_support::VtableSlot(&LzmaBlockDecompressor::Destroy), 2u);
}

TEST(LzmaBlock, DecodesStreamsWithAndWithoutEndMarker) {
  std::string text = SampleText(100000);
  for (bool marker : {false, true}) {
    Decoded r = DecodeBlob(MakeLzmaBlob(text, marker), text.size());
    EXPECT_EQ(r.create, kOk);
    EXPECT_EQ(r.decode, kOk) << "marker " << marker;
    EXPECT_EQ(r.declared, text.size());
    EXPECT_EQ(r.data, text);
  }
  Decoded alone = DecodeBlob(MakeAloneBlob(text, true), text.size());
  EXPECT_EQ(alone.decode, kOk);
  EXPECT_EQ(alone.data, text);
}

TEST(LzmaBlock, DecodingTwiceGivesTheSameBytes) {
  std::string text = SampleText(5000);
  auto blob = MakeLzmaBlob(text);
  LzmaBlockDecompressor* d = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(CreateLzmaBlockDecompressor(blob.data(), &d, &size), kOk);
  for (int round = 0; round < 3; ++round) {
    std::vector<uint8_t> out(size);
    size_t produced = 0;
    ASSERT_EQ(d->Decode(blob.data() + 13, blob.size() - 13, out.data(), size, &produced), kOk);
    EXPECT_EQ(produced, size);
    EXPECT_EQ(0, std::memcmp(out.data(), text.data(), size));
    // A failed decode in between leaves the object usable.
    EXPECT_EQ(d->Decode(blob.data() + 13, 5, out.data(), size, &produced), kLzmaErrData);
    EXPECT_EQ(produced, 0u);
  }
  ReleaseLzmaBlockDecompressor(d);
  ReleaseLzmaBlockDecompressor(nullptr);
}

TEST(LzmaBlock, HeaderChecksComeInOrder) {
  auto blob = MakeLzmaBlob("hello");
  LzmaBlockDecompressor* d = nullptr;
  uint32_t size = 77;

  auto header = blob;
  PutLe(header, 5, uint64_t(1) << 32, 8);  // high half set
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrMemory);
  EXPECT_EQ(size, 0u);
  PutLe(header, 5, 0x80000000u, 8);  // bit 31
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrMemory);
  EXPECT_EQ(size, 0u);

  // Rejected properties still report the declared size; a size check does not hide them.
  header = blob;
  header[0] = 225;
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrParameter);
  EXPECT_EQ(size, 5u);
  PutLe(header, 5, 0, 8);
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrParameter);

  header = blob;
  PutLe(header, 5, 0, 8);
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrMemory);
  EXPECT_EQ(size, 0u);
  PutLe(header, 5, 0x7FFFFFFF, 8);
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kLzmaErrMemory);
  EXPECT_EQ(size, 0x7FFFFFFFu);
  PutLe(header, 5, 0x7FFFFFFE, 8);
  EXPECT_EQ(CreateLzmaBlockDecompressor(header.data(), &d, &size), kOk);
  EXPECT_NE(d, nullptr);
  ReleaseLzmaBlockDecompressor(d);
}

TEST(LzmaBlock, HugeDictionaryIsNotAllocated) {
  // A header may declare a 4 GiB window; the decoder only needs the output's size.
  std::string text = SampleText(3000);
  auto blob = MakeLzmaBlob(text);
  PutLe(blob, 1, 0xFFFFFFFFu, 4);
  Decoded r = DecodeBlob(blob, text.size());
  EXPECT_EQ(r.decode, kOk);
  EXPECT_EQ(r.data, text);

  // Declaring nearly 2 GiB of output as well would size the window to that: refused, not asked
  // of the system.
  PutLe(blob, 5, 0x7FFFFFFE, 8);
  LzmaBlockDecompressor* d = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(CreateLzmaBlockDecompressor(blob.data(), &d, &size), kLzmaErrMemory);
  EXPECT_EQ(d, nullptr);
}

TEST(LzmaBlock, ShortLongAndCorruptStreams) {
  std::string text = SampleText(20000);
  auto blob = MakeLzmaBlob(text);

  // The stream needs more input than there is.
  auto cut = blob;
  cut.resize(blob.size() / 2);
  EXPECT_EQ(DecodeBlob(cut, text.size()).decode, kLzmaErrData);
  cut.resize(13);
  EXPECT_EQ(DecodeBlob(cut, text.size()).decode, kLzmaErrData);

  // The output limit comes before the end of the stream.
  Decoded small = DecodeBlob(blob, text.size() - 1);
  EXPECT_EQ(small.decode, kLzmaErrOverrun);
  EXPECT_EQ(small.produced, 0u);

  // The header promises more than the stream holds (the marker ends it early).
  auto longer = MakeLzmaBlob(text, true);
  PutLe(longer, 5, text.size() + 100, 8);
  EXPECT_EQ(DecodeBlob(longer, text.size() + 100).decode, kLzmaErrData);

  // Damaged data.
  auto bad = blob;
  for (size_t i = 20; i < bad.size(); i += 7) bad[i] ^= 0x5A;
  Decoded broken = DecodeBlob(bad, text.size());
  EXPECT_NE(broken.decode, kOk);
  EXPECT_EQ(broken.produced, 0u);
}
