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
// mark is dropped, except with `mode` 0 or 1, which read it as an ordinary
// U+FEFF (for text that continues a text whose start was read before).
class UTF8Decoder : public ScanningConverter<UTF8Decoder, UTFDecoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<UTF8Decoder, UTFDecoder>;

// The UTF-8 encoder's `mode` that writes the mark EF BB BF first; with any
// other mode no mark is written.
inline constexpr std::int32_t kUtf8WriteMark = 1;

// Internal form to UTF-8, with a mark first when `mode` is kUtf8WriteMark.
class UTF8Encoder : public ScanningConverter<UTF8Encoder, UTFEncoder> {
 public:
  // Under the strict policy a unit gives at most three bytes; a mark.
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 4; }
  using ScanningConverter::ScanningConverter;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<UTF8Encoder, UTFEncoder>;

}  // namespace mek
