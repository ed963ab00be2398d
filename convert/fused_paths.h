#pragma once

#include "mek/converter.h"

namespace mek {

// A converter that does the work of a decoder, the line-ending stage and the
// encoder in one scan, for a pair people convert often, or null when the
// pair has none: the three stages are then the way. The pairs: Shift_JIS,
// cp932, EUC-JP and ISO-2022-JP to UTF-8, and UTF-8 to Shift_JIS, cp932,
// EUC-JP and UTF-16LE, each with LF or kept line endings. Its output, failures
// and changes are those of the three stages; what it leaves unconsumed and
// its state carry from piece to piece as a decoder's do. A forgiving policy
// writes its substitute for a sequence that the end of the text cuts off
// itself, in the output code.
const Converter* findFusedPath(int inputCode, int outputCode, int lineEnding);

}  // namespace mek
