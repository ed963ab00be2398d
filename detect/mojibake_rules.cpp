#include "detect/mojibake_rules.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "detect/kanji_grades.h"
#include "detect/scored_detection.h"
#include "japanese/flat_tables.h"
#include "japanese/shift_jis.h"
#include "japanese/tables/western_codes.h"

namespace mek::mojibake {
namespace {

// The acceptance rule (see clearlyBetter).
// A character that counts as Japanese weighs at least this in the scorer:
// kana, CJK punctuation and level-1 kanji. Level-2 kanji and half-width
// katakana do not: they are what accented Western letters read as in cp932
// (é and the next letter give a level-2 kanji, À..ß half-width katakana),
// whereas the codes of real text lead mostly with 81..83 and 88..98.
constexpr std::int64_t kJapaneseWeight = 90;
constexpr std::int64_t kMinJapanese = 2;
constexpr std::int64_t kLostShare = 1;
constexpr std::int64_t kJapaneseShare = 50;
constexpr std::int64_t kRepairMargin = 2000;
constexpr std::int64_t kAloneShare = 33;
// Kanji each with a lone half-width katakana after it (loneHalfWidth): at
// least this many, and one in this many characters beyond ASCII.
constexpr std::int64_t kMinLoneHalfWidth = 2;
constexpr std::int64_t kLoneHalfWidthShare = 4;
// Half-width katakana among U+FFFD is a ledger with this many kana or more.
constexpr std::int64_t kMinLedger = 3;
constexpr std::int64_t kUtf8RepairMargin = 0;
// A reading of UTF-8 that lost bytes is taken by itself when at least this
// many bytes beyond ASCII were read and fell into place around the lost ones
// (each such byte had about one chance in four to fit by chance), and by the
// same-turn rule with this many.
constexpr std::size_t kMinKnown = 5;
// Such hiragana make at least one in this many of a damaged line's
// characters. On 3,000 lines of the evaluation's Japanese texts: of their
// readings of UTF-8 as cp932 or as EUC-JP, none has one in eight; beneath a
// Western turn (UTF-8 read as Latin-1, then as cp932) 36 have one in eight,
// none one in four; of the lines with U+FFFD for half or a fifth of their
// characters, half have one in eight and a quarter one in four.
constexpr std::int64_t kDamagedShare = 8;
constexpr std::int64_t kDamagedShareBeneathWestern = 4;
// Characters beyond ASCII in a row, each the one after the one before, are a
// table or an alphabet (ÀÁÂÃÄÅÆÇ…), whatever a reading makes of them.
constexpr std::size_t kListing = 12;
// Half-width katakana from cp932 is preferred to the EUC-JP pairs of the
// same bytes with this many kana or more, its voiced marks in place; and
// half-width katakana text beneath a reading that lost characters needs as
// many.
constexpr std::size_t kMinMarkedKana = 6;

// Which readings of UTF-8 never give the kana c. Its code pairs a
// continuation byte of UTF-8 with the byte after it: 82 and 9F..F1 for
// hiragana in cp932, A4 or A5 and the cell in EUC-JP.
// kNotFromJapanese: where that byte is a lead of two bytes (C0..E1 in
// both: っ..め), which UTF-8 of Japanese text seldom holds and that of Latin
// letters often (C3 of ã), or of four (F0, F1 in cp932: を, ん).
// kNotFromEucjp: where, read as EUC-JP, it is a lead of four bytes or no
// byte of UTF-8 (F0..F6: ゐ..ん, ヰ..ヶ).
constexpr int kNotFromJapanese = 1;
constexpr int kNotFromEucjp = 2;

// Whether the byte b, after a continuation byte, is no byte that UTF-8 of
// Japanese text (western false) or of Latin-1 or cp1252 text holds there.
bool notAfterContinuation(int b, bool western) {
  if (b < 0xC0) return false;
  if (western) {
    return !((b >= 0xC2 && b <= 0xC6) || b == 0xCB || b == 0xCE || b == 0xCF || b == 0xE2);
  }
  return b <= 0xE1 || b >= 0xF0;
}

// The byte of the kana c after its first, in cp932 (eucjp false: hiragana
// only, katakana there has no such byte) or EUC-JP; 0 where there is none.
int kanaByte(char16_t c, bool eucjp) {
  if (c >= 0x3041 && c <= 0x3093) return c - 0x3041 + (eucjp ? 0xA1 : 0x9F);
  if (eucjp && c >= 0x30A1 && c <= 0x30F6) return c - 0x30A1 + 0xA1;
  return 0;
}

int kanaBeyondUtf8(char16_t c) {
  int beyond = 0;
  if ((c >= 0x3062 && c <= 0x3081) || c == 0x3092 || c == 0x3093) beyond |= kNotFromJapanese;
  if ((c >= 0x3090 && c <= 0x3093) || (c >= 0x30F0 && c <= 0x30F6)) beyond |= kNotFromEucjp;
  return beyond;
}

// How common the kanji c is: 2 taught in elementary school, 1 the rest of
// the kanji in common use, 0 any other (and any character but a kanji).
int kanjiGrade(char16_t c) {
  const std::uint16_t jis = kUnicodeToJisCode[c];
  const int row = (jis >> 8) - 0x20;
  const int cell = (jis & 0xFF) - 0x20;
  if (row < kGradedFirstRow || row > kGradedLastRow || cell < 1 || cell > 94) return 0;
  return kKanjiGrades[(row - kGradedFirstRow) * 94 + cell - 1] - '0';
}

bool kanji(char16_t c) {
  return c >= 0x4E00 && c <= 0x9FFF;
}

// Whether `character` is of the Japanese repertoire beyond ASCII: CJK
// symbols, kana, kanji, and the full-width and half-width forms.
bool japaneseForm(char16_t c) {
  return (c >= 0x3000 && c <= 0x30FF) || kanji(c) || (c >= 0xFF01 && c <= 0xFF9F);
}

// Whether `c` is among the symbols, Greek and Cyrillic letters that JIS X
// 0208 holds beside kana and kanji (general punctuation, arrows, math,
// box pieces, shapes).
bool jisSymbol(char16_t c) {
  return (c >= 0x0391 && c <= 0x03C9) || (c >= 0x0401 && c <= 0x0451) ||
         (c >= 0x2010 && c <= 0x266F);
}

bool asciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A Latin letter beyond ASCII (À..ɏ but × and ÷).
bool accentedLetter(char16_t c) {
  return c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7;
}

// Whether text[i] is a letter of a Latin word: not the conversion of a
// printf format (%s, %lld, %li), which Japanese messages put right before
// their words.
bool wordLetter(const char16_t* text, std::size_t i) {
  if (!asciiLetter(text[i])) return false;
  for (std::size_t k = i; k > 0 && i - k < 6;) {
    const char16_t c = text[--k];
    if (c == u'%') return false;
    if (!asciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'.' && c != u'-') break;
  }
  return true;
}

// Whether the Japanese characters of the run [begin, end) of characters
// beyond ASCII in `text` stand alone among Latin letters, as accented
// letters read as pairs do.
bool runStandsAlone(const char16_t* text, std::size_t size, std::size_t begin, std::size_t end) {
  if (end - begin > 3) return false;
  // Alone when its run stands beside a Latin word, or, two or three long,
  // inside one (F排牌rigt from Förövrigt read as cp437).
  const bool left = begin > 0 && wordLetter(text, begin - 1);
  const bool right = end < size && asciiLetter(text[end]);
  // Two or three kanji or symbols at the start of a word that goes on in
  // small letters are its accented first letters (迅穫ements from
  // Évènements read as cp850, 罵〟lendirilebilir from ölçülendirilebilir
  // read as cp437); Japanese puts a Latin word right after kana (不正な
  // dumpId), after kanji mostly with a space.
  const bool wordStart = begin == 0 || !asciiLetter(text[begin - 1]);
  const bool smallAfter = end + 1 < size && text[end] >= u'a' && text[end] <= u'z' &&
                          text[end + 1] >= u'a' && text[end + 1] <= u'z';
  const bool kanjiLast = !(text[end - 1] >= 0x3040 && text[end - 1] <= 0x30FF);
  // So are two or three after a word of one letter (t排婆 from török, N夫核
  // from Nòvèj read as cp437): Japanese puts kanji after a Latin word
  // (DB設定), seldom after one letter alone. (A printf conversion is no
  // word: %s番号.)
  const bool oneLetter =
      begin > 0 && wordLetter(text, begin - 1) && (begin == 1 || !asciiLetter(text[begin - 2]));
  // And two or three kanji that end a word after small letters are its
  // accented last letters (ucra杵郭 from ucraïnès read as cp437).
  bool kanjiOnly = true;
  for (std::size_t k = begin; k < end; ++k) kanjiOnly = kanjiOnly && kanji(text[k]);
  const bool smallBefore = begin > 1 && text[begin - 1] >= u'a' && text[begin - 1] <= u'z' &&
                           text[begin - 2] >= u'a' && text[begin - 2] <= u'z' && left;
  const bool wordEnd = end == size || !asciiLetter(text[end]);
  // So do two or three that end in kanji and end a word of a capital and a
  // small letter (Ksビヌ覧 from Ksârâkùù read as cp437): Japanese puts
  // kanji after such a word seldom, after an abbreviation (DB設定) often.
  const bool capitalSmall = begin >= 2 && text[begin - 1] >= u'a' && text[begin - 1] <= u'z' &&
                            text[begin - 2] >= u'A' && text[begin - 2] <= u'Z' &&
                            (begin == 2 || !asciiLetter(text[begin - 3]));
  return (end - begin == 1 && (left || right)) || (left && right) ||
         (wordStart && smallAfter && kanjiLast) || oneLetter ||
         (smallBefore && wordEnd && kanjiOnly) || (capitalSmall && wordEnd && kanjiLast);
}

}  // namespace

bool halfWidthKana(char16_t c) {
  return c >= 0xFF61 && c <= 0xFF9F;
}

// Whether byte b reads as a letter in cp437 or in cp850 (Latin letters
// with accents, and the Greek ones of cp437: ß, µ).
bool dosLetter(unsigned b) {
  if (b < 0x80) return asciiLetter(static_cast<char16_t>(b));
  for (const std::uint16_t* high : {tables::kCp437High, tables::kCp850High}) {
    const char16_t u = high[b - 0x80];
    if (u == 0xAA || u == 0xB5 || u == 0xBA || accentedLetter(u) || (u >= 0x370 && u <= 0x3FF)) {
      return true;
    }
  }
  return false;
}

Weighed weigh(const char16_t* text, std::size_t size) {
  ReadingTally tally;
  Weighed w;
  // The run of characters beyond ASCII that holds text[i], found once.
  std::size_t begin = 0;
  std::size_t end = 0;
  bool besideLetter = false;  // a run of at most three with a Latin letter beside it
  bool alone = false;         // its Japanese characters stand alone (runStandsAlone)
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      ++w.ascii;
      continue;
    }
    if (i >= end) {
      begin = i;
      end = i + 1;
      while (end < size && text[end] >= 0x80) ++end;
      besideLetter = end - begin <= 3 && ((begin > 0 && asciiLetter(text[begin - 1])) ||
                                          (end < size && asciiLetter(text[end])));
      if (end - begin >= 2) ++w.long_runs;
      alone = runStandsAlone(text, size, begin, end);
    }
    if (c == 0xFFFD) {
      ++w.replaced;
      continue;
    }
    tally.add(c);
    ++w.beyond_ascii;
    if (c <= 0x9F) ++w.controls;
    if (!japaneseForm(c)) ++w.foreign;
    if (besideLetter) ++w.beside_letter;
    if (latinCharacter(c)) ++w.western;
    if (halfWidthKana(c)) {
      ++w.half_width;
      if (c >= u'ﾂ' && c <= u'ﾅ') ++w.western_leads;
      if (i > 0 && kanji(text[i - 1]) && !(i + 1 < size && halfWidthKana(text[i + 1]))) {
        ++w.lone_half_width;
      }
      if ((c == u'ﾂ' || c == u'ﾃ') && i + 1 < size) {
        const std::uint16_t next = kUnicodeToCp932Code[text[i + 1]];
        if (next != kNoMapping && next >> 8 >= 0x81 && next >> 8 <= 0x9F) {
          ++w.latin_utf8;
        }
      }
    }
    if (kanji(c)) {
      ++w.kanji;
      w.common += kanjiGrade(c);
      const std::uint16_t code = kUnicodeToCp932Code[c];
      const unsigned lead = code >> 8;
      const unsigned trail = code & 0xFF;
      if (lead >= 0xE3 && lead <= 0xE9 && trail >= 0x80 && trail <= 0xBF) ++w.utf8_leads;
      if (lead == 0xE2 && trail >= 0x80 && trail <= 0xBF) ++w.western_leads;
      if ((lead >= 0x81 && lead <= 0x9F) || lead == 0xE2) ++w.western_kanji;
      if (lead >= 0x81 && lead <= 0x9F && ((trail >= 0xE3 && trail <= 0xE9) || trail == 0xEF)) {
        ++w.utf8_straddles;
      }
    }
    if (characterWeight(c) < kJapaneseWeight) {
      if (kanji(c)) ++w.rare_kanji;
      continue;
    }
    ++w.japanese;
    if (c >= 0x3040 && c <= 0x30FF) ++w.kana;
    const int beyond = kanaBeyondUtf8(c);
    if ((beyond & kNotFromJapanese) != 0) ++w.kana_not_japanese;
    if ((beyond & kNotFromEucjp) != 0) ++w.kana_not_eucjp;
    for (const bool eucjp : {false, true}) {
      const int b = kanaByte(c, eucjp);
      for (const bool western : {false, true})
        w.kana_not_utf8[eucjp][western] += notAfterContinuation(b, western);
    }
    // 、 and 。 end Latin words in Japanese text too.
    if (c == u'、' || c == u'。') continue;
    if (!alone) continue;
    ++w.alone;
    if (end - begin == 1 && c >= 0x3040 && c <= 0x30FF) {
      ++w.alone_kana;
      const std::uint16_t code = kUnicodeToCp932Code[c];
      if (code != kNoMapping && !dosLetter(code & 0xFFu)) ++w.alone_kana_dos;
    }
  }
  w.score = tally.score();
  w.text = countsAsText(tally.characters, tally.noise, false);
  return w;
}

