#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// ISO-2022-JP (7-bit JIS) to internal form. Escape sequences, SO and SI switch
// between ASCII (state 0), half-width katakana (1), JIS X 0208 (2) and
// JIS X 0212 (3); every call starts in state 0.
class JisDecoder : public ScanningConverter<JisDecoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr JisDecoder() = default;
  // The one rule of both passes (see ScanningConverter). The state carries from piece to piece;
  // before the end of the text, a control sequence that a piece may cut short is left for the next
  // piece.
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;

  // Value readEscape answers when no control sequence begins at a position.
  static constexpr int kNoControl = 4;

  // Reads the control sequence at `p` (before `end`): answers the state it
  // enters (0..3) and moves `p` past it, or answers kNoControl and leaves `p`
  // alone. A sequence cut off by `end` is no control sequence.
  static int readEscape(const std::uint8_t*& p, const std::uint8_t* end);
};
extern template class ScanningConverter<JisDecoder, Decoder>;

// Internal form to ISO-2022-JP. Writes ESC ( B, ESC $ B, ESC $ ( D and, for
// half-width katakana, ESC ( I with 7-bit bytes 0x21..0x5F; never SO or SI.
// Starts in ASCII and adds no closing ESC ( B.
//
// When the error policy asks for the fallback, a character without a code of its
// own is written at
// the JIS X 0208 position of its twin (U+FF5E as ESC $ B 21 41, the position of
// U+301C) instead of failing.
class JisEncoder : public ScanningConverter<JisEncoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most a four-byte escape and two bytes.
  std::size_t outputBound(std::size_t n) const override { return 3 * n; }
  constexpr JisEncoder() = default;
  // The one rule of both passes (see ScanningConverter). The set in use
  // carries from piece to piece.
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<JisEncoder, Encoder>;

}  // namespace mek
