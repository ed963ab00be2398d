#pragma once

// Block paths of the UTF-8 codec for the bulk of real text: stretches of
// one- to three-byte sequences (UTF-8 side) or of units outside the
// surrogate range (internal-form side). Finding and checking a stretch is
// shared by measure and convert; counting it is a vector sum, writing it a
// loop over runs (or, where the processor has byte shuffles, the kernels of
// utf8_shuffle.h). SSE2 is the x86-64 baseline; other targets take plain
// loops with the same results.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/ascii.h"
#include "simd/config.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

// Stretches are checked and then moved in pieces of at most this many input
// bytes, so that the second look at a piece finds it in cache.
inline constexpr std::size_t kUtf8Piece = 4096;

// Length of the UTF-8 sequence that lead byte b begins, for leads below F0;
// 0 for a continuation byte.
constexpr int shortSequenceLength(std::uint8_t b) {
  return b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : 3;
}

#if MEK_SIMD_SSE2
// Checks the 16-byte blocks from q on while they lie before `limit`, and
// answers where the checks stopped: at `limit` (less a last short block) or
// at the first block that holds anything but whole one- to three-byte
// sequences and their parts. `previous` is the block before q (zero when q
// begins a sequence).
inline const std::uint8_t* checkShortSequenceBlocks(const std::uint8_t* q,
                                                    const std::uint8_t* limit, __m128i previous) {
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i e0 = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i f0 = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i x80 = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i x9f = _mm_set1_epi8(static_cast<char>(0x9F));
  const __m128i x0d = _mm_set1_epi8(0x0D);
  const __m128i fe = _mm_set1_epi8(static_cast<char>(0xFE));
  while (limit - q >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // Each byte must be a continuation byte exactly when the byte before it
    // is a lead of two or three bytes, or the one two before leads three.
    const __m128i before1 = _mm_or_si128(_mm_slli_si128(v, 1), _mm_srli_si128(previous, 15));
    const __m128i before2 = _mm_or_si128(_mm_slli_si128(v, 2), _mm_srli_si128(previous, 14));
    const __m128i wanted = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(before1, c0), before1),
                                        _mm_cmpeq_epi8(_mm_max_epu8(before2, e0), before2));
    const __m128i continuation = _mm_cmpeq_epi8(_mm_and_si128(v, c0), x80);
    const __m128i four = _mm_cmpeq_epi8(_mm_max_epu8(v, f0), v);
    // Well-formed but not allowed: a continuation byte after C0 or C1
    // (overlong two-byte forms; a lone C0 or C1 fails the test above), and
    // after E0 one of 80..9F (overlong three-byte forms), after ED one of
    // A0..BF (surrogates). A continuation byte is A0..BF exactly when it is
    // above 9F as a signed byte; the lead it may not follow is E0 below A0
    // and ED from A0 up, so one comparison with a chosen lead finds both.
    const __m128i upper = _mm_cmpgt_epi8(v, x9f);
    const __m128i forbiddenLead = _mm_or_si128(e0, _mm_and_si128(upper, x0d));
    const __m128i excluded = _mm_or_si128(_mm_cmpeq_epi8(before1, forbiddenLead),
                                          _mm_cmpeq_epi8(_mm_and_si128(before1, fe), c0));
    const __m128i bad = _mm_or_si128(_mm_xor_si128(wanted, continuation), four);
    if (_mm_movemask_epi8(_mm_or_si128(bad, excluded)) != 0) break;
    previous = v;
    q += 16;
  }
  return q;
}
#endif

// Of the checked bytes [p, q), the end of the whole sequences: a sequence
// that began before q is whole when its last byte lies before q too.
inline const std::uint8_t* wholeSequencesEnd(const std::uint8_t* p, const std::uint8_t* q) {
  const std::uint8_t* last = q;
  while (last > p && shortSequenceLength(last[-1]) == 0) --last;
  if (last == p) return p;
  const std::uint8_t* lead = last - 1;
  return lead + shortSequenceLength(*lead) <= q ? q : lead;
}

// The end of the longest prefix of [p, end) that consists of whole, well-formed
// sequences of one to three bytes (no overlong forms, no surrogates), found
// block-wise; it may stop earlier than the longest such prefix (the scalar
// path carries on from there). At most kUtf8Piece bytes are taken. p must
// begin a sequence. Without vector instructions no stretch is found here and
// the scalar path does all the work. utf8_shuffle.h has a faster twin.
inline const std::uint8_t* shortSequencePrefix(const std::uint8_t* p, const std::uint8_t* end) {
#if !MEK_SIMD_SSE2
  static_cast<void>(end);
  return p;
#else
  const std::uint8_t* limit = static_cast<std::size_t>(end - p) > kUtf8Piece ? p + kUtf8Piece : end;
  return wholeSequencesEnd(p, checkShortSequenceBlocks(p, limit, _mm_setzero_si128()));
#endif
}

