#include "runner/extract.h"

#include <cstring>

#include "base/file.h"
#include "base/own.h"
#include "base/text.h"
#include "base/thread.h"
#include "runner/extract_target.h"

namespace {

constexpr uint64_t kForgetAll = ~uint64_t{0};
// A directory whose children's names would go to this table entry is the deepest extracted.
constexpr uint32_t kDepthLimitSlot = kExtractPathComponents - 1;
// Every entry of a volume has a record of its own in the image, and no record is shorter.
constexpr uint64_t kMinRecordBytes = 32;

// A written file waiting to be closed and read back.
struct CloseNode {
  CloseNode* next;
  file_handle_t handle;
};

// Files written but not yet closed, drained first in first out by up to four workers and, at
// the end, by the extracting thread itself. The extraction holds the queue once from the start;
// each running worker holds it once more, and the last one to let go sets `done_`. A file that
// does not close or read back cleanly fails the extraction: its bytes may not be on disk.
class CloseQueue {
 public:
  CloseQueue() = default;
  CloseQueue(const CloseQueue&) = delete;
  CloseQueue& operator=(const CloseQueue&) = delete;

  // Takes over the handle; 14 when there is no memory to queue it (it is closed here then).
  err_t Add(file_handle_t handle) {
    auto* node = HeapNew<CloseNode>(CloseNode{nullptr, handle});
    if (!node) {
      close_handle(handle);
      return kErrOutOfMemory;
    }
    bool start_worker = false;
    {
      light_guard_c guard(lock_);
      // A worker starts once a file waits behind another: an image of one file is closed by the
      // extracting thread at the end, and starts no thread it would then wait for.
      bool waiting = head_ != nullptr;
      *tail_ = node;
      tail_ = &node->next;
      if (waiting && holders_ < kExtractCloseWorkers + 1) {
        ++holders_;
        start_worker = true;
      }
    }
    if (start_worker && run_on_worker(&CloseQueue::Worker, this) != kOk) Release();
    return kOk;
  }

  // Drains on this thread, waits until every worker has finished and returns the first error
  // of a close or read-back.
  err_t Finish() {
    Drain();
    pin_wait(&done_, kWaitForever);
    return error_;
  }

 private:
  static void Worker(void* queue) { static_cast<CloseQueue*>(queue)->Drain(); }

  void Drain() {
    while (CloseNode* node = Take()) {
      err_t e = CloseAndReadBack(node->handle);
      HeapDelete(node);
      if (e != kOk) {
        light_guard_c guard(lock_);
        if (error_ == kOk) error_ = e;
      }
    }
  }

  // The head node; when there is none, the caller's hold ends in the same step, so a node
  // added afterwards finds room for a new worker.
  CloseNode* Take() {
    {
      light_guard_c guard(lock_);
      CloseNode* node = head_;
      if (node) {
        head_ = node->next;
        if (!head_) tail_ = &head_;
        return node;
      }
      if (--holders_ > 0) return nullptr;
    }
    done_.trigger();  // the last touch of the queue by a worker
    return nullptr;
  }

  void Release() {
    {
      light_guard_c guard(lock_);
      if (--holders_ > 0) return;
    }
    done_.trigger();
  }

  // The file is reopened through its handle, not its name, before the writing handle closes,
  // so the bytes read back are those of the file written.
  static err_t CloseAndReadBack(file_handle_t handle) {
    file_handle_t reader;
    err_t e = reopen_for_reading(&reader, handle);
    err_t closed = close_handle(handle);
    if (e == kOk) e = closed;
    if (e == kOk) {
      uint8_t bytes[kExtractReadBackSize];
      uint32_t count = 0;
      e = read_file_at(reader, 0, bytes, sizeof bytes, &count);
    }
    close_handle(reader);
    return e;
  }

  light_lock_t lock_;
  CloseNode* head_ = nullptr;
  CloseNode** tail_ = &head_;
  uint32_t holders_ = 1;  // the extraction itself
  err_t error_ = kOk;
  kdsync_pin_c done_;
};

// One call's state: the volume, the names from the main root, the id source and the queue.
class Extraction {
 public:
  Extraction(SeVolume* volume, const ExtractOptions& options) : volume_(volume), options_(options) {
    uint64_t image_size = 0;
    if (volume->GetImageSize(&image_size) == kOk && image_size > 0) {
      largest_file_ = image_size;
      entries_left_ = image_size / kMinRecordBytes;
    }
  }

