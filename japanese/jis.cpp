#include "japanese/jis.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "japanese/flat_tables.h"
#include "japanese/stateless_scan.h"
#include "japanese/twins.h"
#include "simd/ascii_block.h"
#include "simd/escape_scan.h"

namespace mek {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

enum State : int { kAscii = 0, kKatakana = 1, kJisX0208 = 2, kJisX0212 = 3 };

// The JIS X 0201 key of a byte in the katakana state: the 7-bit form
// 0x21..0x5F stands for 0xA1..0xDF; every other byte is its own key, so the
// 8-bit form works too and control bytes find no mapping.
constexpr std::uint8_t katakanaKey(std::uint8_t b) {
  return b >= 0x21 && b <= 0x5F ? static_cast<std::uint8_t>(b + 0x80) : b;
}

// The unit of a JIS X 0208 or JIS X 0212 pair, or kNoMapping; bytes outside
// 0x21..0x7E, control bytes among them, never map.
inline std::uint16_t pairUnit(const std::array<std::uint16_t, kJisSide * kJisSide>& table,
                              std::uint8_t row, std::uint8_t cell) {
  const unsigned r = row - 0x21u;
  const unsigned c = cell - 0x21u;
  return r < kJisSide && c < kJisSide ? table[r * kJisSide + c] : kNoMapping;
}

// Decodes from `state`, which is left as the state at `stop`.
template <class Sink>
bool decodeJis(ConversionBuffer& buffer, Sink& sink, int& state) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    // First the run of characters that need no look at control sequences:
    // bytes that cannot begin one, and, in the two-byte sets, mapped pairs
    // (a pair that begins with ESC, SO or SI maps to nothing).
    if (state == kAscii) {
      const std::size_t run = plainAsciiPrefix(p, end);
      sink.asciiRun(p, run);
      p += run;
    } else if (state == kKatakana) {
      while (p < end) {
        const std::uint16_t u = kJisX0201ToUnicode[katakanaKey(*p)];
        if (u == kNoMapping) break;
        sink.unit(u);
        p += 1;
      }
    } else {
      const auto& table = state == kJisX0208 ? kJisX0208ToUnicode : kJisX0212ToUnicode;
      while (end - p >= 2) {
        const std::uint16_t u = pairUnit(table, p[0], p[1]);
        if (u == kNoMapping) break;
        sink.unit(u);
        p += 2;
      }
    }
    if (p == end) break;
    // Then one control sequence or one character, by the general rules; the
    // two escapes of mail, which begin and end each run of kanji, first.
    if (p[0] == kEsc && end - p >= 3 && p[2] == 'B' && (p[1] == '$' || p[1] == '(')) {
      state = p[1] == '$' ? kJisX0208 : kAscii;
      p += 3;
      continue;
    }
    const int next = JisDecoder::readEscape(p, end);
    if (next != JisDecoder::kNoControl) {
      state = next;
      continue;
    }
    const std::uint8_t* const at = p;
    const std::uint8_t b = *p;
    std::uint16_t u;
    if (state == kAscii) {
      // Below 0x80 only an ESC that begins no control sequence gets here; a
      // byte 0x80 or above is its own JIS X 0201 key (katakana or nothing).
      u = b < 0x80 ? b : kJisX0201ToUnicode[b];
      p += 1;
    } else if (state == kKatakana) {
      u = kJisX0201ToUnicode[katakanaKey(b)];
      p += 1;
    } else {
      if (end - p < 2) break;  // a pair cut off at the end: left unconsumed
      u = pairUnit(state == kJisX0208 ? kJisX0208ToUnicode : kJisX0212ToUnicode, b, p[1]);
      p += 2;
    }
    if (u == kNoMapping) [[unlikely]] {
      // A pair of bytes that a set may hold but does not is one sequence;
      // otherwise the first byte alone is, and the second is read again.
      if (p - at == 2 && (at[0] < 0x21 || at[0] > 0x7E || at[1] < 0x21 || at[1] > 0x7E)) p = at + 1;
      if (!forgiveMalformed(sink, at, static_cast<std::size_t>(p - at))) {
        return failScan(buffer, at, kMalformedInput);
      }
      continue;
    }
    sink.unit(u);
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
void enterState(int wanted, int& state, Sink& sink) {
  if (state == wanted) return;
  switch (wanted) {
    case kAscii:
      sink.put3(kEsc, '(', 'B');
      break;
    case kKatakana:
      sink.put3(kEsc, '(', 'I');
      break;
    case kJisX0208:
      sink.put3(kEsc, '$', 'B');
      break;
    default:
      sink.put4(kEsc, '$', '(', 'D');
      break;
  }
  state = wanted;
}

// The encoder's fast loop narrows blocks (32 bytes written, of which fewer
// may count); every unit still ahead of the margin gives at least one output
// byte, so the surplus stays inside an output area of the measured size.
static_assert(kFastMargin / 2 >= kBlockWriteAhead / 2);

bool isShiftControl(std::uint8_t c) {
  return c == kEsc || c == kShiftOut || c == kShiftIn;
}

// How many of the first `ascii` ASCII units at p come before an SO, SI or
// ESC, which the ASCII runs leave to encodeOne.
unsigned beforeShiftControl(const std::uint8_t* p, unsigned ascii) {
#if MEK_SIMD_SSE2
  // The block's units can all be read (kBlockReadAhead); in an ASCII unit
  // only its low byte can be a control byte, so a unit's index is half its
  // first flagged byte's.
  static_assert(kBlockReadAhead == 64);
  const unsigned long long flagged = notPlainMask(p) |
                                     static_cast<unsigned long long>(notPlainMask(p + 16)) << 16 |
                                     static_cast<unsigned long long>(notPlainMask(p + 32)) << 32 |
                                     static_cast<unsigned long long>(notPlainMask(p + 48)) << 48;
  if (flagged == 0) return ascii;
  const auto first = static_cast<unsigned>(__builtin_ctzll(flagged)) / 2;
  return first < ascii ? first : ascii;
#else
  for (unsigned i = 0; i < ascii; ++i) {
    if (isShiftControl(p[2 * i + 1])) return i;
  }
  return ascii;
#endif
}

// Writes the unit at p in the set that holds it, switching sets first when
// needed, or fails.
template <class Sink>
inline bool encodeOne(const std::uint8_t* p, int& state, Sink& sink, bool fallback) {
  // The table holds ASCII first, so U+005C and U+007E are written as 0x5C and
  // 0x7E although JIS X 0208/0212 hold them too; surrogates have no form.
  const auto unit = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  std::uint16_t code = kUnicodeToJisCode[unit];
  // With the fallback, a character without a code of its own takes its twin's.
  if (code == kNoMapping && fallback) [[unlikely]]
    code = twinJisX0208(unit);
  const auto row = static_cast<std::uint8_t>(code >> 8 & 0x7F);
  const auto cell = static_cast<std::uint8_t>(code);
  if (code < kJisX0212Flag && code >= 0x100) [[likely]] {
    enterState(kJisX0208, state, sink);
    sink.put2(row, cell);
  } else if (code < 0x80) {
    // ASCII, and U+00A5 and U+203E: the Roman set's 0x5C and 0x7E. SO, SI
    // and ESC would be read back as shifts and escapes: no set holds them.
    if (isShiftControl(cell)) return false;
    enterState(kAscii, state, sink);
    sink.put(cell);
  } else if (code < 0x100) {
    enterState(kKatakana, state, sink);
    sink.put(static_cast<std::uint8_t>(cell - 0x80));
  } else if (code != kNoMapping) {
    enterState(kJisX0212, state, sink);
    sink.put2(row, cell);
  } else {
    return false;
  }
  return true;
}

// Runs of JIS X 0208 characters a window at a time, once the set is in
// use: encodeOne enters it with the run's first character.
class JisX0208Windows {
 public:
  explicit JisX0208Windows(const int& state)
      : state_(state), windows_(PairCode::kJis, kUnicodeToJisCode.data()) {}

