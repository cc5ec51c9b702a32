#include "image/iso_dd.h"

#include <cstring>

#include "base/own.h"

#include "image/format.h"
#include "image/source.h"

namespace ciso {
namespace {

constexpr uint32_t kSignatureAt = 16 * kSectorSize;
constexpr uint32_t kSignatureSize = 7;
constexpr uint8_t kSignatures[][kSignatureSize] = {
    {0x01, 'C', 'D', '0', '0', '1', 0x01},  // ISO 9660 primary volume descriptor
    {0x00, 'B', 'E', 'A', '0', '1', 0x01},  // UDF: beginning of the extended area
    {0x00, 'N', 'S', 'R', '0', '2', 0x01},  // UDF 1.x
    {0x00, 'N', 'S', 'R', '0', '3', 0x01},  // UDF 2.x
};

class IsoDd final : public IsoReader {
 public:
  IsoDd(ImageSource* source, char16_t* path, uint64_t size)
      : source_(source), path_(path), size_(size) {}

  void Destroy() override {
    CloseFiles();
    HeapDelete(this);
  }
  err_t Open(IsoPasswordIterator*) override { return kOk; }
  uint32_t SectorSize() override { return kSectorSize; }
  uint64_t ImageSize() override { return size_; }
  uint32_t SessionCount() override { return 0; }
  uint64_t SessionStart(uint32_t) override { return 0; }

  // A verify read only proves that the file opens. Past the end of the file the destination
  // reads as zeros, as every reader's does.
  err_t Read(uint64_t offset, void* destination, uint32_t count) override {
    if (handle_ == kNoHandle) {
      if (err_t e = source_->Open(path_.get(), kOpenForExclusiveReading, &handle_)) return e;
    }
    if (!destination) return kOk;
    uint8_t* p = static_cast<uint8_t*>(destination);
    while (count > 0) {
      uint32_t got = 0;
      if (err_t e = source_->ReadAt(handle_, offset, p, count, &got)) return e;
      if (got == 0) break;
      p += got, offset += got, count -= got;
    }
    std::memset(p, 0, count);
    return kOk;
  }

  void CloseFiles() override {
    if (handle_ != kNoHandle) source_->Close(handle_);
    handle_ = kNoHandle;
  }

 private:
  ImageSource* source_;
  OwnedText16 path_;
  uint64_t size_;
  file_handle_t handle_ = kNoHandle;
};

}  // namespace

err_t CreateIsoDd(ImageSource* source, IsoReader** out, const char16_t* path, file_handle_t handle,
                  const uint8_t* probe, uint32_t probe_length) {
  *out = nullptr;
  if (probe_length < kSignatureAt + kSignatureSize) return kErrHandleEof;
  bool known = false;
  for (const auto& signature : kSignatures)
    known |= std::memcmp(probe + kSignatureAt, signature, kSignatureSize) == 0;
  if (!known) return kErrBadFormat;
  uint64_t size = 0;
  if (err_t e = source->Size(handle, &size)) return e;
  char16_t* full = source->FullPath(path);
  if (!full) return kErrInvalidParameter;
  IsoDd* reader = HeapNew<IsoDd>(source, full, size);
  if (!reader) {
    HeapFree(full);
    return kErrOutOfMemory;
  }
  *out = reader;
  return kOk;
}

}  // namespace ciso
