#pragma once

// Direct-index forms of the code tables for the codecs' inner loops: one load
// per character and no range tests on the way. They are built at compile time
// from the CodeTables (japanese/flat_tables.cpp), which stay the reference;
// kNoMapping marks a miss here too.

#include <array>
#include <cstddef>
#include <cstdint>

#include "japanese/code_table.h"

namespace mek {

// Shift_JIS byte b in 0x80..0xFF together with the byte after it, at index
// (b - 0x80) * 256 + next: for a lead byte the unit of the pair (b, next); for
// a one-byte code (0xA1..0xDF) the unit of b alone, in every cell of its row,
// so that the decoder need not tell the two apart before the lookup.
extern const std::array<std::uint16_t, 0x8000> kSjisHighToUnicode;

constexpr std::size_t sjisHighIndex(std::uint8_t b, std::uint8_t next) {
  return static_cast<std::size_t>(b - 0x80) << 8 | next;
}

// The same for code page 932 as Windows reads it: kSjisHighToUnicode, and the
// user-defined area 0xF040..0xF9FC onto U+E000..U+E757.
extern const std::array<std::uint16_t, 0x8000> kCp932HighToUnicode;

// Unicode unit to its Shift_JIS code as stored in UnicodeToSjis: a value
// below 0x100 is a one-byte code, any other lead byte high, trail byte low.
extern const std::array<std::uint16_t, 0x10000> kUnicodeToSjisCode;

// Unicode unit to its code page 932 code as Windows writes it, in the same
// form: the lowest of several codes, but the IBM extensions 0xFA40..0xFC4B
// before the NEC-selected ones 0xED40..0xEEFC; the user-defined area from
// U+E000..U+E757; U+00A5 and U+203E as 0x5C and 0x7E; and a character
// without a code of its own at its twin's code (japanese/twins.h).
extern const std::array<std::uint16_t, 0x10000> kUnicodeToCp932Code;

// JIS X 0208 and JIS X 0212 by 7-bit row and cell (0x21..0x7E each), at
// index (row - 0x21) * 94 + (cell - 0x21).
inline constexpr unsigned kJisSide = 94;
extern const std::array<std::uint16_t, kJisSide * kJisSide> kJisX0208ToUnicode;
extern const std::array<std::uint16_t, kJisSide * kJisSide> kJisX0212ToUnicode;

// JIS X 0201 by its 8-bit code, as row 0x00 of JisX0201ToUnicode.
extern const std::array<std::uint16_t, 0x100> kJisX0201ToUnicode;

// Unicode unit to the one form in which EUC-JP and ISO-2022-JP write it,
// taking ASCII, JIS X 0208, JIS X 0212 and JIS X 0201 in that order:
//   below 0x100          a one-byte code: ASCII, the JIS X 0201 Roman set's
//                        0x5C and 0x7E, or half-width katakana 0xA1..0xDF;
//   0x2121..0x7E7E       a JIS X 0208 code, row high, cell low;
//   kJisX0212Flag | code a JIS X 0212 code;
//   kNoMapping           none (every surrogate among them).
inline constexpr std::uint16_t kJisX0212Flag = 0x8000;
extern const std::array<std::uint16_t, 0x10000> kUnicodeToJisCode;

}  // namespace mek
