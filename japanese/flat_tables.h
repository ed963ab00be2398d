#pragma once

// Direct-index forms of the JIS code tables for the inner loops of the EUC-JP
// and ISO-2022-JP codecs: one load per character and no range tests on the
// way. They are built at compile time from the CodeTables
// (japanese/flat_tables.cpp), which stay the reference; kNoMapping marks a
// miss here too. The Shift_JIS family's are in japanese/shift_jis.h.

#include <array>
#include <cstddef>
#include <cstdint>

#include "japanese/code_table.h"

namespace mek {

// JIS X 0208 and JIS X 0212 by 7-bit row and cell (0x21..0x7E each), at
// index (row - 0x21) * 94 + (cell - 0x21).
inline constexpr unsigned kJisSide = 94;
extern const std::array<std::uint16_t, kJisSide * kJisSide> kJisX0208ToUnicode;
extern const std::array<std::uint16_t, kJisSide * kJisSide> kJisX0212ToUnicode;

// JIS X 0201 by its 8-bit code, as row 0x00 of JisX0201ToUnicode.
extern const std::array<std::uint16_t, 0x100> kJisX0201ToUnicode;

// EUC-JP byte b in 0x80..0xFF together with the byte after it, at index
// (b - 0x80) * 256 + next, as kSjisHighToUnicode: for b and next in
// 0xA1..0xFE the JIS X 0208 unit, after SS2 (0x8E) the JIS X 0201 unit of
// any next byte, and kNoMapping for every other pair (SS3 and the bytes that
// lead nothing among them).
extern const std::array<std::uint16_t, 0x8000> kEucjpHighToUnicode;

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
