#include "detect/scored_detection.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "convert/after_start.h"
#include "detect/marks.h"
#include "japanese/flat_tables.h"
#include "mek/registry.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {
namespace {

// The classes a decoded character falls in, for scoring.
enum CharacterClass {
  kAsciiText,    // printable ASCII, tab, LF, CR
  kKana,         // hiragana and full-width katakana, U+3040..U+30FF
  kPunctuation,  // CJK symbols and punctuation, U+3000..U+303F
  kKanjiLevel1,  // JIS X 0208 rows 16-47
  kKanjiLevel2,  // JIS X 0208 rows 48-84
  kFullWidth,    // full-width ASCII forms, U+FF01..U+FF5E
  kHalfWidth,    // half-width katakana letters and marks, U+FF66..U+FF9F
  kHalfPunct,    // half-width punctuation, U+FF61..U+FF65
  kJisSymbol,    // the other JIS X 0208 characters: symbols, Greek, Cyrillic, box drawing
  kOtherKanji,   // ideographs outside JIS X 0208
  kLatin,        // Latin-1 and Latin Extended letters, general punctuation
  kControl,      // C0 and C1 controls other than tab, LF and CR; DEL
  kOther,        // everything else: Hangul, private use, other scripts, beyond the BMP
  kClasses
};

// The weight of each class, -100..100. A score is the mean weight of the
// decoded characters, so only the weights against each other matter. They
// were chosen on a corpus of real Japanese text (manual pages, gettext
// catalogues, dictionary entries, half-width katakana ledgers, one-word
// strings, source code with Japanese comments; 6,409 files, each text put
// into every code that carries it) by a search for the best worst group;
// tools/detect_eval.py --tune does it. Each weight is there to rank the true
// reading above the wrong readings that also decode:
//  - ASCII 0: every code but UTF-16 and UTF-32 reads ASCII alike, so it
//    decides nothing between them and must not drown the rest. Any higher
//    and one-word UTF-16 kanji (遮眼帯 as 90 6E 77 3C 5E 2F) read as
//    Shift_JIS ASCII with a kanji; one-word kanji in EUC-JP lost 27 % of
//    cases to their Shift_JIS half-width katakana reading while ASCII
//    weighed 20 or more.
//  - Kana and level-1 kanji 100, level-2 kanji 75: the body of Japanese
//    text. Wrong readings give rare kanji more often than common ones.
//  - CJK punctuation 90, full-width forms 60, other JIS X 0208 symbols 20:
//    common in text, but what chance pairs of Shift_JIS bytes read as EUC-JP
//    (rows 1-8) also give.
//  - Half-width katakana 60, below level-1 kanji: one-word EUC-JP kanji
//    (元老院 as B8 B5 CF B7 B1 A1) read as Shift_JIS give twice as many
//    half-width katakana; Shift_JIS ledgers of half-width katakana still win
//    against their EUC-JP kanji reading because they also hold ASCII, which
//    the EUC-JP reading does not halve. Half-width punctuation 0: EUC-JP
//    kana (lead bytes A4, A5) read as Shift_JIS give it.
//  - Ideographs outside JIS X 0208 -50, Latin -20, everything else -50,
//    controls -100: what UTF-16 and UTF-32 read from bytes of another code
//    (and UTF-8 read from ISO-2022-JP, whose escapes are controls).
// A reading that needs a last sequence cut off by the end of the text is
// no reading: the text does not end there in that code.
// Kanji that all lie in one JIS row weigh otherwise; see kOneRowKanjiWeight.
constexpr std::int64_t kWeights[kClasses] = {
    /* kAsciiText   */ 0,
    /* kKana        */ 100,
    /* kPunctuation */ 90,
    /* kKanjiLevel1 */ 100,
    /* kKanjiLevel2 */ 75,
    /* kFullWidth   */ 60,
    /* kHalfWidth   */ 60,
    /* kHalfPunct   */ 0,
    /* kJisSymbol   */ 20,
    /* kOtherKanji  */ -50,
    /* kLatin       */ -20,
    /* kControl     */ -100,
    /* kOther       */ -50,
};

// A reading whose kanji (levels 1 and 2) all lie in one JIS X 0208 row of
// 94, with at least kOneRowMinimum different ones among them, weighs each of
// its kanji kOneRowKanjiWeight instead of its class weight: they tell nothing
// of Japanese text. The rows order the kanji by reading (level 1) or radical
// (level 2), so the kanji of real text spread over many rows; one row is what
// a code whose every two-byte character has the same first byte gives. That
// is EUC-JP half-width katakana (8E A1..DF) read as Shift_JIS: one kanji of
// row 28 for each half-width letter. Per-character weights cannot rank those
// ledgers right, since half-width katakana would have to outweigh level-1
// kanji, and one-word EUC-JP kanji (元老院 as B8 B5 CF B7 B1 A1) read as
// Shift_JIS give half-width katakana. On the corpus the true readings whose
// kanji share one row have at most 2 different kanji (301 files, mostly
// one-word strings); the Shift_JIS readings of the 60 EUC-JP ledgers have 13
// to 52. With the rule the ledgers go from 85.7 % to 100 % right and no other
// group changes; any weight below half-width katakana's 60 and any minimum
// from 3 to 13 give the same figures. 5 keeps a margin over the real texts'
// 2 and still catches one ledger line of a few half-width words. The count
// is of different kanji, so a text that repeats one kanji (a price list with
// 円) is not taken for it.
constexpr std::int64_t kOneRowKanjiWeight = 0;
constexpr int kOneRowMinimum = 5;

// Added to the UTF-8 reading when it has a character beyond ASCII: bytes
// of another code seldom form valid multi-byte UTF-8 by chance.
constexpr std::int64_t kUtf8Bonus = 5;

// The scored part of a piece is decoded this much at a time, so the
// decoded characters need little memory.
constexpr std::size_t kChunk = 4096;

CharacterClass classify(std::uint16_t unit) {
  if (unit < 0x80) {
    if (unit >= 0x20 && unit < 0x7F) return kAsciiText;
    return unit == 0x09 || unit == 0x0A || unit == 0x0D ? kAsciiText : kControl;
  }
  if (unit < 0xA0) return kControl;
  if (unit >= 0x3040 && unit <= 0x30FF) return kKana;
  if (unit >= 0x3000 && unit <= 0x303F) return kPunctuation;
  if (unit >= 0xFF01 && unit <= 0xFF5E) return kFullWidth;
  if (unit >= 0xFF66 && unit <= 0xFF9F) return kHalfWidth;
  if (unit >= 0xFF61 && unit <= 0xFF65) return kHalfPunct;
  if (unit >= 0xD800 && unit <= 0xDFFF) return kOther;
  const std::uint16_t jis = kUnicodeToJisCode[unit];
  if (jis >= 0x2121 && jis <= 0x7E7E) {
    const int row = (jis >> 8) - 0x20;
    if (row >= 16 && row <= 47) return kKanjiLevel1;
    if (row >= 48 && row <= 84) return kKanjiLevel2;
    return kJisSymbol;
  }
  if ((unit >= 0x4E00 && unit <= 0x9FFF) || (unit >= 0x3400 && unit <= 0x4DBF) ||
      (unit >= 0xF900 && unit <= 0xFAFF)) {
    return kOtherKanji;
  }
  if (unit <= 0x024F || (unit >= 0x2000 && unit <= 0x206F)) return kLatin;
  return kOther;
}

// Noise in a reading (see countsAsText): `unit` of class `kind`.
bool isNoise(std::uint16_t unit, CharacterClass kind, bool japaneseCode) {
  if (kind == kControl || (unit >= 0xE000 && unit <= 0xF8FF)) return true;
  return !japaneseCode && (kind == kOtherKanji || kind == kOther);
}

// At most one character in kNoiseShare of a reading may be noise. On the
// corpus of tools/detect_corpus.py the true readings have at most 1.5 %
// noise (a man page on Armenian code pages), and the UTF-16 readings of its
// broken group (UTF-8, Shift_JIS and EUC-JP texts with one stray FF byte,
// which nothing else reads) have 50 % to 70 %; their scores overlap (the
// best broken reading scores 4.35, the worst true one 1.42), so a score floor
// alone cannot part them. A quarter sits well inside the gap and keeps one
// word of four characters with one rare kanji.
constexpr std::int64_t kNoiseShare = 4;

constexpr CodeNumber kCandidateCodes[] = {
    kCodeUtf8,    kCodeJis,        kCodeSjis,    kCodeCp932,   kCodeSjis2004,
    kCodeEucJp,   kCodeEucjis2004, kCodeEucjpms, kCodeCp51932, kCodeUtf16Le,
    kCodeUtf16Be, kCodeUtf32Le,    kCodeUtf32Be};

}  // namespace

