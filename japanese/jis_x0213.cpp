// The three forms of JIS X 0213:2004: Shift_JIS-2004, EUC-JIS-2004 and
// ISO-2022-JP-2004, over one generated table (japanese/tables/jis_x0213.h).

#include "japanese/tables/jis_x0213.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "japanese/flat_tables.h"
#include "japanese/jis.h"
#include "japanese/tables/jis_x0208_to_unicode.h"
#include "japanese/wide_codes.h"
#include "japanese/wide_scan.h"
#include "simd/escape_scan.h"

namespace mek {
namespace {

namespace t = tables::jis_x0213;

constexpr WideSets kSets{
    t::kSet1, t::kSet2, true, t::kPairs, t::kDecodeOnly, std::size(t::kDecodeOnly), false};

// ---------------------------------------------------------------------------
// The encoders' tables, built at compile time: plain read-only data.

constexpr std::size_t countBeyond() {
  std::size_t n = 0;
  forEachWritten(kSets, [&](std::uint16_t, char32_t c) { n += c >= 0x10000 && c < kPairBase; });
  return n;
}
constexpr std::size_t countPairs() {
  std::size_t n = 0;
  forEachWritten(kSets, [&](std::uint16_t, char32_t c) { n += c >= kPairBase; });
  return n;
}

constexpr std::array<std::uint16_t, 0x10000> kFromUnicode = wideFromUnicode(kSets);
constexpr auto kBeyond = wideBeyond<countBeyond()>(kSets);
constexpr auto kPairCodes = widePairCodes<countPairs()>(kSets);
constexpr auto kPairBases = pairBases(kPairCodes);
static_assert(kPairCodes.size() == 25 && kBeyond.size() == 303);

constexpr WideEncoding kEncoding{&kFromUnicode,     kBeyond.data(),    kBeyond.size(),
                                 kPairCodes.data(), kPairCodes.size(), &kPairBases};

// ---------------------------------------------------------------------------
// Shift_JIS-2004. Plane 1 rows 1..94 take lead bytes 81..9F and E0..EF, two
// rows a byte, as in Shift_JIS; plane 2 takes F0..FC: rows 1, 3, 4, 5, 8 and
// 12..15 share F0..F4, rows 78..94 follow from F4 on.

// The lead byte of each plane 2 row below 78 that has characters.
constexpr std::uint8_t plane2Lead(unsigned row) {
  switch (row) {
    case 1:
    case 8:
      return 0xF0;
    case 3:
    case 4:
      return 0xF1;
    case 5:
    case 12:
      return 0xF2;
    case 13:
    case 14:
      return 0xF3;
    case 15:
      return 0xF4;
    default:
      return static_cast<std::uint8_t>((row + 411) >> 1);  // 78..94: F4..FC
  }
}

// The Shift_JIS-2004 bytes of a code of set 1 or 2, lead high, trail low.
constexpr std::uint16_t sjis2004Of(std::uint16_t code) {
  const unsigned row = (code >> 8 & 0x7F) - 0x20;
  const unsigned cell = (code & 0x7F) - 0x20;
  unsigned lead;
  if (isSet1Code(code)) {
    lead = row <= 62 ? (row + 257) >> 1 : (row + 385) >> 1;
  } else {
    lead = plane2Lead(row);
  }
  const unsigned trail = row % 2 == 1 ? cell + 0x3F + (cell >= 64) : cell + 0x9E;
  return static_cast<std::uint16_t>(lead << 8 | trail);
}

// Shift_JIS-2004 byte b from 0x80 with the byte after it, at index
// (b - 0x80) * 256 + next, as kSjisHighToUnicode: the cell of the pair, or
// for a one-byte code (A1..DF) its katakana in every cell of its row.
constexpr std::array<char32_t, 0x8000> sjis2004High() {
  std::array<char32_t, 0x8000> cells{};
  for (char32_t& cell : cells) cell = kNoWide;
  for (unsigned b = 0xA1; b <= 0xDF; ++b) {
    for (unsigned next = 0; next < 0x100; ++next) cells[(b - 0x80) << 8 | next] = 0xFF61 + b - 0xA1;
  }
  for (unsigned s = 0; s < 2; ++s) {
    const char32_t* set = s == 0 ? t::kSet1 : t::kSet2;
    for (unsigned i = 0; i < kWideCells; ++i) {
      if (set[i] == kNoWide) continue;
      const std::uint16_t sjis = sjis2004Of(wideCodeOf(s, i));
      cells[((sjis >> 8) - 0x80u) << 8 | (sjis & 0xFF)] = set[i];
    }
  }
  return cells;
}

constexpr std::array<char32_t, 0x8000> kSjis2004High = sjis2004High();

// The encoder's tables in the Shift_JIS-2004 form, so that it writes the
// code it finds: one byte below 0x100, else lead byte high, trail byte low.
constexpr std::uint16_t sjis2004Form(std::uint16_t code) {
  return code < 0x100 || code == kNoMapping ? code : sjis2004Of(code);
}
constexpr std::array<std::uint16_t, 0x10000> sjis2004FromUnicode() {
  auto cells = kFromUnicode;
  for (std::uint16_t& cell : cells) cell = sjis2004Form(cell);
  return cells;
}
constexpr std::array<WideBeyond, kBeyond.size()> sjis2004Beyond() {
  auto list = kBeyond;
  for (WideBeyond& entry : list) entry.code = sjis2004Form(entry.code);
  return list;
}
constexpr std::array<WidePairCode, kPairCodes.size()> sjis2004Pairs() {
  auto list = kPairCodes;
  for (WidePairCode& entry : list) entry.code = sjis2004Form(entry.code);
  return list;
}
constexpr std::array<std::uint16_t, 0x10000> kSjis2004FromUnicode = sjis2004FromUnicode();
constexpr auto kSjis2004Beyond = sjis2004Beyond();
constexpr auto kSjis2004Pairs = sjis2004Pairs();
std::uint16_t sjis2004FormOf(std::uint16_t code) {
  return sjis2004Form(code);
}
constexpr WideEncoding kSjis2004Encoding{&kSjis2004FromUnicode,  kSjis2004Beyond.data(),
                                         kSjis2004Beyond.size(), kSjis2004Pairs.data(),
                                         kSjis2004Pairs.size(),  &kPairBases,
                                         &sjis2004FormOf};

inline char32_t sjis2004At(const std::uint8_t* p, int& length) {
  const std::uint8_t b = p[0];
  if (b < 0x80) {
    length = 1;
    return b;
  }
  if (b >= 0xA1 && b <= 0xDF) [[unlikely]] {
    length = 1;
    return 0xFF61u + b - 0xA1u;
  }
  length = 2;
  return kSjis2004High[static_cast<std::size_t>(b - 0x80) << 8 | p[1]];
}

constexpr bool leadsSjis2004Pair(std::uint8_t b) {
  return b >= 0x80 && !(b >= 0xA1 && b <= 0xDF);
}

// A lead byte (81..9F, E0..FC) and a byte that may follow it (40..7E,
// 80..FC) are a pair without a table entry; any other byte is one alone.
inline int sjis2004BadLength(const std::uint8_t* p) {
  const std::uint8_t b = p[0];
  const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  const std::uint8_t t = p[1];
  return lead && t >= 0x40 && t <= 0xFC && t != 0x7F ? 2 : 1;
}

// Writes a code of the Shift_JIS-2004 form.
template <class Sink>
inline bool putSjis2004(std::uint16_t code, std::uint16_t, Sink& sink) {
  if (code < 0x100) {
    sink.put(static_cast<std::uint8_t>(code));  // ASCII or half-width katakana
  } else {
    sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  }
  return true;
}

// ---------------------------------------------------------------------------
// ISO-2022-JP-2004.

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

// The states 0..3 are those of the ISO-2022-JP decoder, whose readEscape
// answers kNoControl (4) for no control sequence.
enum State : int {
  kAscii = 0,
  kKatakana = 1,
  kJisX0208 = 2,
  kJisX0212 = 3,
  kPlane1 = 5,
  kPlane2 = 6,
};
constexpr int kNoControl = JisDecoder::kNoControl;
static_assert(kNoControl > kJisX0212 && kNoControl < kPlane1);

// JIS X 0208 as ESC $ B reads it: plane 1 at the positions JIS X 0208 has,
// but 1-1-29 as U+2015 HORIZONTAL BAR, where plane 1 has U+2014 EM DASH.
constexpr std::array<char32_t, kWideCells> jisX0208Set() {
  std::array<char32_t, kWideCells> cells{};
  for (char32_t& cell : cells) cell = kNoWide;
  forEachMapping(presentRows(tables::jis_x0208_to_unicode::kPresentRows,
                             tables::jis_x0208_to_unicode::kPresentRowIndices),
                 [&](unsigned row, unsigned cell, std::uint16_t) {
                   const unsigned i = (row - 0x21) * kWideSide + (cell - 0x21);
                   cells[i] = t::kSet1[i];
                 });
  cells[wideIndex(0x213D)] = 0x2015;
  return cells;
}
constexpr std::array<char32_t, kWideCells> kJisX0208Set = jisX0208Set();

// The encoder's table: that of the other forms, and U+2015 at 1-1-29, which
// only this form carries (in the JIS X 0208 set).
constexpr std::array<std::uint16_t, 0x10000> isoFromUnicode() {
  auto cells = kFromUnicode;
  cells[0x2015] = 0xA1BD;
  return cells;
}
constexpr std::array<std::uint16_t, 0x10000> kIsoFromUnicode = isoFromUnicode();
constexpr WideEncoding kIsoEncoding{&kIsoFromUnicode,  kBeyond.data(),    kBeyond.size(),
                                    kPairCodes.data(), kPairCodes.size(), &kPairBases};

// Reads the control sequence at p as JisDecoder::readEscape does, and the
// designations of JIS X 0213: ESC $ ( O and ESC $ ( Q (plane 1), ESC $ ( P
// (plane 2).
int readEscape2004(const std::uint8_t*& p, const std::uint8_t* end) {
  if (p[0] == kEsc && end - p >= 4 && p[1] == '$' && p[2] == '(') {
    if (p[3] == 'O' || p[3] == 'Q') {
      p += 4;
      return kPlane1;
    }
    if (p[3] == 'P') {
      p += 4;
      return kPlane2;
    }
  }
  return JisDecoder::readEscape(p, end);
}

const char32_t* setOfState(int state) {
  return state == kJisX0208 ? kJisX0208Set.data() : state == kPlane1 ? t::kSet1 : t::kSet2;
}

template <class Sink>
bool decodeIso2004(ConversionBuffer& buffer, Sink& sink, int& state) {
  const PutWide put{t::kPairs};
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    if (state == kAscii) {
      const std::size_t run = plainAsciiPrefix(p, end);
      sink.asciiRun(p, run);
      p += run;
      if (p == end) break;
    }
    const int next = readEscape2004(p, end);
    if (next != kNoControl) {
      state = next;
      continue;
    }
    const std::uint8_t* const at = p;
    const std::uint8_t b = *p;
    char32_t c;
    if (state == kAscii) {
      // Below 0x80 only an ESC that begins no control sequence gets here.
      c = b < 0x80 ? b : kJisX0201ToUnicode[b] == kNoMapping ? kNoWide : kJisX0201ToUnicode[b];
      p += 1;
    } else if (state == kKatakana) {
      const std::uint8_t key = b >= 0x21 && b <= 0x5F ? static_cast<std::uint8_t>(b + 0x80) : b;
      const std::uint16_t u = kJisX0201ToUnicode[key];
      c = u == kNoMapping ? kNoWide : u;
      p += 1;
    } else {
      if (end - p < 2) break;  // a pair cut off at the end: left unconsumed
      const unsigned row = b - 0x21u;
      const unsigned cell = p[1] - 0x21u;
      c = kNoWide;
      if (row < kWideSide && cell < kWideSide) {
        if (state == kJisX0212) {
          const std::uint16_t u = kJisX0212ToUnicode[row * kWideSide + cell];
          if (u != kNoMapping) c = u;
        } else {
          c = setOfState(state)[row * kWideSide + cell];
        }
      }
      p += 2;
    }
    if (c == kNoWide) [[unlikely]] {
      // A pair of bytes that a set may hold but does not is one sequence;
      // otherwise the first byte alone is, and the second is read again.
      if (p - at == 2 && (at[0] < 0x21 || at[0] > 0x7E || at[1] < 0x21 || at[1] > 0x7E)) p = at + 1;
      if (!forgiveMalformed(sink, at, static_cast<std::size_t>(p - at))) {
        return failScan(buffer, at, kMalformedInput);
      }
      continue;
    }
    put(sink, c);
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
    case kPlane1:
      sink.put4(kEsc, '$', '(', 'Q');
      break;
    default:
      sink.put4(kEsc, '$', '(', 'P');
      break;
  }
  state = wanted;
}

bool isShiftControl(std::uint16_t c) {
  return c == kEsc || c == kShiftOut || c == kShiftIn;
}

// Writes a code in the set that holds it: a character of JIS X 0208 (as
// ESC $ B reads it) in that set, the rest of plane 1 after ESC $ ( Q. ESC,
// SO and SI would be read back as controls: no set holds them.
template <class Sink>
bool putIso2004(std::uint16_t code, std::uint16_t unit, int& state, Sink& sink) {
  if (code < 0x80) {
    if (isShiftControl(code)) return false;
    enterState(kAscii, state, sink);
    sink.put(static_cast<std::uint8_t>(code));
  } else if (code < 0x100) {
    enterState(kKatakana, state, sink);
    sink.put(static_cast<std::uint8_t>(code - 0x80));
  } else {
    int wanted = kPlane2;
    if (isSet1Code(code)) wanted = kJisX0208Set[wideIndex(code)] == unit ? kJisX0208 : kPlane1;
    enterState(wanted, state, sink);
    sink.put2(static_cast<std::uint8_t>(code >> 8 & 0x7F), static_cast<std::uint8_t>(code & 0x7F));
  }
  return true;
}

// How many of the first `ascii` ASCII units at p come before an SO, SI or
// ESC, which the ASCII runs leave to the character step.
unsigned beforeShiftControl(const std::uint8_t* p, unsigned ascii) {
  for (unsigned i = 0; i < ascii; ++i) {
    if (isShiftControl(p[2 * i + 1])) return i;
  }
  return ascii;
}

}  // namespace

