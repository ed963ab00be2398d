#include "mek/detect.h"

#include <cstring>

#include "mek/registry.h"
#include "mek/detector.h"
#include "japanese/code_table.h"
#include "japanese/flat_tables.h"
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

const std::uint8_t* sjisTestStop(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = begin;
  while (p < end) {
    const std::uint8_t b = p[0];
    if (b < 0x80) {
      // Every byte below 0x80 is mapped as itself in row 0 of the table. A
      // lone one between pairs is stepped over; a run is skipped in blocks.
      p += end - p >= 2 && p[1] < 0x80 ? asciiPrefix(p, end) : 1;
      continue;
    }
    if (end - p < 2) return p;  // a lead byte that ends the input
    // Every other byte must lead a mapped pair; a half-width katakana byte
    // leads none (in the flat table its row holds its own one-byte value).
    if ((b >= 0xA1 && b <= 0xDF) || kSjisHighToUnicode[sjisHighIndex(b, p[1])] == kNoMapping)
      return nullptr;
    p += 2;
  }
  return p;
}

bool looksLikeSjis(ConversionBuffer& buffer) {
  // A lead byte may not end the input.
  return sjisTestStop(buffer.in_begin, buffer.in_end) == buffer.in_end;
}

CodeNumber detectEncoding(const std::uint8_t* begin, const std::uint8_t* end) {
  return Detector::detect(begin, end);
}

}  // namespace mek