bool countsAsText(std::int64_t characters, std::int64_t noise, bool utf8_multibyte) {
  return utf8_multibyte || noise * kNoiseShare <= characters;
}

std::int64_t characterWeight(std::uint16_t unit) {
  return kWeights[classify(unit)];
}

bool latinCharacter(std::uint16_t unit) {
  return unit >= 0x80 && classify(unit) == kLatin;
}

void ReadingTally::add(std::uint16_t unit) {
  // A surrogate pair is one character, counted at its high half.
  if (unit >= 0xDC00 && unit <= 0xDFFF) return;
  ++characters;
  const CharacterClass kind = classify(unit);
  weight += kWeights[kind];
  if (isNoise(unit, kind, japanese_code)) ++noise;
}

ScoredDetector::ScoredDetector() {
  static_assert(std::size(kCandidateCodes) == kCandidates);
  for (int c = 0; c < kCandidates; ++c) {
    const CodeNumber code = kCandidateCodes[c];
    stages_[c] = StreamStage(findDecoder(code), ErrorKind::malformed, code, &findDecoderAfterStart);
  }
}

void ScoredDetector::score(Candidate candidate, const std::uint8_t* begin,
                           const std::uint8_t* end) {
  std::int64_t weight = 0;
  std::int64_t characters = 0;
  std::int64_t noise = 0;
  std::int64_t kanji_weight = 0;
  std::int64_t beyond = 0;
  // JIS X 0213 gives a character for nearly every pair of bytes, so its
  // readings, as UTF-16's, count characters outside JIS X 0208 as noise:
  // real text holds few of them, bytes of another code many.
  const bool japanese = candidate >= kJis && candidate <= kCp51932 && candidate != kSjis2004 &&
                        candidate != kEucjis2004;
  KanjiRow& row = kanji_rows_[candidate];
  for (const std::uint8_t* p = begin; p + 1 < end; p += 2) {
    const auto unit = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
    // A surrogate pair is one character, counted at its high half.
    if (unit >= 0xDC00 && unit <= 0xDFFF) continue;
    const CharacterClass kind = classify(unit);
    weight += kWeights[kind];
    ++characters;
    if (isNoise(unit, kind, japanese)) ++noise;
    if (unit >= 0x80) ++beyond;
    if (kind == kKanjiLevel1 || kind == kKanjiLevel2) {
      kanji_weight += kWeights[kind];
      row.add(kUnicodeToJisCode[unit]);
    }
  }
  weights_[candidate] += weight;
  characters_[candidate] += characters;
  noise_[candidate] += noise;
  row.weight += kanji_weight;
  beyond_ascii_[candidate] += beyond;
  if (candidate == kUtf8 && beyond != 0) utf8_multibyte_ = true;
}