namespace {

// Whether the turn read UTF-8 as cp932 or EUC-JP, the codes of pairs.
bool readsUtf8InPairs(Chain chain) {
  return chain == Chain::utf8_as_cp932 || chain == Chain::utf8_as_eucjp;
}

// Whether kanji each with a half-width katakana after it (将ﾁ将ｮ) make much
// of `repaired`: JIS X 0212 in EUC-JP, three bytes a character, read as
// cp932 pairs and singles.
bool loneHalfWidth(const Weighed& repaired) {
  return repaired.lone_half_width >= kMinLoneHalfWidth &&
         repaired.lone_half_width * kLoneHalfWidthShare >= repaired.beyond_ascii;
}

// Whether a line too short for kMinKnown is UTF-8 read as cp932 alone all
// the same: read so, each character of Japanese text gives a level-2 kanji
// of its first two bytes (utf8_leads), then its last byte with the next
// lead as a kanji (utf8_straddles), as a half-width katakana or as U+FFFD
// (寅吉 as 蟇�蜷�). A line of nothing else beyond ASCII, with one U+FFFD
// or more but no more than such first kanji, is no Japanese text a reader
// damaged: that keeps common kanji and kana beside its U+FFFD.
// Beneath it a Western turn's UTF-8 leads with E2 (‚ as E2 80 9A, 窶) or
// C2..C5 (Ì as C3 8C, ﾃ), and the byte after its last is ASCII or such a
// lead: every kanji leads with E2 or 81..9F (窶堙� of の as ‚Ì).
bool shortUtf8AsCp932(const Weighed& line, const Candidate& c) {
  if (c.outer != Chain::utf8_as_cp932 || line.replaced == 0 ||
      line.kanji + line.half_width != line.beyond_ascii) {
    return false;
  }
  if (c.inner == Chain::none) {
    return line.replaced <= line.utf8_leads && line.utf8_leads + line.utf8_straddles == line.kanji;
  }
  const bool western =
      c.inner == Chain::utf8_as_cp1252 || c.inner == Chain::utf8_as_latin1 || byteReading(c.inner);
  return western && line.kanji != 0 && line.replaced <= line.western_leads &&
         line.western_kanji == line.kanji;
}

}  // namespace

