#pragma once

#include "mek/converter.h"

namespace mek {

// What `size` holds after convertInMemory failed because no code takes the
// input.
inline constexpr std::int32_t kUndetected = -4;

// Runs the three stages (decoder, line endings, encoder) on `buffer`, whose
// `out` and `size` hold the input bytes on entry and the result on success.
// An input code of kCodeAuto is settled by detection first. With `fallback`
// the encoder writes characters without a code of their own at their twin's.
// `folds` fold the decoded text first.
// Answers false on failure, with `size` telling why: kUndetected, or as
// runStageQuietly tells (a code without a converter is kMalformedInput).
// Prints nothing; inMemoryMessage words the failure. Areas are
// std::malloc'd; the record owns them.
bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback = false, Fold folds = Fold::none);
// The same under an error policy (see errorPolicyFor); on success
// `buffer.changes` tells how many sequences and characters it changed.
bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     const ErrorPolicy& policy, Fold folds = Fold::none);

// The message of a failure whose kind `size` holds after convertInMemory:
// "cannot detect the input code", "cannot allocate enough memory" or
// "cannot convert bytes", without a newline.
const char* inMemoryMessage(std::int32_t size);

}  // namespace mek
