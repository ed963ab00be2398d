#pragma once

#include <cstdint>
#include <cstdio>

#include "convert/converter.h"

namespace mek {

// Runs the three stages (decoder, line endings, encoder) on `buffer`, whose
// `out` and `size` hold the input bytes on entry and the result on success.
// An input code of kCodeAuto is settled by detection first. With `fallback`
// the encoder writes characters without a code of their own at their twin's.
// Prints one message and answers false on failure. Areas are std::malloc'd;
// the record owns them.
bool convertInMemory(ConversionBuffer& buffer, int inputCode, int outputCode, int lineEnding,
                     bool fallback = false);

// Reads `input` from its start, converts it piece by piece and writes the
// result to the file at `outputPath`, which is replaced only once the whole
// conversion has succeeded, or to standard output when `outputPath` is null.
// Prints one message, after "`label`: " when a label is given, and answers
// false on failure.
bool runConversion(std::FILE* input, int inputCode, const char* outputPath, int outputCode,
                   int lineEnding, bool fallback = false, const char* label = nullptr);

}  // namespace mek
