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

RepairStage::RepairStage(const RepairStage& other) = default;
RepairStage& RepairStage::operator=(const RepairStage& other) = default;
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
  const std::uint64_t start = characters_;
  const std::uint64_t number = line_;
  count(begin, begin + bytes);
  const LineRepair& done = lines_.repair();
  if (!done.repaired()) return put(out, begin, bytes);
  const bool strict = policy_ == nullptr || policy_->action == Errors::strict;
  if (done.lost != 0 && strict) {
    error_ = ErrorKind::malformed;
    return false;
  }
  // The repaired line, with the policy's stand-in for each lost character.
  const char16_t* repaired = lines_.repaired();
  const std::size_t standIn =
      policy_ == nullptr || policy_->action == Errors::skip ? 0 : policy_->substitute_units;
  if (!out.reserve(out.size + 2 * done.size * (standIn > 1 ? standIn : 1))) {
    error_ = ErrorKind::no_memory;
    return false;
  }
  std::uint8_t* to = out.data() + out.size;
  for (std::size_t i = 0; i < done.size; ++i) {
    if (repaired[i] == 0xFFFD && done.lost != 0) {
      for (std::size_t u = 0; u < standIn; ++u) {
        *to++ = static_cast<std::uint8_t>(policy_->substitute[u] >> 8);
        *to++ = static_cast<std::uint8_t>(policy_->substitute[u]);
      }
      continue;
    }
    *to++ = static_cast<std::uint8_t>(repaired[i] >> 8);
    *to++ = static_cast<std::uint8_t>(repaired[i]);
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
  previous_line_ = number;
  return true;
}

bool RepairStage::drain(Area& out) {
  std::size_t at = 0;
  for (; lines_.decided() != 0; lines_.pop(), held_lines_.pop_front()) {
    const HeldLine held = held_lines_.front();
    const std::uint8_t* const begin = held_.data() + at;
    if (!line(begin, held.bytes, out)) return false;
    if (!put(out, begin + held.bytes, held.end_bytes)) return false;
    count(begin + held.bytes, begin + held.bytes + held.end_bytes);
    at += held.bytes + held.end_bytes;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
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
  try {
    const std::uint8_t* p = begin;
    for (;;) {
      const std::uint8_t* q = p;
      while (q + 1 < end && !isLineEnd(q)) q += 2;
      const bool ended = q + 1 < end;
      if (!ended && !last) {
        // The line goes on in the next piece: it is held, unless it has
        // grown too long to repair.
        const auto rest = static_cast<std::size_t>(end - p);
        if (!passing_ && partial_ + rest <= 2 * kMaxRepairLine) {
          held_.insert(held_.end(), p, end);
          partial_ += rest;
          return true;
        }
        if (!passing_) {
          // What waits stays as it stands; the line passes as it comes.
          lines_.settle();
          if (!drain(out)) return false;
          if (!put(out, held_.data(), held_.size())) return false;
          count(held_.data(), held_.data() + held_.size());
          held_.clear();
          partial_ = 0;
          passing_ = true;
        }
        if (!put(out, p, rest)) return false;
        count(p, end);
        return true;
      }
      const std::uint8_t* const lineEnd = ended ? q : end;
      const auto bytes = static_cast<std::size_t>(lineEnd - p);
      const std::size_t endBytes = ended ? 2 : 0;
      if (passing_) {
        if (!put(out, p, bytes + endBytes)) return false;
        count(p, lineEnd + endBytes);
        passing_ = false;
      } else {
        // The whole line: what was held of it, then the rest.
        const std::size_t size = (partial_ + bytes) / 2;
        units_.resize(size);
        const std::uint8_t* const start = held_.data() + (held_.size() - partial_);
        for (std::size_t i = 0; i < partial_ / 2; ++i) {
          units_[i] = static_cast<char16_t>(start[2 * i] << 8 | start[2 * i + 1]);
        }
        for (std::size_t i = partial_ / 2; i < size; ++i) {
          const std::uint8_t* const unit = p + 2 * i - partial_;
          units_[i] = static_cast<char16_t>(unit[0] << 8 | unit[1]);
        }
        lines_.add(units_.data(), size);
        if (held_.empty() && lines_.decided() == 1 && lines_.lines() == 1) {
          // Decided at once, with nothing held before it: written from the
          // piece.
          if (!line(p, bytes, out)) return false;
          lines_.pop();
          if (!put(out, lineEnd, endBytes)) return false;
          count(lineEnd, lineEnd + endBytes);
        } else {
          held_.insert(held_.end(), p, lineEnd + endBytes);
          held_lines_.push_back({partial_ + bytes, endBytes});
          partial_ = 0;
          if (!drain(out)) return false;
        }
      }
      if (!ended) break;
      p = q + 2;
    }
    // The text ended: what waits stays as it stands.
    lines_.settle();
    return drain(out);
  } catch (const std::bad_alloc&) {
    error_ = ErrorKind::no_memory;
    return false;
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
