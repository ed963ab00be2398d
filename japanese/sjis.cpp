#include "japanese/sjis.h"

#include "japanese/sjis_scan.h"
#include "japanese/twins.h"

namespace mek {
namespace {

template <class Sink>
bool encode(ConversionBuffer& buffer, Sink& sink, bool fallback) {
  if (!fallback) {
    return encodeSjis(buffer, sink, [](std::uint16_t unit) { return kUnicodeToSjisCode[unit]; });
  }
  // A character without a code of its own takes its twin's code.
  return encodeSjis(buffer, sink, [](std::uint16_t unit) {
    const std::uint16_t code = kUnicodeToSjisCode[unit];
    return code != kNoMapping ? code : twinSjis(unit);
  });
}

}  // namespace

bool SjisDecoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeSjis(buffer, sink, kSjisHighToUnicode);
}

bool SjisDecoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeSjis(buffer, sink, kSjisHighToUnicode);
}

bool SjisEncoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encode(buffer, sink, fallback);
}

bool SjisEncoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encode(buffer, sink, fallback);
}

}  // namespace mek
