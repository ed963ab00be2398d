#pragma once

#include "convert/converter.h"

namespace mek {

// Shift_JIS (code page 932 repertoire) to internal form. Bytes 0x00..0x7F
// and 0xA1..0xDF are one-byte codes; every other byte leads a two-byte code.
class SjisDecoder : public Decoder {
 public:
  constexpr SjisDecoder() = default;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
};

// Internal form to Shift_JIS; a character without a code fails the input.
class SjisEncoder : public Encoder {
 public:
  constexpr SjisEncoder() = default;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
};

}  // namespace mek
