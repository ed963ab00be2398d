#pragma once

// The scan of the line-ending stage: the run of internal-form units that it
// copies unchanged.

#include <cstddef>
#include <cstdint>

#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

inline bool isLineBreak(const std::uint8_t* p) {
  return p[0] == 0 && (p[1] == 0x0A || p[1] == 0x0D);
}

// Number of leading whole units in [p, end) that the stage copies unchanged:
// neither CR nor LF, or, when kLfKept, anything but CR (an LF that the stage
// writes as LF needs no work, so LF-only text is a single run).
template <bool kLfKept>
inline std::size_t ordinaryUnitPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  // Little-endian lanes hold a big-endian unit 00 0D as 0x0D00.
  const __m128i cr = _mm_set1_epi16(0x0D00);
  const __m128i lf = _mm_set1_epi16(0x0A00);
  while (end - q >= 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
    __m128i ha = _mm_cmpeq_epi16(a, cr);
    __m128i hb = _mm_cmpeq_epi16(b, cr);
    if constexpr (!kLfKept) {
      ha = _mm_or_si128(ha, _mm_cmpeq_epi16(a, lf));
      hb = _mm_or_si128(hb, _mm_cmpeq_epi16(b, lf));
    }
    const unsigned hit = static_cast<unsigned>(_mm_movemask_epi8(ha)) |
                         (static_cast<unsigned>(_mm_movemask_epi8(hb)) << 16);
    if (hit != 0)
      return (static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(hit))) / 2;
    q += 32;
  }
#endif
  if constexpr (kLfKept) {
    while (end - q >= 2 && !(q[0] == 0 && q[1] == 0x0D)) q += 2;
  } else {
    while (end - q >= 2 && !isLineBreak(q)) q += 2;
  }
  return static_cast<std::size_t>(q - p) / 2;
}

}  // namespace mek
