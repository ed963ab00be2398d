// SSSE3 kernels of the two-byte Japanese codes' windows (pair_windows.h):
// the table loads stay scalar, one per character that is not ASCII; the
// masks, the forms of the codes and the packing of a window's output are
// vector operations, the packing one pshufb whose control comes from a table.

#include "simd/pair_windows_kernels.h"
#include "simd/utf8_shuffle_kernels.h"

#if MEK_SIMD_SHUFFLES

#include <immintrin.h>

#include <bit>
#include <cstring>

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

// The codes of the eight units at p, lane k the code of unit k.
MEK_SSSE3 inline __m128i codesOf(const std::uint16_t* table, const std::uint8_t* p) {
  __m128i c = _mm_cvtsi32_si128(codeOf(table, p, 0));
  c = _mm_insert_epi16(c, codeOf(table, p, 1), 1);
  c = _mm_insert_epi16(c, codeOf(table, p, 2), 2);
  c = _mm_insert_epi16(c, codeOf(table, p, 3), 3);
  c = _mm_insert_epi16(c, codeOf(table, p, 4), 4);
  c = _mm_insert_epi16(c, codeOf(table, p, 5), 5);
  c = _mm_insert_epi16(c, codeOf(table, p, 6), 6);
  return _mm_insert_epi16(c, codeOf(table, p, 7), 7);
}

MEK_SSSE3 inline __m128i select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Writing four units as UTF-8, laid out as the shuffle kernels of UTF-8
// lay them (utf8_shuffle_kernels.h): unit k in bytes 4k..4k+3 as [lead, 0,
// middle, last]. Bits k and 4 + k of the index are the low and high bits of
// the length of unit k's form: 1, 2, 3, or 0 where the unit is not a
// character (the second byte of a pair) and is dropped.
constexpr utf8_shuffle::ShuffleTable makeUtf8Table() {
  utf8_shuffle::ShuffleTable table;
  for (int index = 0; index < 256; ++index) {
    utf8_shuffle::ShuffleControl& control = table.controls[index];
    int out = 0;
    for (int k = 0; k < 4; ++k) {
      const int length = ((index >> k) & 1) | ((index >> (4 + k)) & 1) << 1;
      if (length == 0) continue;
      control.lanes[out++] = static_cast<std::uint8_t>(4 * k);
      if (length == 3) control.lanes[out++] = static_cast<std::uint8_t>(4 * k + 2);
      if (length >= 2) control.lanes[out++] = static_cast<std::uint8_t>(4 * k + 3);
    }
    table.lengths[index] = static_cast<std::uint8_t>(out);
    for (; out < 16; ++out) control.lanes[out] = 0x80;
  }
  return table;
}

constexpr utf8_shuffle::ShuffleTable kUtf8Table = makeUtf8Table();

// The units that the table gives the pairs at p + i .. p + i + 3 (for a
// byte below 0x80, whatever its row 0x80 above holds: unused, but within
// the table), lane by lane. The four are put together in a register rather
// than inserted one by one, which would chain their latencies.
MEK_SSSE3 inline __m128i unitsAt(const std::uint16_t* table, const std::uint8_t* p, int i) {
  std::uint64_t units = 0;
  for (int k = 0; k < 4; ++k) {
    std::uint16_t pair;
    std::memcpy(&pair, p + i + k, 2);
    if constexpr (std::endian::native == std::endian::little) {
      pair = static_cast<std::uint16_t>(pair << 8 | pair >> 8);
    }
    units |= std::uint64_t{table[pair & 0x7FFF]} << (16 * k);
  }
  return _mm_cvtsi64_si128(static_cast<long long>(units));
}

// A decoding window: lane i of `low` (0..7) and `high` (8..15) holds the
// unit of a character that begins at byte i, other lanes anything.
struct Window {
  __m128i low;
  __m128i high;
  std::uint32_t starts;
  std::size_t length;
};

// Reads the window at p into w; false where the window stops the kernel.
// Every byte's pair is looked up, whether it begins one or not, so that no
// branch depends on where the characters begin.
MEK_SSSE3 inline bool readWindow(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                                 bool stopAtCr, bool stopAtLf, Window& w) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
  if (high == 0) return false;
  std::uint32_t single = 0;
  if (kind == PairCode::kSjis) {
    const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0xA1)));
    single = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(0xDF - 0xA1)), t)));
  }
  const WindowStarts starts = windowStarts(high & ~single);
  const __m128i a = _mm_unpacklo_epi64(unitsAt(table, p, 0), unitsAt(table, p, 4));
  const __m128i b = _mm_unpacklo_epi64(unitsAt(table, p, 8), unitsAt(table, p, 12));
  // Bytes below 0x80 are their own units.
  const __m128i zero = _mm_setzero_si128();
  w.low = select(_mm_srai_epi16(_mm_unpacklo_epi8(v, v), 15), a, _mm_unpacklo_epi8(v, zero));
  w.high = select(_mm_srai_epi16(_mm_unpackhi_epi8(v, v), 15), b, _mm_unpackhi_epi8(v, zero));
  __m128i stopLow = _mm_cmpeq_epi16(w.low, _mm_set1_epi16(-1));
  __m128i stopHigh = _mm_cmpeq_epi16(w.high, _mm_set1_epi16(-1));
  if (stopAtCr) {
    stopLow = _mm_or_si128(stopLow, _mm_cmpeq_epi16(w.low, _mm_set1_epi16(0x0D)));
    stopHigh = _mm_or_si128(stopHigh, _mm_cmpeq_epi16(w.high, _mm_set1_epi16(0x0D)));
  }
  if (stopAtLf) {
    stopLow = _mm_or_si128(stopLow, _mm_cmpeq_epi16(w.low, _mm_set1_epi16(0x0A)));
    stopHigh = _mm_or_si128(stopHigh, _mm_cmpeq_epi16(w.high, _mm_set1_epi16(0x0A)));
  }
  const auto stops =
      static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(stopLow, stopHigh)));
  if ((stops & starts.starts) != 0) return false;
  w.starts = starts.starts;
  w.length = starts.length;
  return true;
}

