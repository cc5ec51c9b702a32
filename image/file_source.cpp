// SystemFiles: the ImageSource over the file layer.

#include "base/pool.h"
#include "image/iso_reader.h"
#include "image/source.h"

namespace {

class FileLayerSource final : public ImageSource {
 public:
  err_t Open(const char16_t* path, uint32_t flags, file_handle_t* handle) override {
    *handle = kNoHandle;
    file_handle_t h = kNoHandle;
    err_t e = open_file(&h, path, flags);
    if (e == kOk) *handle = h;
    return e;
  }

  void Close(file_handle_t handle) override { close_handle(handle); }

  err_t Size(file_handle_t handle, uint64_t* size) override {
    *size = 0;
    return get_file_size(handle, size);
  }

  err_t ReadAt(file_handle_t handle, uint64_t offset, void* buffer, uint32_t length,
               uint32_t* count) override {
    return read_file_at(handle, offset, buffer, length, count);
  }

  char16_t* FullPath(const char16_t* path) override {
    // full_path builds intermediate strings in the pool; the pool frees them all.
    kd_mp_c pool;
    char16_t* full = full_path(&pool, nullptr, path);
    return full ? CopyText16(full).release() : nullptr;
  }

  err_t ListDirectory(const char16_t* directory, Visitor visit, void* context) override {
    directory_listing_t* listing;
    if (err_t e = open_directory_listing(&listing, directory, 0)) return e;
    err_t result = kOk;
    for (;;) {
      const char16_t* path;
      size_t length;
      file_entry_info_t info;
      err_t e = next_directory_entry(listing, &path, &length, &info);
      if (e == kErrNoMoreFiles) break;
      if (e || (e = visit(context, path, info.is_directory))) {
        result = e;
        break;
      }
    }
    close_directory_listing(listing);
    return result;
  }
};

}  // namespace

ImageSource* SystemFiles() {
  static FileLayerSource source;
  return &source;
}

err_t OpenImageFile(const char16_t* path, IsoReader** out, const char** reader_name) {
  IsoReader* reader;
  if (err_t e = OpenImage(SystemFiles(), &reader, path, kNoHandle, nullptr, 0, reader_name)) {
    *out = nullptr;
    return e;
  }
  if (err_t e = reader->Open(nullptr)) {
    reader->Destroy();
    *out = nullptr;
    if (reader_name) *reader_name = nullptr;
    return e;
  }
  *out = reader;
  return kOk;
}
