// AVX2 kernels of the UTF-8 block writers: the SSSE3 steps done for two
// groups at once, one in each 128-bit half (pshufb works within halves).

#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle_kernels.h"

#if MEK_SIMD_SHUFFLES

#include <immintrin.h>

namespace mek::utf8_shuffle {

namespace {

#define MEK_AVX2 __attribute__((target("avx2,popcnt")))

// The controls for two groups, `low` for the low half and `high` for the high one.
MEK_AVX2 inline __m256i controls(const ShuffleTable& table, int low, int high) {
  const __m128i a =
      _mm_load_si128(reinterpret_cast<const __m128i*>(table.controls[low].lanes.data()));
  const __m128i b =
      _mm_load_si128(reinterpret_cast<const __m128i*>(table.controls[high].lanes.data()));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

MEK_AVX2 inline void store(std::uint8_t* dst, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

// Whether the 32 bytes at p are all below 0x80.
MEK_AVX2 inline bool asciiBytes32(const std::uint8_t* p) {
  return _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) == 0;
}

// Writes 32 ASCII bytes as 32 units 00 b.
MEK_AVX2 inline void widenAscii32(const std::uint8_t* p, std::uint8_t* dst) {
  for (int half = 0; half < 2; ++half) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * half));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32 * half),
                        _mm256_slli_epi16(_mm256_cvtepu8_epi16(v), 8));
  }
}

// Whether the 32 units at p are all below 0x80.
MEK_AVX2 inline bool asciiUnits32(const std::uint8_t* p) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  // Loaded little-endian, a unit below 0x80 has only the low seven bits of
  // its upper byte set.
  return _mm256_testz_si256(_mm256_or_si256(a, b), _mm256_set1_epi16(static_cast<short>(0x80FF))) !=
         0;
}

// Writes 32 units below 0x80 as their low bytes.
MEK_AVX2 inline void narrowAscii32(const std::uint8_t* p, std::uint8_t* dst) {
  const __m256i a = _mm256_srli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), 8);
  const __m256i b =
      _mm256_srli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), 8);
  // The pack works per half: put its quarters back in order.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), packed);
}

}  // namespace

// Each step takes 16 positions: the low half works on the 16 bytes at q, the
// high half on those at q + 8, each for its first eight positions. The
// second store begins at the output of the sequences from q + 8 on, so a
// step needs 32 bytes left (at least eight sequences from q + 8), which also
// covers its 32-byte load.
MEK_AVX2 std::uint8_t* writeShortSequencesAvx2(const std::uint8_t* p, const std::uint8_t* end,
                                               std::uint8_t* dst) {
  const __m256i pairs = _mm256_setr_epi8(1, 0, 2, 1, 3, 2, 4, 3, 5, 4, 6, 5, 7, 6, 8, 7,  //
                                         1, 0, 2, 1, 3, 2, 4, 3, 5, 4, 6, 5, 7, 6, 8, 7);
  const __m256i thirds =
      _mm256_setr_epi8(2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1, 8, -1, 9, -1,  //
                       2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1, 8, -1, 9, -1);
  const __m128i last_continuation = _mm_set1_epi8(static_cast<char>(0xBF));
  const __m256i low6 = _mm256_set1_epi16(0x003F);
  const __m256i two_high = _mm256_set1_epi16(0x07C0);
  const __m256i three_high = _mm256_set1_epi16(static_cast<short>(0xF000));
  const std::uint8_t* q = p;
  while (end - q >= 32) {
    // Runs of 32 ASCII bytes or more take a plain widening loop. Shorter ones
    // stay in the shuffle step, which handles every mix without a branch.
    if (asciiBytes32(q)) {
      do {
        widenAscii32(q, dst);
        q += 32;
        dst += 64;
      } while (end - q >= 32 && asciiBytes32(q));
      continue;
    }
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    // Halves: the bytes at q..q+15 and at q+8..q+23.
    const __m256i v = _mm256_permute4x64_epi64(bytes, 0x94);
    const int starts =
        _mm_movemask_epi8(_mm_cmpgt_epi8(_mm256_castsi256_si128(bytes), last_continuation));
    const __m256i a = _mm256_shuffle_epi8(v, pairs);
    const __m256i c = _mm256_shuffle_epi8(v, thirds);
    const __m256i one = _mm256_srli_epi16(a, 8);
    const __m256i two = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(a, 2), two_high),
                                        _mm256_and_si256(a, low6));
    const __m256i three =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(a, 4), three_high),
                                        _mm256_slli_epi16(_mm256_and_si256(a, low6), 6)),
                        _mm256_and_si256(c, low6));
    // A lane's top bit is that of its lead byte; two bits lower, among leads
    // of two or more bytes, it tells three bytes from two.
    const __m256i is_longer = _mm256_srai_epi16(a, 15);
    const __m256i is_three = _mm256_srai_epi16(_mm256_slli_epi16(a, 2), 15);
    const __m256i longer = _mm256_blendv_epi8(two, three, is_three);
    const __m256i units = _mm256_blendv_epi8(one, longer, is_longer);
    const int low = starts & 0xFF;
    const int high = starts >> 8;
    const __m256i out = _mm256_shuffle_epi8(units, controls(kDecodeTable, low, high));
    store(dst, _mm256_castsi256_si128(out));
    dst += kDecodeTable.lengths[low];
    store(dst, _mm256_extracti128_si256(out, 1));
    dst += kDecodeTable.lengths[high];
    q += 16;
  }
  while (q < end && (*q & 0xC0) == 0x80) ++q;
  return writeShortSequences(q, end, dst);
}

