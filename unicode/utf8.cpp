#include "unicode/utf8.h"

#include "codec/encoding_sink.h"
#include "codec/sink.h"
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

// The bytes at p that begin a well-formed sequence, at most `need`, the
// length its lead byte calls for. The second byte's range excludes overlong
// forms (E0 80..9F, F0 80..8F), encoded surrogates (ED A0..BF) and values
// beyond U+10FFFF (F4 90..BF); C0, C1, F5..FF and continuation bytes lead
// nothing (`need` 0, one byte).
inline int wellFormedPrefix(const std::uint8_t* p, const std::uint8_t* end, int& need) {
  const std::uint8_t b0 = p[0];
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    need = 0;
    return 1;
  }
  int have = 1;
  while (have < need && have < end - p && p[have] >= low && p[have] <= high) {
    low = 0x80;
    high = 0xBF;
    ++have;
  }
  return have;
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
      sink.asciiRun(p, run);
      p += run;
      continue;
    }
    // A well-formed sequence, the start of one that the end cuts off (left
    // unconsumed), or a malformed one of `have` bytes: the longest start of
    // a well-formed sequence, at least one byte (the maximal subpart).
    int need;
    const int have = wellFormedPrefix(p, end, need);
    if (have == need) {
      if (need == 2) {
        sink.unit(static_cast<std::uint16_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F)));
      } else if (need == 3) {
        sink.unit(
            static_cast<std::uint16_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
      } else {
        const std::uint32_t w = ((static_cast<std::uint32_t>(b0 & 0x07) << 18) |
                                 (static_cast<std::uint32_t>(p[1] & 0x3F) << 12) |
                                 (static_cast<std::uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3FU)) -
                                0x10000;
        sink.unit(static_cast<std::uint16_t>(0xD800 | (w >> 10)));
        sink.unit(static_cast<std::uint16_t>(0xDC00 | (w & 0x3FF)));
      }
      p += need;
      continue;
    }
    if (have < need && end - p == have) break;  // cut off at the end
    if (!forgiveMalformed(sink, p, static_cast<std::size_t>(have))) {
      return failScan(buffer, p, kMalformedInput);
    }
    p += have;
  }
  return finishScan(buffer, p, sink);
}

// Writes the character c as UTF-8.
template <class Sink>
void putUtf8(Sink& sink, char32_t c) {
  if (c < 0x80) {
    sink.put(static_cast<std::uint8_t>(c));
  } else if (c < 0x800) {
    sink.put2(static_cast<std::uint8_t>(0xC0 | (c >> 6)),
              static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    sink.put3(static_cast<std::uint8_t>(0xE0 | (c >> 12)),
              static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else {
    sink.put4(static_cast<std::uint8_t>(0xF0 | (c >> 18)),
              static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  }
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
      if (p[2] < 0xDC || p[2] > 0xDF) {
        if (!forgiveUnmappable(sink, p, 0xFFFD, [&](char32_t r) { putUtf8(sink, r); }))
          return failScan(buffer, p, kMalformedInput);
        p += 2;
        continue;
      }
      const std::uint32_t v = 0x10000 + ((static_cast<std::uint32_t>(h & 0x03) << 18) |
                                         (static_cast<std::uint32_t>(p[1]) << 10) |
                                         (static_cast<std::uint32_t>(p[2] & 0x03) << 8) | p[3]);
      sink.put4(static_cast<std::uint8_t>(0xF0 | (v >> 18)),
                static_cast<std::uint8_t>(0x80 | ((v >> 12) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | ((v >> 6) & 0x3F)),
                static_cast<std::uint8_t>(0x80 | (v & 0x3F)));
      p += 4;
    } else if (forgiveUnmappable(sink, p, 0xFFFD, [&](char32_t r) { putUtf8(sink, r); })) {
      p += 2;  // a low surrogate without a high one, forgiven
    } else {
      return failScan(buffer, p, kMalformedInput);  // low surrogate without a high one
    }
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

template <class Sink>
bool UTF8Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeUtf8(buffer, sink, mode == kKeepMark || mode == kKeepMarkToo);
}

template <class Sink>
bool UTF8Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  if (mode == kWriteMark) sink.put3(0xEF, 0xBB, 0xBF);
  return encodeUtf8(buffer, sink);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(UTF8Decoder, UTFDecoder);
MEK_ENCODING_SCANS(UTF8Decoder);
MEK_SCANS(UTF8Encoder, UTFEncoder);

}  // namespace mek
