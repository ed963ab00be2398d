#pragma once

// The scanning loops of the Shift_JIS codecs, shared by `sjis` and `cp932`,
// which differ only in their tables.

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/sink.h"
#include "japanese/flat_tables.h"
#include "japanese/stateless_scan.h"
#include "simd/ascii.h"

namespace mek {

// A decoding table in the layout of kSjisHighToUnicode.
using SjisHighTable = std::array<std::uint16_t, 0x8000>;

// Bytes 0xA1..0xDF are one-byte codes (half-width katakana); every other
// byte from 0x80 up leads a two-byte code.
constexpr bool isSjisOneByteCode(std::uint8_t b) {
  return b >= 0xA1 && b <= 0xDF;
}

// A block store writes more than may count (64 bytes decoding, 32 encoding).
// Decoding, every input byte still ahead of the margin gives at least one
// output byte and at most one is left unconsumed; encoding, every unit gives
// at least one byte. So the surplus stays inside an output area of the
// measured size.
static_assert(kFastMargin - 1 >= kBlockWriteAhead);
static_assert(kFastMargin / 2 >= kBlockWriteAhead / 2);

// The Shift_JIS rule: the unit of the code at p (kNoMapping when the code has
// none) and its length. A byte below 0x80 is itself, a one-byte code is one
// byte, any other byte leads a pair; the caller makes sure that a lead byte's
// partner is there.
inline std::uint16_t sjisCodeAt(const SjisHighTable& table, const std::uint8_t* p, int& length) {
  const std::uint8_t b = p[0];
  if (b < 0x80) {
    length = 1;  // SjisToUnicode maps 0x00..0x7F to themselves
    return b;
  }
  if (isSjisOneByteCode(b)) [[unlikely]] {
    length = 1;
    return table[sjisHighIndex(b, 0)];
  }
  length = 2;
  return table[sjisHighIndex(b, p[1])];
}

// Whether the byte b leads a two-byte code.
constexpr bool leadsSjisPair(std::uint8_t b) {
  return b >= 0x80 && !isSjisOneByteCode(b);
}

// Detection's stricter test over [begin, end): every byte from 0x80 up must
// lead a mapped pair (so a one-byte code fails it). Answers null when it
// fails, otherwise where it stopped: `end`, or the last byte when that is a
// lead byte whose partner the end cuts off.
inline const std::uint8_t* sjisStrictStop(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = begin;
  while (p < end) {
    if (p[0] < 0x80) {
      // A lone ASCII byte between pairs is stepped over; a run is skipped in
      // blocks.
      p += end - p >= 2 && p[1] < 0x80 ? asciiPrefix(p, end) : 1;
      continue;
    }
    if (isSjisOneByteCode(p[0])) return nullptr;
    if (end - p < 2) return p;
    int length;
    if (sjisCodeAt(kSjisHighToUnicode, p, length) == kNoMapping) return nullptr;
    p += length;
  }
  return p;
}

// The length of the malformed sequence at p: a lead byte (81..9F, E0..FC)
// and a byte that may follow it (40..7E, 80..FC) are a pair without a table
// entry; any other byte is one, and the byte after it is read again.
inline int sjisBadLength(const std::uint8_t* p) {
  const std::uint8_t b = p[0];
  const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  const std::uint8_t t = p[1];
  return lead && t >= 0x40 && t <= 0xFC && t != 0x7F ? 2 : 1;
}

template <class Sink>
bool decodeSjis(ConversionBuffer& buffer, Sink& sink, const SjisHighTable& table) {
  return decodeStateless(
      buffer, sink,
      [&table](const std::uint8_t* p, int& length) { return sjisCodeAt(table, p, length); },
      [](const std::uint8_t* p) { return leadsSjisPair(p[0]) ? 2 : 1; }, sjisBadLength);
}

// Writes the Shift_JIS code that `codeOf` gives the unit at p, or, when it
// gives none and the policy asks for the fallback, the one that `twinOf` gives; or
// fails.
template <class Sink, class CodeOf, class TwinOf>
inline bool encodeSjisOne(const std::uint8_t* p, Sink& sink, CodeOf codeOf, TwinOf twinOf) {
  // Surrogates have no code, so the table also rejects characters beyond U+FFFF.
  const auto unit = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  std::uint16_t code = codeOf(unit);
  if (code == kNoMapping) [[unlikely]] {
    if (!sink.fallback()) return false;
    code = twinOf(unit);
    if (code == kNoMapping) return false;
  }
  if (code < 0x100) {
    sink.put(static_cast<std::uint8_t>(code));
  } else {
    sink.put2(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  }
  return true;
}

// `codeOf` answers the code of a unit as stored in UnicodeToSjis, or
// kNoMapping; `twinOf` the code of its twin, or kNoMapping.
template <class Sink, class CodeOf, class TwinOf>
bool encodeSjis(ConversionBuffer& buffer, Sink& sink, CodeOf codeOf, TwinOf twinOf) {
  return encodeStateless(buffer, sink, kFastMargin,
                         [codeOf, twinOf](const std::uint8_t* p, Sink& out) {
                           return encodeSjisOne(p, out, codeOf, twinOf);
                         });
}

}  // namespace mek
