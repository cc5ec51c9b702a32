#include "image/ciso_reader.h"

#include <cstring>

#include "base/endian.h"
#include "base/file.h"
#include "base/own.h"
#include "base/reject.h"
#include "base/text.h"
#include "base/thread.h"
#include "image/crc32.h"
#include "image/decompressor.h"
#include "image/format.h"
#include "image/hasher.h"
#include "image/patch_map.h"
#include "image/source.h"

namespace ciso {
namespace {

constexpr int64_t kAnyPart = -1;
constexpr uint32_t kScratchSize = 0x40000;

bool HasMagic(const uint8_t* record, const char (&magic)[4]) {
  return std::memcmp(record, magic, 4) == 0;
}

// Magic and the CRC-32 of bytes 8 onward.
bool IsSealed(const uint8_t* record, uint32_t size, const char (&magic)[4]) {
  return HasMagic(record, magic) &&
         LoadLe32(record + kCrc) == Crc32(0, record + kCrcFrom, size - kCrcFrom);
}

// 0, 1305 or (for the caller to use) the format bytes' verdict on a header or trailer.
err_t CheckFormat(const uint8_t* record) {
  static constexpr uint8_t kIso[kContentTypeSize] = {'i', 's', 'o', 0, 0};
  if (record[kFormatA] == 0 || record[kFormatB] > 1) return kErrUnknownRevision;
  if (std::memcmp(record + kContentType, kIso, kContentTypeSize) != 0) return kErrUnknownRevision;
  return kOk;
}

struct Part {
  OwnedText16 path;  // empty while the part is missing
  file_handle_t handle = kNoHandle;
  uint64_t slice_start = 0;
  uint64_t slice_end = 0;
  uint64_t logical = 0;
};

struct CacheEntry {
  CacheEntry* next;
  err_t result;
  bool verified_only;  // the digest was checked but the bytes are not decompressed
  bool mismatch;       // the result is a digest mismatch
  uint64_t start;
  uint64_t end;
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

// A block's bytes are written (decoded, read or zero-filled) before they are served, so the
// buffers for them are not zeroed: clearing the cache's six and the stored bytes' one cost a
// small image more page faults than decoding it.
CacheEntry* NewCacheEntry(uint32_t block_size) {
  auto* entry = static_cast<CacheEntry*>(HeapAllocateUnzeroed(sizeof(CacheEntry) + block_size));
  if (entry) *entry = {nullptr, kOk, false, false, 0, 0};
  return entry;
}

Owned<uint8_t> NewBlockBuffer(uint32_t block_size) {
  return Owned<uint8_t>(static_cast<uint8_t*>(HeapAllocateUnzeroed(block_size)));
}

// Checks a block's stored bytes against its digest (with a hasher) and decompresses them into
// `out` (with a decompressor). Touches nothing but its arguments, so it runs on any thread; the
// reason of a failure is recorded where the entry's result surfaces, on the reader's thread.
err_t CheckAndDecode(CisoHasher* hasher, const uint8_t* digest, CisoDecompressor* decompressor,
                     const uint8_t* bytes, uint32_t size, uint8_t* out, uint32_t block_size,
                     bool* mismatch) {
  *mismatch = false;
  if (hasher) {
    uint8_t actual[kSha256DigestSize];
    hasher->Reset();
    hasher->Update(bytes, size);
    hasher->Finish(actual);
    *mismatch = std::memcmp(actual, digest, hasher->DigestLength()) != 0;
    if (*mismatch) return kErrBadFormat;
  }
  return decompressor ? decompressor->Decode(bytes, size, out, block_size, nullptr) : kOk;
}

// One block checked and decompressed on a worker thread while the reader's caller is busy with
// the blocks before it. The slot owns its own hasher, decompressor and buffers. Only the
// reader's thread changes `state`; the worker fills the entry and, as its last touch of the
// slot, triggers `done`.
struct AheadSlot {
  enum State : uint8_t { kIdle, kBusy, kReady };
  // The owner settles the slot first: no worker may be busy with it.
  ~AheadSlot() {
    HeapFree(entry);
    if (hasher) hasher->Destroy();
    if (decompressor) decompressor->Destroy();
  }

  CacheEntry* entry = nullptr;  // owned
  Owned<uint8_t> stored;        // compressed bytes; uncompressed ones go straight into the entry
  CisoHasher* hasher = nullptr;
  CisoDecompressor* decompressor = nullptr;
  // The job: set by the reader's thread before the slot goes to a worker.
  uint64_t block = 0;
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint32_t block_size = 0;
  const uint8_t* digest = nullptr;
  bool decode = false;
  State state = kIdle;
  kdsync_pin_c done;

  static void Run(void* argument) {
    auto* slot = static_cast<AheadSlot*>(argument);
    slot->entry->result = CheckAndDecode(
        slot->hasher, slot->digest, slot->decode ? slot->decompressor : nullptr, slot->bytes,
        slot->size, slot->entry->bytes(), slot->block_size, &slot->entry->mismatch);
    slot->done.trigger();  // from here on the reader may reuse or free the slot
  }
};

struct AheadSlots {
  AheadSlot slot[kDecodeAheadBlocks];
};

class CisoReader final : public IsoReader {
 public:
  // Takes `path`, a heap block.
  CisoReader(ImageSource* source, char16_t* path, const uint8_t* header)
      : source_(source), path_(path) {
    std::memcpy(image_id_, header + kImageId, kIdSize);
    std::memcpy(part_set_id_, header + kPartSetId, kIdSize);
  }
  ~CisoReader();

