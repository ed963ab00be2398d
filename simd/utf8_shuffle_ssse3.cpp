// SSSE3 kernels of the UTF-8 block writers: eight positions or units a step,
// each gathered into place by one pshufb whose control comes from a table.

#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle_kernels.h"

#if MEK_SIMD_SHUFFLES

#include <immintrin.h>

namespace mek::utf8_shuffle {

namespace {

#define MEK_SSSE3 __attribute__((target("ssse3")))

MEK_SSSE3 inline __m128i control(const ShuffleTable& table, int index) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(table.controls[index].lanes.data()));
}

// Whether the 32 bytes at p are all below 0x80.
MEK_SSSE3 inline bool asciiBytes32(const std::uint8_t* p) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  return _mm_movemask_epi8(_mm_or_si128(a, b)) == 0;
}

// Whether the 32 units at p are all below 0x80.
MEK_SSSE3 inline bool asciiUnits32(const std::uint8_t* p) {
  __m128i v = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    v = _mm_or_si128(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k)));
  }
  // Loaded little-endian, a unit below 0x80 has only the low seven bits of
  // its upper byte set.
  v = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0x80FF)));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace

// Each step loads 16 bytes at q and writes the units of the sequences that
// begin in its first eight; those end by q + 10. A step needs 24 bytes left:
// then at least eight sequences begin from q on, so the 16-byte store stays
// within their output.
MEK_SSSE3 std::uint8_t* writeShortSequencesSsse3(const std::uint8_t* p, const std::uint8_t* end,
                                                 std::uint8_t* dst) {
  // Lane k: the byte at k high, the byte at k + 1 low; and the byte at k + 2.
  const __m128i pairs = _mm_setr_epi8(1, 0, 2, 1, 3, 2, 4, 3, 5, 4, 6, 5, 7, 6, 8, 7);
  const __m128i thirds = _mm_setr_epi8(2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1, 8, -1, 9, -1);
  const __m128i last_continuation = _mm_set1_epi8(static_cast<char>(0xBF));
  const __m128i low6 = _mm_set1_epi16(0x003F);
  const __m128i two_high = _mm_set1_epi16(0x07C0);
  const __m128i three_high = _mm_set1_epi16(static_cast<short>(0xF000));
  const std::uint8_t* q = p;
  while (end - q >= 24) {
    // Runs of 32 ASCII bytes or more take the plain widening loop. Shorter
    // ones stay in the shuffle step, which handles every mix without a branch.
    if (end - q >= 32 && asciiBytes32(q)) {
      do {
        widenBytes(q, 32, dst);
        q += 32;
        dst += 64;
      } while (end - q >= 32 && asciiBytes32(q));
      continue;
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // Signed, continuation bytes 80..BF are the lowest: all others begin a sequence.
    const int starts = _mm_movemask_epi8(_mm_cmpgt_epi8(v, last_continuation)) & 0xFF;
    const __m128i a = _mm_shuffle_epi8(v, pairs);
    const __m128i c = _mm_shuffle_epi8(v, thirds);
    const __m128i one = _mm_srli_epi16(a, 8);
    const __m128i two =
        _mm_or_si128(_mm_and_si128(_mm_srli_epi16(a, 2), two_high), _mm_and_si128(a, low6));
    const __m128i three = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(a, 4), three_high),
                                                    _mm_slli_epi16(_mm_and_si128(a, low6), 6)),
                                       _mm_and_si128(c, low6));
    // A lane's top bit is that of its lead byte; two bits lower, among leads
    // of two or more bytes, it tells three bytes from two.
    const __m128i is_longer = _mm_srai_epi16(a, 15);
    const __m128i is_three = _mm_srai_epi16(_mm_slli_epi16(a, 2), 15);
    const __m128i longer =
        _mm_or_si128(_mm_and_si128(is_three, three), _mm_andnot_si128(is_three, two));
    const __m128i units =
        _mm_or_si128(_mm_and_si128(is_longer, longer), _mm_andnot_si128(is_longer, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(units, control(kDecodeTable, starts)));
    dst += kDecodeTable.lengths[starts];
    q += 8;
  }
  // Carry on at the next sequence: skip what is left of one that began before q.
  while (q < end && (*q & 0xC0) == 0x80) ++q;
  return writeShortSequences(q, end, dst);
}

// Each step encodes eight units as two groups of four, each with a 16-byte
// store. A store for the group at unit j needs 16 units left from j on (each
// gives at least one byte), so a step needs 20.
MEK_SSSE3 std::uint8_t* writeUnitsUtf8Ssse3(const std::uint8_t* p, std::size_t n,
                                            std::uint8_t* dst) {
  const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m128i from80 = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i from800 = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i lead2 = _mm_set1_epi16(0x00C0);
  const __m128i lead3 = _mm_set1_epi16(0x00E0);
  const __m128i low6 = _mm_set1_epi16(0x003F);
  const __m128i continuations = _mm_set1_epi16(static_cast<short>(0x8080));
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  while (n - i >= 20) {
    if (n - i >= 32 && asciiUnits32(p + 2 * i)) {
      do {
        narrowUnits(p + 2 * i, 32, dst);
        i += 32;
        dst += 32;
      } while (n - i >= 32 && asciiUnits32(p + 2 * i));
      continue;
    }
    const __m128i u =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i)), swap);
    const __m128i is_one = _mm_cmpeq_epi16(_mm_and_si128(u, from80), zero);
    const __m128i is_short = _mm_cmpeq_epi16(_mm_and_si128(u, from800), zero);
    const __m128i shifted6 = _mm_srli_epi16(u, 6);
    const __m128i two = _mm_or_si128(shifted6, lead2);
    const __m128i three = _mm_or_si128(_mm_srli_epi16(u, 12), lead3);
    const __m128i longer =
        _mm_or_si128(_mm_and_si128(is_short, two), _mm_andnot_si128(is_short, three));
    const __m128i lead = _mm_or_si128(_mm_and_si128(is_one, u), _mm_andnot_si128(is_one, longer));
    // Low byte: the middle continuation byte; high byte: the last one.
    const __m128i tail = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(u, low6), 8), _mm_and_si128(shifted6, low6)),
        continuations);
    const int mask = _mm_movemask_epi8(_mm_packs_epi16(is_one, is_short));
    const int first = (mask & 0x0F) | ((mask >> 4) & 0xF0);
    const int second = ((mask >> 4) & 0x0F) | ((mask >> 8) & 0xF0);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(dst),
        _mm_shuffle_epi8(_mm_unpacklo_epi16(lead, tail), control(kEncodeTable, first)));
    dst += kEncodeTable.lengths[first];
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(dst),
        _mm_shuffle_epi8(_mm_unpackhi_epi16(lead, tail), control(kEncodeTable, second)));
    dst += kEncodeTable.lengths[second];
    i += 8;
  }
  return writeUnitsUtf8(p + 2 * i, n - i, dst);
}

}  // namespace mek::utf8_shuffle

#endif
