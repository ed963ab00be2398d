#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/scanning_converter.h"
#include "mek/types.h"

namespace mek {

// The encoded words of mail headers (RFC 2047), as text stages over the
// internal form. Both act on the header block only: the lines up to the
// first empty line. That line and the body after it pass as they stand.

// The longest header field (with its continuation lines) or line that the
// stages hold to work on, in bytes of the internal form: 8192 characters,
// eight times the 998 that RFC 5322 allows a line. A longer one passes as it
// stands, undecoded or unencoded. Between pieces a stage carries at most
// this much.
inline constexpr std::size_t kMimeFieldLimit = 16384;

// Turns every encoded word `=?CHARSET?B?...?=` or `=?CHARSET?Q?...?=` of a
// header field into the text it stands for. CHARSET is a code's name or
// alias (case, '-' and '_' ignored, an RFC 2231 `*LANG` suffix dropped), or
// US-ASCII, ISO-8859-1 or Windows-1252; a word in another charset stays as
// it stands. White space between two adjacent words is dropped, and the
// bytes of adjacent words of one charset are decoded together, so that an
// ISO-2022-JP word cut inside a character or left in a shift state reads on
// in the next. Bytes that are not valid in the charset go through the error
// policy: the strict one fails at the first word of the run.
class MimeWordDecoder : public ScanningConverter<MimeWordDecoder, Converter> {
 public:
  constexpr MimeWordDecoder() = default;
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;
};
extern template class ScanningConverter<MimeWordDecoder, Converter>;

// Writes each header line that holds a character beyond ASCII as a header
// does: a field name (`Subject:` up to the first ": ") stays, the rest
// becomes encoded words of `code`'s bytes in B or Q, folded so that no line
// is longer than 76 characters, continuation lines beginning with a space.
// No character is split between two words, and each word is whole in its
// code (an ISO-2022-JP word ends in ASCII). A character `code` cannot carry
// goes through the error policy.
class MimeWordEncoder : public ScanningConverter<MimeWordEncoder, Converter> {
 public:
  constexpr MimeWordEncoder(int code, bool q) : code_(code), q_(q) {}
  template <class Sink>
  bool scanPiece(ConversionBuffer& buffer, Piece& piece, Sink& sink) const;

 private:
  int code_;
  bool q_;
};
extern template class ScanningConverter<MimeWordEncoder, Converter>;

// The stages' converters: the decoder, and the encoder into output code
// `code` (B for Transfer::base64, Q for Transfer::quoted_printable); null
// for Transfer::none or a code without an encoder.
const Converter* findMimeWordDecoder();
const Converter* findMimeWordEncoder(int code, Transfer words);

// Where in header text [begin, end) (internal form) the text that
// MimeWordDecoder turns into the (skip + 1)th character c of its output
// begins: the first word of the run of words that gives it, or c itself;
// null when there is none. For placing a character that the output code
// cannot carry.
const std::uint8_t* mimeWordSource(const std::uint8_t* begin, const std::uint8_t* end, char32_t c,
                                   std::size_t skip);

// Whether --mime-decode reads words of charset `name` (a `*LANG` suffix
// ignored).
bool knownMimeCharset(std::string_view name);

// The charset name that encoded words of `code` carry (ISO-2022-JP,
// Shift_JIS, UTF-8, ...).
const char* mimeCharsetName(int code);

}  // namespace mek
