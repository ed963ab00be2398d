#pragma once

// Fast handling of runs of UTF-16 and UTF-32 units that need no special
// treatment: UTF-16 units outside the surrogate range, and UTF-32 units of
// the Basic Multilingual Plane outside it. The codecs find such a run, move it
// in one block and handle only the unit that ends it one at a time.
//
// Byte order is a template parameter, given as the offset of the most
// significant byte within a unit: 0 for big-endian, 1 (UTF-16) or 3 (UTF-32)
// for little-endian. SSE2 is the x86-64 baseline; other targets take the
// word-at-a-time or plain loops.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

// A run is handled in pieces of at most this many units, so that the staging
// areas (4 or 8 KiB) stay in the first-level cache and a piece is still there
// when it is moved; shorter runs would pay a block writer's call and tail
// more often.
inline constexpr std::size_t kRunUnits = 2048;

// The end of the next piece of [p, end) for units of `unit_bytes` bytes.
inline const std::uint8_t* pieceEnd(const std::uint8_t* p, const std::uint8_t* end,
                                    std::size_t unit_bytes) {
  const std::size_t limit = kRunUnits * unit_bytes;
  return static_cast<std::size_t>(end - p) > limit ? p + limit : end;
}

// True for the high byte of a surrogate unit (D800-DFFF).
constexpr bool isSurrogateHigh(std::uint8_t h) {
  return (h & 0xF8) == 0xD8;
}

// Number of leading whole 2-byte units in [p, end) that are not surrogates.
// kMsb is the offset of the high byte within a unit.
template <int kMsb>
inline std::size_t nonSurrogateUnits(const std::uint8_t* p, const std::uint8_t* end) {
  static_assert(kMsb == 0 || kMsb == 1);
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  // Lanes are loaded little-endian, so the high byte of a big-endian unit is
  // the low byte of its lane.
  const __m128i mask = _mm_set1_epi16(static_cast<short>(kMsb == 0 ? 0x00F8 : 0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(kMsb == 0 ? 0x00D8 : 0xD800));
  while (end - q >= 16) {
    __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), mask);
    int hit = _mm_movemask_epi8(_mm_cmpeq_epi16(v, surrogate));
    if (hit != 0) {
      return (static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(hit))) / 2;
    }
    q += 16;
  }
#else
  // Four units a word: mask each high byte to its top five bits and compare
  // with D8; the low bytes are forced non-zero so that only a high byte that
  // matched can come out zero.
  constexpr int kShift = 8 * kMsb;  // the high bytes' place in the loaded word
  constexpr std::uint64_t kHighMask = 0x00F800F800F800F8ULL << kShift;
  constexpr std::uint64_t kHighD8 = 0x00D800D800D800D8ULL << kShift;
  constexpr std::uint64_t kLowOnes = 0x0001000100010001ULL << (8 - kShift);
  while (end - q >= 8) {
    std::uint64_t w;
    std::memcpy(&w, q, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    const std::uint64_t t = ((w & kHighMask) ^ kHighD8) | kLowOnes;
    if (((t - 0x0101010101010101ULL) & ~t & 0x8080808080808080ULL) != 0) break;
    q += 8;
  }
#endif
  while (end - q >= 2 && !isSurrogateHigh(q[kMsb])) q += 2;
  return static_cast<std::size_t>(q - p) / 2;
}

// Writes `n` 2-byte units with the two bytes of each exchanged.
inline void swapUnitBytes(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  for (; i + 8 <= n; i += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), v);
  }
#endif
  for (; i < n; ++i) {
    dst[2 * i] = src[2 * i + 1];
    dst[2 * i + 1] = src[2 * i];
  }
}

// Number of leading whole 4-byte units in [p, end) whose value is below
// 0x10000 and outside D800-DFFF. kMsb is the offset of the most significant
// byte within a unit.
template <int kMsb>
inline std::size_t bmpUnits32(const std::uint8_t* p, const std::uint8_t* end) {
  static_assert(kMsb == 0 || kMsb == 3);
  constexpr int k1 = kMsb == 0 ? 1 : 2;  // offsets of the three lower bytes
  constexpr int k2 = kMsb == 0 ? 2 : 1;
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  // In a little-endian lane a big-endian unit 00 00 h l reads as l h 00 00.
  const __m128i upper = _mm_set1_epi32(kMsb == 0 ? 0x0000FFFF : static_cast<int>(0xFFFF0000));
  const __m128i mask = _mm_set1_epi32(kMsb == 0 ? 0x00F80000 : 0x0000F800);
  const __m128i surrogate = _mm_set1_epi32(kMsb == 0 ? 0x00D80000 : 0x0000D800);
  const __m128i zero = _mm_setzero_si128();
  while (end - q >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    __m128i bmp = _mm_cmpeq_epi32(_mm_and_si128(v, upper), zero);
    __m128i sur = _mm_cmpeq_epi32(_mm_and_si128(v, mask), surrogate);
    int bad = _mm_movemask_epi8(_mm_andnot_si128(sur, bmp)) ^ 0xFFFF;
    if (bad != 0) {
      return (static_cast<std::size_t>(q - p) + static_cast<unsigned>(__builtin_ctz(bad))) / 4;
    }
    q += 16;
  }
#endif
  while (end - q >= 4 && q[kMsb] == 0 && q[k1] == 0 && !isSurrogateHigh(q[k2])) q += 4;
  return static_cast<std::size_t>(q - p) / 4;
}

// Writes `n` 4-byte units, each below 0x10000, as big-endian 2-byte units.
template <int kMsb>
inline void narrowUnits32(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  static_assert(kMsb == 0 || kMsb == 3);
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  for (; i + 8 <= n; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
    // Bring the two wanted bytes into the low half of each lane, sign-extended
    // so that the signed pack keeps them exactly.
    if constexpr (kMsb == 0) {
      a = _mm_srai_epi32(a, 16);
      b = _mm_srai_epi32(b, 16);
    } else {
      a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
      b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    }
    __m128i v = _mm_packs_epi32(a, b);
    if constexpr (kMsb != 0) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), v);
  }
#endif
  constexpr int kHigh = kMsb == 0 ? 2 : 1;
  constexpr int kLow = kMsb == 0 ? 3 : 0;
  for (; i < n; ++i) {
    dst[2 * i] = src[4 * i + kHigh];
    dst[2 * i + 1] = src[4 * i + kLow];
  }
}

// Writes `n` big-endian 2-byte units as 4-byte units with the most
// significant byte at offset kMsb.
template <int kMsb>
inline void widenUnits32(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) {
  static_assert(kMsb == 0 || kMsb == 3);
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
    __m128i lo, hi;
    if constexpr (kMsb == 0) {
      lo = _mm_unpacklo_epi16(zero, v);
      hi = _mm_unpackhi_epi16(zero, v);
    } else {
      v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      lo = _mm_unpacklo_epi16(v, zero);
      hi = _mm_unpackhi_epi16(v, zero);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i + 16), hi);
  }
#endif
  for (; i < n; ++i) {
    std::uint8_t* u = dst + 4 * i;
    u[kMsb] = 0;
    u[kMsb == 0 ? 1 : 2] = 0;
    u[kMsb == 0 ? 2 : 1] = src[2 * i];
    u[kMsb == 0 ? 3 : 0] = src[2 * i + 1];
  }
}

}  // namespace mek
