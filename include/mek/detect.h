// The converter interface, beneath <mek/mek.h>: kept as it stands for the
// callers that drive converters and manage their own memory.
#pragma once

#include <cstdint>

#include "mek/codes.h"
#include "mek/converter.h"

namespace mek {

// The code (sjis .. utf32_le_bom, never a later one) that the whole input
// [begin, end) is taken to be in: byte-order marks first, then well-formedness tests in a fixed
// order, with UTF-16 little-endian when nothing else fits and the input is UTF-16LE to its
// last byte; kCodeAuto when not even that fits. Reads only; allocates nothing.
CodeNumber detectEncoding(const std::uint8_t* begin, const std::uint8_t* end);

// True when an ESC byte occurs in the input and the ISO-2022-JP decoder
// accepts the whole input.
bool looksLikeJis(ConversionBuffer& buffer);

// Shift_JIS test, stricter than the decoder: every byte 80..FF leads a
// two-byte code that must be mapped, and a lead byte may not end the input.
bool looksLikeSjis(ConversionBuffer& buffer);

}  // namespace mek