bool byteReading(Chain inner) {
  return inner == Chain::cp932_as_cp1252 || inner == Chain::cp932_as_latin1 ||
         inner == Chain::eucjp_as_latin1 || inner == Chain::cp932_as_cp437 ||
         inner == Chain::cp932_as_cp850;
}

bool japaneseBeneath(const Candidate& c) {
  return readsUtf8InPairs(c.outer) && (c.inner == Chain::none || readsUtf8InPairs(c.inner));
}

namespace {

// For a candidate whose last turn read UTF-8 as cp932 or EUC-JP: the share
// of hiragana that no such reading gives (kanaBeyondUtf8) from which its line
// is a damaged Japanese line (one in the share answered), or 0 where the
// text beneath may give them (cp932 read as Latin-1, in UTF-8).
std::int64_t damagedShare(const Candidate& c) {
  if (japaneseBeneath(c)) return kDamagedShare;
  // (Beneath a reading of cp932 or EUC-JP a byte a character, the UTF-8 is
  // of those Western characters too.)
  const bool western =
      c.inner == Chain::utf8_as_cp1252 || c.inner == Chain::utf8_as_latin1 || byteReading(c.inner);
  return western && readsUtf8InPairs(c.outer) ? kDamagedShareBeneathWestern : 0;
}

// Whether the turns of c read the byte before a kana's (82, 83 of cp932;
// A4, A5 of EUC-JP) a byte a character as no letter; so does ISO-2022-JP
// whose escapes were stripped ($ and % of 24 and 25).
bool kanaLeadNoLetter(const Candidate& c) {
  const Chain first = c.inner == Chain::none ? c.outer : c.inner;
  return first == Chain::cp932_as_cp1252 || first == Chain::cp932_as_latin1 ||
         first == Chain::eucjp_as_latin1 || first == Chain::jis_without_esc;
}

}  // namespace