void ScoredDetector::note(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::size_t size = static_cast<std::size_t>(end - begin);
  const std::size_t head = std::min(size, sizeof head_ - head_size_);
  if (head != 0) std::memcpy(head_ + head_size_, begin, head);
  head_size_ += head;
  size_ += size;
  if (!escape_seen_ && size != 0 && std::memchr(begin, 0x1B, size) != nullptr) escape_seen_ = true;
  // An LF byte, not a CR: short UTF-16 words of kanji hold 0D bytes (不 is
  // 4E 0D) more often than ASCII text ends its lines with CR alone.
  for (const std::uint8_t* p = begin; ascii_text_ && p != end; ++p) {
    line_bytes_ = line_bytes_ || *p == 0x0A;
    ascii_text_ = (*p >= 0x20 && *p < 0x7F) || *p == 0x0A || *p == 0x0D || *p == 0x09;
  }
}

void ScoredDetector::noteExtensionRows(const std::uint8_t* begin, const std::uint8_t* end) {
  for (const std::uint8_t* p = begin; p != end; ++p) {
    const std::uint8_t b = *p;
    if (sjis_lead_pending_) {
      sjis_lead_pending_ = false;
    } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
      sjis_lead_pending_ = true;
      nec_selected_ += b == 0xED || b == 0xEE;
      extension_rows_ += b >= 0xF0;
    }
  }
}

