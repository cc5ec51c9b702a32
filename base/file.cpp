// The portable part of the file layer, built on the platform primitives: the file size, and the
// whole-tree operations (a directory with its parents, a directory with everything below it).
#include <cstring>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"

namespace {

// Levels of the tree delete that keep their listing open at once. A deeper tree still goes:
// the oldest open level is closed and listed afresh when the walk comes back to it.
constexpr size_t kOpenLevels = 100;

bool IsNotFound(err_t e) {
  return e == kErrFileNotFound || e == kErrPathNotFound || e == kErrNotFound;
}

bool IsNameTaken(err_t e) { return e == kErrFileExists || e == kErrAlreadyExists; }

// The full path of a tree's top without trailing separators (a root keeps its own).
struct TreeTop {
  char16_t* path;
  size_t length;
  size_t root_length;
};

err_t FullTreeTop(kd_mp_c* pool, const char16_t* path, TreeTop* top) {
  top->path = full_path(pool, nullptr, path);
  if (!top->path) return pool->FailureCount() ? kErrOutOfMemory : kErrInvalidParameter;
  path_parts_t parts;
  if (path_split(top->path, &parts) != kOk) return kErrInvalidName;
  size_t length = Utf16Length(top->path);
  while (length > parts.root_length + 1 && top->path[length - 1] == u'\\') {
    top->path[--length] = 0;
  }
  *top = {top->path, length, parts.root_length};
  return kOk;
}

// The walk below a directory, depth first, with its own path buffer and listings.
class TreeDeleter {
 public:
  ~TreeDeleter() {
    for (auto*& listing : levels_) close_directory_listing(listing);
    HeapFree(path_);
  }

  // Deletes everything below the directory full, then the directory itself.
  err_t Run(const char16_t* full) {
    kd_heap_ma_c heap;
    path_ = static_cast<char16_t*>(heap.Allocate((kMaxNativePathUnits + 1) * sizeof(char16_t)));
    if (!path_) return kErrOutOfMemory;
    length_ = Utf16Length(full);
    if (length_ > kMaxNativePathUnits) return kErrInvalidName;
    std::memcpy(path_, full, length_ * sizeof(char16_t));
    for (;;) {
      err_t e = Step();
      if (e != kOk) return e;
      if (done_) return kOk;
    }
  }

 private:
  directory_listing_t*& Level(size_t depth) { return levels_[depth % kOpenLevels]; }

  // One entry of the current level, or the end of that level.
  err_t Step() {
    directory_listing_t*& listing = Level(depth_);
    if (!listing) {
      path_[length_] = 0;
      err_t e = open_directory_listing(&listing, path_, kListNoFollow);
      if (e != kOk) return IsNotFound(e) ? LeaveLevel() : e;
    }
    const char16_t* entry;
    size_t entry_length;
    file_entry_info_t info;
    err_t e = next_directory_entry(listing, &entry, &entry_length, &info);
    if (e == kErrNoMoreFiles) return LeaveLevel();
    if (e != kOk) return e;
    if (info.is_directory && !(info.attributes & kFileAttributeReparsePoint)) {
      return EnterLevel(entry, entry_length);
    }
    e = delete_path(entry);  // files, links, junctions and mount points themselves
    return IsNotFound(e) ? kOk : e;
  }

  err_t EnterLevel(const char16_t* entry, size_t entry_length) {
    if (entry_length > kMaxNativePathUnits) return kErrFilenameTooLong;
    std::memcpy(path_, entry, entry_length * sizeof(char16_t));
    length_ = entry_length;
    ++depth_;
    directory_listing_t*& oldest = Level(depth_);
    close_directory_listing(oldest);
    oldest = nullptr;
    return kOk;
  }

  // The current level is empty: delete its directory and go back to its parent.
  err_t LeaveLevel() {
    close_directory_listing(Level(depth_));
    Level(depth_) = nullptr;
    path_[length_] = 0;
    err_t e = delete_path(path_);
    if (e != kOk && !IsNotFound(e)) return e;
    if (depth_ == 0) {
      done_ = true;
      return kOk;
    }
    --depth_;
    while (length_ > 0 && path_[length_ - 1] != u'\\') --length_;
    if (length_ > 0) --length_;
    return kOk;
  }

