#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "unicode/utf_codec.h"

namespace mek {

// True when [begin, end) starts with 00 00 FE FF (big-endian mark).
bool startsWithUtf32BeMark(const std::uint8_t* begin, const std::uint8_t* end);
// True when [begin, end) starts with FF FE 00 00 (little-endian mark).
bool startsWithUtf32LeMark(const std::uint8_t* begin, const std::uint8_t* end);

// UTF-32 to internal form. `mode` kBigEndian (0) reads big-endian and
// kLittleEndian (1) little-endian, a
// leading mark being an ordinary U+FEFF; kByteOrderFromMark (2) takes the byte order from a
// leading mark, which is dropped, and reads big-endian without one; any other
// value reads big-endian. Values above U+10FFFF and surrogate values fail.
class UTF32Decoder : public ScanningConverter<UTF32Decoder, UTFDecoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  static constexpr std::int32_t kBigEndian = 0;
  static constexpr std::int32_t kLittleEndian = 1;
  static constexpr std::int32_t kByteOrderFromMark = 2;

  // Under the strict policy four bytes give at most two units.
  std::size_t outputBound(std::size_t n) const override { return n; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;

 private:
  // Where decoding starts, and the offsets of a unit's bytes from the most
  // to the least significant.
  struct InputOrder {
    const std::uint8_t* start;
    int offsets[4];
  };
  InputOrder inputByteOrder(const std::uint8_t* begin, const std::uint8_t* end) const;
};
extern template class ScanningConverter<UTF32Decoder, UTFDecoder>;

// Internal form to UTF-32. `mode` kBigEndian (0) writes big-endian,
// kLittleEndian (1) little-endian, kBigEndianMarked (2) big-endian after the mark 00 00 FE FF,
// kLittleEndianMarked (3) little-endian after FF FE 00 00; any other value big-endian without a
// mark. Surrogates must pair.
class UTF32Encoder : public ScanningConverter<UTF32Encoder, UTFEncoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  static constexpr std::int32_t kBigEndian = 0;
  static constexpr std::int32_t kLittleEndian = 1;
  static constexpr std::int32_t kBigEndianMarked = 2;
  static constexpr std::int32_t kLittleEndianMarked = 3;

  // Under the strict policy a unit gives four bytes; a mark.
  std::size_t outputBound(std::size_t n) const override { return 2 * n + 4; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;

 private:
  // Whether a mark is written first, and the offsets of a unit's bytes from
  // the most to the least significant in the output.
  struct OutputOrder {
    bool mark;
    int offsets[4];
  };
  OutputOrder outputByteOrder() const;
};
extern template class ScanningConverter<UTF32Encoder, UTFEncoder>;

}  // namespace mek
