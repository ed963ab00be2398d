#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/sink.h"
#include "simd/ascii_block.h"

namespace mek {

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
