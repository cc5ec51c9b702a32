// The namespace machinery behind the media: entries and their arena, the volume interface that
// fills them, work items of the pending queue, and the stream reader over an entry's data.
//
// Entries are never freed singly: they live in the media's arena until the media goes. A
// directory's children sit in an ordered tree by name (case-folded UTF-8); volumes add them when
// the directory is first expanded, and queue deferred reads (File Entries, extended attribute
// records) that the media runs in image order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "base/own.h"
#include "base/rbtree.h"

namespace IsoFs {

class Volume;

inline constexpr uint32_t kSectorSize = 2048;

// A volume's answer to GetInfo: its time and a heap copy of its label (empty when it has none).
err_t AnswerVolumeInfo(uint64_t time, const char16_t* label, uint64_t* time_out,
                       char16_t** label_out);

// A run of sectors of an entry's data. A run starting at sector 0 is a hole (zeros), except
// for entries outside every volume, whose data really starts there.
struct Run {
  Run* next;
  uint32_t start_sector;
  uint32_t sector_count;
};

struct Entry {
  rblink_t registry_link;  // first: the id registry casts links back to entries
  rblink_t sibling_link;
  rbtree_t children;
  Entry* parent;  // null for ".$media"; expansion checks the ancestors for loops
  Volume* volume;
  Run first_run;
  Run* last_run;  // null while the entry has no run
  uint64_t file_index;
  uint64_t node_id;
  uint64_t lookup_count;
  uint64_t creation_time;
  uint64_t modification_time;
  uint64_t size;
  const char* link_target;    // a link's target (size bytes, in the arena), else null
  uint32_t mode;              // POSIX mode as recorded, 0 when unknown
  uint32_t expansion_status;  // 0 untried, 87 not a directory, 18 expanded, else the error
  uint32_t damage;            // non-zero: its on-disc structures were unsound; listing, reading
                              // or expanding the entry fails with this code
  uint16_t data_offset;
  uint16_t name_length;
  uint8_t type;
  uint8_t attributes;
  uint8_t volume_root;  // the root owns its volume
  // The UTF-8 name and its terminating zero follow the fixed fields.
  const char* name() const { return reinterpret_cast<const char*>(this + 1); }
  char* name() { return reinterpret_cast<char*>(this + 1); }
};

inline Entry* EntryOfSibling(rblink_t* link) {
  return reinterpret_cast<Entry*>(reinterpret_cast<char*>(link) - offsetof(Entry, sibling_link));
}

// Chunks of 250,000 usable bytes handed out in multiples of 8; larger requests get blocks of
// their own. Everything is zero-filled and freed at once.
class Arena {
 public:
  static constexpr size_t kChunkBytes = 250000;
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { FreeAll(); }
  void* Allocate(size_t bytes);
  void FreeAll();

 private:
  struct Chunk;
  Chunk* head_ = nullptr;
  size_t used_ = 0;  // bytes of the head chunk handed out
};

// A deferred read for one entry, ordered in the pending queue by image byte position.
class ExpandWorkState : public rblink_t {
 public:
  ExpandWorkState(Entry* e) : entry(e) {}
  // Deletes the item (it came from HeapNew).
  virtual void Destroy();

  Entry* entry;
  uint64_t position = 0;
  uint64_t order = 0;  // among equal positions, the one queued last runs first

 protected:
  ~ExpandWorkState() = default;
};

// A file system over the media: ISO 9660 or UDF.
class Volume {
 public:
  virtual void Destroy() = 0;
  // Carries out one queued item and disposes of it (deletes it or queues it again). The
  // buffer, of buffer_size bytes, is the queue's shared scratch space.
  virtual void ProcessWork(ExpandWorkState* item, uint8_t* buffer, uint32_t buffer_size) = 0;
  // Adds a directory's children; *run_queue asks the caller to run the pending queue.
  virtual err_t Expand(Entry* directory, bool* run_queue) = 0;
  // The volume time and a heap copy of the label (freed with HeapFree).
  virtual err_t GetInfo(uint64_t* time, char16_t** label) = 0;

 protected:
  ~Volume() = default;
};

class Media;

// Reads an entry's data as a byte stream, sector by sector through its runs.
class StreamReader {
 public:
  StreamReader(Media* media, const Entry* entry);
  // Reads n bytes (buffer null: skips them); *position, when asked, receives the image byte
  // offset of the first one. 38 at the end of the data, or a reader error.
  err_t Read(void* buffer, uint32_t n, uint64_t* position = nullptr);
  err_t Skip(uint32_t n) { return Read(nullptr, n); }
  // Skips to the next multiple of m bytes from the data's start.
  err_t Align(uint32_t m);
  uint64_t consumed() const { return consumed_; }

 private:
  err_t NextSector();

  Media* media_;
  const Entry* entry_;
  const Run* run_;
  uint32_t sector_in_run_ = 0;
  uint32_t offset_ = 0;     // next byte within the loaded sector
  uint32_t available_ = 0;  // bytes of the loaded sector that belong to the data
  uint64_t consumed_ = 0;   // data bytes read or skipped so far
  uint64_t sector_ = 0;     // image sector now loaded
  bool started_ = false;
  uint8_t buffer_[kSectorSize];
};

}  // namespace IsoFs
