// Paths, files and directories over the system's native file interface.
//
// Paths are UTF-16 with backslash output on every platform (this is the program's own path
// algebra; the Linux implementation turns it into a native path only at the system call). Both
// separators are accepted on input. Every operation returns kOk or an error code of errors.h and
// leaves its out-parameters empty on failure; strings are built in the caller's pool.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

class malloc_i;

// A native handle (Windows HANDLE, POSIX descriptor); 0 and -1 both mean "no handle".
using file_handle_t = intptr_t;
inline constexpr file_handle_t kNoHandle = -1;
inline bool IsNoHandle(file_handle_t h) { return h == 0 || h == -1; }

// ---- Path algebra (pure text; no system calls except for the current directory) ----

// a without one trailing separator + '\' + b without one leading separator; an empty a gives
// '\' + b. Null only when the pool fails.
char16_t* path_join(malloc_i* pool, const char16_t* a, const char16_t* b);

// Where the parts of a path start. The root is a drive ("C:", absolute when a separator
// follows), a UNC prefix "\\server\share", or empty (absolute when the path starts with one
// separator). The extension starts at the name's last dot, or at the end when the name has
// none or starts with its only dot.
struct path_parts_t {
  size_t root_length;
  bool absolute;
  size_t name_start;
  size_t extension_start;
};
// kErrInvalidName for a null or empty path and for a UNC root with an empty server or share.
err_t path_split(const char16_t* path, path_parts_t* parts);

// The text after the last separator of a path (all of it when it has none): its last name.
const char16_t* path_last_name(const char16_t* path);

// Drops "." components and empty ones, resolves ".." against earlier components (never above
// the root of an absolute path; unresolvable ones stay in front of a relative path), writes
// backslashes. A trailing separator stays; an empty result is ".". Null when the pool fails or
// the root is malformed.
char16_t* path_normalise(malloc_i* pool, const char16_t* path);

// An absolute normalised path: path taken relative to base (made full itself; the current
// directory when base is null). Drive-relative paths ("D:x") use that drive's own current
// directory. Null when the pool fails or no base can be found.
char16_t* full_path(malloc_i* pool, const char16_t* base, const char16_t* path);

// The form the system call takes, as UTF-16: on Windows an object-manager path ("\??\C:\f",
// "\??\UNC\server\share\f"; "\\=\x" passes "\x" through), on Linux a slash path ("/home/x").
// kErrInvalidName for a path with no native form or longer than 65,535 bytes, kErrOutOfMemory when
// the pool fails.
err_t native_path(malloc_i* pool, const char16_t* path, char16_t** native);

// The path as the system's users write it, for messages and for a child's argument 0: Windows
// keeps the program's own form, Linux gets slashes ("temp\setup-1\run" is "temp/setup-1/run").
// A pool copy, or `path` itself when nothing changes or the pool fails; null stays null.
const char16_t* display_path(malloc_i* pool, const char16_t* path);

// ---- Files ----

// Portable open flags.
enum : uint32_t {
  kOpenRead = 0x1,             // no effect; readers give it together with kOpenReadData
  kOpenReadData = 0x2,         // otherwise only attributes can be read
  kOpenWriteAttributes = 0x4,  // attributes and extended attributes
  kOpenWriteData = 0x8,        // others may then only read and delete, unless kOpenShareWrite
  kOpenDenyWrite = 0x20,       // others may not write
  kOpenShareWrite = 0x40,      // others may write even though this handle writes
  kOpenCreate = 0x80,          // create when missing (grants data and attribute writing)
  kOpenTruncate = 0x100,       // truncate an existing file (grants data writing)
  kOpenNoBuffering = 0x200,    // no intermediate buffering
  kOpenAsync = 0x400,          // no synchronous I/O and no wait right
  kOpenExecute = 0x800,        // execute access
  kOpenNoFollow = 0x1000,      // a name that is itself a symbolic link, junction or other
                               // reparse point is refused (kErrCantResolveFilename), never
                               // opened through
};
// The combinations the program uses.
inline constexpr uint32_t kOpenForReading = kOpenRead | kOpenReadData;                  // 0x3
inline constexpr uint32_t kOpenForExclusiveReading = kOpenForReading | kOpenDenyWrite;  // 0x23
inline constexpr uint32_t kOpenCreateOrTruncate =
    kOpenWriteAttributes | kOpenWriteData | kOpenCreate | kOpenTruncate;      // 0x18C
