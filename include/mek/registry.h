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

// The line-ending converter for line-ending codes 1 (LF), 2 (CR LF), 3 (CR).
const EndOfLineConverter* findLineEndConverter(int code);

}  // namespace mek