const std::uint8_t* sjis2004TestStop(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = begin;
  while (p < end) {
    if (p[0] < 0x80) {
      ++p;
      continue;
    }
    if (p[0] >= 0xA1 && p[0] <= 0xDF) return nullptr;
    if (end - p < 2) return p;
    int length;
    if (sjis2004At(p, length) == kNoWide) return nullptr;
    p += length;
  }
  return p;
}

template <class Sink>
bool Sjis2004Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeStateless(
      buffer, sink, sjis2004At,
      [](const std::uint8_t* p) { return leadsSjis2004Pair(p[0]) ? 2 : 1; }, sjis2004BadLength,
      PutWide{t::kPairs});
}

template <class Sink>
bool Sjis2004Encoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  piece.end_state = piece.state;
  return encodeWide(buffer, sink, piece.last, kSjis2004Encoding,
                    [](std::uint16_t code, std::uint16_t unit, Sink& out) {
                      return putSjis2004(code, unit, out);
                    });
}

template <class Sink>
bool Eucjis2004Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeEucWide(buffer, sink, kSets);
}

template <class Sink>
bool Eucjis2004Encoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  piece.end_state = piece.state;
  return encodeWide(buffer, sink, piece.last, kEncoding,
                    [](std::uint16_t code, std::uint16_t, Sink& out) {
                      putEucWide(code, out);
                      return true;
                    });
}

