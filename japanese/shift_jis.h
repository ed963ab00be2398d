#pragma once

// The Shift_JIS family: `sjis` (the code page 932 repertoire) and `cp932`
// (Shift_JIS as Windows reads and writes it), which share their scans and
// differ only in their tables. japanese/shift_jis.cpp holds the scans and
// builds the tables at compile time from the generated code tables.

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// Shift_JIS (code page 932 repertoire) to internal form. Bytes 0x00..0x7F
// and 0xA1..0xDF are one-byte codes; every other byte leads a two-byte code.
class SjisDecoder : public ScanningConverter<SjisDecoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr SjisDecoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<SjisDecoder, Decoder>;

// Internal form to Shift_JIS; a character without a code fails the input.
// When the error policy asks for the fallback, a character without a code of its
// own is written with the code of its twin (U+301C as 81 60, the code of
// U+FF5E) instead.
class SjisEncoder : public ScanningConverter<SjisEncoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most two bytes.
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr SjisEncoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<SjisEncoder, Encoder>;

// Shift_JIS as Windows reads it (code page 932): the Shift_JIS decoder, and
// the user-defined area 0xF040..0xF9FC as U+E000..U+E757.
class Cp932Decoder : public ScanningConverter<Cp932Decoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most one unit.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Cp932Decoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp932Decoder, Decoder>;

// Internal form to Shift_JIS as Windows writes it (kUnicodeToCp932Code); a
// character without a code fails the input.
class Cp932Encoder : public ScanningConverter<Cp932Encoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most two bytes.
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr Cp932Encoder() = default;
  // The one rule of both passes (see ScanningConverter).
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp932Encoder, Encoder>;

// Detection's Shift_JIS test over [begin, end), stricter than the decoder:
// every byte 80..FF leads a two-byte code that must be mapped. Answers null
// when it fails, otherwise where it stopped: `end`, or the last byte when
// that is a lead byte whose partner the end cuts off.
const std::uint8_t* sjisTestStop(const std::uint8_t* begin, const std::uint8_t* end);

// The direct-index tables of the scans (one load per character, no range
// tests), built at compile time from the generated code tables, which stay
// the reference; kNoMapping marks a miss here too.

// Shift_JIS byte b in 0x80..0xFF together with the byte after it, at index
// (b - 0x80) * 256 + next: for a lead byte the unit of the pair (b, next); for
// a one-byte code (0xA1..0xDF) the unit of b alone, in every cell of its row,
// so that the decoder need not tell the two apart before the lookup.
extern const std::array<std::uint16_t, 0x8000> kSjisHighToUnicode;

constexpr std::size_t sjisHighIndex(std::uint8_t b, std::uint8_t next) {
  return static_cast<std::size_t>(b - 0x80) << 8 | next;
}

// The same for code page 932 as Windows reads it: kSjisHighToUnicode, and the
// user-defined area 0xF040..0xF9FC onto U+E000..U+E757.
extern const std::array<std::uint16_t, 0x8000> kCp932HighToUnicode;

// Unicode unit to its Shift_JIS code as stored in UnicodeToSjis: a value
// below 0x100 is a one-byte code, any other lead byte high, trail byte low.
extern const std::array<std::uint16_t, 0x10000> kUnicodeToSjisCode;

// Unicode unit to its code page 932 code as Windows writes it, in the same
// form: the lowest of several codes, but the IBM extensions 0xFA40..0xFC4B
// before the NEC-selected ones 0xED40..0xEEFC; the user-defined area from
// U+E000..U+E757; U+00A5 and U+203E as 0x5C and 0x7E; and a character
// without a code of its own at its twin's code (japanese/twins.h).
extern const std::array<std::uint16_t, 0x10000> kUnicodeToCp932Code;

}  // namespace mek
