// The media's open sequence, descriptor scan, verify pass, reads through extents and lifetime.
#include "isofs/media.h"

#include <cstring>

#include "base/format.h"
#include "base/reject.h"
#include "image/iso_reader.h"
#include "image/source.h"
#include "isofs/media_impl.h"
#include "isofs/password.h"
#include "isofs/volumes.h"

namespace IsoFs {

namespace {

constexpr uint32_t kVerifyChunk = 0x40000;
constexpr uint32_t kFirstDescriptorSector = 16;
constexpr uint32_t kDescriptorSectorEnd = 66;  // sectors 16 to 65 are scanned
constexpr uint64_t kMediaDirectoryIndex = 1;
constexpr uint64_t kImageFileIndex = 2;

// What the first seven bytes of a descriptor sector make of it: 1..3 an ISO 9660 volume, 4 a
// UDF descriptor, -1 a descriptor to pass over, 0 the end of the descriptors.
int ClassifyDescriptor(const uint8_t* s) {
  struct Known {
    uint8_t type;
    char id[6];
    uint8_t version;
    int kind;
  };
  static constexpr Known kKnown[] = {
      {1, "CD001", 1, kDescriptorPrimary},
      {2, "CD001", 1, kDescriptorSupplementary},
      {2, "CD001", 2, kDescriptorEnhanced},
      {0, "NSR02", 1, 4},
      {0, "NSR03", 1, 4},
      {0, "CD001", 1, -1},
      {3, "CD001", 1, -1},
      {255, "CD001", 1, -1},
      {0, "BEA01", 1, -1},
      {0, "BOOT2", 1, -1},
      {0, "CDW02", 2, -1},
  };
  for (const Known& k : kKnown) {
    if (s[0] == k.type && std::memcmp(s + 1, k.id, 5) == 0 && s[6] == k.version) return k.kind;
  }
  return 0;
}

}  // namespace

err_t Media::Open(ImageSource* source, const char16_t* path, intptr_t input, intptr_t output) {
  clear_rejection_reason();
  if (err_t e = OpenImage(source, &reader_, path, kNoHandle, nullptr, 0)) return e;
  {
    PasswordIterator passwords(input, output);
    err_t e = reader_->Open(&passwords);
    passwords.Clear();
    if (e) return e;
  }
  uint64_t sectors = reader_->ImageSize() / kSectorSize;
  sector_count_ = sectors > 0xFFFFFFFF ? 0xFFFFFFFF : uint32_t(sectors);
  image_size_ = uint64_t(sector_count_) * kSectorSize;

  auto* scratch = static_cast<uint8_t*>(HeapAllocate(kSectorSize));
  media_directory_ = NewEntry(nullptr, ".$media", 7, kMediaDirectoryIndex, kSeTypeDirectory);
  if (!scratch || !media_directory_) {
    HeapFree(scratch);
    return kErrOutOfMemory;
  }
  media_directory_->expansion_status = kErrNoMoreFiles;  // made here, never expanded
  Entry* image = nullptr;
  err_t result =
      AddChild(media_directory_, nullptr, "image.iso", 9, 9, kImageFileIndex, kSeTypeFile, &image);
  if (result == kOk) {
    AppendRun(image, 0, sector_count_);
    image->size = image_size_;
    bool udf_seen = false;
    result = ScanDescriptors(scratch, &udf_seen);
    if (result == kOk && udf_seen) {
      result = OpenUdfVolume(this, scratch);
      RunPendingQueue();
      if (main_root_) result = kOk;
    }
    // Without any volume there is no main root to stand for the image.
    if (result == kOk && !main_root_) result = Reject(kErrBadFormat, "no ISO 9660 or UDF volume");
  }
  HeapFree(scratch);
  // A volume refused on the way is no reason once another one serves.
  if (result == kOk) clear_rejection_reason();
  return result;
}

err_t Media::ScanDescriptors(uint8_t* scratch, bool* udf_seen) {
  uint32_t sessions = reader_->SessionCount();
  err_t result = kOk;
  bool stop = false;
  for (uint32_t s = 0; !stop && (s == 0 || s < sessions); ++s) {
    uint64_t base = sessions ? reader_->SessionStart(s) : 0;
    result = ScanSession(s, sessions, base, scratch, udf_seen, &stop);
  }
  return main_root_ ? kOk : result;
}

err_t Media::ScanSession(uint32_t session, uint32_t sessions, uint64_t base, uint8_t* scratch,
                         bool* udf_seen, bool* stop) {
  uint32_t n = 0;
  for (uint32_t sector = kFirstDescriptorSector; sector < kDescriptorSectorEnd; ++sector) {
    uint64_t position = base + uint64_t(sector) * kSectorSize;
    if (reader_->Read(position, scratch, kSectorSize) != kOk) return kOk;
    int kind = ClassifyDescriptor(scratch);
    if (kind == 0) return kOk;
    if (kind < 0) continue;
    ++n;
    if (kind == 4) {
      *udf_seen = true;
      continue;
    }
    char name[20];
    if (sessions < 2)
      TextFormat8(name, sizeof name, "%s%02u", "volume", n);
    else
      TextFormat8(name, sizeof name, "%s%02u%s%02u", "session", session + 1, "volume", n);
    if (err_t e = MakeCfsVolume(this, scratch, kind, position, name)) {
      *stop = true;
      return e;
    }
  }
  return kOk;
}

err_t Media::ReadImage(uint64_t offset, void* buffer, uint32_t length) {
  return reader_->Read(offset, buffer, length);
}

// ---- SeVolume ------------------------------------------------------------------------------

void Media::Release() {
  uint32_t left;
  {
    light_guard_c guard(lock_);
    left = --references_;
  }
  if (left == 0) {
    this->~Media();
    HeapFree(this);
  }
}

Media::~Media() {
  if (reader_) reader_->Destroy();
  while (rblink_t* link = rb_first(&streams_)) {
    rb_remove(&streams_, link);
    HeapFree(link);
  }
  while (rblink_t* link = rb_first(&pending_)) {
    rb_remove(&pending_, link);
    static_cast<ExpandWorkState*>(link)->Destroy();
  }
  if (media_directory_) {
    for (rblink_t* link = rb_first(&media_directory_->children); link; link = rb_next(link)) {
      Entry* e = EntryOfSibling(link);
      if (e->volume_root && e->volume) e->volume->Destroy();
    }
  }
  arena_.FreeAll();
}

err_t Media::Verify(SeVerifyProgress* progress) {
  uint64_t total = uint64_t(sector_count_) * kSectorSize;
  uint64_t done = 0;
  err_t result = kOk;
  while (result == kOk && done < total) {
    bool stop = progress && progress->OnProgress(done, total);
    result = reader_->Read(done, nullptr, kVerifyChunk);
    done += kVerifyChunk;
    if (stop) break;
  }
  return result;
}

void Media::FreeString(char16_t* text) { HeapFree(text); }

err_t Media::Read(uint64_t node_id, uint64_t offset, void* buffer, uint32_t length,
                  uint32_t* count) {
  *count = 0;
  Entry* e = FindRegistered(node_id);
  if (!e) return kErrInvalidParameter;
  if (e->damage) return e->damage;
  uint64_t end = uint64_t(e->data_offset) + e->size;
  if (offset >= e->size) return kOk;
  if (e->link_target) {
    *count = uint32_t(e->size - offset < length ? e->size - offset : length);
    std::memcpy(buffer, e->link_target + offset, *count);
    return kOk;
  }
  uint64_t start = e->data_offset + offset;
  if (end - start > length) end = start + length;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t run_first = 0;  // stream byte where the run starts
  for (const Run* run = e->last_run ? &e->first_run : nullptr; run && start < end;
       run = run->next) {
    uint64_t run_end = run_first + uint64_t(run->sector_count) * kSectorSize;
    if (start < run_end) {
      uint64_t piece_end = end < run_end ? end : run_end;
      uint32_t piece = uint32_t(piece_end - start);
      if (run->start_sector != 0 || !e->volume) {
        uint64_t at = uint64_t(run->start_sector) * kSectorSize + (start - run_first);
        if (err_t err = reader_->Read(at, out, piece)) return err;
      } else {
        std::memset(out, 0, piece);
      }
      out += piece;
      *count += piece;
      start = piece_end;
    }
    run_first = run_end;
  }
  return kOk;
}

err_t Media::GetImageSize(uint64_t* size) {
  *size = image_size_;
  return kOk;
}

err_t Media::CloseFiles() {
  reader_->CloseFiles();
  return kOk;
}

err_t Media::GetVolumeInfo(uint64_t node_id, uint64_t* time, char16_t** label) {
  Entry* e = ResolveId(node_id);
  if (!e) {
    *time = 0;
    *label = nullptr;
    return kErrInvalidParameter;
  }
  return e->volume ? e->volume->GetInfo(time, label) : kOk;
}

}  // namespace IsoFs

err_t OpenMediaFrom(ImageSource* source, const char16_t* path, file_handle_t stdin_h,
                    file_handle_t stdout_h, SeVolume** out) {
  *out = nullptr;
  auto* media = HeapNew<IsoFs::Media>();
  if (!media) return kErrOutOfMemory;
  if (err_t e = media->Open(source, path, stdin_h, stdout_h)) {
    media->Release();
    return e;
  }
  *out = media;
  return kOk;
}

err_t OpenMedia(const char16_t* path, file_handle_t stdin_h, file_handle_t stdout_h,
                SeVolume** out) {
  return OpenMediaFrom(SystemFiles(), path, stdin_h, stdout_h, out);
}

void ReleaseMedia(SeVolume* volume) {
  if (volume) volume->Release();
}
