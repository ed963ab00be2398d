// SSSE3 kernels of the two-byte Japanese codes' windows (pair_windows.h):
// the table loads stay scalar, one per character; the masks, the forms of
// the codes and the packing of a window's output are vector operations,
// each packing one pshufb.

#include "simd/pair_windows_kernels.h"
#include "simd/utf8_shuffle_kernels.h"

#if MEK_SIMD_SHUFFLES

#include <immintrin.h>

namespace mek::pair_windows {

namespace {

#define MEK_SSSE3 __attribute__((target("ssse3")))

// Packing the eight codes of an encoding window. Lane k (bytes 2k, 2k + 1)
// holds the bytes of code k in the order they are written; bit k of the
// index says that it has two. The control keeps byte 2k, and 2k + 1 where
// bit k is set.
constexpr utf8_shuffle::ShuffleTable makePackTable() {
  utf8_shuffle::ShuffleTable table;
  for (int index = 0; index < 256; ++index) {
    utf8_shuffle::ShuffleControl& control = table.controls[index];
    int out = 0;
    for (int k = 0; k < 8; ++k) {
      control.lanes[out++] = static_cast<std::uint8_t>(2 * k);
      if (((index >> k) & 1) != 0) control.lanes[out++] = static_cast<std::uint8_t>(2 * k + 1);
    }
    table.lengths[index] = static_cast<std::uint8_t>(out);
    for (; out < 16; ++out) control.lanes[out] = 0x80;
  }
  return table;
}

constexpr utf8_shuffle::ShuffleTable kPackTable = makePackTable();

MEK_SSSE3 inline __m128i control(const utf8_shuffle::ShuffleTable& table, int index) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(table.controls[index].lanes.data()));
}

// The code of the big-endian unit k at p.
inline std::uint16_t codeOf(const std::uint16_t* table, const std::uint8_t* p, int k) {
  return table[static_cast<std::uint16_t>(p[2 * k] << 8 | p[2 * k + 1])];
}

// The codes of the eight units at p, lane k the code of unit k. They are
// put together four to a register rather than inserted one by one, which
// would chain their latencies.
MEK_SSSE3 inline __m128i codesOf(const std::uint16_t* table, const std::uint8_t* p) {
  std::uint64_t halves[2] = {};
  for (int k = 0; k < 8; ++k) {
    halves[k / 4] |= std::uint64_t{codeOf(table, p, k)} << (16 * (k % 4));
  }
  return _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(halves[0])),
                            _mm_cvtsi64_si128(static_cast<long long>(halves[1])));
}

MEK_SSSE3 inline __m128i select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The units of the eight pairs at p, lane k the unit of the pair at 2k,
// put together as codesOf() does.
MEK_SSSE3 inline __m128i pairUnits(const std::uint16_t* table, const std::uint8_t* p) {
  std::uint64_t halves[2] = {};
  for (int k = 0; k < 8; ++k) {
    halves[k / 4] |= std::uint64_t{table[pairIndex(p[2 * k], p[2 * k + 1])]} << (16 * (k % 4));
  }
  return _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(halves[0])),
                            _mm_cvtsi64_si128(static_cast<long long>(halves[1])));
}

}  // namespace

MEK_SSSE3 PairRun encodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                              const std::uint8_t* last, std::uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  // Loaded little-endian, a unit below 0x80 has only the low seven bits of
  // its upper byte set.
  const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0x80FF));
  const __m128i highByte = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i fromAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i both80 = _mm_set1_epi16(static_cast<short>(0x8080));
  const __m128i ss2 = _mm_set1_epi16(0x008E);
  const __m128i none = _mm_set1_epi16(-1);
  while (p <= last) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, notAscii), zero)) == 0xFFFF) break;
    const __m128i c = codesOf(table, p);
    const __m128i swapped = _mm_or_si128(_mm_srli_epi16(c, 8), _mm_slli_epi16(c, 8));
    __m128i one;
    __m128i bytes;
    __m128i missing;
    if (kind == PairCode::kSjis) {
      one = _mm_cmpeq_epi16(_mm_and_si128(c, highByte), zero);
      bytes = select(one, c, swapped);
      missing = _mm_cmpeq_epi16(c, none);
    } else if (kind == PairCode::kJis) {
      // Row and cell, both below 0x80: a code below 0x100 (ASCII, kana)
      // needs another set, one from 0x8000 up is JIS X 0212 or none.
      one = zero;
      bytes = swapped;
      missing =
          _mm_or_si128(_mm_cmpeq_epi16(_mm_and_si128(c, highByte), zero), _mm_srai_epi16(c, 15));
    } else {
      one = _mm_cmpeq_epi16(_mm_and_si128(c, fromAscii), zero);
      const __m128i kana = _mm_andnot_si128(one, _mm_cmpeq_epi16(_mm_and_si128(c, highByte), zero));
      bytes = select(
          one, c,
          select(kana, _mm_or_si128(_mm_slli_epi16(c, 8), ss2), _mm_or_si128(swapped, both80)));
      missing = _mm_srai_epi16(c, 15);  // JIS X 0212, or no code
    }
    if (_mm_movemask_epi8(missing) != 0) break;
    const int two = ~_mm_movemask_epi8(_mm_packs_epi16(one, zero)) & 0xFF;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(bytes, control(kPackTable, two)));
    dst += kPackTable.lengths[two];
    p += kPairWindow;
  }
  return {p, dst};
}

MEK_SSSE3 PairRun decodeSsse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                              const std::uint8_t* last, std::uint8_t* dst) {
  const __m128i kanaFirst = _mm_set1_epi8(static_cast<char>(0xA1));
  const __m128i kanaSpan = _mm_set1_epi8(0xDF - 0xA1);
  // Signed lanes: u - 0x800, top bit flipped, is below this for
  // U+0800..U+FFFE, the units with three-byte forms other than kNoMapping.
  const __m128i from800 = _mm_set1_epi16(0x0800);
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i span = _mm_set1_epi16(static_cast<short>((0xFFFF - 0x800) ^ 0x8000));
  const __m128i low6 = _mm_set1_epi16(0x003F);
  // Units 0..3 (or 4..7) as [lead, 0, middle, last] each, to their twelve bytes.
  const __m128i drop = _mm_setr_epi8(0, 2, 3, 4, 6, 7, 8, 10, 11, 12, 14, 15, -1, -1, -1, -1);
  while (p <= last) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto leading = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
    if (kind == PairCode::kSjis) {
      const __m128i t = _mm_sub_epi8(v, kanaFirst);
      leading &= ~static_cast<std::uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, kanaSpan), t)));
    }
    if (!holdsEightPairs(leading)) break;
    const __m128i u = pairUnits(table, p);
    const __m128i inRange = _mm_cmplt_epi16(_mm_xor_si128(_mm_sub_epi16(u, from800), flip), span);
    if (_mm_movemask_epi8(inRange) != 0xFFFF) break;
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0x00E0));
    // Low byte: the middle continuation byte; high byte: the last one.
    const __m128i tail = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(u, low6), 8),
                                                   _mm_and_si128(_mm_srli_epi16(u, 6), low6)),
                                      _mm_set1_epi16(static_cast<short>(0x8080)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(_mm_unpacklo_epi16(lead, tail), drop));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12),
                     _mm_shuffle_epi8(_mm_unpackhi_epi16(lead, tail), drop));
    dst += 24;
    p += kPairWindow;
  }
  return {p, dst};
}

}  // namespace mek::pair_windows

#endif