  err_t Run(file_handle_t target) {
    Extract::File root(&table_[0]);
    ClearSlot(root.slot());
    SeLookupResult found;
    err_t e = LookUp(0, &found);
    if (e == kOk) {
      root.node_id = found.node_id;
      root.info = found.info;
      e = FillDirectory(target, &root);
    }
    root.pool().FreeAll();
    err_t closed = queue_.Finish();
    return e != kOk ? e : closed;
  }

 private:
  static void ClearSlot(SePathComponent* slot) { *slot = SePathComponent{}; }

  uint64_t NextId() { return ++id_counter_; }

  // Looks up the first `count` names of the table under a new id; frees the name it returns.
  err_t LookUp(uint32_t count, SeLookupResult* found) {
    char16_t* name = nullptr;
    err_t e = volume_->Lookup(table_, count, NextId(), found, count > 0 ? &name : nullptr);
    if (name) volume_->FreeString(name);
    return e;
  }

  // Lists the directory's entries into the local directory `handle` holds.
  err_t FillDirectory(file_handle_t handle, Extract::File* directory) {
    directory->stream_id = NextId();
    err_t e = kOk;
    if (directory->slot() < &table_[kDepthLimitSlot]) {
      while (e == kOk) e = ExtractNextEntry(handle, directory);
    } else {
      e = RefuseDeeperEntries(directory);
    }
    if (e == kErrNoMoreFiles) e = kOk;
    volume_->Forget(directory->node_id, kForgetAll);
    return e;
  }

  // Makes the directory new below its parent and fills it through its own handle. When it is
  // done its name must still be the directory filled: one swapped for a link meanwhile fails.
  err_t ExtractDirectory(file_handle_t parent, const char16_t* name, Extract::File* directory) {
    file_handle_t handle;
    err_t e = create_directory_at(&handle, parent, name);
    if (e != kOk) {
      volume_->Forget(directory->node_id, kForgetAll);
      return e;
    }
    e = FillDirectory(handle, directory);
    if (e == kOk) e = check_still_named(parent, name, handle);
    close_handle(handle);
    return e;
  }

  // The deepest directory is made, but anything inside it would be beyond the nesting bound:
  // leaving it out quietly would hand the program to run an incomplete tree. 18 when empty.
  err_t RefuseDeeperEntries(Extract::File* directory) {
    Extract::File probe(directory->slot());
    ClearSlot(probe.slot());
    err_t e = volume_->List(directory->node_id, directory->stream_id, &probe);
    bool has_entry = probe.slot()->utf8_name != nullptr;
    ClearSlot(probe.slot());
    if (e != kOk) return e;
    return has_entry ? kErrStackOverflow : kErrNoMoreFiles;
  }

  // The name of the listed entry is one this system can hold below a directory.
  static err_t CheckName(const SePathComponent* slot) {
    bool safe = extract_name_is_safe(slot->utf8_name, slot->utf8_length, slot->wide_name,
                                     slot->wide_length) &&
                system_takes_name(slot->wide_name, slot->wide_length);
    return safe ? kOk : kErrInvalidName;
  }

  // Lists the directory's next entry and extracts it: 18 when there is none left.
  err_t ExtractNextEntry(file_handle_t parent, Extract::File* directory) {
    if (StopRequested()) return kErrCancelled;
    Extract::File entry(directory->slot());
    ClearSlot(entry.slot());
    err_t e = volume_->List(directory->node_id, directory->stream_id, &entry);
    SePathComponent* slot = entry.slot();
    if (e == kOk && entry.name_lost()) e = kErrOutOfMemory;
    // No entry at all ends the directory; an empty name is an entry, refused below with 123.
    if (e == kOk && !slot->utf8_name) e = kErrNoMoreFiles;
    if (e == kOk) e = CheckName(slot);
    if (e == kOk) e = TakeEntryFromBudget();
    entry.set_slot(slot + 1);
    SeLookupResult found;
    if (e == kOk) e = LookUp(static_cast<uint32_t>(entry.slot() - table_), &found);
    if (e == kOk) {
      entry.node_id = found.node_id;
      entry.info = found.info;
      if (entry.info.type == kSeTypeFile) {
        e = ExtractFile(parent, slot->wide_name, &entry);
      } else if (entry.info.type == kSeTypeDirectory) {
        e = ExtractDirectory(parent, slot->wide_name, &entry);
      } else if (entry.info.type == kSeTypeLink) {
        e = ExtractLink(parent, slot, &entry);
      }
    }
    if (e != kOk && e != kErrNoMoreFiles) ReportFailure(slot);
    entry.pool().FreeAll();
    return e;
  }

