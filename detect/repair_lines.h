#pragma once

// The lines of a text decided in order, with a bounded look ahead: a line
// that some turns undo into Japanese text, but not clearly enough by itself
// (a date with one kanji in a header), waits for the next line that decides.
// A line repaired takes the waiting lines back with its turns where the
// same-turn rule of repairLine takes them, and leaves the others as they
// stand; so do a line that reads as clean text as it stands (Western text,
// or Japanese with kana), a line too long to repair, the end of the text,
// and more waiting than kMaxWaitingLines lines or kMaxWaitingUnits units.
// A line repaired only weakly (LineRepair::weak) waits too, and keeps its
// weak repair when the turns of the line that decides do not take it.
// Other lines (ASCII, mojibake that no turn undoes) wait with them. What is
// decided depends on the lines alone, never on how the text was cut:
// mek::repair and the streaming stage (convert/repair_stage.h) both drive
// this.

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "detect/mojibake.h"

namespace mek {

// The look ahead's bounds: lines (empty ones aside) and their units.
inline constexpr std::size_t kMaxWaitingLines = 48;
inline constexpr std::size_t kMaxWaitingUnits = 32768;

class RepairLines {
 public:
  RepairLines() = default;
  // A copy holds the same lines and decisions; the working memory is not
  // copied.
  RepairLines(const RepairLines& other);
  RepairLines& operator=(const RepairLines& other);
  RepairLines(RepairLines&&) noexcept = default;
  RepairLines& operator=(RepairLines&&) noexcept = default;
  ~RepairLines();

  // Takes the next line, [line, line + size) of UTF-16 units without its
  // line end. Throws std::bad_alloc when memory is short.
  void add(const char16_t* line, std::size_t size);
  // Leaves every waiting line as it stands: a line too long to be held comes
  // next, or the text ended.
  void settle();

  // The lines taken and not yet handed over, and how many of them, from the
  // first, are decided.
  std::size_t lines() const { return lines_.size(); }
  std::size_t decided() const { return decided_; }
  // The first line's decision (when decided): repaired or not, and then its
  // units (repair().size of them).
  const LineRepair& repair() const { return lines_.front().repair; }
  const char16_t* repaired() const { return lines_.front().units.data(); }
  // Hands the first decided line over.
  void pop();

 private:
  struct Line {
    LineRepair repair;
    // While waiting, the line as it stands; once repaired, the repair.
    std::u16string units;
    // A weak repair of a waiting line, taken when no later line decides it.
    LineRepair weak;
    std::u16string weak_units;
  };
  void decideWaiting(const LineRepair& turns);

  std::deque<Line> lines_;
  std::size_t decided_ = 0;
  std::size_t waiting_lines_ = 0;  // undecided lines that are not empty
  std::size_t waiting_units_ = 0;
  bool any_waiting_ = false;  // an undecided line that may be repaired
  LineRepair previous_;       // what the last repaired line took
  std::unique_ptr<RepairScratch> scratch_;
  std::u16string out_;
};

}  // namespace mek