void ScoredDetector::feed(std::uint8_t* begin, std::uint8_t* end) {
  // The text is decoded and scored a chunk at a time, and each chunk ends
  // at the first LF byte in it, so that the answer is weighed after every
  // line whatever the pieces were.
  std::uint8_t* p = begin;
  while (p != end && !decided_) {
    std::uint8_t* q = p + std::min<std::uint64_t>(
                              {kChunk, static_cast<std::size_t>(end - p), kScoredBytes - size_});
    if (auto* lf =
            static_cast<std::uint8_t*>(std::memchr(p, 0x0A, static_cast<std::size_t>(q - p)))) {
      q = lf + 1;
    }
    note(p, q);
    if (!failed_[kSjis2004]) noteExtensionRows(p, q);
    for (int c = 0; c < kCandidates; ++c) {
      if (failed_[c]) continue;
      // Never told that the text ends: a sequence the end cuts off stays
      // carried, to be counted by finish(), instead of failing the code.
      if (stages_[c].run(p, q, false, decoded_)) {
        score(static_cast<Candidate>(c), decoded_.data(), decoded_.data() + decoded_.size);
      } else {
        failed_[c] = true;
        no_memory_ = no_memory_ || stages_[c].error() == ErrorKind::no_memory;
      }
    }
    if (size_ == kScoredBytes || (q[-1] == 0x0A && clear())) decide();
    p = q;
  }
}

CodeNumber ScoredDetector::markAnswer() const {
  return codeOfMark(head_, head_ + head_size_);
}

bool ScoredDetector::settled() const {
  if (decided_) return true;
  if (head_size_ == sizeof head_ && markAnswer() != kCodeAuto) return true;
  return std::all_of(std::begin(failed_), std::end(failed_), [](bool f) { return f; });
}

bool ScoredDetector::stands(int candidate, bool atEnd) const {
  if (failed_[candidate]) return false;
  if (!countsAsText(characters_[candidate], noise_[candidate],
                    candidate == kUtf8 && utf8_multibyte_)) {
    return false;
  }
  switch (candidate) {
    case kJis:
      return escape_seen_;
    // Shift_JIS-2004 read as cp932 gives the NEC-selected IBM extensions
    // (ED, EE), which Windows never writes (it writes those characters at
    // their IBM codes FA..FC): a Shift_JIS reading with them is taken for
    // Shift_JIS-2004 when that reads the text too. sjis2004 is also weighed
    // where sjis and cp932 fail and where their reading holds the IBM
    // extensions or the user-defined area (F0..FC); there it wins on the
    // scores alone, and ties go to sjis and cp932. So text in JIS X 0208 and
    // cp932 text with NEC row 13 and the IBM extensions as Windows writes
    // them stay sjis and cp932.
    case kSjis:
      return nec_selected_ == 0 || failed_[kSjis2004];
    case kCp932:
      return failed_[kSjis] && (nec_selected_ == 0 || failed_[kSjis2004]);
    case kSjis2004:
      return nec_selected_ != 0 || extension_rows_ != 0 || (failed_[kSjis] && failed_[kCp932]);
    // The EUC codes beyond EUC-JP are weighed where euc_jp fails; of them,
    // in this order when their scores tie: EUC-JIS-2004, the standard, then
    // eucJP-ms, which reads all of EUC-JP and JIS X 0212, then CP51932.
    case kEucjis2004:
    case kEucjpms:
    case kCp51932:
      return failed_[kEucjp];
    // ASCII text with line ends is UTF-8 (ASCII): its UTF-16 and UTF-32
    // readings are pairs of letters and CRs read as kanji. (ASCII without
    // line ends, such as a word of hiragana in UTF-16, 30 42 30 44, is left
    // to the scores.)
    case kUtf16Le:
    case kUtf16Be:
      return (!atEnd || size_ % 2 == 0) && !(ascii_text_ && line_bytes_);
    case kUtf32Le:
    case kUtf32Be:
      return (!atEnd || size_ % 4 == 0) && !(ascii_text_ && line_bytes_);
    default:
      return true;
  }
}

