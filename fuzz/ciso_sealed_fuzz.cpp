// Fuzzes the container reader past its seals: the input chooses a container (method, hash,
// geometry, parts, locator, patch records and block contents), the packer lays it out, then
// the input's byte edits are applied and every seal is made whole again (block digests, table
// digest, trailer, locator and part header CRCs), so the edits reach the block offsets, the
// patch parsing, the decompressors, the cache and decode-ahead instead of dying at a check.
// ciso_fuzz keeps the seals themselves fuzzed. A container left unedited must open and read
// back as the image with its patches laid over it in table order.
//
// The input, in order (missing bytes read as zero):
//   method (stored, deflate, LZMA by value mod 3), hash (none, CRC-32, SHA-256 mod 3),
//   flags (bit 0 a trailer locator, bit 1 split into parts of 4096 + 32 * next byte),
//   geometry (block size 2048 << (bits 0-1 mod 3), 1 + bits 2-4 blocks), the last block's
//   length (16 bits, mod the block size, plus 1), one byte of block kinds for each block
//   (zeros, text, noise, the content), the patch count (mod 4) and for each patch its offset
//   (32 bits, mod the image size + 64), its length (1 + byte mod 64) and bytes, the edit count
//   (mod 16) and for each edit a position (32 bits, mod the container's size) and a byte value;
//   what is left is the content.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_container.h"
#include "image/hasher.h"
#include "tests/image/container_fixture.h"

