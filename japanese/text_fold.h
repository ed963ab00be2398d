#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/types.h"

namespace mek {

// The stage that folds internal-form text as `folds` says (Fold,
// mek/types.h), run between the decoder and the line endings; null when
// `folds` asks for nothing. Before the end of a text, a kana that may still
// combine with a mark in the next piece is left for that piece, so pieces of
// any size give the same text. It never rejects input.
const Converter* findTextFold(Fold folds);

// The kana folds on single characters, shared by the fold stage and the
// ISO-2022-JP mail encoder.

// The full-width form of half-width katakana `unit` (U+FF61..U+FF9F; the
// two marks give the spacing marks U+309B and U+309C), or `unit` itself.
std::uint16_t widenKana(std::uint16_t unit);
// The precomposed kana of `base` with the combining mark `mark` (U+3099
// voiced, U+309A semi-voiced), or 0 where Unicode has none.
std::uint16_t composeKana(std::uint16_t base, std::uint16_t mark);
// The combining mark that half-width mark `unit` (U+FF9E, U+FF9F) stands
// for, or 0.
constexpr std::uint16_t combiningOfHalfWidthMark(std::uint16_t unit) {
  return unit == 0xFF9E ? 0x3099 : unit == 0xFF9F ? 0x309A : 0;
}
// The precomposed kana that `base` and the half-width mark `mark` fold to
// when JIS X 0208 has it (ｶﾞ to ガ), or 0: then the two fold on their own.
std::uint16_t foldHalfWidthPair(std::uint16_t base, std::uint16_t mark);
// True when, under `folds`, a mark that follows `unit` could still join it:
// before the end of a text such a unit waits for the next piece.
bool mayTakeMark(std::uint16_t unit, Fold folds);

// Folds internal-form text by the flags it was built with; see
// findTextFold.
class TextFold : public ScanningConverter<TextFold, Converter> {
 public:
  // Under the strict policy folds give one unit or fewer for each unit.
  std::size_t outputBound(std::size_t n) const override { return n; }
  explicit constexpr TextFold(Fold withFolds) : folds(withFolds) {}
  const Fold folds;

  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<TextFold, Converter>;

}  // namespace mek
