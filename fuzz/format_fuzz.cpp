// Fuzzes the formatter: the input bytes are the format, for TextFormat8 as they are and for
// TextFormat as little-endian UTF-16 units. Every argument is the same pointer to a zeroed,
// writable, terminated scratch block, valid whether read as an integer, a text, a GUID or a
// count target. Each conversion reads at most four argument slots (width, precision and a
// 64-bit value, which takes two on a 32-bit build), so 16 conversions never outrun 64 slots.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "base/pool.h"

namespace {

constexpr size_t kMaxConversions = 16;
constexpr size_t kCapacities[] = {0, 1, 2, 3, 7, 64, 4096};
constexpr size_t kMaxPoolText = 1 << 20;

#define ISORUN_ARGS8(p) p, p, p, p, p, p, p, p
#define ISORUN_ARGS64(p)                                                                   \
  ISORUN_ARGS8(p), ISORUN_ARGS8(p), ISORUN_ARGS8(p), ISORUN_ARGS8(p), ISORUN_ARGS8(p), \
      ISORUN_ARGS8(p), ISORUN_ARGS8(p), ISORUN_ARGS8(p)

template <typename Unit>
size_t CountPercent(const std::vector<Unit>& text) {
  size_t n = 0;
  for (Unit u : text) n += u == '%';
  return n;
}

// The output must be terminated within the capacity and be as long as promised.
template <typename Unit>
void CheckOutput(const std::vector<Unit>& out, size_t cap, size_t len) {
  if (cap == 0) return;
  size_t used = 0;
  while (used < cap && out[used] != 0) ++used;
  if (used == cap || used > len) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> fmt8(data, data + size);
  fmt8.push_back(0);
  std::vector<char16_t> fmt16;
  for (size_t i = 0; i + 1 < size; i += 2) fmt16.push_back(char16_t(data[i] | data[i + 1] << 8));
  fmt16.push_back(0);
  if (CountPercent(fmt8) > kMaxConversions) return 0;  // a unit '%' needs a byte '%'

  alignas(16) static uint8_t scratch[256];
  for (size_t cap : kCapacities) {
    std::memset(scratch, 0, sizeof scratch);
    std::vector<char> out8(cap);
    size_t len8 = TextFormat8(out8.data(), cap, fmt8.data(), ISORUN_ARGS64(scratch));
    CheckOutput(out8, cap, len8);

    std::memset(scratch, 0, sizeof scratch);
    std::vector<char16_t> out16(cap);
    size_t len16 = TextFormat(out16.data(), cap, fmt16.data(), ISORUN_ARGS64(scratch));
    CheckOutput(out16, cap, len16);
  }
  // The pool takes the whole result, so only texts of a sane size go there.
  std::memset(scratch, 0, sizeof scratch);
  if (TextFormat(nullptr, 0, fmt16.data(), ISORUN_ARGS64(scratch)) < kMaxPoolText) {
    std::memset(scratch, 0, sizeof scratch);
    kd_mp_c pool;
    TextFormatPool(&pool, fmt16.data(), ISORUN_ARGS64(scratch));
  }
  return 0;
}