  template <class Sink>
  const std::uint8_t* operator()(const std::uint8_t* p, const std::uint8_t* last,
                                 Sink& sink) const {
    return state_ == kJisX0208 && mayHoldEightWideUnits(p) ? windows_(p, last, sink) : p;
  }

 private:
  const int& state_;
  EncodeWindows windows_;
};

// Encodes from `state`, which is left as the set in use at `stop`. ASCII
// blocks are written in the ASCII set, up to an SO, SI or ESC, which
// encodeOne refuses.
template <class Sink>
bool encodeJis(ConversionBuffer& buffer, Sink& sink, int& state) {
  const bool fallback = sink.fallback();
  return encodeStateless(
      buffer, sink, kFastMargin,
      [&state, fallback](const std::uint8_t* p, Sink& out) {
        return encodeOne(p, state, out, fallback);
      },
      [&state, &sink](const std::uint8_t* p, unsigned ascii) {
        const unsigned run = beforeShiftControl(p, ascii);
        if (run != 0) enterState(kAscii, state, sink);
        return run;
      },
      JisX0208Windows(state));
}

}  // namespace

int JisDecoder::readEscape(const std::uint8_t*& p, const std::uint8_t* end) {
  const std::uint8_t b = *p;
  if (b == kShiftOut) {
    p += 1;
    return kKatakana;
  }
  if (b == kShiftIn) {
    p += 1;
    return kAscii;
  }
  if (b != kEsc || end - p < 3) return kNoControl;
  int state = kNoControl;
  std::ptrdiff_t length = 3;
  if (p[1] == '$') {
    if (p[2] == '@' || p[2] == 'B') {
      state = kJisX0208;
    } else if (p[2] == '(' && end - p >= 4 && p[3] == 'D') {
      state = kJisX0212;
      length = 4;
    }
  } else if (p[1] == '(') {
    if (p[2] == 'B' || p[2] == 'J') {
      state = kAscii;
    } else if (p[2] == 'I') {
      state = kKatakana;
    }
  }
  if (state != kNoControl) p += length;
  return state;
}

namespace {

// Decodes one piece. Before the end of the text, an ESC among the last three
// bytes may begin a control sequence that the piece cuts short, so the piece
// ends before it and the ESC is carried into the next one.
template <class Sink>
bool decodePiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) {
  int state = piece.state;
  const std::uint8_t* const end = buffer.in_end;
  if (!piece.last) {
    const std::uint8_t* tail = end - buffer.in_begin > 3 ? end - 3 : buffer.in_begin;
    for (; tail < end; ++tail) {
      if (*tail == kEsc) break;
    }
    buffer.in_end = tail;
  }
  const bool ok = decodeJis(buffer, sink, state);
  buffer.in_end = end;
  piece.end_state = state;
  return ok;
}

template <class Sink>
bool encodePiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) {
  int state = piece.state;
  const bool ok = encodeJis(buffer, sink, state);
  piece.end_state = state;
  return ok;
}

}  // namespace

template <class Sink>
bool JisDecoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  return decodePiece(buffer, piece, sink);
}

template <class Sink>
bool JisEncoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  return encodePiece(buffer, piece, sink);
}

// Both passes and their scans are compiled here, once.
MEK_PIECE_SCANS(JisDecoder, Decoder);
MEK_UTF8_PIECE_SCANS(JisDecoder);
MEK_PIECE_SCANS(JisEncoder, Encoder);

}  // namespace mek
