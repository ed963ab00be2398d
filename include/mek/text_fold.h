#pragma once

#include "mek/converter.h"

namespace mek {

// The stage that folds internal-form text as `folds` says (Fold, mek/types.h), run between the
// decoder and the line endings; null when `folds` asks for nothing. Before
// the end of a text, a kana that may still combine with a mark in the next
// piece is left for that piece, so pieces of any size give the same text.
// It never rejects input.
const Converter* findTextFold(Fold folds);

}  // namespace mek
