#include "japanese/cp932.h"

#include "japanese/sjis_scan.h"

namespace mek {
namespace {

constexpr auto cp932Code = [](std::uint16_t unit) { return kUnicodeToCp932Code[unit]; };

}  // namespace

bool Cp932Decoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return decodeSjis(buffer, sink, kCp932HighToUnicode);
}

bool Cp932Decoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return decodeSjis(buffer, sink, kCp932HighToUnicode);
}

bool Cp932Encoder::measure(ConversionBuffer& buffer) const {
  CountingSink sink;
  return encodeSjis(buffer, sink, cp932Code);
}

bool Cp932Encoder::convert(ConversionBuffer& buffer) const {
  WritingSink sink(buffer.out);
  return encodeSjis(buffer, sink, cp932Code);
}

}  // namespace mek
