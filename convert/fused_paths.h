#pragma once

#include "mek/converter.h"

namespace mek {

// A converter that does the work of a decoder, the line-ending stage and the
// encoder in one scan, for a pair people convert often, or null when the
// pair has none: the three stages are then the way. The pairs: Shift_JIS,
// cp932, EUC-JP, ISO-2022-JP, the five codes from sjis2004 to cp51932,
// UTF-16 and UTF-32 to UTF-8, and UTF-8 to
// Shift_JIS, cp932, EUC-JP, ISO-2022-JP (jis) and UTF-16LE, each with any line ending. Its
// output, failures and changes are those of the three stages; what it leaves unconsumed and
// its state carry from piece to piece as a decoder's do. A forgiving policy
// writes its substitute for a sequence that the end of the text cuts off
// itself, in the output code.
const Converter* findFusedPath(int inputCode, int outputCode, int lineEnding);

// Bits of a fused path's piece state beside its decoder's own (the
// ISO-2022-JP shift state, below 0x100): the last character was a CR, and
// the text has begun (a UTF-8 mark is no longer dropped, a UTF-16 or UTF-32
// mark no longer read), and the mark that began it was little-endian.
inline constexpr std::int32_t kFusedAfterCr = 0x100;
inline constexpr std::int32_t kFusedStarted = 0x200;
inline constexpr std::int32_t kFusedLittle = 0x400;

}  // namespace mek