  void Destroy() override;
  err_t Open(IsoPasswordIterator*) override;
  uint32_t SectorSize() override { return kSectorSize; }
  uint64_t ImageSize() override { return image_size_; }
  uint32_t SessionCount() override { return 0; }
  uint64_t SessionStart(uint32_t) override { return 0; }
  err_t Read(uint64_t offset, void* destination, uint32_t count) override;
  void CloseFiles() override;

  void Describe(ContainerFacts* facts) const;
  bool DescribePart(uint32_t index, PartFacts* facts) const;

 private:
  // Locating parts.
  err_t LocateParts();
  err_t AddPart(const char16_t* path, file_handle_t handle, uint64_t region_start,
                uint64_t region_end, int64_t expected, int64_t* number);
  err_t GrowParts(uint32_t count);
  bool ReadTrailerAt(file_handle_t handle, uint64_t end, uint8_t* trailer);
  void SearchTrailer(file_handle_t handle, uint64_t slice_start, uint64_t region_end,
                     uint32_t number, uint64_t* slice_end);
  err_t ScanSiblings(bool plain_siblings);
  static err_t VisitSibling(void* context, const char16_t* path, bool is_directory);
  err_t AddSibling(const char16_t* path);
  err_t CheckPartsAddUp();
  err_t WalkChunks();
  bool Complete() const { return trailer_found_ && missing_ == 0; }
  uint32_t part_count() const { return uint32_t(parts_.size()); }

  // Tables.
  err_t ReadTables();
  err_t ReadTable(uint64_t* at, uint8_t* table, uint32_t size);
  err_t CheckGeometry(uint32_t last) const;
  err_t BuildOffsets();
  err_t ParsePatches();

  // Reading.
  err_t StreamRead(uint64_t position, void* buffer, uint32_t count);
  err_t ReadCached(uint64_t offset, uint8_t* destination, uint32_t count);
  err_t ReadDirect(uint64_t offset, uint8_t* destination, uint32_t count);
  CacheEntry* Lookup(uint64_t offset, bool want_bytes);
  err_t LoadBlock(CacheEntry* entry, uint64_t block, bool want_bytes);
  err_t BlockFailure(const CacheEntry* entry) const;
  void StoredRange(uint64_t block, uint64_t* from, uint32_t* size) const;
  err_t CreateDecompressor(CisoDecompressor** out) const;
  const uint8_t* DigestOf(uint64_t block) const { return hashes_.get() + block * digest_length_; }

  // Decode-ahead.
  bool NoteLoad(uint64_t block);
  bool MakeAheadSlots();
  void QueueAhead();
  bool IsDecoded(uint64_t block) const;
  AheadSlot* SlotFor(uint64_t block);
  AheadSlot* ReusableSlot();
  void StartAhead(AheadSlot* slot, uint64_t block);
  void Settle(AheadSlot* slot);
  bool TakeAhead(uint64_t block, CacheEntry** entry);
  void FreeAheadSlots();

  ImageSource* source_;
  OwnedText16 path_;
  uint8_t image_id_[kIdSize];
  uint8_t part_set_id_[kIdSize];

  OwnedArray<Part> parts_;
  uint32_t missing_ = 0;
  bool plain_siblings_ = true;

  uint8_t trailer_[kTrailerSize] = {};
  bool trailer_found_ = false;
  bool via_locator_ = false;
  uint32_t trailer_part_ = 0;
  uint64_t trailer_region_end_ = 0;
  uint64_t trailer_end_ = 0;
  uint64_t stream_length_ = 0;
  Owned<uint8_t> key_chunk_;

  uint64_t image_size_ = 0;
  uint32_t block_size_ = 0;
  uint64_t block_count_ = 0;
  uint32_t digest_length_ = 0;
  uint32_t hash_table_size_ = 0;
  uint32_t size_table_size_ = 0;
  uint32_t patch_table_size_ = 0;
  Owned<uint64_t> offsets_;
  Owned<uint8_t> hashes_;
  Owned<uint8_t> sizes_;
  Owned<uint8_t> patch_table_;
  uint32_t patch_count_ = 0;  // "ptch" records in the table
  PatchMap patches_;
  CisoHasher* hasher_ = nullptr;
  CisoDecompressor* decompressor_ = nullptr;
  Owned<uint8_t> stored_;
  Owned<uint8_t> scratch_;
  CacheEntry* cache_ = nullptr;  // most recently used first

  // Decode-ahead runs while real reads load block after block: the last block a real read
  // loaded, the newest block of the stream they move along, and the slots (made on first need).
  static constexpr uint64_t kNoBlock = UINT64_MAX;
  uint64_t last_loaded_ = kNoBlock;
  uint64_t stream_ = kNoBlock;
  Owned<AheadSlots> ahead_;
  bool ahead_unavailable_ = false;
  AheadFacts ahead_facts_ = {};

