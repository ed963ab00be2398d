#pragma once

// The table form of the codes whose cells do not fit 16 bits: JIS X 0213
// (Shift_JIS-2004, EUC-JIS-2004, ISO-2022-JP-2004) maps codes to characters
// beyond U+FFFF (1-47-52 to U+20B9F) and 25 codes to two characters (a kana
// and U+309A, a letter and a combining accent). eucJP-ms and CP51932 take the
// same form, so that the five codes share their scans.
//
// A code has two sets of 94 x 94 cells by row and cell (0x21..0x7E each):
// set 1 is the two-byte set (JIS X 0213 plane 1; JIS X 0208 with its
// extensions), set 2 the one after SS3 (plane 2; JIS X 0212). A cell holds a
// character, kPairBase + i for the i-th of the table's pairs, or kNoWide. The
// tables are generated into japanese/tables/ (jis_x0213.h, eucjp_ms.h,
// cp51932.h) by tools/gen_tables.py.

#include <array>
#include <cstddef>
#include <cstdint>

#include "japanese/code_table.h"

namespace mek {

inline constexpr char32_t kNoWide = 0xFFFFFFFF;
inline constexpr char32_t kPairBase = 0x110000;
inline constexpr unsigned kWideSide = 94;
inline constexpr unsigned kWideCells = kWideSide * kWideSide;

// The two characters of one code, a base and the mark that follows it.
struct WidePair {
  char16_t base;
  char16_t mark;
};

// The code an encoder writes for a character, in one 16-bit form for every
// code of this kind (the EUC form, from which the others are computed):
//   below 0x80          ASCII;
//   0x80..0xFF          a single byte above ASCII: half-width katakana
//                       0xA1..0xDF (after SS2 in the EUC codes), or a C1
//                       control of eucJP-ms;
//   0x2121..0x7E7E      set 2, row high, cell low;
//   0xA1A1..0xFEFE      set 1, row | 0x80 high, cell | 0x80 low;
//   kNoMapping          none.
constexpr bool isSet1Code(std::uint16_t code) {
  return code >= 0xA1A1 && code != kNoMapping;
}
constexpr bool isSet2Code(std::uint16_t code) {
  return code >= 0x2121 && code < 0x8000;
}

// The cell index of a code of set 1 or set 2.
constexpr unsigned wideIndex(std::uint16_t code) {
  return ((code >> 8 & 0x7F) - 0x21u) * kWideSide + ((code & 0x7F) - 0x21u);
}

// A character beyond U+FFFF and its code.
struct WideBeyond {
  char32_t c;
  std::uint16_t code;
};

// A pair of characters and its code.
struct WidePairCode {
  char16_t base;
  char16_t mark;
  std::uint16_t code;
};

// Writes a decoded cell (see decodeStateless): a character of the BMP as a
// unit, one beyond it as a surrogate pair in one call, so that sinks that
// write another form take it as one character, and a pair as its two units.
struct PutWide {
  static constexpr char32_t kMiss = kNoWide;
  const WidePair* pairs;
  template <class Sink>
  void operator()(Sink& sink, char32_t c) const {
    if (c < 0x10000) [[likely]] {
      sink.unit(static_cast<std::uint16_t>(c));
    } else if (c < kPairBase) {
      const char32_t high = 0xD800 | ((c - 0x10000) >> 10);
      const char32_t low = 0xDC00 | ((c - 0x10000) & 0x3FF);
      sink.put4(static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high),
                static_cast<std::uint8_t>(low >> 8), static_cast<std::uint8_t>(low));
    } else {
      const WidePair& pair = pairs[c - kPairBase];
      sink.unit(static_cast<std::uint16_t>(pair.base));
      sink.unit(static_cast<std::uint16_t>(pair.mark));
    }
  }
};

}  // namespace mek
