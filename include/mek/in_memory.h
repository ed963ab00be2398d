#pragma once

#include "mek/converter.h"

namespace mek {

// Runs the three stages (decoder, line endings, encoder) on `buffer`, whose
// `out` and `size` hold the input bytes on entry and the result on success.
// An input code of kCodeAuto is settled by detection first. With `fallback`
// the encoder writes characters without a code of their own at their twin's.
// `folds` (TextFoldFlags, mek/text_fold.h) fold the decoded text first.
// Prints one message and answers false on failure. Areas are std::malloc'd;
// the record owns them.
bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback = false, unsigned folds = 0);
// The same under an error policy (see errorPolicyFor); on success
// `buffer.changes` tells how many sequences and characters it changed.
bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     const ErrorPolicy& policy, unsigned folds = 0);

}  // namespace mek
