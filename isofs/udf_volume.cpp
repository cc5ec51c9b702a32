// IsoFs::UdfVolume: a UDF file system (ECMA-167 with the OSTA profile). Directories come from
// their file identifier descriptors; each entry's type, attributes, times and data runs from its
// File Entry, read later through the pending queue so that reads go forward through the image.
// All numbers are little-endian; descriptor tags are checked by their checksum. Blocks of a
// virtual partition (write-once media) map through the virtual allocation table (udf_vat.h),
// those of packets moved on rewritable media through the sparing table (udf_sparing.h), those
// of a metadata partition through the runs of its metadata file (or of the mirror file).
#include <cstring>

#include "base/endian.h"
#include "base/format.h"
#include "base/reject.h"
#include "base/text.h"
#include "isofs/disc_time.h"
#include "isofs/media_impl.h"
#include "isofs/udf_descriptor.h"
#include "isofs/udf_sparing.h"
#include "isofs/udf_vat.h"
#include "isofs/volumes.h"

namespace IsoFs {

namespace {

using namespace Udf;

// Anchor volume descriptor pointer: the main volume descriptor sequence extent.
constexpr uint32_t kAnchorSequenceLength = 16;
constexpr uint32_t kAnchorSequenceLocation = 20;
constexpr uint32_t kAnchorSector = 256;
// Volume descriptor pointer: the next extent of the sequence.
constexpr uint32_t kPointerLength = 20;
constexpr uint32_t kPointerLocation = 24;
// Primary volume descriptor.
constexpr uint32_t kPvdVolumeIdentifier = 24;  // dstring, 32 bytes
constexpr uint32_t kPvdRecordingTime = 376;
// Partition descriptor.
constexpr uint32_t kPdNumber = 22;
constexpr uint32_t kPdStart = 188;
constexpr uint32_t kPdLength = 192;
// Logical volume descriptor.
constexpr uint32_t kLvdIdentifier = 84;  // dstring, 128 bytes
constexpr uint32_t kLvdBlockSize = 212;
constexpr uint32_t kLvdFileSetBlock = 252;
constexpr uint32_t kLvdFileSetPartition = 256;
constexpr uint32_t kLvdMapTableLength = 264;
constexpr uint32_t kLvdMapCount = 268;
constexpr uint32_t kLvdMaps = 440;  // the map table, which must end within the sector
// Partition maps (type 1 physical; type 2 identified by its regid).
constexpr uint32_t kMap1Partition = 4;
constexpr uint32_t kMap2Identifier = 5;
constexpr uint32_t kMap2Partition = 38;
constexpr uint32_t kMap2MetadataFile = 40;
constexpr uint32_t kMap2MetadataMirror = 44;
constexpr uint32_t kMap2MinLength = 64;
constexpr uint32_t kMap2Bytes = 64;  // a sparable map, kept for its sparing table
constexpr char kVirtualPartition[23] = "*UDF Virtual Partition";  // with its zero byte
constexpr char kMetadataPartition[24] = "*UDF Metadata Partition";
constexpr char kSparablePartition[24] = "*UDF Sparable Partition";
// File set descriptor.
constexpr uint32_t kFsdRecordingTime = 16;
constexpr uint32_t kFsdLogicalVolumeIdentifier = 112;  // dstring, 128 bytes
constexpr uint32_t kFsdFileSetIdentifier = 304;        // dstring, 32 bytes
constexpr uint32_t kFsdRootIcb = 400;                  // long_ad
// File identifier descriptor.
constexpr uint32_t kFidFixedPart = 38;
constexpr uint32_t kFidCharacteristics = 18;
constexpr uint32_t kFidIdentifierLength = 19;
constexpr uint32_t kFidIcb = 20;  // long_ad
constexpr uint32_t kFidImplementationUseLength = 36;
constexpr uint8_t kFidHidden = 0x01;
constexpr uint8_t kFidDirectory = 0x02;
constexpr uint8_t kFidDeleted = 0x04;
constexpr uint8_t kFidParent = 0x08;
// Indirect entry: the ICB it leads to.
constexpr uint32_t kIndirectIcb = 36;
constexpr uint16_t kIcbFlagArchive = 0x20;
constexpr uint16_t kIcbFlagSystem = 0x400;
// Extended attributes (ECMA-167 4/14.10): the header descriptor, each attribute's type, subtype
// and length, and the file times attribute (4/14.10.5): data length, existence bits, times.
constexpr uint32_t kEaHeaderBytes = 24;
constexpr uint32_t kEaType = 0;
constexpr uint32_t kEaSubtype = 4;
constexpr uint32_t kEaLength = 8;
constexpr uint32_t kEaMinLength = 12;
constexpr uint32_t kEaFileTimesType = 5;
constexpr uint32_t kEaFileTimesMinLength = 32;
constexpr uint32_t kEaFileTimesDataLength = 12;
constexpr uint32_t kEaFileTimesExistence = 16;
constexpr uint32_t kEaFileTimes = 20;
constexpr uint32_t kEaFileTimesCreationBit = 1;

enum : uint8_t { kFileTypeDirectory = 4, kFileTypeSymlink = 12 };

// File Entry permissions (ECMA-167 4/14.9.5): five bits a class (execute, write, read, change
// attributes, delete), others from bit 0, group from bit 5, owner from bit 10.
constexpr uint32_t kFePermissions = 44;
constexpr uint32_t kPermissionsOthers = 0, kPermissionsGroup = 5, kPermissionsOwner = 10;
// Path components of a symbolic link (ECMA-167 4/14.16): type, identifier length, version,
// identifier.
constexpr uint32_t kComponentFixedPart = 4;
enum : uint8_t {
  kComponentAgreedRoot = 1,
  kComponentRoot = 2,
  kComponentParent = 3,
  kComponentCurrent = 4,
  kComponentName = 5,
};
constexpr uint32_t kMaxLinkBytes = 4096;  // a link's components and its target stay below this

constexpr uint32_t kMaxPartitions = 10;
constexpr uint32_t kUnmapped = 0xFFFFFFFF;  // a virtual block without a place on the disc
constexpr uint32_t kMaxPartitionDescriptors = 20;
constexpr uint32_t kMaxLabel = 49;
constexpr uint32_t kNameBytes = 1000;
// Bounds on chains of on-disc structures (a loop in them must end).
constexpr uint32_t kMaxSequenceSectors = 4096;  // volume descriptor sequence, pointers followed
constexpr uint32_t kMaxIcbSectors = 64;         // sectors of one ICB read in a pass

uint32_t SectorsFor(uint64_t bytes) { return uint32_t((bytes + kSectorSize - 1) / kSectorSize); }

// A dstring of n bytes as a label of at most 49 characters without trailing spaces; a used
// length of 0 keeps the label as it was. The used length never reaches past the field.
void TakeDstring(const uint8_t* field, uint32_t n, char16_t* label) {
  uint32_t used = field[n - 1];
  if (used == 0) return;
  if (used > n - 1) used = n - 1;
  size_t k = 0;
  if (field[0] == 8) {
    for (uint32_t i = 1; i < used && k < kMaxLabel; ++i) label[k++] = field[i];
  } else if (field[0] == 16) {
    for (uint32_t i = 0; i < (used - 1) / 2 && k < kMaxLabel; ++i)
      label[k++] = LoadBe16(field + 1 + 2 * i);
  } else {
    k = CodePageToUtf16(0, label, kMaxLabel + 1, reinterpret_cast<const char*>(field), used);
    if (k > kMaxLabel) k = Utf16Length(label);
  }
  while (k > 0 && label[k - 1] == u' ') --k;
  label[k] = 0;
}

// An OSTA CS0 identifier as UTF-8: compression 8 gives one code point per byte, 16 big-endian
// units; any other compression byte leaves the bytes (that one included) as they are.
size_t DecodeIdentifier(const uint8_t* id, uint32_t n, char* out, size_t cap) {
  size_t pos = 0;
  if (id[0] == 8) {
    for (uint32_t i = 1; i < n; ++i) Utf8Encode(id[i], out, cap - 1, &pos);
  } else if (id[0] == 16) {
    char16_t units[128];
    uint32_t count = (n - 1) / 2;
    for (uint32_t i = 0; i < count; ++i) units[i] = LoadBe16(id + 1 + 2 * i);
    pos = Utf16ToUtf8(out, cap, units, count);
  } else {
    pos = n < cap ? n : cap - 1;
    std::memcpy(out, id, pos);
  }
  if (pos >= cap) pos = cap - 1;
  out[pos] = 0;
  return pos;
}

// The recorded permissions as a POSIX mode of the given type. Every writer records them: as
// they were on the writer's system (a Linux-written volume), or read-only for everyone (some
// image makers). Either way they are what a mount of the volume shows, so they are kept as
// they are, read-only files included; extraction masks them as it masks Rock Ridge modes.
// Permissions with no read, write or execute bit at all stand for none recorded.
uint32_t PosixMode(uint32_t permissions, uint32_t type_bits) {
  uint32_t mode = ((permissions >> kPermissionsOwner) & 7) << 6 |
                  ((permissions >> kPermissionsGroup) & 7) << 3 |
                  ((permissions >> kPermissionsOthers) & 7);
  return mode ? type_bits | mode : 0;
}

// Appends `text` to a link target being built, with a '/' before it unless the target is
// empty or ends in one. False when it would not fit below kMaxLinkBytes.
bool AppendComponent(char* target, uint32_t* length, const char* text, size_t n) {
  bool separator = *length > 0 && target[*length - 1] != '/';
  if (*length + separator + n >= kMaxLinkBytes) return false;
  if (separator) target[(*length)++] = '/';
  std::memcpy(target + *length, text, n);
  *length += uint32_t(n);
  return true;
}

// A symbolic link's path components as a '/'-separated target: a root component starts it
// at "/" and a name is a CS0 identifier. 11 for a malformed or unknown component, or a name
// that is empty or holds '/' or a zero byte.
err_t LinkTarget(const uint8_t* data, uint32_t n, char* target, uint32_t* length) {
  *length = 0;
  char name[kNameBytes];
  for (uint32_t at = 0; at < n;) {
    uint32_t start = at;
    if (n - at < kComponentFixedPart || data[at + 1] > n - at - kComponentFixedPart)
      return Reject(kErrBadFormat, "symbolic link byte %u: path component cut short", start);
    uint8_t type = data[at];
    uint32_t id_length = data[at + 1];
    const uint8_t* id = data + at + kComponentFixedPart;
    at += kComponentFixedPart + id_length;
    size_t name_length = 0;
    if (type == kComponentName && id_length > 1)
      name_length = DecodeIdentifier(id, id_length, name, sizeof name);
    bool fits = true;
    if (type == kComponentRoot || (type == kComponentAgreedRoot && id_length == 0)) {
      target[0] = '/', *length = 1;
    } else if (type == kComponentParent) {
      fits = AppendComponent(target, length, "..", 2);
    } else if (type == kComponentCurrent) {
      fits = AppendComponent(target, length, ".", 1);
    } else if (type == kComponentName && name_length > 0 &&
               std::memchr(name, '/', name_length) == nullptr && std::strlen(name) == name_length) {
      fits = AppendComponent(target, length, name, name_length);
    } else {
      return Reject(kErrBadFormat, "symbolic link byte %u: unusable path component of type %u",
                    start, type);
    }
    if (!fits)
      return Reject(kErrBadFormat, "symbolic link target of more than %u bytes", kMaxLinkBytes - 1);
  }
  if (*length == 0) return Reject(kErrBadFormat, "symbolic link without a target");
  target[*length] = 0;
  return kOk;
}

// UDF 1.50 keeps the list of blocks no file may use (defects, spare areas) as a hidden file of
// the root, "Non-Allocatable Space" (UDF 1.50 2.3.13); later revisions keep it as a system
// stream. It belongs to the volume, not to what was written on it.
bool IsVolumeStructure(const Entry* directory, uint8_t characteristics, const char* name,
                       uint32_t length) {
  static constexpr char kNonAllocatable[] = "Non-Allocatable Space";
  return directory->volume_root && (characteristics & kFidHidden) &&
         length == sizeof kNonAllocatable - 1 && std::memcmp(name, kNonAllocatable, length) == 0;
}

// A queued read of one ICB: the entry's File Entry, an allocation extent of it, or its
// extended attributes.
class UdfExpandWorkState final : public ExpandWorkState {
 public:
  using ExpandWorkState::ExpandWorkState;
  void Destroy() override {
    this->~UdfExpandWorkState();
    HeapFree(this);
  }

