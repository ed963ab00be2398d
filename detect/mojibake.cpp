#include "detect/mojibake.h"

#include <algorithm>
#include <cstring>

#include "detect/mojibake_readings.h"
#include "detect/mojibake_rules.h"

namespace mek {

// The readings and the rules of the repair, which this file ranks.
using namespace mojibake;

namespace {

// A candidate that took the same turns as the line repaired last gets this
// much on its score when candidates are ranked: a short line often reads
// as Japanese through two chains (書式 as cp932 read as cp437, ÅæÄ«, is 宕朝
// as EUC-JP read as Latin-1), and the lines of one text took one turn.
constexpr std::int64_t kSameTurnsBonus = 1000;
// Far above any score difference of a line (scores are hundredths of a mean
// weight).
constexpr std::int64_t kEucjpKanaBonus = 1000000;
// A candidate taken only for the C1 controls it explains comes after all
// others.
constexpr std::int64_t kControlsBehind = 10 * kEucjpKanaBonus;
// So does one taken only by the rule of few bytes in place for a line that is
// mostly U+FFFD (kDenseLoss), or with no kana beneath two readings that lost
// characters.
constexpr std::int64_t kDenseBehind = 5 * kEucjpKanaBonus;
// A line that is mostly U+FFFD already (at least this many for each other
// character beyond ASCII) lost its text to a reader before: UTF-8 read as
// EUC-JP keeps little else, and no clean text looks so. Fewer bytes in
// place then tell the turn.
constexpr std::int64_t kDenseLoss = 2;
// Beneath a turn that read UTF-8 exactly, a line with as many U+FFFD as
// other characters beyond ASCII is UTF-8 read as EUC-JP already: the kanji
// left there (純, 若 of ソース) are what such a reading keeps, not text. The
// same share, in place of kDenseLoss, takes UTF-8 read as EUC-JP alone by
// the rule of few bytes in place (綛 and U+FFFD for 年, E5 B9 B4).
constexpr std::int64_t kLossAhead = 1;
constexpr std::size_t kMinDenseKnown = 1;
constexpr std::size_t kMinSameTurnKnown = 1;
constexpr std::size_t kMinStrayTrails = 2;

// What undoing one turn gave, as a candidate.
Candidate candidateOf(Chain outer, const Decoded& once) {
  Candidate c{outer, Chain::none, once.lost, once.known, once.odd};
  c.utf8 = fromUtf8(outer);
  c.utf8_lost = once.lost != 0 && once.dropped == 0 && c.utf8;
  c.jis = outer == Chain::jis_without_esc;
  c.framed = once.framed;
  return c;
}

// What undoing two turns gave: `outer`, read last, then `inner`.
Candidate candidateOf(Chain outer, Chain inner, const Decoded& once, const Decoded& twice) {
  Candidate c{outer, inner, twice.lost, once.known + twice.known, once.odd + twice.odd};
  c.utf8 = fromUtf8(inner);
  c.utf8_lost = once.dropped == 0 && twice.dropped == 0 &&
                ((once.lost != 0 && fromUtf8(outer)) || (twice.lost != 0 && c.utf8));
  c.jis = inner == Chain::jis_without_esc;
  c.framed = twice.framed;
  c.utf8_beneath = fromUtf8(outer) && once.lost == 0;
  return c;
}

// Turns each backslash of text[0, size) that comes right before a
// character beyond ASCII (or before such a backslash) into ¥; whether there
// was one. Text saved in EUC-JP writes ¥ as 5C, the yen sign of JIS X 0201:
// the lead byte of katakana (A5) read as Latin-1 came back as a backslash
// (¥« for カ as \«, ¥¥ for ゥ as \\).
bool yenAsBackslash(char16_t* text, std::size_t size) {
  bool any = false;
  for (std::size_t i = size; i-- > 1;) {
    if (text[i - 1] == u'\\' && text[i] >= 0x80) {
      text[i - 1] = u'¥';
      any = true;
    }
  }
  return any;
}

// Whether a reading of UTF-8 as `outer` that lost characters is undone
// only with the lost ones of two bytes each: beneath it is a reading of
// Latin-1, whose every letter is two bytes in UTF-8 (UTF-8 read as EUC-JP
// loses C3 80..A0: 以前, B0 CA C1 B0, as 以 and two lost letters, not one).
bool latinSplitOnly(Chain outer, Chain inner) {
  return outer == Chain::utf8_as_eucjp &&
         (inner == Chain::eucjp_as_latin1 || inner == Chain::cp932_as_latin1);
}

// Whether, beneath the turn `outer`, a backslash may have been ¥.
bool yenBeneath(Chain outer) {
  return outer == Chain::eucjp_as_latin1;
}

// The turn before `outer` undone over what undoing `outer` gave (`once`, n
// units in scratch.first) into scratch.second. UTF-8 read as EUC-JP loses
// one to three bytes of each character (E2 80 93 of –, C3 A0 of à), so
// beneath it a run of lost bytes of cp932 read a byte a character counts
// none: read as cp1252 or Latin-1, where most of what is lost were lead
// bytes, it takes any trail byte along; read as cp437 or cp850, an ASCII
// one only. Beneath it EUC-JP read as Latin-1 keeps its parity.
Decoded undoBefore(Chain outer, Chain inner, const Decoded& once, std::size_t n,
                   RepairScratch& scratch) {
  const bool lossy = once.lost != 0;
  LostRun runs = LostRun::counted;
  if (lossy && outer == Chain::utf8_as_eucjp) {
    if (inner == Chain::cp932_as_cp1252 || inner == Chain::cp932_as_latin1) runs = LostRun::any;
    if (inner == Chain::cp932_as_cp437 || inner == Chain::cp932_as_cp850) runs = LostRun::ascii;
    if (inner == Chain::eucjp_as_latin1) runs = LostRun::parity;
  }
  return undo(inner, scratch.first, n, scratch.second, scratch, lossy, false, runs);
}

// cp437 and cp850 read most bytes alike (they differ on ¢, ¥, ø, Ø, a few
// letters and box pieces): the chain with the one put for the other.
Chain dosSibling(Chain chain) {
  if (chain == Chain::cp932_as_cp437) return Chain::cp932_as_cp850;
  if (chain == Chain::cp932_as_cp850) return Chain::cp932_as_cp437;
  return chain;
}

// Whether the text a reads better as Japanese than b: it scores higher, or
// as high with commoner kanji.
bool readsBetter(const char16_t* a, std::size_t a_size, const char16_t* b, std::size_t b_size) {
  const Weighed wa = weigh(a, a_size);
  const Weighed wb = weigh(b, b_size);
  return wa.score != wb.score ? wa.score > wb.score : wa.common > wb.common;
}

// Whether the turns (outer, inner) are (o, i) with cp437 and cp850 swapped.
bool siblingTurns(Chain outer, Chain inner, Chain o, Chain i) {
  return (outer != o || inner != i) && dosSibling(outer) == o && dosSibling(inner) == i;
}

// Undoes the turns (outer, then inner when there is one) into `text`,
// which points into the scratch; with `yen`, the backslashes beneath the
// outer turn that may be ¥ are (nothing when there are none); with `latin`,
// the characters that a reading of UTF-8 lost are of two bytes (undo).
Decoded undoTurns(Chain outer, Chain inner, const char16_t* line, std::size_t size,
                  RepairScratch& scratch, const char16_t*& text, Candidate& c, bool yen = false,
                  bool latin = false) {
  const Decoded once = undo(outer, line, size, scratch.first, scratch, false, latin);
  text = scratch.first;
  if (once.size < 0 || inner == Chain::none) {
    c = candidateOf(outer, once);
    return once;
  }
  const auto n = static_cast<std::size_t>(once.size);
  if (n > kMaxRepairLine || (yen && !yenAsBackslash(scratch.first, n))) return {};
  const Decoded twice = undoBefore(outer, inner, once, n, scratch);
  text = scratch.second;
  c = candidateOf(outer, inner, once, twice);
  return twice;
}

// The same-turn rule for the turns (outer, inner): the line repaired into
// `out`, or nothing.
LineRepair sameTurns(Chain outer, Chain inner, const char16_t* line, std::size_t size,
                     char16_t* out, RepairScratch& scratch, const Weighed& before) {
  // Lost Western letters beneath a reading of UTF-8 may be split in two
  // bytes or three (see repairLine): the split whose text scores better, or
  // as well with less ASCII left.
  const bool splits = fromUtf8(outer) && byteReading(inner);
  const bool eucjp = originalOf(inner == Chain::none ? outer : inner) == Original::eucjp;
  for (const bool yen : {false, true}) {
    if (yen && (inner == Chain::none || !yenBeneath(outer))) break;
    LineRepair done;
    Weighed done_weighed;
    for (const bool latin : {false, true}) {
      if (latin && !splits) break;
      const char16_t* text = nullptr;
      Candidate c;
      const Decoded d = undoTurns(outer, inner, line, size, scratch, text, c, yen, latin);
      if (d.size < 0) continue;
      const bool lossy = c.lost != 0;
      if (latin && !lossy) break;
      if (!latin && lossy && latinSplitOnly(outer, inner)) continue;
      if (lossy && (!c.utf8_lost || (c.known < kMinSameTurnKnown && before.beyond_ascii != 0))) {
        continue;
      }
      const auto n = static_cast<std::size_t>(d.size);
      if (!sameTurnFits(line, size, text, n, c.utf8, lossy, false, c.jis, eucjp)) continue;
      const Weighed w = splits ? weigh(text, n) : Weighed{};
      if (done.repaired() && (w.score != done_weighed.score ? w.score < done_weighed.score
                                                            : w.ascii >= done_weighed.ascii)) {
        continue;
      }
      done = {outer, inner, n, c.lost};
      done_weighed = w;
      std::memcpy(out, text, n * sizeof(char16_t));
    }
    if (done.repaired()) return done;
  }
  return {};
}

// The repair `done` (in out) with each half-width katakana that stands
// alone beside a lost character joined to it, where cp932 read a byte a
// character (as cp1252, Latin-1, cp437 or cp850), then UTF-8 read as
// EUC-JP lost bytes: beneath that reading a run
// of lost bytes counts none, and such a kana is the trail byte of a lost
// lead far more often than a kana (ｹ of せ, 82 B9). Runs of two kana or
// more stay (ｺｰ). It is done on the repair taken, after the readings are
// ranked, whose rules weigh such kana as they were read.
LineRepair withLoneKanaLost(LineRepair done, char16_t* out) {
  if (done.lost == 0 || done.outer != Chain::utf8_as_eucjp || !byteReading(done.inner) ||
      originalOf(done.inner) != Original::cp932) {
    return done;
  }
  // (A line of half-width katakana alone, with words of two kana or more,
  // keeps them all: they are its text.)
  bool other = false;
  bool words = false;
  for (std::size_t k = 0; k < done.size; ++k) {
    other = other || (out[k] >= 0x80 && out[k] != 0xFFFD && !halfWidthKana(out[k]));
    words = words || (k > 0 && halfWidthKana(out[k - 1]) && halfWidthKana(out[k]));
  }
  if (!other && words) return done;
  std::size_t kept = 0;
  for (std::size_t k = 0; k < done.size; ++k) {
    const char16_t c = out[k];
    const bool lostBeside =
        (k > 0 && out[k - 1] == 0xFFFD) || (k + 1 < done.size && out[k + 1] == 0xFFFD);
    const bool run =
        (k > 0 && halfWidthKana(out[k - 1])) || (k + 1 < done.size && halfWidthKana(out[k + 1]));
    if (halfWidthKana(c) && lostBeside && !run) continue;
    out[kept++] = c;
  }
  done.size = kept;
  return done;
}

// ASCII characters that a cp932 pair may end with (@..~), each alone
// between U+FFFD.
std::size_t strayTrails(const char16_t* text, std::size_t size) {
  std::size_t strays = 0;
  for (std::size_t i = 1; i + 1 < size; ++i) {
    if (text[i] >= 0x40 && text[i] <= 0x7E && text[i - 1] == 0xFFFD && text[i + 1] == 0xFFFD) {
      ++strays;
    }
  }
  return strays;
}

// Whether the ASCII characters of a and b are the same, in order.
bool sameAscii(const char16_t* a, std::size_t a_size, const char16_t* b, std::size_t b_size) {
  std::size_t i = 0;
  std::size_t j = 0;
  for (;;) {
    while (i < a_size && a[i] >= 0x80) ++i;
    while (j < b_size && b[j] >= 0x80) ++j;
    if (i == a_size || j == b_size) return i == a_size && j == b_size;
    if (a[i++] != b[j++]) return false;
  }
}

// The Latin-1 letters in text that lead the UTF-8 of a Japanese character
// (ã..é, ï: E3..E9, EF).
std::int64_t utf8Leads(const char16_t* text, std::size_t size) {
  std::int64_t leads = 0;
  for (std::size_t i = 0; i < size; ++i) {
    leads += (text[i] >= 0xE3 && text[i] <= 0xE9) || text[i] == 0xEF;
  }
  return leads;
}

// The characters beyond ASCII of text, U+FFFD and the letters whose lead
// byte was lost (eitherUnit) aside.
std::int64_t keptBeyondAscii(const char16_t* text, std::size_t size) {
  std::int64_t kept = 0;
  for (std::size_t i = 0; i < size; ++i) {
    kept += text[i] >= 0x80 && text[i] != 0xFFFD && !eitherUnit(text[i]);
  }
  return kept;
}

// Whether text holds 鐔 or 鐓: EF BD and EF BE, the first two bytes of
// half-width katakana in UTF-8, read as EUC-JP.
bool kanaLeadsRead(const char16_t* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == u'鐔' || text[i] == u'鐓') return true;
  }
  return false;
}

