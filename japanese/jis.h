#pragma once

#include <cstdint>

#include "mek/converter.h"

namespace mek {

// ISO-2022-JP (7-bit JIS) to internal form. Escape sequences, SO and SI switch
// between ASCII (state 0), half-width katakana (1), JIS X 0208 (2) and
// JIS X 0212 (3); every call starts in state 0.
class JisDecoder : public Decoder {
 public:
  constexpr JisDecoder() = default;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
  // The state carries from piece to piece; before the end of the text, a
  // control sequence that a piece may cut short is left for the next piece.
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override;
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override;

  // Value readEscape answers when no control sequence begins at a position.
  static constexpr int kNoControl = 4;

  // Reads the control sequence at `p` (before `end`): answers the state it
  // enters (0..3) and moves `p` past it, or answers kNoControl and leaves `p`
  // alone. A sequence cut off by `end` is no control sequence.
  static int readEscape(const std::uint8_t*& p, const std::uint8_t* end);
};

// Internal form to ISO-2022-JP. Writes ESC ( B, ESC $ B, ESC $ ( D and, for
// half-width katakana, ESC ( I with 7-bit bytes 0x21..0x5F; never SO or SI.
// Starts in ASCII and adds no closing ESC ( B.
//
// Built with `fallback`, a character without a code of its own is written at
// the JIS X 0208 position of its twin (U+FF5E as ESC $ B 21 41, the position of
// U+301C) instead of failing.
class JisEncoder : public Encoder {
 public:
  constexpr JisEncoder() = default;
  explicit constexpr JisEncoder(bool withFallback) : fallback(withFallback) {}
  const bool fallback = false;
  bool convert(ConversionBuffer& buffer) const override;
  bool measure(ConversionBuffer& buffer) const override;
  // The set in use carries from piece to piece.
  bool measurePiece(ConversionBuffer& buffer, Piece& piece) const override;
  bool convertPiece(ConversionBuffer& buffer, Piece& piece) const override;
};

}  // namespace mek