  uint32_t ad_type = kShortAd;
  uint32_t icb_length = 0;
  uint32_t icb_sector = 0;
  uint32_t partition = 0;
  uint32_t hops = 0;        // indirect entries and allocation extents followed so far
  bool attributes = false;  // reading the extended attributes, not the File Entry
  bool link = false;        // the File Entry is a symbolic link's

 private:
  ~UdfExpandWorkState() = default;
};

// A metadata partition's blocks, in the order of its metadata file's runs: `count` blocks from
// `block` of the partition lie from `sector` on (0: a hole, which nothing may use).
struct MetadataRun {
  uint32_t block;
  uint32_t sector;
  uint32_t count;
};
struct MetadataMap {
  bool loaded = false;  // the map is a metadata map, its runs known
  Owned<MetadataRun> runs;
  uint32_t count = 0;
};

// What the volume descriptor sequence tells.
struct Sequence {
  char16_t label[kMaxLabel + 1];
  uint64_t time;
  uint32_t partition_numbers[kMaxPartitionDescriptors];
  uint32_t partition_starts[kMaxPartitionDescriptors];
  uint32_t partition_lengths[kMaxPartitionDescriptors];
  uint32_t partitions;
  bool have_file_set;
  uint32_t file_set_block;
  uint32_t file_set_partition;
  uint32_t map_partition[kMaxPartitions];
  uint32_t map_metadata_file[kMaxPartitions];
  uint32_t map_metadata_mirror[kMaxPartitions];
  bool map_is_metadata[kMaxPartitions];
  bool map_is_virtual[kMaxPartitions];
  uint32_t maps;
  uint32_t sparable_map;  // the map whose sparing table is read (kMaxPartitions: none)
  uint8_t sparable[kMap2Bytes];
};

class UdfVolume final : public Volume {
 public:
  explicit UdfVolume(Media* media) : media_(media) {}

