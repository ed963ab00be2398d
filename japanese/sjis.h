#pragma once

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// Shift_JIS (code page 932 repertoire) to internal form. Bytes 0x00..0x7F
// and 0xA1..0xDF are one-byte codes; every other byte leads a two-byte code.
class SjisDecoder : public ScanningConverter<SjisDecoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr SjisDecoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<SjisDecoder, Decoder>;

// Internal form to Shift_JIS; a character without a code fails the input.
// When the error policy asks for the fallback, a character without a code of its
// own is written with the code of its twin (U+301C as 81 60, the code of
// U+FF5E) instead.
class SjisEncoder : public ScanningConverter<SjisEncoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most two bytes.
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr SjisEncoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<SjisEncoder, Encoder>;

}  // namespace mek
