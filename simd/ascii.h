#pragma once

// Fast scanning and copying of ASCII runs, shared by the codecs' hot loops.
// SSE2 is the x86-64 baseline; other targets take the word-at-a-time path.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

// Number of leading bytes in [p, end) that are below 0x80.
inline std::size_t asciiPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  while (end - q >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    int mask = _mm_movemask_epi8(v);
    if (mask != 0)
      return static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(mask));
    q += 16;
  }
#else
  while (end - q >= 8) {
    std::uint64_t w;
    std::memcpy(&w, q, 8);
    if ((w & 0x8080808080808080ULL) != 0) break;
    q += 8;
  }
#endif
  while (q < end && *q < 0x80) ++q;
  return static_cast<std::size_t>(q - p);
}

// Number of leading internal-form units (big-endian, two bytes each) in
// [p, end) whose value is below 0x80. A trailing odd byte is not counted.
inline std::size_t asciiUnitPrefix(const std::uint8_t* p, const std::uint8_t* end) {
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  const __m128i mask = _mm_set1_epi16(static_cast<short>(0x80FF));
  const __m128i zero = _mm_setzero_si128();
  while (end - q >= 16) {
    __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), mask);
    int bad = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) ^ 0xFFFF;
    if (bad != 0) {
      return (static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(bad))) / 2;
    }
    q += 16;
  }
#endif
  while (end - q >= 2 && q[0] == 0 && q[1] < 0x80) q += 2;
  return static_cast<std::size_t>(q - p) / 2;
}

// Writes `n` bytes as `n` big-endian units 00 b.
inline void widenBytes(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(zero, v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(zero, v));
  }
#endif
  for (; i < n; ++i) {
    dst[2 * i] = 0;
    dst[2 * i + 1] = src[i];
  }
}

// Writes the low bytes of `n` big-endian units, each below 0x100.
inline void narrowUnits(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  for (; i + 16 <= n; i += 16) {
    __m128i a = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i)), 8);
    __m128i b =
        _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i + 16)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < n; ++i) dst[i] = src[2 * i + 1];
}

}  // namespace mek