  void Destroy() override {
    FreeVirtualTable(&table_);
    this->~UdfVolume();
    HeapFree(this);
  }
  void ProcessWork(ExpandWorkState* item, uint8_t* buffer, uint32_t buffer_size) override;
  err_t Expand(Entry* directory, bool* run_queue) override;
  err_t GetInfo(uint64_t* time, char16_t** label) override;

  err_t Open(Sequence* sequence, uint8_t* scratch);

 private:
  ~UdfVolume() = default;
  uint32_t MapIndex(uint32_t partition) const;
  uint32_t Map(uint32_t partition, uint32_t block) const;
  const MetadataRun* FindMetadataRun(uint32_t map, uint32_t block) const;
  uint32_t ContiguousBlocks(uint32_t partition, uint32_t block) const;
  err_t AppendExtent(Entry* e, uint32_t partition, uint32_t block, uint32_t length, bool recorded);
  err_t LoadVirtualPartitions(const Sequence* q, const uint32_t* lengths);
  bool MapsByPart(uint32_t partition) const;
  err_t QueueMetadataFile(const Sequence* q, uint32_t map, bool mirror, Entry** file);
  bool MetadataFileReadable(const Entry* file);
  err_t TakeMetadataRuns(uint32_t map, const Entry* file);
  err_t LoadMetadataPartitions(const Sequence* q);
  err_t QueueIcb(Entry* entry, const uint8_t* long_ad);
  void Requeue(UdfExpandWorkState* item);
  void ApplyFileEntry(UdfExpandWorkState* item, const uint8_t* entry, uint32_t sector, bool* again);
  void FollowAttributeFile(UdfExpandWorkState* item, const uint8_t* entry);
  bool ParseAllocation(UdfExpandWorkState* item, const uint8_t* area, uint32_t n);
  void ParseAttributes(Entry* entry, const uint8_t* area, uint32_t n);
  void MakeLink(Entry* entry);

