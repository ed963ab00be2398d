#pragma once

#include <cstddef>
#include <cstdint>

#include "mek/types.h"

namespace mek {

// Counts lines and columns over internal-form text that arrives piece by
// piece (pieces may cut a surrogate pair or a CR LF). LF, CR LF and CR each
// end a line; a surrogate pair is one character.
class TextTally {
 public:
  void add(const std::uint8_t* units, std::size_t bytes);
  // Ends the text, so that a final CR counts as a line ending of its own.
  void finish();

  // The line and column (both 1-based) of the next character.
  std::uint64_t line() const { return line_; }
  std::uint64_t column() const { return before_ + 1; }
  // The kinds of line ending seen (LineEndingsSeen flags); a CR at the very
  // end is only told by finish().
  unsigned seen() const { return seen_; }

 private:
  std::uint64_t line_ = 1;
  std::uint64_t before_ = 0;  // characters before the next one on its line
  bool after_cr_ = false;     // the last unit was a CR
  unsigned seen_ = 0;
};

}  // namespace mek
