#pragma once

// The scanning loops of the Shift_JIS codecs, shared by `sjis` and `cp932`,
// which differ only in their tables.

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/sink.h"
#include "japanese/encode_stateless.h"
#include "japanese/flat_tables.h"

namespace mek {

// A decoding table in the layout of kSjisHighToUnicode.
using SjisHighTable = std::array<std::uint16_t, 0x8000>;

// Bytes 0xA1..0xDF are one-byte codes (half-width katakana); every other
// byte from 0x80 up leads a two-byte code.
constexpr bool isSjisOneByteCode(std::uint8_t b) {
  return b >= 0xA1 && b <= 0xDF;
}

// The fast loops stay this many input bytes away from the end. They read at
// most 64 bytes ahead, and a block store writes at most 64 output bytes
// (decoding) or 32 (encoding) of which fewer may count. Decoding, every input
// byte still ahead gives at least one output byte and at most one is left
// unconsumed; encoding, every unit gives at least one byte. So this distance
// also leaves room for the surplus in an output area of the measured size.
inline constexpr std::ptrdiff_t kSjisFastMargin = 128;

// One decoding step outside the fast loop: answers the unit of the code at p
// and its length, or length 0 when a lead byte is the last input byte.
inline std::uint16_t decodeSjisOne(const SjisHighTable& table, const std::uint8_t* p,
                                   const std::uint8_t* end, int& length) {
  const std::uint8_t b = *p;
  if (b < 0x80) {
    // SjisToUnicode maps 0x00..0x7F to themselves.
    length = 1;
    return b;
  }
  if (isSjisOneByteCode(b)) {
    length = 1;
    return table[sjisHighIndex(b, 0)];
  }
  if (end - p < 2) {
    length = 0;
    return 0;
  }
  length = 2;
  return table[sjisHighIndex(b, p[1])];
}

template <class Sink>
bool decodeSjis(ConversionBuffer& buffer, Sink& sink, const SjisHighTable& table) {
  const std::uint8_t* p = buffer.in_begin;
  const std::uint8_t* const end = buffer.in_end;
  while (end - p >= kSjisFastMargin) {
    const unsigned ascii = asciiBlockLength(p);
    sink.block([&] { return 2 * std::size_t{ascii}; },
               [&](std::uint8_t* dst) {
                 widenBlock(p, dst);
                 return dst + 2 * ascii;
               });
    p += ascii;
    if (ascii == kAsciiBlock) continue;
    // A run of non-ASCII codes, up to the next ASCII byte. The length is a
    // branch rather than arithmetic, so that the next position does not wait
    // for this byte's load; two-byte codes are by far the common case.
    do {
      const std::uint8_t* const at = p;
      const std::uint8_t b = p[0];
      std::uint16_t unit;
      if (isSjisOneByteCode(b)) [[unlikely]] {
        unit = table[sjisHighIndex(b, 0)];
        p += 1;
      } else {
        unit = table[sjisHighIndex(b, p[1])];
        p += 2;
      }
      if (unit == kNoMapping) return failScan(buffer, at, kMalformedInput);
      sink.unit(unit);
    } while (p[0] >= 0x80 && end - p >= kSjisFastMargin);
  }
  while (p < end) {
    int length;
    const std::uint16_t unit = decodeSjisOne(table, p, end, length);
    if (length == 0) break;  // lead byte cut off at the end: left unconsumed
    if (unit == kNoMapping) return failScan(buffer, p, kMalformedInput);
    sink.unit(unit);
    p += length;
  }
  return finishScan(buffer, p, sink);
}

// Writes the Shift_JIS code that `codeOf` gives the unit at p, or fails.
template <class Sink, class CodeOf>
inline bool encodeSjisOne(const std::uint8_t* p, Sink& sink, CodeOf codeOf) {
  // Surrogates have no code, so the table also rejects characters beyond U+FFFF.
  const std::uint16_t code = codeOf(static_cast<std::uint16_t>(p[0] << 8 | p[1]));
  if (code == kNoMapping) return false;
  if (code < 0x100) {
    sink.put(static_cast<std::uint8_t>(code));
  } else {
    sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  }
  return true;
}

// `codeOf` answers the code of a unit as stored in UnicodeToSjis, or
// kNoMapping.
template <class Sink, class CodeOf>
bool encodeSjis(ConversionBuffer& buffer, Sink& sink, CodeOf codeOf) {
  return encodeStateless(buffer, sink, kSjisFastMargin, [codeOf](const std::uint8_t* p, Sink& out) {
    return encodeSjisOne(p, out, codeOf);
  });
}

}  // namespace mek