bool asciiOnly(const char16_t* line, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (line[i] >= 0x80) return false;
  }
  return true;
}

}  // namespace

LineRepair repairWithTurns(const char16_t* line, std::size_t size, char16_t* out,
                           RepairScratch& scratch, Chain outer, Chain inner) {
  if (size == 0 || size > kMaxRepairLine || outer == Chain::none) return {};
  if (asciiOnly(line, size) != (outer == Chain::jis_without_esc)) return {};
  return withLoneKanaLost(sameTurns(outer, inner, line, size, out, scratch, weigh(line, size)),
                          out);
}

LineRepair repairLine(const char16_t* line, std::size_t size, char16_t* out, RepairScratch& scratch,
                      const LineRepair& previous) {
  LineRepair best;
  if (size == 0 || size > kMaxRepairLine) return best;
  const bool ascii = asciiOnly(line, size);
  if (listing(line, size)) return best;
  const Weighed before = weigh(line, size);
  // A line that the turns of the line repaired last undo exactly is taken
  // back by them, before any other turns are weighed: the lines of one text
  // took one turn. (So is Western mojibake inside such a text: CafÃ© among
  // lines of UTF-8 read as cp1252 took that turn too.)
  if (previous.repaired() && ascii == (previous.outer == Chain::jis_without_esc)) {
    LineRepair done = sameTurns(previous.outer, previous.inner, line, size, out, scratch, before);
    // Where the lines so far read alike through cp437 and cp850, this one
    // is weighed through both: where it reads alike too it keeps the
    // question open, where it differs the reading that scores better
    // decides it (.SH 説明 is 慢 through cp437).
    const Chain other_outer = dosSibling(previous.outer);
    const Chain other_inner = dosSibling(previous.inner);
    if (previous.dos_alike &&
        siblingTurns(other_outer, other_inner, previous.outer, previous.inner)) {
      const LineRepair other =
          sameTurns(other_outer, other_inner, line, size, scratch.best, scratch, before);
      if (other.repaired()) {
        const bool alike = done.repaired() && other.size == done.size &&
                           std::memcmp(out, scratch.best, done.size * sizeof(char16_t)) == 0;
        if (alike) {
          done.dos_alike = true;
        } else if (!done.repaired() || readsBetter(scratch.best, other.size, out, done.size)) {
          done = other;
          std::memcpy(out, scratch.best, other.size * sizeof(char16_t));
        }
      }
    }
    if (done.repaired()) return withLoneKanaLost(done, out);
  }
  // Text in cp1252 read as Latin-1 (its quotes as C1 controls): not by
  // itself, but among lines that took a turn through Latin-1, where the
  // same bytes are cp932 lead bytes (前, 91 4F, as \x91O), as above.
  if (westernCp1252(line, size)) {
    // UTF-8 read as Latin-1 holds such controls too, but its bytes form
    // UTF-8 again.
    const Decoded d = undo(Chain::utf8_as_latin1, line, size, scratch.first, scratch);
    if (d.size < 0 || d.lost != 0) return best;
  }
  // Western mojibake of Western text (Café read as cp1252: CafÃ©), or of
  // text in any other script but Japanese (Cyrillic: Ð°Ð¼ for ам; Chinese:
  // é\x94®å\x80¼ for 键值), is not Japanese text that took a wrong turn: it
  // stays as it stands. Only the pairs that begin by undoing that Western
  // turn may still find Japanese text beneath it (EUC-JP read as Latin-1,
  // then as cp1252).
  Chain western_turn = Chain::none;
  // Whether the line is UTF-8 read as cp1252 or Latin-1, undone whole: its
  // C1 controls are then bytes of that UTF-8 (8F in 參, E5 8F 83), which
  // only the turns that begin by undoing that reading explain.
  bool western_utf8 = false;
  if (!ascii) {
    for (const Chain western : {Chain::utf8_as_cp1252, Chain::utf8_as_latin1}) {
      const Decoded d = undo(western, line, size, scratch.first, scratch);
      if (d.size < 0 || d.lost != 0) continue;
      western_utf8 = true;
      const auto n = static_cast<std::size_t>(d.size);
      const Weighed w = weigh(scratch.first, n);
      // (U+FFFD too: UTF-8 of U+FFFD read as cp1252 is ï¿½.)
      if (w.beyond_ascii + w.replaced != 0 &&
          (latinText(scratch.first, n) || oneOtherScript(scratch.first, n) ||
           chineseText(scratch.first, n))) {
        western_turn = western;
      }
    }
  }
  // UTF-8 of another script read as cp437 stays as it stands too: no turn
  // is weighed. Read as cp850, no turn through cp850 or cp437 is: EUC-JP's
  // hiragana read as Latin-1 (¤) and back through cp850 (CF) is Greek in
  // UTF-8.
  const bool dos_other = !ascii && otherScriptBeneath(line, size, Reading::cp437, scratch);
  const bool dos850_other = !ascii && otherScriptBeneath(line, size, Reading::cp850, scratch);
  std::int64_t best_score = 0;
  std::int64_t best_common = 0;
  std::int64_t best_ascii = 0;
  bool pending = false;
  bool best_dense = false;
  bool best_dos_alike = false;
  // What the reading undone last lost, for the turns before it.
  std::size_t lostBeneath = 0;
  // Beneath UTF-8 read as EUC-JP: the Latin-1 letters that lead a
  // character of Japanese text in UTF-8 read as cp1252 or Latin-1 (ã..é, ï
  // for E3..E9, EF). Read as EUC-JP, C3 A3..C3 AF come through whole.
  std::int64_t leadsBeneath = 0;
  // And the characters beyond ASCII there, U+FFFD aside.
  std::int64_t lettersBeneath = 0;
  // `beneath`: the text that the reading of UTF-8 as EUC-JP undid, weighed,
  // where the candidate undoes that turn over Japanese text (null where
  // not); `known` the bytes in place of that reading.
  const auto consider = [&](const Candidate& c, const char16_t* text, const Decoded& d,
                            const Weighed* beneath, std::size_t known) {
    const Chain outer = c.outer;
    const Chain inner = c.inner;
    if (western_turn != Chain::none && (inner == Chain::none || outer != western_turn)) return;
    if (dos_other) return;
    if (dos850_other && (outer == Chain::cp932_as_cp437 || outer == Chain::cp932_as_cp850)) return;
    const auto n = static_cast<std::size_t>(d.size);
    const Weighed after = weigh(text, n);
    if (!voicedMarksPlaced(text, n)) return;
    // Undoing UTF-8 read as EUC-JP, a reading that gives back nothing but
    // U+FFFD beyond ASCII explains nothing of a kana that the UTF-8 beneath
    // never gives: that is a Japanese line a reader damaged before (を
    // among U+FFFD). Beneath the reading is Japanese text, or Japanese
    // mojibake, unless a Western turn came first.
    if (outer == Chain::utf8_as_eucjp && after.beyond_ascii == 0 &&
        before.kana_not_eucjp + (japaneseBeneath(c) ? before.kana_not_japanese : 0) != 0) {
      return;
    }
    // Lost characters with ASCII letters or signs alone between them
    // (�[�U�[�R�}�h) are no UTF-8 text that lost characters: they are
    // cp932 pairs whose lead bytes were lost (ユーザーコマンド, 83 86 81
    // 5B ..., read as cp1252 or Latin-1, then UTF-8 read as EUC-JP).
    if (c.utf8 && d.lost != 0 && strayTrails(text, n) >= kMinStrayTrails) return;
    // Japanese text in UTF-8 read as cp1252 or Latin-1, then as EUC-JP,
    // keeps the lead of most characters, lost or not (leadsBeneath): where
    // fewer than half are left, the text beneath was no UTF-8 (cp932 read
    // as cp1252 gives ‚ and ƒ, which are lost whole).
    if (outer == Chain::utf8_as_eucjp &&
        (inner == Chain::utf8_as_cp1252 || inner == Chain::utf8_as_latin1) && d.lost != 0 &&
        leadsBeneath * 2 < after.beyond_ascii + after.replaced) {
      return;
    }
    // EUC-JP read as Latin-1 gives few of those leads (E3..E9 lead rare
    // kanji, and trail a few hiragana): where half the letters left or more
    // are such leads, the text beneath was UTF-8 (パ, E3 83 91, as ã and
    // two lost bytes).
    if (outer == Chain::utf8_as_eucjp && inner == Chain::eucjp_as_latin1 && d.lost != 0 &&
        leadsBeneath * 2 >= lettersBeneath) {
      return;
    }
    const bool boxes = outer == Chain::cp932_as_cp437 || outer == Chain::cp932_as_cp850 ||
                       inner == Chain::cp932_as_cp437 || inner == Chain::cp932_as_cp850;
    const bool beneathDense = beneath != nullptr && beneath->replaced != 0 &&
                              beneath->replaced >= beneath->beyond_ascii * kDenseLoss;
    // A line with as many U+FFFD as other characters beyond ASCII beneath a
    // turn that read UTF-8 exactly, Western or cp932 (denseAhead), goes
    // ahead of that turn alone, but the bytes of that turn tell
    // nothing of the reading as EUC-JP beneath it, which must keep a byte in
    // place (ï¿½ alone is U+FFFD read as cp1252). So does a line that UTF-8
    // read as EUC-JP twice leaves mostly U+FFFD, where U+FFFD beneath the
    // last reading were read whole, not lost by it: U+FFFD in UTF-8 read as
    // EUC-JP is 鐃緒申, which tells the turns by itself. And beneath a
    // Western turn, a reading that gives back no character but U+FFFD tells
    // nothing (ï¿½ stays as it is). A line that tells nothing only waits for
    // a later line that takes the same turns.
    const bool replacedBeneath = inner == Chain::utf8_as_eucjp && beneath != nullptr &&
                                 beneath->replaced >= static_cast<std::int64_t>(lostBeneath) + 1;
    const bool beneathLossy = beneath != nullptr && beneath->replaced != 0 &&
                              beneath->replaced >= beneath->beyond_ascii * kLossAhead;
    const bool denseAhead =
        outer != Chain::utf8_as_eucjp ? beneathLossy : beneathDense && replacedBeneath;
    const bool told = (!denseAhead || known >= kMinDenseKnown || replacedBeneath) &&
                      (western_turn == Chain::none || after.beyond_ascii != 0);
    const bool lostCapitals =
        outer == Chain::utf8_as_eucjp && byteReading(inner) && leadsBeneath == 0;
    // Half-width katakana of EUC-JP is two bytes a kana, 8E and the kana's
    // byte, which no other text holds (8E is a C1 control in Latin-1): as
    // telling as the bytes of UTF-8.
    const Original original = originalOf(inner == Chain::none ? outer : inner);
    const bool telling = c.utf8 || (original == Original::eucjp && d.lost == 0);
    // Read as Latin-1, then as EUC-JP, its kana lose their capitals
    // (ﾀ..ﾟ, C3 80..9F) and keep their symbols (ｱ, C2 B1) and SS2: about
    // one kana in two is lost.
    const std::size_t lostKana =
        inner == Chain::eucjp_as_latin1 && lostCapitals ? (d.lost + 1) / 2 : d.lost;
    const bool halfWidth = told && halfWidthKanaText(text, n, lostKana, telling, lostCapitals) &&
                           (!boxes || !drawing(line, size));
    // (Japanese text splits brackets over lines; a line with kana may hold
    // one alone.)
    const bool clear = told && clearlyBetter(before, after, c) &&
                       (c.utf8 || after.kana != 0 || bracketsPair(text, n));
    const bool westernFirst = outer == Chain::utf8_as_cp1252 || outer == Chain::utf8_as_latin1;
    const bool controls = told && !clear && !halfWidth &&
                          (!western_utf8 || (westernFirst && western_turn == Chain::none)) &&
                          explainsControls(before, after, c);
    // (UTF-8 read as EUC-JP alone: as many U+FFFD as other characters
    // beyond ASCII will do, kLossAhead.)
    const bool dense = !clear && !halfWidth && !controls &&
                       (inner == Chain::none ? beneathLossy : beneathDense) &&
                       known >= kMinDenseKnown && clearlyBetter(before, after, c, true);
    if (!clear && !halfWidth && !controls && !dense) {
      // Not clear by itself, but a later line repaired with these turns
      // would take it back by the same-turn rule: a later line decides.
      const bool lossy = c.lost != 0;
      if (!pending &&
          (!lossy || (c.utf8_lost && (c.known >= kMinSameTurnKnown || before.beyond_ascii == 0)))) {
        pending = sameTurnFits(line, size, text, n, c.utf8, lossy, true, c.jis);
      }
      return;
    }
    // The best score wins; at a tie one turn before two, then of two splits
    // of the same turns the one that left less ASCII (it took more trail
    // bytes along with lost leads: 実行, 8E C0 8D 73 as 貼 and U+FFFD, then
    // s, lost whole), then the one that lost less, then the one with the
    // commoner kanji, then the first in the table. Half-width katakana from
    // EUC-JP comes first: each kana was two bytes, 8E and one of A1..DF,
    // which no other text gives (8E is a C1 control in Latin-1), while the
    // same bytes read as cp932 pairs give kanji that score well.
    const bool same =
        (outer == previous.outer && inner == previous.inner) ||
        (previous.dos_alike && siblingTurns(outer, inner, previous.outer, previous.inner));
    // Half-width katakana from cp932 with its voiced marks in place comes
    // next: read as Latin-1, its bytes are also those of EUC-JP pairs, which
    // give kanji that score well (ｺｽﾞｴ, º½Þ´, as 砂浚).
    const bool eucjpKana = halfWidth && !c.jis && original == Original::eucjp;
    const bool cp932Kana =
        halfWidth && !c.jis && original == Original::cp932 && voicedMarksFit(text, n);
    std::int64_t kanaBonus = 0;
    if (eucjpKana) {
      kanaBonus = kEucjpKanaBonus;
    } else if (cp932Kana) {
      kanaBonus = kEucjpKanaBonus / 2;
    }
    std::int64_t score = after.score + (same ? kSameTurnsBonus : 0) + kanaBonus;
    if (controls) score -= kControlsBehind;
    if (dense && outer == Chain::utf8_as_eucjp) score -= kDenseBehind;
    // EUC-JP read as Latin-1, then UTF-8 read as EUC-JP, keeps most kana
    // whole (A4 A2 of あ, as ¤¢, is UTF-8 read as EUC-JP again); kanji
    // alone among lost characters there are as often UTF-8 that a Western
    // turn read, taken as EUC-JP (タイプ, E3 82 BF ..., as 帥): such a
    // candidate comes after the others.
    // So does UTF-8 read as EUC-JP alone where only half-width katakana
    // are left beside lost characters: they are UTF-8 read as cp932 before
    // it (英国, E8 8B B1 ..., as 闍ｱ蝗ｽ, gives ｱ and ｽ).
    const bool kanjiAlone = inner == Chain::eucjp_as_latin1 && outer == Chain::utf8_as_eucjp &&
                            after.kana == 0 && !halfWidth;
    // So too where the line holds 鐔 or 鐓 (EF BD, EF BE): the first bytes
    // of half-width katakana in UTF-8, which UTF-8 read as cp932 writes for
    // many continuation bytes (痛風, E7 97 9B E9 A2 A8, as 逞幃｢ｨ, then as
    // U+FFFD and 鐔).
    const bool kanaOfCp932 = inner == Chain::none && outer == Chain::utf8_as_eucjp &&
                             ((after.half_width != 0 && after.half_width == after.beyond_ascii) ||
                              kanaLeadsRead(line, size));
    if (d.lost != 0 && (kanjiAlone || kanaOfCp932)) score -= kDenseBehind;
    // After a Western turn read exactly (or UTF-8 read as EUC-JP, over
    // U+FFFD read whole), a line mostly U+FFFD beneath it is no text: the
    // reading of it as UTF-8 read as EUC-JP goes ahead of that turn alone.
    if (denseAhead) score = std::max(score, beneath->score + 1);
    // (The same bytes read through cp437 and cp850 differ only where ¢ and
    // ¥ stand, 不明 and 不慢, and EUC-JP and cp932 pairs read as Latin-1 and
    // as cp850 give kanji of the same levels, 宣誓書 and 冨疋宕.)
    const bool single = inner == Chain::none;
    const bool alike = single == (best.inner == Chain::none);
    bool replaces;
    if (score != best_score) {
      replaces = score > best_score;
    } else if (!alike) {
      replaces = single;
    } else if (outer == best.outer && inner == best.inner && after.ascii != best_ascii) {
      replaces = after.ascii < best_ascii;
    } else if (d.lost != best.lost) {
      replaces = d.lost < best.lost;
    } else {
      replaces = after.common > best_common;
    }
    // The reading through the other of cp437 and cp850 that gives the same
    // text leaves the question of which of them open.
    const bool dosAlike = best.repaired() && siblingTurns(outer, inner, best.outer, best.inner) &&
                          n == best.size && d.lost == best.lost &&
                          std::memcmp(text, scratch.best, n * sizeof(char16_t)) == 0;
    if (best.repaired() && !replaces) {
      best_dos_alike = best_dos_alike || dosAlike;
      return;
    }
    best_dos_alike = dosAlike;
    best = {outer, inner, n, d.lost};
    best_score = score;
    best_common = after.common;
    best_ascii = after.ascii;
    best_dense = dense;
    std::memcpy(scratch.best, text, n * sizeof(char16_t));
  };
  for (int o = 1; o < kChains; ++o) {
    const auto outer = static_cast<Chain>(o);
    // ASCII reads as itself in every chain but the stripped escapes.
    if (ascii != (outer == Chain::jis_without_esc)) continue;
    Decoded once = undo(outer, line, size, scratch.first, scratch);
    if (once.size < 0) continue;
    auto n = static_cast<std::size_t>(once.size);
    consider(candidateOf(outer, once), scratch.first, once,
             outer == Chain::utf8_as_eucjp ? &before : nullptr, once.known);
    Weighed once_weighed;  // the text beneath a Western turn, weighed once
    bool weighed = false;
    // Where the last turn lost every character beyond ASCII, a Western
    // reading before it (a byte a character) that only pairs the lost ones,
    // its ASCII as it was, tells nothing: the one turn alone stands for it,
    // with its own rules. (One that takes ASCII trail bytes along with lost
    // leads does tell.)
    bool nothingBeneath = false;
    // What undoing the last turn gave, for the turns before it.
    const auto tookOuter = [&] {
      lostBeneath = once.lost;
      leadsBeneath = outer == Chain::utf8_as_eucjp ? utf8Leads(scratch.first, n) : 0;
      lettersBeneath = keptBeyondAscii(scratch.first, n);
      nothingBeneath = once.lost != 0 && lettersBeneath == 0;
      weighed = false;
    };
    tookOuter();
    // What the last turn lost stays lost (U+FFFD) through the one before.
    if (n > kMaxRepairLine) continue;
    // `lettersOnly`: the turns that read Western letters; `latinOnly`: only
    // those whose letters are two bytes each (latinSplitOnly).
    const auto turnBefore = [&](bool lettersOnly, bool latinOnly) {
      for (int i = 1; i < kChains; ++i) {
        const auto inner = static_cast<Chain>(i);
        if (lettersOnly && !byteReading(inner)) continue;
        if (latinOnly && !latinSplitOnly(outer, inner)) continue;
        if (!lettersOnly && once.lost != 0 && latinSplitOnly(outer, inner)) continue;
        const Decoded twice = undoBefore(outer, inner, once, n, scratch);
        if (twice.size < 0) continue;
        if (nothingBeneath && byteReading(inner) &&
            sameAscii(scratch.first, n, scratch.second, static_cast<std::size_t>(twice.size))) {
          continue;
        }
        const Weighed* beneath = nullptr;
        std::size_t known = twice.known;
        if (outer == Chain::utf8_as_eucjp && inner == Chain::utf8_as_cp932) {
          beneath = &before;
          known = once.known;
        } else if (inner == Chain::utf8_as_eucjp) {
          if (!weighed) once_weighed = weigh(scratch.first, n);
          weighed = true;
          beneath = &once_weighed;
        }
        consider(candidateOf(outer, inner, once, twice), scratch.second, twice, beneath, known);
      }
    };
    turnBefore(false, false);
    // A backslash beneath may have been ¥ (yenAsBackslash): the turns
    // before are weighed again with it so.
    if (yenBeneath(outer) && yenAsBackslash(scratch.first, n)) {
      weighed = false;
      turnBefore(false, false);
    }
    // Where a reading of UTF-8 lost characters and no reading so far is
    // taken, or one of these turns, the turns before it that read Western
    // letters are weighed again with the lost characters of two bytes, as
    // most letters are, not three (変数, CA D1 BF F4, as ÊÑ¿ô, lost up to
    // ¿ô: 数, not BF taken along and 瑤). Beneath UTF-8 read as EUC-JP the
    // turns of latinSplitOnly are weighed so in any case, and only so.
    const bool lettersTaken = best.outer == outer && byteReading(best.inner);
    const bool allLetters = !best.repaired() || lettersTaken;
    if (fromUtf8(outer) && once.lost != 0 && (allLetters || outer == Chain::utf8_as_eucjp)) {
      once = undo(outer, line, size, scratch.first, scratch, false, true);
      if (once.size < 0 || static_cast<std::size_t>(once.size) > kMaxRepairLine) continue;
      n = static_cast<std::size_t>(once.size);
      tookOuter();
      turnBefore(true, !allLetters);
    }
  }
  if (best.repaired()) {
    std::memcpy(out, scratch.best, best.size * sizeof(char16_t));
    best.weak = best_dense;
    // A line that reads alike through cp437 and cp850 keeps what the lines
    // before it told of the two.
    best.dos_alike = best_dos_alike;
    if (best_dos_alike && siblingTurns(best.outer, best.inner, previous.outer, previous.inner)) {
      best.outer = previous.outer;
      best.inner = previous.inner;
      best.dos_alike = previous.dos_alike;
    }
    best = withLoneKanaLost(best, out);
  }
  best.pending = pending;
  return best;
}

}  // namespace mek
