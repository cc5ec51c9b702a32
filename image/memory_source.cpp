#include "image/memory_source.h"

#include <cstring>

#include "base/own.h"

namespace {

bool SameText(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// Length of the directory part of a path (up to its last backslash), or 0 when it has none.
size_t DirectoryLength(const char16_t* path) {
  size_t last = 0;
  for (size_t i = 0; path[i]; ++i)
    if (path[i] == u'\\') last = i;
  return last;
}

}  // namespace

bool MemoryFiles::Add(const char16_t* path, const void* bytes, size_t size) {
  if (count_ == kMaxFiles) return false;
  files_[count_++] = {path, static_cast<const uint8_t*>(bytes), size};
  return true;
}

// Handles are 1 + the file's index, so 0 and -1 never name a file.
const MemoryFiles::File* MemoryFiles::ByHandle(file_handle_t handle) const {
  if (handle < 1 || static_cast<size_t>(handle) > count_) return nullptr;
  return &files_[handle - 1];
}

err_t MemoryFiles::Open(const char16_t* path, uint32_t, file_handle_t* handle) {
  *handle = kNoHandle;
  for (size_t i = 0; i < count_; ++i)
    if (SameText(files_[i].path, path)) {
      *handle = static_cast<file_handle_t>(i + 1);
      ++open_handles_;
      return kOk;
    }
  return kErrFileNotFound;
}

void MemoryFiles::Close(file_handle_t handle) {
  if (ByHandle(handle)) --open_handles_;
}

err_t MemoryFiles::Size(file_handle_t handle, uint64_t* size) {
  const File* f = ByHandle(handle);
  *size = f ? f->size : 0;
  return f ? kOk : kErrInvalidHandle;
}

err_t MemoryFiles::ReadAt(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
                          uint32_t* count) {
  *count = 0;
  const File* f = ByHandle(handle);
  if (!f) return kErrInvalidHandle;
  if (offset >= f->size) return kOk;
  size_t n = f->size - offset < length ? static_cast<size_t>(f->size - offset) : length;
  std::memcpy(buffer, f->bytes + offset, n);
  *count = static_cast<uint32_t>(n);
  return kOk;
}

char16_t* MemoryFiles::FullPath(const char16_t* path) { return CopyText16(path).release(); }

err_t MemoryFiles::ListDirectory(const char16_t* directory, Visitor visit, void* context) {
  size_t dir_len = 0;
  while (directory[dir_len]) ++dir_len;
  while (dir_len > 0 && directory[dir_len - 1] == u'\\') --dir_len;
  for (size_t i = 0; i < count_; ++i) {
    const char16_t* path = files_[i].path;
    if (DirectoryLength(path) != dir_len ||
        std::memcmp(path, directory, dir_len * sizeof(char16_t)) != 0)
      continue;
    if (err_t e = visit(context, path, false)) return e;
  }
  return kOk;
}
