#pragma once

// The words every layer shares, from the command line to the converters:
// the codes, the line endings, the error policies, the folds and the ways of
// detection. Nothing else is needed to use them.

namespace mek {

// The character codes. The values are the code numbers of the converter
// interface (CodeNumber, mek/codes.h), which maps between the two in one
// place.
enum class Code : int {
  autodetect = 0,  // input only: the code is detected from the text
  sjis = 1,
  euc_jp = 2,
  jis = 3,
  utf8 = 4,
  utf16_be = 5,
  utf16_le = 6,
  utf16_be_bom = 7,
  utf16_le_bom = 8,
  utf32_be = 9,
  utf32_le = 10,
  utf32_be_bom = 11,
  utf32_le_bom = 12,
  cp932 = 13,
  utf8_bom = 14,
  iso2022jp = 15,      // ISO-2022-JP for mail: written in the sets of RFC 1468, ending in ASCII
  sjis2004 = 16,       // Shift_JIS-2004: JIS X 0213:2004 planes 1 and 2, bytes 00..7F ASCII
  eucjis2004 = 17,     // EUC-JIS-2004: plane 1 in two bytes, plane 2 after 8F
  iso2022jp2004 = 18,  // ISO-2022-JP-2004: ESC $ B, ESC $ ( Q and ESC $ ( P
  eucjpms = 19,        // eucJP-ms: EUC-JP with the Windows extensions and user-defined areas
  cp51932 = 20,        // the code page 932 repertoire in EUC form, without JIS X 0212
};

// The numbers the converter interface names codes and line endings by are
// the values of Code and LineEnding; these are the one mapping.
[[nodiscard]] constexpr int numberOf(Code code) noexcept {
  return static_cast<int>(code);
}
[[nodiscard]] constexpr Code codeOfNumber(int number) noexcept {
  return static_cast<Code>(number);
}

// The line ending every line ending of the text is written as. `keep` leaves
// every line ending as it stands.
enum class LineEnding : int {
  lf = 1,
  crlf = 2,
  cr = 3,
  keep = 4,
};

// What a conversion does with input that is not valid in its code and with
// characters the output code cannot carry.
enum class Errors : unsigned char {
  strict,   // fail (the default)
  replace,  // U+FFFD for malformed input, `?` for a character (or the replacement)
  skip,     // drop both
  html,     // a character as &#N;, malformed input as U+FFFD (or &#65533;)
};

// The folds of the decoded text, combined with |. Whatever the flags, they
// run in one fixed order: wide kana, then composed kana, then narrow ASCII.
enum class Fold : unsigned {
  none = 0,
  // Half-width katakana U+FF61..U+FF9F to full width. A base followed by the
  // half-width voiced or semi-voiced mark becomes the precomposed kana where
  // JIS X 0208 has one (ｶﾞ to ガ); otherwise the mark becomes the spacing
  // mark U+309B or U+309C (ﾜﾞ to ワ゛), which every Japanese code carries.
  wide_kana = 1,
  // A kana followed by the combining mark U+3099 or U+309A to the
  // precomposed kana where Unicode has one, as canonical composition does.
  compose_kana = 2,
  // Full-width ASCII U+FF01..U+FF5E to U+0021..U+007E, and the ideographic
  // space U+3000 to U+0020.
  narrow_ascii = 4,
  all = 7,
};
[[nodiscard]] constexpr Fold operator|(Fold a, Fold b) noexcept {
  return static_cast<Fold>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
[[nodiscard]] constexpr Fold operator&(Fold a, Fold b) noexcept {
  return static_cast<Fold>(static_cast<unsigned>(a) & static_cast<unsigned>(b));
}
// Whether `folds` asks for any of `which`.
[[nodiscard]] constexpr bool has(Fold folds, Fold which) noexcept {
  return (folds & which) != Fold::none;
}

[[nodiscard]] constexpr int numberOf(LineEnding eol) noexcept {
  return static_cast<int>(eol);
}
[[nodiscard]] constexpr LineEnding lineEndingOfNumber(int number) noexcept {
  return static_cast<LineEnding>(number);
}

// How detection chooses among the codes a text decodes in, after the
// byte-order marks. `score` (the default): every code that decodes the
// whole text and reads as text is scored by how much its decoded text looks
// like Japanese text, and the best wins; ties go in the order utf8, jis,
// sjis, cp932, sjis2004, euc_jp, eucjis2004, eucjpms, cp51932, utf16_le,
// utf16_be, utf32_le, utf32_be, with cp932 only when sjis does not decode,
// sjis2004 where neither does or their reading holds cp932's extension rows
// (and in their place where it holds the NEC-selected rows ED and EE, which
// Windows never writes), and the other three only where euc_jp does not.
// `first` does not know the codes from sjis2004 on. `first`: a fixed order of tests, the first that
// passes wins (a text that fits none is taken for UTF-16 little-endian only
// when it has an even length, decodes whole as such and reads as text).
// Under both, a code that needs a last sequence cut off by the end of the
// text does not decode it, and a reading reads as text when at most a
// quarter of its characters are noise (controls, ideographs outside JIS X
// 0208, other scripts, private use), or when it is UTF-8 beyond ASCII.
enum class Detection { first, score };

// A transfer encoding of mail bodies: taken off the input before it is
// decoded, or put on the output after it is encoded.
enum class Transfer { none, base64, quoted_printable };

// The kinds of line ending found in a text, as flags.
enum LineEndingsSeen : unsigned {
  kSeenLf = 1,
  kSeenCrLf = 2,
  kSeenCr = 4,
};

}  // namespace mek
