#pragma once

#include <cstdint>

namespace mek {

// Where one piece of a longer text stands, for converters run over the text
// piece by piece. `state` is the converter's shift state where the piece
// begins (0 at the start of the text); `measurePiece` and `convertPiece` set
// `end_state` to the state at `stop`, from where the next piece carries on.
// `last` tells that no input follows, so that the rules for input cut off at
// the end apply; otherwise a sequence that the end may have cut short is
// left unconsumed, to be carried into the next piece.
struct Piece {
  std::int32_t state = 0;
  std::int32_t end_state = 0;
  bool last = true;
};

}  // namespace mek
