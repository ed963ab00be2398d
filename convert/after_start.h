#pragma once

// The converters a stream goes on with once a text has begun, and the
// numbers its state is told by.

#include <cstdint>

#include "mek/converter.h"

namespace mek {

// The decoder that reads on, for input code `code`, once the start of a text
// [begin, end) has been read: a byte-order mark at the start has settled the
// byte order or been dropped, and a mark further on is an ordinary
// character. Null when the code's decoder reads on as it began.
const Converter* findDecoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end);
// A small number for each decoder a stream may run, the decoders of the
// codes and the one that reads UTF-8 on after its start (1..kCodeCount),
// and back; 0 and null for none.
int decoderNumber(const Converter* decoder);
const Converter* decoderOfNumber(int number);
// The encoder that writes on, for output code `code`, once the start of a
// text has been written: the same code without the mark. Null when the
// code's encoder writes on as it began.
const Converter* findEncoderAfterStart(int code, const std::uint8_t* begin,
                                       const std::uint8_t* end);

}  // namespace mek
