// The opened image as a read-only file system: the SeVolume interface and the records and
// receivers that cross it.
//
// Callers address entries by 64-bit node ids of their own choosing, handed over at the first
// lookup of an entry; id 0 stands for the main root where an operation allows it. Names are
// matched by their UTF-8 form. Strings the volume returns are heap copies that the caller frees
// with FreeString. One thread at a time uses a volume.
#pragma once
#include <cstdint>

#include "base/errors.h"

// Entry types.
inline constexpr uint8_t kSeTypeFile = 1;
inline constexpr uint8_t kSeTypeDirectory = 2;
// A symbolic link: its data, read like a file's, is the target path (UTF-8, '/' separated).
inline constexpr uint8_t kSeTypeLink = 3;

// POSIX type bits that a recorded mode carries beside its permission bits.
inline constexpr uint32_t kSeModeDirectory = 0040000;
inline constexpr uint32_t kSeModeFile = 0100000;
inline constexpr uint32_t kSeModeLink = 0120000;

// What a lookup or a listing tells about one entry. Times are 100-ns units since 1601-01-01
// UTC, 0 when unknown; the volume never fills the access and change times.
struct SeEntryInfo {
  uint8_t type;
  uint8_t attributes;  // 0x02 hidden, 0x04 system, 0x20 archive
  uint64_t file_index;
  uint64_t size;
  uint64_t creation_time;
  uint64_t access_time;
  uint64_t modification_time;
  uint64_t change_time;
  // POSIX permission and type bits as recorded (Rock Ridge, UDF), 0 when unknown. A volume
  // root has one exactly when its tree records modes.
  uint32_t mode;
};

struct SeLookupResult {
  uint64_t node_id;       // the id the entry is known by (the caller's, or the earlier one)
  uint64_t lookup_count;  // lookups since it was registered, this one included
  SeEntryInfo info;
};

// One component of a lookup path; the volume compares only the UTF-8 name and length.
struct SePathComponent {
  const char16_t* wide_name;
  uint32_t wide_length;
  const char* utf8_name;
  uint32_t utf8_length;
};

// Receives verify progress; answering true asks the verify pass to stop after this chunk. The
// verify's caller, not the pass, calls OnFinished once the verify is over, whatever its outcome
// (a sink with nothing to close keeps the empty default).
class SeVerifyProgress {
 public:
  virtual bool OnProgress(uint64_t done, uint64_t total) = 0;
  virtual void OnFinished() {}

 protected:
  ~SeVerifyProgress() = default;
};

// Receives a directory listing. OnEntry returns false to refuse the entry (it is offered again
// by the next List call); clearing *more asks List to return after this entry.
class SeListResult {
 public:
  virtual bool OnEntry(const SeEntryInfo* info, const char* name, bool* more) = 0;
  virtual void OnEnd() = 0;

 protected:
  ~SeListResult() = default;
};

class SeVolume {
 public:
  // Drops one reference; the volume goes with the last.
  virtual void Release() = 0;
  // Checks the whole image in 256 KiB verify reads: 0, or the first reader error.
  virtual err_t Verify(SeVerifyProgress* progress) = 0;
  // Frees a string returned by Lookup or GetVolumeInfo (null is ignored).
  virtual void FreeString(char16_t* text) = 0;
  // Walks `count` components from the main root (or from ".$media" when the first component names
  // it). kErrFileNotFound when the last component is missing, kErrPathNotFound when an earlier one
  // is. The first lookup of an entry registers it under `node_id`. *name, when asked for and
  // count > 0, receives a heap copy of the entry's name.
  virtual err_t Lookup(const SePathComponent* components, uint32_t count, uint64_t node_id,
                       SeLookupResult* result, char16_t** name) = 0;
  // Drops lookups of a registered entry; a count of all ones forgets it entirely. Either way
  // its open listings go.
  virtual err_t Forget(uint64_t node_id, uint64_t count) = 0;
  // Hands the next entries of a registered directory's listing `stream_id` to `receiver`.
  virtual err_t List(uint64_t directory_id, uint64_t stream_id, SeListResult* receiver) = 0;
  virtual err_t CloseList(uint64_t directory_id, uint64_t stream_id) = 0;
  // Reads up to `length` bytes of a registered file at `offset`; fewer at the end of the data.
  virtual err_t Read(uint64_t node_id, uint64_t offset, void* buffer, uint32_t length,
                     uint32_t* count) = 0;
  virtual err_t GetImageSize(uint64_t* size) = 0;
  // Closes the image's files; they open again on the next read.
  virtual err_t CloseFiles() = 0;
  // The time and label of the volume holding an entry (0 = the main root). An entry outside
  // every volume leaves both outputs as they were.
  virtual err_t GetVolumeInfo(uint64_t node_id, uint64_t* time, char16_t** label) = 0;
  // Like a lookup of a registered entry (0 = the main root) by its id.
  virtual err_t GetAttributes(uint64_t node_id, SeLookupResult* result) = 0;

 protected:
  ~SeVolume() = default;
};