// Before the end of the text, an ESC among the last three bytes may begin a
// control sequence that the piece cuts short, so the piece ends before it
// and the ESC is carried into the next one.
template <class Sink>
bool Iso2022jp2004Decoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  int state = piece.state;
  const std::uint8_t* const end = buffer.in_end;
  if (!piece.last) {
    const std::uint8_t* tail = end - buffer.in_begin > 3 ? end - 3 : buffer.in_begin;
    for (; tail < end; ++tail) {
      if (*tail == kEsc) break;
    }
    buffer.in_end = tail;
  }
  const bool ok = decodeIso2004(buffer, sink, state);
  buffer.in_end = end;
  piece.end_state = state;
  return ok;
}

template <class Sink>
bool Iso2022jp2004Encoder::scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const {
  int state = piece.state;
  const bool ok = encodeWide(
      buffer, sink, piece.last, kIsoEncoding,
      [&state](std::uint16_t code, std::uint16_t unit, Sink& out) {
        return putIso2004(code, unit, state, out);
      },
      [&state, &sink](const std::uint8_t* p, unsigned ascii) {
        const unsigned run = beforeShiftControl(p, ascii);
        if (run != 0) enterState(kAscii, state, sink);
        return run;
      });
  // The text ends in ASCII; so does a piece that ends the text.
  if (ok && piece.last && state != kAscii) {
    enterState(kAscii, state, sink);
    buffer.size = static_cast<std::int32_t>(sink.count());
  }
  piece.end_state = state;
  return ok;
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(Sjis2004Decoder, Decoder);
MEK_UTF8_SCANS(Sjis2004Decoder);
MEK_PIECE_SCANS(Sjis2004Encoder, Encoder);
MEK_SCANS(Eucjis2004Decoder, Decoder);
MEK_UTF8_SCANS(Eucjis2004Decoder);
MEK_PIECE_SCANS(Eucjis2004Encoder, Encoder);
MEK_PIECE_SCANS(Iso2022jp2004Decoder, Decoder);
MEK_UTF8_PIECE_SCANS(Iso2022jp2004Decoder);
MEK_PIECE_SCANS(Iso2022jp2004Encoder, Encoder);

}  // namespace mek
