// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstdint>

#include "mek/codes.h"
#include "mek/converter.h"
#include "mek/end_of_line.h"

namespace mek {

// The decoder for an input code number (1 .. kCodeCount - 1), null otherwise.
const Converter* findDecoder(int code);
// The encoder for an output code number (1 .. kCodeCount - 1), null
// otherwise. Twins are written when the buffer's error policy asks for them.
const Converter* findEncoder(int code);

// The error policy of a conversion to `outputCode` (a code number): what
// `action` does there, with fallback or not. `replacement` (kReplace, 0 for
// the default) is written instead of both U+FFFD and `?`; the caller makes
// sure that the output code carries it (see carries()). A malformed sequence
// becomes the replacement, or U+FFFD where the output code carries it,
// else `?` (kReplace) or &#65533; (kHtml).
ErrorPolicy errorPolicyFor(Errors action, bool fallback, char32_t replacement, int outputCode);

// Whether the encoder of `outputCode` writes the character c.
bool carries(int outputCode, char32_t c);

// The line-ending converter for line-ending codes 1 (LF), 2 (CR LF), 3 (CR).
const EndOfLineConverter* findLineEndConverter(int code);

}  // namespace mek
