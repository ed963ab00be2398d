#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// Internal form to ISO-2022-JP for mail (RFC 1468): only ASCII (ESC ( B),
// JIS X 0201 Roman (ESC ( J, for U+00A5 and U+203E only) and JIS X 0208
// (ESC $ B). Half-width katakana are folded to full width first, as the
// wide-kana fold does (ｶﾞ as ガ). Every other character is unmappable, and
// so are ESC, SO and SI, which would let the text switch sets itself. The
// ASCII set is in force before every CR and LF (both are ASCII) and is
// restored at the end of the text, so that text appended to the output
// reads as ASCII. Read with the ISO-2022-JP decoder.
//
// When the error policy asks for the fallback, a character without a code of its
// own is written at the JIS X 0208 position of its twin, as the ISO-2022-JP
// encoder does; a forgiving policy writes its stand-in in the sets above.
class Iso2022jpEncoder : public ScanningConverter<Iso2022jpEncoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most an escape and two bytes; the text ends with ESC (
  // B.
  std::size_t outputBound(std::size_t n) const override { return 3 * n + 3; }
  constexpr Iso2022jpEncoder() = default;
  // The one rule of both passes (see ScanningConverter). The set in use
  // carries from piece to piece; before the end of the text, a kana that a
  // half-width mark in the next piece could join waits for it.
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Iso2022jpEncoder, Encoder>;

}  // namespace mek
