// Files held in memory, served as an ImageSource: the fuzz target opens a container from its
// input bytes, and tests build part sets and hostile files without touching the disc.
//
// Paths are compared exactly; a file's directory is everything before its last backslash.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/source.h"

class MemoryFiles final : public ImageSource {
 public:
  static constexpr size_t kMaxFiles = 16;

  // Adds a file (the bytes are borrowed, not copied); false when the table is full.
  bool Add(const char16_t* path, const void* bytes, size_t size);
  // How many handles are open now (tests check that readers close what they open).
  int OpenHandles() const { return open_handles_; }

  err_t Open(const char16_t* path, uint32_t flags, file_handle_t* handle) override;
  void Close(file_handle_t handle) override;
  err_t Size(file_handle_t handle, uint64_t* size) override;
  err_t ReadAt(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
               uint32_t* count) override;
  char16_t* FullPath(const char16_t* path) override;
  err_t ListDirectory(const char16_t* directory, Visitor visit, void* context) override;

 private:
  struct File {
    const char16_t* path;
    const uint8_t* bytes;
    size_t size;
  };
  const File* ByHandle(file_handle_t handle) const;

  File files_[kMaxFiles] = {};
  size_t count_ = 0;
  int open_handles_ = 0;
};
