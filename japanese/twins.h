#pragma once

// Twins: pairs of Unicode characters that stand for one JIS X 0208 character,
// because mapping tables of different makers chose different code points for
// it (U+301C WAVE DASH in the JIS table, U+FF5E FULLWIDTH TILDE in the
// Windows one). An encoder that allows it writes a character without a code
// of its own at its twin's position.

#include <cstdint>

#include "japanese/code_table.h"

namespace mek {

// The JIS X 0208 position (row byte high, cell byte low, 0x21..0x7E each) of
// the twin of `unit`, or kNoMapping when `unit` has no twin.
constexpr std::uint16_t twinJisX0208(std::uint16_t unit) {
  switch (unit) {
    case 0x301C:  // WAVE DASH
    case 0xFF5E:  // FULLWIDTH TILDE
      return 0x2141;
    case 0x2016:  // DOUBLE VERTICAL LINE
    case 0x2225:  // PARALLEL TO
      return 0x2142;
    case 0x2212:  // MINUS SIGN
    case 0xFF0D:  // FULLWIDTH HYPHEN-MINUS
      return 0x215D;
    case 0x00A2:  // CENT SIGN
    case 0xFFE0:  // FULLWIDTH CENT SIGN
      return 0x2171;
    case 0x00A3:  // POUND SIGN
    case 0xFFE1:  // FULLWIDTH POUND SIGN
      return 0x2172;
    case 0x00AC:  // NOT SIGN
    case 0xFFE2:  // FULLWIDTH NOT SIGN
      return 0x224C;
    case 0x2014:  // EM DASH, beside U+2015 HORIZONTAL BAR
      return 0x213D;
    case 0xFF3C:  // FULLWIDTH REVERSE SOLIDUS, beside U+005C
      return 0x2140;
    default:
      return kNoMapping;
  }
}

// Every character that has a twin.
inline constexpr std::uint16_t kTwinUnits[] = {
    0x301C, 0xFF5E, 0x2016, 0x2225, 0x2212, 0xFF0D, 0x00A2,
    0xFFE0, 0x00A3, 0xFFE1, 0x00AC, 0xFFE2, 0x2014, 0xFF3C,
};

}  // namespace mek
