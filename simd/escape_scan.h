#pragma once

// The ASCII scan of the ISO-2022-JP decoder: bytes that stand for themselves
// in the ASCII state whatever follows them.

#include <cstddef>
#include <cstdint>

#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

inline constexpr std::uint8_t kEscapeByte = 0x1B;
inline constexpr std::uint8_t kShiftOutByte = 0x0E;
inline constexpr std::uint8_t kShiftInByte = 0x0F;

// An ASCII byte that stands for itself in the ASCII state whatever follows:
// below 0x80 and none of the bytes that may begin a control sequence.
inline constexpr bool isPlainAscii(std::uint8_t b) {
  return b < 0x80 && b != kEscapeByte && b != kShiftOutByte && b != kShiftInByte;
}

#if MEK_SIMD_SSE2
// Bit i set when byte i of the 16 at p is not plain ASCII.
inline unsigned notPlainMask(const std::uint8_t* p) {
  const __m128i esc = _mm_set1_epi8(static_cast<char>(kEscapeByte));
  const __m128i shiftBits = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i shift = _mm_set1_epi8(static_cast<char>(kShiftOutByte));  // SO or SI
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i control =
      _mm_or_si128(_mm_cmpeq_epi8(v, esc), _mm_cmpeq_epi8(_mm_and_si128(v, shiftBits), shift));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(v, control)));
}
#endif

// Number of leading plain ASCII bytes in [p, end). Looks at 32 bytes at a
// time, which covers most runs of mixed text in one step.
inline std::size_t plainAsciiPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  while (end - q >= 32) {
    const unsigned long long mask = notPlainMask(q) | notPlainMask(q + 16) << 16 | 1ULL << 32;
    const unsigned n = static_cast<unsigned>(__builtin_ctzll(mask));
    q += n;
    if (n != 32) return static_cast<std::size_t>(q - p);
  }
  while (end - q >= 16) {
    const unsigned mask = notPlainMask(q);
    if (mask != 0)
      return static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(mask));
    q += 16;
  }
#endif
  while (q < end && isPlainAscii(*q)) ++q;
  return static_cast<std::size_t>(q - p);
}

}  // namespace mek