 public:
  void DescribeAhead(AheadFacts* facts) const { *facts = ahead_facts_; }
};

// ---- Locating parts ----

bool CisoReader::ReadTrailerAt(file_handle_t handle, uint64_t end, uint8_t* trailer) {
  if (end < kTrailerSize || ReadExactly(source_, handle, end - kTrailerSize, trailer, kTrailerSize))
    return false;
  return IsSealed(trailer, kTrailerSize, kTrailerMagic) &&
         std::memcmp(trailer + kImageId, image_id_, kIdSize) == 0 && CheckFormat(trailer) == kOk;
}

// The trailer ends the part that holds it, or a trailer locator at the part's end says where
// it ends.
void CisoReader::SearchTrailer(file_handle_t handle, uint64_t slice_start, uint64_t region_end,
                               uint32_t number, uint64_t* slice_end) {
  *slice_end = region_end;
  if (region_end - slice_start < kTrailerSize) return;
  uint8_t trailer[kTrailerSize];
  uint64_t trailer_end = region_end;
  bool found = ReadTrailerAt(handle, region_end, trailer);
  if (!found) {
    uint8_t locator[kLocatorSize];
    if (ReadExactly(source_, handle, region_end - kLocatorSize, locator, kLocatorSize) ||
        !IsSealed(locator, kLocatorSize, kChunkMagic) ||
        LoadLe32(locator + kChunkLength) != kLocatorSize || locator[kChunkType] != kChunkLocator ||
        std::memcmp(locator + kLocatorImageId, image_id_, kIdSize) != 0)
      return;
    uint64_t distance = LoadLe64(locator + kLocatorDistance);
    if (distance == 0 || distance > region_end - slice_start - kTrailerSize || !IsAligned(distance))
      return;
    trailer_end = region_end - distance;
    if (!ReadTrailerAt(handle, trailer_end, trailer)) return;
    via_locator_ = true;
  }
  std::memcpy(trailer_, trailer, kTrailerSize);
  trailer_found_ = true;
  trailer_part_ = number;
  trailer_region_end_ = region_end;
  trailer_end_ = trailer_end;
  *slice_end = trailer_end - kTrailerSize;
}

err_t CisoReader::GrowParts(uint32_t count) {
  if (count <= part_count()) return kOk;
  uint32_t added = count - part_count();
  if (err_t e = parts_.Resize(count)) return e;
  missing_ += added;
  return kOk;
}

err_t CisoReader::AddPart(const char16_t* path, file_handle_t handle, uint64_t region_start,
                          uint64_t region_end, int64_t expected, int64_t* number) {
  *number = kAnyPart;
  if (handle == kNoHandle && source_->Open(path, kOpenForExclusiveReading, &handle) != kOk)
    handle = kNoHandle;
  uint64_t size = 0;
  if (handle != kNoHandle && region_end == 0 && source_->Size(handle, &size) == kOk)
    region_end = size;
  uint8_t header[kPartHeaderSize];
  bool candidate = handle != kNoHandle && IsAligned(region_end) && region_end >= region_start &&
                   region_end - region_start >= kPartHeaderSize &&
                   ReadExactly(source_, handle, region_start, header, kPartHeaderSize) == kOk &&
                   IsSealed(header, kPartHeaderSize, kPartMagic) &&
                   std::memcmp(header + kImageId, image_id_, kIdSize) == 0 &&
                   std::memcmp(header + kPartSetId, part_set_id_, kIdSize) == 0;
  uint32_t n = candidate ? LoadLe32(header + kPartNumber) : 0;
  if (candidate && n >= kMaxParts) candidate = false;
  if (candidate && expected != kAnyPart) candidate = n == expected;
  if (candidate && expected == kAnyPart)
    candidate = (n >= part_count() || !parts_[n].path) && (!trailer_found_ || n < part_count());
  OwnedText16 copy = candidate ? CopyText16(path) : OwnedText16();
  err_t e = candidate && !copy ? kErrOutOfMemory : kOk;
  if (candidate && !e) e = GrowParts(n + 1);
  if (!candidate || e) {
    if (handle != kNoHandle) source_->Close(handle);
    return e;
  }
  uint64_t slice_start = region_start + kPartHeaderSize, slice_end = region_end;
  if (!trailer_found_ && n + 1 == part_count())
    SearchTrailer(handle, slice_start, region_end, n, &slice_end);
  Part& part = parts_[n];
  if (!part.path) --missing_;
  if (part.handle != kNoHandle) source_->Close(part.handle);
  part = {std::move(copy), handle, slice_start, slice_end, LoadLe64(header + kLogicalOffset)};
  *number = n;
  return kOk;
}

// A host region's bounds: start rounded up to the grain, end rounded down (0: the file's end).
void RegionOf(const HostRegion& host, uint64_t* start, uint64_t* end) {
  *start = AlignUp(host.data_start);
  *end = host.data_end ? AlignDown(host.data_end) : 0;
}

struct SiblingScan {
  CisoReader* reader;
  const char16_t* pattern;
};

err_t CisoReader::VisitSibling(void* context, const char16_t* path, bool is_directory) {
  auto* scan = static_cast<SiblingScan*>(context);
  if (is_directory || scan->reader->Complete()) return kOk;
  if (!AsciiGlobMatchNoCase(scan->pattern, -1, path_last_name(path), -1)) return kOk;
  return scan->reader->AddSibling(path);
}

err_t CisoReader::AddSibling(const char16_t* path) {
  file_handle_t handle;
  if (source_->Open(path, kOpenForReading, &handle) != kOk) return kOk;
  HostRegion host;
  int64_t number;
  if (HostScan(source_, handle, nullptr, 0, &host) != kOk) {
    if (!plain_siblings_) {
      source_->Close(handle);
      return kOk;
    }
    return AddPart(path, handle, 0, 0, kAnyPart, &number);
  }
  uint64_t start, end;
  RegionOf(host, &start, &end);
  if (err_t e = AddPart(path, handle, start, end, kAnyPart, &number)) return e;
  uint64_t after = AlignUp(host.after_signature);
  if (host.after_signature && after > start && number != kAnyPart)
    return AddPart(path, kNoHandle, after, 0, number, &number);
  return kOk;
}

// Sibling part files: every file beside this one named "NAME.*".
err_t CisoReader::ScanSiblings(bool plain_siblings) {
  plain_siblings_ = plain_siblings;
  size_t name_start = size_t(path_last_name(path_.get()) - path_.get());
  size_t name_length = Utf16Length(path_.get() + name_start);
  OwnedText16 directory = CopyText16(path_.get(), ptrdiff_t(name_start));
  OwnedText16 pattern = Owned<char16_t>::Array(name_length + 3);
  if (!directory || !pattern) return kErrOutOfMemory;
  std::memcpy(pattern.get(), path_.get() + name_start, name_length * sizeof(char16_t));
  pattern[name_length] = u'.', pattern[name_length + 1] = u'*';
  SiblingScan scan = {this, pattern.get()};
  return source_->ListDirectory(directory.get(), VisitSibling, &scan);
}

err_t CisoReader::LocateParts() {
  file_handle_t handle;
  HostRegion host = {0, 0, 0};
  int64_t number;
  bool is_host = false;
  if (source_->Open(path_.get(), kOpenForReading, &handle) == kOk) {
    is_host = HostScan(source_, handle, nullptr, 0, &host) == kOk;
  } else {
    handle = kNoHandle;
  }
  if (!is_host) {
    if (err_t e = AddPart(path_.get(), handle, 0, 0, kAnyPart, &number)) return e;
  } else {
    uint64_t start, end;
    RegionOf(host, &start, &end);
    if (err_t e = AddPart(path_.get(), handle, start, end, kAnyPart, &number)) return e;
  }
  bool scan = !Complete();
  if (is_host && host.data_end != 0) {
    // A signed program: everything it needs lies in this file.
    if (!trailer_found_)
      return Reject(kErrBadFormat, "signed program: no trailer in its image region");
    if (!Complete() && trailer_[kHashMethod] != kHashSha256)
      return Reject(kErrBadFormat, "signed program: parts beside it need SHA-256 block digests");
    if (!Complete() && host.after_signature != 0 && host.after_signature != host.data_start) {
      if (err_t e = AddPart(path_.get(), kNoHandle, AlignUp(host.after_signature), 0, 0, &number))
        return e;
    }
    scan = !Complete();
  }
  if (scan) {
    if (err_t e = ScanSiblings(!(is_host && host.data_end != 0))) return e;
  }
  if (!trailer_found_) return kErrHandleEof;
  if (err_t e = CheckPartsAddUp()) return e;
  return WalkChunks();
}

// The slices, in part order, must tile the data stream without gaps.
err_t CisoReader::CheckPartsAddUp() {
  uint64_t running = 0;
  for (uint32_t i = 0; i < part_count(); ++i) {
    const Part& p = parts_[i];
    if (!p.path) return Reject(kErrBadFormat, "part %u is missing", i);
    if (p.logical != running || p.slice_end < p.slice_start)
      return Reject(kErrBadFormat, "part %u: starts at stream offset %llu, not %llu", i, p.logical,
                    running);
    running += p.slice_end - p.slice_start;
  }
  stream_length_ = running;
  return kOk;
}

// Extension chunks between the trailer and the end of its part: each must be well formed;
// the first key-material chunk is kept.
err_t CisoReader::WalkChunks() {
  file_handle_t handle = parts_[trailer_part_].handle;
  uint64_t at = trailer_end_;
  while (trailer_region_end_ - at >= kChunkHeaderSize) {
    uint8_t header[kChunkHeaderSize];
    if (ReadExactly(source_, handle, at, header, kChunkHeaderSize))
      return Reject(kErrBadFormat, "chunk at %llu: header does not read", at);
    uint32_t length = LoadLe32(header + kChunkLength);
    if (!HasMagic(header, kChunkMagic))
      return Reject(kErrBadFormat, "chunk at %llu: no chunk magic", at);
    if (!IsAligned(length) || length <= kChunkHeaderSize || length > trailer_region_end_ - at)
      return Reject(kErrBadFormat, "chunk at %llu: length %u does not fit", at, length);
    if (header[kChunkType] == kChunkKeyMaterial && !key_chunk_) {
      key_chunk_ = Owned<uint8_t>::Array(length);
      if (!key_chunk_) return kErrOutOfMemory;
      if (ReadExactly(source_, handle, at, key_chunk_.get(), length))
        return Reject(kErrBadFormat, "chunk at %llu: key material does not read", at);
    }
    at += length;
  }
  return kOk;
}

// ---- Tables ----

err_t CisoReader::Open(IsoPasswordIterator*) {
  clear_rejection_reason();
  if (err_t e = LocateParts()) return e;
  return ReadTables();
}

err_t CisoReader::ReadTable(uint64_t* at, uint8_t* table, uint32_t size) {
  if (size == 0) return kOk;
  if (err_t e = StreamRead(*at, table, size)) return e;
  if (hasher_) hasher_->Update(table, size);
  *at += size;
  return kOk;
}

err_t CisoReader::ReadTables() {
  if (err_t e = CreateHasher(trailer_[kHashMethod], &hasher_))
    return e == kErrUnknownRevision ? Reject(e, "hash method %u is unknown", trailer_[kHashMethod])
                                    : e;
  digest_length_ = hasher_ ? hasher_->DigestLength() : 0;
  if (trailer_[kEncryptionMethod] != 0)
    return Reject(kErrUnknownRevision, "encryption method %u is not supported",
                  trailer_[kEncryptionMethod]);

  block_size_ = LoadLe32(trailer_ + kBlockSize);
  block_count_ = LoadLe64(trailer_ + kBlockCount);
  uint32_t last = LoadLe32(trailer_ + kLastBlockSize);
  patch_table_size_ = LoadLe32(trailer_ + kPatchTableSize);
  if (err_t e = CheckGeometry(last)) return e;
  image_size_ = (block_count_ - 1) * block_size_ + last;

  err_t e = CreateDecompressor(&decompressor_);
  if (e) return e;

  uint64_t size_table = decompressor_ ? AlignUp(block_count_ * 4) : 0;
  uint64_t hash_table = hasher_ ? AlignUp(block_count_ * digest_length_) : 0;
  if (size_table > 0xFFFFFFFFull || hash_table > 0xFFFFFFFFull)
    return Reject(kErrUnknownRevision, "tables of %llu blocks exceed 4 GiB", block_count_);
  size_table_size_ = static_cast<uint32_t>(size_table);
  hash_table_size_ = static_cast<uint32_t>(hash_table);
  // The offsets table holds block count + 1 entries of 8 bytes: from 2^29 blocks on, more
  // than a 32-bit build can address.
  size_t offsets_bytes;
  if (decompressor_ && !ArrayBytes(block_count_ + 1, sizeof(uint64_t), &offsets_bytes))
    return Reject(kErrUnknownRevision, "%llu blocks exceed the address space", block_count_);
  // The tables must lie inside the data stream; checked before anything is allocated, so a
  // forged count cannot ask for gigabytes.
  uint64_t tables = size_table + hash_table + patch_table_size_;
  if (tables > stream_length_)
    return Reject(kErrBadFormat, "tables of %llu bytes exceed the data stream of %llu", tables,
                  stream_length_);
  // Stored blocks are all a full block long: with the tables they make up the stream exactly.
  if (!decompressor_ && block_count_ * block_size_ + tables != stream_length_)
    return Reject(kErrBadFormat,
                  "stored blocks and tables do not make up the data stream of %llu bytes",
                  stream_length_);
  hashes_ = Owned<uint8_t>::Array(hash_table_size_ + uint64_t(1));
  sizes_ = Owned<uint8_t>::Array(size_table_size_ + uint64_t(1));
  patch_table_ = Owned<uint8_t>::Array(patch_table_size_ + uint64_t(1));
  if (!hashes_ || !sizes_ || !patch_table_) return kErrOutOfMemory;

  if (hasher_) hasher_->Reset();
  uint64_t at = stream_length_ - tables;
  if ((e = ReadTable(&at, hashes_.get(), hash_table_size_)) ||
      (e = ReadTable(&at, sizes_.get(), size_table_size_)) ||
      (e = ReadTable(&at, patch_table_.get(), patch_table_size_)))
    return e;
  if (hasher_) {
    uint8_t digest[kSha256DigestSize];
    hasher_->Update(trailer_ + kDigestedTrailerFrom, kDigestedTrailerSize);
    hasher_->Finish(digest);
    if (std::memcmp(digest, trailer_ + kTableDigest, digest_length_) != 0)
      return Reject(kErrBadFormat, "tables do not match their digest");
  }
  if (decompressor_ && (e = BuildOffsets())) return e;
  if ((e = ParsePatches())) return e;

  if (decompressor_ && !(stored_ = NewBlockBuffer(block_size_))) return kErrOutOfMemory;
  if (hasher_ || decompressor_) {
    for (uint32_t i = 0; i < kCacheEntries; ++i) {
      CacheEntry* entry = NewCacheEntry(block_size_);
      if (!entry) return kErrOutOfMemory;
      entry->next = cache_;
      cache_ = entry;
    }
  }
  return kOk;
}

// The trailer's block geometry.
err_t CisoReader::CheckGeometry(uint32_t last) const {
  if (!IsAligned(block_size_) || block_size_ < kMinBlockSize || block_size_ > kMaxBlockSize)
    return Reject(kErrBadFormat, "block size %u is out of range", block_size_);
  if (last == 0 || last > block_size_)
    return Reject(kErrBadFormat, "last block size %u does not fit the block size %u", last,
                  block_size_);
  if (block_count_ == 0) return Reject(kErrBadFormat, "no blocks");
  if (!IsAligned(patch_table_size_))
    return Reject(kErrBadFormat, "patch table size %u is not aligned", patch_table_size_);
  if (block_count_ >= 0xFFFFFFFFull)
    return Reject(kErrUnknownRevision, "%llu blocks are too many", block_count_);
  return kOk;
}

// By the trailer's compression method; none for a stored container.
err_t CisoReader::CreateDecompressor(CisoDecompressor** out) const {
  *out = nullptr;
  uint8_t method = trailer_[kCompressionMethod];
  return method == kStored    ? kOk
         : method == kDeflate ? CreateZipDecompressor(out)
         : method == kLzma
             ? CreateLzmaDecompressor(block_size_, trailer_[kLzmaProperties], out)
             : Reject(kErrUnknownRevision, "compression method %u is unknown", method);
}

// Cumulative data-stream offsets of the stored blocks; everything must add up to the stream.
err_t CisoReader::BuildOffsets() {
  offsets_ = Owned<uint64_t>::Array(block_count_ + 1);
  if (!offsets_) return kErrOutOfMemory;
  offsets_[0] = 0;
  for (uint64_t b = 0; b < block_count_; ++b) {
    uint32_t stored = LoadLe32(sizes_.get() + 4 * b);
    if (stored > block_size_)
      return Reject(kErrBadFormat, "block %llu: stored size %u exceeds the block size %u", b,
                    stored, block_size_);
    if (!IsAligned(stored))
      return Reject(kErrBadFormat, "block %llu: stored size %u is not aligned", b, stored);
    offsets_[b + 1] = offsets_[b] + stored;
  }
  uint64_t total = offsets_[block_count_] + hash_table_size_ + size_table_size_ + patch_table_size_;
  if (total != stream_length_)
    return Reject(kErrBadFormat,
                  "stored blocks and tables make %llu bytes, not the data stream's %llu", total,
                  stream_length_);
  return kOk;
}

// The "ptch" records, in table order, become the patch map.
err_t CisoReader::ParsePatches() {
  OwnedArray<PatchRange> records;
  err_t e = kOk;
  for (uint64_t at = 0; e == kOk && at + kPatchHeaderSize <= patch_table_size_;) {
    const uint8_t* record = patch_table_.get() + at;
    uint32_t length = LoadLe32(record + kPatchLength);
    if (length == 0) break;
    uint64_t offset = LoadLe64(record + kPatchOffset);
    uint64_t payload_end = at + kPatchHeaderSize + length;
    if (payload_end > patch_table_size_ || offset + length < offset) {
      e = Reject(kErrBadFormat, "patch record at %llu: %u bytes do not fit", at, length);
      break;
    }
    if (std::memcmp(record + kPatchTagAt, kPatchTag, 4) == 0)
      e = records.Append({offset, offset + length, record + kPatchHeaderSize});
    at = AlignUp(payload_end);
  }
  patch_count_ = uint32_t(records.size());
  return e ? e : patches_.Build(records.data(), patch_count_);
}

// ---- Reading ----

// Bytes of the data stream, which runs through the parts' slices in part order.
err_t CisoReader::StreamRead(uint64_t position, void* buffer, uint32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < part_count() && count > 0; ++i) {
    Part& part = parts_[i];
    if (part.logical > position) return kErrHandleEof;
    uint64_t slice = part.slice_end - part.slice_start;
    if (position - part.logical >= slice) continue;
    uint64_t available = part.logical + slice - position;
    uint32_t n = available < count ? static_cast<uint32_t>(available) : count;
    if (part.handle == kNoHandle) {
      if (err_t e = source_->Open(part.path.get(), kOpenForExclusiveReading, &part.handle)) {
        part.handle = kNoHandle;
        return e;
      }
    }
    if (err_t e =
            ReadExactly(source_, part.handle, part.slice_start + (position - part.logical), p, n))
      return e == kErrHandleEof ? kErrHandleEof : e;
    p += n, position += n, count -= n;
  }
  return count == 0 ? kOk : kErrHandleEof;
}

void CisoReader::StoredRange(uint64_t block, uint64_t* from, uint32_t* size) const {
  *from = offsets_ ? offsets_[block] : block * block_size_;
  *size = offsets_ ? static_cast<uint32_t>(offsets_[block + 1] - *from) : block_size_;
}

err_t CisoReader::LoadBlock(CacheEntry* entry, uint64_t block, bool want_bytes) {
  entry->start = block * block_size_;
  entry->end = entry->start + block_size_;
  entry->verified_only = false;
  uint64_t from;
  uint32_t stored;
  StoredRange(block, &from, &stored);
  if (stored == 0) {
    std::memset(entry->bytes(), 0, block_size_);
    return kOk;
  }
  bool compressed = decompressor_ && stored != block_size_;
  uint8_t* bytes = compressed ? stored_.get() : entry->bytes();
  if (err_t e = StreamRead(from, bytes, stored)) return e;
  bool decode = compressed && (want_bytes || !hasher_);
  err_t e =
      CheckAndDecode(hasher_, hasher_ ? DigestOf(block) : nullptr, decode ? decompressor_ : nullptr,
                     bytes, stored, entry->bytes(), block_size_, &entry->mismatch);
  entry->verified_only = e == kOk && compressed && !decode;
  return e;
}

// The entry holding `offset`, loaded if need be, moved to the front.
CacheEntry* CisoReader::Lookup(uint64_t offset, bool want_bytes) {
  CacheEntry** link = &cache_;
  CacheEntry** last = &cache_;
  for (; *link; link = &(*link)->next) {
    if ((*link)->start <= offset && offset < (*link)->end) break;
    last = link;
  }
  bool hit = *link != nullptr;
  if (!hit) link = last;  // the least recently used entry
  CacheEntry* entry = *link;
  *link = entry->next;
  uint64_t block = offset / block_size_;
  bool load = !hit || (want_bytes && entry->verified_only);
  // Only real reads drive decode-ahead; verify reads never wait for it or start it.
  bool forward = load && want_bytes && NoteLoad(block);
  if (load && !(want_bytes && TakeAhead(block, &entry)))
    entry->result = LoadBlock(entry, block, want_bytes);
  entry->next = cache_;
  cache_ = entry;
  if (forward) QueueAhead();  // the slot just taken is free again
  return entry;
}

// ---- Decode-ahead ----

// A real read has to load `block`. When it follows the stream of blocks being read, or the
// block loaded just before it, the next blocks go to the workers before this one is decoded
// here. Any other block is a jump or a side trip (a directory read between two files); the
// stream stays where it was until two blocks in a row say otherwise.
bool CisoReader::NoteLoad(uint64_t block) {
  bool forward = (stream_ != kNoBlock && block == stream_ + 1) ||
                 (last_loaded_ != kNoBlock && block == last_loaded_ + 1);
  last_loaded_ = block;
  if (!forward) return false;
  stream_ = block;
  QueueAhead();
  return true;
}

bool CisoReader::MakeAheadSlots() {
  if (ahead_) return true;
  if (ahead_unavailable_) return false;
  ahead_.reset(HeapNew<AheadSlots>());
  bool made = bool(ahead_);
  for (uint32_t i = 0; made && i < kDecodeAheadBlocks; ++i) {
    AheadSlot& slot = ahead_->slot[i];
    slot.entry = NewCacheEntry(block_size_);
    if (decompressor_) slot.stored = NewBlockBuffer(block_size_);
    made = slot.entry && (slot.stored || !decompressor_) &&
           CreateHasher(trailer_[kHashMethod], &slot.hasher) == kOk &&
           CreateDecompressor(&slot.decompressor) == kOk;
  }
  if (!made) {  // decode-ahead is an extra: without the memory, reads decode here as before
    FreeAheadSlots();
    ahead_unavailable_ = true;
  }
  return made;
}

bool CisoReader::IsDecoded(uint64_t block) const {
  for (CacheEntry* entry = cache_; entry; entry = entry->next)
    if (entry->start == block * block_size_ && entry->end != entry->start && !entry->verified_only)
      return true;
  return false;
}

AheadSlot* CisoReader::SlotFor(uint64_t block) {
  for (uint32_t i = 0; i < kDecodeAheadBlocks; ++i)
    if (ahead_->slot[i].state != AheadSlot::kIdle && ahead_->slot[i].block == block)
      return &ahead_->slot[i];
  return nullptr;
}

// An idle slot, or one that is done with a block outside [stream, stream + depth].
AheadSlot* CisoReader::ReusableSlot() {
  for (uint32_t i = 0; i < kDecodeAheadBlocks; ++i) {
    AheadSlot& slot = ahead_->slot[i];
    bool wanted = slot.block >= stream_ && slot.block - stream_ <= kDecodeAheadBlocks;
    if (slot.state == AheadSlot::kIdle) return &slot;
    if (wanted) continue;
    if (slot.state == AheadSlot::kBusy && !slot.done.triggered()) continue;
    Settle(&slot);
    return &slot;
  }
  return nullptr;
}

// Hands the blocks after the stream's newest to the workers, as far as slots are free.
void CisoReader::QueueAhead() {
  if (!MakeAheadSlots()) return;
  for (uint64_t b = stream_ + 1; b <= stream_ + kDecodeAheadBlocks && b < block_count_; ++b) {
    if (SlotFor(b) || IsDecoded(b)) continue;
    AheadSlot* slot = ReusableSlot();
    if (!slot) return;
    StartAhead(slot, b);
  }
}

// Reads the block's stored bytes here (the parts and their handles stay with this thread) and
// leaves the digest check and the decompression to a worker. A block that needs neither, or
// whose bytes cannot be read now, is left to the read that wants it, which reports any error.
void CisoReader::StartAhead(AheadSlot* slot, uint64_t block) {
  slot->state = AheadSlot::kIdle;
  uint64_t from;
  uint32_t stored;
  StoredRange(block, &from, &stored);
  bool compressed = decompressor_ && stored != block_size_;
  if (stored == 0 || (!compressed && !hasher_)) return;
  uint8_t* bytes = compressed ? slot->stored.get() : slot->entry->bytes();
  if (StreamRead(from, bytes, stored) != kOk) return;
  slot->entry->start = block * block_size_;
  slot->entry->end = slot->entry->start + block_size_;
  slot->entry->verified_only = false;
  slot->block = block;
  slot->bytes = bytes;
  slot->size = stored;
  slot->block_size = block_size_;
  slot->digest = hasher_ ? DigestOf(block) : nullptr;
  slot->decode = compressed;
  slot->done.fire();  // with nothing attached, firing just clears the pin for this run
  slot->state = AheadSlot::kBusy;
  if (run_on_worker(AheadSlot::Run, slot) != kOk) {
    slot->state = AheadSlot::kIdle;
    return;
  }
  ++ahead_facts_.started;
}

// Waits for a busy slot's worker to be done with it.
void CisoReader::Settle(AheadSlot* slot) {
  if (slot->state != AheadSlot::kBusy) return;
  pin_wait(&slot->done, kWaitForever);
  slot->state = AheadSlot::kReady;
}

// When a slot holds `block`, its entry (with the result of its load) takes the place of
// `*entry`, which becomes the slot's spare.
bool CisoReader::TakeAhead(uint64_t block, CacheEntry** entry) {
  if (!ahead_) return false;
  AheadSlot* slot = SlotFor(block);
  if (!slot) return false;
  Settle(slot);
  CacheEntry* taken = slot->entry;
  slot->entry = *entry;
  slot->state = AheadSlot::kIdle;
  *entry = taken;
  ++ahead_facts_.taken;
  return true;
}

void CisoReader::FreeAheadSlots() {
  if (!ahead_) return;
  for (AheadSlot& slot : ahead_->slot) Settle(&slot);  // no worker outlives the reader's buffers
  ahead_.reset();
}

err_t CisoReader::ReadCached(uint64_t offset, uint8_t* destination, uint32_t count) {
  while (count > 0) {
    if (offset >= image_size_) {
      if (destination) std::memset(destination, 0, count);
      return kOk;
    }
    CacheEntry* entry = Lookup(offset, destination != nullptr);
    if (entry->result) return BlockFailure(entry);
    uint64_t n = count;
    if (entry->end - offset < n) n = entry->end - offset;
    if (image_size_ - offset < n) n = image_size_ - offset;
    if (destination) {
      std::memcpy(destination, entry->bytes() + (offset - entry->start), n);
      destination += n;
    }
    offset += n, count -= static_cast<uint32_t>(n);
  }
  return kOk;
}

// A stored, unhashed container: image offsets are data-stream offsets.
err_t CisoReader::ReadDirect(uint64_t offset, uint8_t* destination, uint32_t count) {
  uint32_t readable = offset >= image_size_          ? 0
                      : image_size_ - offset < count ? static_cast<uint32_t>(image_size_ - offset)
                                                     : count;
  if (destination) {
    if (err_t e = StreamRead(offset, destination, readable)) return e;
    std::memset(destination + readable, 0, count - readable);
    return kOk;
  }
  if (!scratch_ && !(scratch_ = Owned<uint8_t>::Array(kScratchSize))) return kErrOutOfMemory;
  while (readable > 0) {
    uint32_t n = readable < kScratchSize ? readable : kScratchSize;
    if (err_t e = StreamRead(offset, scratch_.get(), n)) return e;
    offset += n, readable -= n;
  }
  return kOk;
}

// A failed block's result, with its reason when the block's bytes were refused.
err_t CisoReader::BlockFailure(const CacheEntry* entry) const {
  uint64_t block = entry->start / block_size_;
  if (entry->mismatch) return Reject(entry->result, "block %llu: digest mismatch", block);
  if (entry->result != kErrBadFormat && entry->result != kErrUnknownRevision) return entry->result;
  return Reject(entry->result, "block %llu: stored bytes do not decompress", block);
}

err_t CisoReader::Read(uint64_t offset, void* destination, uint32_t count) {
  auto* dst = static_cast<uint8_t*>(destination);
  err_t e =
      hasher_ || decompressor_ ? ReadCached(offset, dst, count) : ReadDirect(offset, dst, count);
  if (e == kOk && dst) patches_.Apply(offset, dst, count);
  return e;
}

void CisoReader::CloseFiles() {
  for (uint32_t i = 0; i < part_count(); ++i) {
    if (parts_[i].handle != kNoHandle) source_->Close(parts_[i].handle);
    parts_[i].handle = kNoHandle;
  }
}

// The owned buffers go with their members; the cache list, the handles and the method
// objects are given back here.
CisoReader::~CisoReader() {
  FreeAheadSlots();
  CloseFiles();
  while (cache_) {
    CacheEntry* next = cache_->next;
    HeapFree(cache_);
    cache_ = next;
  }
  if (hasher_) hasher_->Destroy();
  if (decompressor_) decompressor_->Destroy();
}

void CisoReader::Destroy() { HeapDelete(this); }

void CisoReader::Describe(ContainerFacts* f) const {
  *f = {};
  f->image_size = image_size_;
  f->block_count = block_count_;
  f->block_size = block_size_;
  f->last_block_size = LoadLe32(trailer_ + kLastBlockSize);
  f->hash_method = trailer_[kHashMethod];
  f->compression_method = trailer_[kCompressionMethod];
  f->lzma_properties = trailer_[kLzmaProperties];
  f->digest_length = digest_length_;
  f->stream_length = stream_length_;
  f->stored_bytes = offsets_ ? offsets_[block_count_] : block_count_ * block_size_;
  for (uint64_t b = 0; offsets_ && b < block_count_; ++b) {
    uint64_t stored = offsets_[b + 1] - offsets_[b];
    f->zero_blocks += stored == 0;
    f->raw_blocks += stored == block_size_;
  }
  f->patch_count = patch_count_;
  f->part_count = part_count();
  f->has_locator = via_locator_;
  std::memcpy(f->image_id, image_id_, kIdSize);
}

bool CisoReader::DescribePart(uint32_t index, PartFacts* f) const {
  if (index >= part_count()) return false;
  const Part& p = parts_[index];
  *f = {p.path.get(), p.slice_start, p.slice_end, p.logical};
  return true;
}

}  // namespace

err_t CreateCisoReader(ImageSource* source, IsoReader** out, const char16_t* path,
                       file_handle_t handle, const uint8_t* probe, uint32_t probe_length) {
  *out = nullptr;
  HostRegion host;
  uint64_t at =
      HostScan(source, handle, probe, probe_length, &host) == kOk ? AlignUp(host.data_start) : 0;
  uint8_t header[kPartHeaderSize];
  if (probe_length >= kPartHeaderSize && at <= probe_length - kPartHeaderSize) {
    std::memcpy(header, probe + at, kPartHeaderSize);
  } else if (at != 0) {
    if (err_t e = ReadExactly(source, handle, at, header, kPartHeaderSize)) return e;
  } else {
    return kErrHandleEof;
  }
  if (!IsSealed(header, kPartHeaderSize, kPartMagic)) return kErrBadFormat;
  if (err_t e = CheckFormat(header)) return e;
  if (at == 0 && LoadLe32(header + kPartNumber) != 0) return kErrHandleEof;
  char16_t* full = source->FullPath(path);
  if (!full) return kErrInvalidParameter;
  auto* reader = HeapNew<CisoReader>(source, full, header);
  if (!reader) {
    HeapFree(full);
    return kErrOutOfMemory;
  }
  *out = reader;
  return kOk;
}

void DescribeContainer(IsoReader* reader, ContainerFacts* facts) {
  static_cast<CisoReader*>(reader)->Describe(facts);
}

bool DescribePart(IsoReader* reader, uint32_t index, PartFacts* facts) {
  return static_cast<CisoReader*>(reader)->DescribePart(index, facts);
}

void DescribeDecodeAhead(IsoReader* reader, AheadFacts* facts) {
  static_cast<CisoReader*>(reader)->DescribeAhead(facts);
}

}  // namespace ciso
