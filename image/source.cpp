#include "image/source.h"

err_t ReadExactly(ImageSource* source, file_handle_t handle, uint64_t offset, void* buffer,
                  uint32_t length) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    uint32_t count = 0;
    if (err_t e = source->ReadAt(handle, offset, p, length, &count)) return e;
    if (count == 0) return kErrHandleEof;
    p += count, offset += count, length -= count;
  }
  return kOk;
}
