#pragma once

// The codes of the wide tables (japanese/wide_table.h): the three forms of
// JIS X 0213:2004 (`sjis2004`, `eucjis2004`, `iso2022jp2004`, in
// japanese/jis_x0213.cpp), and eucJP-ms and CP51932 (`eucjpms`, `cp51932`, in
// japanese/eucjp_ms.cpp).
//
// Bytes 00..7F are ASCII in all five, 5C and 7E of Shift_JIS-2004 included.
// A code that decodes to two characters (か゚, U+304B U+309A) is written back
// as that code when the two come in a row; before the end of the text, an
// encoder leaves a base that a mark in the next piece could join for the
// next piece. With the fallback, a character without a code of its own takes
// its twin's (japanese/twins.h; in the JIS X 0213 codes also U+00A5 as ￥,
// U+203E as ￣ and U+2015 as ―).

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/converter.h"

namespace mek {

// Shift_JIS-2004 to internal form: ASCII, half-width katakana A1..DF, and
// JIS X 0213 plane 1 (lead bytes 81..9F, E0..EF) and plane 2 (F0..FC).
class Sjis2004Decoder : public ScanningConverter<Sjis2004Decoder, Decoder> {
 public:
  // Under the strict policy every byte gives at most two units' bytes.
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Sjis2004Decoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Sjis2004Decoder, Decoder>;

class Sjis2004Encoder : public ScanningConverter<Sjis2004Encoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most two bytes.
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr Sjis2004Encoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Sjis2004Encoder, Encoder>;

// EUC-JIS-2004 to internal form: ASCII, SS2 and half-width katakana, plane 1
// in two bytes A1..FE, plane 2 after SS3.
class Eucjis2004Decoder : public ScanningConverter<Eucjis2004Decoder, Decoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Eucjis2004Decoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Eucjis2004Decoder, Decoder>;

class Eucjis2004Encoder : public ScanningConverter<Eucjis2004Encoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most three bytes (plane 2).
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 2; }
  constexpr Eucjis2004Encoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Eucjis2004Encoder, Encoder>;

// ISO-2022-JP-2004 to internal form: everything the ISO-2022-JP decoder
// reads, and ESC $ ( Q and ESC $ ( O (plane 1, of 2004 and of 2000) and
// ESC $ ( P (plane 2). ESC $ B reads JIS X 0208 as plane 1 holds it, but
// 1-1-29 as U+2015, as JIS X 0208 is read elsewhere.
class Iso2022jp2004Decoder : public ScanningConverter<Iso2022jp2004Decoder, Decoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Iso2022jp2004Decoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Iso2022jp2004Decoder, Decoder>;

// Internal form to ISO-2022-JP-2004: ESC $ B for the characters of
// JIS X 0208, ESC $ ( Q for the rest of plane 1, ESC $ ( P for plane 2,
// ESC ( I for half-width katakana. ESC, SO and SI are unmappable. The ASCII
// set is in force before every CR and LF and at the end of the text.
class Iso2022jp2004Encoder : public ScanningConverter<Iso2022jp2004Encoder, Encoder> {
 public:
  // Under the strict policy a unit gives at most a four-byte escape and two
  // bytes; the text ends with ESC ( B.
  std::size_t outputBound(std::size_t n) const override { return 3 * n + 3; }
  constexpr Iso2022jp2004Encoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Iso2022jp2004Encoder, Encoder>;

// eucJP-ms to internal form: ASCII, the C1 controls, SS2 and half-width
// katakana, JIS X 0208 with the NEC and IBM rows and the user-defined area
// (F5..FE, U+E000..U+E3AB) in two bytes, JIS X 0212 with the IBM extensions
// and the user-defined area (U+E3AC..U+E757) after SS3.
class EucjpmsDecoder : public ScanningConverter<EucjpmsDecoder, Decoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr EucjpmsDecoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<EucjpmsDecoder, Decoder>;

class EucjpmsEncoder : public ScanningConverter<EucjpmsEncoder, Encoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 3 * n / 2 + 2; }
  constexpr EucjpmsEncoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<EucjpmsEncoder, Encoder>;

// CP51932 to internal form: the code page 932 repertoire in EUC form
// (JIS X 0208, NEC row 13 at ADxx, the NEC-selected IBM rows at F9xx..FCxx),
// SS2 and half-width katakana; no SS3.
class Cp51932Decoder : public ScanningConverter<Cp51932Decoder, Decoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 2 * n; }
  constexpr Cp51932Decoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp51932Decoder, Decoder>;

class Cp51932Encoder : public ScanningConverter<Cp51932Encoder, Encoder> {
 public:
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr Cp51932Encoder() = default;
  template <class Sink>
  bool scan(ConversionBuffer& buffer, Sink& sink) const;
};
extern template class ScanningConverter<Cp51932Encoder, Encoder>;

// Detection's tests over [begin, end), as sjisTestStop: null when the bytes
// are not that code, otherwise where the test stopped (`end`, or the start
// of a character that the end cuts off).
const std::uint8_t* sjis2004TestStop(const std::uint8_t* begin, const std::uint8_t* end);

}  // namespace mek