  // A link is made only when its target, resolved from where it stands, stays in the tree;
  // where the system makes no links it is left out and reported.
  err_t ExtractLink(file_handle_t parent, const SePathComponent* slot, Extract::File* link) {
    char target[kExtractLinkTargetBytes + 1];
    uint32_t count = 0;
    err_t e = link->info.size > kExtractLinkTargetBytes ? kErrInvalidName : kOk;
    if (e == kOk) e = volume_->Read(link->node_id, 0, target, uint32_t(link->info.size), &count);
    volume_->Forget(link->node_id, kForgetAll);
    if (e != kOk) return e;
    target[count] = 0;
    if (count != link->info.size || std::strlen(target) != count ||
        !extract_link_stays_inside(target, count, uint32_t(slot - table_)))
      return kErrInvalidName;
    e = create_link_at(parent, slot->wide_name, target);
    if (e != kErrNotSupported) return e;
    if (options_.on_link_skipped) ReportPath(slot, options_.on_link_skipped, options_.link_context);
    return kOk;
  }

  // Every entry has a record of its own in the image: more entries than records fit is corrupt.
  err_t TakeEntryFromBudget() {
    if (entries_left_ == 0) return kErrBadFormat;
    --entries_left_;
    return kOk;
  }

  // Tells the caller, once, the path below the target of the innermost entry that failed.
  void ReportFailure(const SePathComponent* slot) {
    if (failure_reported_ || !options_.on_failure) return;
    failure_reported_ = true;
    ReportPath(slot, options_.on_failure, options_.failure_context);
  }

  // Hands the path of the entry at `slot` below the target to a callback.
  void ReportPath(const SePathComponent* slot, void (*report)(void*, const char16_t*),
                  void* context) {
    kd_mp_c pool;
    const char16_t* path = u"";
    for (const SePathComponent* c = table_; c <= slot && c->wide_name && path; ++c) {
      path = path[0] ? path_join(&pool, path, c->wide_name) : c->wide_name;
    }
    report(context, path ? path : u"");
  }

  err_t ExtractFile(file_handle_t parent, const char16_t* name, Extract::File* file) {
    err_t e = file->info.size > largest_file_ ? kErrBadFormat : kOk;
    Owned<uint8_t> buffer =
        e == kOk ? Owned<uint8_t>::Array(kExtractCopyBufferSize) : Owned<uint8_t>();
    if (e == kOk && !buffer) e = kErrOutOfMemory;
    file_handle_t handle = kNoHandle;
    if (e == kOk) e = create_file_at(&handle, parent, name);
    if (e == kOk) e = Copy(file, handle, buffer.get());
    if (e == kOk) {
      // Times are kept where the volume has them; the file is sound without them.
      if (file->info.creation_time) set_creation_time(handle, file->info.creation_time);
      if (file->info.modification_time) set_write_time(handle, file->info.modification_time);
    }
    if (e == kOk && file->info.mode) e = set_file_mode(handle, file->info.mode & kExtractModeMask);
    if (handle != kNoHandle) {
      err_t queued = queue_.Add(handle);
      if (e == kOk) e = queued;
    }
    volume_->Forget(file->node_id, kForgetAll);
    return e;
  }

  // Copies the whole size; where the volume delivers less than asked, zeros stand in.
  err_t Copy(const Extract::File* file, file_handle_t handle, uint8_t* buffer) {
    const uint64_t size = file->info.size;
    for (uint64_t position = 0; position < size;) {
      if (StopRequested()) return kErrCancelled;
      uint64_t left = size - position;
      uint32_t length =
          left < kExtractCopyBufferSize ? static_cast<uint32_t>(left) : kExtractCopyBufferSize;
      uint32_t count = 0;
      if (err_t e = volume_->Read(file->node_id, position, buffer, length, &count)) return e;
      if (count < length) std::memset(buffer + count, 0, length - count);
      if (err_t e = write_file(handle, buffer, length, 0)) return e;
      position += length;
      bytes_written_ += length;
      if (options_.progress) options_.progress(options_.progress_context, bytes_written_);
    }
    return kOk;
  }

  bool StopRequested() const { return options_.stop && options_.stop->triggered(); }

