#include "japanese/shift_jis.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "japanese/stateless_scan.h"
#include "japanese/tables/sjis_to_unicode.h"
#include "japanese/tables/unicode_to_sjis.h"
#include "japanese/twins.h"
#include "simd/ascii.h"

namespace mek {
namespace {

// ---------------------------------------------------------------------------
// The tables, built at compile time: plain read-only data, no start-up code.

constexpr auto kSjisRows =
    presentRows(tables::sjis_to_unicode::kPresentRows, tables::sjis_to_unicode::kPresentRowIndices);

constexpr std::array<std::uint16_t, 0x8000> sjisHigh() {
  auto cells = unmapped<0x8000>();
  forEachMapping(kSjisRows, [&](unsigned hi, unsigned lo, std::uint16_t u) {
    if (hi != 0) {
      cells[(hi - 0x80) << 8 | lo] = u;
    } else if (lo >= 0x80) {
      for (unsigned next = 0; next < 0x100; ++next) cells[(lo - 0x80) << 8 | next] = u;
    }
  });
  return cells;
}

// The user-defined area of code page 932: lead bytes 0xF0..0xF9 with the
// usual trail bytes, 188 codes a row, in order onto U+E000..U+E757.
template <class F>
constexpr void forEachUserDefinedCode(F f) {
  std::uint16_t unit = 0xE000;
  for (unsigned lead = 0xF0; lead <= 0xF9; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail != 0x7F) f(lead, trail, unit++);
    }
  }
}

constexpr std::array<std::uint16_t, 0x8000> cp932High() {
  auto cells = sjisHigh();
  forEachUserDefinedCode([&](unsigned lead, unsigned trail, std::uint16_t unit) {
    cells[(lead - 0x80) << 8 | trail] = unit;
  });
  return cells;
}

// The Shift_JIS code (lead byte high, trail byte low) of a JIS X 0208 position.
constexpr std::uint16_t sjisFromJisX0208(std::uint16_t jis) {
  const unsigned row = jis >> 8;
  const unsigned cell = jis & 0xFF;
  unsigned lead = ((row - 0x21) >> 1) + 0x81;
  if (lead > 0x9F) lead += 0x40;
  unsigned trail;
  if (row % 2 == 1) {
    trail = cell + 0x1F;
    if (trail >= 0x7F) ++trail;
  } else {
    trail = cell + 0x7E;
  }
  return static_cast<std::uint16_t>(lead << 8 | trail);
}

// The Shift_JIS code of the twin of `unit`, or kNoMapping.
constexpr std::uint16_t twinSjis(std::uint16_t unit) {
  const std::uint16_t jis = twinJisX0208(unit);
  return jis == kNoMapping ? kNoMapping : sjisFromJisX0208(jis);
}

constexpr bool isNecSelectedIbm(unsigned code) {
  return code >= 0xED40 && code <= 0xEEFC;
}

