// Loading the virtual allocation table: find its File Entry among the last recorded sectors,
// gather its data through its allocation descriptors (all of it recorded in the physical
// partition), then check every entry against that partition.
#include "isofs/udf_vat.h"

#include <cstring>

#include "base/reject.h"
#include "isofs/media_impl.h"
#include "isofs/udf_descriptor.h"

namespace IsoFs {

namespace {

using namespace Udf;

enum : uint8_t { kFileTypeUnspecified = 0, kFileTypeVirtualTable = 248 };
// Header of a table of file type 248; the entries start at its length.
constexpr uint32_t kHeaderLength = 0;      // 16-bit
constexpr uint32_t kHeaderIdentifier = 4;  // dstring, 128 bytes
constexpr uint32_t kHeaderMinLength = 152;
// Trailer of the older table: an entity identifier, then the previous table's location.
constexpr uint32_t kTrailerLength = 36;
constexpr uint32_t kTrailerIdentifier = 1;
constexpr char kTrailerName[] = "*UDF Virtual Alloc Tbl";

// Bounds of the search and of the table.
constexpr uint32_t kMaxUnrecordedTail = 16384;  // sectors of zeros passed over at the end
constexpr uint32_t kMaxCandidates = 8;          // recorded sectors looked at from the end
constexpr uint32_t kMaxVirtualBlocks = 1u << 22;
constexpr uint64_t kMaxTableBytes = kHeaderMinLength + 0xFFFFull + 4ull * kMaxVirtualBlocks;

// What a File Entry of file type 0 that is no table loads as: the search goes on.
constexpr err_t kNotATable = 0xFFFFFFFF;

bool AllZero(const uint8_t* sector) {
  for (uint32_t i = 0; i < kSectorSize; ++i)
    if (sector[i]) return false;
  return true;
}

// Gathers a table's data from its File Entry into one heap block.
class TableData {
 public:
  TableData(Media* media, const PhysicalPartition& p, uint8_t* extent_sector)
      : media_(media), partition_(p), extent_sector_(extent_sector) {}

  err_t Gather(const uint8_t* entry);
  const uint8_t* data() const { return data_.get(); }
  uint32_t length() const { return length_; }

 private:
  err_t TakeDescriptors(const uint8_t* area, uint32_t n, uint32_t ad_type, bool* continues);
  err_t TakeExtent(uint32_t block, uint32_t length);

