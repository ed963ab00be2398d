// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstdint>

#include "mek/converter.h"

namespace mek {

// Rewrites every line ending of internal-form text (CR, LF or CR LF) as the
// one line ending the instance was built for; all other units pass unchanged.
// The kind it is built with says which: kCr, kLf, kKeep (every line ending
// stays as it stands: the text passes whole), any other kind CR LF. Never
// rejects input.
class EndOfLineConverter : public Converter {
 public:
  static constexpr int kCr = 0;
  static constexpr int kLf = 1;
  static constexpr int kCrLf = 2;
  static constexpr int kKeep = 3;
  explicit constexpr EndOfLineConverter(int kind)
      : sequence{kind == kCr   ? std::uint8_t{0x0D}
                 : kind == kLf ? std::uint8_t{0x0A}
                               : std::uint8_t{0x0D},
                 kind == kCr || kind == kLf ? std::uint8_t{0} : std::uint8_t{0x0A}},
        sequence_length(kind == kKeep                ? 0
                        : kind == kCr || kind == kLf ? 1
                                                     : 2) {}

  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
  // CR LF written for a one-unit line ending doubles it at most.
  std::size_t outputBound(std::size_t n) const override { return sequence_length == 2 ? 2 * n : n; }
  // Before the end of the text, a CR that ends a piece is left for the next
  // piece, where it may pair with an LF.
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override;
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override;

  // True when converting [begin, end) would give the same bytes: whole units
  // only, and every line ending already the one this instance writes. Stops
  // at the first difference, so text that does change costs little.
  bool leavesUnchanged(const std::uint8_t* begin, const std::uint8_t* end) const;

  // Low bytes of the units written for each line ending (none: kept).
  const std::uint8_t sequence[2];
  const std::int32_t sequence_length;

 private:
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};

}  // namespace mek
