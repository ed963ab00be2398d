#pragma once

// The inverse readings of the wrong turns that repairLine undoes: the
// characters of a line turned back into the bytes that a turn read them
// from (some of them lost), and those bytes read in the code they were in
// first. Shared by the repair's sources (detect/mojibake*.cpp) only.

#include <cstddef>

#include "detect/mojibake.h"

namespace mek::mojibake {

// The code a turn read the bytes as.
enum class Reading { cp932, eucjp, cp1252, latin1, cp437, cp850 };
// The code the bytes were in.
enum class Original { utf8, cp932, eucjp };

// What an inverse reading gave.
struct Decoded {
  long size = -1;  // -1: the bytes do not read in the code
  std::size_t lost = 0;
  // Bytes beyond ASCII that were read (not lost) and took their place in
  // the code's sequences after a lead byte that was read: the evidence that
  // lost bytes leave. (Up to three continuation bytes after a lost one fit
  // anything, such as the bytes of a kana in cp932.) Also, in cp932 whose
  // lost runs count no bytes, each ASCII trail byte that a lost run took
  // along: ASCII alone after lost bytes is what katakana that lost their
  // leads leave (マニュアル as }, j, A).
  std::size_t known = 0;
  // What Japanese text in UTF-8 does not give around lost bytes: a lead
  // byte read whose character was cut and that begins no character of it
  // (only E3..E9 and EF do: kana, CJK symbols, kanji, full-width forms), or
  // a lost character not of three bytes.
  std::size_t odd = 0;
  // Characters lost where a reading dropped bytes (a guess, not a U+FFFD of
  // the line): they prove nothing.
  std::size_t dropped = 0;
  // Stripped escapes: every stretch between $B and (B holds a character
  // that no name of a shell or Perl variable holds ($B8G(B may be $B8G
  // and (B; $B?)(B may not).
  bool framed = false;
};

// How a run of lost bytes in cp932 counts them.
enum class LostRun : unsigned char {
  counted,  // a byte each: an odd run's last byte takes its trail byte along
  // As counted, but the run is one lost character: through Latin-1 each
  // byte lost leaves a lost byte, so the parity holds, but how many
  // characters the lost bytes held is not known (EUC-JP read as Latin-1,
  // then UTF-8 read as EUC-JP, which may lose a lead and a trail byte of
  // two characters between them).
  parity,
  // A reading before lost a varying number of bytes of each character, and
  // the run counts none: it is one lost character (how many it held is not
  // known). It takes an ASCII trail byte along whatever its length (マ,
  // 83 7D, as ƒ} gives U+FFFD and }), and a byte of E0..FC (see `any`);
  // another byte beyond ASCII where a run of a byte each would take it; but
  // not a lead byte of a pair with an ASCII trail byte (、, 81 41).
  ascii,
  // Or it takes any trail byte along, but for a lead byte of a pair with the
  // byte after it (書式, 8F 91 8E AE, lost up to 8E AE: 式) other than
  // E0..FC: those lead rare kanji, and are far more often the trail of a
  // lost hiragana (り, 82 E8).
  any,
};

// Beneath UTF-8 read as EUC-JP, where letters are of two bytes: a letter
// of Latin-1 whose lead byte (C2 or C3) was lost and whose continuation
// byte b (8E, 8F) was read is kEitherUnit + b. It stands for the letter
// b or the letter b + 0x40 (U+008E or Î) until a reading of EUC-JP beneath
// tells which; other readings lose it.
inline constexpr char16_t kEitherUnit = 0xF700;
constexpr bool eitherUnit(char16_t c) {
  return c >= kEitherUnit + 0x80 && c <= kEitherUnit + 0xBF;
}

// The code that the text of a turn was in first.
Original originalOf(Chain chain);

// Whether the text of a turn was UTF-8 first (the stripped escapes of
// ISO-2022-JP aside, which read as ASCII).
bool fromUtf8(Chain chain);

// The inverse of one turn over [text, text + size) into `out` (room for
// 2 * size units). With `unsized`, each U+FFFD stands for one byte or more
// (a character that an earlier turn lost). With `latin`, the characters
// that a reading of UTF-8 lost are taken to be of two bytes, as the letters
// of Latin-1 are, rather than of three, as Japanese characters are. `runs`:
// how a run of lost bytes in cp932 counts them.
Decoded undo(Chain chain, const char16_t* text, std::size_t size, char16_t* out,
             RepairScratch& scratch, bool unsized = false, bool latin = false,
             LostRun runs = LostRun::counted);

// The line turned back into the bytes that `reading` read it from, read as
// UTF-8 in which nothing was lost, into scratch.second.
Decoded utf8Beneath(Reading reading, const char16_t* line, std::size_t size,
                    RepairScratch& scratch);

}  // namespace mek::mojibake