  Media* media_;
  PhysicalPartition partition_;
  uint8_t* extent_sector_;  // a sector buffer for allocation extents
  Owned<uint8_t> data_;
  uint32_t length_ = 0;
  uint32_t filled_ = 0;
  uint32_t next_block_ = 0;  // where the list continues, when it does
};

err_t TableData::Gather(const uint8_t* entry) {
  uint64_t length = LoadLe64(entry + kEntryInformationLength);
  if (length > kMaxTableBytes)
    return Reject(kErrBadFormat, "VAT: length %llu exceeds the bound", length);
  const EntryLayout& layout = LayoutOf(entry);
  uint32_t ad_type = LoadLe16(entry + kIcbFlags) & 7;
  uint32_t ea_length = LoadLe32(entry + layout.ea_length);
  uint32_t ad_length = LoadLe32(entry + layout.ad_length);
  if (ea_length > kSectorSize - layout.area || ad_length > kSectorSize - layout.area - ea_length)
    return Reject(kErrBadFormat,
                  "VAT: attributes of %u and descriptors of %u bytes overrun its File Entry",
                  ea_length, ad_length);
  length_ = uint32_t(length);
  data_ = Owned<uint8_t>::Array(length_);
  if (!data_) return kErrOutOfMemory;
  const uint8_t* area = entry + layout.area + ea_length;
  if (ad_type == kEmbedded) {
    if (length_ > ad_length)
      return Reject(kErrBadFormat, "VAT: %u bytes exceed the %u embedded in its File Entry",
                    length_, ad_length);
    std::memcpy(data_.get(), area, length_);
    return kOk;
  }
  bool continues = false;
  err_t e = TakeDescriptors(area, ad_length, ad_type, &continues);
  for (uint32_t hops = 0; e == kOk && continues; ++hops) {
    if (hops == kMaxChainHops) return kErrStackOverflow;
    uint64_t sector = uint64_t(partition_.start) + next_block_;
    if (e = media_->ReadImage(sector * kSectorSize, extent_sector_, kSectorSize); e != kOk)
      return e;
    if (TagOf(extent_sector_) != kTagAllocationExtent)
      return Reject(kErrBadFormat, "VAT: sector %llu holds no allocation extent descriptor",
                    sector);
    uint32_t n = LoadLe32(extent_sector_ + kAedLength);
    if (n > kSectorSize - kAedDescriptors) n = kSectorSize - kAedDescriptors;
    continues = false;
    e = TakeDescriptors(extent_sector_ + kAedDescriptors, n, ad_type, &continues);
  }
  if (e == kOk && filled_ < length_)
    e = Reject(kErrBadFormat, "VAT: extents hold %u of its %u bytes", filled_, length_);
  return e;
}

// Reads the recorded extents of a list into the data; a continuation is left in next_block_.
err_t TableData::TakeDescriptors(const uint8_t* area, uint32_t n, uint32_t ad_type,
                                 bool* continues) {
  if (ad_type > kExtendedAd)
    return Reject(kErrBadFormat, "VAT: allocation descriptor type %u is unknown", ad_type);
  uint32_t size = kAdSizes[ad_type];
  for (uint32_t at = 0; at + size <= n; at += size) {
    AllocationDescriptor d = ReadAllocationDescriptor(area + at, ad_type, partition_.reference);
    uint32_t length = d.length, kind = d.kind, block = d.block, reference = d.partition;
    if (length == 0) break;
    // The table lies in its physical partition; naming another one (the virtual partition
    // itself above all) would make it map through itself.
    if (reference != partition_.reference)
      return Reject(kErrBadFormat, "VAT: extent in partition %u, not its own %u", reference,
                    partition_.reference);
    if (block >= partition_.length)
      return Reject(kErrBadFormat, "VAT: extent at block %u beyond the partition's %u", block,
                    partition_.length);
    if (kind == kExtentContinues) {
      next_block_ = block;
      *continues = true;
      return kOk;
    }
    if (kind != kExtentRecorded)
      return Reject(kErrBadFormat, "VAT: extent at block %u is not recorded", block);
    if (err_t e = TakeExtent(block, length)) return e;
  }
  return kOk;
}

err_t TableData::TakeExtent(uint32_t block, uint32_t length) {
  uint64_t sectors = (uint64_t(length) + kSectorSize - 1) / kSectorSize;
  uint64_t first = uint64_t(partition_.start) + block;
  if (block + sectors > partition_.length || first + sectors > media_->sector_count())
    return Reject(kErrBadFormat, "VAT: extent of %llu sectors at block %u runs past the partition",
                  sectors, block);
  uint32_t take = length < length_ - filled_ ? length : length_ - filled_;
  if (take == 0) return kOk;
  if (err_t e = media_->ReadImage(first * kSectorSize, data_.get() + filled_, take)) return e;
  filled_ += take;
  return kOk;
}

// The entries of a gathered table, checked against the partition they point into.
err_t TakeEntries(const TableData& d, uint8_t file_type, const PhysicalPartition& p,
                  uint32_t sector_count, VirtualTable* table) {
  const uint8_t* data = d.data();
  uint32_t first, end = d.length();
  if (file_type == kFileTypeVirtualTable) {
    if (end < kHeaderMinLength) return Reject(kErrBadFormat, "VAT: %u bytes hold no header", end);
    first = LoadLe16(data + kHeaderLength);
    if (first < kHeaderMinLength || first > end)
      return Reject(kErrBadFormat, "VAT: header length %u does not fit its %u bytes", first, end);
    std::memcpy(table->volume_identifier, data + kHeaderIdentifier,
                sizeof table->volume_identifier);
  } else {
    if (end < kTrailerLength) return kNotATable;
    end -= kTrailerLength;
    if (std::memcmp(data + end + kTrailerIdentifier, kTrailerName, sizeof kTrailerName - 1) != 0)
      return kNotATable;
    first = 0;
  }
  uint32_t count = (end - first) / 4;
  if (count > p.length || count > kMaxVirtualBlocks)
    return Reject(kErrBadFormat, "VAT: %u entries exceed the partition's %u blocks", count,
                  p.length);
  Owned<uint32_t> blocks = Owned<uint32_t>::Array(count);
  if (!blocks) return kErrOutOfMemory;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t b = LoadLe32(data + first + 4 * i);
    if (b != kVirtualBlockUnused && (b >= p.length || uint64_t(p.start) + b >= sector_count))
      return Reject(kErrBadFormat, "VAT: entry %u maps to block %u outside the partition", i, b);
    blocks[i] = b;
  }
  table->blocks = blocks.release();
  table->count = count;
  table->loaded = true;
  return kOk;
}

// Loads the table whose File Entry is in `entry`; kNotATable for a file type 0 entry that
// turns out not to be one.
err_t LoadFrom(Media* media, const PhysicalPartition& p, const uint8_t* entry,
               uint8_t* extent_sector, VirtualTable* table) {
  uint8_t file_type = entry[kIcbFileType];
  TableData data(media, p, extent_sector);
  err_t e = data.Gather(entry);
  if (e == kOk) e = TakeEntries(data, file_type, p, media->sector_count(), table);
  // An entry of an unspecified file type only counts when it carries the older trailer.
  if (e != kOk && file_type == kFileTypeUnspecified && e != kErrOutOfMemory) e = kNotATable;
  return e;
}

}  // namespace

err_t LoadVirtualTable(Media* media, const PhysicalPartition& p, VirtualTable* table) {
  Owned<uint8_t> buffer = Owned<uint8_t>::Array(2 * kSectorSize);
  uint8_t* sectors = buffer.get();
  if (!sectors) return kErrOutOfMemory;
  err_t result = kNotATable;
  uint32_t sector = media->sector_count(), zeros = 0, looked = 0;
  while (sector > p.start && looked < kMaxCandidates) {
    --sector;
    if (err_t e = media->ReadImage(uint64_t(sector) * kSectorSize, sectors, kSectorSize)) {
      result = e;
      break;
    }
    if (AllZero(sectors)) {
      if (++zeros > kMaxUnrecordedTail) break;
      continue;
    }
    ++looked;
    uint16_t tag = TagOf(sectors);
    uint8_t file_type = sectors[kIcbFileType];
    if ((tag != kTagFileEntry && tag != kTagExtendedFileEntry) ||
        (file_type != kFileTypeVirtualTable && file_type != kFileTypeUnspecified))
      continue;
    result = LoadFrom(media, p, sectors, sectors + kSectorSize, table);
    if (result != kNotATable) break;
  }
  return result == kNotATable ? Reject(kErrBadFormat, "VAT: none among the last recorded sectors")
                              : result;
}

void FreeVirtualTable(VirtualTable* table) {
  HeapFree(table->blocks);
  *table = VirtualTable{};
}

}  // namespace IsoFs