bool clearlyBetter(const Weighed& line, const Weighed& weighed, const Candidate& c, bool dense) {
  // Between stripped escapes that no shell or Perl name could be, a kanji
  // of level 2 counts as well: no accented letter reads as one there.
  Weighed repaired = weighed;
  if (c.jis && c.framed) repaired.japanese += weighed.rare_kanji;
  // Bytes beyond ASCII turn into ASCII only where cp932 read a continuation
  // byte of UTF-8 and the ASCII byte after it as a pair (Ы, 84 5C); no
  // other turn makes ASCII of them.
  const bool cp932Pairs = c.outer == Chain::utf8_as_cp932 || c.inner == Chain::utf8_as_cp932;
  if (!cp932Pairs && repaired.ascii > line.ascii) return false;
  // UTF-8 that lost bytes: the bytes that came through must fall into
  // place around the lost ones, enough of them that chance does not explain
  // it, and what came through whole beyond ASCII must be mostly Japanese.
  // (Through EUC-JP most characters are lost; what is left may be ASCII.)
  if (c.lost != 0 && c.utf8_lost) {
    if (!dense && c.known < kMinKnown && !shortUtf8AsCp932(line, c)) return false;
    // Read as cp932 or EUC-JP, UTF-8 of Japanese text gives none of the
    // commonest hiragana (kanaBeyondUtf8): a line of U+FFFD that holds them
    // is a Japanese line a reader damaged before, whose bytes fall into
    // place around the U+FFFD by chance (に弱い as C9 8E and ア).
    const std::int64_t share = damagedShare(c);
    const std::int64_t impossible =
        line.kana_not_utf8[c.outer == Chain::utf8_as_eucjp][share == kDamagedShareBeneathWestern];
    if (share != 0 && line.replaced != 0 && impossible != 0 &&
        impossible * share >= line.beyond_ascii) {
      return false;
    }
    if (dense && c.odd != 0) return false;
    if (repaired.beyond_ascii == 0) return true;
    // Half-width katakana alone (a ledger) counts as Japanese here; but not
    // the few bytes of cp932 that UTF-8 read as EUC-JP left beside lost
    // ones, which any accented letter gives (ã as ﾆ), and from UTF-8 read
    // as EUC-JP only kMinLedger kana or more: one or two among U+FFFD are
    // as often mojibake of cp932 beneath (ｧ of 咲ｧｰ, 名称). Nor are one or
    // two kana of cp932 beneath any other reading: they are as often a byte
    // of a pair of EUC-JP (洞庭湖 in EUC-JP read as Latin-1, then UTF-8 read
    // as cp932, taken through cp1252 as ｸ among U+FFFD).
    const bool eucjp = c.outer == Chain::utf8_as_eucjp;
    const bool ledger = repaired.half_width >= kMinLedger ? c.utf8 || !eucjp : c.utf8 && !eucjp;
    if (ledger && repaired.half_width == repaired.beyond_ascii) return true;
    return repaired.text && repaired.japanese * 100 >= repaired.beyond_ascii * kJapaneseShare &&
           repaired.alone * 100 <= repaired.japanese * kAloneShare;
  }
  if (!repaired.text || repaired.japanese == 0) return false;
  // CJK symbols alone are no Japanese text: ü and a letter read as a cp932
  // pair give them (büyük read as cp437 is b【〔). Only UTF-8, whose bytes
  // must fall into place, may give them alone.
  if (!c.utf8 && repaired.kana + repaired.kanji == 0) return false;
  // Nor are kanji that each stand alone without kana (în read as cp437 is
  // 系, a word of one kanji among Western words).
  if (!c.utf8 && !c.jis && repaired.kana == 0 && repaired.long_runs == 0) return false;
  if (static_cast<std::int64_t>(c.lost) * kLostShare > repaired.japanese) return false;
  if (loneHalfWidth(repaired)) return false;
  // cp932 read a byte a character, undone once, that gives the UTF-8 of
  // Latin-1 characters read as cp932: the bytes were UTF-8 (月 as cp932 read
  // as Latin-1, then UTF-8 read as Latin-1, is Â\x8cÂ\x8e, not ﾂ個).
  if (c.inner == Chain::none && byteReading(c.outer) && c.outer != Chain::eucjp_as_latin1 &&
      repaired.latin_utf8 != 0) {
    return false;
  }
  // Most of what is not ASCII must be Japanese.
  if (repaired.japanese * 100 < repaired.beyond_ascii * kJapaneseShare) return false;
  // An accented Western letter read as a cp932 lead byte takes the letter
  // after it as its trail byte, and gives a kanji alone inside a word
  // (gr批er from größer read as cp437); the characters of Japanese text
  // stand in runs.
  // (UTF-8 takes no ASCII byte into a character.)
  // (A kana alone is no such pair where the byte before a kana's reads as
  // no letter: ‚ or ƒ of cp1252, a control of Latin-1, ¤ or ¥ of EUC-JP read
  // as Latin-1, as in OldestMulti‚ÌDB; cp437 and cp850 read it as é or â,
  // so there only where the trail byte reads as no letter: é╠ of の.)
  const Chain first = c.inner == Chain::none ? c.outer : c.inner;
  const bool dos = first == Chain::cp932_as_cp437 || first == Chain::cp932_as_cp850;
  const std::int64_t alone = repaired.alone - (kanaLeadNoLetter(c) ? repaired.alone_kana
                                               : dos               ? repaired.alone_kana_dos
                                                                   : std::int64_t{0});
  if (!c.utf8 && alone * 100 > repaired.japanese * kAloneShare) return false;
  // One Japanese character but from UTF-8 (three bytes of its form) must
  // have come from two characters or more, none of them ASCII, stand alone
  // and be kana: two accented letters in a row read as EUC-JP or cp932 give
  // a kanji often enough (ï» as EUC-JP is 怯). Stripped escapes around one
  // kana ($B$O(B) are no shell or Perl text.
  if (!c.utf8 && repaired.japanese < kMinJapanese &&
      !(c.jis && ((repaired.kana == 1 && repaired.beyond_ascii == 1) || c.framed)) &&
      (line.beyond_ascii < 2 || repaired.beyond_ascii != 1 || line.ascii != repaired.ascii ||
       repaired.kana != 1)) {
    return false;
  }
  // UTF-8 read in another code is undone only when the bytes form valid
  // multi-byte UTF-8, which the bytes of other text seldom do; its mojibake
  // is itself kanji (縺薙ｓ from こん), so it need only score no worse. So
  // is the text that such a reading turned last (cp932 read as Latin-1, in
  // UTF-8 read as cp932: ﾂ個堋 from 建).
  const bool utf8 = c.utf8 || c.utf8_beneath;
  return repaired.score - line.score >= (utf8 ? kUtf8RepairMargin : kRepairMargin);
}

