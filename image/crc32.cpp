#include "image/crc32.h"

#include <zlib.h>

namespace ciso {

uint32_t Crc32(uint32_t previous, const void* data, size_t length) {
  const Bytef* p = static_cast<const Bytef*>(data);
  uLong crc = previous;
  // zlib takes 32-bit lengths; feed larger runs in slices.
  while (length > 0) {
    uInt step = length > 0x40000000 ? 0x40000000u : static_cast<uInt>(length);
    crc = crc32(crc, p, step);
    p += step;
    length -= step;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace ciso
