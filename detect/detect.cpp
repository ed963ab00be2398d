#include "mek/detect.h"

#include <cstring>

#include "detect/detector.h"
#include "japanese/shift_jis.h"
#include "mek/registry.h"
#include "simd/ascii.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {
namespace {

bool decoderAccepts(int code, ConversionBuffer& buffer) {
  const Converter* decoder = findDecoder(code);
  return decoder != nullptr && decoder->measure(buffer);
}

}  // namespace

bool looksLikeJis(ConversionBuffer& buffer) {
  const std::size_t size = static_cast<std::size_t>(buffer.in_end - buffer.in_begin);
  if (size == 0 || std::memchr(buffer.in_begin, 0x1B, size) == nullptr) return false;
  return decoderAccepts(kCodeJis, buffer);
}

bool looksLikeSjis(ConversionBuffer& buffer) {
  // A lead byte may not end the input.
  return sjisTestStop(buffer.in_begin, buffer.in_end) == buffer.in_end;
}

CodeNumber detectEncoding(const std::uint8_t* begin, const std::uint8_t* end) {
  return Detector::detect(begin, end);
}

}  // namespace mek
