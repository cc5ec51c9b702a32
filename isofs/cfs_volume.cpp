// IsoFs::CfsVolume: one ISO 9660 directory hierarchy (ECMA-119), from a primary, supplementary
// (Joliet) or enhanced volume descriptor. Both-endian numbers are read from their big-endian
// half. A hierarchy whose root opens its System Use area with an SP entry carries SUSP, and
// Rock Ridge names, modes, times, links and relocated directories replace what ISO 9660 says.
#include <cstring>

#include "base/endian.h"
#include "base/own.h"
#include "base/reject.h"
#include "base/text.h"
#include "isofs/disc_time.h"
#include "isofs/media_impl.h"
#include "isofs/rock_ridge.h"
#include "isofs/volumes.h"

namespace IsoFs {

namespace {

// Volume descriptor fields (ECMA-119 8.4, 8.5).
constexpr uint32_t kVdVolumeIdentifier = 40;   // 32 bytes
constexpr uint32_t kVdEscapeSequences = 88;    // 32 bytes
constexpr uint32_t kVdRootRecord = 156;        // 34 bytes
constexpr uint32_t kVdCreationDate = 813;      // 17-byte form
constexpr uint32_t kVdModificationDate = 830;  // 17-byte form

// Directory record fields (ECMA-119 9.1).
constexpr uint32_t kDrLength = 0;
constexpr uint32_t kDrExtendedAttributeLength = 1;
constexpr uint32_t kDrExtentBe = 6;
constexpr uint32_t kDrDataLengthBe = 14;
constexpr uint32_t kDrRecordingDate = 18;  // 7-byte form
constexpr uint32_t kDrFileFlags = 25;
constexpr uint32_t kDrFileUnitSize = 26;
constexpr uint32_t kDrInterleaveGap = 27;
constexpr uint32_t kDrIdentifierLength = 32;
constexpr uint32_t kDrIdentifier = 33;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagAssociated = 0x04;
constexpr uint8_t kFlagMultiExtent = 0x80;  // another record of the same file follows

// Extended attribute record fields (ECMA-119 9.5).
constexpr uint32_t kEarFixedPart = 250;
constexpr uint32_t kEarCreationDate = 10;
constexpr uint32_t kEarModificationDate = 27;
// Extended attribute lengths from this on have their record read for dates.
constexpr uint8_t kEarQueuedLength = 250;

// Name encodings.
constexpr int kAnsi = 1;
constexpr int kUcs2 = 2;
constexpr int kUtf8 = 3;

constexpr uint32_t kMaxLabel = 49;
constexpr uint32_t kNameBytes = 500;

uint32_t SectorsFor(uint64_t bytes) { return uint32_t((bytes + kSectorSize - 1) / kSectorSize); }

// Where the System Use area starts: after the identifier and the padding byte that follows an
// identifier of even length (ECMA-119 9.1.12, 9.1.13).
uint32_t SystemUseStart(const uint8_t* record) {
  uint32_t n = record[kDrIdentifierLength];
  return kDrIdentifier + n + ((n & 1) == 0 ? 1 : 0);
}

// The length of the longest prefix of s[0..n) that ends on a whole UTF-8 character.
uint32_t WholeUtf8(const uint8_t* s, uint32_t n) {
  uint32_t end = n, i = n;
  // Back up over continuation bytes to the last lead byte; keep it only when complete.
  while (i > 0 && (s[i - 1] & 0xC0) == 0x80) --i;
  if (i == 0) return n;
  uint8_t lead = s[i - 1];
  uint32_t need = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (end - (i - 1) < need) end = i - 1;
  return end;
}

// Decodes an identifier or label field into UTF-8.
size_t DecodeToUtf8(int encoding, const uint8_t* s, uint32_t n, char* out, size_t cap) {
  if (encoding == kUcs2) {
    char16_t units[128];
    uint32_t count = n / 2 < 128 ? n / 2 : 128;
    for (uint32_t i = 0; i < count; ++i) units[i] = LoadBe16(s + 2 * i);
    size_t written = Utf16ToUtf8(out, cap, units, count);
    return written < cap ? written : std::strlen(out);
  }
  if (encoding == kUtf8) {
    uint32_t whole = WholeUtf8(s, n);
    if (whole >= cap) whole = WholeUtf8(s, uint32_t(cap - 1));
    std::memcpy(out, s, whole);
    out[whole] = 0;
    return whole;
  }
  size_t written = CodePageToUtf8(0, out, cap, reinterpret_cast<const char*>(s), n);
  return written < cap ? written : std::strlen(out);
}

// "%/@", "%/C", "%/E" announce UCS-2; "%/G", "%/H", "%/I" UTF-8; nothing means the kind's
// default. -1 for any other escape sequence.
int EncodingOf(int kind, const uint8_t* descriptor) {
  if (kind == kDescriptorPrimary) return kAnsi;
  const uint8_t* escapes = descriptor + kVdEscapeSequences;
  size_t n = 0;
  while (n < 31 && escapes[n]) ++n;
  if (n == 0) return kind == kDescriptorEnhanced ? kUtf8 : kAnsi;
  if (n != 3 || escapes[0] != '%' || escapes[1] != '/') return -1;
  switch (escapes[2]) {
    case '@':
    case 'C':
    case 'E': return kUcs2;
    case 'G':
    case 'H':
    case 'I': return kUtf8;
    default: return -1;
  }
}

// Where a version suffix ";N" (N of 1..32767 without a leading 0) starts, and with it one '.'
// right before it; the full length when the name has none.
uint32_t ShortNameLength(const char* name, uint32_t length) {
  const char* semicolon = nullptr;
  for (uint32_t i = 0; i < length; ++i) {
    if (name[i] == ';') semicolon = name + i;
  }
  if (!semicolon) return length;
  uint32_t at = uint32_t(semicolon - name);
  if (at + 1 >= length || name[at + 1] == '0') return length;
  uint32_t version = 0;
  for (uint32_t i = at + 1; i < length; ++i) {
    if (name[i] < '0' || name[i] > '9') return length;
    version = version * 10 + uint32_t(name[i] - '0');
    if (version > 32767) return length;
  }
  if (at >= 2 && name[at - 1] == '.') return at - 1;
  return at;
}

class CfsVolume final : public Volume {
 public:
  CfsVolume(Media* media, int kind, int encoding)
      : media_(media), kind_(kind), encoding_(encoding) {}