  SeVolume* volume_;
  const ExtractOptions& options_;
  SePathComponent table_[kExtractPathComponents] = {};
  uint64_t id_counter_ = 0;
  uint64_t largest_file_ = ~uint64_t{0};
  uint64_t entries_left_ = ~uint64_t{0};
  uint64_t bytes_written_ = 0;
  bool failure_reported_ = false;
  CloseQueue queue_;
};

bool IsSeparatorOrColon(char16_t c) { return c == u'\\' || c == u'/' || c == u':'; }

bool IsPortDigit(char16_t c) {
  return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (superscript 1-3 too), alone or before spaces or
// an extension: the Win32 layer opens the device, whatever folder the name is in.
bool IsDeviceName(const char16_t* name, uint32_t length) {
  uint32_t stem = 0;
  while (stem < length && name[stem] != u'.') ++stem;
  while (stem > 0 && name[stem - 1] == u' ') --stem;
  if (stem != 3 && stem != 4) return false;
  char16_t upper[3];
  for (uint32_t i = 0; i < 3; ++i) upper[i] = AsciiUpper(name[i]);
  auto is = [&](const char16_t* word) { return std::memcmp(upper, word, sizeof upper) == 0; };
  if (stem == 3) return is(u"CON") || is(u"PRN") || is(u"AUX") || is(u"NUL");
  return (is(u"COM") || is(u"LPT")) && IsPortDigit(name[3]);
}

}  // namespace

namespace Extract {

bool File::OnEntry(const SeEntryInfo* entry, const char* name, bool* more) {
  *more = false;
  if (slot_->utf8_name) return false;
  size_t length = Utf8Length(name);
  auto* utf8 = static_cast<char*>(pool_.Allocate(length + 1));
  char16_t* wide = Utf8ToUtf16Pool(&pool_, name, static_cast<ptrdiff_t>(length));
  if (!utf8 || !wide) {
    // Taken all the same, so the listing moves on; the walk reports the loss.
    name_lost_ = true;
    slot_->utf8_name = "";
    return true;
  }
  std::memcpy(utf8, name, length);
  slot_->utf8_name = utf8;
  slot_->utf8_length = static_cast<uint32_t>(length);
  slot_->wide_name = wide;
  slot_->wide_length = static_cast<uint32_t>(Utf16Length(wide));
  info = *entry;
  return true;
}

}  // namespace Extract

// ".." may only lead the target: after a name, which may itself be a link, it would climb from
// wherever that link leads, which the words of the path do not show.
bool extract_link_stays_inside(const char* target, uint32_t length, uint32_t depth) {
  if (length == 0 || target[0] == '/') return false;
  uint32_t level = depth;  // directories between the target and where the walk stands
  bool named = false;
  for (uint32_t at = 0; at < length;) {
    uint32_t end = at;
    while (end < length && target[end] != '/') ++end;
    uint32_t n = end - at;
    if (n == 2 && target[at] == '.' && target[at + 1] == '.') {
      if (named || level == 0) return false;
      --level;
    } else if (n > 0 && !(n == 1 && target[at] == '.')) {
      named = true;
    }
    at = end + 1;
  }
  return true;
}

bool extract_name_is_safe(const char* utf8_name, uint32_t utf8_length, const char16_t* wide_name,
                          uint32_t wide_length) {
  if (!utf8_name || !wide_name || utf8_length == 0 || wide_length == 0) return false;
  // An overlong form of NUL would end the wide name early: refuse it rather than shorten it.
  for (size_t pos = 0; pos < utf8_length;) {
    if (Utf8Decode(utf8_name, utf8_length, &pos) == 0) return false;
  }
  if (wide_name[0] == u'.' && (wide_length == 1 || (wide_length == 2 && wide_name[1] == u'.')))
    return false;
  for (uint32_t i = 0; i < wide_length; ++i) {
    if (wide_name[i] == 0 || IsSeparatorOrColon(wide_name[i])) return false;
  }
  return true;
}

bool windows_name_is_holdable(const char16_t* name, uint32_t length) {
  static const char16_t kForbidden[] = u"<>:\"|?*";
  for (uint32_t i = 0; i < length; ++i) {
    if (name[i] < 0x20) return false;
    for (const char16_t* f = kForbidden; *f; ++f) {
      if (name[i] == *f) return false;
    }
  }
  if (length == 0 || name[length - 1] == u'.' || name[length - 1] == u' ') return false;
  return !IsDeviceName(name, length);
}

err_t extract_volume_into(file_handle_t target, SeVolume* volume, const ExtractOptions& options) {
  if (IsNoHandle(target) || !volume) return kErrInvalidParameter;
  Extraction extraction(volume, options);
  return extraction.Run(target);
}

err_t extract_volume(const char16_t* target, SeVolume* volume, const ExtractOptions& options) {
  if (!target || !target[0] || !volume) return kErrInvalidParameter;
  // The target may be reached through links the user made; below it nothing is followed.
  err_t e = create_directory_tree(target);
  file_handle_t handle = kNoHandle;
  if (e == kOk) e = open_directory(&handle, target);
  if (e == kOk) e = extract_volume_into(handle, volume, options);
  close_handle(handle);
  return e;
}
