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

// UTF-16 to internal form. `mode` kBigEndian (0) reads big-endian and
// kLittleEndian (1) little-endian, a
// leading mark being an ordinary U+FEFF; kByteOrderFromMark (2) takes the byte order from a
// leading mark, which is dropped, and reads big-endian without one; any other
// value reads big-endian. Surrogates must pair.
class UTF16Decoder : public ScanningConverter<UTF16Decoder, UTFDecoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  static constexpr std::int32_t kBigEndian = 0;
  static constexpr std::int32_t kLittleEndian = 1;
  static constexpr std::int32_t kByteOrderFromMark = 2;

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

// Internal form to UTF-16. `mode` kBigEndian (0) writes big-endian,
// kLittleEndian (1) little-endian, kBigEndianMarked (2) big-endian after the mark FE FF,
// kLittleEndianMarked (3) little-endian after FF FE; any other value big-endian without a mark.
// Surrogates must pair.
class UTF16Encoder : public ScanningConverter<UTF16Encoder, UTFEncoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  static constexpr std::int32_t kBigEndian = 0;
  static constexpr std::int32_t kLittleEndian = 1;
  static constexpr std::int32_t kBigEndianMarked = 2;
  static constexpr std::int32_t kLittleEndianMarked = 3;

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
