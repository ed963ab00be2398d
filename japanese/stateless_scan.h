#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/sink.h"
#include "japanese/code_table.h"
#include "simd/ascii_block.h"

namespace mek {

// The scan of a decoder without shift states whose bytes below 0x80 are
// ASCII: ASCII a block at a time while at least kFastMargin input bytes are
// left, every other character through `codeAt(p, length)`, which answers its
// unit (kNoMapping when it has none) and sets its length. Near the end,
// `needed(p)` tells how many bytes the character at p takes, so that one cut
// off by the end is left unconsumed. Where `codeAt` finds no unit,
// `badLength(p)` tells how many bytes the malformed sequence at p takes, so
// that a forgiving policy goes on after it.
//
// `put(sink, value)` writes what `codeAt` answers, and `Put::kMiss` is its
// value for a miss: by default a unit and kNoMapping; the codes of the wide
// tables (japanese/wide_table.h) answer characters and pairs instead.
struct PutUnit {
  static constexpr std::uint16_t kMiss = kNoMapping;
  template <class Sink>
  void operator()(Sink& sink, std::uint16_t unit) const {
    sink.unit(unit);
  }
};

template <class Sink, class CodeAt, class Needed, class BadLength, class Put = PutUnit>
bool decodeStateless(ConversionBuffer& buffer, Sink& sink, CodeAt codeAt, Needed needed,
                     BadLength badLength, Put put = {}) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  const std::ptrdiff_t margin = blockMargin(sink, kFastMargin, false);
  while (end - p >= margin) {
    const unsigned ascii = asciiBlockLength(p);
    sink.asciiBlock(p, ascii);
    p += ascii;
    if (ascii == kAsciiBlock) continue;
    // A run of non-ASCII characters, up to the next ASCII byte.
    do {
      int length;
      const auto unit = codeAt(p, length);
      if (unit == Put::kMiss) [[unlikely]] {
        length = badLength(p);
        if (!forgiveMalformed(sink, p, static_cast<std::size_t>(length))) {
          return failScan(buffer, p, kMalformedInput);
        }
      } else {
        put(sink, unit);
      }
      p += length;
    } while (p[0] >= 0x80 && end - p >= margin);
  }
  while (p < end) {
    if (end - p < needed(p)) break;  // cut off at the end: left unconsumed
    int length;
    const auto unit = codeAt(p, length);
    if (unit == Put::kMiss) [[unlikely]] {
      length = badLength(p);
      if (!forgiveMalformed(sink, p, static_cast<std::size_t>(length))) {
        return failScan(buffer, p, kMalformedInput);
      }
    } else {
      put(sink, unit);
    }
    p += length;
  }
  return finishScan(buffer, p, sink);
}

// An encoder at the unit p, which `encodeOne(p, sink)` could not write:
// under a forgiving policy, writes the policy's stand-in (each character of
// it through `encodeOne`) and answers where the scan goes on; null under the
// strict one.
template <class Sink, class EncodeOne>
inline const std::uint8_t* forgiveUnit(const std::uint8_t* p, const std::uint8_t* end, Sink& sink,
                                       EncodeOne& encodeOne) {
  int length;
  const char32_t c = characterAt(p, end, length);
  const bool forgiven = forgiveUnmappable(sink, p, c, [&](char32_t r) {
    const std::uint8_t unit[2] = {static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r)};
    encodeOne(unit, sink);
  });
  return forgiven ? p + length : nullptr;
}

// The state hook of a code without shift states: every ASCII unit of a block
// is written as it stands.
struct TakeAsciiBlock {
  unsigned operator()(const std::uint8_t*, unsigned ascii) const { return ascii; }
};

// The scan of an encoder whose table maps U+0000..U+007F to the same single
// bytes: ASCII a block at a time while more than `margin` input bytes are left
// (the codec shows that its surplus stores fit there), every other unit
// through `encodeOne(p, sink)`, which writes it or fails; a forgiving policy
// writes its stand-in through `encodeOne` too. Before a block of `ascii`
// ASCII units at p, `asciiRun(p, ascii)` answers how many of them the block
// takes; a code with shift states enters ASCII there (and writes its escape
// through the sink) and keeps back the units its escapes would misread, which
// then go through `encodeOne`.
template <class Sink, class EncodeOne, class AsciiRun = TakeAsciiBlock>
bool encodeStateless(ConversionBuffer& buffer, Sink& sink, std::ptrdiff_t margin,
                     EncodeOne encodeOne, AsciiRun asciiRun = {}) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  margin = blockMargin(sink, margin, true);
  // Writes the unit at p (or, under a forgiving policy, its stand-in) and
  // moves past it; false where the strict policy stops.
  const auto step = [&] {
    if (encodeOne(p, sink)) [[likely]] {
      p += 2;
      return true;
    }
    const std::uint8_t* const next = forgiveUnit(p, end, sink, encodeOne);
    if (next == nullptr) return false;
    p = next;
    return true;
  };
  while (end - p >= margin) {
    const unsigned ascii = asciiRun(p, asciiUnitBlockLength(p));
    sink.block([&] { return std::size_t{ascii}; },
               [&](std::uint8_t* dst) {
                 narrowBlock(p, dst);
                 return dst + ascii;
               });
    p += 2 * ascii;
    if (ascii == kAsciiBlock) continue;
    do {
      if (!step()) return failUnit(buffer, p);
    } while (!isAsciiUnit(p) && end - p >= margin);
  }
  while (end - p >= 2) {
    if (!step()) return failUnit(buffer, p);
  }
  return finishScan(buffer, p, sink);
}

}  // namespace mek
