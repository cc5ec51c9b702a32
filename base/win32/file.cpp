// The file layer over ntdll's native file interface; status values become Windows error codes
// through RtlNtStatusToDosError right after the call that failed.
#include <windows.h>
#include <winternl.h>

#include <cstring>

#include "base/file.h"
#include "base/file_internal.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/win32/private_security.h"

// The native calls mingw's winternl.h does not declare.
extern "C" {
NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apc_context,
                          PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                          PULONG key);
NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apc_context,
                           PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                           PULONG key);
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc,
                                    PVOID apc_context, PIO_STATUS_BLOCK io, PVOID buffer,
                                    ULONG length, FILE_INFORMATION_CLASS information_class,
                                    BOOLEAN single_entry, PUNICODE_STRING file_name,
                                    BOOLEAN restart_scan);
NTSTATUS NTAPI NtQueryAttributesFile(POBJECT_ATTRIBUTES attributes,
                                     PFILE_BASIC_INFORMATION information);
}

namespace {

constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A listing reads this many bytes of entries per native call.
constexpr ULONG kListingBufferBytes = 16384;

err_t StatusToError(NTSTATUS status) {
  return status >= 0 ? kOk : static_cast<err_t>(RtlNtStatusToDosError(status));
}

HANDLE AsHandle(file_handle_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A pool copy of count units of text.
char16_t* PoolCopy(malloc_i* pool, const wchar_t* text, size_t count) {
  auto* out = static_cast<char16_t*>(pool->Allocate((count + 1) * sizeof(char16_t)));
  if (out) std::memcpy(out, text, count * sizeof(char16_t));
  return out;
}

// Reads a path of fewer than 300 characters with one of the system's path queries.
template <typename Query>
char16_t* ReadShortPath(malloc_i* pool, Query query) {
  wchar_t buffer[300];
  DWORD n = query(buffer, 300);
  return (n == 0 || n >= 300) ? nullptr : PoolCopy(pool, buffer, n);
}

char16_t* CurrentDirectory(malloc_i* pool) {
  return ReadShortPath(pool, [](wchar_t* b, DWORD cap) { return GetCurrentDirectoryW(cap, b); });
}

char16_t* DriveCurrentDirectory(malloc_i* pool, char16_t drive) {
  const wchar_t here[] = {static_cast<wchar_t>(drive), L':', L'.', 0};
  return ReadShortPath(
      pool, [&](wchar_t* b, DWORD cap) { return GetFullPathNameW(here, cap, b, nullptr); });
}

// One path in native form for one call: its full path, the counted string and the object
// attributes (names compared without regard to case).
class NtName {
 public:
  err_t Set(const char16_t* path) {
    char16_t* native;
    err_t e = full_path_from(&pool_, nullptr, path, process_current_directory(), &full_);
    if (e == kOk) e = nt_path_from_full(&pool_, full_, &native);
    if (e != kOk) return e == kErrOutOfMemory ? e : kErrInvalidName;
    size_t bytes = Utf16Length(native) * sizeof(char16_t);
    name_.Buffer = reinterpret_cast<PWSTR>(native);
    name_.Length = name_.MaximumLength = static_cast<USHORT>(bytes);
    InitializeObjectAttributes(&attributes_, &name_, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    return kOk;
  }
  const char16_t* full() const { return full_; }
  POBJECT_ATTRIBUTES attributes() { return &attributes_; }

 private:
  kd_mp_c pool_;
  char16_t* full_ = nullptr;
  UNICODE_STRING name_{};
  OBJECT_ATTRIBUTES attributes_{};
};

// The native open that a set of portable open flags stands for.
struct NativeOpen {
  ACCESS_MASK access;
  ULONG share;
  ULONG disposition;
  ULONG attributes;
  ULONG options;
};

NativeOpen MapOpenFlags(uint32_t flags) {
  const bool creates = flags & kOpenCreate;
  const bool writes = flags & (kOpenWriteData | kOpenCreate | kOpenTruncate);
  NativeOpen open{};
  open.access = FILE_READ_ATTRIBUTES | FILE_READ_EA | READ_CONTROL;
  if (!(flags & kOpenAsync)) open.access |= SYNCHRONIZE;
  if (flags & kOpenReadData) open.access |= FILE_READ_DATA;
  if (flags & kOpenExecute) open.access |= FILE_EXECUTE;
  if (flags & (kOpenWriteAttributes | kOpenCreate)) {
    open.access |= FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
  }
  if (writes) open.access |= FILE_WRITE_DATA;
  open.share = kShareAll;
  if ((writes && !(flags & kOpenShareWrite)) || (flags & kOpenDenyWrite)) {
    open.share &= ~FILE_SHARE_WRITE;
  }
  if (flags & kOpenTruncate) {
    open.disposition = creates ? FILE_OVERWRITE_IF : FILE_OVERWRITE;
  } else {
    open.disposition = creates ? FILE_OPEN_IF : FILE_OPEN;
  }
  open.attributes =
      creates ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  open.options = (flags & kOpenAsync) ? 0 : FILE_SYNCHRONOUS_IO_NONALERT;
  if (flags & kOpenNoBuffering) open.options |= FILE_NO_INTERMEDIATE_BUFFERING;
  if (flags & kOpenNoFollow) {
    // The name itself is opened; truncating waits until it is known to be no reparse point.
    open.options |= FILE_OPEN_REPARSE_POINT;
    if (open.disposition == FILE_OVERWRITE_IF) open.disposition = FILE_OPEN_IF;
    if (open.disposition == FILE_OVERWRITE) open.disposition = FILE_OPEN;
  }
  return open;
}

err_t QueryBasic(HANDLE handle, FILE_BASIC_INFORMATION* info) {
  IO_STATUS_BLOCK io{};
  return StatusToError(
      NtQueryInformationFile(handle, &io, info, sizeof *info, FileBasicInformation));
}

bool IsReparsePoint(const FILE_BASIC_INFORMATION& info) {
  return info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
}

// Whether the name is a link, junction or other reparse point. Wine shows its directory links
// this way only when asked by name, and opens their targets even with FILE_OPEN_REPARSE_POINT.
bool NamesReparsePoint(NtName& name) {
  FILE_BASIC_INFORMATION info{};
  return NtQueryAttributesFile(name.attributes(), &info) >= 0 && IsReparsePoint(info);
}

// A no-follow open holds the name itself: a reparse point is refused, a file is truncated when
// the flags ask for it.
err_t FinishNoFollowOpen(HANDLE handle, uint32_t flags) {
  IO_STATUS_BLOCK io{};
  FILE_BASIC_INFORMATION info{};
  err_t e = QueryBasic(handle, &info);
  if (e == kOk && IsReparsePoint(info)) e = kErrCantResolveFilename;
  if (e == kOk && (flags & kOpenTruncate)) {
    FILE_END_OF_FILE_INFORMATION end{};
    e = StatusToError(
        NtSetInformationFile(handle, &io, &end, sizeof end, FileEndOfFileInformation));
  }
  return e;
}

// Opens an existing path, sharing read, write and delete.
err_t OpenExisting(NtName& name, ACCESS_MASK access, ULONG options, HANDLE* handle) {
  IO_STATUS_BLOCK io{};
  NTSTATUS status = NtOpenFile(handle, access, name.attributes(), &io, kShareAll, options);
  if (status < 0) *handle = nullptr;
  return StatusToError(status);
}

err_t CreateNative(HANDLE* handle, NtName& name, const NativeOpen& open) {
  IO_STATUS_BLOCK io{};
  NTSTATUS status =
      NtCreateFile(handle, open.access, name.attributes(), &io, nullptr, open.attributes,
                   open.share, open.disposition, open.options, nullptr, 0);
  if (status < 0) *handle = nullptr;
  return StatusToError(status);
}

// Updates the basic information of an open file; times of -1 or 0 and attributes of 0 are
// left as they are.
err_t SetBasicInformation(HANDLE handle, LONGLONG creation, LONGLONG write, ULONG attributes) {
  FILE_BASIC_INFORMATION info{};
  info.CreationTime.QuadPart = creation;
  info.LastAccessTime.QuadPart = -1;
  info.LastWriteTime.QuadPart = write;
  info.ChangeTime.QuadPart = -1;
  info.FileAttributes = attributes;
  IO_STATUS_BLOCK io{};
  return StatusToError(NtSetInformationFile(handle, &io, &info, sizeof info, FileBasicInformation));
}

err_t MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFORMATION info{};
  info.DoDeleteFile = TRUE;
  IO_STATUS_BLOCK io{};
  return StatusToError(
      NtSetInformationFile(handle, &io, &info, sizeof info, FileDispositionInformation));
}

err_t QueryFileId(HANDLE handle, LONGLONG* id) {
  FILE_INTERNAL_INFORMATION info{};
  IO_STATUS_BLOCK io{};
  err_t e = StatusToError(
      NtQueryInformationFile(handle, &io, &info, sizeof info, FileInternalInformation));
  *id = info.IndexNumber.QuadPart;
  return e;
}

// Marks an opened entry for deletion, a read-only one too.
err_t MarkForDeletionEvenReadOnly(HANDLE handle) {
  err_t e = MarkForDeletion(handle);
  if (e == kErrAccessDenied && SetBasicInformation(handle, 0, 0, FILE_ATTRIBUTE_NORMAL) == kOk) {
    e = MarkForDeletion(handle);
  }
  return e;
}

// Some file systems (Wine's among them) open a link's target even when asked for the link
// itself; deleting through such a handle would delete the target, so it is refused.
err_t CheckOpenedItself(POBJECT_ATTRIBUTES name, HANDLE handle) {
  FILE_BASIC_INFORMATION named{}, opened{};
  if (NtQueryAttributesFile(name, &named) < 0 || !IsReparsePoint(named)) return kOk;
  if (err_t e = QueryBasic(handle, &opened)) return e;
  return IsReparsePoint(opened) ? kOk : kErrNotSupported;
}

bool IsConsoleStyle(file_handle_t handle) { return (handle & 3) == 3; }

bool IsStandardHandle(HANDLE handle) {
  return handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
         handle == GetStdHandle(STD_ERROR_HANDLE);
}

// One read or write: the documented call for console-style handles, the native one otherwise.
err_t Transfer(file_handle_t handle, void* buffer, uint32_t length, uint32_t* done, bool write) {
  *done = 0;
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  HANDLE h = AsHandle(handle);
  if (IsConsoleStyle(handle)) {
    DWORD n = 0;
    BOOL ok = write ? WriteFile(h, buffer, length, &n, nullptr)
                    : ReadFile(h, buffer, length, &n, nullptr);
    *done = n;
    return ok ? kOk : GetLastError();
  }
  IO_STATUS_BLOCK io{};
  NTSTATUS status =
      write ? NtWriteFile(h, nullptr, nullptr, nullptr, &io, buffer, length, nullptr, nullptr)
            : NtReadFile(h, nullptr, nullptr, nullptr, &io, buffer, length, nullptr, nullptr);
  if (status == kStatusPending) {
    status = NtWaitForSingleObject(h, FALSE, nullptr);
    if (status >= 0) status = io.Status;
  }
  if (status == kStatusEndOfFile && !write) return kOk;
  if (status < 0) return StatusToError(status);
  *done = static_cast<uint32_t>(io.Information);
  return kOk;
}

uint64_t NonNegative(const LARGE_INTEGER& value) {
  return value.QuadPart > 0 ? static_cast<uint64_t>(value.QuadPart) : 0;
}

}  // namespace

const current_directory_source_t& process_current_directory() {
  static const current_directory_source_t source{CurrentDirectory, DriveCurrentDirectory};
  return source;
}

err_t native_path(malloc_i* pool, const char16_t* path, char16_t** native) {
  *native = nullptr;
  char16_t* full;
  err_t e = full_path_from(pool, nullptr, path, process_current_directory(), &full);
  if (e != kOk) return e == kErrOutOfMemory ? e : kErrInvalidName;
  return nt_path_from_full(pool, full, native);
}

err_t open_file(file_handle_t* handle, const char16_t* path, uint32_t flags) {
  *handle = kNoHandle;
  if (!path) return kErrOutOfMemory;
  if (!path[0]) return kErrInvalidName;
  NtName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  if ((flags & kOpenNoFollow) && NamesReparsePoint(name)) return kErrCantResolveFilename;
  NativeOpen open = MapOpenFlags(flags);
  HANDLE h;
  e = CreateNative(&h, name, open);
  if (e == kErrAccessDenied && (flags & kOpenCreate)) {
    // Overwriting a hidden or system file needs those attributes named again.
    open.attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    bool overwrite = (flags & kOpenTruncate) && !(flags & kOpenNoFollow);
    open.disposition = overwrite ? FILE_OVERWRITE : FILE_OPEN;
    e = CreateNative(&h, name, open);
  }
  if (e == kOk && (flags & kOpenNoFollow)) {
    e = FinishNoFollowOpen(h, flags);
    if (e != kOk) NtClose(h);
  }
  if (e == kOk) *handle = reinterpret_cast<file_handle_t>(h);
  return e;
}

err_t close_handle(file_handle_t handle) {
  if (IsNoHandle(handle)) return kOk;
  HANDLE h = AsHandle(handle);
  if (IsConsoleStyle(handle)) {
    DWORD mode;
    // A standard handle that is no working console is not ours to close.
    if (IsStandardHandle(h) && !GetConsoleMode(h, &mode)) return kOk;
    return CloseHandle(h) ? kOk : GetLastError();
  }
  return StatusToError(NtClose(h));
}

err_t write_file(file_handle_t handle, const void* buffer, uint32_t length, uint32_t flags) {
  auto* bytes = static_cast<const uint8_t*>(buffer);
  do {
    uint32_t done;
    err_t e = Transfer(handle, const_cast<uint8_t*>(bytes), length, &done, true);
    if (e != kOk) return e;
    if (done == 0 && length > 0) return kErrWriteFault;
    bytes += done;
    length -= done;
  } while (length > 0);
  return kOk;
}

err_t read_file(file_handle_t handle, void* buffer, uint32_t length, uint32_t* count) {
  return Transfer(handle, buffer, length, count, false);
}

err_t read_file_at(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
                   uint32_t* count) {
  *count = 0;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrInvalidParameter;
  if (err_t e = move_file_pointer(handle, static_cast<int64_t>(offset), FILE_BEGIN, nullptr))
    return e;
  return read_file(handle, buffer, length, count);
}

err_t move_file_pointer(file_handle_t handle, int64_t offset, uint32_t origin, uint64_t* position) {
  if (position) *position = 0;
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  if (origin > FILE_END) return kErrInvalidParameter;
  LARGE_INTEGER distance, moved;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(AsHandle(handle), distance, &moved, origin)) return GetLastError();
  if (position) *position = static_cast<uint64_t>(moved.QuadPart);
  return kOk;
}

