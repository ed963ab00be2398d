#pragma once

// Window kernels of the two-byte Japanese codes, Shift_JIS and EUC-JP: runs
// of kana and kanji a window of 16 bytes or 8 units at a time, without a
// branch that depends on the kind of character. Encoding, a window takes
// any mix of ASCII, kana and kanji; decoding, eight pairs in a row, which
// masks find. The units and codes come from the codec's tables, one load
// each; shuffles put the results in place. Anything a window cannot take whole (a character without
// a mapping, a three-byte code, the end of the input) stops the kernel before that window, and the
// codec's own step takes it from there. The plain kernels here do the same in plain C++;
// pair_windows_ssse3.cpp has the shuffle ones, which pair_windows.cpp picks at run time.

#include <cstddef>
#include <cstdint>

#include "simd/config.h"
#include "simd/utf8_shuffle.h"

#if MEK_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace mek {

// Which code a kernel reads or writes.
enum class PairCode {
  // Shift_JIS and cp932: bytes A1..DF are one-byte codes (half-width
  // katakana), every other byte from 0x80 up leads a pair. A code below
  // 0x100 is written as one byte, any other as its lead and trail bytes.
  kSjis,
  // EUC-JP: every byte from 0x80 up begins a pair (a lead that begins
  // something else, SS3, has no mapped pairs). A code below 0x80 is one
  // byte, one below 0x100 half-width katakana after SS2 (8E), one below
  // 0x8000 a JIS X 0208 code with both bytes from A1 up.
  kEucjp,
  // ISO-2022-JP inside its JIS X 0208 set, encoding only: a window whose
  // eight units all have JIS X 0208 codes (from 0x100 up, below 0x8000),
  // each written as its row and cell. The caller has entered the set.
  kJis,
};

// Bytes a window takes: 16 bytes decoding, 8 units encoding.
inline constexpr std::size_t kPairWindow = 16;

// Where a kernel stopped, in its input and in its output.
struct PairRun {
  const std::uint8_t* in;
  std::uint8_t* out;
};

// The bytes of `code`, a value of the codec's encoding table, packed: the
// first byte lowest, the second above it, and their number (1 or 2) from bit
// 16 up; 0 for a code a window does not write (kNoMapping, JIS X 0212).
constexpr std::uint32_t packPairCode(PairCode kind, std::uint32_t code) {
  if (kind == PairCode::kSjis) {
    if (code < 0x100) return 1u << 16 | code;
    return code == 0xFFFF ? 0 : 2u << 16 | (code & 0xFF) << 8 | code >> 8;
  }
  if (kind == PairCode::kJis) {
    return code >= 0x100 && code < 0x8000 ? 2u << 16 | (code & 0xFF) << 8 | code >> 8 : 0;
  }
  if (code < 0x80) return 1u << 16 | code;
  if (code < 0x100) return 2u << 16 | code << 8 | 0x8E;
  return code < 0x8000 ? 2u << 16 | ((code & 0xFF) | 0x80) << 8 | (code >> 8 | 0x80) : 0;
}

// Encodes the internal-form units from p on into dst, a window of 8 at a
// time, through `table` (the unit's code, kNoMapping for none), while a
// window starts at `last` or before it and holds a unit from 0x80 up, and
// each of its units has a code that packPairCode writes. Stores may reach
// up to 16 bytes beyond the end of what they wrote, never beyond 16 bytes
// from the start of the last window's output.
PairRun encodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst);

// Decodes the bytes from p on (p begins a character) as UTF-8 into dst, a
// window of 16 bytes (eight pairs) at a time, through `table` (the unit of
// the pair (b, next) at index (b - 0x80) * 256 + next, as
// kSjisHighToUnicode), while a window starts at `last` or before it and
// holds eight pairs whose units all have three-byte forms (U+0800 and up,
// none kNoMapping): the bulk of kanji and kana runs. Stores may reach 4
// bytes beyond the end of what they wrote.
PairRun decodePairWindows(PairCode kind, const std::uint16_t* table, const std::uint8_t* p,
                          const std::uint8_t* last, std::uint8_t* dst);

// The same kernels on `path` (shuffles from SSSE3 up), which must be
// supported; the same results.
PairRun encodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst);
PairRun decodePairWindowsOn(Utf8Path path, PairCode kind, const std::uint16_t* table,
                            const std::uint8_t* p, const std::uint8_t* last, std::uint8_t* dst);

// Whether a decoding window (which begins a character) holds eight pairs,
// where bit i of `leading` is set when byte i leads a pair if it begins a
// character: then byte 0 leads one, byte 2 begins the next, and so on, so
// every even byte must be such a byte, and that is all it takes.
constexpr bool holdsEightPairs(std::uint32_t leading) {
  return (leading & 0x5555) == 0x5555;
}

// A quick test that a decoding window at p may hold eight pairs, for the
// caller to ask before it calls the kernels: every even byte is 0x80 or
// more.
inline bool mayHoldEightPairs(const std::uint8_t* p) {
#if MEK_SIMD_SSE2
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return (_mm_movemask_epi8(v) & 0x5555) == 0x5555;
#else
  std::uint8_t all = 0x80;
  for (std::size_t i = 0; i < kPairWindow; i += 2) all &= p[i];
  return all != 0;
#endif
}

// A quick test that an encoding window at p (eight big-endian units) may
// hold JIS X 0208 characters only: no unit below U+0100.
inline bool mayHoldEightWideUnits(const std::uint8_t* p) {
#if MEK_SIMD_SSE2
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const int zero = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()));
  return (zero & 0x5555) == 0;
#else
  for (std::size_t i = 0; i < kPairWindow; i += 2) {
    if (p[i] == 0) return false;
  }
  return true;
#endif
}

// The three-byte form of unit u (U+0800 and up), packed as packPairCode
// packs: first byte lowest.
constexpr std::uint32_t threeByteForm(std::uint32_t u) {
  return (0xE0 | u >> 12) | (0x80 | ((u >> 6) & 0x3F)) << 8 | (0x80 | (u & 0x3F)) << 16;
}

}  // namespace mek
