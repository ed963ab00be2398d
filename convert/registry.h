#pragma once

#include "convert/converter.h"
#include "convert/end_of_line.h"

namespace mek {

// The decoder for input code numbers 1..12, null otherwise.
const Converter* findDecoder(int code);
// The encoder for output code numbers 1..12, null otherwise.
const Converter* findEncoder(int code);
// The line-ending converter for line-ending codes 1 (LF), 2 (CR LF), 3 (CR).
const EndOfLineConverter* findLineEndConverter(int code);

}  // namespace mek