// The UTF-8 forms of the eight units `u` (`one`: below 0x80, `shorter`:
// below 0x800) in the layout of kUtf8Table, units 0..3 and 4..7.
MEK_SSSE3 inline void utf8Groups(__m128i u, __m128i one, __m128i shorter, __m128i& first,
                                 __m128i& second) {
  const __m128i low6 = _mm_set1_epi16(0x003F);
  const __m128i shifted6 = _mm_srli_epi16(u, 6);
  const __m128i two = _mm_or_si128(shifted6, _mm_set1_epi16(0x00C0));
  const __m128i three = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0x00E0));
  const __m128i lead = select(one, u, select(shorter, two, three));
  // Low byte: the middle continuation byte; high byte: the last one.
  const __m128i tail = _mm_or_si128(
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(u, low6), 8), _mm_and_si128(shifted6, low6)),
      _mm_set1_epi16(static_cast<short>(0x8080)));
  first = _mm_unpacklo_epi16(lead, tail);
  second = _mm_unpackhi_epi16(lead, tail);
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
    } else {
      one = _mm_cmpeq_epi16(_mm_and_si128(c, fromAscii), zero);
      const __m128i kana = _mm_andnot_si128(one, _mm_cmpeq_epi16(_mm_and_si128(c, highByte), zero));
      bytes = select(one, c,
                     select(kana, _mm_or_si128(_mm_slli_epi16(c, 8), ss2),
                            _mm_or_si128(swapped, both80)));
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
  Window w;
  while (p <= last && readWindow(kind, table, p, false, false, w)) {
    const int first = static_cast<int>(w.starts & 0xFF);
    const int second = static_cast<int>(w.starts >> 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(w.low, control(utf8_shuffle::kDecodeTable, first)));
    dst += utf8_shuffle::kDecodeTable.lengths[first];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(w.high, control(utf8_shuffle::kDecodeTable, second)));
    dst += utf8_shuffle::kDecodeTable.lengths[second];
    p += w.length;
  }
  return {p, dst};
}

MEK_SSSE3 PairRun decodeUtf8Ssse3(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                                  const std::uint8_t* last, std::uint8_t* dst, bool stopAtCr,
                                  bool stopAtLf) {
  const __m128i from80 = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i from800 = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i zero = _mm_setzero_si128();
  Window w;
  while (p <= last && readWindow(kind, table, p, stopAtCr, stopAtLf, w)) {
    const __m128i oneLow = _mm_cmpeq_epi16(_mm_and_si128(w.low, from80), zero);
    const __m128i oneHigh = _mm_cmpeq_epi16(_mm_and_si128(w.high, from80), zero);
    const __m128i shortLow = _mm_cmpeq_epi16(_mm_and_si128(w.low, from800), zero);
    const __m128i shortHigh = _mm_cmpeq_epi16(_mm_and_si128(w.high, from800), zero);
    const auto one = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(oneLow, oneHigh)));
    const auto shorter =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(shortLow, shortHigh)));
    // Per character, the low bit of its form's length (one or three bytes)
    // and the high bit (two or three); neither for the second byte of a pair.
    const std::uint32_t lengthLow = w.starts & (one | ~shorter);
    const std::uint32_t lengthHigh = w.starts & ~one;
    __m128i groups[4];
    utf8Groups(w.low, oneLow, shortLow, groups[0], groups[1]);
    utf8Groups(w.high, oneHigh, shortHigh, groups[2], groups[3]);
    for (int g = 0; g < 4; ++g) {
      const auto index =
          static_cast<int>((lengthLow >> (4 * g) & 0xF) | (lengthHigh >> (4 * g) & 0xF) << 4);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                       _mm_shuffle_epi8(groups[g], control(kUtf8Table, index)));
      dst += kUtf8Table.lengths[index];
    }
    p += w.length;
  }
  return {p, dst};
}

}  // namespace mek::pair_windows

#endif
