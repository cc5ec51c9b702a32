// The seams of the file layer: the pure path transforms each platform's native_path picks
// from, the current-directory source full_path reads, and the few primitives the portable tree
// operations (create_directory_tree, delete_tree) are built on. Tests use the sources and the
// transforms directly, so both forms are checked on every platform.
#pragma once
#include <cstddef>

#include "base/file.h"

// Longest path the native interface takes: 65,535 bytes of UTF-16, without the terminator.
inline constexpr size_t kMaxNativePathUnits = 32767;

// Where full_path finds current directories. Both return a new absolute path in the pool,
// or null.
struct current_directory_source_t {
  char16_t* (*current)(malloc_i* pool);
  // The current directory of a drive letter ('D' for "D:").
  char16_t* (*drive_current)(malloc_i* pool, char16_t drive);
};
// This process's current directories.
const current_directory_source_t& process_current_directory();

// full_path with an explicit source: kErrOutOfMemory when the pool fails, kErrInvalidParameter when
// no base can be found, kErrInvalidName for a malformed root.
err_t full_path_from(malloc_i* pool, const char16_t* base, const char16_t* path,
                     const current_directory_source_t& cwd, char16_t** full);

// Native forms of a full path (see native_path): the object-manager form and the Linux form.
err_t nt_path_from_full(malloc_i* pool, const char16_t* full, char16_t** native);
err_t posix_path_from_full(malloc_i* pool, const char16_t* full, char16_t** native);

// Longest entry name a listing hands out (NTFS allows 255 UTF-16 units, Linux 255 bytes).
inline constexpr size_t kMaxEntryNameUnits = 260;
// A listing's block: path_offset zero-filled bytes of platform state, then the directory's
// full path with a trailing separator and room for one entry name behind it. Null when the
// heap fails; *directory_length gets the length of the path with its separator. A null full
// leaves the prefix empty: the listing then hands out bare names.
void* new_listing_block(size_t path_offset, const char16_t* full, size_t* directory_length);

// A listing of the directory a handle holds (the handle stays the caller's); its entries come
// as bare names.
err_t open_directory_listing_of(directory_listing_t** listing, file_handle_t directory);

// Opens the entry `name` of `parent` itself, never following it, to delete it; *enter tells
// whether it is a directory to empty first (no link, junction or mount point).
err_t open_entry_to_delete(file_handle_t* entry, bool* enter, file_handle_t parent,
                           const char16_t* name);

// Deletes the entry opened by open_entry_to_delete (a directory once it is empty); the caller
// still closes the handle.
err_t delete_opened_entry(file_handle_t entry, bool is_directory, file_handle_t parent,
                          const char16_t* name);

// Whether a name can stand for one entry below a directory handle: not empty, ".", "..",
// and no separator.
bool is_single_component(const char16_t* name);

// Creates one directory whose parent exists (kErrFileExists or kErrAlreadyExists when the name is
// taken).
err_t create_one_directory(const char16_t* path);

// The attributes of the path itself: a link's own (with kFileAttributeReparsePoint), never its
// target's. Not-found codes when nothing has the name.
err_t query_own_attributes(const char16_t* path, uint32_t* attributes);

// Linux flavour: a system error number as the Windows code it stands for. For ENOENT the path
// decides between kErrFileNotFound (the parent exists) and kErrPathNotFound (a parent component is
// missing); without a path ENOENT gives kErrFileNotFound.
err_t errno_to_error(int error_number);
err_t path_errno_to_error(int error_number, const char* native_path);

// Called by the tree delete after it has opened a directory entry and before it empties it,
// when set: tests swap the entry for a link here to show that the walk never follows it.
extern void (*tree_delete_test_hook)(file_handle_t parent, const char16_t* name);