bool bracketsPair(const char16_t* text, std::size_t size) {
  static constexpr std::u16string_view kOpen = u"〈《「『【〔（［｛";
  static constexpr std::u16string_view kClose = u"〉》」』】〕）］｝";
  int open[kOpen.size()] = {};
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t o = kOpen.find(text[i]);
    if (o != std::u16string_view::npos) {
      ++open[o];
      continue;
    }
    const std::size_t c = kClose.find(text[i]);
    if (c != std::u16string_view::npos && open[c]-- == 0) return false;
  }
  for (const int n : open) {
    if (n != 0) return false;
  }
  return true;
}

bool westernCp1252(const char16_t* line, std::size_t size) {
  const auto space = [&](std::size_t i) {
    return i >= size || line[i] == u' ' || line[i] == u'\t' || line[i] == 0xA0;
  };
  bool marks = false;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = line[i];
    if (c > 0xFF) return false;  // not read as Latin-1
    if (c < 0x80 || c > 0x9F) continue;
    const bool before = i == 0 || space(i - 1);  // nothing or a space before it
    // Two marks in a row are quotes that close (’”, and “” or ‘’ empty),
    // or no Western text: a cp932 pair (–– is 96 96, 末 of 端末).
    const bool closing = c == 0x92 || c == 0x94;
    const char16_t previous = i == 0 ? 0 : line[i - 1];
    if (previous >= 0x80 && previous <= 0x9F &&
        !(closing && previous >= 0x91 && previous <= 0x94)) {
      return false;
    }
    bool fits;
    switch (c) {
      case 0x80:  // €
      case 0x85:  // …
      case 0x92:  // ’
      case 0x96:  // –
      case 0x97:  // —
      case 0x99:  // ™
        fits = true;
        break;
      case 0x91:  // ‘
      case 0x93:  // “
        fits = !space(i + 1);
        break;
      case 0x94:  // ”
        fits = !before;
        break;
      case 0x95:  // •
        fits = space(i + 1);
        break;
      default:
        fits = false;
    }
    // Nor does a mark come right before an accented letter or a sign of
    // Latin-1, as a lead byte before its trail byte does.
    if (!fits || (i + 1 < size && line[i + 1] >= 0xA0)) return false;
    marks = true;
  }
  return marks;
}