// Where a character has several codes the lowest wins, except that the
// NEC-selected IBM extensions lose to the IBM extensions. Characters without
// a code of their own take their twin's, and U+00A5 and U+203E the bytes
// 0x5C and 0x7E, as Windows writes them.
constexpr std::array<std::uint16_t, 0x10000> unicodeToCp932() {
  auto cells = unmapped<0x10000>();
  forEachMapping(kSjisRows, [&](unsigned hi, unsigned lo, std::uint16_t u) {
    const auto code = static_cast<std::uint16_t>(hi << 8 | lo);
    if (cells[u] == kNoMapping || isNecSelectedIbm(cells[u])) cells[u] = code;
  });
  forEachUserDefinedCode([&](unsigned lead, unsigned trail, std::uint16_t unit) {
    cells[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
  });
  for (std::uint16_t u : kTwinUnits) {
    if (cells[u] == kNoMapping) cells[u] = twinSjis(u);
  }
  cells[0x00A5] = 0x5C;
  cells[0x203E] = 0x7E;
  return cells;
}

// ---------------------------------------------------------------------------
// The scans, shared by `sjis` and `cp932`.

// A decoding table in the layout of kSjisHighToUnicode.
using SjisHighTable = std::array<std::uint16_t, 0x8000>;

// Bytes 0xA1..0xDF are one-byte codes (half-width katakana); every other
// byte from 0x80 up leads a two-byte code.
constexpr bool isSjisOneByteCode(std::uint8_t b) {
  return b >= 0xA1 && b <= 0xDF;
}

// A block store writes more than may count (64 bytes decoding, 32 encoding).
// Decoding, every input byte still ahead of the margin gives at least one
// output byte and at most one is left unconsumed; encoding, every unit gives
// at least one byte. So the surplus stays inside an output area of the
// measured size.
static_assert(kFastMargin - 1 >= kBlockWriteAhead);
static_assert(kFastMargin / 2 >= kBlockWriteAhead / 2);

// The Shift_JIS rule: the unit of the code at p (kNoMapping when the code has
// none) and its length. A byte below 0x80 is itself, a one-byte code is one
// byte, any other byte leads a pair; the caller makes sure that a lead byte's
// partner is there.
inline std::uint16_t sjisCodeAt(const SjisHighTable& table, const std::uint8_t* p, int& length) {
  const std::uint8_t b = p[0];
  if (b < 0x80) {
    length = 1;  // SjisToUnicode maps 0x00..0x7F to themselves
    return b;
  }
  if (isSjisOneByteCode(b)) [[unlikely]] {
    length = 1;
    return table[sjisHighIndex(b, 0)];
  }
  length = 2;
  return table[sjisHighIndex(b, p[1])];
}

// Whether the byte b leads a two-byte code.
constexpr bool leadsSjisPair(std::uint8_t b) {
  return b >= 0x80 && !isSjisOneByteCode(b);
}

// The length of the malformed sequence at p: a lead byte (81..9F, E0..FC)
// and a byte that may follow it (40..7E, 80..FC) are a pair without a table
// entry; any other byte is one, and the byte after it is read again.
inline int sjisBadLength(const std::uint8_t* p) {
  const std::uint8_t b = p[0];
  const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  const std::uint8_t t = p[1];
  return lead && t >= 0x40 && t <= 0xFC && t != 0x7F ? 2 : 1;
}

template <class Sink>
bool decodeSjis(ConversionBuffer& buffer, Sink& sink, const SjisHighTable& table) {
  return decodeStateless(
      buffer, sink,
      [&table](const std::uint8_t* p, int& length) { return sjisCodeAt(table, p, length); },
      [](const std::uint8_t* p) { return leadsSjisPair(p[0]) ? 2 : 1; }, sjisBadLength, PutUnit{},
      DecodeWindows(PairCode::kSjis, table.data()));
}

// Writes the Shift_JIS code that `codeOf` gives the unit at p, or, when it
// gives none and the policy asks for the fallback, the one that `twinOf` gives; or
// fails.
template <class Sink, class CodeOf, class TwinOf>
inline bool encodeSjisOne(const std::uint8_t* p, Sink& sink, CodeOf codeOf, TwinOf twinOf) {
  // Surrogates have no code, so the table also rejects characters beyond U+FFFF.
  const auto unit = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  std::uint16_t code = codeOf(unit);
  if (code == kNoMapping) [[unlikely]] {
    if (!sink.fallback()) return false;
    code = twinOf(unit);
    if (code == kNoMapping) return false;
  }
  if (code < 0x100) {
    sink.put(static_cast<std::uint8_t>(code));
  } else {
    sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  }
  return true;
}

// `codeOf` answers the code of a unit as stored in UnicodeToSjis, or
// kNoMapping, as `table` holds it; `twinOf` the code of its twin, or
// kNoMapping. Runs of characters other than ASCII go a window at a time.
template <class Sink, class CodeOf, class TwinOf>
bool encodeSjis(ConversionBuffer& buffer, Sink& sink, const std::uint16_t* table, CodeOf codeOf,
                TwinOf twinOf) {
  return encodeStateless(
      buffer, sink, kFastMargin,
      [codeOf, twinOf](const std::uint8_t* p, Sink& out) {
        return encodeSjisOne(p, out, codeOf, twinOf);
      },
      TakeAsciiBlock{}, EncodeWindows(PairCode::kSjis, table));
}

constexpr auto sjisCode = [](std::uint16_t unit) { return kUnicodeToSjisCode[unit]; };
constexpr auto cp932Code = [](std::uint16_t unit) { return kUnicodeToCp932Code[unit]; };
// The cp932 table holds the twins already.
constexpr auto noTwin = [](std::uint16_t) { return kNoMapping; };

}  // namespace

constexpr std::array<std::uint16_t, 0x8000> kSjisHighToUnicode = sjisHigh();
constexpr std::array<std::uint16_t, 0x8000> kCp932HighToUnicode = cp932High();
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToSjisCode = reverse(presentRows(
    tables::unicode_to_sjis::kPresentRows, tables::unicode_to_sjis::kPresentRowIndices));
constexpr std::array<std::uint16_t, 0x10000> kUnicodeToCp932Code = unicodeToCp932();

const std::uint8_t* sjisTestStop(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = begin;
  while (p < end) {
    if (p[0] < 0x80) {
      // A lone ASCII byte between pairs is stepped over; a run is skipped in
      // blocks.
      p += end - p >= 2 && p[1] < 0x80 ? asciiPrefix(p, end) : 1;
      continue;
    }
    if (isSjisOneByteCode(p[0])) return nullptr;
    if (end - p < 2) return p;
    int length;
    if (sjisCodeAt(kSjisHighToUnicode, p, length) == kNoMapping) return nullptr;
    p += length;
  }
  return p;
}

template <class Sink>
bool SjisDecoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeSjis(buffer, sink, kSjisHighToUnicode);
}

// A character without a code of its own takes its twin's code when the
// policy asks for the fallback.
template <class Sink>
bool SjisEncoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeSjis(buffer, sink, kUnicodeToSjisCode.data(), sjisCode, twinSjis);
}

template <class Sink>
bool Cp932Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeSjis(buffer, sink, kCp932HighToUnicode);
}

template <class Sink>
bool Cp932Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeSjis(buffer, sink, kUnicodeToCp932Code.data(), cp932Code, noTwin);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(SjisDecoder, Decoder);
MEK_UTF8_SCANS(SjisDecoder);
MEK_SCANS(SjisEncoder, Encoder);
MEK_SCANS(Cp932Decoder, Decoder);
MEK_UTF8_SCANS(Cp932Decoder);
MEK_SCANS(Cp932Encoder, Encoder);

}  // namespace mek
