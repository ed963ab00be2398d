#pragma once

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// EUC-JP to internal form: ASCII, JIS X 0208 (two bytes 0xA1..0xFE),
// JIS X 0201 behind 0x8E and JIS X 0212 behind 0x8F.
class EucjpDecoder : public ScanningConverter<EucjpDecoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr EucjpDecoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<EucjpDecoder, Decoder>;

// Internal form to EUC-JP. A character is written as ASCII, else JIS X 0208,
// else JIS X 0212, else JIS X 0201, the first set that holds it.
//
// When the error policy asks for the fallback, a character without a code of its
// own is written at
// the JIS X 0208 position of its twin (U+FF5E as A1 C1, the position of
// U+301C) instead of failing.
class EucjpEncoder : public ScanningConverter<EucjpEncoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most three bytes (JIS X 0212).
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 2; }
  constexpr EucjpEncoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<EucjpEncoder, Encoder>;

}  // namespace mek