bool explainsControls(const Weighed& line, const Weighed& repaired, const Candidate& c) {
  // (Half-width katakana alone is no such text: × in UTF-8 read as Latin-1
  // is Ã\x97, which cp932 reads as ﾗ.)
  return !c.utf8 && c.lost == 0 && line.controls != 0 && repaired.controls == 0 &&
         repaired.kana + repaired.kanji != 0 && repaired.foreign == 0 &&
         repaired.beside_letter == 0 && !loneHalfWidth(repaired);
}

namespace {

// The script of a letter beyond ASCII, roughly: the range of its
// alphabet; -1 for marks and punctuation, which any script uses.
int scriptOf(char16_t c) {
  struct Range {
    char16_t first;
    char16_t last;
  };
  static constexpr Range kScripts[] = {
      {0x00C0, 0x02AF},  // Latin
      {0x0370, 0x03FF},  // Greek
      {0x0400, 0x052F},  // Cyrillic
      {0x0530, 0x058F},  // Armenian
      {0x0590, 0x05FF},  // Hebrew
      {0x0600, 0x077F},  // Arabic
      {0x0900, 0x0DFF},  // the Indic scripts, which share their danda (।)
      {0x10A0, 0x10FF},  // Georgian
      {0x1100, 0x11FF},  // Hangul jamo
      {0x1200, 0x139F},  // Ethiopic
      {0x13A0, 0x13FF},  // Cherokee
      {0x1400, 0x167F},  // Canadian syllabics
      {0x1E00, 0x1EFF},  // Latin (Vietnamese)
      {0xAC00, 0xD7AF},  // Hangul
  };
  if ((c >= 0x80 && c <= 0xBF) || (c >= 0x02B0 && c <= 0x036F) || (c >= 0x2000 && c <= 0x2BFF)) {
    return -1;
  }
  for (std::size_t i = 0; i < std::size(kScripts); ++i) {
    if (c >= kScripts[i].first && c <= kScripts[i].last)
      return kScripts[i].first == 0x1E00 ? 0 : static_cast<int>(i);
  }
  return 64 + (c >> 7);  // Thai and the rest, one block each
}

}  // namespace

bool oneOtherScript(const char16_t* text, std::size_t size, bool latin) {
  // Letters per script, for the few scripts a line holds.
  struct Count {
    int script;
    std::size_t letters;
  };
  Count counts[4] = {};
  std::size_t scripts = 0;
  bool wide = true;  // every letter three bytes long in UTF-8
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80 || c == 0xFFFD) continue;
    if (c <= 0x9F || japaneseForm(c) || (c >= 0xD800 && c <= 0xDFFF)) return false;
    const int s = scriptOf(c);
    if (s < 0) continue;
    if (s == 0 && !latin) return false;
    std::size_t k = 0;
    while (k < scripts && counts[k].script != s) ++k;
    if (k == scripts) {
      if (scripts == std::size(counts)) return false;
      counts[scripts++] = {s, 0};
    }
    ++counts[k].letters;
    wide = wide && c >= 0x800;
  }
  std::size_t most = 0;
  for (std::size_t k = 0; k < scripts; ++k) most = std::max(most, counts[k].letters);
  return most >= 3 || (scripts == 1 && most == 2 && wide);
}

bool latinText(const char16_t* text, std::size_t size) {
  // The letters beyond Latin Extended-B that the orthographies of Africa
  // and Azerbaijani take from the phonetic alphabet (ɓ ɔ ɗ ə ɛ ɣ ɩ ɲ ʃ ʊ ʋ
  // ʒ), and Vietnamese.
  static constexpr char16_t kPhonetic[] = {0x0253, 0x0254, 0x0257, 0x0259, 0x025B, 0x0263,
                                           0x0269, 0x0272, 0x0283, 0x028A, 0x028B, 0x0292};
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80 || c == 0xFFFD || (c >= 0xA0 && c <= 0xFF) || latinCharacter(c) ||
        (c >= 0x1E00 && c <= 0x1EFF)) {
      continue;
    }
    if (std::find(std::begin(kPhonetic), std::end(kPhonetic), c) == std::end(kPhonetic)) {
      return false;
    }
  }
  return true;
}

bool chineseText(const char16_t* text, std::size_t size) {
  std::size_t ideographs = 0;
  std::size_t beyondJis = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F) || c == 0xFFFD) return false;
    if ((c < 0x4E00 || c > 0x9FFF) && (c < 0x3400 || c > 0x4DBF)) continue;
    ++ideographs;
    if (kUnicodeToJisCode[c] == kNoMapping) ++beyondJis;
  }
  return beyondJis >= 2 || (beyondJis == 1 && ideographs >= 3);
}

