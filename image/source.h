// The files a reader works on. Readers open, size, read and list files only through an
// ImageSource, so the same reader runs over real files (SystemFiles, over the file layer) or
// over files held in memory (MemoryFiles, for tests and fuzzing).
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"

class ImageSource {
 public:
  // Opens a file for reading with the file layer's open flags (kOpenForReading or
  // kOpenForExclusiveReading).
  virtual err_t Open(const char16_t* path, uint32_t flags, file_handle_t* handle) = 0;
  virtual void Close(file_handle_t handle) = 0;
  virtual err_t Size(file_handle_t handle, uint64_t* size) = 0;
  // Reads up to `length` bytes at `offset`; *count is short only at the end of the file.
  virtual err_t ReadAt(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
                       uint32_t* count) = 0;
  // The absolute form of a path as a heap string (HeapFree), or null when it has none.
  virtual char16_t* FullPath(const char16_t* path) = 0;
  // Calls `visit` with every entry of a directory (its full path and whether it is a
  // directory itself); a non-zero answer from `visit` ends the listing and is returned.
  using Visitor = err_t (*)(void* context, const char16_t* path, bool is_directory);
  virtual err_t ListDirectory(const char16_t* directory, Visitor visit, void* context) = 0;

 protected:
  ~ImageSource() = default;
};

// Real files, through the file layer.
ImageSource* SystemFiles();

// Reads exactly `length` bytes at `offset`: kErrHandleEof when the file ends first.
err_t ReadExactly(ImageSource* source, file_handle_t handle, uint64_t offset, void* buffer,
                  uint32_t length);
