#pragma once

// Block writers of the UTF-8 codec in several implementations, chosen at run
// time by what the processor offers. All of them give the same bytes as the
// plain writers in utf8_blocks.h, which the others fall back to for the
// last few bytes of a stretch.

#include <cstddef>
#include <cstdint>

namespace mek {

enum class Utf8Path {
  kPlain,  // utf8_blocks.h: SSE2 on x86-64, plain loops elsewhere
  kSsse3,  // byte shuffles, 8 bytes or units a step
  kAvx2,   // byte shuffles, 16 bytes or units a step
};

// Whether this processor (and this build) can run `path`.
bool utf8PathSupported(Utf8Path path);

// The fastest path that this processor runs.
Utf8Path bestUtf8Path();

// shortSequencePrefix on `path`, which must be supported: the same prefix,
// found with the widest vectors the path offers.
const std::uint8_t* shortSequencePrefixOn(Utf8Path path, const std::uint8_t* p,
                                          const std::uint8_t* end);

// writeShortSequences on `path`, which must be supported: writes the units of
// the well-formed one- to three-byte sequences of [p, end) to dst, and
// returns the end of what was written. Like the plain writer, it writes
// nothing beyond the bytes of those units, so an area of the measured size is
// never overrun.
std::uint8_t* writeShortSequencesOn(Utf8Path path, const std::uint8_t* p, const std::uint8_t* end,
                                    std::uint8_t* dst);

// writeUnitsUtf8 on `path`, which must be supported: writes `n` internal-form
// units (none a surrogate) at p as UTF-8 to dst, and returns the end of what
// was written. Stays within the bytes that the units encode to.
std::uint8_t* writeUnitsUtf8On(Utf8Path path, const std::uint8_t* p, std::size_t n,
                               std::uint8_t* dst);

}  // namespace mek
