#include "unicode/utf8.h"

#include "convert/sink.h"
#include "simd/unit_runs.h"
#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle.h"

namespace mek {

bool startsWithUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 3 && begin[0] == 0xEF && begin[1] == 0xBB && begin[2] == 0xBF;
}

const std::uint8_t* skipUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end) {
  return startsWithUtf8Mark(begin, end) ? begin + 3 : begin;
}

namespace {

bool isContinuation(std::uint8_t b) {
  return (b & 0xC0) == 0x80;
}

// Decodes the input; `keepMark` reads a leading EF BB BF as U+FEFF instead of
// dropping it.
template <class Sink>
bool decodeUtf8(ConversionBuffer& buffer, Sink& sink, bool keepMark) {
  const std::uint8_t* p = keepMark ? buffer.in_begin : skipUtf8Mark(buffer.in_begin, buffer.in_end);
  const std::uint8_t* const end = buffer.in_end;
  const Utf8Path path = kCountsOnly<Sink> ? Utf8Path::kPlain : bestUtf8Path();
  // Both passes find their stretches the same way.
  const Utf8Path check = bestUtf8Path();
  while (p < end) {
    const std::uint8_t* const stretch = shortSequencePrefixOn(check, p, end);
    if (stretch != p) {
      sink.block([&] { return 2 * shortSequenceUnits(p, stretch); },
                 [&](std::uint8_t* dst) { return writeShortSequencesOn(path, p, stretch, dst); });
      p = stretch;
      continue;
    }
    const std::uint8_t b0 = p[0];
    if (b0 < 0x80) {
      const std::size_t run = asciiPrefix(p, end);
      sink.widenAscii(p, run);
      p += run;
      continue;
    }
    // A sequence cut off by the end is left unconsumed, even when the bytes
    // present are not continuation bytes; so the length test comes first.
    // The second byte's range excludes overlong forms (E0 80..9F, F0 80..8F),
    // encoded surrogates (ED A0..BF) and values beyond U+10FFFF (F4 90..BF).
    if ((b0 & 0xF0) == 0xE0) {  // three bytes: most of Japanese text
      if (end - p < 3) break;
      const std::uint8_t low = b0 == 0xE0 ? 0xA0 : 0x80;
      const std::uint8_t high = b0 == 0xED ? 0x9F : 0xBF;
      if (p[1] < low || p[1] > high || !isContinuation(p[2]))
        return failScan(buffer, p, kMalformedInput);
      sink.unit(
          static_cast<std::uint16_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
      p += 3;
    } else if ((b0 & 0xE0) == 0xC0) {
      // C0 and C1 could only begin overlong forms of ASCII.
      if (b0 < 0xC2) return failScan(buffer, p, kMalformedInput);
      if (end - p < 2) break;
      if (!isContinuation(p[1])) return failScan(buffer, p, kMalformedInput);
      sink.unit(static_cast<std::uint16_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F)));
      p += 2;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      if (end - p < 4) break;
      const std::uint8_t low = b0 == 0xF0 ? 0x90 : 0x80;
      const std::uint8_t high = b0 == 0xF4 ? 0x8F : 0xBF;
      if (p[1] < low || p[1] > high || !isContinuation(p[2]) || !isContinuation(p[3]))
        return failScan(buffer, p, kMalformedInput);
      const std::uint32_t w = ((static_cast<std::uint32_t>(b0 & 0x07) << 18) |
                               (static_cast<std::uint32_t>(p[1] & 0x3F) << 12) |
                               (static_cast<std::uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3FU)) -
                              0x10000;
      sink.unit(static_cast<std::uint16_t>(0xD800 | (w >> 10)));
      sink.unit(static_cast<std::uint16_t>(0xDC00 | (w & 0x3FF)));
      p += 4;
    } else {
      // A continuation byte or F5..FF where a sequence must begin.
      return failScan(buffer, p, kMalformedInput);
    }
  }
  return finishScan(buffer, p, sink);
}

template <class Sink>
bool encodeUtf8(ConversionBuffer& buffer, Sink& sink) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  const Utf8Path path = kCountsOnly<Sink> ? Utf8Path::kPlain : bestUtf8Path();
  while (end - p >= 2) {
    const std::uint8_t* const piece =
        static_cast<std::size_t>(end - p) > 2 * kUtf8Piece ? p + 2 * kUtf8Piece : end;
    const std::size_t run = nonSurrogateUnits<0>(p, piece);
    if (run != 0) {
      sink.block([&] { return unitsUtf8Bytes(p, run); },
                 [&](std::uint8_t* dst) { return writeUnitsUtf8On(path, p, run, dst); });
      p += 2 * run;
      continue;
    }
    const std::uint8_t h = p[0];
    if (h <= 0xDB) {
      if (end - p < 4) break;  // high surrogate cut off at the end
      if (p[2] < 0xDC || p[2] > 0xDF) return failScan(buffer, p, kMalformedInput);
      const std::uint32_t v = 0x10000 + ((static_cast<std::uint32_t>(h & 0x03) << 18) |
                                         (static_cast<std::uint32_t>(p[1]) << 10) |
                                         (static_cast<std::uint32_t>(p[2] & 0x03) << 8) | p[3]);
      sink.put4(static_cast<std::uint8_t>(0xF0 | (v >> 18)),
                static_cast<std::uint8_t>(0x80 | ((v >> 12) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | ((v >> 6) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | (v & 0x3F)));
      p += 4;
    } else {
      return failScan(buffer, p, kMalformedInput);  // low surrogate without a high one
    }
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

template <class Sink>
bool UTF8Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeUtf8(buffer, sink, mode == 0 || mode == 1);
}

template <class Sink>
bool UTF8Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  if (mode == kUtf8WriteMark) sink.put3(0xEF, 0xBB, 0xBF);
  return encodeUtf8(buffer, sink);
}

// Both passes and their scans are compiled here, once.
template class ScanningConverter<UTF8Decoder, UTFDecoder>;
template bool UTF8Decoder::scan<CountingSink>(ConversionBuffer&, CountingSink&) const;
template bool UTF8Decoder::scan<WritingSink>(ConversionBuffer&, WritingSink&) const;
template class ScanningConverter<UTF8Encoder, UTFEncoder>;
template bool UTF8Encoder::scan<CountingSink>(ConversionBuffer&, CountingSink&) const;
template bool UTF8Encoder::scan<WritingSink>(ConversionBuffer&, WritingSink&) const;

}  // namespace mek