// Units that the well-formed one- to three-byte sequences of [p, end) decode to.
inline std::size_t shortSequenceUnits(const std::uint8_t* p, const std::uint8_t* end) {
  std::size_t n = static_cast<std::size_t>(end - p);
  std::size_t continuations = 0;
  const std::uint8_t* q = p;
#if MEK_SIMD_SSE2
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i x80 = _mm_set1_epi8(static_cast<char>(0x80));
  // Byte lanes count up to 255 blocks, then are summed into the total.
  while (end - q >= 16) {
    __m128i counts = _mm_setzero_si128();
    for (int blocks = 0; blocks < 255 && end - q >= 16; ++blocks, q += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_and_si128(v, c0), x80));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    continuations += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                     static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; q < end; ++q) continuations += (*q & 0xC0) == 0x80;
  return n - continuations;
}

// Writes the units of the well-formed one- to three-byte sequences of
// [p, end) to dst, big-endian; returns the end of what was written. Runs of
// ASCII and of longer sequences each keep the branches predictable. This is
// the writer for processors without byte shuffles and for the last bytes of
// a stretch; utf8_shuffle.h has the faster ones.
inline std::uint8_t* writeShortSequences(const std::uint8_t* p, const std::uint8_t* end,
                                         std::uint8_t* dst) {
  while (p < end) {
    const std::uint32_t b0 = p[0];
    if (b0 < 0x80) {
      const std::size_t run = asciiPrefix(p, end);
      widenBytes(p, run, dst);
      p += run;
      dst += 2 * run;
      continue;
    }
    std::uint32_t u;
    if (b0 >= 0xE0) {
      u = ((b0 & 0x0F) << 12) | ((p[1] & 0x3FU) << 6) | (p[2] & 0x3FU);
      p += 3;
    } else {
      u = ((b0 & 0x1F) << 6) | (p[1] & 0x3FU);
      p += 2;
    }
    dst[0] = static_cast<std::uint8_t>(u >> 8);
    dst[1] = static_cast<std::uint8_t>(u);
    dst += 2;
  }
  return dst;
}

// UTF-8 bytes that `n` internal-form units (none a surrogate) encode to.
inline std::size_t unitsUtf8Bytes(const std::uint8_t* p, std::size_t n) {
  std::size_t total = 3 * n;
  std::size_t i = 0;
#if MEK_SIMD_SSE2
  // Signed lanes: flip the top bit so that unit order is kept.
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i below80 = _mm_set1_epi16(static_cast<short>(0x80 ^ 0x8000));
  const __m128i below800 = _mm_set1_epi16(static_cast<short>(0x800 ^ 0x8000));
  const __m128i ones = _mm_set1_epi16(1);
  while (n - i >= 8) {
    __m128i sum = _mm_setzero_si128();  // minus the bytes saved, per lane
    const std::size_t stop = n - i >= 8 * 8192 ? i + 8 * 8192 : i + (n - i) / 8 * 8;
    for (; i < stop; i += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
      v = _mm_xor_si128(_mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)), flip);
      sum = _mm_add_epi16(sum, _mm_cmplt_epi16(v, below80));
      sum = _mm_add_epi16(sum, _mm_cmplt_epi16(v, below800));
    }
    __m128i wide = _mm_madd_epi16(sum, ones);  // four 32-bit sums
    wide = _mm_add_epi32(wide, _mm_srli_si128(wide, 8));
    wide = _mm_add_epi32(wide, _mm_srli_si128(wide, 4));
    total -= static_cast<std::size_t>(-_mm_cvtsi128_si32(wide));
  }
#endif
  for (; i < n; ++i) {
    const unsigned u = (static_cast<unsigned>(p[2 * i]) << 8) | p[2 * i + 1];
    total -= (u < 0x80) + (u < 0x800);
  }
  return total;
}

// Writes `n` internal-form units (none a surrogate) as UTF-8 to dst; returns
// the end of what was written. Like writeShortSequences, the fallback and
// tail writer of the shuffle kernels.
inline std::uint8_t* writeUnitsUtf8(const std::uint8_t* p, std::size_t n, std::uint8_t* dst) {
  const std::uint8_t* const end = p + 2 * n;
  while (p < end) {
    const std::uint32_t u = (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
    if (u < 0x80) {
      const std::size_t run = asciiUnitPrefix(p, end);
      narrowUnits(p, run, dst);
      p += 2 * run;
      dst += run;
      continue;
    }
    if (u < 0x800) {
      dst[0] = static_cast<std::uint8_t>(0xC0 | (u >> 6));
      dst[1] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      dst += 2;
    } else {
      dst[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
      dst[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
      dst[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      dst += 3;
    }
    p += 2;
  }
  return dst;
}

}  // namespace mek