bool otherScriptBeneath(const char16_t* line, std::size_t size, Reading reading,
                        RepairScratch& scratch) {
  const Decoded d = utf8Beneath(reading, line, size, scratch);
  return d.size >= 0 && d.lost == 0 &&
         oneOtherScript(scratch.second, static_cast<std::size_t>(d.size), false);
}

bool voicedMarksPlaced(const char16_t* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c != u'ﾞ' && c != u'ﾟ') continue;
    const char16_t base = i == 0 ? u' ' : text[i - 1];
    if (base == 0xFFFD) continue;
    const bool ha = base >= u'ﾊ' && base <= u'ﾎ';
    const bool voiced = base == u'ｳ' || (base >= u'ｶ' && base <= u'ﾄ') || ha;
    if (!(c == u'ﾞ' ? voiced : ha)) return false;
  }
  return true;
}

bool halfWidthKanaText(const char16_t* repaired, std::size_t size, std::size_t lost, bool utf8,
                       bool lostCapitals) {
  std::size_t kana = 0;
  bool mixedRun = false;
  std::size_t run = 0;
  bool symbols = false;
  bool capitals = false;
  // Whether every run of kana splits into pairs of a capital from ﾂ on and
  // a symbol, the bytes of a letter of two bytes in UTF-8 (Cyrillic же, D0
  // B6 D0 B5, as ﾐｶﾐｵ).
  bool utf8Pairs = true;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = repaired[i];
    if (c < 0x80) {
      utf8Pairs = utf8Pairs && run % 2 == 0;
      run = 0;
      symbols = capitals = false;
      continue;
    }
    if (c == 0xFFFD && lost != 0) {
      if (lostCapitals) {
        utf8Pairs = false;
        ++run;
        capitals = true;
        mixedRun = mixedRun || (run >= 4 && symbols);
      }
      continue;
    }
    if (!halfWidthKana(c)) return false;
    ++kana;
    utf8Pairs = utf8Pairs && (run % 2 == 0 ? c >= u'ﾂ' : c < 0xFF80);
    ++run;
    (c < 0xFF80 ? symbols : capitals) = true;
    mixedRun = mixedRun || (run >= 4 && symbols && capitals);
    const char16_t left = i == 0 ? u' ' : repaired[i - 1];
    const char16_t right = i + 1 == size ? u' ' : repaired[i + 1];
    if (left < 0x80 && right < 0x80 && (asciiLetter(left) || asciiLetter(right))) return false;
  }
  utf8Pairs = utf8Pairs && run % 2 == 0;
  if (lost != 0 && (utf8 || kana < lost || kana < kMinMarkedKana)) return false;
  return kana >= 3 &&
         (utf8 || ((mixedRun || smallKanaFit(repaired, size) == SmallKana::placed) && !utf8Pairs));
}

SmallKana smallKanaFit(const char16_t* text, std::size_t size) {
  SmallKana fit = SmallKana::none;
  std::size_t run = 0;
  bool placed = false;
  for (std::size_t i = 0; i <= size; ++i) {
    const char16_t c = i == size ? u' ' : text[i];
    if (!halfWidthKana(c)) {
      if (placed && run >= kMinMarkedKana) fit = SmallKana::placed;
      run = 0;
      placed = false;
      continue;
    }
    ++run;
    if (c < u'ｬ' || c > u'ｮ') continue;
    std::size_t b = i;
    if (b > 0 && (text[b - 1] == u'ﾞ' || text[b - 1] == u'ﾟ')) --b;
    const char16_t base = b == 0 ? u' ' : text[b - 1];
    if (std::u16string_view(u"ｷｼﾁﾆﾋﾐﾘ").find(base) == std::u16string_view::npos) {
      return SmallKana::misplaced;
    }
    placed = true;
  }
  return fit;
}

bool voicedMarksFit(const char16_t* text, std::size_t size) {
  bool marks = false;
  std::size_t kana = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    kana += halfWidthKana(c);
    marks = marks || c == u'ﾞ' || c == u'ﾟ';
  }
  const SmallKana small = smallKanaFit(text, size);
  return (marks || small == SmallKana::placed) && small != SmallKana::misplaced &&
         kana >= kMinMarkedKana && voicedMarksPlaced(text, size);
}

bool drawing(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i + 2 < size; ++i) {
    if (line[i] >= 0x80 && line[i] == line[i + 1] && line[i] == line[i + 2]) return true;
  }
  static constexpr std::u16string_view kLeftEnds = u"┌└├╒╓╔╘╙╚╞╟╠";
  static constexpr std::u16string_view kRightEnds = u"┐┘┤╕╖╗╛╜╝╡╢╣";
  static constexpr std::u16string_view kAcross = u"─═┬┴┼╤╥╦╧╨╩╪╫╬";
  // A drawing's pieces join with lines of one kind, single or double
  // (┌──┐, ╔═╦═╗); half-width katakana read so mix them (┌┬╛ of ﾚﾂｾ).
  static constexpr std::u16string_view kDouble = u"═╒╔╘╚╞╠╕╗╛╝╡╣╤╦╧╩╪╬";
  const auto doubled = [](char16_t c) { return kDouble.find(c) != std::u16string_view::npos; };
  for (std::size_t i = 0; i < size; ++i) {
    if (kLeftEnds.find(line[i]) == std::u16string_view::npos) continue;
    const bool kind = doubled(line[i]);
    std::size_t k = i + 1;
    while (k < size && kAcross.find(line[k]) != std::u16string_view::npos &&
           doubled(line[k]) == kind) {
      ++k;
    }
    if (k > i + 1 && k < size && kRightEnds.find(line[k]) != std::u16string_view::npos &&
        doubled(line[k]) == kind) {
      return true;
    }
  }
  return false;
}

