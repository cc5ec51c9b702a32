// The portable part of the file layer, built on the platform primitives: the file size, and the
// whole-tree operations (a directory with its parents, a directory with everything below it).
#include <cstring>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"

namespace {

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

err_t DeleteBelow(file_handle_t directory, uint32_t level);

// Deletes one entry of a directory held open: a directory is emptied through its own handle
// first, anything else (links and junctions too) goes by its name alone.
err_t DeleteEntry(file_handle_t parent, const char16_t* name, uint32_t level) {
  file_handle_t entry;
  bool enter;
  err_t e = open_entry_to_delete(&entry, &enter, parent, name);
  if (e == kOk && enter) {
    if (tree_delete_test_hook) tree_delete_test_hook(parent, name);
    e = DeleteBelow(entry, level + 1);
  }
  if (e == kOk) e = delete_opened_entry(entry, enter, parent, name);
  close_handle(entry);
  return IsNotFound(e) ? kOk : e;
}

err_t DeleteBelow(file_handle_t directory, uint32_t level) {
  if (level >= kDeleteTreeLevels) return kErrStackOverflow;
  directory_listing_t* listing;
  err_t e = open_directory_listing_of(&listing, directory);
  if (e != kOk) return e;
  const char16_t* name;
  size_t length;
  file_entry_info_t info;
  while (e == kOk && (e = next_directory_entry(listing, &name, &length, &info)) == kOk) {
    e = DeleteEntry(directory, name, level);
  }
  close_directory_listing(listing);
  return e == kErrNoMoreFiles ? kOk : e;
}

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
  size_t length = full ? Utf16Length(full) : 0;
  bool add_separator = full && (length == 0 || full[length - 1] != u'\\');
  size_t units = length + add_separator + kMaxEntryNameUnits + 1;
  kd_heap_ma_c heap;
  auto* block = static_cast<uint8_t*>(heap.Allocate(path_offset + units * sizeof(char16_t)));
  if (!block) return nullptr;
  auto* path = reinterpret_cast<char16_t*>(block + path_offset);
  if (full) std::memcpy(path, full, length * sizeof(char16_t));  // null: bare names
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
  for (size_t i = ExistingPrefix(full, top.length, top.root_length) + 1; i < top.length && !failed;
       ++i) {
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

void (*tree_delete_test_hook)(file_handle_t parent, const char16_t* name) = nullptr;

bool is_single_component(const char16_t* name) {
  if (!name || !name[0]) return false;
  if (name[0] == u'.' && (!name[1] || (name[1] == u'.' && !name[2]))) return false;
  for (const char16_t* c = name; *c; ++c) {
    if (*c == u'\\' || *c == u'/') return false;
  }
  return true;
}

err_t delete_tree_below(file_handle_t directory) { return DeleteBelow(directory, 0); }

err_t delete_tree(const char16_t* path) {
  // An empty path would stand for the current directory: never delete that by accident.
  if (!path || !path[0]) return kErrInvalidName;
  kd_mp_c pool;
  TreeTop top;
  err_t e = FullTreeTop(&pool, path, &top);
  if (e != kOk) return e;
  if (top.length <= top.root_length + 1) return kErrAccessDenied;  // a whole drive or share
  return DeleteEntry(kNoHandle, top.path, 0);
}
