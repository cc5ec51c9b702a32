// Little- and big-endian loads and stores of fixed-width integers at any byte address.
//
// On-disc records are read field by field through these helpers, never by casting a struct
// over a buffer, so alignment and host byte order never matter.
#pragma once
#include <cstdint>

inline uint16_t LoadLe16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t LoadLe32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t LoadLe64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return LoadLe32(b) | (static_cast<uint64_t>(LoadLe32(b + 4)) << 32);
}
inline uint16_t LoadBe16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t LoadBe32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (static_cast<uint32_t>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}
inline uint64_t LoadBe64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (static_cast<uint64_t>(LoadBe32(b)) << 32) | LoadBe32(b + 4);
}

inline void StoreLe16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(void* p, uint64_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreBe32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
