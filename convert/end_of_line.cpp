#include "mek/end_of_line.h"

#include <cstddef>

#include "codec/piece.h"
#include "codec/sink.h"
#include "simd/line_scan.h"

namespace mek {
namespace {

template <bool kLfKept, class Sink>
bool scanLines(ConversionBuffer& buffer, const std::uint8_t* sequence, int sequence_length,
               Sink& sink) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    std::size_t run = ordinaryUnitPrefix<kLfKept>(p, end);
    sink.copy(p, 2 * run);
    p += 2 * run;
    if (end - p < 2) break;
    // p is at a line ending; CR LF counts as one.
    if (p[1] == 0x0D && end - p >= 4 && p[2] == 0 && p[3] == 0x0A) p += 2;
    p += 2;
    sink.put2(0, sequence[0]);
    if (sequence_length == 2) sink.put2(0, sequence[1]);
  }
  return finishScan(buffer, p, sink);
}

template <bool kLfKept>
bool linesUnchanged(const std::uint8_t* p, const std::uint8_t* end, const std::uint8_t* sequence,
                    int sequence_length) {
  if ((end - p) % 2 != 0) return false;
  for (;;) {
    p += 2 * ordinaryUnitPrefix<kLfKept>(p, end);
    if (p == end) return true;
    const int length = p[1] == 0x0D && end - p >= 4 && p[2] == 0 && p[3] == 0x0A ? 2 : 1;
    if (length != sequence_length || p[1] != sequence[0] || (length == 2 && p[3] != sequence[1]))
      return false;
    p += 2 * length;
  }
}

}  // namespace

bool EndOfLineConverter::leavesUnchanged(const std::uint8_t* begin, const std::uint8_t* end) const {
  if (sequence_length == 0) return (end - begin) % 2 == 0;
  if (sequence_length == 1 && sequence[0] == 0x0A) {
    return linesUnchanged<true>(begin, end, sequence, sequence_length);
  }
  return linesUnchanged<false>(begin, end, sequence, sequence_length);
}

template <class Sink>
bool EndOfLineConverter::scan(ConversionBuffer& buffer, Sink& sink) const {
  if (sequence_length == 0) {
    // Kept: whole units pass as they are.
    const std::size_t units = static_cast<std::size_t>(buffer.in_end - buffer.in_begin) / 2;
    sink.copy(buffer.in_begin, 2 * units);
    return finishScan(buffer, buffer.in_begin + 2 * units, sink);
  }
  if (sequence_length == 1 && sequence[0] == 0x0A) {
    return scanLines<true>(buffer, sequence, sequence_length, sink);
  }
  return scanLines<false>(buffer, sequence, sequence_length, sink);
}

namespace {

// Before the end of the text, a CR that ends a piece may begin a CR LF pair
// whose LF starts the next piece; the piece then ends before the CR, which is
// carried over (not when line endings are kept). Answers where the piece is
// to end.
const std::uint8_t* pieceEnd(const ConversionBuffer& buffer, const Piece& piece, bool kept) {
  const std::uint8_t* end = buffer.in_end - (buffer.in_end - buffer.in_begin) % 2;
  if (!kept && !piece.last && end - buffer.in_begin >= 2 && end[-2] == 0 && end[-1] == 0x0D) {
    end -= 2;
  }
  return end;
}

}  // namespace

bool EndOfLineConverter::measurePiece(ConversionBuffer& buffer, Piece& piece) const {
  piece.end_state = piece.state;
  const std::uint8_t* const end = buffer.in_end;
  buffer.in_end = pieceEnd(buffer, piece, sequence_length == 0);
  const bool ok = measure(buffer);
  buffer.in_end = end;
  return ok;
}

bool EndOfLineConverter::convertPiece(ConversionBuffer& buffer, Piece& piece) const {
  piece.end_state = piece.state;
  const std::uint8_t* const end = buffer.in_end;
  buffer.in_end = pieceEnd(buffer, piece, sequence_length == 0);
  const bool ok = convert(buffer);
  buffer.in_end = end;
  return ok;
}

bool EndOfLineConverter::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return scan(buffer, sink);
}

bool EndOfLineConverter::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return scan(buffer, sink);
}

}  // namespace mek
