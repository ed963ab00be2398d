#pragma once

#include <cstdint>

namespace mek {

// Where a piece of a text may end so that the fused path of its input code
// converts the next piece alone, from its state after a line end: at the
// end of the last line of [begin, end) after which nothing is left open, or
// null when there is none. `offset` is where `begin` stands in the text, for
// the codes whose units are wider than a byte.
using LineCut = const std::uint8_t* (*)(const std::uint8_t* begin, const std::uint8_t* end,
                                        std::uint64_t offset);

// The cut of the codes without shift states whose characters hold no LF
// byte (Shift_JIS, cp932, EUC-JP, UTF-8): after the last LF whose byte
// before is below 0x80, so that no sequence is left open before it.
const std::uint8_t* safeLineCut(const std::uint8_t* begin, const std::uint8_t* end,
                                std::uint64_t offset = 0);

// The cut of ISO-2022-JP: after the last LF whose last control sequence
// before it (within the piece) returns to ASCII, as a line of mail does
// before its end.
const std::uint8_t* asciiLineCut(const std::uint8_t* begin, const std::uint8_t* end,
                                 std::uint64_t offset);

// The cut of UTF-16 and UTF-32 without a mark: after the last LF unit.
template <unsigned kUnit, bool kLittle>
const std::uint8_t* unitLineCut(const std::uint8_t* begin, const std::uint8_t* end,
                                std::uint64_t offset);

// The cut for the fused path from `inputCode`, or null when its pieces
// cannot be cut after line ends (codes with a mark to read, and the
// three-stage pairs).
LineCut lineCutFor(int inputCode);

}  // namespace mek
