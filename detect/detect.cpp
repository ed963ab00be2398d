#include "detect/detect.h"

#include <cstring>

#include "convert/ascii.h"
#include "convert/registry.h"
#include "japanese/code_table.h"
#include "japanese/flat_tables.h"
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
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (p < end) {
    const std::uint8_t b = p[0];
    if (b < 0x80) {
      // Every byte below 0x80 is mapped as itself in row 0 of the table. A
      // lone one between pairs is stepped over; a run is skipped in blocks.
      p += end - p >= 2 && p[1] < 0x80 ? asciiPrefix(p, end) : 1;
      continue;
    }
    if (end - p < 2) return false;  // a lead byte may not end the input
    // Every other byte must lead a mapped pair; a half-width katakana byte
    // leads none (in the flat table its row holds its own one-byte value).
    if ((b >= 0xA1 && b <= 0xDF) || kSjisHighToUnicode[sjisHighIndex(b, p[1])] == kNoMapping)
      return false;
    p += 2;
  }
  return true;
}

Code detectEncoding(const std::uint8_t* begin, const std::uint8_t* end) {
  if (startsWithUtf8Mark(begin, end)) return kCodeUtf8;
  if (startsWithUtf16BeMark(begin, end)) return kCodeUtf16BeBom;
  if (startsWithUtf32BeMark(begin, end)) return kCodeUtf32BeBom;
  if (startsWithUtf32LeMark(begin, end)) return kCodeUtf32LeBom;
  if (startsWithUtf16LeMark(begin, end)) return kCodeUtf16LeBom;
  ConversionBuffer buffer;
  buffer.in_begin = begin;
  buffer.in_end = end;
  // The UTF-32 tests accept any input without a whole unit, so they only
  // count for input of four bytes or more; shorter text would otherwise be
  // taken for UTF-32 and converted to nothing. Empty input stays UTF-32.
  const std::ptrdiff_t size = end - begin;
  if (size == 0) return kCodeUtf32Be;
  if (size >= 4 && decoderAccepts(kCodeUtf32Be, buffer)) return kCodeUtf32Be;
  if (size >= 4 && decoderAccepts(kCodeUtf32Le, buffer)) return kCodeUtf32Le;
  if (looksLikeJis(buffer)) return kCodeJis;
  if (looksLikeSjis(buffer)) return kCodeSjis;
  if (decoderAccepts(kCodeEucJp, buffer)) return kCodeEucJp;
  if (decoderAccepts(kCodeUtf8, buffer)) return kCodeUtf8;
  return kCodeUtf16Le;
}

}  // namespace mek
