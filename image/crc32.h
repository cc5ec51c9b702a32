// CRC-32 of ISO-HDLC (the zlib checksum): guards the container's own records and is the
// block digest of CRC-32-hashed containers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ciso {

// Chains: Crc32(Crc32(0, a), b) == Crc32(0, a + b); a previous value of 0 starts afresh.
uint32_t Crc32(uint32_t previous, const void* data, size_t length);

}  // namespace ciso
