#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "unicode/utf_codec.h"

namespace mek {

// True when [begin, end) starts with FE FF (big-endian mark).
bool startsWithUtf16BeMark(const std::uint8_t* begin, const std::uint8_t* end);
// True when [begin, end) starts with FF FE (little-endian mark).
bool startsWithUtf16LeMark(const std::uint8_t* begin, const std::uint8_t* end);

// UTF-16 to internal form. `mode` 0 reads big-endian and 1 little-endian, a
// leading mark being an ordinary U+FEFF; 2 takes the byte order from a
// leading mark, which is dropped, and reads big-endian without one; any other
// value reads big-endian. Surrogates must pair.
class UTF16Decoder : public ScanningConverter<UTF16Decoder, UTFDecoder> {
 public:
  // Under the strict policy units are swapped or kept; a mark is dropped.
  std::size_t outputBound(std::size_t n) const override { return n; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;

 private:
  // Where decoding starts, and the offsets of a unit's high and low bytes.
  struct InputOrder {
    const std::uint8_t* start;
    int high;
    int low;
  };
  InputOrder inputByteOrder(const std::uint8_t* begin, const std::uint8_t* end) const;
};
extern template class ScanningConverter<UTF16Decoder, UTFDecoder>;

// Internal form to UTF-16. `mode` 0 writes big-endian, 1 little-endian, 2
// big-endian after the mark FE FF, 3 little-endian after FF FE; any other
// value big-endian without a mark. Surrogates must pair.
class UTF16Encoder : public ScanningConverter<UTF16Encoder, UTFEncoder> {
 public:
  // Under the strict policy units and a mark.
  std::size_t outputBound(std::size_t n) const override { return n + 4; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;

 private:
  // Whether a mark is written first, and the offsets of a unit's high and
  // low bytes in the output.
  struct OutputOrder {
    bool mark;
    int high;
    int low;
  };
  OutputOrder outputByteOrder() const;
};
extern template class ScanningConverter<UTF16Encoder, UTFEncoder>;

}  // namespace mek
