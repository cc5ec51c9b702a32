#include "image/sha256.h"

#include <atomic>
#include <cstring>

#include "base/endian.h"

namespace ciso {
namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::atomic<Sha256Compress> g_best{nullptr};

}  // namespace

alignas(16) const uint32_t kSha256Round[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

void Sha256CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count) {
  for (; count > 0; --count, blocks += kSha256BlockSize) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBe32(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                    kSha256Round[t] + w[t];
      uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

Sha256Compress Sha256BestCompress() {
  Sha256Compress best = g_best.load(std::memory_order_acquire);
  if (!best) {
    best = Sha256CompressShaExtensions();
    if (!best) best = Sha256CompressPortable;
    g_best.store(best, std::memory_order_release);
  }
  return best;
}

void Sha256Init(Sha256State* s, Sha256Compress compress) {
  std::memcpy(s->h, kInitial, sizeof kInitial);
  s->length = 0;
  s->pending_bytes = 0;
  s->compress = compress ? compress : Sha256BestCompress();
}

void Sha256Update(Sha256State* s, const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  s->length += length;
  if (s->pending_bytes > 0) {
    size_t take = kSha256BlockSize - s->pending_bytes;
    if (take > length) take = length;
    std::memcpy(s->pending + s->pending_bytes, p, take);
    s->pending_bytes += static_cast<uint32_t>(take);
    p += take, length -= take;
    if (s->pending_bytes < kSha256BlockSize) return;
    s->compress(s->h, s->pending, 1);
    s->pending_bytes = 0;
  }
  size_t whole = length / kSha256BlockSize;
  if (whole > 0) s->compress(s->h, p, whole);
  p += whole * kSha256BlockSize, length -= whole * kSha256BlockSize;
  std::memcpy(s->pending, p, length);
  s->pending_bytes = static_cast<uint32_t>(length);
}

void Sha256Finish(Sha256State* s, uint8_t out[kSha256DigestSize]) {
  uint64_t bits = s->length * 8;
  uint8_t tail[2 * kSha256BlockSize] = {};
  std::memcpy(tail, s->pending, s->pending_bytes);
  tail[s->pending_bytes] = 0x80;
  size_t blocks = s->pending_bytes + 9 > kSha256BlockSize ? 2 : 1;
  uint8_t* end = tail + blocks * kSha256BlockSize;
  StoreBe32(end - 8, static_cast<uint32_t>(bits >> 32));
  StoreBe32(end - 4, static_cast<uint32_t>(bits));
  s->compress(s->h, tail, blocks);
  for (int i = 0; i < 8; ++i) StoreBe32(out + 4 * i, s->h[i]);
}

}  // namespace ciso