  Media* media_;
  uint32_t partition_count_ = 0;
  uint32_t start_[kMaxPartitions] = {};
  bool virtual_[kMaxPartitions] = {};     // the map's blocks go through the table
  MetadataMap metadata_[kMaxPartitions];  // maps whose blocks follow their metadata file
  VirtualTable table_;
  uint32_t table_partition_ = 0;  // the partition number the table maps onto
  uint64_t virtual_budget_ = 0;   // virtual blocks that data extents may still map
  uint64_t split_budget_ = 0;     // runs beyond an extent's first that mapping may still make
  SparingTable sparing_;
  uint32_t sparing_map_ = kMaxPartitions;  // the map that the sparing table serves
  uint64_t time_ = 0;
  OwnedText16 label_;
};

// The map a partition reference names: an unknown reference falls back to the first map
// (kMaxPartitions when there is none).
uint32_t UdfVolume::MapIndex(uint32_t partition) const {
  if (partition < partition_count_) return partition;
  return partition_count_ ? 0 : kMaxPartitions;
}

// The run of a metadata map that holds `block`, or null past its metadata file's end.
const MetadataRun* UdfVolume::FindMetadataRun(uint32_t map, uint32_t block) const {
  const MetadataMap& m = metadata_[map];
  uint32_t low = 0, high = m.count;  // the run sought is below `high`, from `low` on
  while (high - low > 1) {
    uint32_t middle = low + (high - low) / 2;
    if (m.runs.get()[middle].block <= block)
      low = middle;
    else
      high = middle;
  }
  const MetadataRun* run = m.count ? m.runs.get() + low : nullptr;
  return run && block >= run->block && block - run->block < run->count ? run : nullptr;
}

// (partition reference, logical block) -> absolute sector; kUnmapped for a virtual block that
// the table does not map, or a metadata block that its file does not hold.
uint32_t UdfVolume::Map(uint32_t partition, uint32_t block) const {
  partition = MapIndex(partition);
  if (partition == kMaxPartitions) return block;
  if (metadata_[partition].loaded) {
    const MetadataRun* run = FindMetadataRun(partition, block);
    return run && run->sector ? run->sector + (block - run->block) : kUnmapped;
  }
  if (virtual_[partition]) {
    if (block >= table_.count || table_.blocks[block] == kVirtualBlockUnused) return kUnmapped;
    block = table_.blocks[block];
  }
  uint32_t spared;
  if (partition == sparing_map_ && SparedSector(sparing_, block, &spared)) return spared;
  return start_[partition] + block;
}

// Whether an extent of the map has to be mapped part by part: block by block in a virtual
// partition, packet by packet where the sparing table moved packets.
bool UdfVolume::MapsByPart(uint32_t partition) const {
  partition = MapIndex(partition);
  if (partition == kMaxPartitions) return false;
  return virtual_[partition] || metadata_[partition].count > 1 ||
         (partition == sparing_map_ && sparing_.count && sparing_.packet);
}

// How many blocks from `block` on are sure to lie in consecutive sectors: one in a virtual
// partition, the rest of the packet in a sparable one, the rest of the metadata file's run.
uint32_t UdfVolume::ContiguousBlocks(uint32_t partition, uint32_t block) const {
  partition = MapIndex(partition);
  if (partition != kMaxPartitions && metadata_[partition].loaded) {
    const MetadataRun* run = FindMetadataRun(partition, block);
    return run ? run->count - (block - run->block) : 1;
  }
  if (partition == kMaxPartitions || virtual_[partition]) return 1;
  return sparing_.packet - block % sparing_.packet;
}

// Appends the runs of one extent. A recorded extent in a virtual partition maps block by
// block, since consecutive virtual blocks need not be neighbours on the disc; one in a
// sparable partition packet by packet, one in a metadata partition run by run.
err_t UdfVolume::AppendExtent(Entry* e, uint32_t partition, uint32_t block, uint32_t length,
                              bool recorded) {
  uint32_t sectors = SectorsFor(length);
  bool by_part = recorded && MapsByPart(partition);
  if (!by_part) {
    uint32_t sector = recorded ? Map(partition, block) : 0;
    if (sector == kUnmapped)
      return Reject(kErrBadFormat, "extent at virtual block %u is not mapped", block);
    return media_->AppendRun(e, sector, sectors);
  }
  bool by_block = virtual_[MapIndex(partition)];
  // Each virtual block holds data of one file, so mapping many times more blocks than the
  // table has means extents that overlap on purpose: the work stays bounded.
  if (by_block && (sectors > virtual_budget_ || uint64_t(block) + sectors > table_.count))
    return Reject(kErrBadFormat, "extent of %u sectors at virtual block %u exceeds the VAT",
                  sectors, block);
  if (by_block) virtual_budget_ -= sectors;
  Run* run = nullptr;
  for (uint32_t i = 0; i < sectors;) {
    uint32_t b = block + i;
    uint32_t part = ContiguousBlocks(partition, b);
    if (part > sectors - i) part = sectors - i;
    uint32_t sector = Map(partition, b);
    if (sector == kUnmapped)
      return Reject(kErrBadFormat, "extent at virtual block %u is not mapped", b);
    i += part;
    if (run && run->start_sector + run->sector_count == sector) {
      run->sector_count += part;
      continue;
    }
    // Many entries may name one extent that crosses many runs (moved packets, metadata runs):
    // the runs made stay bounded by the image's size.
    if (run && split_budget_ == 0)
      return Reject(kErrBadFormat, "extents split into more runs than the image has room for");
    if (run) --split_budget_;
    if (err_t error = media_->AppendRun(e, sector, part)) return error;
    run = e->last_run;
  }
  return kOk;
}

err_t UdfVolume::GetInfo(uint64_t* time, char16_t** label) {
  return AnswerVolumeInfo(time_, label_.get(), time, label);
}

// Queues the read of an entry's ICB. One in a virtual block that the table leaves unmapped
// cannot be read: the entry is marked unsound.
err_t UdfVolume::QueueIcb(Entry* entry, const uint8_t* long_ad) {
  uint32_t partition = LoadLe16(long_ad + kLongAdPartition);
  uint32_t sector = Map(partition, LoadLe32(long_ad + kLongAdBlock));
  if (sector == kUnmapped) {
    entry->damage = kErrBadFormat;
    return Reject(kErrBadFormat, "ICB at virtual block %u is not mapped",
                  LoadLe32(long_ad + kLongAdBlock));
  }
  auto* item = HeapNew<UdfExpandWorkState>(entry);
  if (!item) return kErrOutOfMemory;
  item->icb_length = LoadLe32(long_ad) & kExtentLengthMask;
  item->partition = partition;
  item->icb_sector = sector;
  media_->Queue(item, uint64_t(item->icb_sector) * kSectorSize);
  return kOk;
}

// Queues an item again at its (new) ICB, unless its chain has grown past the bound: then the
// entry is marked unsound and the item goes.
void UdfVolume::Requeue(UdfExpandWorkState* item) {
  if (++item->hops > kMaxChainHops) {
    item->entry->damage = kErrStackOverflow;
    item->Destroy();
    return;
  }
  media_->Queue(item, uint64_t(item->icb_sector) * kSectorSize);
}

// ---- Directories ---------------------------------------------------------------------------

err_t UdfVolume::Expand(Entry* directory, bool* run_queue) {
  *run_queue = true;
  StreamReader stream(media_, directory);
  uint8_t fid[kFidFixedPart];
  uint8_t identifier[256];
  char name[kNameBytes];
  for (;;) {
    uint64_t position = 0;
    if (stream.consumed() == directory->size) return kOk;  // the last descriptor is read
    err_t e = stream.Read(fid, sizeof fid, &position);
    if (e == kOk && TagOf(fid) != kTagFileIdentifier)
      e = Reject(kErrBadFormat, "directory byte %llu: no file identifier descriptor",
                 stream.consumed() - sizeof fid);
    uint32_t id_length = fid[kFidIdentifierLength];
    if (e == kOk) e = stream.Skip(LoadLe16(fid + kFidImplementationUseLength));
    if (e == kOk) e = stream.Read(identifier, id_length);
    if (e == kOk) {
      // Padding to 4 bytes may be cut short by the directory's end.
      err_t align = stream.Align(4);
      if (align != kErrHandleEof || stream.consumed() < directory->size) e = align;
    }
    if (e == kErrHandleEof)
      return Reject(kErrBadFormat, "directory byte %llu: descriptor cut short", stream.consumed());
    if (e != kOk) return e;
    uint8_t characteristics = fid[kFidCharacteristics];
    // A deleted identifier (ECMA-167 4/14.4.3) may still name a File Entry that was reused.
    if ((characteristics & (kFidParent | kFidDeleted)) || id_length == 0) continue;
    uint32_t length = uint32_t(DecodeIdentifier(identifier, id_length, name, sizeof name));
    if (length == 0 || IsVolumeStructure(directory, characteristics, name, length)) continue;
    Entry* child;
    uint8_t type = characteristics & kFidDirectory ? kSeTypeDirectory : kSeTypeFile;
    if (err_t error =
            media_->AddChild(directory, this, name, length, length, position + 1, type, &child))
      return error;
    // A child whose ICB maps nowhere is marked unsound: listing or reading it fails.
    err_t error = QueueIcb(child, fid + kFidIcb);
    if (error && !child->damage) return error;
  }
}

// ---- Work items ----------------------------------------------------------------------------

void UdfVolume::ParseAttributes(Entry* entry, const uint8_t* area, uint32_t n) {
  uint64_t at = 0;
  while (at + kEaMinLength <= n) {
    const uint8_t* a = area + at;
    uint32_t type = LoadLe32(a + kEaType), length = LoadLe32(a + kEaLength);
    uint8_t subtype = a[kEaSubtype];
    if (length >= kEaFileTimesMinLength && type == kEaFileTimesType && subtype == 1) {
      if (at + kEaFileTimesMinLength > n) return;
      // The first time recorded is the creation time when its existence bit is set.
      if (LoadLe32(a + kEaFileTimesDataLength) >= kEaMinLength &&
          (LoadLe32(a + kEaFileTimesExistence) & kEaFileTimesCreationBit))
        entry->creation_time = UdfTimestamp(a + kEaFileTimes);
    }
    at += length < kEaMinLength ? kEaMinLength : length;
  }
}

// Appends the runs of allocation descriptors; true when the list continues in an allocation
// extent, which the item now names.
bool UdfVolume::ParseAllocation(UdfExpandWorkState* item, const uint8_t* area, uint32_t n) {
  Entry* e = item->entry;
  if (e->data_offset != 0) return false;
  if (item->ad_type > kExtendedAd) {
    e->damage = kErrBadFormat;
    return false;
  }
  uint32_t size = kAdSizes[item->ad_type];
  for (uint32_t at = 0; at + size <= n; at += size) {
    AllocationDescriptor d = ReadAllocationDescriptor(area + at, item->ad_type, item->partition);
    uint32_t length = d.length, kind = d.kind, block = d.block, partition = d.partition;
    if (length == 0) break;
    if (kind == kExtentContinues) {
      item->icb_length = length;
      item->icb_sector = Map(partition, block);
      item->partition = partition;
      if (item->icb_sector != kUnmapped) return true;
      e->damage = kErrBadFormat;
      return false;
    }
    // Extents that are not recorded read as zeros: they become holes.
    if (err_t error = AppendExtent(e, partition, block, length, kind == kExtentRecorded)) {
      e->damage = error;
      return false;
    }
    e->size += length;
  }
  return false;
}

void UdfVolume::ApplyFileEntry(UdfExpandWorkState* item, const uint8_t* f, uint32_t sector,
                               bool* again) {
  Entry* e = item->entry;
  const EntryLayout& layout = LayoutOf(f);
  uint16_t flags = LoadLe16(f + kIcbFlags);
  item->ad_type = flags & 7;
  if (flags & kIcbFlagArchive) e->attributes |= 0x20;
  if (flags & kIcbFlagSystem) e->attributes |= 0x04;
  uint32_t ea_length = LoadLe32(f + layout.ea_length);
  uint32_t ad_length = LoadLe32(f + layout.ad_length);
  e->modification_time = UdfTimestamp(f + layout.modification_time);
  if (layout.creation_time) e->creation_time = UdfTimestamp(f + layout.creation_time);
  uint8_t file_type = f[kIcbFileType];
  e->type = file_type == kFileTypeDirectory ? kSeTypeDirectory : kSeTypeFile;
  item->link = file_type == kFileTypeSymlink;
  uint32_t type_bits = e->type == kSeTypeDirectory ? kSeModeDirectory
                       : item->link                ? kSeModeLink
                                                   : kSeModeFile;
  e->mode = PosixMode(LoadLe32(f + kFePermissions), type_bits);
  switch (file_type) {
    case 0:
    case 4:
    case 5:
    case 249:
    case kFileTypeSymlink: break;
    default:
      e->attributes |= 0x06;
      if (file_type != 250 && file_type != 251) ad_length = 0;
      break;
  }
  // Attributes or descriptors that do not fit the entry's sector leave it without its data.
  if (uint64_t(layout.area) + ea_length + ad_length > kSectorSize) e->damage = kErrBadFormat;
  if (ea_length < kSectorSize && layout.area + ea_length <= kSectorSize) {
    if (ea_length && !e->creation_time) {
      const uint8_t* ea = f + layout.area;
      uint32_t n = ea_length;
      if (n > 27 && TagOf(ea) == kTagExtendedAttributeHeader)
        ea += kEaHeaderBytes, n -= kEaHeaderBytes;
      ParseAttributes(e, ea, n);
    }
    uint32_t area = layout.area + ea_length;
    if (ad_length >= 1 && ad_length < kSectorSize && area + ad_length <= kSectorSize) {
      if (item->ad_type == kEmbedded) {
        if (e->size == 0 && !e->last_run && e->data_offset == 0 &&
            media_->AppendRun(e, sector, 1) == kOk) {
          e->size = ad_length;
          e->data_offset = uint16_t(area);
        }
      } else {
        *again = ParseAllocation(item, f + area, ad_length);
      }
    }
  }
  const uint8_t* ea_icb = f + layout.ea_icb;
  if (e->creation_time || (LoadLe32(ea_icb) & kExtentLengthMask) == 0) return;
  uint32_t ea_partition = LoadLe16(ea_icb + kLongAdPartition);
  uint32_t ea_sector = Map(ea_partition, LoadLe32(ea_icb + kLongAdBlock));
  if (ea_sector == kUnmapped) return;  // the times are extras: the entry goes without them
  // The extended attributes live in a file of their own: read them later, with this item
  // unless it is busy with an allocation extent.
  if (!*again) {
    item->attributes = true;
    item->icb_length = LoadLe32(ea_icb) & kExtentLengthMask;
    item->partition = ea_partition;
    item->icb_sector = ea_sector;
    *again = true;
  } else if (auto* other = HeapNew<UdfExpandWorkState>(e)) {
    other->attributes = true;
    other->icb_length = LoadLe32(ea_icb) & kExtentLengthMask;
    other->partition = ea_partition;
    other->icb_sector = ea_sector;
    media_->Queue(other, uint64_t(other->icb_sector) * kSectorSize);
  }
}

// The extended attribute ICB held the attribute file's own File Entry: its data, not the entry
// it belongs to, carries the attributes. The entry's type, size and runs stay as they are.
void UdfVolume::FollowAttributeFile(UdfExpandWorkState* item, const uint8_t* f) {
  const EntryLayout& layout = LayoutOf(f);
  uint32_t ad_type = LoadLe16(f + kIcbFlags) & 7;
  uint32_t ea_length = LoadLe32(f + layout.ea_length);
  uint32_t ad_length = LoadLe32(f + layout.ad_length);
  uint32_t area = layout.area + ea_length;
  if (ea_length >= kSectorSize || area >= kSectorSize || ad_length > kSectorSize - area) {
    item->Destroy();
    return;
  }
  const uint8_t* data = f + area;
  if (ad_type == kEmbedded) {
    if (ad_length > 27 && TagOf(data) == kTagExtendedAttributeHeader)
      ParseAttributes(item->entry, data + kEaHeaderBytes, ad_length - kEaHeaderBytes);
    item->Destroy();
    return;
  }
  if ((ad_type != kShortAd && ad_type != kLongAd) || ad_length < kAdSizes[ad_type] ||
      (LoadLe32(data) & kExtentLengthMask) == 0) {
    item->Destroy();
    return;
  }
  AllocationDescriptor icb = ReadAllocationDescriptor(data, ad_type, item->partition);
  uint32_t partition = icb.partition;
  item->icb_sector = Map(partition, icb.block);
  item->icb_length = kSectorSize;
  item->partition = partition;
  if (item->icb_sector == kUnmapped)
    item->Destroy();
  else
    Requeue(item);
}

// A symbolic link's entry, its data runs all known, becomes a link to the target its data
// names. Data that is too long or malformed leaves the entry unsound.
void UdfVolume::MakeLink(Entry* e) {
  if (e->damage) return;
  err_t error = e->size < kMaxLinkBytes
                    ? kOk
                    : Reject(kErrBadFormat, "symbolic link data of %llu bytes", e->size);
  Owned<uint8_t> data(error ? Owned<uint8_t>() : Owned<uint8_t>::Array(2 * kMaxLinkBytes));
  if (error == kOk && !data) error = kErrOutOfMemory;
  uint32_t n = uint32_t(e->size), length = 0;
  char* target = reinterpret_cast<char*>(data.get() + kMaxLinkBytes);
  if (error == kOk) error = StreamReader(media_, e).Read(data.get(), n);
  if (error == kErrHandleEof) error = Reject(kErrBadFormat, "symbolic link data cut short");
  if (error == kOk) error = LinkTarget(data.get(), n, target, &length);
  if (error == kOk) error = media_->SetLinkTarget(e, target, length);
  e->damage = error;
}

void UdfVolume::ProcessWork(ExpandWorkState* base, uint8_t* buffer, uint32_t buffer_size) {
  auto* item = static_cast<UdfExpandWorkState*>(base);
  Entry* e = item->entry;
  bool reading_data = !item->attributes;
  uint8_t* sectors[2] = {buffer, buffer + kSectorSize};
  const uint8_t* last = nullptr;  // the last File Entry, Extended File Entry or indirect entry
  uint32_t last_sector = 0;
  bool again = false;
  int slot = 0;
  uint32_t count = SectorsFor(item->icb_length);
  if (count > kMaxIcbSectors) count = kMaxIcbSectors;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* s = sectors[slot];
    uint32_t sector = item->icb_sector + i;
    if (err_t error = media_->ReadImage(uint64_t(sector) * kSectorSize, s, kSectorSize)) {
      e->damage = error;
      break;
    }
    uint16_t tag = TagOf(s);
    // An entry's ICB or allocation extent that starts with no descriptor at all leaves the
    // entry without its data. Extended attributes are extras: the entry does without them.
    if (i == 0 && !item->attributes && tag != kTagAllocationExtent && tag != kTagFileEntry &&
        tag != kTagExtendedFileEntry && tag != kTagIndirectEntry)
      e->damage = kErrBadFormat;
    if (tag == kTagAllocationExtent) {
      if (!item->attributes) {
        uint32_t n = LoadLe32(s + kAedLength);
        if (n > kSectorSize - kAedDescriptors) n = kSectorSize - kAedDescriptors;
        again = ParseAllocation(item, s + kAedDescriptors, n);
      }
      break;
    }
    if (tag == kTagExtendedAttributeHeader) {
      if (!e->creation_time) ParseAttributes(e, s + kEaHeaderBytes, kSectorSize - kEaHeaderBytes);
      break;
    }
    if (tag != kTagFileEntry && tag != kTagExtendedFileEntry && tag != kTagIndirectEntry) break;
    last = s;
    last_sector = sector;
    slot ^= 1;
  }
  if (last && LoadLe16(last) == kTagIndirectEntry) {
    const uint8_t* icb = last + kIndirectIcb;
    item->icb_length = LoadLe32(icb) & kExtentLengthMask;
    item->partition = LoadLe16(icb + kLongAdPartition);
    item->icb_sector = Map(item->partition, LoadLe32(icb + kLongAdBlock));
    if (item->icb_sector != kUnmapped) {
      Requeue(item);
      return;
    }
    e->damage = kErrBadFormat;
    item->Destroy();
    return;
  }
  if (last && item->attributes) {
    FollowAttributeFile(item, last);
    return;
  }
  if (last) ApplyFileEntry(item, last, last_sector, &again);
  // A link's target is read once the last of its allocation descriptors is known.
  if (item->link && reading_data && (!again || item->attributes)) MakeLink(e);
  if (again)
    Requeue(item);
  else
    item->Destroy();
}

// ---- Opening -------------------------------------------------------------------------------

// The first valid anchor of sector 256, the last sector and the one 256 before it.
err_t FindAnchor(Media* media, uint8_t* scratch) {
  uint32_t n = media->sector_count();
  uint32_t candidates[3] = {kAnchorSector, 0, 0};
  uint32_t count = 1;
  if (n != 0) candidates[count++] = n - 1;
  if (n > 256) candidates[count++] = n - 257;
  err_t result = kErrBadFormat;
  for (uint32_t i = 0; i < count; ++i) {
    err_t e = media->ReadImage(uint64_t(candidates[i]) * kSectorSize, scratch, 512);
    if (e == kOk && TagOf(scratch) == kTagAnchor) return kOk;
    result = e ? e : kErrBadFormat;
  }
  return result == kErrBadFormat ? Reject(result, "no anchor volume descriptor pointer") : result;
}

// Partition maps of an accepted logical volume descriptor; the first unknown map ends them.
void ParseMaps(const uint8_t* lvd, Sequence* q) {
  q->maps = 0;
  q->sparable_map = kMaxPartitions;
  uint32_t end = kLvdMaps + LoadLe32(lvd + kLvdMapTableLength);
  uint32_t wanted = LoadLe32(lvd + kLvdMapCount);
  uint32_t at = kLvdMaps;
  while (q->maps < kMaxPartitions && q->maps < wanted && end - at >= 6) {
    const uint8_t* m = lvd + at;
    uint32_t type = m[0], length = m[1];
    if ((length & 1) || length > end - at) return;
    uint32_t i = q->maps;
    if (type == 1 && length > 5) {
      q->map_partition[i] = LoadLe16(m + kMap1Partition);
      q->map_is_metadata[i] = false;
      q->map_is_virtual[i] = false;
    } else if (type == 2 && length >= kMap2MinLength &&
               (std::memcmp(m + kMap2Identifier, kVirtualPartition, 23) == 0 ||
                std::memcmp(m + kMap2Identifier, kMetadataPartition, 23) == 0)) {
      q->map_partition[i] = LoadLe16(m + kMap2Partition);
      q->map_is_metadata[i] = m[kMap2Identifier + 5] == 'M';
      q->map_is_virtual[i] = m[kMap2Identifier + 5] == 'V';
      q->map_metadata_file[i] = LoadLe32(m + kMap2MetadataFile);
      q->map_metadata_mirror[i] = LoadLe32(m + kMap2MetadataMirror);
    } else if (type == 2 && length >= kMap2MinLength && q->sparable_map == kMaxPartitions &&
               std::memcmp(m + kMap2Identifier, kSparablePartition, 23) == 0) {
      // Read as the partition it describes; one sparing table serves the volume.
      q->map_partition[i] = LoadLe16(m + kMap2Partition);
      q->map_is_metadata[i] = q->map_is_virtual[i] = false;
      q->sparable_map = i;
      std::memcpy(q->sparable, m, kMap2Bytes);
    } else {
      return;
    }
    ++q->maps;
    at += length;
  }
}

void TakeDescriptor(const uint8_t* d, uint16_t tag, Sequence* q) {
  switch (tag) {
    case kTagPrimaryVolume:
      TakeDstring(d + kPvdVolumeIdentifier, 32, q->label);
      q->time = UdfTimestamp(d + kPvdRecordingTime);
      break;
    case kTagPartition:
      if (q->partitions < kMaxPartitionDescriptors) {
        q->partition_numbers[q->partitions] = LoadLe16(d + kPdNumber);
        q->partition_starts[q->partitions] = LoadLe32(d + kPdStart);
        q->partition_lengths[q->partitions] = LoadLe32(d + kPdLength);
        ++q->partitions;
      }
      break;
    case kTagLogicalVolume:
      TakeDstring(d + kLvdIdentifier, 128, q->label);
      if (uint64_t(LoadLe32(d + kLvdMapTableLength)) + kLvdMaps <= kSectorSize &&
          LoadLe32(d + kLvdBlockSize) == kSectorSize) {
        q->have_file_set = true;
        q->file_set_block = LoadLe32(d + kLvdFileSetBlock);
        q->file_set_partition = LoadLe16(d + kLvdFileSetPartition);
        ParseMaps(d, q);
      }
      break;
    default: break;
  }
}

// Walks the volume descriptor sequence from the anchor in `scratch`, following pointers.
void ReadSequence(Media* media, uint8_t* scratch, Sequence* q) {
  uint32_t length = LoadLe32(scratch + kAnchorSequenceLength);
  uint32_t location = LoadLe32(scratch + kAnchorSequenceLocation);
  uint32_t budget = kMaxSequenceSectors;
  for (uint32_t i = 0; uint64_t(i) * kSectorSize < length && budget > 0; ++i, --budget) {
    if (media->ReadImage(uint64_t(location + i) * kSectorSize, scratch, kSectorSize) != kOk) return;
    uint16_t tag = TagOf(scratch);
    if (tag == 0) return;
    if (tag == kTagVolumePointer) {
      length = LoadLe32(scratch + kPointerLength);
      location = LoadLe32(scratch + kPointerLocation);
      i = uint32_t(-1);  // the loop's increment starts the new extent at its first sector
      continue;
    }
    TakeDescriptor(scratch, tag, q);
  }
}

// The physical (or sparable) map of the partition that map `i` names; q->maps when none.
uint32_t PhysicalMap(const Sequence* q, uint32_t i) {
  uint32_t physical = 0;
  while (physical < q->maps && (q->map_is_virtual[physical] || q->map_is_metadata[physical] ||
                                q->map_partition[physical] != q->map_partition[i]))
    ++physical;
  return physical;
}

// Virtual maps read their blocks through the virtual allocation table, which lies in the
// physical partition of the same number and maps onto it. A virtual map with no physical one
// beneath would have to map onto itself.
err_t UdfVolume::LoadVirtualPartitions(const Sequence* q, const uint32_t* lengths) {
  for (uint32_t i = 0; i < q->maps; ++i) {
    if (!q->map_is_virtual[i]) continue;
    uint32_t physical = PhysicalMap(q, i);
    if (physical == q->maps)
      return Reject(kErrBadFormat,
                    "partition map %u: virtual map of partition %u without a physical one", i,
                    q->map_partition[i]);
    PhysicalPartition beneath{start_[physical], lengths[physical], physical};
    if (!table_.loaded) {
      if (err_t e = LoadVirtualTable(media_, beneath, &table_)) return e;
      virtual_budget_ = 4ull * table_.count + 65536;
      table_partition_ = q->map_partition[i];
    } else if (table_partition_ != q->map_partition[i]) {
      return Reject(kErrBadFormat, "partition map %u: a second VAT partition",
                    i);  // one table serves one
    }
    virtual_[i] = true;
  }
  return kOk;
}

// Queues the read of a metadata map's metadata file, which lies in the physical partition
// beneath, as "udf_metadata_<map>" of ".$media". The mirror is read into the same entry,
// emptied first, so that the entry always shows the file in use.
err_t UdfVolume::QueueMetadataFile(const Sequence* q, uint32_t map, bool mirror, Entry** file) {
  uint32_t physical = PhysicalMap(q, map);
  if (physical == q->maps)
    return Reject(kErrBadFormat,
                  "partition map %u: metadata map of partition %u without a "
                  "physical one",
                  map, q->map_partition[map]);
  uint32_t block = mirror ? q->map_metadata_mirror[map] : q->map_metadata_file[map];
  uint32_t sector = Map(physical, block);
  if (mirror) {
    Entry* e = *file;
    e->first_run = Run{};
    e->last_run = nullptr;
    e->size = 0;
    e->damage = 0;
    e->data_offset = 0;
    e->file_index = uint64_t(sector) * kSectorSize + 1;
  } else {
    char name[24];
    size_t length = TextFormat8(name, sizeof name, "udf_metadata_%u", unsigned(map));
    if (err_t e = media_->AddChild(media_->media_directory(), this, name, uint32_t(length),
                                   uint32_t(length), uint64_t(sector) * kSectorSize + 1,
                                   kSeTypeFile, file))
      return e;
  }
  auto* item = HeapNew<UdfExpandWorkState>(*file);
  if (!item) return kErrOutOfMemory;
  item->icb_length = kSectorSize;
  item->partition = physical;
  item->icb_sector = sector;
  media_->Queue(item, uint64_t(sector) * kSectorSize);
  return kOk;
}

// A metadata file is read when its entry was sound, it has data, every run of it lies within
// the image and its first sector reads.
bool UdfVolume::MetadataFileReadable(const Entry* file) {
  if (file->damage || !file->last_run) return false;
  for (const Run* r = &file->first_run; r; r = r->next) {
    if (uint64_t(r->start_sector) + r->sector_count > media_->sector_count()) return false;
  }
  uint8_t sector[kSectorSize];
  return file->first_run.start_sector == 0 ||
         media_->ReadImage(uint64_t(file->first_run.start_sector) * kSectorSize, sector,
                           kSectorSize) == kOk;
}

// The map's blocks become the metadata file's runs, in order; blocks past 2^32 are not
// addressable and their runs are left out.
err_t UdfVolume::TakeMetadataRuns(uint32_t map, const Entry* file) {
  uint32_t count = 0;
  for (const Run* r = &file->first_run; r; r = r->next) ++count;
  MetadataMap& m = metadata_[map];
  m.runs = Owned<MetadataRun>::Array(count);
  if (!m.runs) return kErrOutOfMemory;
  uint64_t block = 0;
  for (const Run* r = &file->first_run; r && block + r->sector_count <= UINT32_MAX; r = r->next) {
    m.runs.get()[m.count++] = {uint32_t(block), r->start_sector, r->sector_count};
    block += r->sector_count;
  }
  m.loaded = true;
  return kOk;
}

// Metadata partitions: their blocks follow the metadata file, extent by extent, or the
// mirror file where the metadata file cannot be read.
err_t UdfVolume::LoadMetadataPartitions(const Sequence* q) {
  Entry* files[kMaxPartitions] = {};
  for (uint32_t i = 0; i < q->maps; ++i) {
    if (!q->map_is_metadata[i]) continue;
    if (err_t e = QueueMetadataFile(q, i, false, &files[i])) return e;
  }
  media_->RunPendingQueue();
  bool mirrors = false;
  for (uint32_t i = 0; i < q->maps; ++i) {
    if (!files[i] || MetadataFileReadable(files[i])) continue;
    if (err_t e = QueueMetadataFile(q, i, true, &files[i])) return e;
    mirrors = true;
  }
  if (mirrors) media_->RunPendingQueue();
  for (uint32_t i = 0; i < q->maps; ++i) {
    if (!files[i]) continue;
    if (!MetadataFileReadable(files[i]))
      return Reject(files[i]->damage ? files[i]->damage : kErrBadFormat,
                    "partition map %u: neither the metadata file nor its mirror reads", i);
    if (err_t e = TakeMetadataRuns(i, files[i])) return e;
  }
  return kOk;
}

err_t UdfVolume::Open(Sequence* q, uint8_t* scratch) {
  partition_count_ = q->maps;
  split_budget_ = 4ull * media_->sector_count() + 65536;
  uint32_t lengths[kMaxPartitions] = {};
  for (uint32_t i = 0; i < q->maps; ++i) {
    for (uint32_t p = 0; p < q->partitions; ++p) {
      if (q->partition_numbers[p] != q->map_partition[i]) continue;
      start_[i] = q->partition_starts[p];
      lengths[i] = q->partition_lengths[p];
    }
  }
  if (err_t e = LoadVirtualPartitions(q, lengths)) return e;
  if (q->sparable_map < q->maps) {
    if (err_t e = LoadSparingTable(media_, q->sparable, &sparing_)) return e;
    sparing_map_ = q->sparable_map;
  }
  // The table names the volume anew when it was renamed after the descriptors were written.
  TakeDstring(table_.volume_identifier, sizeof table_.volume_identifier, q->label);
  if (err_t e = LoadMetadataPartitions(q)) return e;

  if (!q->have_file_set) return Reject(kErrBadFormat, "no usable logical volume descriptor");
  uint32_t fsd = Map(q->file_set_partition, q->file_set_block);
  if (fsd == kUnmapped)
    return Reject(kErrBadFormat, "file set descriptor at block %u is not mapped",
                  q->file_set_block);
  if (err_t e = media_->ReadImage(uint64_t(fsd) * kSectorSize, scratch, 512)) return e;
  if (TagOf(scratch) != kTagFileSet)
    return Reject(kErrBadFormat, "sector %u holds no file set descriptor", fsd);
  TakeDstring(scratch + kFsdLogicalVolumeIdentifier, 128, q->label);
  TakeDstring(scratch + kFsdFileSetIdentifier, 32, q->label);
  q->time = UdfTimestamp(scratch + kFsdRecordingTime);
  time_ = q->time;
  label_ = CopyText16(q->label);
  if (!label_) return kErrOutOfMemory;

  const uint8_t* icb = scratch + kFsdRootIcb;
  uint32_t root_sector = Map(LoadLe16(icb + kLongAdPartition), LoadLe32(icb + kLongAdBlock));
  if (root_sector == kUnmapped)
    return Reject(kErrBadFormat, "root ICB at block %u is not mapped",
                  LoadLe32(icb + kLongAdBlock));
  Entry* root;
  if (err_t e = media_->AddChild(media_->media_directory(), this, "udf", 3, 3,
                                 uint64_t(root_sector) * kSectorSize + 1, kSeTypeDirectory, &root))
    return e;
  if (err_t e = QueueIcb(root, icb)) return e;
  root->volume_root = 1;
  root->modification_time = time_;
  if (!media_->main_root_rock_ridge()) media_->set_main_root(root);  // see the ISO 9660 volume
  return kOk;
}

}  // namespace

err_t OpenUdfVolume(Media* media, uint8_t* scratch) {
  if (err_t e = FindAnchor(media, scratch)) return e;
  Owned<Sequence> q(HeapNew<Sequence>());
  if (!q) return kErrOutOfMemory;
  ReadSequence(media, scratch, q.get());
  auto* volume = HeapNew<UdfVolume>(media);
  if (!volume) return kErrOutOfMemory;
  err_t e = volume->Open(q.get(), scratch);
  if (e != kOk) {
    // Nothing of a volume that failed stays behind: its entries and queued reads go with it.
    media->DiscardVolume(volume);
    volume->Destroy();
  }
  return e;
}

}  // namespace IsoFs
