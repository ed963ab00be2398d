#include "detect/repair_lines.h"

#include <utility>

namespace mek {

RepairLines::RepairLines(const RepairLines& other)
    : lines_(other.lines_),
      decided_(other.decided_),
      waiting_lines_(other.waiting_lines_),
      waiting_units_(other.waiting_units_),
      any_waiting_(other.any_waiting_),
      previous_(other.previous_) {}

RepairLines& RepairLines::operator=(const RepairLines& other) {
  if (this != &other) {
    RepairLines copy(other);
    copy.scratch_ = std::move(scratch_);
    copy.out_ = std::move(out_);
    *this = std::move(copy);
  }
  return *this;
}

RepairLines::~RepairLines() = default;

void RepairLines::pop() {
  if (decided_ == 0) return;
  lines_.pop_front();
  --decided_;
}

void RepairLines::decideWaiting(const LineRepair& turns) {
  for (std::size_t i = decided_; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    line.repair = {};
    if (turns.repaired() && !line.units.empty()) {
      out_.resize(2 * line.units.size());
      const LineRepair done = repairWithTurns(line.units.data(), line.units.size(), out_.data(),
                                              *scratch_, turns.outer, turns.inner);
      if (done.repaired()) {
        line.repair = done;
        line.units.assign(out_.data(), done.size);
        line.weak_units.clear();
        continue;
      }
    }
    line.repair = line.weak;
    line.units.swap(line.weak_units);
    line.weak_units.clear();
  }
  decided_ = lines_.size();
  waiting_lines_ = 0;
  waiting_units_ = 0;
  any_waiting_ = false;
}

void RepairLines::settle() {
  decideWaiting(LineRepair{});
}

namespace {

// Whether a line that is not repaired reads as text as it stands: Western
// text (every character beyond ASCII a Latin letter or general
// punctuation), or Japanese with kana, and nothing lost. Mojibake that no
// turn undoes is neither, and waits with the lines before it.
bool cleanText(const char16_t* line, std::size_t size) {
  std::size_t beyond = 0;
  std::size_t latin = 0;
  std::size_t kana = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t c = line[i];
    if (c < 0x80) continue;
    if (c == 0xFFFD) return false;
    ++beyond;
    latin += (c >= 0xC0 && c <= 0x24F) || (c >= 0x2010 && c <= 0x205F);
    kana += c >= 0x3041 && c <= 0x3096;
  }
  return beyond != 0 && (latin == beyond || kana >= 2);
}

}  // namespace

void RepairLines::add(const char16_t* line, std::size_t size) {
  if (size > kMaxRepairLine) settle();
  if (scratch_ == nullptr) scratch_ = std::make_unique<RepairScratch>();
  out_.resize(2 * size);
  const LineRepair done = size > kMaxRepairLine
                              ? LineRepair{}
                              : repairLine(line, size, out_.data(), *scratch_, previous_);
  const bool weak = done.repaired() && done.weak;
  const bool waits = !done.repaired() && any_waiting_ && !cleanText(line, size);
  if (done.repaired() && !weak) {
    Line repaired{done, std::u16string(out_.data(), done.size), LineRepair{}, std::u16string()};
    decideWaiting(done);
    previous_ = done;
    lines_.push_back(std::move(repaired));
    ++decided_;
    return;
  }
  if (done.pending || weak || waits) {
    // It waits: a later line decides. Other lines wait only behind one that
    // may be repaired.
    lines_.push_back({LineRepair{}, std::u16string(line, size), LineRepair{}, std::u16string()});
    if (weak) {
      lines_.back().weak = done;
      lines_.back().weak_units.assign(out_.data(), done.size);
    }
    if (size != 0) {
      ++waiting_lines_;
      waiting_units_ += size;
    }
    any_waiting_ = any_waiting_ || done.pending || weak;
    if (waiting_lines_ > kMaxWaitingLines || waiting_units_ > kMaxWaitingUnits) settle();
    return;
  }
  // Text as it stands: what waits stays as it stands too.
  settle();
  lines_.push_back({LineRepair{}, std::u16string(), LineRepair{}, std::u16string()});
  ++decided_;
}

}  // namespace mek
