#include "unicode/utf32.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "simd/unit_runs.h"

namespace mek {

bool startsWithUtf32BeMark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 4 && begin[0] == 0 && begin[1] == 0 && begin[2] == 0xFE && begin[3] == 0xFF;
}

bool startsWithUtf32LeMark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 4 && begin[0] == 0xFF && begin[1] == 0xFE && begin[2] == 0 && begin[3] == 0;
}

namespace {

// Offset of byte i (0 the most significant) of a 4-byte unit whose most
// significant byte is at kMsb.
template <int kMsb>
constexpr int byteAt(int i) {
  return kMsb == 0 ? i : 3 - i;
}

// Writes one 4-byte unit given from the most to the least significant byte.
template <int kMsb, class Sink>
void putUnit32(Sink& sink, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  if constexpr (kMsb == 0) {
    sink.put4(b0, b1, b2, b3);
  } else {
    sink.put4(b3, b2, b1, b0);
  }
}

template <int kMsb, class Sink>
bool decodeUtf32(ConversionBuffer& buffer, const std::uint8_t* p, Sink& sink) {
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 4) {
    const std::size_t run = bmpUnits32<kMsb>(p, pieceEnd(p, end, 4));
    if constexpr (kCountsOnly<Sink>) {
      sink.copy(p, 2 * run);  // only the count matters
    } else {
      std::uint8_t staged[2 * kRunUnits];
      narrowUnits32<kMsb>(p, run, staged);
      sink.copy(staged, 2 * run);
    }
    p += 4 * run;
    if (end - p < 4) break;
    const std::uint8_t b0 = p[byteAt<kMsb>(0)];
    const std::uint8_t b1 = p[byteAt<kMsb>(1)];
    const std::uint8_t b2 = p[byteAt<kMsb>(2)];
    const std::uint8_t b3 = p[byteAt<kMsb>(3)];
    // Above U+10FFFF, or a surrogate value.
    if (b0 != 0 || b1 > 0x10 || (b1 == 0 && isSurrogateHigh(b2))) {
      if (!forgiveMalformed(sink, p, 4)) return failScan(buffer, p, kMalformedInput);
      p += 4;
      continue;
    }
    if (b1 == 0) {
      sink.put2(b2, b3);  // only the piece ended
    } else {
      const unsigned w = b1 - 1u;
      sink.put4(static_cast<std::uint8_t>(0xD8 | (w >> 2)),
                static_cast<std::uint8_t>(((w & 3) << 6) | (b2 >> 2)),
                static_cast<std::uint8_t>(0xDC | (b2 & 3)), b3);
    }
    p += 4;
  }
  return finishScan(buffer, p, sink);
}

template <int kMsb, class Sink>
bool encodeUtf32(ConversionBuffer& buffer, Sink& sink) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    const std::size_t run = nonSurrogateUnits<0>(p, pieceEnd(p, end, 2));
    if constexpr (kCountsOnly<Sink>) {
      sink.copy(p, 4 * run);  // only the count matters
    } else {
      std::uint8_t staged[4 * kRunUnits];
      widenUnits32<kMsb>(p, run, staged);
      sink.copy(staged, 4 * run);
    }
    p += 2 * run;
    if (end - p < 2) break;
    const std::uint8_t h = p[0];
    if (!isSurrogateHigh(h)) continue;   // only the piece ended
    if (h < 0xDC && end - p < 4) break;  // high surrogate cut off at the end
    const std::uint8_t l = p[1];
    const std::uint8_t h2 = h < 0xDC ? p[2] : 0;
    if (h2 < 0xDC || h2 > 0xDF) {
      // A surrogate without its partner.
      if (!forgiveUnmappable(sink, p, 0xFFFD, [&sink](char32_t r) {
            putUnit32<kMsb>(sink, 0, static_cast<std::uint8_t>(r >> 16),
                            static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r));
          }))
        return failScan(buffer, p, kMalformedInput);
      p += 2;
      continue;
    }
    const int plane = (((h & 3) << 2) | (l >> 6)) + 1;
    putUnit32<kMsb>(sink, 0, static_cast<std::uint8_t>(plane),
                    static_cast<std::uint8_t>(((l & 0x3F) << 2) | (h2 & 3)), p[3]);
    p += 4;
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

UTF32Decoder::InputOrder UTF32Decoder::inputByteOrder(const std::uint8_t* begin,
                                                      const std::uint8_t* end) const {
  if (mode == kByteOrderFromMark) {
    if (startsWithUtf32BeMark(begin, end)) return {begin + 4, {0, 1, 2, 3}};
    if (startsWithUtf32LeMark(begin, end)) return {begin + 4, {3, 2, 1, 0}};
    return {begin, {0, 1, 2, 3}};
  }
  if (mode == kLittleEndian) return {begin, {3, 2, 1, 0}};
  return {begin, {0, 1, 2, 3}};
}

template <class Sink>
bool UTF32Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  const InputOrder order = inputByteOrder(buffer.in_begin, buffer.in_end);
  return order.offsets[0] == 0 ? decodeUtf32<0>(buffer, order.start, sink)
                               : decodeUtf32<3>(buffer, order.start, sink);
}

UTF32Encoder::OutputOrder UTF32Encoder::outputByteOrder() const {
  const bool mark = mode == kBigEndianMarked || mode == kLittleEndianMarked;
  if (mode == kLittleEndian || mode == kLittleEndianMarked) return {mark, {3, 2, 1, 0}};
  return {mark, {0, 1, 2, 3}};
}

template <class Sink>
bool UTF32Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  const OutputOrder order = outputByteOrder();
  if (order.mark) {
    const std::uint8_t value[4] = {0x00, 0x00, 0xFE, 0xFF};  // U+FEFF
    std::uint8_t mark[4];
    for (int i = 0; i < 4; ++i) mark[order.offsets[i]] = value[i];
    sink.put4(mark[0], mark[1], mark[2], mark[3]);
  }
  return order.offsets[0] == 0 ? encodeUtf32<0>(buffer, sink) : encodeUtf32<3>(buffer, sink);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(UTF32Decoder, UTFDecoder);
MEK_UTF8_SCANS(UTF32Decoder);
MEK_SCANS(UTF32Encoder, UTFEncoder);

}  // namespace mek