void ScoredDetector::KanjiRow::add(std::uint16_t jis) {
  ++count;
  if (row == kMixed) return;
  const int kanji_row = jis >> 8;
  if (row != 0 && row != kanji_row) {
    row = kMixed;
    return;
  }
  row = kanji_row;
  const int cell = (jis & 0xFF) - 0x21;  // 0..93
  cells[cell / 64] |= std::uint64_t{1} << (cell % 64);
}

bool ScoredDetector::KanjiRow::oneRow() const {
  return row != 0 && row != kMixed &&
         std::popcount(cells[0]) + std::popcount(cells[1]) >= kOneRowMinimum;
}

std::int64_t ScoredDetector::scoreOf(int candidate) const {
  std::int64_t weight = weights_[candidate];
  const KanjiRow& row = kanji_rows_[candidate];
  if (row.oneRow()) weight += row.count * kOneRowKanjiWeight - row.weight;
  std::int64_t mean = 0;
  if (characters_[candidate] != 0) mean = weight * 100 / characters_[candidate];
  if (candidate == kUtf8 && utf8_multibyte_) mean += kUtf8Bonus * 100;
  return mean;
}

ScoredAnswer ScoredDetector::ranking(bool atEnd) const {
  ScoredAnswer answer;
  int best = -1;
  int second = -1;
  for (int c = 0; c < kCandidates; ++c) {
    if (!stands(c, atEnd)) continue;
    // Strictly better only: a tie keeps the candidate that comes first.
    if (best < 0 || scoreOf(c) > scoreOf(best)) {
      second = best;
      best = c;
    } else if (second < 0 || scoreOf(c) > scoreOf(second)) {
      second = c;
    }
  }
  if (best >= 0) {
    answer.code = kCandidateCodes[best];
    answer.score = scoreOf(best);
    answer.evidence = beyond_ascii_[best];
  }
  if (second >= 0) {
    answer.runner_up = kCandidateCodes[second];
    answer.runner_up_score = scoreOf(second);
  }
  return answer;
}

bool ScoredDetector::clear() const {
  if (no_memory_) return false;
  const ScoredAnswer answer = ranking(false);
  return answer.code != kCodeAuto && answer.evidence >= kClearEvidence &&
         (answer.runner_up == kCodeAuto || answer.score - answer.runner_up_score >= kClearMargin);
}

void ScoredDetector::decide() {
  decided_ = true;
  decision_ = ranking(false);
  decision_.no_memory = no_memory_;
}

ScoredAnswer ScoredDetector::finish() {
  if (const CodeNumber mark = markAnswer(); mark != kCodeAuto) {
    ScoredAnswer answer;
    answer.code = mark;
    answer.by_mark = true;
    return answer;
  }
  if (decided_) return decision_;
  // What is still carried now is a last sequence that the end cuts off,
  // but for ISO-2022-JP, which reads a cut-off escape as characters; a
  // code that needs one does not read the text. UTF-8 beyond ASCII that
  // reads all but such an end is a text cut short, which the codes that
  // read nearly any bytes do not take: JIS X 0213 and the Windows EUC codes
  // would read it as kanji (the older codes fail on it as before).
  const bool cutShortUtf8 = !failed_[kUtf8] && stages_[kUtf8].carrying() && utf8_multibyte_;
  for (int c = 0; c < kCandidates; ++c) {
    if (c != kJis && stages_[c].carrying()) failed_[c] = true;
  }
  if (cutShortUtf8) {
    for (const int c : {kSjis2004, kEucjis2004, kEucjpms, kCp51932}) failed_[c] = true;
  }
  if (no_memory_) {
    ScoredAnswer answer;
    answer.no_memory = true;
    return answer;
  }
  return ranking(true);
}

ScoredAnswer ScoredDetector::detect(const std::uint8_t* begin, const std::uint8_t* end) {
  // Pieces are copied, since the stages write carried bytes before each one.
  ScoredDetector detector;
  std::uint8_t piece[Area::kHeadroom + 4 * kChunk];
  std::uint8_t* const data = piece + Area::kHeadroom;
  for (const std::uint8_t* p = begin; p < end && !detector.settled();) {
    const std::size_t n =
        std::min(sizeof piece - Area::kHeadroom, static_cast<std::size_t>(end - p));
    std::memcpy(data, p, n);
    detector.feed(data, data + n);
    p += n;
  }
  return detector.finish();
}

}  // namespace mek
