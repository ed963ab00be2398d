#pragma once

#include "mek/converter.h"

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
// Built with `fallback`, a character without a code of its own is written
// with the code of its twin (U+301C as 81 60, the code of U+FF5E) instead.
class SjisEncoder : public Encoder {
 public:
  constexpr SjisEncoder() = default;
  explicit constexpr SjisEncoder(bool withFallback) : fallback(withFallback) {}
  const bool fallback = false;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
};

}  // namespace mek
