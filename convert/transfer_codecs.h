#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/scanning_converter.h"
#include "mek/types.h"

namespace mek {

// The transfer encodings of mail bodies (base64 and quoted-printable), as
// converters from bytes to bytes: the decodings run before a text is
// decoded, the encodings after it is encoded. Each carries its state from
// piece to piece, so pieces of any size give the bytes of the whole text.

// Base64: four letters give three bytes. `=` ends a group early, a last
// group without its `=` is taken as if it had them. Every other byte (white
// space, line ends, a stray character) is skipped, as readers of real mail
// do, so the decoding never fails: what does not decode is the code's
// decoder's to find, in the same place however the input is cut.
class Base64Decoder : public ScanningConverter<Base64Decoder, Converter> {
 public:
  // A group that letters of the piece before began gives up to 3 bytes.
  std::size_t outputBound(std::size_t n) const override { return n + 3; }
  constexpr Base64Decoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Base64Decoder, Converter>;

// Quoted-printable: `=` and two hex digits give a byte, `=` at the end of a
// line joins it to the next; every other byte is itself (an `=` that begins
// neither is kept, as readers of real mail do).
class QuotedPrintableDecoder : public ScanningConverter<QuotedPrintableDecoder, Converter> {
 public:
  std::size_t outputBound(std::size_t n) const override { return n; }
  constexpr QuotedPrintableDecoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<QuotedPrintableDecoder, Converter>;

// Base64 in lines of 76 letters, each ended by LF, the last one too.
class Base64Encoder : public ScanningConverter<Base64Encoder, Converter> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 2 * n + 8; }
  constexpr Base64Encoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<Base64Encoder, Converter>;

// Quoted-printable: printable ASCII but `=` as itself, every other byte as
// `=XX`, the line endings of the text (LF, CR LF) as they stand, a space or
// tab before a line ending or at the end as `=20`/`=09`, and lines kept to
// 76 characters by a soft break (`=` LF).
class QuotedPrintableEncoder : public ScanningConverter<QuotedPrintableEncoder, Converter> {
 public:
  std::size_t outputBound(std::size_t n) const override { return 4 * n + 8; }
  constexpr QuotedPrintableEncoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<QuotedPrintableEncoder, Converter>;

// The converters of a transfer encoding, or null for Transfer::none.
const Converter* findTransferDecoder(Transfer transfer);
const Converter* findTransferEncoder(Transfer transfer);

}  // namespace mek
