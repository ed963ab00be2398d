#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "unicode/utf_codec.h"

namespace mek {

// True when [begin, end) starts with the UTF-8 mark EF BB BF.
bool startsWithUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end);
// begin + 3 when the input starts with the UTF-8 mark, otherwise begin.
const std::uint8_t* skipUtf8Mark(const std::uint8_t* begin, const std::uint8_t* end);

// UTF-8 to internal form. Checks only the structure of sequences. A leading
// mark is dropped, except with `mode` kKeepMark (0) or kKeepMarkToo (1), which
// read it as an ordinary U+FEFF (for text that continues a text whose start was read before).
class UTF8Decoder : public ScanningConverter<UTF8Decoder, UTFDecoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  // 0 and 1 are the UTF-16 and UTF-32 decoders' fixed byte orders, 2 their
  // order from the mark.
  static constexpr std::int32_t kKeepMark = 0;
  static constexpr std::int32_t kKeepMarkToo = 1;
  static constexpr std::int32_t kDropMark = 2;

  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<UTF8Decoder, UTFDecoder>;

// Internal form to UTF-8, with the mark EF BB BF first when `mode` is
// kWriteMark; with any other mode no mark is written.
class UTF8Encoder : public ScanningConverter<UTF8Encoder, UTFEncoder> {
 public:
  // The values of `mode`; they are part of the interface and keep their numbers.
  static constexpr std::int32_t kNoMark = 0;
  static constexpr std::int32_t kWriteMark = 1;

  // Under the strict policy a unit gives at most three bytes; a mark.
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 4; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<UTF8Encoder, UTFEncoder>;

}  // namespace mek
