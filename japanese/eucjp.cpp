#include "japanese/eucjp.h"

#include "convert/sink.h"
#include "japanese/code_table.h"

namespace mek {
namespace {

constexpr std::uint8_t kSingleShift2 = 0x8E;  // JIS X 0201 follows
constexpr std::uint8_t kSingleShift3 = 0x8F;  // JIS X 0212 follows

// EUC byte to 7-bit JIS byte, modulo 256: 0xA1..0xFE become 0x21..0x7E, and
// anything else lands outside the rows of the JIS tables.
constexpr std::uint8_t jisByte(std::uint8_t b) {
  return static_cast<std::uint8_t>(b - 0x80);
}

template <class Sink>
bool decodeEucjp(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& x0201 = JisX0201ToUnicode();
  const CodeTable& x0208 = JisX0208ToUnicode();
  const CodeTable& x0212 = JisX0212ToUnicode();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    const std::uint8_t b = *p;
    if (b < 0x80) {
      const std::size_t run = asciiPrefix(p, end);
      sink.widenAscii(p, run);
      p += run;
      continue;
    }
    std::uint16_t unit;
    if (b >= 0xA1 && b <= 0xFE) {
      if (end - p < 2) break;  // cut off at the end: left unconsumed
      unit = lookup(x0208, jisByte(b), jisByte(p[1]));
      p += 2;
    } else if (b == kSingleShift3) {
      if (end - p < 3) break;
      unit = lookup(x0212, jisByte(p[1]), jisByte(p[2]));
      p += 3;
    } else if (b == kSingleShift2) {
      if (end - p < 2) break;
      unit = lookup(x0201, 0x00, p[1]);
      p += 2;
    } else {
      return false;  // 0x80..0x8D, 0x90..0xA0, 0xFF begin nothing
    }
    if (unit == kNoMapping) return false;
    sink.unit(unit);
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool encodeEucjp(ConversionBuffer& buffer, Sink& sink) {
  const CodeTable& x0201 = UnicodeToJisX0201();
  const CodeTable& x0208 = UnicodeToJisX0208();
  const CodeTable& x0212 = UnicodeToJisX0212();
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    const std::uint8_t hi = p[0];
    const std::uint8_t lo = p[1];
    if (hi == 0 && lo < 0x80) {
      // ASCII is written as itself without consulting any table, so U+005C
      // and U+007E stay single bytes although JIS X 0208/0212 hold them too.
      const std::size_t run = asciiUnitPrefix(p, end);
      sink.narrowAscii(p, run);
      p += 2 * run;
      continue;
    }
    if (hi >= 0xD8 && hi <= 0xDF) return false;  // beyond U+FFFF: not in any set
    p += 2;
    std::uint16_t code = lookup(x0208, hi, lo);
    if (code != kNoMapping) {
      sink.put2(static_cast<std::uint8_t>((code >> 8) + 0x80),
                static_cast<std::uint8_t>((code & 0xFF) + 0x80));
      continue;
    }
    code = lookup(x0212, hi, lo);
    if (code != kNoMapping) {
      sink.put3(kSingleShift3, static_cast<std::uint8_t>((code >> 8) + 0x80),
                static_cast<std::uint8_t>((code & 0xFF) + 0x80));
      continue;
    }
    code = lookup(x0201, hi, lo);
    if (code == kNoMapping) return false;
    if (code <= 0x7F) {
      sink.put(static_cast<std::uint8_t>(code));  // U+00A5 and U+203E: the Roman set
    } else {
      sink.put2(kSingleShift2, static_cast<std::uint8_t>(code));
    }
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

bool EucjpDecoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeEucjp(buffer, sink);
}

bool EucjpDecoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeEucjp(buffer, sink);
}

bool EucjpEncoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encodeEucjp(buffer, sink);
}

bool EucjpEncoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encodeEucjp(buffer, sink);
}

}  // namespace mek