  directory_listing_t* levels_[kOpenLevels] = {};
  char16_t* path_ = nullptr;
  size_t length_ = 0;
  size_t depth_ = 0;
  bool done_ = false;
};

// Length of the longest prefix of full (cut at a separator after the root) that exists.
size_t ExistingPrefix(char16_t* full, size_t length, size_t root_length) {
  size_t end = length;
  for (;;) {
    size_t cut = end;
    while (cut > root_length + 1 && full[cut - 1] != u'\\') --cut;
    if (cut <= root_length + 1) return root_length;
    --cut;  // at the separator
    full[cut] = 0;
    bool exists = query_exists(full, nullptr) == kOk;
    full[cut] = u'\\';
    if (exists) return cut;
    end = cut;
  }
}

}  // namespace

void* new_listing_block(size_t path_offset, const char16_t* full, size_t* directory_length) {
  size_t length = Utf16Length(full);
  bool add_separator = length == 0 || full[length - 1] != u'\\';
  size_t units = length + add_separator + kMaxEntryNameUnits + 1;
  kd_heap_ma_c heap;
  auto* block = static_cast<uint8_t*>(heap.Allocate(path_offset + units * sizeof(char16_t)));
  if (!block) return nullptr;
  auto* path = reinterpret_cast<char16_t*>(block + path_offset);
  std::memcpy(path, full, length * sizeof(char16_t));
  if (add_separator) path[length++] = u'\\';
  *directory_length = length;
  return block;
}

err_t get_file_size(file_handle_t handle, uint64_t* size) {
  return move_file_pointer(handle, 0, 2, size);
}

err_t create_directory_tree(const char16_t* path) {
  kd_mp_c pool;
  TreeTop top;
  err_t e = FullTreeTop(&pool, path, &top);
  if (e != kOk) return e;
  char16_t* full = top.path;
  bool is_directory;
  if (query_exists(full, &is_directory) == kOk) return is_directory ? kOk : kErrFileExists;

  // Create the missing parents towards full; after a failure only full itself is tried.
  bool failed = false;
  for (size_t i = ExistingPrefix(full, top.length, top.root_length) + 1;
       i < top.length && !failed; ++i) {
    if (full[i] != u'\\') continue;
    full[i] = 0;
    e = create_one_directory(full);
    failed = e != kOk && !IsNameTaken(e);
    full[i] = u'\\';
  }
  e = create_one_directory(full);
  if (IsNameTaken(e)) {
    // Made meanwhile by someone else, or a file has the name.
    e = query_exists(full, &is_directory) == kOk && is_directory ? kOk : kErrFileExists;
  }
  return e;
}

err_t create_directory_no_follow(const char16_t* path) {
  err_t e = create_one_directory(path);
  if (!IsNameTaken(e)) return e;
  uint32_t attributes = 0;
  e = query_own_attributes(path, &attributes);
  if (e != kOk) return e;
  if (attributes & kFileAttributeReparsePoint) return kErrCantResolveFilename;
  return (attributes & kFileAttributeDirectory) ? kOk : kErrFileExists;
}

err_t delete_tree(const char16_t* path) {
  // An empty path would stand for the current directory: never delete that by accident.
  if (!path || !path[0]) return kErrInvalidName;
  kd_mp_c pool;
  TreeTop top;
  err_t e = FullTreeTop(&pool, path, &top);
  if (e != kOk) return e;
  if (top.length <= top.root_length + 1) return kErrAccessDenied;  // a whole drive or share
  e = delete_path(top.path);
  if (e == kErrDirNotEmpty) {
    TreeDeleter walk;
    e = walk.Run(top.path);
  }
  if (e != kOk && !IsNotFound(e)) {
    err_t exists = query_exists(top.path, nullptr);
    if (IsNotFound(exists)) e = kOk;
  }
  return IsNotFound(e) ? kOk : e;
}