inline constexpr uint32_t kOpenForReadBack = kOpenForReading | kOpenExecute;  // 0x803

// Opens a file by the flags above. When a creating open is refused with kErrAccessDenied, it is
// tried once more as an open of the existing file with its hidden and system attributes
// (overwriting a hidden file needs them). A null path gives kErrOutOfMemory, an empty one
// kErrInvalidName. With kOpenNoFollow only the last component of the path is kept from being
// followed; a dangling link is refused too, so a creating open never makes a file at a link's
// target.
err_t open_file(file_handle_t* handle, const char16_t* path, uint32_t flags);

// Closes a handle; 0 and -1 are ignored. A console handle that is one of the process's
// standard handles but no working console is left open.
err_t close_handle(file_handle_t handle);

// Writes all length bytes at the handle's current position (flags: none yet, pass 0).
err_t write_file(file_handle_t handle, const void* buffer, uint32_t length, uint32_t flags);

// Reads up to length bytes at the current position; *count = 0 at the end of the file.
err_t read_file(file_handle_t handle, void* buffer, uint32_t length, uint32_t* count);

// Reads up to length bytes at `offset` in one system call where the system has one (Linux),
// else as a move and a read; *count = 0 at or past the end. Leaves the position undefined.
err_t read_file_at(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
                   uint32_t* count);

// Moves the position to offset from origin (0 start, 1 current, 2 end); position may be null.
// A null or -1 handle gives kErrInvalidHandle.
err_t move_file_pointer(file_handle_t handle, int64_t offset, uint32_t origin, uint64_t* position);

// The file's size; leaves the position at the end.
err_t get_file_size(file_handle_t handle, uint64_t* size);

// Sets only the creation / last-write time (100 ns units since 1601; 0 leaves it as it is). A null
// or -1 handle gives kErrInvalidHandle. Linux keeps no settable creation time: kErrNotSupported
// there.
err_t set_creation_time(file_handle_t handle, uint64_t time);
err_t set_write_time(file_handle_t handle, uint64_t time);

// Opens the null device for reading and writing, shared for read, write and delete.
err_t open_null_device(file_handle_t* handle);

// ---- Directories ----

// Attribute bits of an entry (the Windows values on both platforms).
enum : uint32_t {
  kFileAttributeReadOnly = 0x1,
  kFileAttributeHidden = 0x2,
  kFileAttributeSystem = 0x4,
  kFileAttributeDirectory = 0x10,
  kFileAttributeArchive = 0x20,
  kFileAttributeNormal = 0x80,
  kFileAttributeReparsePoint = 0x400,  // a link, junction or mount point (Linux: symbolic
                                       // link or the root of another mount)
};

// What a listing tells about one entry. A link is described itself, never its target.
struct file_entry_info_t {
  uint32_t attributes;
  bool is_directory;
  uint64_t size;
  uint64_t creation_time;  // 0 when the system keeps none
  uint64_t access_time;
  uint64_t write_time;
};

// Listing flags; every entry comes with its whole information either way.
enum : uint32_t {
  kListNoFollow = 0x2,  // refuse a directory that is itself a link or junction
                        // (kErrCantResolveFilename)
};

struct directory_listing_t;

// Opens a directory for listing; the listing keeps its full path with a trailing separator.
err_t open_directory_listing(directory_listing_t** listing, const char16_t* path, uint32_t flags);
// The next entry other than "." and "..": its full path (valid until the next call or the
// close) and length, and its information. kErrNoMoreFiles when there are no more.
err_t next_directory_entry(directory_listing_t* listing, const char16_t** path, size_t* length,
                           file_entry_info_t* info);
