#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/stream_stage.h"
#include "detect/scored_detection.h"
#include "mek/codes.h"

namespace mek {

// Detection over a text that arrives in pieces: every test of
// detectEncoding runs alongside the others, each carrying what a piece cuts
// short into the next, and the answer is the one detectEncoding gives for
// the whole text.
class Detector {
 public:
  Detector();

  // Takes the next piece [begin, end), which needs Area::kHeadroom writable
  // bytes before `begin` (bytes carried from the piece before go there).
  void feed(std::uint8_t* begin, std::uint8_t* end);
  // True when more input cannot change the answer.
  bool settled() const;
  // Ends the text and answers its code, or kCodeAuto when no code takes it.
  CodeNumber finish();

  // The answer for a whole text in one piece (no room before it needed).
  static CodeNumber detect(const std::uint8_t* begin, const std::uint8_t* end);

 private:
  // kSjis is the Shift_JIS decoder itself, which, unlike the stricter
  // Shift_JIS test, takes A1..DF as half-width katakana; it is asked last.
  // kUtf16Le is the last resort, asked when every other test failed.
  enum Test { kUtf32Be, kUtf32Le, kJis, kEucjp, kUtf8, kSjis, kUtf16Le, kTests };

  void run(std::uint8_t* begin, std::uint8_t* end, bool last);
  CodeNumber markAnswer() const;
  CodeNumber answer() const;
  bool sjisPiece(std::uint8_t* begin, const std::uint8_t* end, bool last);

  StreamStage tests_[kTests];
  bool failed_[kTests] = {};
  bool sjis_failed_ = false;
  std::uint8_t sjis_carry_ = 0;  // a lead byte that ended the last piece
  bool sjis_carrying_ = false;
  bool lenient_waits_ = true;  // the Shift_JIS decoder's test has not started
  bool escape_seen_ = false;
  std::uint8_t head_[4] = {};  // the first bytes, for the byte-order marks
  std::size_t head_size_ = 0;
  std::uint64_t size_ = 0;
  // The UTF-16LE reading of the first ScoredDetector::kScoredBytes, which
  // the last resort needs to count as text; a byte that ended a piece waits
  // for its partner.
  ReadingTally utf16le_tally_;
  std::uint8_t utf16le_odd_ = 0;
  bool utf16le_waiting_ = false;
  void tallyUtf16Le(const std::uint8_t* begin, const std::uint8_t* end);
  Area final_;  // room for the carried bytes of the last call
};

}  // namespace mek
