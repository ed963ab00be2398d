// What every converter does piece by piece unless it says otherwise.

#include "mek/converter.h"

#include "codec/piece.h"

namespace mek {

bool Converter::measurePiece(ConversionBuffer& buffer, Piece& piece) const {
  piece.end_state = piece.state;
  return measure(buffer);
}

bool Converter::convertPiece(ConversionBuffer& buffer, Piece& piece) const {
  piece.end_state = piece.state;
  return convert(buffer);
}

}  // namespace mek
