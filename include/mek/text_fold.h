#pragma once

#include "mek/converter.h"

namespace mek {

// The folds of decoded text, flags that combine. Whatever the flags, they
// run in one fixed order: wide kana, then composed kana, then narrow ASCII.
enum TextFoldFlags : unsigned {
  // Half-width katakana U+FF61..U+FF9F to full width. A base followed by
  // the half-width voiced or semi-voiced mark becomes the precomposed kana
  // where JIS X 0208 has one (ｶﾞ to ガ); otherwise the mark becomes the
  // spacing mark U+309B or U+309C (ﾜﾞ to ワ゛), which every Japanese code
  // carries.
  kFoldWideKana = 1,
  // A kana followed by the combining mark U+3099 or U+309A to the
  // precomposed kana where Unicode has one, as canonical composition does.
  kFoldComposeKana = 2,
  // Full-width ASCII U+FF01..U+FF5E to U+0021..U+007E, and the ideographic
  // space U+3000 to U+0020.
  kFoldNarrowAscii = 4,
};
inline constexpr unsigned kFoldAll = kFoldWideKana | kFoldComposeKana | kFoldNarrowAscii;

// The stage that folds internal-form text as `folds` says, run between the
// decoder and the line endings; null when `folds` asks for nothing. Before
// the end of a text, a kana that may still combine with a mark in the next
// piece is left for that piece, so pieces of any size give the same text.
// It never rejects input.
const Converter* findTextFold(unsigned folds);

}  // namespace mek
