#pragma once

// Fixed-size ASCII steps for the Japanese codecs' inner loops. Mixed Japanese
// text alternates ASCII runs of a few to a few dozen characters with short
// kana and kanji runs, so a run is taken one block of 32 characters at a
// time: the loads find how many of them are ASCII, and the stores write the
// whole block converted, of which only that many count. A block covers most
// runs whole, so the loop rarely has to decide whether a run goes on. The
// codecs call these only where at least a whole block of output is still to
// come, so the surplus lands inside the output area and is overwritten by
// the characters after the run. SSE2 is the x86-64 baseline; other targets
// take plain loops.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

// Characters per block: bytes on the byte side, units on the internal-form side.
inline constexpr unsigned kAsciiBlock = 32;

// The most bytes a block step reads: a block of units.
inline constexpr std::ptrdiff_t kBlockReadAhead = 2 * kAsciiBlock;
// The most bytes a block step writes: a block widened to units (narrowing
// writes half as many), of which only the ASCII ones count.
inline constexpr std::ptrdiff_t kBlockWriteAhead = 2 * kAsciiBlock;

// The Japanese codecs' fast loops stay this many input bytes away from the
// end of their input, so that a block step never reads beyond it. Each codec
// also shows, next to its loops, that what is still ahead of this distance
// gives output enough to hold a block's uncounted stores within an output
// area of the measured size.
inline constexpr std::ptrdiff_t kFastMargin = 128;
static_assert(kFastMargin >= kBlockReadAhead);

// Copies n bytes from src to dst (which do not overlap) with a few fixed-size
// loads and stores for the short runs of mixed text, where a call into the
// library's memcpy costs more than the copy.
inline void copyBytes(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
  if (n > 32) {
    std::memcpy(dst, src, n);
  } else if (n >= 16) {
    std::memcpy(dst, src, 16);
    std::memcpy(dst + n - 16, src + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + n - 8, src + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + n - 4, src + n - 4, 4);
  } else if (n != 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

// Number of leading bytes below 0x80 among the 32 bytes at p.
inline unsigned asciiBlockLength(const std::uint8_t* p) {
#if MEK_SIMD_SSE2
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const unsigned long long high = static_cast<unsigned>(_mm_movemask_epi8(a)) |
                                  static_cast<unsigned>(_mm_movemask_epi8(b)) << 16 | 1ULL << 32;
  return static_cast<unsigned>(__builtin_ctzll(high));
#else
  unsigned n = 0;
  while (n < kAsciiBlock && p[n] < 0x80) ++n;
  return n;
#endif
}

// Writes the 32 bytes at p as 32 big-endian units 00 b (64 bytes at dst).
inline void widenBlock(const std::uint8_t* p, std::uint8_t* dst) {
#if MEK_SIMD_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (unsigned i = 0; i < kAsciiBlock; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(zero, v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(zero, v));
  }
#else
  for (unsigned i = 0; i < kAsciiBlock; ++i) {
    dst[2 * i] = 0;
    dst[2 * i + 1] = p[i];
  }
#endif
}

// Writes the n bytes at p as n big-endian units, exactly 2n bytes at dst, for
// runs whose surplus could not be overwritten. Whole stores are used where
// possible: the last, partial piece of a run is written as the piece of the
// same size that ends with it, over units already written.
inline void widenRun(const std::uint8_t* p, std::size_t n, std::uint8_t* dst) {
#if MEK_SIMD_SSE2
  const __m128i zero = _mm_setzero_si128();
  if (n >= 16) {
    const auto widen16 = [&](std::size_t i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(zero, v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(zero, v));
    };
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) widen16(i);
    if (i < n) widen16(n - 16);
    return;
  }
  if (n >= 8) {
    const auto widen8 = [&](std::size_t i) {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(zero, v));
    };
    widen8(0);
    widen8(n - 8);
    return;
  }
  if (n >= 4) {
    const auto widen4 = [&](std::size_t i) {
      std::int32_t word;
      std::memcpy(&word, p + i, 4);
      const __m128i v = _mm_unpacklo_epi8(zero, _mm_cvtsi32_si128(word));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * i), v);
    };
    widen4(0);
    widen4(n - 4);
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) {
    dst[2 * i] = 0;
    dst[2 * i + 1] = p[i];
  }
}

// The positions of the bytes equal to b among the 32 at p, bit i for p[i].
inline std::uint32_t blockByteMask(const std::uint8_t* p, std::uint8_t b) {
#if MEK_SIMD_SSE2
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(b));
  const auto lo = static_cast<std::uint32_t>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), wanted)));
  const auto hi = static_cast<std::uint32_t>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), wanted)));
  return lo | hi << 16;
#else
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < kAsciiBlock; ++i) {
    if (p[i] == b) mask |= std::uint32_t{1} << i;
  }
  return mask;
#endif
}

// Number of leading big-endian units below 0x80 among the 32 units (64
// bytes) at p.
inline unsigned asciiUnitBlockLength(const std::uint8_t* p) {
#if MEK_SIMD_SSE2
  // Per unit, the high byte must be 0 and the low byte below 0x80; each unit
  // gives two bits, set when its byte passes.
  const __m128i keep = _mm_set1_epi16(static_cast<short>(0x80FF));
  const __m128i zero = _mm_setzero_si128();
  unsigned long long ok = 0;
  for (unsigned i = 0; i < 4; ++i) {
    const __m128i v =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), keep);
    ok |= static_cast<unsigned long long>(
              static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))))
          << (16 * i);
  }
  // The first clear bit ends the run; a block of ASCII only has none.
  return ~ok == 0 ? kAsciiBlock : static_cast<unsigned>(__builtin_ctzll(~ok)) / 2;
#else
  unsigned n = 0;
  while (n < kAsciiBlock && p[2 * n] == 0 && p[2 * n + 1] < 0x80) ++n;
  return n;
#endif
}

// Writes the low bytes of the 32 units (64 bytes) at p as 32 bytes at dst.
inline void narrowBlock(const std::uint8_t* p, std::uint8_t* dst) {
#if MEK_SIMD_SSE2
  for (unsigned i = 0; i < kAsciiBlock; i += 16) {
    const __m128i a =
        _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i)), 8);
    const __m128i b =
        _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i + 16)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(a, b));
  }
#else
  for (unsigned i = 0; i < kAsciiBlock; ++i) dst[i] = p[2 * i + 1];
#endif
}

// Whether the internal-form unit at p is ASCII.
constexpr bool isAsciiUnit(const std::uint8_t* p) {
  return p[0] == 0 && p[1] < 0x80;
}

}  // namespace mek
