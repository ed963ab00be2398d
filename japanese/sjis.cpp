#include "japanese/sjis.h"

#include "codec/utf8_sink.h"
#include "japanese/sjis_scan.h"
#include "japanese/twins.h"

namespace mek {
namespace {

// A character without a code of its own takes its twin's code when the
// policy asks for the fallback.
template <class Sink>
bool encode(ConversionBuffer& buffer, Sink& sink) {
  return encodeSjis(
      buffer, sink, [](std::uint16_t unit) { return kUnicodeToSjisCode[unit]; }, twinSjis);
}

}  // namespace

template <class Sink>
bool SjisDecoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeSjis(buffer, sink, kSjisHighToUnicode);
}

template <class Sink>
bool SjisEncoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encode(buffer, sink);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(SjisDecoder, Decoder);
MEK_UTF8_SCANS(SjisDecoder);
MEK_SCANS(SjisEncoder, Encoder);

}  // namespace mek
