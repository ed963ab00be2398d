#include "japanese/iso2022jp.h"

#include "codec/sink.h"
#include "japanese/flat_tables.h"
#include "japanese/text_fold.h"
#include "japanese/twins.h"

namespace mek {
namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

enum State : int { kAscii = 0, kRoman = 1, kJisX0208 = 2 };

template <class Sink>
void enterState(int wanted, int& state, Sink& sink) {
  if (state == wanted) return;
  if (wanted == kAscii) {
    sink.put3(kEsc, '(', 'B');
  } else if (wanted == kRoman) {
    sink.put3(kEsc, '(', 'J');
  } else {
    sink.put3(kEsc, '$', 'B');
  }
  state = wanted;
}

// Writes `unit` in the set that holds it, switching sets first when needed;
// false when no set of the mail form holds it.
template <class Sink>
bool encodeUnit(std::uint16_t unit, int& state, Sink& sink, bool fallback) {
  if (unit < 0x80) {
    if (unit == kEsc || unit == kShiftOut || unit == kShiftIn) return false;
    enterState(kAscii, state, sink);
    sink.put(static_cast<std::uint8_t>(unit));
    return true;
  }
  std::uint16_t code = kUnicodeToJisCode[unit];
  if (code < 0x80 && code != kNoMapping) {
    // U+00A5 and U+203E: the Roman set's 0x5C and 0x7E.
    enterState(kRoman, state, sink);
    sink.put(static_cast<std::uint8_t>(code));
    return true;
  }
  const bool jisX0208 = code >= 0x100 && code < kJisX0212Flag;
  if (!jisX0208) {
    if (!fallback) return false;
    code = twinJisX0208(unit);
    if (code == kNoMapping) return false;
  }
  enterState(kJisX0208, state, sink);
  sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  return true;
}

std::uint16_t unitAt(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

template <class Sink>
bool Iso2022jpEncoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  int state = piece.state;
  const bool fallback = sink.fallback();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    std::uint16_t unit = unitAt(p);
    const bool hasNext = end - p >= 4;
    if (!hasNext && !piece.last && mayTakeMark(unit, Fold::wide_kana)) break;
    std::ptrdiff_t taken = 2;
    const std::uint16_t pair = hasNext ? foldHalfWidthPair(unit, unitAt(p + 2)) : 0;
    if (pair != 0) {
      unit = pair;
      taken = 4;
    } else {
      unit = widenKana(unit);
    }
    if (!encodeUnit(unit, state, sink, fallback)) {
      int length = 2;
      const char32_t c = taken == 4 ? unit : characterAt(p, end, length);
      const bool forgiven = forgiveUnmappable(sink, p, c, [&](char32_t r) {
        encodeUnit(static_cast<std::uint16_t>(r), state, sink, fallback);
      });
      if (!forgiven) {
        piece.end_state = state;
        return failUnit(buffer, p);
      }
      if (taken == 2) taken = length;
    }
    p += taken;
  }
  // The text ends in ASCII; so does a piece that ends the text.
  if (piece.last) enterState(kAscii, state, sink);
  piece.end_state = state;
  return finishScan(buffer, p, sink);
}

// Both passes and their scans are compiled here, once.
MEK_PIECE_SCANS(Iso2022jpEncoder, Encoder);

}  // namespace mek
