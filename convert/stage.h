#pragma once

#include "convert/converter.h"

namespace mek {

// Runs one stage on `buffer`: releases the previous stage's input, takes the
// previous output as input, measures, allocates exactly the measured size and
// converts. Prints one message on standard error and returns false on failure.
// Areas are allocated with std::malloc and released with std::free.
bool runStage(ConversionBuffer* buffer, const Converter* converter);

}  // namespace mek