// Each step encodes 16 units as four groups of four. The last store is for
// the group at unit i + 12, which needs 16 units from there on: 28 in all.
MEK_AVX2 std::uint8_t* writeUnitsUtf8Avx2(const std::uint8_t* p, std::size_t n, std::uint8_t* dst) {
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14,  //
                                        1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i from80 = _mm256_set1_epi16(static_cast<short>(0xFF80));
  const __m256i from800 = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i lead2 = _mm256_set1_epi16(0x00C0);
  const __m256i lead3 = _mm256_set1_epi16(0x00E0);
  const __m256i low6 = _mm256_set1_epi16(0x003F);
  const __m256i continuations = _mm256_set1_epi16(static_cast<short>(0x8080));
  const __m256i zero = _mm256_setzero_si256();
  std::size_t i = 0;
  while (n - i >= 28) {
    if (n - i >= 32 && asciiUnits32(p + 2 * i)) {
      do {
        narrowAscii32(p + 2 * i, dst);
        i += 32;
        dst += 32;
      } while (n - i >= 32 && asciiUnits32(p + 2 * i));
      continue;
    }
    const __m256i u =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * i)), swap);
    const __m256i is_one = _mm256_cmpeq_epi16(_mm256_and_si256(u, from80), zero);
    const __m256i is_short = _mm256_cmpeq_epi16(_mm256_and_si256(u, from800), zero);
    const __m256i shifted6 = _mm256_srli_epi16(u, 6);
    const __m256i two = _mm256_or_si256(shifted6, lead2);
    const __m256i three = _mm256_or_si256(_mm256_srli_epi16(u, 12), lead3);
    const __m256i lead = _mm256_blendv_epi8(_mm256_blendv_epi8(three, two, is_short), u, is_one);
    const __m256i tail =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(u, low6), 8),
                                        _mm256_and_si256(shifted6, low6)),
                        continuations);
    // Per half: bits 0-7 below 0x80, bits 8-15 below 0x800; the high half
    // (units 8-15) in bits 16-31.
    const unsigned mask =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_packs_epi16(is_one, is_short)));
    const int g0 = static_cast<int>((mask & 0x0F) | ((mask >> 4) & 0xF0));
    const int g1 = static_cast<int>(((mask >> 4) & 0x0F) | ((mask >> 8) & 0xF0));
    const int g2 = static_cast<int>(((mask >> 16) & 0x0F) | ((mask >> 20) & 0xF0));
    const int g3 = static_cast<int>(((mask >> 20) & 0x0F) | ((mask >> 24) & 0xF0));
    // Low halves hold units 0-3 and 4-7, high halves 8-11 and 12-15.
    const __m256i even =
        _mm256_shuffle_epi8(_mm256_unpacklo_epi16(lead, tail), controls(kEncodeTable, g0, g2));
    const __m256i odd =
        _mm256_shuffle_epi8(_mm256_unpackhi_epi16(lead, tail), controls(kEncodeTable, g1, g3));
    store(dst, _mm256_castsi256_si128(even));
    dst += kEncodeTable.lengths[g0];
    store(dst, _mm256_castsi256_si128(odd));
    dst += kEncodeTable.lengths[g1];
    store(dst, _mm256_extracti128_si256(even, 1));
    dst += kEncodeTable.lengths[g2];
    store(dst, _mm256_extracti128_si256(odd, 1));
    dst += kEncodeTable.lengths[g3];
    i += 16;
  }
  return writeUnitsUtf8(p + 2 * i, n - i, dst);
}

