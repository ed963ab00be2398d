// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include "mek/converter.h"

namespace mek {

// Runs one stage on `buffer`: takes the previous output as input, measures,
// allocates the measured size and converts. The previous stage's input is
// released first; its area serves as the new output when it is large enough,
// which saves the kernel the zeroing of fresh pages. A sequence that the end
// of the input cuts off, which the converter leaves unconsumed, fails the
// stage as malformed input (`stop` at its first byte, `size`
// kMalformedInput). Prints one message on
// standard error and returns false on failure. Areas are allocated with
// std::malloc and released with std::free.
bool runStage(ConversionBuffer* buffer, const Converter* converter);

// runStage without the message: on failure `size` tells why, as after a
// converter's failure (kMalformedInput, kUnmappable), or kOutputTooLarge
// when the output is too large for a count or its area for memory.
bool runStageQuietly(ConversionBuffer* buffer, const Converter* converter);

// Ends a stage that would copy its input unchanged without running it: the
// previous stage's input is released and `out` and `size` stay as they are.
// `in_begin` becomes null, so that the next stage releases nothing twice.
void skipStage(ConversionBuffer* buffer);

}  // namespace mek
