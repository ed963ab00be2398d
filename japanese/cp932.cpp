#include "japanese/cp932.h"

#include "codec/utf8_sink.h"
#include "japanese/sjis_scan.h"

namespace mek {
namespace {

constexpr auto cp932Code = [](std::uint16_t unit) { return kUnicodeToCp932Code[unit]; };
// The table holds the twins already.
constexpr auto noTwin = [](std::uint16_t) { return kNoMapping; };

}  // namespace

template <class Sink>
bool Cp932Decoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return decodeSjis(buffer, sink, kCp932HighToUnicode);
}

template <class Sink>
bool Cp932Encoder::scan(ConversionBuffer& buffer, Sink& sink) const {
  return encodeSjis(buffer, sink, cp932Code, noTwin);
}

// Both passes and their scans are compiled here, once.
MEK_SCANS(Cp932Decoder, Decoder);
MEK_UTF8_SCANS(Cp932Decoder);
MEK_SCANS(Cp932Encoder, Encoder);

}  // namespace mek
