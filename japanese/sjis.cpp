#include "japanese/sjis.h"

#include "convert/sink.h"
#include "japanese/code_table.h"

namespace mek {
namespace {

// A Shift_JIS code stored in UnicodeToSjis is one byte when it is ASCII or
// half-width katakana, otherwise lead byte (high) and trail byte (low).
constexpr bool isSingleByteCode(std::uint16_t code) {
  return code < 0x80 || (code >= 0xA1 && code <= 0xDF);
}

template <class Sink>
bool decodeSjis(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& table = SjisToUnicode();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    const std::uint8_t b = *p;
    if (b < 0x80) {
      // Row 0 of the table maps 0x00..0x7F to themselves, so an ASCII run is
      // widened in one go instead of being looked up byte by byte.
      const std::size_t run = asciiPrefix(p, end);
      sink.widenAscii(p, run);
      p += run;
      continue;
    }
    std::uint16_t unit;
    if (b >= 0xA1 && b <= 0xDF) {
      unit = lookup(table, 0x00, b);
      p += 1;
    } else {
      if (end - p < 2) break;  // lead byte cut off at the end: left unconsumed
      unit = lookup(table, b, p[1]);
      p += 2;
    }
    if (unit == kNoMapping) return false;
    sink.unit(unit);
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool encodeSjis(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& table = UnicodeToSjis();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    const std::uint8_t hi = p[0];
    const std::uint8_t lo = p[1];
    if (hi == 0 && lo < 0x80) {
      // The table maps U+0000..U+007F to the same single bytes.
      const std::size_t run = asciiUnitPrefix(p, end);
      sink.narrowAscii(p, run);
      p += 2 * run;
      continue;
    }
    if (hi >= 0xD8 && hi <= 0xDF) return false;  // beyond U+FFFF: no Shift_JIS code
    const std::uint16_t code = lookup(table, hi, lo);
    if (code == kNoMapping) return false;
    if (isSingleByteCode(code)) {
      sink.put(static_cast<std::uint8_t>(code));
    } else {
      sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
    }
    p += 2;
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

bool SjisDecoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeSjis(buffer, sink);
}

bool SjisDecoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeSjis(buffer, sink);
}

bool SjisEncoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encodeSjis(buffer, sink);
}

bool SjisEncoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encodeSjis(buffer, sink);
}

}  // namespace mek