err_t set_creation_time(file_handle_t handle, uint64_t time) {
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  return SetBasicInformation(AsHandle(handle), static_cast<LONGLONG>(time), -1, 0);
}

err_t set_write_time(file_handle_t handle, uint64_t time) {
  if (IsNoHandle(handle)) return kErrInvalidHandle;
  return SetBasicInformation(AsHandle(handle), -1, static_cast<LONGLONG>(time), 0);
}

err_t open_null_device(file_handle_t* handle) {
  HANDLE h = CreateFileW(L"\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  *handle = kNoHandle;
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  *handle = reinterpret_cast<file_handle_t>(h);
  return kOk;
}

err_t query_exists(const char16_t* path, bool* is_directory) {
  uint32_t attributes;
  err_t e = query_own_attributes(path, &attributes);
  if (is_directory) *is_directory = e == kOk && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return e;
}

err_t create_one_directory(const char16_t* path) {
  NtName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  HANDLE h;
  IO_STATUS_BLOCK io{};
  e = StatusToError(NtCreateFile(&h, FILE_LIST_DIRECTORY | SYNCHRONIZE, name.attributes(), &io,
                                 nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT,
                                 nullptr, 0));
  if (e == kOk) NtClose(h);
  return e;
}

err_t query_own_attributes(const char16_t* path, uint32_t* attributes) {
  *attributes = 0;
  NtName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  FILE_BASIC_INFORMATION info{};
  e = StatusToError(NtQueryAttributesFile(name.attributes(), &info));
  if (e == kOk) *attributes = info.FileAttributes;
  return e;
}

err_t delete_path(const char16_t* path) {
  NtName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  HANDLE h;
  // The path itself: a link or junction is removed, never its target.
  e = OpenExisting(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                   FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, &h);
  if (e != kOk) return e;
  e = CheckOpenedItself(name.attributes(), h);
  if (e == kOk) e = MarkForDeletionEvenReadOnly(h);
  NtClose(h);
  return e;
}

struct directory_listing_t {
  alignas(8) uint8_t buffer[kListingBufferBytes];
  HANDLE handle;
  ULONG next;            // offset of the next entry in buffer
  bool buffer_has_more;  // entries at next are still to be handed out
  bool started;
  size_t directory_length;  // the directory's full path with its separator, in path
  char16_t path[1];         // directory_length + kMaxEntryNameUnits + 1 units
};

// A listing over a directory handle it takes over (closed on failure), handing out names
// below `full` (bare names when it is null).
static err_t ListHandle(HANDLE h, const char16_t* full, directory_listing_t** listing) {
  size_t length = 0;
  auto* l = static_cast<directory_listing_t*>(
      new_listing_block(offsetof(directory_listing_t, path), full, &length));
  if (!l) {
    NtClose(h);
    return kErrOutOfMemory;
  }
  l->handle = h;
  l->directory_length = length;
  *listing = l;
  return kOk;
}

err_t open_directory_listing(directory_listing_t** listing, const char16_t* path, uint32_t flags) {
  *listing = nullptr;
  NtName name;
  err_t e = name.Set(path);
  if (e != kOk) return e;
  HANDLE h;
  ULONG options = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT;
  if (flags & kListNoFollow) options |= FILE_OPEN_REPARSE_POINT;
  e = OpenExisting(name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, options, &h);
  if (e != kOk) return e;
  if (flags & kListNoFollow) {
    IO_STATUS_BLOCK io{};
    FILE_BASIC_INFORMATION info{};
    e = StatusToError(NtQueryInformationFile(h, &io, &info, sizeof info, FileBasicInformation));
    if (e == kOk && (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      e = kErrCantResolveFilename;
    }
  }
  if (e != kOk) {
    NtClose(h);
    return e;
  }
  return ListHandle(h, name.full(), listing);
}

err_t next_directory_entry(directory_listing_t* listing, const char16_t** path, size_t* length,
                           file_entry_info_t* info) {
  *path = nullptr;
  *length = 0;
  *info = {};
  for (;;) {
    if (!listing->buffer_has_more) {
      IO_STATUS_BLOCK io{};
      NTSTATUS status = NtQueryDirectoryFile(
          listing->handle, nullptr, nullptr, nullptr, &io, listing->buffer, kListingBufferBytes,
          FileDirectoryInformation, FALSE, nullptr, listing->started ? FALSE : TRUE);
      listing->started = true;
      if (status < 0) return StatusToError(status);  // 18 at the end
      if (io.Information == 0) return kErrNoMoreFiles;
      listing->next = 0;
      listing->buffer_has_more = true;
    }
    const auto* entry =
        reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(listing->buffer + listing->next);
    listing->next += entry->NextEntryOffset;
    listing->buffer_has_more = entry->NextEntryOffset != 0;
    const auto* name = reinterpret_cast<const char16_t*>(entry->FileName);
    size_t units = entry->FileNameLength / sizeof(char16_t);
    bool dot = units == 1 && name[0] == u'.';
    bool dot_dot = units == 2 && name[0] == u'.' && name[1] == u'.';
    if (dot || dot_dot) continue;
    if (units > kMaxEntryNameUnits) return kErrFilenameTooLong;
    char16_t* out = listing->path + listing->directory_length;
    std::memcpy(out, name, units * sizeof(char16_t));
    out[units] = 0;
    *path = listing->path;
    *length = listing->directory_length + units;
    info->attributes = entry->FileAttributes;
    info->is_directory = entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    info->size = NonNegative(entry->EndOfFile);
    info->creation_time = NonNegative(entry->CreationTime);
    info->access_time = NonNegative(entry->LastAccessTime);
    info->write_time = NonNegative(entry->LastWriteTime);
    return kOk;
  }
}

void close_directory_listing(directory_listing_t* listing) {
  if (!listing) return;
  NtClose(listing->handle);
  HeapFree(listing);
}

// ---- Work below a directory handle ----

namespace {

constexpr ULONG kSynchronousOpen = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;
// What the extraction needs of a directory it made: add to it, list it, delete it at the end.
// No delete access: with it held, programs that list the directory without sharing delete
// (FindFirstFile among them) would be refused.
constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_ADD_FILE |
                                         FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                         FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

// One entry below a directory handle, or a whole path when there is no handle.
class AtName {
 public:
  err_t Set(file_handle_t parent, const char16_t* name) {
    if (IsNoHandle(parent)) {
      relative_ = false;
      return path_.Set(name);
    }
    // A colon would name a stream of the entry, not the entry.
    if (!is_single_component(name)) return kErrInvalidName;
    for (const char16_t* c = name; *c; ++c) {
      if (*c == u':') return kErrInvalidName;
    }
    size_t bytes = Utf16Length(name) * sizeof(char16_t);
    if (bytes > 0xFFFE) return kErrFilenameTooLong;
    name_.Buffer = reinterpret_cast<PWSTR>(const_cast<char16_t*>(name));
    name_.Length = name_.MaximumLength = static_cast<USHORT>(bytes);
    InitializeObjectAttributes(&attributes_, &name_, OBJ_CASE_INSENSITIVE, AsHandle(parent),
                               nullptr);
    return kOk;
  }
  POBJECT_ATTRIBUTES attributes() { return relative_ ? &attributes_ : path_.attributes(); }

 private:
  bool relative_ = true;
  NtName path_;
  UNICODE_STRING name_{};
  OBJECT_ATTRIBUTES attributes_{};
};

// A new file or directory at the name: whatever has the name already gives 80.
err_t CreateNew(file_handle_t* handle, POBJECT_ATTRIBUTES name, ACCESS_MASK access,
                ULONG attributes, ULONG share, ULONG options) {
  *handle = kNoHandle;
  HANDLE h;
  IO_STATUS_BLOCK io{};
  err_t e = StatusToError(NtCreateFile(&h, access, name, &io, nullptr, attributes, share,
                                       FILE_CREATE, options | kSynchronousOpen, nullptr, 0));
  if (e == kErrAlreadyExists) return kErrFileExists;
  if (e == kOk) *handle = reinterpret_cast<file_handle_t>(h);
  return e;
}

}  // namespace

err_t open_directory(file_handle_t* directory, const char16_t* path) {
  *directory = kNoHandle;
  NtName name;
  err_t e = name.Set(path);
  HANDLE h;
  if (e == kOk) {
    e = OpenExisting(name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, &h);
  }
  if (e == kOk) *directory = reinterpret_cast<file_handle_t>(h);
  return e;
}

err_t create_private_directory(file_handle_t* directory, const char16_t* path) {
  *directory = kNoHandle;
  PrivateSecurity security;
  err_t e = security.Build();
  NtName name;
  if (e == kOk) e = name.Set(path);
  if (e != kOk) return e;
  name.attributes()->SecurityDescriptor = security.descriptor();
  // No delete sharing: while the handle lasts, nobody renames, replaces or deletes it.
  return CreateNew(directory, name.attributes(), kDirectoryAccess, FILE_ATTRIBUTE_NORMAL,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE);
}

err_t create_directory_at(file_handle_t* directory, file_handle_t parent, const char16_t* name) {
  *directory = kNoHandle;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  // Held without delete sharing too, so it cannot be swapped for a junction while it is filled.
  return CreateNew(directory, at.attributes(), kDirectoryAccess, FILE_ATTRIBUTE_NORMAL,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE);
}

err_t create_file_at(file_handle_t* file, file_handle_t parent, const char16_t* name) {
  *file = kNoHandle;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  NativeOpen open = MapOpenFlags(kOpenCreateOrTruncate);
  return CreateNew(file, at.attributes(), open.access, FILE_ATTRIBUTE_ARCHIVE, open.share,
                   FILE_NON_DIRECTORY_FILE);
}

err_t set_file_mode(file_handle_t, uint32_t) { return kOk; }

// Links would need a privilege setups do not have, and a tree extracted for a Windows program
// has no use for them.
err_t create_link_at(file_handle_t, const char16_t*, const char*) { return kErrNotSupported; }

err_t reopen_for_reading(file_handle_t* reopened, file_handle_t file) {
  *reopened = kNoHandle;
  if (IsNoHandle(file)) return kErrInvalidHandle;
  // An empty name relative to an open file names that file itself.
  UNICODE_STRING empty{};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &empty, 0, AsHandle(file), nullptr);
  NativeOpen open = MapOpenFlags(kOpenForReadBack);
  HANDLE h;
  IO_STATUS_BLOCK io{};
  err_t e =
      StatusToError(NtCreateFile(&h, open.access, &attributes, &io, nullptr, 0, kShareAll,
                                 FILE_OPEN, FILE_NON_DIRECTORY_FILE | open.options, nullptr, 0));
  if (e == kOk) *reopened = reinterpret_cast<file_handle_t>(h);
  return e;
}

err_t check_still_named(file_handle_t parent, const char16_t* name, file_handle_t handle) {
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  HANDLE h;
  IO_STATUS_BLOCK io{};
  err_t e = StatusToError(NtOpenFile(&h, FILE_READ_ATTRIBUTES | SYNCHRONIZE, at.attributes(), &io,
                                     kShareAll, kSynchronousOpen));
  if (e != kOk) return e;
  LONGLONG named = 0, held = 0;
  e = QueryFileId(h, &named);
  if (e == kOk) e = QueryFileId(AsHandle(handle), &held);
  NtClose(h);
  if (e != kOk) return e;
  return named == held ? kOk : kErrCantResolveFilename;
}

err_t delete_held_directory(file_handle_t directory, const char16_t* path) {
  if (IsNoHandle(directory)) return kErrInvalidHandle;
  // The held handle shares no delete access, so it must go before the directory can; the
  // name is then opened itself, never followed, and must still be the directory held.
  LONGLONG held = 0, named = 0;
  err_t e = QueryFileId(AsHandle(directory), &held);
  NtClose(AsHandle(directory));
  file_handle_t entry = kNoHandle;
  bool enter = false;
  if (e == kOk) e = open_entry_to_delete(&entry, &enter, kNoHandle, path);
  if (e == kOk) e = QueryFileId(AsHandle(entry), &named);
  if (e == kOk && (!enter || named != held)) e = kErrCantResolveFilename;
  if (e == kOk) e = MarkForDeletionEvenReadOnly(AsHandle(entry));
  close_handle(entry);
  return e;
}

err_t open_directory_listing_of(directory_listing_t** listing, file_handle_t directory) {
  *listing = nullptr;
  HANDLE h;
  if (!DuplicateHandle(GetCurrentProcess(), AsHandle(directory), GetCurrentProcess(), &h, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return GetLastError();
  }
  return ListHandle(h, nullptr, listing);
}

err_t open_entry_to_delete(file_handle_t* entry, bool* enter, file_handle_t parent,
                           const char16_t* name) {
  *entry = kNoHandle;
  *enter = false;
  AtName at;
  if (err_t e = at.Set(parent, name)) return e;
  HANDLE h;
  IO_STATUS_BLOCK io{};
  err_t e = StatusToError(NtOpenFile(
      &h, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
      at.attributes(), &io, kShareAll, kSynchronousOpen));
  if (e != kOk) return e;
  FILE_BASIC_INFORMATION opened{};
  e = CheckOpenedItself(at.attributes(), h);
  if (e == kOk) e = QueryBasic(h, &opened);
  if (e != kOk) {
    NtClose(h);
    return e;
  }
  *enter = (opened.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsReparsePoint(opened);
  *entry = reinterpret_cast<file_handle_t>(h);
  return kOk;
}

err_t delete_opened_entry(file_handle_t entry, bool, file_handle_t, const char16_t*) {
  return MarkForDeletionEvenReadOnly(AsHandle(entry));
}
