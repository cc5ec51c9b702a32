// SHA-256 (FIPS 180-4): the block and table digest of SHA-256-hashed containers.
//
// The compression function is chosen once per process: the processor's SHA extensions when
// it has them, else a portable one. Both are exposed so tests can pin each to known vectors.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ciso {

inline constexpr uint32_t kSha256DigestSize = 32;
inline constexpr uint32_t kSha256BlockSize = 64;

// The 64 round constants, 16-byte aligned for vector loads.
alignas(16) extern const uint32_t kSha256Round[64];

// Folds `count` consecutive 64-byte blocks into the eight state words.
using Sha256Compress = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

void Sha256CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count);
// The SHA-extension compression, or null when this processor lacks the extensions.
Sha256Compress Sha256CompressShaExtensions();
// The fastest compression this processor runs.
Sha256Compress Sha256BestCompress();

struct Sha256State {
  uint32_t h[8];
  uint64_t length;  // bytes fed so far
  uint8_t pending[kSha256BlockSize];
  uint32_t pending_bytes;
  Sha256Compress compress;
};

// `compress` null picks the best one.
void Sha256Init(Sha256State* s, Sha256Compress compress = nullptr);
void Sha256Update(Sha256State* s, const void* data, size_t length);
void Sha256Finish(Sha256State* s, uint8_t out[kSha256DigestSize]);

}  // namespace ciso