// The checks of checkShortSequenceBlocks on 32 bytes at a time; the bytes
// before each half come from the half before it.
MEK_AVX2 const std::uint8_t* shortSequencePrefixAvx2(const std::uint8_t* p,
                                                     const std::uint8_t* end) {
  const std::uint8_t* limit = static_cast<std::size_t>(end - p) > kUtf8Piece ? p + kUtf8Piece : end;
  const __m256i c0 = _mm256_set1_epi8(static_cast<char>(0xC0));
  const __m256i e0 = _mm256_set1_epi8(static_cast<char>(0xE0));
  const __m256i f0 = _mm256_set1_epi8(static_cast<char>(0xF0));
  const __m256i x80 = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i x9f = _mm256_set1_epi8(static_cast<char>(0x9F));
  const __m256i x0d = _mm256_set1_epi8(0x0D);
  const __m256i fe = _mm256_set1_epi8(static_cast<char>(0xFE));
  const std::uint8_t* q = p;
  __m256i previous = _mm256_setzero_si256();  // p begins a sequence: no lead before it
  bool failed = false;
  while (limit - q >= 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    // The high half of the block before, then the low half of this one.
    const __m256i shifted = _mm256_permute2x128_si256(previous, v, 0x21);
    const __m256i before1 = _mm256_alignr_epi8(v, shifted, 15);
    const __m256i before2 = _mm256_alignr_epi8(v, shifted, 14);
    const __m256i wanted =
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(before1, c0), before1),
                        _mm256_cmpeq_epi8(_mm256_max_epu8(before2, e0), before2));
    const __m256i continuation = _mm256_cmpeq_epi8(_mm256_and_si256(v, c0), x80);
    const __m256i four = _mm256_cmpeq_epi8(_mm256_max_epu8(v, f0), v);
    const __m256i upper = _mm256_cmpgt_epi8(v, x9f);
    const __m256i forbiddenLead = _mm256_or_si256(e0, _mm256_and_si256(upper, x0d));
    const __m256i excluded = _mm256_or_si256(_mm256_cmpeq_epi8(before1, forbiddenLead),
                                             _mm256_cmpeq_epi8(_mm256_and_si256(before1, fe), c0));
    const __m256i bad =
        _mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(wanted, continuation), four), excluded);
    if (!_mm256_testz_si256(bad, bad)) {
      failed = true;
      break;
    }
    previous = v;
    q += 32;
  }
  // Fewer than 32 bytes left: the 16-byte checks go on from the block before.
  if (!failed) q = checkShortSequenceBlocks(q, limit, _mm256_extracti128_si256(previous, 1));
  return wholeSequencesEnd(p, q);
}

}  // namespace mek::utf8_shuffle

#endif
