#pragma once

#include <cstdint>

#include "convert/converter.h"
#include "convert/end_of_line.h"

namespace mek {

// The decoder for input code numbers 1..12, null otherwise.
const Converter* findDecoder(int code);
// The encoder for output code numbers 1..12, null otherwise.
const Converter* findEncoder(int code);
// The decoder that reads on, for input code `code`, once the start of a text
// [begin, end) has been read: a byte-order mark at the start has settled the
// byte order or been dropped, and a mark further on is an ordinary
// character.
const Converter* findDecoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end);
// The encoder that writes on, for output code `code`, once the start of a
// text has been written: the same byte order without the mark.
const Converter* findEncoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end);

// The line-ending converter for line-ending codes 1 (LF), 2 (CR LF), 3 (CR).
const EndOfLineConverter* findLineEndConverter(int code);

}  // namespace mek