  void Destroy() override {
    HeapFree(label_);
    this->~CfsVolume();
    HeapFree(this);
  }
  void ProcessWork(ExpandWorkState* item, uint8_t* buffer, uint32_t buffer_size) override;
  err_t Expand(Entry* directory, bool* run_queue) override;
  err_t GetInfo(uint64_t* time, char16_t** label) override;

  err_t TakeLabel(const uint8_t* field);
  err_t ReadRock(const uint8_t* record, uint32_t skip, RockRecord* rock);
  void DetectRockRidge(const uint8_t* root_record, Entry* root);
  uint64_t time_ = 0;
  bool susp_ = false;  // records carry System Use entries after skip_ bytes
  uint8_t skip_ = 0;
  bool rock_ridge_ = false;

 private:
  ~CfsVolume() = default;
  err_t AddRecord(Entry* directory, const uint8_t* record, uint64_t position,
                  const RockRecord* rock, Entry** made);
  err_t AddRelocated(Entry* e, uint32_t location);
  err_t ApplyRock(Entry* e, const RockRecord& rock);

  Media* media_;
  int kind_;
  int encoding_;
  char16_t* label_ = nullptr;
};

// The volume identifier in the volume's encoding, at most 49 characters, trailing spaces cut.
err_t CfsVolume::TakeLabel(const uint8_t* field) {
  char utf8[kNameBytes];
  DecodeToUtf8(encoding_, field, 32, utf8, sizeof utf8);
  label_ = static_cast<char16_t*>(HeapAllocate((kMaxLabel + 1) * sizeof(char16_t)));
  if (!label_) return kErrOutOfMemory;
  size_t n = Utf8ToUtf16(label_, kMaxLabel + 1, utf8, -1);
  if (n > kMaxLabel) n = kMaxLabel;
  while (n > 0 && label_[n - 1] == u' ') --n;
  label_[n] = 0;
  return kOk;
}

err_t CfsVolume::GetInfo(uint64_t* time, char16_t** label) {
  return AnswerVolumeInfo(time_, label_, time, label);
}

void CfsVolume::ProcessWork(ExpandWorkState* item, uint8_t* buffer, uint32_t buffer_size) {
  if (err_t e = media_->ReadImage(item->position, buffer, kEarFixedPart)) {
    item->entry->damage = e;
  } else {
    item->entry->creation_time = IsoLongDate(buffer + kEarCreationDate);
    item->entry->modification_time = IsoLongDate(buffer + kEarModificationDate);
  }
  item->Destroy();
}

// The System Use entries of a record, `skip` bytes into its System Use area.
err_t CfsVolume::ReadRock(const uint8_t* record, uint32_t skip, RockRecord* rock) {
  uint32_t start = SystemUseStart(record) + skip;
  uint32_t end = record[kDrLength];
  return ReadSystemUse(media_, record + start, start < end ? end - start : 0, rock);
}

// SUSP is in use when the System Use area of the root's "." record opens with SP; Rock Ridge
// when an ER names it or its entries stand there. A root that cannot be read or whose entries
// are malformed leaves the hierarchy plain ISO 9660. The root of a Rock Ridge tree always has
// a mode (its "." record's, else a plain directory's), which tells readers the tree has modes.
void CfsVolume::DetectRockRidge(const uint8_t* root_record, Entry* root) {
  uint32_t extent =
      LoadBe32(root_record + kDrExtentBe) + (root_record[kDrExtendedAttributeLength] ? 1 : 0);
  uint8_t dot[255];
  if (media_->ReadImage(uint64_t(extent) * kSectorSize, dot, sizeof dot) != kOk) return;
  Owned<RockRecord> rock(HeapNew<RockRecord>());
  if (!rock || dot[kDrLength] <= kDrIdentifier || ReadRock(dot, 0, rock.get()) != kOk) return;
  susp_ = rock->susp;
  skip_ = rock->skip;
  rock_ridge_ = rock->susp && rock->rock_ridge;
  if (rock_ridge_) root->mode = rock->has_mode ? rock->mode : kSeModeDirectory | 0755;
}

// A CL placeholder: the entry becomes the directory at `location`, as its "." record says.
err_t CfsVolume::AddRelocated(Entry* e, uint32_t location) {
  uint8_t dot[kDrIdentifier + 1];
  if (err_t err = media_->ReadImage(uint64_t(location) * kSectorSize, dot, sizeof dot)) return err;
  if (dot[kDrLength] < sizeof dot || LoadBe32(dot + kDrExtentBe) != location)
    return Reject(kErrBadFormat, "relocated directory at sector %u has no \".\" record", location);
  e->size = LoadBe32(dot + kDrDataLengthBe);
  e->modification_time = IsoShortDate(dot + kDrRecordingDate);
  return media_->AppendRun(e, location, SectorsFor(e->size));
}

err_t CfsVolume::ApplyRock(Entry* e, const RockRecord& rock) {
  if (rock.has_mode) e->mode = rock.mode;
  if (rock.modification_time) e->modification_time = rock.modification_time;
  if (rock.creation_time) e->creation_time = rock.creation_time;
  if (rock.has_child) return AddRelocated(e, rock.child_location);
  if (rock.is_link) return media_->SetLinkTarget(e, rock.link, rock.link_length);
  return kOk;
}

// Makes the entry of one directory record (not a continuation).
err_t CfsVolume::AddRecord(Entry* directory, const uint8_t* record, uint64_t position,
                           const RockRecord* rock, Entry** made) {
  char name[kNameBytes];
  uint32_t id_length = record[kDrIdentifierLength];
  uint32_t full =
      uint32_t(DecodeToUtf8(encoding_, record + kDrIdentifier, id_length, name, sizeof name));
  bool is_directory = record[kDrFileFlags] & kFlagDirectory;
  uint32_t short_length =
      kind_ != kDescriptorEnhanced && !is_directory ? ShortNameLength(name, full) : full;
  const char* chosen = name;
  if (rock && rock->has_name) {
    chosen = rock->name;
    full = short_length = rock->name_length;
  }
  if (rock && rock->has_child) is_directory = true;
  Entry* e;
  if (err_t err = media_->AddChild(directory, this, chosen, short_length, full, position + 1,
                                   is_directory ? kSeTypeDirectory : kSeTypeFile, &e))
    return err;
  *made = e;
  if (rock && (rock->has_child || rock->is_link)) return ApplyRock(e, *rock);
  uint32_t extent = LoadBe32(record + kDrExtentBe);
  uint8_t ear_length = record[kDrExtendedAttributeLength];
  if (ear_length >= kEarQueuedLength) {
    if (auto* item = HeapNew<ExpandWorkState>(e))
      media_->Queue(item, uint64_t(extent) * kSectorSize);
  }
  bool interleaved = record[kDrFileUnitSize] != 0 || record[kDrInterleaveGap] != 0;
  if (!interleaved) {
    e->modification_time = IsoShortDate(record + kDrRecordingDate);
    e->size = LoadBe32(record + kDrDataLengthBe);
    media_->AppendRun(e, extent + (ear_length ? 1 : 0), SectorsFor(e->size));
  }
  return rock ? ApplyRock(e, *rock) : kOk;
}

err_t CfsVolume::Expand(Entry* directory, bool* run_queue) {
  *run_queue = false;
  auto* work = static_cast<uint8_t*>(HeapAllocate(2 * kSectorSize + 2000));
  if (!work) return kErrOutOfMemory;
  uint8_t* record = work;                         // one record, at most 255 bytes
  uint8_t* last_identifier = work + kSectorSize;  // the raw identifier that made `last`
  uint32_t last_length = 0;
  Entry* last = nullptr;
  bool last_continues = false;  // the previous record had the multi-extent flag
  StreamReader stream(media_, directory);
  Owned<RockRecord> rock(susp_ ? HeapNew<RockRecord>() : nullptr);
  if (susp_ && !rock) {
    HeapFree(work);
    return kErrOutOfMemory;
  }
  err_t result = kOk;
  for (;;) {
    uint64_t position = 0;
    err_t e = stream.Read(record, 1, &position);
    while (e == kOk && record[kDrLength] == 0) {
      e = stream.Align(kSectorSize);
      if (e == kOk) e = stream.Read(record, 1, &position);
    }
    if (e == kErrHandleEof) break;  // the directory's data ends between records
    if (e == kOk && record[kDrLength] <= kDrIdentifier) e = kErrBadFormat;
    if (e == kOk) e = stream.Read(record + 1, record[kDrLength] - 1u);
    if (e == kErrHandleEof) e = kErrBadFormat;  // a record cut off by the directory's end
    uint32_t id_length = e == kOk ? record[kDrIdentifierLength] : 0;
    if (e == kOk && kDrIdentifier + id_length > record[kDrLength]) e = kErrBadFormat;
    if (e != kOk) {
      result = e;
      break;
    }
    const uint8_t* id = record + kDrIdentifier;
    if (id_length == 0 || (id_length == 1 && id[0] <= 1)) continue;  // ".", ".."
    // An associated file (ECMA-119 9.1.6) carries data about the file of its name, not the file.
    if (record[kDrFileFlags] & kFlagAssociated) continue;
    if (rock && (result = ReadRock(record, skip_, rock.get()))) break;
    // A relocated directory is shown where its CL placeholder stands.
    if (rock && rock->relocated) continue;
    bool interleaved = record[kDrFileUnitSize] != 0 || record[kDrInterleaveGap] != 0;
    bool continuation = last_continues;
    last_continues = record[kDrFileFlags] & kFlagMultiExtent;
    if (continuation && id_length == last_length &&
        std::memcmp(id, last_identifier, id_length) == 0) {
      // A further extent of the same file (ECMA-119 6.5.1).
      if (interleaved) continue;
      uint32_t length = LoadBe32(record + kDrDataLengthBe);
      if ((result = media_->AppendRun(last, LoadBe32(record + kDrExtentBe), SectorsFor(length))))
        break;
      last->size += length;
      continue;
    }
    if ((result = AddRecord(directory, record, position, rock.get(), &last))) break;
    std::memcpy(last_identifier, id, id_length);
    last_length = id_length;
  }
  HeapFree(work);
  return result;
}

}  // namespace

err_t MakeCfsVolume(Media* media, const uint8_t* descriptor, int kind, uint64_t position,
                    const char* name) {
  int encoding = EncodingOf(kind, descriptor);
  if (encoding < 0) return kOk;
  auto* volume = HeapNew<CfsVolume>(media, kind, encoding);
  if (!volume) return kErrOutOfMemory;
  Entry* root = nullptr;
  err_t e = volume->TakeLabel(descriptor + kVdVolumeIdentifier);
  if (e == kOk) {
    volume->time_ = IsoLongDate(descriptor + kVdCreationDate);
    e = media->AddChild(media->media_directory(), volume, name, uint32_t(std::strlen(name)),
                        uint32_t(std::strlen(name)), position, kSeTypeDirectory, &root);
  }
  if (e != kOk) {
    volume->Destroy();
    return e;
  }
  root->volume_root = 1;
  volume->DetectRockRidge(descriptor + kVdRootRecord, root);
  root->creation_time = volume->time_;
  root->modification_time = IsoLongDate(descriptor + kVdModificationDate);
  const uint8_t* record = descriptor + kVdRootRecord;
  root->size = LoadBe32(record + kDrDataLengthBe);
  media->AppendRun(root,
                   LoadBe32(record + kDrExtentBe) + (record[kDrExtendedAttributeLength] ? 1 : 0),
                   SectorsFor(root->size));
  // Rock Ridge names are the ones written, long and case-kept, and come with modes and links;
  // Joliet cuts names at 64 (or 103) characters and an enhanced tree has neither. So a Rock
  // Ridge tree stays the main root over every tree after it, a UDF bridge's too: the tools that
  // write both give the UDF tree the same names but made-up permissions (r--r--r-- for every
  // file) and no links.
  if (volume->rock_ridge_ || !media->main_root_rock_ridge())
    media->set_main_root(root, volume->rock_ridge_);
  return kOk;
}

}  // namespace IsoFs