// Frees a listing (null is ignored).
void close_directory_listing(directory_listing_t* listing);

// Creates the directory and every missing parent: kOk when it exists as a directory already,
// kErrFileExists when a file has its name.
err_t create_directory_tree(const char16_t* path);

// Creates one directory whose parent exists, never taking a link for it: kOk when a directory has
// the name already, kErrFileExists when a file has it, kErrCantResolveFilename when a symbolic
// link, junction or mount point has it, whatever it points to (Linux: a symbolic link).
err_t create_directory_no_follow(const char16_t* path);

// Deletes one file, link (not its target) or empty directory; a read-only one too.
err_t delete_path(const char16_t* path);

// Deletes a directory with everything below it, or a single file. A missing path gives kOk. Links,
// junctions and mount points inside the tree are removed themselves, never entered. An empty path
// (the current directory) gives kErrInvalidName, a root ("C:\", "\\server\share") kErrAccessDenied.
err_t delete_tree(const char16_t* path);

// kOk when the path exists; *is_directory (may be null) tells whether it is a directory.
err_t query_exists(const char16_t* path, bool* is_directory);

// ---- Work below a directory handle ----
//
// A tree that others may race is worked on by handles: every entry is created, opened and
// deleted relative to the handle of its parent, by a name of one component, and a name that is
// a symbolic link, junction or other reparse point is never followed. A directory swapped for a
// link after it was opened is then never written or deleted through.

// Opens an existing directory for the calls below; links in the path itself are followed.
err_t open_directory(file_handle_t* directory, const char16_t* path);

// Creates a new directory whose parent exists, reachable only by this user (Windows: also by SYSTEM
// and the Administrators group, with nothing inherited; Linux: mode 0700), and holds it open: on
// Windows nobody can rename or delete it while the handle lasts. kErrFileExists when anything, a
// link included, has the name already. Delete it with delete_held_directory.
err_t create_private_directory(file_handle_t* directory, const char16_t* path);

// Creates a new directory `name` in `parent` and opens it: kErrFileExists when anything has the
// name.
err_t create_directory_at(file_handle_t* directory, file_handle_t parent, const char16_t* name);

// Creates a new file `name` in `parent` for writing (others may read and delete, not write), with
// the archive attribute: kErrFileExists when anything has the name, so nothing is ever overwritten.
err_t create_file_at(file_handle_t* file, file_handle_t parent, const char16_t* name);

// Sets the permission bits (the low 12 bits of `mode`) of the file `file` holds. Windows keeps no
// such bits: there the file stays as it is.
err_t set_file_mode(file_handle_t file, uint32_t mode);

// Creates a symbolic link `name` in `parent` to `target` (UTF-8, '/' separated), never over
// anything already there (kErrFileExists). Windows: kErrNotSupported, nothing is created.
err_t create_link_at(file_handle_t parent, const char16_t* name, const char* target);

// A second handle to the file `file` holds, for reading and executing its data.
err_t reopen_for_reading(file_handle_t* reopened, file_handle_t file);

// kOk when `name` in `parent` is still what `handle` holds; kErrCantResolveFilename when something
// else (a link, a junction, another directory) has taken the name, a not-found code when nothing
// has it.
err_t check_still_named(file_handle_t parent, const char16_t* name, file_handle_t handle);

// Deletes everything below the directory `directory` holds, by handles: a link, junction or mount
// point is removed itself, never entered. The directory itself stays. kErrStackOverflow for a tree
// nested deeper than kDeleteTreeLevels below it.
inline constexpr uint32_t kDeleteTreeLevels = 256;
err_t delete_tree_below(file_handle_t directory);

// Deletes the empty directory `directory` holds, which `path` names, and closes the handle.
// Windows deletes through the handle; Linux by the path, whose last component is never
// followed.
err_t delete_held_directory(file_handle_t directory, const char16_t* path);
