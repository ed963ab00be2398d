#pragma once

#include "mek/converter.h"

namespace mek {

// Shift_JIS as Windows reads it (code page 932): the Shift_JIS decoder, and
// the user-defined area 0xF040..0xF9FC as U+E000..U+E757.
class Cp932Decoder : public Decoder {
 public:
  constexpr Cp932Decoder() = default;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
};

// Internal form to Shift_JIS as Windows writes it (kUnicodeToCp932Code in
// japanese/flat_tables.h); a character without a code fails the input.
class Cp932Encoder : public Encoder {
 public:
  constexpr Cp932Encoder() = default;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
};

}  // namespace mek
