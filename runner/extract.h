// Extraction: copies every directory and file of an opened volume below a target directory,
// keeping sizes exactly and creation and modification times where the volume has them.
//
// The walk is depth first through the volume's own listings, one entry per List call, and every
// entry is looked up again by its whole path of names from the main root. Writing happens on
// the calling thread; closing each written file and reading back its first bytes is left to up
// to four worker threads, and extraction returns only when they are done.
//
// Nothing is ever written outside the target: an entry name that is empty, "." or "..", or that
// holds a path separator, a drive colon or a NUL (on Windows also a name the Win32 layer cannot
// hold) fails the extraction with kErrInvalidName before anything is written for it. Everything is
// created new relative to its parent directory's handle, so a link or junction at an entry's name,
// or one swapped in for a directory already made, is never written through.
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"
#include "base/pool.h"
#include "base/thread.h"
#include "isofs/se_volume.h"

// Names from the main root to the entry being handled. The directories 49 levels below the root are
// the deepest extracted; an entry inside one of them fails the extraction with kErrStackOverflow.
inline constexpr uint32_t kExtractPathComponents = 50;
// One copy buffer per file; reads from the volume are at most this long.
inline constexpr uint32_t kExtractCopyBufferSize = 0x40000;
// How much of each written file is read back after it is closed.
inline constexpr uint32_t kExtractReadBackSize = 4096;
// Workers that close written files, besides the extracting thread.
inline constexpr uint32_t kExtractCloseWorkers = 4;

struct ExtractOptions {
  // Called on the extracting thread after each write with the bytes written so far.
  void (*progress)(void* context, uint64_t bytes_written) = nullptr;
  void* progress_context = nullptr;
  // Once triggered, the extraction stops with kErrCancelled before its next entry or write.
  pin_i* stop = nullptr;
  // Called once when the extraction fails at an entry, with the entry's path below the target
  // (backslashes between names; empty for the main root).
  void (*on_failure)(void* context, const char16_t* entry_path) = nullptr;
  void* failure_context = nullptr;
  // Called for each symbolic link this system does not create (Windows), with its path as above.
  void (*on_link_skipped)(void* context, const char16_t* entry_path) = nullptr;
  void* link_context = nullptr;
};

// Longest link target extraction takes; a longer one fails with kErrInvalidName.
inline constexpr uint32_t kExtractLinkTargetBytes = 4096;
// The permission bits a file may get from its recorded mode: never set-user-ID, set-group-ID,
// sticky, or writable by others than its owner.
inline constexpr uint32_t kExtractModeMask = 0755;

// Whether a link at depth `depth` below the target (0: in the target itself) to `target`
// stays inside the target: relative, and never climbing above it with "..".
bool extract_link_stays_inside(const char* target, uint32_t length, uint32_t depth);

// Extracts the volume's main root into the directory `target` holds: 0 or the first error,
// unchanged from the volume or the file layer. Every directory and file is created new, relative to
// its parent's handle: kErrFileExists for a name that something has already (two entries of one
// name, or case twins where names are compared without case), kErrCantResolveFilename for a
// directory swapped for something else while it was filled. kErrBadFormat for an image whose
// entries could not all come from its own bytes (a file larger than the image, more entries than
// the image has room for records), kErrStackOverflow for a tree nested too deep, kErrInvalidName
// for a name unsafe or impossible here or a link whose target leaves the target, kErrCancelled
// when stopped; a close or read-back that fails fails it too. Files written before an error stay
// on disk. Files get their recorded permission bits (masked by kExtractModeMask).
err_t extract_volume_into(file_handle_t target, SeVolume* volume, const ExtractOptions& options);

// The same into a directory by its path, created with its parents when missing (the path itself
// may lead through links; nothing below it is followed).
err_t extract_volume(const char16_t* target, SeVolume* volume, const ExtractOptions& options);

namespace Extract {

// One directory or file being handled: receives the entry a listing offers and keeps what the
// walk needs to go on with it.
class File final : public SeListResult {
 public:
  explicit File(SePathComponent* slot) : slot_(slot) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Takes the entry when the slot is still empty (its names are then the slot's), else refuses
  // it. Either way asks for no further entry.
  bool OnEntry(const SeEntryInfo* info, const char* name, bool* more) override;
  void OnEnd() override {}

  kd_mp_c& pool() { return pool_; }
  SePathComponent* slot() const { return slot_; }
  void set_slot(SePathComponent* slot) { slot_ = slot; }
  // True when an accepted name could not be copied (the pool failed).
  bool name_lost() const { return name_lost_; }

  uint64_t node_id = 0;
  uint64_t stream_id = 0;
  SeEntryInfo info = {};

 private:
  kd_mp_c pool_;  // the names and the local path of this entry
  SePathComponent* slot_;
  bool name_lost_ = false;
};

}  // namespace Extract

// Whether a name from the image can be written below a directory: not empty, ".", "..", and
// no '\', '/', ':' or NUL (also none decoded from an overlong UTF-8 form).
bool extract_name_is_safe(const char* utf8_name, uint32_t utf8_length, const char16_t* wide_name,
                          uint32_t wide_length);

// Whether the Win32 layer can hold a name as a file of its own: no device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with or without an extension), no trailing dot or space, none of
// < > : " | ? * and no control character.
bool windows_name_is_holdable(const char16_t* name, uint32_t length);
