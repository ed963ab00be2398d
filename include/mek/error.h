#pragma once

#include <array>
#include <cstdint>

namespace mek {

// How a conversion failed, or what an error policy changed.
enum class ErrorKind {
  none,
  malformed,   // the input bytes are not valid in the input code
  unmapped,    // a valid character that the output code cannot carry
  too_large,   // an output that no size can hold (a piece's output beyond a signed 32-bit count)
  no_memory,   // memory for the conversion could not be allocated
  output,      // the caller's writer refused the output
  undetected,  // no code reads the input as text; the place, when set, is the
               // first bad sequence of the code that reads all but a few places
};

// Where and why, traced back to the input: the byte offset of the first byte
// of the offending sequence or character (from 0, a byte-order mark
// included), its line and its column (from 1; LF, CR LF and CR each end a
// line as they stand in the input, and columns count characters: a
// surrogate pair is one, escape sequences and byte-order marks are none).
// The one record of a failure or a change, from the scan to the caller.
struct Error {
  ErrorKind kind = ErrorKind::none;
  std::uint64_t offset = 0;
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  // malformed: the offending bytes, from `offset`, as far as the decoder
  // read to reject them; unmapped: the character's bytes. At most four,
  // `byte_count` of them.
  std::array<std::uint8_t, 4> bytes{};
  std::uint8_t byte_count = 0;
  // unmapped: the character (U+0000..U+10FFFF).
  char32_t character = 0;
};

}  // namespace mek
