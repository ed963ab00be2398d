#include "unicode/utf16.h"

#include "codec/sink.h"
#include "codec/utf8_sink.h"
#include "simd/unit_runs.h"

namespace mek {

bool startsWithUtf16BeMark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 2 && begin[0] == 0xFE && begin[1] == 0xFF;
}

bool startsWithUtf16LeMark(const std::uint8_t* begin, const std::uint8_t* end) {
  return end - begin >= 2 && begin[0] == 0xFF && begin[1] == 0xFE;
}

namespace {

// Writes `n` units from `src`, exchanging the two bytes of each when kSwap.
template <bool kSwap, class Sink>
void putUnits(Sink& sink, const std::uint8_t* src, std::size_t n) {
  if constexpr (kSwap && !kCountsOnly<Sink>) {
    std::uint8_t staged[2 * kRunUnits];
    swapUnitBytes(src, n, staged);
    sink.copy(staged, 2 * n);
  } else {
    sink.copy(src, 2 * n);
  }
}

// The scan of both directions. Decoding and encoding both move whole units
// and check the same pairing rules; they differ only in where the input keeps
// a unit's high byte (kInMsb) and whether a unit's bytes change places on the
// way (kSwap). The input starts at p and ends at `in_end`.
// Writes the character c as UTF-16, high byte first unless kSwap.
template <bool kSwap, class Sink>
void putUtf16(Sink& sink, char32_t c) {
  const auto put = [&sink](char32_t u) {
    const auto h = static_cast<std::uint8_t>(u >> 8);
    const auto l = static_cast<std::uint8_t>(u);
    if constexpr (kSwap) {
      sink.put2(l, h);
    } else {
      sink.put2(h, l);
    }
  };
  if (c < 0x10000) {
    put(c);
  } else {
    put(0xD800 | ((c - 0x10000) >> 10));
    put(0xDC00 | ((c - 0x10000) & 0x3FF));
  }
}

// A surrogate without its partner at p: a decoder (kDecoding) takes it for a
// malformed sequence, an encoder for a character it cannot carry. Answers
// whether the policy forgives it.
template <bool kDecoding, bool kSwap, class Sink>
bool forgiveUnpaired(Sink& sink, const std::uint8_t* p) {
  if constexpr (kDecoding) {
    return forgiveMalformed(sink, p, 2);
  } else {
    return forgiveUnmappable(sink, p, 0xFFFD, [&sink](char32_t r) { putUtf16<kSwap>(sink, r); });
  }
}

template <int kInMsb, bool kSwap, bool kDecoding, class Sink>
bool transferUnits(ConversionBuffer& buffer, const std::uint8_t* p, Sink& sink) {
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= 2) {
    const std::size_t run = nonSurrogateUnits<kInMsb>(p, pieceEnd(p, end, 2));
    putUnits<kSwap>(sink, p, run);
    p += 2 * run;
    if (end - p < 2) break;
    const std::uint8_t h = p[kInMsb];
    if (!isSurrogateHigh(h)) continue;   // only the piece ended
    if (h < 0xDC && end - p < 4) break;  // high surrogate cut off at the end
    // A low surrogate without a high one, or a high one without a low one.
    const std::uint8_t h2 = h < 0xDC ? p[2 + kInMsb] : 0;
    if (h2 < 0xDC || h2 > 0xDF) {
      if (!forgiveUnpaired<kDecoding, kSwap>(sink, p)) return failScan(buffer, p, kMalformedInput);
      p += 2;
      continue;
    }
    if constexpr (kSwap) {
      sink.put4(p[1], p[0], p[3], p[2]);
    } else {
      sink.put4(p[0], p[1], p[2], p[3]);
    }
    p += 4;
  }
  return finishScan(buffer, p, sink);
}

}  // namespace

UTF16Decoder::InputOrder UTF16Decoder::inputByteOrder(const std::uint8_t* begin,
                                                      const std::uint8_t* end) const {
  if (mode == kByteOrderFromMark) {
    if (startsWithUtf16BeMark(begin, end)) return {begin + 2, 0, 1};
    if (startsWithUtf16LeMark(begin, end)) return {begin + 2, 1, 0};
    return {begin, 0, 1};
  }
  if (mode == kLittleEndian) return {begin, 1, 0};
  return {begin, 0, 1};
}

template <class Sink>
bool UTF16Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  const InputOrder order = inputByteOrder(buffer.in_begin, buffer.in_end);
  return order.high == 0 ? transferUnits<0, false, true>(buffer, order.start, sink)
                         : transferUnits<1, true, true>(buffer, order.start, sink);
}

UTF16Encoder::OutputOrder UTF16Encoder::outputByteOrder() const {
  const bool little = mode == kLittleEndian || mode == kLittleEndianMarked;
  return {mode == kBigEndianMarked || mode == kLittleEndianMarked, little ? 1 : 0, little ? 0 : 1};
}

template <class Sink>
bool UTF16Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  const OutputOrder order = outputByteOrder();
  if (order.mark) {
    std::uint8_t mark[2];
    mark[order.high] = 0xFE;
    mark[order.low] = 0xFF;
    sink.put2(mark[0], mark[1]);
  }
  return order.high == 0 ? transferUnits<0, false, false>(buffer, buffer.in_begin, sink)
                         : transferUnits<0, true, false>(buffer, buffer.in_begin, sink);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(UTF16Decoder, UTFDecoder);
MEK_UTF8_SCANS(UTF16Decoder);
MEK_SCANS(UTF16Encoder, UTFEncoder);

}  // namespace mek