namespace {
using namespace ciso;
using testing_support::Bytes;
using testing_support::MemoryFolder;

constexpr uint32_t kMaxBlocks = 8;
constexpr uint32_t kMaxEdits = 16;
constexpr uint32_t kMaxResealedBlocks = 4096;  // a forged count is not followed further

class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
  uint32_t Le16() { return Byte() | uint32_t(Byte()) << 8; }
  uint32_t Le32() { return Le16() | Le16() << 16; }
  Bytes Take(size_t n) {
    Bytes b(n, 0);
    for (auto& x : b) x = Byte();
    return b;
  }
  Bytes Rest() { return Take(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
};

// One block of the image by its kind: zeros, repeated text, noise or the input's content.
void FillBlock(uint8_t kind, const Bytes& content, uint8_t* block, uint32_t size) {
  static const char kText[] = "a setup on a disc image, packed block by block. ";
  uint32_t noise = size;
  for (uint32_t i = 0; i < size; ++i) {
    noise = noise * 1664525u + 1013904223u;
    switch (kind & 3) {
      case 0: block[i] = 0; break;
      case 1: block[i] = uint8_t(kText[i % (sizeof kText - 1)]); break;
      case 2: block[i] = uint8_t(noise >> 24); break;
      default: block[i] = content.empty() ? uint8_t(i) : content[i % content.size()]; break;
    }
  }
}

struct Plan {
  PackOptions options;
  Bytes image;
  std::vector<Bytes> patch_bytes;
  std::vector<PackPatch> patches;
  std::vector<std::pair<uint32_t, uint8_t>> edits;
};

void ReadPlan(Cursor* in, Plan* plan) {
  static const uint8_t kMethods[] = {kStored, kDeflate, kLzma};
  PackOptions& o = plan->options;
  o.compression = kMethods[in->Byte() % 3];
  o.level = o.compression == kDeflate ? 1 : 0;
  o.hash = in->Byte() % 3;
  uint8_t flags = in->Byte();
  o.locator = flags & 1;
  if (flags & 2) o.split_size = kMinSplitSize + kGrain * in->Byte();
  uint8_t geometry = in->Byte();
  o.block_size = kMinBlockSize << ((geometry & 3) % 3);
  uint32_t blocks = 1 + (geometry >> 2) % kMaxBlocks;
  uint32_t last = 1 + in->Le16() % o.block_size;
  Bytes kinds = in->Take(blocks);
  uint32_t patch_count = in->Byte() % 4;
  uint64_t image_size = uint64_t(blocks - 1) * o.block_size + last;
  for (uint32_t i = 0; i < patch_count; ++i) {
    uint64_t offset = in->Le32() % (image_size + 64);
    plan->patch_bytes.push_back(in->Take(1 + in->Byte() % 64));
    plan->patches.push_back({offset, nullptr, uint32_t(plan->patch_bytes.back().size())});
  }
  for (uint32_t i = 0; i < plan->patches.size(); ++i) plan->patches[i].bytes = plan->patch_bytes[i].data();
  o.patches = plan->patches.data();
  o.patch_count = patch_count;
  uint32_t edit_count = in->Byte() % kMaxEdits;
  for (uint32_t i = 0; i < edit_count; ++i) {
    uint32_t at = in->Le32();
    plan->edits.push_back({at, in->Byte()});
  }
  Bytes content = in->Rest();
  plan->image.resize(blocks * o.block_size);
  for (uint32_t b = 0; b < blocks; ++b) FillBlock(kinds[b], content, &plan->image[b * o.block_size], o.block_size);
  plan->image.resize(image_size);
}

// The container as the reader sees it: part headers, the data stream through the parts' slices,
// the trailer and the locator behind it in the last part.
class Container {
 public:
  Container(std::vector<Bytes> parts, bool locator)
      : parts_(std::move(parts)), tail_(kTrailerSize + (locator ? kLocatorSize : 0)) {}

  void Edit(uint32_t at, uint8_t value) {
    size_t total = 0;
    for (const Bytes& p : parts_) total += p.size();
    size_t position = at % total;
    for (Bytes& p : parts_) {
      if (position < p.size()) {
        p[position] = value;
        return;
      }
      position -= p.size();
    }
  }

  // Every seal after the edits, inner ones first: block digests, table digest, then the CRCs.
  void Reseal() {
    Bytes stream = Stream();
    uint8_t* trailer = Trailer();
    ResealDigests(trailer, &stream);
    Scatter(stream);
    testing_support::Reseal(trailer, kTrailerSize);
    if (tail_ > kTrailerSize) testing_support::Reseal(trailer + kTrailerSize, kLocatorSize);
    for (Bytes& p : parts_) testing_support::Reseal(p.data(), kPartHeaderSize);
  }

  const std::vector<Bytes>& parts() const { return parts_; }

 private:
  uint8_t* Trailer() { return parts_.back().data() + parts_.back().size() - tail_; }
  size_t SliceEnd(size_t i) const { return parts_[i].size() - (i + 1 == parts_.size() ? tail_ : 0); }

  Bytes Stream() const {
    Bytes stream;
    for (size_t i = 0; i < parts_.size(); ++i)
      stream.insert(stream.end(), parts_[i].begin() + kPartHeaderSize, parts_[i].begin() + SliceEnd(i));
    return stream;
  }

  void Scatter(const Bytes& stream) {
    size_t at = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
      size_t n = SliceEnd(i) - kPartHeaderSize;
      std::memcpy(parts_[i].data() + kPartHeaderSize, stream.data() + at, n);
      at += n;
    }
  }

  // Block digests and the table digest, as the trailer's (edited) fields place the tables.
  static void ResealDigests(uint8_t* trailer, Bytes* stream) {
    CisoHasher* hasher = nullptr;
    if (CreateHasher(trailer[kHashMethod], &hasher) != kOk || !hasher) return;
    uint64_t count = LoadLe64(trailer + kBlockCount);
    uint32_t block_size = LoadLe32(trailer + kBlockSize);
    bool compressed = trailer[kCompressionMethod] != kStored;
    uint64_t hash_table = AlignUp(count * hasher->DigestLength());
    uint64_t size_table = compressed ? AlignUp(count * 4) : 0;
    uint64_t tables = hash_table + size_table + LoadLe32(trailer + kPatchTableSize);
    if (count <= kMaxResealedBlocks && tables <= stream->size()) {
      uint8_t* hashes = stream->data() + stream->size() - tables;
      ResealBlocks(hasher, count, block_size, compressed ? hashes + hash_table : nullptr, hashes,
                   stream->data(), stream->size() - tables);
      hasher->Reset();
      hasher->Update(hashes, uint32_t(tables));
      hasher->Update(trailer + kDigestedTrailerFrom, kDigestedTrailerSize);
      hasher->Finish(trailer + kTableDigest);
    }
    hasher->Destroy();
  }

  // Each block's digest over its stored bytes, as far as the sizes keep inside the blocks.
  static void ResealBlocks(CisoHasher* hasher, uint64_t count, uint32_t block_size, const uint8_t* sizes,
                           uint8_t* hashes, const uint8_t* blocks, uint64_t blocks_size) {
    uint64_t at = 0;
    for (uint64_t b = 0; b < count; ++b) {
      uint32_t stored = sizes ? LoadLe32(sizes + 4 * b) : block_size;
      if (stored > blocks_size - at) return;
      hasher->Reset();
      hasher->Update(blocks + at, stored);
      hasher->Finish(hashes + b * hasher->DigestLength());
      at += stored;
    }
  }

  std::vector<Bytes> parts_;
  uint32_t tail_;
};

// The image as a reader must give it: the patch records copied over it in table order, each
// cut at the image's end.
Bytes Patched(const Plan& plan) {
  Bytes image = plan.image;
  for (const PackPatch& p : plan.patches)
    for (uint32_t i = 0; i < p.length && p.offset + i < image.size(); ++i) image[p.offset + i] = p.bytes[i];
  return image;
}

void CheckRoundTrip(MemoryFolder* folder, const Plan& plan) {
  IsoReader* reader;
  if (folder->Open(&reader) != kOk) std::abort();
  Bytes read;
  err_t e = testing_support::ReadAll(reader, &read, kMaxBlockSize);
  reader->Destroy();
  if (e != kOk || read != Patched(plan)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Cursor in(data, size);
  Plan plan;
  ReadPlan(&in, &plan);
  err_t e;
  std::vector<Bytes> parts = testing_support::Pack(plan.image, plan.options, &e);
  if (e || parts.size() > MemoryFiles::kMaxFiles) return 0;
  Container container(std::move(parts), plan.options.locator);
  for (auto [at, value] : plan.edits) container.Edit(at, value);
  container.Reseal();
  MemoryFolder folder;
  folder.AddParts(container.parts());
  if (plan.edits.empty()) CheckRoundTrip(&folder, plan);
  ReadWholeImage(folder.files(), MemoryFolder::kName);
  return 0;
}
