#pragma once

#include "convert/codes.h"
#include "convert/converter.h"
#include "convert/end_of_line.h"

namespace mek {

// The decoder for an input code number (1 .. kCodeCount - 1), null otherwise.
const Converter* findDecoder(int code);
// The encoder for an output code number (1 .. kCodeCount - 1), null
// otherwise. With `fallback`, the encoder that writes a character without a
// code of its own at its twin's position, where the code has one.
const Converter* findEncoder(int code, bool fallback = false);
// The line-ending converter for line-ending codes 1 (LF), 2 (CR LF), 3 (CR).
const EndOfLineConverter* findLineEndConverter(int code);

}  // namespace mek
