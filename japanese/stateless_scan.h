#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/sink.h"
#include "japanese/flat_tables.h"
#include "simd/ascii_block.h"

namespace mek {

// The scan of a decoder without shift states whose bytes below 0x80 are
// ASCII: ASCII a block at a time while at least kFastMargin input bytes are
// left, every other character through `codeAt(p, length)`, which answers its
// unit (kNoMapping when it has none) and sets its length. Near the end,
// `needed(p)` tells how many bytes the character at p takes, so that one cut
// off by the end is left unconsumed.
template <class Sink, class CodeAt, class Needed>
bool decodeStateless(ConversionBuffer& buffer, Sink& sink, CodeAt codeAt, Needed needed) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= kFastMargin) {
    const unsigned ascii = asciiBlockLength(p);
    sink.block([&] { return 2 * std::size_t{ascii}; },
               [&](std::uint8_t* dst) {
                 widenBlock(p, dst);
                 return dst + 2 * ascii;
               });
    p += ascii;
    if (ascii == kAsciiBlock) continue;
    // A run of non-ASCII characters, up to the next ASCII byte.
    do {
      int length;
      const std::uint16_t unit = codeAt(p, length);
      if (unit == kNoMapping) return failScan(buffer, p, kMalformedInput);
      sink.unit(unit);
      p += length;
    } while (p[0] >= 0x80 && end - p >= kFastMargin);
  }
  while (p < end) {
    if (end - p < needed(p)) break;  // cut off at the end: left unconsumed
    int length;
    const std::uint16_t unit = codeAt(p, length);
    if (unit == kNoMapping) return failScan(buffer, p, kMalformedInput);
    sink.unit(unit);
    p += length;
  }
  return finishScan(buffer, p, sink);
}

// The scan of an encoder without shift states whose table maps U+0000..U+007F
// to the same single bytes: ASCII a block at a time while more than `margin`
// input bytes are left (the codec shows that its surplus stores fit there),
// every other unit through `encodeOne(p, sink)`, which writes it or fails.
template <class Sink, class EncodeOne>
bool encodeStateless(ConversionBuffer& buffer, Sink& sink, std::ptrdiff_t margin,
                     EncodeOne encodeOne) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= margin) {
    const unsigned ascii = asciiUnitBlockLength(p);
    sink.block([&] { return std::size_t{ascii}; },
               [&](std::uint8_t* dst) {
                 narrowBlock(p, dst);
                 return dst + ascii;
               });
    p += 2 * ascii;
    if (ascii == kAsciiBlock) continue;
    do {
      if (!encodeOne(p, sink)) return failUnit(buffer, p);
      p += 2;
    } while (!isAsciiUnit(p) && end - p >= margin);
  }
  for (; end - p >= 2; p += 2) {
    if (!encodeOne(p, sink)) return failUnit(buffer, p);
  }
  return finishScan(buffer, p, sink);
}

}  // namespace mek
