#pragma once

// What the repair weighs of a line and of its candidate readings, and the
// rules that accept a reading: whether it reads clearly better as Japanese
// text than the line as it stands, and the kinds of text that stay as they
// stand whatever a reading makes of them. The figures were chosen on the
// corpus of tools/mojibake_eval.py. Shared by the repair's sources
// (detect/mojibake*.cpp) only.

#include <cstddef>
#include <cstdint>

#include "detect/mojibake.h"
#include "detect/mojibake_readings.h"

namespace mek::mojibake {

// What the acceptance rule weighs of a text: the score of its characters
// beyond ASCII, as the detection scorer weighs characters; how many of them
// are Japanese, and how many of those stand alone between ASCII characters
// with a letter beside them; and its ASCII characters.
struct Weighed {
  std::int64_t score = 0;
  std::int64_t japanese = 0;
  std::int64_t alone = 0;
  std::int64_t alone_kana = 0;  // of those, kana that are a run of their own
  // Of those, kana whose cp932 trail byte reads as no letter in cp437 nor in
  // cp850 (の, 82 CC, is é╠ there).
  std::int64_t alone_kana_dos = 0;
  std::int64_t kana = 0;
  std::int64_t kanji = 0;
  std::int64_t rare_kanji = 0;  // of those, kanji not counted as Japanese (level 2)
  std::int64_t beyond_ascii = 0;
  std::int64_t ascii = 0;
  std::int64_t western = 0;     // Latin letters beyond ASCII and general punctuation
  std::int64_t half_width = 0;  // half-width katakana
  // Half-width katakana right after a kanji with no half-width katakana
  // beside it (将ﾁ): a lead byte's pair and the next byte alone, read as
  // cp932. Words of half-width katakana stand in runs.
  std::int64_t lone_half_width = 0;
  // ﾂ or ﾃ right before a character whose cp932 lead byte is 81..9F: C2 or
  // C3 and a continuation byte, UTF-8 of a Latin-1 letter or control read as
  // cp932 (ﾂ個 from U+008C, C2 8C).
  std::int64_t latin_utf8 = 0;
  std::int64_t controls = 0;  // C1 controls (U+0080..U+009F)
  std::int64_t foreign = 0;   // beyond ASCII, not of the Japanese repertoire
  // Beyond ASCII, in a run of at most three beside a Latin letter.
  std::int64_t beside_letter = 0;
  std::int64_t replaced = 0;   // U+FFFD
  std::int64_t long_runs = 0;  // runs of two characters or more beyond ASCII
  std::int64_t common = 0;     // the kanji's kanjiGrade, summed
  // Kanji whose cp932 code is the first two bytes of a character of
  // Japanese text in UTF-8 (lead E3..E9, trail 80..BF: 縺, 蟇).
  std::int64_t utf8_leads = 0;
  // Kanji whose cp932 code is the last byte of such a character and the
  // first of the next (画, 89 E6).
  std::int64_t utf8_straddles = 0;
  // The same for Western text in UTF-8 read as cp932: kanji of E2 and a
  // byte after it (窶) and half-width katakana of C2..C5 (ﾂ..ﾅ), the first
  // bytes of its characters; kanji that lead with E2 or 81..9F.
  std::int64_t western_leads = 0;
  std::int64_t western_kanji = 0;
  // Hiragana that UTF-8 of Japanese text read as cp932 or EUC-JP never
  // gives, and kana that no UTF-8 below U+10000 read as EUC-JP gives.
  std::int64_t kana_not_japanese = 0;
  std::int64_t kana_not_eucjp = 0;
  // Kana whose code's byte after the continuation byte of UTF-8 is one
  // that the UTF-8 beneath never holds there, read as cp932 (hiragana) or
  // as EUC-JP (hiragana and katakana): beneath Japanese text a lead of two
  // bytes or of four (C0..E1, F0..), beneath Western text (Latin-1, cp1252,
  // cp437, cp850) any lead but those of its characters (C2..C6, CB, CE, CF,
  // E2).
  std::int64_t kana_not_utf8[2][2] = {};  // [EUC-JP][Western]
  bool text = false;
};

// What a reading gave: the turns, what was lost and how many bytes beyond
// ASCII fell into place around the losses in the readings of UTF-8.
struct Candidate {
  Chain outer = Chain::none;
  Chain inner = Chain::none;
  std::size_t lost = 0;
  std::size_t known = 0;
  std::size_t odd = 0;
  // A reading of UTF-8 lost the bytes (rather than a reading of cp932 or
  // EUC-JP, whose characters of two bytes leave little to check).
  bool utf8_lost = false;
  bool utf8 = false;    // the first code was UTF-8
  bool jis = false;     // the first turn stripped the escapes of ISO-2022-JP
  bool framed = false;  // and its stretches are no variables (Decoded::framed)
  // The last turn read UTF-8, and undoing it gave valid UTF-8 whole (the
  // line beneath a turn before it).
  bool utf8_beneath = false;
};

bool halfWidthKana(char16_t c);

// Only the characters beyond ASCII are scored: ASCII reads as itself in
// every chain but one and weighs nothing in the scorer, so it would only
// thin out the difference. (The chain of stripped escapes turns ASCII into
// Japanese; its line then scores 0.)
Weighed weigh(const char16_t* text, std::size_t size);

// Whether the candidate's last turn read UTF-8 as cp932 or EUC-JP and
// what lay beneath was Japanese text in UTF-8: no turn before it, or such a
// turn (and no Western one, whose UTF-8 holds the leads of Latin letters).
bool japaneseBeneath(const Candidate& c);

// Whether the turn read a Japanese code a byte a character, as Western
// letters: most of them two bytes each in UTF-8 (but the box drawing of
// cp437 and cp850, and the signs of cp1252).
bool byteReading(Chain inner);

// Whether `repaired` reads clearly better as Japanese text than `line`
// does. The figures were chosen on the corpus of tools/mojibake_eval.py.
// With `dense`, the rule of few bytes in place for a line that is mostly
// U+FFFD (which ranks such a repair behind the others).
bool clearlyBetter(const Weighed& line, const Weighed& repaired, const Candidate& c,
                   bool dense = false);

// Whether the CJK brackets of `text` pair up: each closing one after an
// opening one of its kind, none left open. An accented letter and the
// letter after it read as a cp932 pair give them alone (ömür read as cp437
// is 芭〉).
bool bracketsPair(const char16_t* text, std::size_t size);

// Whether `line` is Western text in cp1252 read as Latin-1 (It\x92s, a
// \x93quote\x94): nothing but Latin-1, with C1 controls that are each a
// typographic mark of cp1252 where such a mark stands: quotes, dashes,
// bullets, the ellipsis, the euro and trade marks. A Japanese text in
// cp932 read so has lead bytes there, and its commonest (81..83, 88..90:
// symbols, kana, the first kanji) are none of these; the others stand
// where such marks do not (\x94é, \x95b). It is left as it stands: Western
// mojibake of Western text.
bool westernCp1252(const char16_t* line, std::size_t size);

// Whether `repaired` explains the C1 controls of `line`, which are no
// characters of any text: the line was read in a code that has none there
// (Latin-1, or the five holes of cp1252). A repair from cp932 or EUC-JP
// that leaves none, loses nothing and gives characters of the Japanese
// repertoire only, none of them in a short run beside a Latin letter, needs
// no more ([\x90V as [新, \x8Dš as 忽); it is taken when no candidate is
// clearly better. Western text in cp1252 read as Latin-1 (It\x92s,
// DESCRIPCIÃ\x93N) gives kanji beside letters.
bool explainsControls(const Weighed& line, const Weighed& repaired, const Candidate& c);

// Whether `text` is text of scripts but Japanese: three letters or more
// beyond ASCII of one script that is not of the Japanese repertoire, and
// nothing else beyond ASCII but letters of such scripts, marks and
// punctuation (Cyrillic in UTF-8 read as cp1252 is Ð°Ð¼; Hebrew with a
// Greek letter). Two EUC-JP kanji may read as two such letters in UTF-8
// (両両 is Î¾Î¾, ξξ), seldom as three of one script, or as two of three
// bytes of the only script (Ethiopic ገጽ). Without `latin`, a Latin letter
// makes it no such text.
bool oneOtherScript(const char16_t* text, std::size_t size, bool latin = true);

// Whether every character of `text` beyond ASCII is of Latin-1 (its
// symbols too: ¥, ¨, which JIS X 0208 also holds), a Latin letter (with the
// phonetic ones of some orthographies, ə, and Vietnamese ả) or general
// punctuation: Western text, whatever turn it took.
bool latinText(const char16_t* text, std::size_t size);

// Whether `text` is Chinese rather than Japanese: ideographs, two of them
// outside JIS X 0208 and 0212 (键, 为), or one among three, no kana and
// nothing lost (what EUC-JP reads from bytes of other text holds U+FFFD,
// and kanji of JIS X 0212). Two kanji in cp932 read as Latin-1 are seldom
// two such ideographs in UTF-8 (閾値 as 臒l).
bool chineseText(const char16_t* text, std::size_t size);

// Whether `line`, read back into bytes as `reading` read them, is UTF-8 of
// one other script than Latin (oneOtherScript): file names of Cyrillic or
// Ethiopic in UTF-8 read as cp437 (╨╡╨╕ for еи), which are no Japanese
// text's. (Latin so read is also what cp932 read as cp437 becomes when
// its UTF-8 is read as cp1252.)
bool otherScriptBeneath(const char16_t* line, std::size_t size, Reading reading,
                        RepairScratch& scratch);

// Whether every half-width voiced mark (ﾞ, ﾟ) of `text` follows a kana that
// takes it, or a character lost: a mark that follows anything else is a
// byte of other text (Þ, read as cp932, is ﾞ).
bool voicedMarksPlaced(const char16_t* text, std::size_t size);

// Whether `repaired` (nothing lost) is half-width katakana text, which the
// scorer does not count as Japanese (its bytes are what À..ß and the
// symbols of Latin-1 read as): every character beyond ASCII is half-width
// katakana, three or more, and none stands alone beside a Latin letter.
// From UTF-8 that is enough. From the other codes the line must also hold
// a run of four or more characters beyond ASCII (ｲﾄｺｵ as cp932 read as
// cp1252 is ²Äºµ, where Western words have one accented letter at a time),
// whose kana come from both halves, the symbols (ｰ..ｿ) and the capitals
// (ﾀ..ﾟ), as words of kana do and a row of accented capitals (ÀÁÂÃ) or
// guillemets around a letter (»ß«) do not; or small kana placed where they
// fit in a long run (smallKanaFit: ｼｮｳｶｲｼｬ, all symbols, is ¼®³¶²¼¬
// through cp1252). Box drawings read as cp437 or
// cp850 give half-width katakana too (╔══ as ﾉﾍﾍ): the caller leaves those
// readings out. (`utf8` says that the bytes tell by themselves: UTF-8, or
// EUC-JP's two bytes a kana, 8E and the kana's.) Where a reading of UTF-8
// lost characters (U+FFFD), there must be six kana or more, and one for
// each lost; with `lostCapitals` (cp932 read a byte a character, then UTF-8
// read as EUC-JP, which loses the capitals, C3 80..9F, and keeps the
// symbols, C2 A1..BF) a lost one counts as a capital in its run.
bool halfWidthKanaText(const char16_t* repaired, std::size_t size, std::size_t lost, bool utf8,
                       bool lostCapitals = false);

// Whether the small ｬ, ｭ, ｮ of the half-width katakana `text` each come
// right after a kana that takes them (ｷ, ｼ, ﾁ, ﾆ, ﾋ, ﾐ, ﾘ, voiced or not:
// ｼｮｳ, ﾋﾞｮ), one at least in a run of kMinMarkedKana kana or more; or one
// does not; or neither. Names in half-width katakana place them so; other
// bytes read so place one in eight or so, and short runs by chance (ﾏﾘｭｽ
// is は、 of EUC-JP read through cp850).
enum class SmallKana { none, placed, misplaced };
SmallKana smallKanaFit(const char16_t* text, std::size_t size);

// Whether the half-width katakana `text` holds voiced marks (ﾞ, ﾟ) or
// small ｬ, ｭ, ｮ, each right after a kana that takes it (smallKanaFit), and
// kMinMarkedKana kana or more: names
// in half-width katakana do (ｽﾞｲｾﾝ), whereas EUC-JP text whose bytes all
// lie in A1..DF, read as cp932, puts them after anything (み, A4 DF, as
// ､ﾟ), but for a few characters, where chance fits them (橋爪 as ｶｶﾄﾞ).
bool voicedMarksFit(const char16_t* text, std::size_t size);

// Whether a line read as cp437 or cp850 looks like box drawing: a
// character three times in a row (╔═══╗, which reads as ﾉﾍﾍﾍｻ), or a run of
// box pieces from a left end to a right end (╚══╩══╝). A tree (├── tox.ini,
// ﾃﾄﾄ) has no kana of the symbol half; kana read as cp437 give pieces in
// any order (ｲﾄｺｵ as ▓─║╡).
bool drawing(const char16_t* line, std::size_t size);

// Whether the line holds kListing characters beyond ASCII in a row, each the
// one after the one before (or the one after that: Ö Ø skip ×).
bool listing(const char16_t* line, std::size_t size);

// Whether `repaired` (from `line`) is what the turns the last repaired line
// took make of a line that does not read as Japanese text by itself:
// symbols, Cyrillic or a lone kanji in a dictionary, half-width katakana, a
// lone character that UTF-8 lost bytes of. The lines of one text took one
// turn, so less evidence is needed: from UTF-8, the bytes form valid
// multi-byte UTF-8 (around lost bytes, with `lossy`), which always gives
// fewer characters beyond ASCII; from the other codes, every character
// beyond ASCII is of the Japanese repertoire (with `eucjp`, where the first
// code was EUC-JP, any character of JIS X 0208 or JIS X 0212: the Latin
// letters and signs of a table, § as ¡ø, Ą as SS3 and ª¨). With
// `japanese`, the result must also hold a character of that repertoire, or
// a lost one.
bool sameTurnFits(const char16_t* line, std::size_t size, const char16_t* repaired,
                  std::size_t repairedSize, bool utf8, bool lossy, bool japanese, bool jis,
                  bool eucjp = false);

}  // namespace mek::mojibake
