#include <algorithm>
#include <vector>

#include "convert/conversion_stream_impl.h"
#include "mek/registry.h"

// Tracing a failure or a change back to its place in the input: a piece is
// run again through the list of stages one input byte at a time.

namespace mek {

template <class Origin>
void ConversionStream::Impl::followHolds(std::vector<Origin>& held, const Origin& now,
                                         const Origin& none, const Run& run) const {
  // The decoder holds bytes, not characters: all it gave is of this run.
  std::size_t units = run.units[decoder_at_];
  bool heldBefore = false;
  Origin heldByBefore = none;
  for (std::size_t i = decoder_at_ + 1; i <= encoder_at_ && i < stages_.size(); ++i) {
    if (i != encoder_at_ && !stages_[i].holds_characters) continue;
    const Origin previous = held[i];
    if (stages_[i].repair) {
      // A line is held from its first character until its end comes: what
      // it holds began in this run where the run gave it as much or more
      // (a piece that ends inside a line ends a hold that began before it).
      if (!stages_[i].repair->holding()) {
        held[i] = none;
      } else if (!run.held_before[i] || stages_[i].repair->heldUnits() <= run.units[i - 1]) {
        held[i] = now;
      }
    } else if (!stages_[i].stream.carrying()) {
      held[i] = none;
    } else if (stages_[i].holds_lines != ErrorKind::none && run.held_before[i] &&
               stages_[i].stream.carried() / 2 > units) {
      // A stage that holds lines holds more than this run gave it: what it
      // holds began before.
    } else if (units >= 2 || (units == 1 && !heldBefore)) {
      held[i] = now;
    } else if (units == 1) {
      held[i] = heldByBefore;  // the one unit it got is the character the stage before held
    }
    units = run.units[i];
    heldBefore = run.held_before[i];
    heldByBefore = previous;
  }
}

std::size_t ConversionStream::Impl::holderBeforeEncoder() const {
  for (std::size_t i = encoder_at_; i > decoder_at_ + 1;) {
    if (stages_[--i].holds_characters) return i;
  }
  return kNoStage;
}

void ConversionStream::Impl::keepPast(const std::uint8_t* begin, const std::uint8_t* end,
                                      const Saved& saved, const Run& run) {
  // Which piece each held character came from (see replay, which follows
  // the same rules a step at a time).
  const std::uint64_t piece = pieces_++;
  followHolds(origins_, std::uint64_t{piece}, kNoPiece, run);
  const std::uint64_t oldest = *std::min_element(origins_.begin(), origins_.end());
  while (!past_.empty() && past_.front().last_piece < oldest) past_.pop_front();
  if (oldest > piece) return;
  try {
    // Room before the bytes, where a stage puts what it carries.
    std::vector<std::uint8_t> bytes(Area::kHeadroom);
    bytes.insert(bytes.end(), begin, end);
    past_.push_back(Past{saved, consumed_, piece, piece, std::move(bytes)});
    // A hold that no piece renews (a line or a header field held whole,
    // over tiny pieces) keeps the pieces since it began: beyond a few, the
    // second oldest is joined to the oldest, which is run again from the
    // same stages, a byte at a time either way. Only beyond kPastBytes
    // is the oldest let go.
    while (past_.size() > kPastPieces) {
      Past& first = past_[0];
      Past& second = past_[1];
      if (first.bytes.size() + second.bytes.size() > kPastBytes) {
        past_.pop_front();
        continue;
      }
      first.bytes.insert(first.bytes.end(), second.bytes.begin() + Area::kHeadroom,
                         second.bytes.end());
      first.last_piece = second.last_piece;
      past_.erase(past_.begin() + 1);
    }
  } catch (const std::bad_alloc&) {
    past_.clear();  // the held character is then placed at the failed piece
  }
}

namespace {

// Keeps [from, to) as the offending bytes, at most four.
void keepBytes(Error& failure, const std::uint8_t* from, const std::uint8_t* to) {
  failure.byte_count = 0;
  for (; from < to && failure.byte_count < failure.bytes.size(); ++from) {
    failure.bytes[failure.byte_count++] = *from;
  }
}

bool isHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The end of the offending sequence that begins at `bad`: the fewest bytes
// after which the decoder, as `before` the failed step and told that the
// text ends there, rejects the input at `bad`. A decoder may have read
// further before it could tell (an ISO-2022-JP decoder waits for what
// follows an ESC), but those bytes are not part of the fault. The carried
// bytes lie at [pending, ...).
const std::uint8_t* offendingEnd(const StreamStage& before, const std::uint8_t* pending,
                                 const std::uint8_t* bad, const std::uint8_t* stepEnd) {
  for (const std::uint8_t* end = bad + 1; end < stepEnd; ++end) {
    ConversionBuffer trial;
    trial.in_begin = pending;
    trial.in_end = end;
    Piece piece{before.state(), before.state(), true};
    if (!before.converter()->measurePiece(trial, piece) && trial.stop == bad) return end;
  }
  return stepEnd;
}

// The end of the sequence that a forgiving policy replaces at `bad`, which
// the decoder as it stood `before` the step rejects: what DETAIL lists (a
// byte read only to reject the sequence, and kept, is not part of it).
const std::uint8_t* replacedEnd(const StreamStage& before, const std::uint8_t* pending,
                                const std::uint8_t* bad, const std::uint8_t* stepEnd, bool last) {
  const ErrorPolicy replace = errorPolicyFor(Errors::replace, false, 0, kCodeUtf16Be);
  ConversionBuffer trial;
  trial.in_begin = pending;
  trial.in_end = stepEnd;
  trial.policy = &replace;
  Piece piece{before.state(), before.state(), last};
  if (before.converter()->measurePiece(trial, piece)) {
    const int kept = std::min(trial.changes, ConversionBuffer::kChangesKept);
    for (int i = 0; i < kept; ++i) {
      if (trial.change_at[i] == bad && trial.change_length[i] > 0) {
        return bad + trial.change_length[i];
      }
    }
  }
  return offendingEnd(before, pending, bad, stepEnd);
}

}  // namespace

namespace {

// The character at the internal-form unit p and its length in bytes.
std::uint32_t characterOf(const std::uint8_t* p, const std::uint8_t* end, int& length) {
  const std::uint32_t c = static_cast<std::uint32_t>(p[0] << 8 | p[1]);
  length = 2;
  if (isHighSurrogate(c) && end - p >= 4) {
    const std::uint32_t next = static_cast<std::uint32_t>(p[2] << 8 | p[3]);
    if (isLowSurrogate(next)) {
      length = 4;
      return 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
    }
  }
  return c;
}

}  // namespace

// Runs a piece that changed something again from the stages as they stood
// before it, one input byte at a time, as locate() does for a failure, and
// lists each change where the step that made it places it. The stages and
// the tally end as the piece left them; only the listing is new.
void ConversionStream::Impl::locateChanges(std::uint8_t* begin, const std::uint8_t* end, bool last,
                                           const Saved& saved) {
  const Saved after{stages_, tally_};
  // Where the characters that the stages hold at the start of this piece
  // stand: the pieces they came from are stepped through again (as locate()
  // does for a failure).
  std::vector<Place> held(stages_.size());
  startLines();
  if (!past_.empty()) {
    const Error kept = failure_;
    restore(past_.front().saved);
    for (Past& past : past_) {
      replay(past.bytes.data() + Area::kHeadroom, past.bytes.data() + past.bytes.size(), false,
             past.consumed, held);
    }
    failure_ = kept;
  }
  restore(saved);
  Area* const areas = step_areas_.get();
  Area& decoded = areas[decoder_at_];
  Run& run = step_run_;
  const auto size = static_cast<std::size_t>(end - begin);
  for (std::size_t i = 0; i <= size && changes_.size() < options_.changes_listed; ++i) {
    const bool final = i == size;
    if (final && !last) break;
    std::uint8_t* const at = begin + i;
    const std::uint8_t* const stepEnd = final ? at : at + 1;
    const std::uint8_t* const pending = at - decoder().carried();
    Error change;
    change.offset = consumed_ + i - decoder().carried();
    change.line = tally_.line();
    change.column = tally_.column();
    beforeLines();
    const StreamStage before = decoder();
    if (!decoder().run(at, stepEnd, final, decoded)) break;
    // This step's changes, listed in the input's order once all are known.
    std::vector<Error> found_here;
    // One new byte ends a few malformed sequences at most (EUC-JP 8F E3
    // then a byte that no pair takes ends three), each kept with its place,
    // its length and where its stand-in begins.
    const int kept = std::min(decoder().runChanges(), ConversionBuffer::kChangesKept);
    for (int k = 0; k < kept; ++k) {
      const StreamStage::Change& made = decoder().keptChange(k);
      Error found = change;
      found.kind = ErrorKind::malformed;
      found.offset += static_cast<std::size_t>(made.at - pending);
      // The characters the step decoded before it come first.
      TextTally tally = tally_;
      tally.add(decoded.data(), made.output);
      found.line = tally.line();
      found.column = tally.column();
      keepBytes(found, made.at,
                made.length != 0 ? made.at + made.length
                                 : offendingEnd(before, pending, made.at, stepEnd));
      found_here.push_back(found);
    }
    TextTally next = tally_;
    next.add(decoded.data(), decoded.size);
    if (marks_ && !expandMarks(decoded, policy_)) break;
    run.units[decoder_at_] = decoded.size / 2;
    const StreamStage& encoder = stages_[encoder_at_].stream;
    const std::size_t encoderCarried = encoder.carried();
    std::uint8_t* text = decoded.data();
    std::size_t textSize = decoded.size;
    if (runStages(decoder_at_ + 1, encoder_at_, areas, text, textSize, final, &run) !=
        ErrorKind::none) {
      break;
    }
    std::uint8_t* const internal = text;
    const std::size_t internalSize = textSize;
    if (runStages(encoder_at_, stages_.size(), areas, text, textSize, final, &run) !=
        ErrorKind::none) {
      break;
    }
    Place step;
    step.offset = change.offset;
    step.line = change.line;
    step.column = change.column;
    placeStep(step, pending, stepEnd, run, areas);
    lineChanges(step, found_here);
    // A character the encoder held from before (a kana that a voiced mark
    // may follow) is placed where it was read, not at this step.
    const Place& heldByEncoder = held[encoder_at_];
    const int refused = std::min(encoder.runChanges(), ConversionBuffer::kChangesKept);
    for (int k = 0; k < refused; ++k) {
      const std::uint8_t* const unit = encoder.keptChange(k).at;
      int length;
      const char32_t c = characterOf(unit, internal + internalSize, length);
      // The same character refused before in this step comes first.
      std::size_t skip = 0;
      for (int before = 0; before < k; ++before) {
        int unused;
        skip += characterOf(encoder.keptChange(before).at, internal + internalSize, unused) == c;
      }
      const Place source = sourcePlace(c, skip);
      const Place* const line = repairLinePlace(internal, unit);
      const Place& place =
          run.held_before[encoder_at_] && unit == internal - encoderCarried && heldByEncoder.known
              ? heldByEncoder
          : line != nullptr ? *line
          : source.known    ? source
                            : step;
      Error found;
      found.kind = ErrorKind::unmapped;
      found.offset = place.offset;
      found.line = place.line;
      found.column = place.column;
      found.bytes = place.bytes;
      found.byte_count = source.known ? 0 : place.byte_count;
      found.character = c;
      found_here.push_back(found);
    }
    // A character decoded in this step before a malformed sequence that the
    // same byte ended (ESC then FF in ISO-2022-JP) comes first.
    std::stable_sort(found_here.begin(), found_here.end(),
                     [](const Error& a, const Error& b) { return a.offset < b.offset; });
    for (const Error& change : found_here) {
      if (changes_.size() < options_.changes_listed) changes_.push_back(change);
    }
    tally_ = next;
    // What the stages hold now, and where it came from.
    followHolds(held, step, Place{}, run);
    trimLines();
  }
  restore(after);
}

namespace {

bool isLineEnd(const std::uint8_t* unit) {
  return unit[0] == 0 && (unit[1] == 0x0D || unit[1] == 0x0A);
}

}  // namespace

// Runs the failed piece again from the stages as they stood before it, one
// input byte at a time. Pieces of any size give the same output and the same
// first failure, so the step that fails is the one whose byte completes the
// offending sequence or character; what the steps before it consumed and
// decoded gives its offset, line and column. A character that a stage still
// held from an earlier piece (a kana waiting for a mark) is placed by running
// those pieces again first.
void ConversionStream::Impl::locate(std::uint8_t* begin, const std::uint8_t* end, bool last,
                                    const Saved& saved, ErrorKind first) {
  restore(past_.empty() ? saved : past_.front().saved);
  failure_ = Error{};
  startLines();
  std::vector<Place> held(stages_.size());
  bool found = false;
  for (Past& past : past_) {
    found = replay(past.bytes.data() + Area::kHeadroom, past.bytes.data() + past.bytes.size(),
                   false, past.consumed, held);
    if (found) break;  // not expected: the piece converted before
  }
  if (!found) found = replay(begin, end, last, consumed_, held);
  if (found) return;
  // Not found again: keep the error of the first run, placed at the piece.
  failure_ = Error{};
  failure_.kind = first;
  failure_.offset = consumed_;
  failure_.line = saved.tally.line();
  failure_.column = saved.tally.column();
}

bool ConversionStream::Impl::replay(std::uint8_t* begin, const std::uint8_t* end, bool last,
                                    std::uint64_t consumed, std::vector<Place>& held) {
  Area* const areas = step_areas_.get();
  Area& decoded = areas[decoder_at_];
  Run& run = step_run_;
  StreamStage& encoder = stages_[encoder_at_].stream;
  const std::size_t holder = holderBeforeEncoder();
  const auto size = static_cast<std::size_t>(end - begin);
  for (std::size_t i = 0; i <= size; ++i) {
    const bool final = i == size;
    if (final && !last) break;
    std::uint8_t* const at = begin + i;
    const std::uint8_t* const stepEnd = final ? at : at + 1;
    // The first byte that no step has consumed yet begins the next
    // character; the decoder carries it and those after it.
    const std::uint8_t* const pending = at - decoder().carried();
    Place step;
    step.offset = consumed + i - decoder().carried();
    step.line = tally_.line();
    step.column = tally_.column();
    failure_.offset = step.offset;
    failure_.line = step.line;
    failure_.column = step.column;
    beforeLines();
    const StreamStage before = decoder();
    if (!decoder().run(at, stepEnd, final, decoded)) {
      failure_.kind = decoder().error();
      const std::uint8_t* const bad =
          decoder().failedAt() != nullptr ? decoder().failedAt() : pending;
      failure_.offset += static_cast<std::size_t>(bad - pending);
      keepBytes(failure_, bad, replacedEnd(before, pending, bad, stepEnd, final));
      return true;
    }
    TextTally next = tally_;
    next.add(decoded.data(), decoded.size);
    if (marks_ && !expandMarks(decoded, policy_)) {
      failure_.kind = ErrorKind::no_memory;
      return true;
    }
    run.units[decoder_at_] = decoded.size / 2;
    std::uint8_t* text = decoded.data();
    std::size_t textSize = decoded.size;
    ErrorKind error = runStages(decoder_at_ + 1, encoder_at_, areas, text, textSize, final, &run);
    if (error != ErrorKind::none) {
      failure_.kind = error;
      Place here = step;
      here.known = true;
      extendLines(here, run);
      placeLineFailure();
      return true;
    }
    std::uint8_t* const internal = text;
    const std::size_t internalSize = textSize;
    placeStep(step, pending, stepEnd, run, areas);
    error = runStages(encoder_at_, encoder_at_ + 1, areas, text, textSize, final, &run);
    if (error != ErrorKind::none) {
      // The character that this byte completed is the one the encoder
      // refused, unless the refused unit is one held from before: nothing
      // else reached the encoder in this step but line endings.
      failure_.kind = error;
      keepBytes(failure_, pending, stepEnd);
      const std::uint8_t* const unit = encoder.failedAt();
      if (failure_.kind == ErrorKind::too_large || unit == nullptr ||
          internal + internalSize - unit < 2) {
        return true;
      }
      const std::uint8_t* const input = internal - encoder.carried();
      bool firstOfStep = true;
      for (const std::uint8_t* q = internal; q < unit; q += 2) {
        firstOfStep = firstOfStep && isLineEnd(q);
      }
      const Place* place = nullptr;
      if (run.held_before[encoder_at_] && unit == input) {
        place = &held[encoder_at_];
      } else if (const Place* line = repairLinePlace(internal, unit)) {
        place = line;
      } else if (holder != kNoStage && run.held_before[holder] && unit >= internal && firstOfStep) {
        place = &held[holder];
      }
      if (place != nullptr && place->known) {
        failure_.offset = place->offset;
        failure_.line = place->line;
        failure_.column = place->column;
        failure_.byte_count = place->byte_count;
        failure_.bytes = place->bytes;
      }
      std::uint32_t c = static_cast<std::uint32_t>(unit[0] << 8 | unit[1]);
      const std::uint32_t next = internal + internalSize - unit >= 4
                                     ? static_cast<std::uint32_t>(unit[2] << 8 | unit[3])
                                     : 0;
      if (isHighSurrogate(c) && isLowSurrogate(next)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
        // A surrogate without its partner is malformed input at its own
        // place.
        failure_.kind = ErrorKind::malformed;
        return true;
      }
      // A character of what a stage that holds lines let go in this step is
      // placed where the text that gave it stands.
      if (const Place source = sourcePlace(c); source.known) {
        failure_.offset = source.offset;
        failure_.line = source.line;
        failure_.column = source.column;
        failure_.byte_count = 0;
      }
      failure_.character = c;
      return true;
    }
    // The stages of bytes after the encoder: a failure there is this step's.
    error = runStages(encoder_at_ + 1, stages_.size(), areas, text, textSize, final, &run);
    if (error != ErrorKind::none) {
      failure_.kind = error;
      keepBytes(failure_, pending, stepEnd);
      return true;
    }
    tally_ = next;
    // Where the held characters stand: a hold that this step renewed is of
    // this step's character.
    followHolds(held, step, Place{}, run);
    trimLines();
  }
  return false;
}

void ConversionStream::Impl::placeStep(Place& step, const std::uint8_t* from,
                                       const std::uint8_t* to, const Run& run, const Area* areas) {
  step.known = true;
  Error bytes;
  keepBytes(bytes, from, to);
  step.byte_count = bytes.byte_count;
  step.bytes = bytes.bytes;
  extendLines(step, run);
  if (repair_at_ != kNoStage && run.repair_input != nullptr) {
    // Which of the units the stage got in this step end lines.
    std::deque<Place>& places = line_places_[repair_at_];
    const std::size_t got = std::min(run.units[repair_at_ - 1], places.size());
    for (std::size_t k = 0; k < got; ++k) {
      places[places.size() - got + k].line_end = isLineEnd(run.repair_input + 2 * k);
    }
  }
  repairGiven(run, areas);
}

void ConversionStream::Impl::startLines() {
  line_places_.assign(stages_.size(), {});
  line_units_.assign(stages_.size(), 0);
}

std::size_t ConversionStream::Impl::heldUnits(std::size_t i) const {
  return stages_[i].repair ? stages_[i].repair->heldUnits() : stages_[i].stream.carried() / 2;
}

void ConversionStream::Impl::beforeLines() {
  for (std::size_t i = 0; i < line_units_.size(); ++i) line_units_[i] = heldUnits(i);
}

void ConversionStream::Impl::extendLines(const Place& step, const Run& run) {
  for (std::size_t i = decoder_at_ + 1; i < encoder_at_ && i < line_places_.size(); ++i) {
    if (stages_[i].holds_lines == ErrorKind::none && !stages_[i].repair) continue;
    // The units the stage got in this step: all of this step's characters.
    line_places_[i].insert(line_places_[i].end(), run.units[i - 1], step);
    line_units_[i] += run.units[i - 1];
  }
}

ConversionStream::Impl::Place ConversionStream::Impl::placeOfUnit(std::size_t i,
                                                                  std::size_t index) const {
  // The places end with the last unit the stage got; what it carried in
  // began its input, and the places of the units before those kept are not
  // known (they came before the pieces kept to be run again).
  const std::deque<Place>& places = line_places_[i];
  const std::size_t total = line_units_[i];
  if (index >= total || total - index > places.size()) return Place{};
  return places[places.size() - (total - index)];
}

ConversionStream::Impl::Place ConversionStream::Impl::linePlace(std::size_t i,
                                                                const std::uint8_t* at) const {
  const StreamStage& stage = stages_[i].stream;
  if (at == nullptr || stage.lastInput() == nullptr || at < stage.lastInput()) return Place{};
  return placeOfUnit(i, static_cast<std::size_t>(at - stage.lastInput()) / 2);
}

void ConversionStream::Impl::trimLines() {
  for (std::size_t i = 0; i < line_places_.size(); ++i) {
    const std::size_t kept = heldUnits(i);
    while (line_places_[i].size() > kept) line_places_[i].pop_front();
  }
}

bool ConversionStream::Impl::placeLineFailure() {
  for (std::size_t i = decoder_at_ + 1; i < encoder_at_ && i < line_places_.size(); ++i) {
    const StreamStage& stage = stages_[i].stream;
    if (stages_[i].holds_lines == ErrorKind::none || stage.error() == ErrorKind::none) continue;
    const Place place = linePlace(i, stage.failedAt());
    if (!place.known) return false;
    failure_.offset = place.offset;
    failure_.line = place.line;
    failure_.column = place.column;
    // What the stage refused is no sequence of input bytes: a word, or a
    // character the output code cannot carry.
    failure_.byte_count = 0;
    if (failure_.kind == ErrorKind::unmapped) {
      int length;
      failure_.character = characterOf(stage.failedAt(), stage.failedAt() + 4, length);
    }
    return true;
  }
  return false;
}

void ConversionStream::Impl::lineChanges(const Place& step, std::vector<Error>& found) const {
  for (std::size_t i = decoder_at_ + 1; i < encoder_at_ && i < line_places_.size(); ++i) {
    const StreamStage& stage = stages_[i].stream;
    if (stages_[i].holds_lines == ErrorKind::none) continue;
    const int kept = std::min(stage.runChanges(), ConversionBuffer::kChangesKept);
    for (int k = 0; k < kept; ++k) {
      const std::uint8_t* const at = stage.keptChange(k).at;
      const Place place = linePlace(i, at);
      const Place& where = place.known ? place : step;
      Error change;
      change.kind = stages_[i].holds_lines;
      change.offset = where.offset;
      change.line = where.line;
      change.column = where.column;
      if (change.kind == ErrorKind::unmapped && at != nullptr) {
        int length;
        change.character = characterOf(at, at + 4, length);
      }
      found.push_back(change);
    }
  }
}

ConversionStream::Impl::Place ConversionStream::Impl::sourcePlace(char32_t c,
                                                                  std::size_t skip) const {
  for (std::size_t i = decoder_at_ + 1; i < encoder_at_ && i < line_places_.size(); ++i) {
    const StreamStage& stage = stages_[i].stream;
    if (stages_[i].source_of == nullptr || stage.lastInput() == nullptr || line_units_[i] == 0) {
      continue;
    }
    const std::uint8_t* const at =
        stages_[i].source_of(stage.lastInput(), stage.lastInput() + 2 * line_units_[i], c, skip);
    if (at != nullptr) return linePlace(i, at);
  }
  return Place{};
}

void ConversionStream::Impl::repairGiven(const Run& run, const Area* areas) {
  repair_given_.clear();
  if (repair_at_ == kNoStage) return;
  // The units the stage got and did not keep went out in this step: the
  // same lines, with the same line ends, as it gave.
  const std::size_t total = line_units_[repair_at_];
  const std::size_t left = heldUnits(repair_at_);
  const std::size_t consumed = total > left ? total - left : 0;
  const std::size_t units = run.units[repair_at_];
  const std::uint8_t* const out = areas[repair_at_].data();
  bool known = consumed != 0;
  for (std::size_t k = 0; k < consumed && known; ++k) known = placeOfUnit(repair_at_, k).known;
  if (!known) {
    // Where the lines began is not known (they came before the pieces kept
    // to be run again): nothing is placed.
    repair_given_.assign(units, Place{});
    return;
  }
  // Line by line: a line that stays gives unit for unit what it took; a
  // repaired one is placed where it began.
  std::size_t in = 0;
  for (std::size_t u = 0; u < units;) {
    if (isLineEnd(out + 2 * u)) {
      ++u;
      continue;
    }
    while (in < consumed && placeOfUnit(repair_at_, in).line_end) ++in;
    std::size_t outEnd = u;
    while (outEnd < units && !isLineEnd(out + 2 * outEnd)) ++outEnd;
    std::size_t inEnd = in;
    while (inEnd < consumed && !placeOfUnit(repair_at_, inEnd).line_end) ++inEnd;
    const bool stays = outEnd - u == inEnd - in;
    for (std::size_t k = 0; u + k < outEnd; ++k) {
      const std::size_t at = stays ? in + k : in;
      repair_given_.push_back(at < consumed ? placeOfUnit(repair_at_, at) : Place{});
    }
    u = outEnd;
    in = inEnd;
  }
}

const ConversionStream::Impl::Place* ConversionStream::Impl::repairLinePlace(
    const std::uint8_t* internal, const std::uint8_t* unit) const {
  if (repair_at_ == kNoStage || unit < internal) return nullptr;
  // Line ends are left out: the line-ending stage may have changed them.
  std::size_t k = 0;
  for (const std::uint8_t* q = internal; q < unit; q += 2) k += !isLineEnd(q);
  const std::vector<Place>& given = repair_given_;
  return k < given.size() && given[k].known ? &given[k] : nullptr;
}

}  // namespace mek
