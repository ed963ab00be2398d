#pragma once

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// Shift_JIS as Windows reads it (code page 932): the Shift_JIS decoder, and
// the user-defined area 0xF040..0xF9FC as U+E000..U+E757.
class Cp932Decoder : public ScanningConverter<Cp932Decoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Cp932Decoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp932Decoder, Decoder>;

// Internal form to Shift_JIS as Windows writes it (kUnicodeToCp932Code in
// japanese/flat_tables.h); a character without a code fails the input.
class Cp932Encoder : public ScanningConverter<Cp932Encoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most two bytes.
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr Cp932Encoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp932Encoder, Encoder>;

}  // namespace mek