bool listing(const char16_t* line, std::size_t size) {
  std::size_t run = 1;
  for (std::size_t i = 1; i < size; ++i) {
    const bool next =
        line[i - 1] >= 0x80 && (line[i] == line[i - 1] + 1 || line[i] == line[i - 1] + 2);
    run = next ? run + 1 : 1;
    if (run >= kListing) return true;
  }
  return false;
}

namespace {

// The case of a letter of ASCII or Latin-1: 1 small, -1 capital, 0 other.
int latinCase(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7)) return 1;
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return -1;
  return 0;
}

// Whether the letters of the word around [begin, end) of `line` go from a
// small letter to a capital one, as no Western word with accents does
// (DeleteòÂ, ïîDIR: cp932 read as cp850) but Ação, ÉTÉ and Straße do not.
bool smallThenCapital(const char16_t* line, std::size_t size, std::size_t begin, std::size_t end) {
  while (begin > 0 && asciiLetter(line[begin - 1])) --begin;
  while (end < size && asciiLetter(line[end])) ++end;
  for (std::size_t i = begin; i + 1 < end; ++i) {
    if (latinCase(line[i]) == 1 && latinCase(line[i + 1]) == -1) return true;
  }
  return false;
}

// Whether `line` holds a run of one to three accented Latin letters (and
// nothing else beyond ASCII) beside an ASCII letter, as a Western word does.
bool accentedBesideLetter(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i < size;) {
    if (line[i] < 0x80) {
      ++i;
      continue;
    }
    std::size_t end = i;
    bool letters = true;
    while (end < size && line[end] >= 0x80) {
      const char16_t c = line[end++];
      letters = letters && accentedLetter(c);
    }
    const bool beside =
        (i > 0 && asciiLetter(line[i - 1])) || (end < size && asciiLetter(line[end]));
    if (letters && end - i <= 3 && beside && !smallThenCapital(line, size, i, end)) return true;
    i = end;
  }
  return false;
}

// Whether every character beyond ASCII of `text` has a UTF-8 form of two
// bytes (U+0080..U+07FF).
bool twoByteUtf8Only(const char16_t* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] >= 0x800) return false;
  }
  return true;
}

}  // namespace

bool sameTurnFits(const char16_t* line, std::size_t size, const char16_t* repaired,
                  std::size_t repairedSize, bool utf8, bool lossy, bool japanese, bool jis,
                  bool eucjp) {
  std::int64_t was = 0;  // the line's characters beyond ASCII, U+FFFD too
  for (std::size_t i = 0; i < size; ++i) was += line[i] >= 0x80;
  // ASCII reads as itself but through the stripped escapes.
  if (was == 0 && !jis) return false;
  if (repairedSize == size && std::memcmp(line, repaired, size * sizeof(char16_t)) == 0) {
    return false;
  }
  std::int64_t beyond = 0;
  bool repertoire = true;
  bool seen = false;
  // Only a line whose mojibake holds accented letters beside a Latin letter
  // can hold such a word (DeleteÊ¸, with ¸, is no Western word).
  const bool pairsLikeLetters = accentedBesideLetter(line, size);
  for (std::size_t i = 0; i < repairedSize; ++i) {
    const char16_t c = repaired[i];
    if (c < 0x80) continue;
    ++beyond;
    if (c == 0xFFFD) {
      if (!lossy) return false;
      seen = true;
      continue;
    }
    const bool form = japaneseForm(c);
    // Beside the text of the line before, the symbols, Greek and Cyrillic
    // of JIS X 0208 (☆, ≠, ‥, б) belong to it too (a dictionary's entries).
    const std::uint16_t code = kUnicodeToJisCode[c];
    const bool eucjpPair = eucjp && code != kNoMapping && code >= 0x100;
    repertoire = repertoire && (form || jisSymbol(c) || eucjpPair);
    seen = seen || form;
    // A kanji alone inside a Latin word is an accented letter and the
    // letter after it read as a pair (Ação as cp932 read as cp1252); a
    // printf conversion (%lld日) is no word.
    const bool left = i > 0 && repaired[i - 1] < 0x80 && wordLetter(repaired, i - 1);
    const bool right =
        i + 1 < repairedSize && repaired[i + 1] < 0x80 && asciiLetter(repaired[i + 1]);
    const bool leftAscii = i == 0 || repaired[i - 1] < 0x80;
    const bool rightAscii = i + 1 == repairedSize || repaired[i + 1] < 0x80;
    // A kana is no such pair (OldestMultiのDB): Western text seldom holds
    // the bytes before a kana's (¤, ‚ or é, and one more beyond ASCII).
    const bool kana = c >= 0x3041 && c <= 0x30FF;
    if (!utf8 && pairsLikeLetters && leftAscii && rightAscii && (left || right) && !kana) {
      return false;
    }
  }
  if (beyond == 0 || (japanese && !seen)) return false;
  // UTF-8 gives fewer characters undone, but for letters and signs of two
  // bytes that EUC-JP read as one kanji each (£ as 贈, Ľ as 捗): a table of
  // Latin letters among lines that took that turn.
  return utf8 ? beyond < was || (!lossy && twoByteUtf8Only(repaired, repairedSize)) : repertoire;
}

}  // namespace mek::mojibake
