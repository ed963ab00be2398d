#include "unicode/utf8.h"

#include "convert/sink.h"

namespace mek {

bool startsWithUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 3 && begin[0] == 0xEF && begin[1] == 0xBB && begin[2] == 0xBF;
}

const std::uint8_t* skipUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end) {
  return startsWithUtf8Mark(begin, end) ? begin + 3 : begin;
}

namespace {

bool isContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Sequence length by lead byte; 0 for a byte that cannot lead.
int sequenceLength(std::uint8_t b) {
  if (b < 0x80) return 1;
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  return 0;
}

template <class Sink>
bool decodeUtf8(ConversionBuffer& buffer, Sink& sink) {
  const std::uint8_t* p = skipUtf8Mark(buffer.in_begin, buffer.in_end);
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    std::size_t run = asciiPrefix(p, end);
    sink.widenAscii(p, run);
    p += run;
    if (p == end) break;
    const std::uint8_t b0 = p[0];
    const int length = sequenceLength(b0);
    if (length == 0) return false;
    if (end - p < length) break;  // cut off at the end: left unconsumed
    for (int i = 1; i < length; ++i) {
      if (!isContinuation(p[i])) return false;
    }
    if (length == 2) {
      sink.unit(static_cast<std::uint16_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F)));
    } else if (length == 3) {
      sink.unit(static_cast<std::uint16_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
    } else {
      const std::uint32_t v = (static_cast<std::uint32_t>(b0 & 0x07) << 18) |
                              (static_cast<std::uint32_t>(p[1] & 0x3F) << 12) |
                              (static_cast<std::uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3FU);
      if (v >= 0x10000 && v <= 0x10FFFF) {
        const std::uint32_t w = v - 0x10000;
        sink.unit(static_cast<std::uint16_t>(0xD800 | (w >> 10)));
        sink.unit(static_cast<std::uint16_t>(0xDC00 | (w & 0x3FF)));
      } else {
        // Overlong or beyond U+10FFFF: a high surrogate followed by a
        // non-surrogate, which every encoder rejects, so such input can never
        // turn silently into some other character.
        sink.unit(0xD800);
        sink.unit(0xFFFF);
      }
    }
    p += length;
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool encodeUtf8(ConversionBuffer& buffer, Sink& sink) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    std::size_t run = asciiUnitPrefix(p, end);
    sink.narrowAscii(p, run);
    p += 2 * run;
    if (end - p < 2) break;
    const std::uint8_t h = p[0];
    if (h >= 0xD8 && h <= 0xDB) {
      if (end - p < 4) break;  // high surrogate cut off at the end
      if (p[2] < 0xDC || p[2] > 0xDF) return false;
      const std::uint32_t v = 0x10000 + ((static_cast<std::uint32_t>(h & 0x03) << 18) |
                                         (static_cast<std::uint32_t>(p[1]) << 10) |
                                         (static_cast<std::uint32_t>(p[2] & 0x03) << 8) | p[3]);
      sink.put4(static_cast<std::uint8_t>(0xF0 | (v >> 18)),
                static_cast<std::uint8_t>(0x80 | ((v >> 12) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | ((v >> 6) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | (v & 0x3F)));
      p += 4;
      continue;
    }
    if (h >= 0xDC && h <= 0xDF) return false;  // low surrogate without a high one
    const std::uint32_t u = (static_cast<std::uint32_t>(h) << 8) | p[1];
    if (u < 0x80) {
      sink.put(static_cast<std::uint8_t>(u));
    } else if (u < 0x800) {
      sink.put2(static_cast<std::uint8_t>(0xC0 | (u >> 6)), static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    } else {
      sink.put3(static_cast<std::uint8_t>(0xE0 | (u >> 12)),
                static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
    }
    p += 2;
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

bool UTF8Decoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeUtf8(buffer, sink);
}

bool UTF8Decoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeUtf8(buffer, sink);
}

bool UTF8Encoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encodeUtf8(buffer, sink);
}

bool UTF8Encoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encodeUtf8(buffer, sink);
}

}  // namespace mek
