#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "codec/stream_stage.h"
#include "detect/mojibake.h"
#include "detect/repair_lines.h"
#include "mek/converter.h"
#include "mek/detail/conversion_stream.h"
#include "mek/error.h"

namespace mek {

// The text stage of --repair: it holds each line until its end has come, so
// that the repair of mojibake (detect/mojibake.h) sees the whole line
// however the text is cut into pieces, and writes the line repaired or as it
// stands. A line that waits for a later line to decide it (see
// detect/repair_lines.h) is held with the lines after it until then, at most
// kMaxWaitingLines lines or kMaxWaitingUnits units (64 KiB) and the line
// being read. A line longer than kMaxRepairLine units is written as it
// comes, unrepaired, and what waits before it stays as it stands, so that
// what is held stays below 80 KiB.
//
// A character that the wrong turns lost is written under the error policy:
// the strict policy fails there, the others write their stand-in for a
// malformed sequence (U+FFFD) or nothing. The stretches repaired are noted
// for the caller (repairs()).
//
// It is a value: a copy stands where the original stood, so the stream can
// keep it and run a piece again from there.
class RepairStage {
 public:
  explicit RepairStage(const ErrorPolicy* policy = nullptr) : policy_(policy) {}
  RepairStage(const RepairStage& other);
  RepairStage& operator=(const RepairStage& other);
  RepairStage(RepairStage&&) noexcept = default;
  RepairStage& operator=(RepairStage&&) noexcept = default;
  ~RepairStage();

  // Converts the next piece of internal-form text [begin, end) into `out`;
  // `last` ends the text. False on a lost character under the strict
  // policy (error() is then ErrorKind::malformed) or when memory is short.
  bool run(const std::uint8_t* begin, const std::uint8_t* end, bool last, Area& out);
  ErrorKind error() const { return error_; }
  bool holding() const { return !held_.empty(); }
  std::size_t heldUnits() const { return held_.size() / 2; }

  // The stretches repaired so far, in the text's order; takeRepairs() hands
  // them over and forgets them.
  const std::vector<RepairedStretch>& repairs() const { return repairs_; }
  std::vector<RepairedStretch> takeRepairs();

 private:
  // A whole line held: its units and those of its line end (none at the
  // end of the text).
  struct HeldLine {
    std::size_t bytes;
    std::size_t end_bytes;
  };
  // Writes the lines decided, from the start of held_.
  bool drain(Area& out);
  // Writes one line (without its end) as decided: repaired or as it stands.
  bool line(const std::uint8_t* begin, std::size_t bytes, Area& out);
  bool put(Area& out, const std::uint8_t* data, std::size_t size);
  // Counts the lines and characters of [begin, end) as the input has them.
  void count(const std::uint8_t* begin, const std::uint8_t* end);

  const ErrorPolicy* policy_ = nullptr;  // null: strict
  ErrorKind error_ = ErrorKind::none;
  // The lines that wait with their line ends, then the start of a line
  // whose end has not come (partial_ bytes).
  std::vector<std::uint8_t> held_;
  std::deque<HeldLine> held_lines_;
  std::size_t partial_ = 0;
  bool passing_ = false;             // inside a line too long to repair
  bool after_cr_ = false;            // the last unit counted was CR
  std::uint64_t line_ = 1;           // the line of the next unit, from 1
  std::uint64_t characters_ = 0;     // characters counted before it
  RepairLines lines_;                // the decisions
  std::uint64_t previous_line_ = 0;  // the line of the last repair
  std::vector<RepairedStretch> repairs_;
  std::vector<char16_t> units_;  // working memory, never copied
};

}  // namespace mek
