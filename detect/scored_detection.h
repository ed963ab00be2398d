#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/stream_stage.h"
#include "mek/codes.h"

namespace mek {

// What scored detection made of a text. A score is the mean weight of the
// decoded characters in hundredths (see the table in scored_detection.cpp),
// with the bonus of valid multi-byte UTF-8 included.
struct ScoredAnswer {
  // The chosen code; kCodeAuto when no candidate decodes the whole text.
  CodeNumber code = kCodeAuto;
  // The next best candidate that decodes the whole text, or kCodeAuto.
  CodeNumber runner_up = kCodeAuto;
  std::int64_t score = 0;
  std::int64_t runner_up_score = 0;
  // The characters beyond ASCII in the chosen code's reading.
  std::int64_t evidence = 0;
  // A byte-order mark decided; nothing was scored.
  bool by_mark = false;
  // Memory for decoding the scored prefix could not be had; nothing else
  // holds then.
  bool no_memory = false;
};

// Whether a reading of a text counts as text rather than noise: at most a
// quarter of its `characters` are `noise`, unless it is UTF-8 with a
// character past ASCII (`utf8_multibyte`), which bytes of another code seldom
// form by chance. Noise is controls and private use and, in the readings of
// UTF-16 and UTF-32, which give a character for any pair of bytes, also
// ideographs outside JIS X 0208 and characters of other scripts. (The
// Japanese codes give only characters of their own tables, among them the
// NEC and IBM kanji of cp932 and JIS X 0212.)
bool countsAsText(std::int64_t characters, std::int64_t noise, bool utf8_multibyte);

// The weight of one unit's class in the scorer, -100..100.
std::int64_t characterWeight(std::uint16_t unit);
// Whether a unit is of the Latin class: Latin-1 and Latin Extended letters,
// general punctuation.
bool latinCharacter(std::uint16_t unit);

// Counts the characters of a reading and those of them that are noise, for
// countsAsText; the units are the internal form's (UTF-16 big-endian).
struct ReadingTally {
  // The reading is of a Japanese code (sjis, cp932, euc_jp, jis).
  bool japanese_code = false;
  std::int64_t characters = 0;
  std::int64_t noise = 0;
  std::int64_t weight = 0;  // the sum of the characters' class weights
  void add(std::uint16_t unit);
  // The mean weight in hundredths, as ScoredDetector scores (without its
  // rules for kanji of one row and for UTF-8).
  std::int64_t score() const { return characters == 0 ? 0 : weight * 100 / characters; }
};

// Detection that weighs the evidence: after the byte-order marks, every
// candidate code that decodes the text is scored by how much its decoded
// text looks like Japanese text, and the best one wins. The answer is
// weighed after every LF byte, and is decided there once the best reading
// is clear: it has kClearEvidence characters beyond ASCII and no other
// reading comes within kClearMargin of its score. Otherwise it is decided
// after kScoredBytes, or at the end of a shorter text. Nothing after the
// decision counts: a converter reads the rest and fails where the chosen
// code cannot read it. So a text that arrives slowly is answered after its
// first lines, and the text may arrive in pieces of any size: the answer is
// the same for every way of cutting it.
class ScoredDetector {
 public:
  static constexpr std::size_t kScoredBytes = 64 * 1024;
  static constexpr std::int64_t kClearEvidence = 8;
  static constexpr std::int64_t kClearMargin = 2000;  // hundredths

  ScoredDetector();

  // Takes the next piece [begin, end), which needs Area::kHeadroom writable
  // bytes before `begin`; after the decision it reads nothing more.
  void feed(std::uint8_t* begin, std::uint8_t* end);
  // True when more input cannot change the answer: a mark, or the decision.
  bool settled() const;
  // Ends the text and answers.
  ScoredAnswer finish();

  // The answer for a whole text in one piece; reads it only.
  static ScoredAnswer detect(const std::uint8_t* begin, const std::uint8_t* end);

 private:
  // In the order that breaks ties. cp932 stands right after sjis, and counts
  // only when sjis fails, so Shift_JIS text is still answered sjis. The codes
  // of JIS X 0213 and the Windows EUC codes stand only where the older code
  // of their form cannot read the text (see stands()).
  enum Candidate {
    kUtf8,
    kJis,
    kSjis,
    kCp932,
    kSjis2004,
    kEucjp,
    kEucjis2004,
    kEucjpms,
    kCp51932,
    kUtf16Le,
    kUtf16Be,
    kUtf32Le,
    kUtf32Be,
    kCandidates
  };

  // Takes the plain facts of the bytes [begin, end): the head, the size, an
  // ESC, whether all is ASCII text.
  void note(const std::uint8_t* begin, const std::uint8_t* end);
  // Counts the Shift_JIS codes of [begin, end) in the rows of cp932's
  // extensions.
  void noteExtensionRows(const std::uint8_t* begin, const std::uint8_t* end);
  void score(Candidate candidate, const std::uint8_t* begin, const std::uint8_t* end);
  // Whether a candidate reads the text so far as text; at the end, also
  // whether the text's length fits its units.
  bool stands(int candidate, bool atEnd) const;
  // The best and the next best candidate that stand.
  ScoredAnswer ranking(bool atEnd) const;
  // Whether the best reading so far is clear enough to decide on.
  bool clear() const;
  void decide();
  std::int64_t scoreOf(int candidate) const;
  CodeNumber markAnswer() const;

  // The kanji of one candidate's reading: their count and weight, and
  // whether they all lie in one JIS X 0208 row, with the cells of that row
  // that occur.
  struct KanjiRow {
    static constexpr int kMixed = -1;
    std::int64_t count = 0;
    std::int64_t weight = 0;  // the sum of their class weights
    int row = 0;              // the JIS row byte, 0 before any kanji, or kMixed
    std::uint64_t cells[2] = {};

    void add(std::uint16_t jis);
    // All in one row, with enough different kanji among them.
    bool oneRow() const;
  };

  StreamStage stages_[kCandidates];
  bool failed_[kCandidates] = {};
  std::int64_t weights_[kCandidates] = {};       // sum of the scored characters' weights
  std::int64_t characters_[kCandidates] = {};    // scored characters
  std::int64_t noise_[kCandidates] = {};         // scored characters that are noise
  std::int64_t beyond_ascii_[kCandidates] = {};  // scored characters beyond ASCII
  KanjiRow kanji_rows_[kCandidates];
  bool utf8_multibyte_ = false;  // the UTF-8 reading has a character past ASCII
  // Every byte so far is printable ASCII, TAB, LF or CR, and some are LF:
  // ASCII text with its line ends as bytes, which UTF-16 and UTF-32 (whose
  // line ends are 00 0A units) could only read as chance pairs.
  bool ascii_text_ = true;
  bool line_bytes_ = false;
  bool escape_seen_ = false;
  // In the Shift_JIS reading: two-byte codes with lead bytes ED and EE (the
  // NEC-selected IBM extensions, which Windows never writes), codes with
  // lead bytes F0..FC (the user-defined area and the IBM extensions), and
  // whether the last byte so far leads a pair.
  std::int64_t nec_selected_ = 0;
  std::int64_t extension_rows_ = 0;
  bool sjis_lead_pending_ = false;
  bool no_memory_ = false;
  std::uint8_t head_[4] = {};
  std::size_t head_size_ = 0;
  std::uint64_t size_ = 0;
  Area decoded_;  // one candidate's decoded characters of one scored piece
  bool decided_ = false;
  ScoredAnswer decision_;
};

}  // namespace mek
