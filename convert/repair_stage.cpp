#include "convert/repair_stage.h"

#include <cstring>
#include <new>
#include <utility>

#include "convert/stage_list.h"

namespace mek {
namespace {

bool isLineEnd(const std::uint8_t* unit) {
  return unit[0] == 0 && (unit[1] == 0x0A || unit[1] == 0x0D);
}

bool isLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

RepairStage::RepairStage(const RepairStage& other)
    : policy_(other.policy_),
      error_(other.error_),
      held_(other.held_),
      passing_(other.passing_),
      after_cr_(other.after_cr_),
      line_(other.line_),
      characters_(other.characters_),
      previous_(other.previous_),
      previous_line_(other.previous_line_),
      repairs_(other.repairs_) {}

RepairStage& RepairStage::operator=(const RepairStage& other) {
  if (this != &other) {
    RepairStage copy(other);
    // The working memory stays: it holds nothing between lines.
    copy.scratch_ = std::move(scratch_);
    *this = std::move(copy);
  }
  return *this;
}

RepairStage::~RepairStage() = default;

std::vector<RepairedStretch> RepairStage::takeRepairs() {
  return std::exchange(repairs_, {});
}

bool RepairStage::put(Area& out, const std::uint8_t* data, std::size_t size) {
  if (size == 0) return true;
  if (!out.reserve(out.size + size)) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  std::memcpy(out.data() + out.size, data, size);
  out.size += size;
  return true;
}

void RepairStage::count(const std::uint8_t* begin, const std::uint8_t* end) {
  for (const std::uint8_t* p = begin; p + 1 < end; p += 2) {
    const auto unit = static_cast<char16_t>(p[0] << 8 | p[1]);
    if (!isLowSurrogate(unit)) ++characters_;
    // CR LF is one line end.
    if (unit == 0x0A && !after_cr_) ++line_;
    if (unit == 0x0D) ++line_;
    after_cr_ = unit == 0x0D;
  }
}

bool RepairStage::line(const std::uint8_t* begin, std::size_t bytes, Area& out) {
  const std::size_t size = bytes / 2;
  const std::uint64_t start = characters_;
  const std::uint64_t number = line_;
  count(begin, begin + bytes);
  if (size == 0 || size > kMaxRepairLine) return put(out, begin, bytes);
  LineRepair done;
  try {
    if (scratch_ == nullptr) scratch_ = std::make_unique<RepairScratch>();
    units_.resize(size);
    repaired_.resize(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
      units_[i] = static_cast<char16_t>(begin[2 * i] << 8 | begin[2 * i + 1]);
    }
    done = repairLine(units_.data(), size, repaired_.data(), *scratch_, previous_);
  } catch (const std::bad_alloc&) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  if (!done.repaired()) return put(out, begin, bytes);
  const bool strict = policy_ == nullptr || policy_->action == Errors::strict;
  if (done.lost != 0 && strict) {
    error_ = ErrorKind::malformed;
    return false;
  }
  // The repaired line, with the policy's stand-in for each lost character.
  const std::size_t standIn =
      policy_ == nullptr || policy_->action == Errors::skip ? 0 : policy_->substitute_units;
  if (!out.reserve(out.size + 2 * done.size * (standIn > 1 ? standIn : 1))) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  std::uint8_t* to = out.data() + out.size;
  for (std::size_t i = 0; i < done.size; ++i) {
    if (repaired_[i] == 0xFFFD && done.lost != 0) {
      for (std::size_t u = 0; u < standIn; ++u) {
        *to++ = static_cast<std::uint8_t>(policy_->substitute[u] >> 8);
        *to++ = static_cast<std::uint8_t>(policy_->substitute[u]);
      }
      continue;
    }
    *to++ = static_cast<std::uint8_t>(repaired_[i] >> 8);
    *to++ = static_cast<std::uint8_t>(repaired_[i]);
  }
  out.size = static_cast<std::size_t>(to - out.data());
  // Lines in a row that took the same turns are one stretch.
  try {
    std::string chain = turnsName(done.outer, done.inner);
    if (!repairs_.empty() && previous_line_ + 1 == number && repairs_.back().chain == chain) {
      RepairedStretch& stretch = repairs_.back();
      stretch.end = characters_;
      stretch.last_line = number;
      stretch.lost += done.lost;
    } else {
      repairs_.push_back({std::move(chain), start, characters_, number, number, done.lost});
    }
  } catch (const std::bad_alloc&) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  previous_ = done;
  previous_line_ = number;
  return true;
}

bool RepairStage::run(const std::uint8_t* begin, const std::uint8_t* end, bool last, Area& out) {
  out.size = 0;
  if (error_ != ErrorKind::none) return false;
  // The stage after reads its input from `out` even when a held line leaves
  // it empty, and puts what it carries before it: the area must exist.
  if (!out.reserve(1)) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  const std::uint8_t* p = begin;
  for (;;) {
    const std::uint8_t* q = p;
    while (q + 1 < end && !isLineEnd(q)) q += 2;
    const bool ended = q + 1 < end;
    if (!ended && !last) {
      // The line goes on in the next piece: it is held, unless it has grown
      // too long to repair.
      const auto rest = static_cast<std::size_t>(end - p);
      if (!passing_ && held_.size() + rest <= 2 * kMaxRepairLine) {
        try {
          held_.insert(held_.end(), p, end);
        } catch (const std::bad_alloc&) {
          error_ = ErrorKind::no_memory;
          return false;
        }
        return true;
      }
      if (!put(out, held_.data(), held_.size()) || !put(out, p, rest)) return false;
      count(held_.data(), held_.data() + held_.size());
      count(p, end);
      held_.clear();
      passing_ = true;
      return true;
    }
    const std::uint8_t* const lineEnd = ended ? q : end;
    const auto bytes = static_cast<std::size_t>(lineEnd - p);
    if (passing_) {
      if (!put(out, p, bytes)) return false;
      count(p, lineEnd);
      passing_ = false;
    } else if (held_.empty()) {
      if (!line(p, bytes, out)) return false;
    } else {
      try {
        held_.insert(held_.end(), p, lineEnd);
      } catch (const std::bad_alloc&) {
        error_ = ErrorKind::no_memory;
        return false;
      }
      const bool done = line(held_.data(), held_.size(), out);
      held_.clear();
      if (!done) return false;
    }
    if (!ended) return true;
    if (!put(out, q, 2)) return false;
    count(q, q + 2);
    p = q + 2;
  }
}

// The stage --repair asks for, after the decoder and before the folds.
bool repairStage(const StageRequest& request, Stage& stage) {
  if (!request.repair) return false;
  stage.kind = StageKind::text;
  stage.repair.emplace(request.policy);
  // A character a later stage refuses is placed where it was read.
  stage.holds_characters = true;
  return true;
}

}  // namespace mek
