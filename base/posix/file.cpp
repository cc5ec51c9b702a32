// The file layer over POSIX calls. Paths stay in the program's backslash form until the call,
// where they become UTF-8 slash paths; system errors become Windows codes right after the call.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"

namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochFileTime = 116444736000000000;
constexpr int64_t kUnitsPerSecond = 10000000;

int AsDescriptor(file_handle_t handle) { return static_cast<int>(handle); }

// Descriptor 0 reads as "no handle"; a file that lands there moves up.
int KeepOffZero(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

char16_t* CurrentDirectory(malloc_i* pool) {
  char buffer[PATH_MAX];
  if (!getcwd(buffer, sizeof buffer) || buffer[0] != '/') return nullptr;
  char16_t* out = Utf8ToUtf16Pool(pool, buffer, -1);
  for (char16_t* c = out; c && *c; ++c) {
    if (*c == u'/') *c = u'\\';
  }
  return out;
}

// Drives have no meaning here.
char16_t* DriveCurrentDirectory(malloc_i*, char16_t) { return nullptr; }

bool HasDriveRoot(const char16_t* path) {
  path_parts_t parts;
  return path_split(path, &parts) == kOk && parts.root_length == 2 && path[1] == u':';
}

err_t NativeForm(malloc_i* pool, const char16_t* path, char16_t** native) {
  *native = nullptr;
  if (HasDriveRoot(path)) return kErrInvalidName;
  char16_t* full;
  err_t e = full_path_from(pool, nullptr, path, process_current_directory(), &full);
  if (e != kOk) return e == kErrOutOfMemory ? e : kErrInvalidName;
  return posix_path_from_full(pool, full, native);
}

// One path in native form for one call.
class PosixName {
 public:
  err_t Set(const char16_t* path) {
    char16_t* native;
    err_t e = NativeForm(&pool_, path, &native);
    if (e != kOk) return e;
    name_ = Utf16ToUtf8Pool(&pool_, native, -1);
    return name_ ? kOk : kErrOutOfMemory;
  }
  const char* get() const { return name_; }
  // The error the last failed call on this path stands for.
  err_t Failure() const { return path_errno_to_error(errno, name_); }

 private:
  kd_mp_c pool_;
  char* name_ = nullptr;
};

bool WritesData(uint32_t flags) { return flags & (kOpenWriteData | kOpenCreate | kOpenTruncate); }

int OpenMode(uint32_t flags) {
  int mode = O_RDONLY;
  if (WritesData(flags)) mode = (flags & kOpenReadData) ? O_RDWR : O_WRONLY;
  if (flags & kOpenCreate) mode |= O_CREAT;
  if (flags & kOpenNoFollow) mode |= O_NOFOLLOW;  // ELOOP, which reads as 1921
  return mode | O_CLOEXEC | O_NOCTTY;
}

// Sharing is advisory here: a handle that keeps others from writing holds a shared lock, one
// that writes and keeps others from writing an exclusive one; a conflict gives 32.
err_t ApplySharing(int fd, uint32_t flags) {
  bool writes = WritesData(flags);
  bool denies_write = (flags & kOpenDenyWrite) || (writes && !(flags & kOpenShareWrite));
  if (!denies_write) return kOk;
  if (flock(fd, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return kOk;
  return errno == EWOULDBLOCK ? kErrSharingViolation : kOk;  // no locks on this file system
}

int64_t UnixUnits(uint64_t time) { return static_cast<int64_t>(time) - kUnixEpochFileTime; }

timespec ToTimespec(uint64_t time) {
  int64_t units = UnixUnits(time);
  int64_t seconds = units / kUnitsPerSecond, rest = units % kUnitsPerSecond;
  if (rest < 0) {
    rest += kUnitsPerSecond;
    --seconds;
  }
  return timespec{static_cast<time_t>(seconds), static_cast<long>(rest * 100)};
}

uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kUnixEpochFileTime / kUnitsPerSecond) return 0;
  return static_cast<uint64_t>(seconds * kUnitsPerSecond + nanoseconds / 100 + kUnixEpochFileTime);
}

file_entry_info_t EntryInfo(const struct statx& st, bool other_mount) {
  file_entry_info_t info{};
  info.is_directory = S_ISDIR(st.stx_mode);
  bool mount_root = (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                    (st.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  if (info.is_directory) info.attributes |= kFileAttributeDirectory;
  if (S_ISLNK(st.stx_mode) || mount_root || other_mount) {
    info.attributes |= kFileAttributeReparsePoint;
  }
  if (!(st.stx_mode & S_IWUSR)) info.attributes |= kFileAttributeReadOnly;
  if (!info.attributes) info.attributes = kFileAttributeNormal;
  info.size = st.stx_size;
  if (st.stx_mask & STATX_BTIME) {
    info.creation_time = ToFileTime(st.stx_btime.tv_sec, st.stx_btime.tv_nsec);
  }
  info.access_time = ToFileTime(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
  info.write_time = ToFileTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
  return info;
}

}  // namespace

const current_directory_source_t& process_current_directory() {
  static const current_directory_source_t source{CurrentDirectory, DriveCurrentDirectory};
  return source;
}

err_t native_path(malloc_i* pool, const char16_t* path, char16_t** native) {
  return NativeForm(pool, path, native);
}

err_t open_file(file_handle_t* handle, const char16_t* path, uint32_t flags) {
  *handle = kNoHandle;
  if (!path) return kErrOutOfMemory;
  if (!path[0]) return kErrInvalidName;
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  int fd = open(name.get(), OpenMode(flags), 0666);
  if (fd < 0) return name.Failure();
  fd = KeepOffZero(fd);
  if (fd < 0) return errno_to_error(errno);
  e = ApplySharing(fd, flags);
  // Truncate only once the sharing check passed, so a refused open loses no data.
  if (e == kOk && (flags & kOpenTruncate) && ftruncate(fd, 0) != 0) e = errno_to_error(errno);
  if (e != kOk) {
    close(fd);
    return e;
  }
  *handle = fd;
  return kOk;
}

err_t close_handle(file_handle_t handle) {
  if (IsNoHandle(handle)) return kOk;
  // Linux releases the descriptor even when close is interrupted.
  if (close(AsDescriptor(handle)) != 0 && errno != EINTR) return errno_to_error(errno);
  return kOk;
}

err_t write_file(file_handle_t handle, const void* buffer, uint32_t length, uint32_t flags) {
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  auto* bytes = static_cast<const uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = write(AsDescriptor(handle), bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno_to_error(errno);
    if (n == 0) return kErrWriteFault;
    bytes += n;
    length -= static_cast<uint32_t>(n);
  }
  return kOk;
}

err_t read_file(file_handle_t handle, void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  ssize_t n;
  do {
    n = read(AsDescriptor(handle), buffer, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno_to_error(errno);
  *count = static_cast<uint32_t>(n);
  return kOk;
}

err_t read_file_at(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
                   uint32_t* count) {
  *count = 0;
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrInvalidParameter;
  ssize_t n;
  do {
    n = pread(AsDescriptor(handle), buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno_to_error(errno);
  *count = static_cast<uint32_t>(n);
  return kOk;
}

err_t move_file_pointer(file_handle_t handle, int64_t offset, uint32_t origin, uint64_t* position) {
  if (position) *position = 0;
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin > 2) return kErrInvalidParameter;
  off_t moved = lseek(AsDescriptor(handle), static_cast<off_t>(offset), kWhence[origin]);
  if (moved < 0) return errno_to_error(errno);
  if (position) *position = static_cast<uint64_t>(moved);
  return kOk;
}

err_t set_creation_time(file_handle_t handle, uint64_t time) {
  return IsNoHandle(handle) ? kErrInvalidHandle : kErrNotSupported;
}

err_t set_write_time(file_handle_t handle, uint64_t time) {
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  if (time == 0 || time == UINT64_MAX) return kOk;  // left as it is
  if (time > static_cast<uint64_t>(INT64_MAX)) return kErrInvalidParameter;
  const timespec times[2] = {{0, UTIME_OMIT}, ToTimespec(time)};
  return futimens(AsDescriptor(handle), times) == 0 ? kOk : errno_to_error(errno);
}

err_t open_null_device(file_handle_t* handle) {
  *handle = kNoHandle;
  int fd = KeepOffZero(open("/dev/null", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (fd < 0) return errno_to_error(errno);
  *handle = fd;
  return kOk;
}

err_t query_exists(const char16_t* path, bool* is_directory) {
  if (is_directory) *is_directory = false;
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  struct stat st;
  if (stat(name.get(), &st) != 0) return name.Failure();
  if (is_directory) *is_directory = S_ISDIR(st.st_mode);
  return kOk;
}

err_t create_one_directory(const char16_t* path) {
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  return mkdir(name.get(), 0777) == 0 ? kOk : name.Failure();
}

err_t query_own_attributes(const char16_t* path, uint32_t* attributes) {
  *attributes = 0;
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  struct stat st;
  if (lstat(name.get(), &st) != 0) return name.Failure();
  if (S_ISDIR(st.st_mode)) *attributes |= kFileAttributeDirectory;
  if (S_ISLNK(st.st_mode)) *attributes |= kFileAttributeReparsePoint;
  if (!*attributes) *attributes = kFileAttributeNormal;
  return kOk;
}

err_t delete_path(const char16_t* path) {
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  struct stat st;
  if (lstat(name.get(), &st) != 0) return name.Failure();
  // The path itself: a symbolic link is removed, never its target.
  int result = S_ISDIR(st.st_mode) ? rmdir(name.get()) : unlink(name.get());
  return result == 0 ? kOk : name.Failure();
}

struct directory_listing_t {
  DIR* dir;
  dev_t device;             // entries on another device are mount points
  size_t directory_length;  // the directory's full path with its separator, in path
  char16_t path[1];         // directory_length + kMaxEntryNameUnits + 1 units
};

// A listing over a directory descriptor it takes over (closed on failure), handing out names
// below `full` (bare names when it is null).
static err_t ListDescriptor(int fd, const char16_t* full, directory_listing_t** listing) {
  struct stat st;
  DIR* dir = fstat(fd, &st) == 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    err_t e = errno_to_error(errno);
    close(fd);
    return e;
  }
  size_t length = 0;
  auto* l = static_cast<directory_listing_t*>(
      new_listing_block(offsetof(directory_listing_t, path), full, &length));
  if (!l) {
    closedir(dir);
    return kErrOutOfMemory;
  }
  l->dir = dir;
  l->device = st.st_dev;
  l->directory_length = length;
  *listing = l;
  return kOk;
}

err_t open_directory_listing(directory_listing_t** listing, const char16_t* path, uint32_t flags) {
  *listing = nullptr;
  kd_mp_c pool;
  char16_t* full;
  err_t e = full_path_from(&pool, nullptr, path, process_current_directory(), &full);
  PosixName name;
  if (e == kOk) e = name.Set(full);
  if (e != kOk) return e == kErrOutOfMemory ? e : kErrInvalidName;
  int mode = O_RDONLY | O_DIRECTORY | O_CLOEXEC | ((flags & kListNoFollow) ? O_NOFOLLOW : 0);
  int fd = open(name.get(), mode);
  struct stat st;
  if (fd < 0 && errno == ENOTDIR && (flags & kListNoFollow) && lstat(name.get(), &st) == 0 &&
      S_ISLNK(st.st_mode)) {
    return kErrCantResolveFilename;  // a link, refused as O_NOFOLLOW refuses one elsewhere
  }
  if (fd < 0) return name.Failure();
  return ListDescriptor(fd, full, listing);
}

err_t next_directory_entry(directory_listing_t* listing, const char16_t** path, size_t* length,
                           file_entry_info_t* info) {
  *path = nullptr;
  *length = 0;
  *info = {};
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing->dir);
    if (!entry) return errno ? errno_to_error(errno) : kErrNoMoreFiles;
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct statx st;
    if (statx(dirfd(listing->dir), name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
      if (errno == ENOENT) continue;  // gone since the directory was read
      return errno_to_error(errno);
    }
    char16_t* out = listing->path + listing->directory_length;
    size_t units = Utf8ToUtf16(out, kMaxEntryNameUnits + 1, name, -1);
    if (units > kMaxEntryNameUnits) return kErrFilenameTooLong;
    bool other_mount = makedev(st.stx_dev_major, st.stx_dev_minor) != listing->device;
    *path = listing->path;
    *length = listing->directory_length + units;
    *info = EntryInfo(st, other_mount);
    return kOk;
  }
}

void close_directory_listing(directory_listing_t* listing) {
  if (!listing) return;
  closedir(listing->dir);
  HeapFree(listing);
}

// ---- Work below a directory handle ----

namespace {

// A name of one component as the system takes it, in the caller's pool; null when it is no
// single component or the pool fails (`failure` tells which).
const char* NativeName(kd_mp_c* pool, const char16_t* name, err_t* failure) {
  *failure = kErrInvalidName;
  if (!is_single_component(name)) return nullptr;
  const char* native = Utf16ToUtf8Pool(pool, name, -1);
  if (!native) *failure = kErrOutOfMemory;
  return native;
}

// The descriptor a call takes for a parent: the directory's, or the current directory's for a
// whole path (which is then turned into its native form).
struct AtName {
  err_t Set(file_handle_t parent, const char16_t* name) {
    err_t e = kOk;
    if (IsNoHandle(parent)) {
      fd = AT_FDCWD;
      e = path.Set(name);
      native = path.get();
    } else {
      fd = AsDescriptor(parent);
      native = NativeName(&pool, name, &e);
    }
    return native ? kOk : e;
  }
  kd_mp_c pool;
  PosixName path;
  int fd = AT_FDCWD;
  const char* native = nullptr;
};

err_t Adopt(int fd, file_handle_t* handle) {
  fd = KeepOffZero(fd);
  if (fd < 0) return errno_to_error(errno);
  *handle = fd;
  return kOk;
}

constexpr int kDirectoryOpen = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

err_t open_directory(file_handle_t* directory, const char16_t* path) {
  *directory = kNoHandle;
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  int fd = open(name.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? name.Failure() : Adopt(fd, directory);
}

err_t create_private_directory(file_handle_t* directory, const char16_t* path) {
  *directory = kNoHandle;
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  // mkdir never follows a link planted at the name and fails on anything already there.
  if (mkdir(name.get(), 0700) != 0) return name.Failure();
  int fd = open(name.get(), kDirectoryOpen);
  if (fd < 0) return name.Failure();
  // Between the two calls the name may have been taken over: keep only a directory that is
  // this user's own, and close it to everyone else whatever the umask left.
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || fchmod(fd, 0700) != 0) {
    close(fd);
    return kErrCantResolveFilename;
  }
  return Adopt(fd, directory);
}

err_t create_directory_at(file_handle_t* directory, file_handle_t parent, const char16_t* name) {
  *directory = kNoHandle;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  if (mkdirat(at.fd, at.native, 0777) != 0) return errno_to_error(errno);
  int fd = openat(at.fd, at.native, kDirectoryOpen);
  // Made a moment ago; a link or file there now was put there by someone else.
  if (fd < 0) return errno == ENOTDIR ? kErrCantResolveFilename : errno_to_error(errno);
  return Adopt(fd, directory);
}

err_t create_file_at(file_handle_t* file, file_handle_t parent, const char16_t* name) {
  *file = kNoHandle;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  // O_EXCL fails on anything at the name, a dangling link included.
  int fd =
      openat(at.fd, at.native, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return errno_to_error(errno);
  if (err_t e = Adopt(fd, file)) return e;
  return ApplySharing(AsDescriptor(*file), kOpenCreateOrTruncate);
}

err_t set_file_mode(file_handle_t file, uint32_t mode) {
  return fchmod(AsDescriptor(file), mode & 07777) == 0 ? kOk : errno_to_error(errno);
}

err_t create_link_at(file_handle_t parent, const char16_t* name, const char* target) {
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  return symlinkat(target, at.fd, at.native) == 0 ? kOk : errno_to_error(errno);
}

err_t reopen_for_reading(file_handle_t* reopened, file_handle_t file) {
  *reopened = kNoHandle;
  if (IsNoHandle(file)) return kErrInvalidHandle;
  // A duplicate shares the position: readers use read_file_at.
  int fd = fcntl(AsDescriptor(file), F_DUPFD_CLOEXEC, 1);
  return fd < 0 ? errno_to_error(errno) : Adopt(fd, reopened);
}

err_t check_still_named(file_handle_t parent, const char16_t* name, file_handle_t handle) {
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  struct stat named, held;
  if (fstatat(at.fd, at.native, &named, AT_SYMLINK_NOFOLLOW) != 0) return errno_to_error(errno);
  if (fstat(AsDescriptor(handle), &held) != 0) return errno_to_error(errno);
  bool same = named.st_dev == held.st_dev && named.st_ino == held.st_ino;
  return same ? kOk : kErrCantResolveFilename;
}

err_t delete_held_directory(file_handle_t directory, const char16_t* path) {
  close_handle(directory);
  PosixName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  // rmdir takes a link at the name for no directory (ENOTDIR) rather than follow it.
  return rmdir(name.get()) == 0 ? kOk : name.Failure();
}

err_t open_directory_listing_of(directory_listing_t** listing, file_handle_t directory) {
  *listing = nullptr;
  int fd = fcntl(AsDescriptor(directory), F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return errno_to_error(errno);
  err_t e = ListDescriptor(fd, nullptr, listing);
  if (e == kOk) rewinddir((*listing)->dir);  // the duplicate shares the reading position
  return e;
}

err_t open_entry_to_delete(file_handle_t* entry, bool* enter, file_handle_t parent,
                           const char16_t* name) {
  *entry = kNoHandle;
  *enter = false;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  struct stat named, above;
  if (fstatat(at.fd, at.native, &named, AT_SYMLINK_NOFOLLOW) != 0) return errno_to_error(errno);
  // Files and links are removed by their names alone; so is a mount point, which is never
  // emptied (removing its name then fails on its own).
  if (!S_ISDIR(named.st_mode)) return kOk;
  if (!IsNoHandle(parent) && fstat(at.fd, &above) == 0 && above.st_dev != named.st_dev) return kOk;
  int fd = openat(at.fd, at.native, kDirectoryOpen);
  // Swapped for a link or a file since: that too is removed by its name, never entered.
  if (fd < 0) return errno == ENOTDIR || errno == ELOOP ? kOk : errno_to_error(errno);
  *enter = true;
  return Adopt(fd, entry);
}

err_t delete_opened_entry(file_handle_t entry, bool is_directory, file_handle_t parent,
                          const char16_t* name) {
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  if (unlinkat(at.fd, at.native, is_directory ? AT_REMOVEDIR : 0) == 0) return kOk;
  return errno_to_error(errno);
}
