// SHA-256 compression with the x86 SHA extensions, offered only when cpuid reports them
// (together with SSSE3 and SSE4.1, which the shuffles and blends need).
#include "image/sha256.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

namespace ciso {
namespace {

// 32-bit Windows callers may hand over a stack aligned to 4 bytes only; realign it, since
// spilled vector registers need 16.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void CompressShaExtensions(
    uint32_t state[8], const uint8_t* blocks, size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The instructions want the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count > 0; --count, blocks += kSha256BlockSize) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    __m128i w[4];  // the last four groups of four schedule words
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
      __m128i words;
      if (group < 4) {
        words = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * group)), byte_swap);
      } else {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four words at a time.
        words = _mm_sha256msg1_epu32(w[group & 3], w[(group + 1) & 3]);
        words = _mm_add_epi32(words, _mm_alignr_epi8(w[(group + 3) & 3], w[(group + 2) & 3], 4));
        words = _mm_sha256msg2_epu32(words, w[(group + 3) & 3]);
      }
      w[group & 3] = words;
      __m128i msg = _mm_add_epi32(
          words, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Round + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(msg, 0x0E));
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool HasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29));
}

}  // namespace

Sha256Compress Sha256CompressShaExtensions() {
  static const bool available = HasShaExtensions();
  return available ? CompressShaExtensions : nullptr;
}

}  // namespace ciso

#else

namespace ciso {
Sha256Compress Sha256CompressShaExtensions() { return nullptr; }
}  // namespace ciso

#endif
