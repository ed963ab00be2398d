#include "mek/conversion_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "convert/conversion_stream_impl.h"
#include "convert/fused_paths.h"
#include "convert/parallel_pieces.h"
#include "mek/registry.h"
#include "mek/text_fold.h"

namespace mek {

// The areas of one piece on its way from the decoder to the writer. Two of
// them let the caller decode one piece while the worker finishes the other.
struct ConversionStream::Impl::Slot {
  Area decoded;
  Area folded;
  Area lines;
  Area encoded;
  bool last = false;
  bool busy = false;  // queued for or held by the worker
};

namespace {

constexpr std::size_t kSlots = 2;

// The mark a decoder writes for a malformed sequence when places are
// tallied under a forgiving policy: a high surrogate that no low one
// follows, which no decoder writes otherwise (they write pairs whole and
// reject lone halves), and which the tally counts as one character, as the
// sequence counts under every policy. The policy's stand-in (nothing,
// U+FFFD, the replacement, &#65533;) then takes its place.
constexpr std::uint16_t kMark = 0xDBFF;

bool isMarkAt(const std::uint8_t* data, std::size_t i, std::size_t size) {
  return data[i] == 0xDB && data[i + 1] == 0xFF &&
         (i + 3 >= size || data[i + 2] < 0xDC || data[i + 2] > 0xDF);
}

// Puts the policy's stand-in where the marks are; false when memory is short.
bool expandMarks(Area& text, const ErrorPolicy& policy) {
  std::size_t marks = 0;
  for (std::size_t i = 0; i + 1 < text.size; i += 2) marks += isMarkAt(text.data(), i, text.size);
  if (marks == 0) return true;
  const std::size_t units = policy.action == Errors::skip ? 0 : policy.substitute_units;
  const std::size_t size = text.size - 2 * marks + 2 * units * marks;
  if (size > text.size && !text.reserve(size)) return false;
  std::uint8_t* const data = text.data();
  // From a copy, since a stand-in may be longer than its mark (this runs
  // only while places are tallied).
  std::vector<std::uint8_t> copy(data, data + text.size);
  std::size_t out = 0;
  for (std::size_t i = 0; i + 1 < copy.size(); i += 2) {
    if (isMarkAt(copy.data(), i, copy.size())) {
      for (std::size_t u = 0; u < units; ++u) {
        data[out++] = static_cast<std::uint8_t>(policy.substitute[u] >> 8);
        data[out++] = static_cast<std::uint8_t>(policy.substitute[u]);
      }
    } else {
      data[out++] = copy[i];
      data[out++] = copy[i + 1];
    }
  }
  text.size = out;
  return true;
}

bool endsWithCr(const Area& text) {
  return text.size >= 2 && text.data()[text.size - 2] == 0 && text.data()[text.size - 1] == 0x0D;
}

}  // namespace

ConversionStream::Impl::Impl(int inputCode, int outputCode, int lineEnding, Writer writer,
                             Options options)
    : writer_(std::move(writer)), options_(options), slots_(new (std::nothrow) Slot[kSlots]) {
  if (options_.piece_size == 0) options_.piece_size = 1;
  // A failed piece is traced on the thread that still holds its input.
  if (options_.locate) options_.worker = false;
  const Converter* decoder = findDecoder(inputCode);
  const Converter* encoder = findEncoder(outputCode);
  policy_ = errorPolicyFor(options_.errors, options_.fallback, options_.replacement, outputCode);
  line_end_ = findLineEndConverter(lineEnding);
  if (decoder == nullptr || encoder == nullptr || line_end_ == nullptr || !writer_) {
    error_ = ErrorKind::malformed;
    return;
  }
  if (slots_ == nullptr) {
    error_ = ErrorKind::no_memory;
    return;
  }
  marks_ = options_.locate && options_.errors != Errors::strict;
  if (marks_) {
    marking_policy_ = policy_;
    marking_policy_.action = Errors::replace;
    marking_policy_.substitute[0] = kMark;
    marking_policy_.substitute_units = 1;
  }
  decoder_ = StreamStage(decoder, ErrorKind::malformed, inputCode, &findDecoderAfterStart,
                         marks_ ? &marking_policy_ : &policy_);
  if (const Converter* fold = findTextFold(options_.folds)) {
    fold_ = StreamStage(fold, ErrorKind::malformed);
  }
  // A fused path does the work of all three stages in the decoder's scan.
  const Converter* fused = options_.fused && !options_.locate && options_.folds == Fold::none
                               ? findFusedPath(inputCode, outputCode, lineEnding)
                               : nullptr;
  if (fused != nullptr) {
    decoder_ = StreamStage(fused, ErrorKind::malformed, inputCode, nullptr, &policy_);
    fused_ = true;
    // Where the fused path's pieces can be cut after line ends, the caller
    // and a worker convert them side by side.
    if (options_.worker && fusedPathCutsAtLines(inputCode)) {
      parallel_.reset(new (std::nothrow) ParallelPieces(*fused, inputCode, &policy_, kFusedStarted,
                                                        writer_, options_.piece_workers));
    }
  }
  first_decoder_ = decoder_.converter();
  lines_ = StreamStage(line_end_, ErrorKind::malformed);
  encoder_ =
      StreamStage(encoder, ErrorKind::unmapped, outputCode, &findEncoderAfterStart, &policy_);
}

ConversionStream::Impl::~Impl() {
  stopWorker();
}

bool ConversionStream::Impl::fail(ErrorKind error) {
  if (error_ == ErrorKind::none) error_ = error;
  return false;
}

std::span<std::uint8_t> ConversionStream::Impl::space() {
  if (!ready() || !input_.reserve(options_.piece_size)) return {};
  const std::size_t room =
      options_.piece_size > input_size_ ? options_.piece_size - input_size_ : 0;
  return {input_.data() + input_size_, room};
}

bool ConversionStream::Impl::commit(std::size_t size) {
  if (!ready()) return false;
  input_size_ += size;
  const std::size_t gathered = input_size_;
  input_size_ = 0;
  if (parallel_ != nullptr) return commitLines(gathered);
  return decode(input_.data(), input_.data() + gathered, false);
}

bool ConversionStream::Impl::commitLines(std::size_t gathered) {
  std::uint8_t* const data = input_.data();
  const std::uint8_t* const cut = safeLineCut(data, data + gathered);
  if (cut == nullptr) {
    // No line ends here: the sequential stage takes the piece and carries
    // what it leaves, after the pieces before it are written.
    at_line_start_ = false;
    return drainParallel() && decode(data, data + gathered, false);
  }
  bool ok;
  if (at_line_start_) {
    ok = parallel_->convert(data, cut) || fail(parallel_->drain());
  } else {
    // The first piece, or the first after one without a line end, goes
    // through the sequential stage, which then stands at a line start.
    ok = drainParallel() && decode(data, cut, false);
    at_line_start_ = ok;
  }
  // The rest of the last line waits for the next piece.
  const auto rest = static_cast<std::size_t>(data + gathered - cut);
  std::memmove(data, cut, rest);
  input_size_ = rest;
  return ok;
}

bool ConversionStream::Impl::drainParallel() {
  if (parallel_ == nullptr) return true;
  const ErrorKind error = parallel_->drain();
  return error == ErrorKind::none || fail(error);
}

bool ConversionStream::Impl::feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (!ready()) return false;
    if (!input_.reserve(options_.piece_size)) return fail(ErrorKind::no_memory);
    const std::size_t n = std::min(size, options_.piece_size - input_size_);
    std::memcpy(input_.data() + input_size_, data, n);
    input_size_ += n;
    data += n;
    size -= n;
    if (input_size_ == options_.piece_size && !commit(0)) return false;
  }
  return ready();
}

bool ConversionStream::Impl::flush() {
  if (!ready()) return false;
  const std::size_t gathered = input_size_;
  input_size_ = 0;
  // The side by side pieces are written first; what no line end closes goes
  // through the sequential stage, which then no longer stands at a line
  // start.
  if (!drainParallel()) return false;
  if (gathered != 0) {
    at_line_start_ = false;
    if (!decode(input_.data(), input_.data() + gathered, false)) return false;
  }
  // Every piece handed to the worker is written before this returns.
  if (thread_.joinable()) {
    for (std::size_t i = 0; i < kSlots; ++i) {
      if (!waitForSlot(slots_[i])) {
        stopWorker();
        return false;
      }
    }
  }
  return ready();
}

// A place packs whether the text has begun (bit 0), the decoder that reads
// on (bits 1-5: 0 for the one the stream began with, else its
// decoderNumber) and its shift state (bits 6-25), so that it fits the int of
// a Python codec's state.
namespace {
constexpr int kPlaceStateBits = 20;
}  // namespace

std::vector<std::uint8_t> ConversionStream::Impl::heldInput() const {
  std::vector<std::uint8_t> held(decoder_.carriedBytes(),
                                 decoder_.carriedBytes() + decoder_.carried());
  held.insert(held.end(), input_.data(), input_.data() + input_size_);
  return held;
}

std::uint32_t ConversionStream::Impl::decoderPlace() const {
  const StreamStage::Mark mark = decoder_.mark();
  if (!mark.started) return 0;
  const int number = mark.converter == first_decoder_ ? 0 : decoderNumber(mark.converter);
  if ((mark.converter != first_decoder_ && number == 0) || mark.state < 0 ||
      mark.state >= (1 << kPlaceStateBits)) {
    return kNoPlace;
  }
  return 1u | static_cast<std::uint32_t>(number) << 1 | static_cast<std::uint32_t>(mark.state) << 6;
}

bool ConversionStream::Impl::resumeAt(std::uint32_t place) {
  if (!ready() || pieces_ != 0 || input_size_ != 0 || parallel_ != nullptr) return false;
  if (place == 0) return true;
  if ((place & 1) == 0 || place >> (6 + kPlaceStateBits) != 0) return false;
  const int number = static_cast<int>(place >> 1 & 31);
  const Converter* converter = number == 0 ? first_decoder_ : decoderOfNumber(number);
  if (converter == nullptr) return false;
  decoder_.restore({true, converter, static_cast<std::int32_t>(place >> 6)});
  return true;
}

bool ConversionStream::Impl::finish() {
  if (!ready()) {
    stopWorker();
    return false;
  }
  if (!input_.reserve(input_size_)) return fail(ErrorKind::no_memory);
  const std::size_t gathered = input_size_;
  input_size_ = 0;
  if (drainParallel()) decode(input_.data(), input_.data() + gathered, true);
  stopWorker();
  finished_ = true;
  return error_ == ErrorKind::none;
}

bool ConversionStream::Impl::decode(std::uint8_t* begin, const std::uint8_t* end, bool last) {
  Slot& slot = slots_[next_slot_];
  if (options_.locate) {
    const Saved saved{decoder_, fold_, lines_, encoder_, tally_};
    ErrorKind error = ErrorKind::none;
    TextTally tally = tally_;
    if (!decoder_.run(begin, end, last, slot.decoded)) {
      error = decoder_.error();
    } else {
      tally.add(slot.decoded.data(), slot.decoded.size);
      slot.last = last;
      error =
          marks_ && !expandMarks(slot.decoded, policy_) ? ErrorKind::no_memory : finishSlot(slot);
    }
    if (error == ErrorKind::none) {
      tally_ = tally;
      if (last) tally_.finish();
      // The changes are placed while the pieces that held characters came
      // from are still kept.
      const bool changed = decoder_.runChanges() != 0 || encoder_.runChanges() != 0;
      if (changed && changes_.size() < options_.changes_listed) {
        locateChanges(begin, end, last, saved);
      }
      keepPast(begin, end, saved, slot);
      consumed_ += static_cast<std::size_t>(end - begin);
      return true;
    }
    if (error != ErrorKind::output && error != ErrorKind::no_memory) {
      locate(begin, end, last, saved, error);
      error = failure_.kind;
    }
    return fail(error);
  }
  if (thread_.joinable() && !waitForSlot(slot)) {
    stopWorker();
    return false;
  }
  const StreamStage before = decoder_;
  if (!decoder_.run(begin, end, last, slot.decoded)) {
    // A failure the worker met in an earlier piece comes first.
    stopWorker();
    if (error_ != ErrorKind::none) return false;
    return fail(firstFailure(before, begin));
  }
  slot.last = last;
  ++pieces_;
  // Side by side pieces write for themselves; the worker of the stages
  // would write out of their order.
  if (!thread_.joinable() && options_.worker && parallel_ == nullptr && pieces_ >= 2 && !last) {
    startWorker();
  }
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.busy = true;
    }
    changed_.notify_all();
    next_slot_ = (next_slot_ + 1) % kSlots;
    return true;
  }
  const ErrorKind error = finishSlot(slot);
  return error == ErrorKind::none || fail(error);
}

// The decoder failed in the piece at `begin`: the characters it decoded
// before the failure may hold one that the later stages refuse, which comes
// first in the input. They are run through copies of those stages to tell.
ErrorKind ConversionStream::Impl::firstFailure(const StreamStage& before, std::uint8_t* begin) {
  const ErrorKind decoding = decoder_.error();
  const std::uint8_t* const failed = decoder_.failedAt();
  if (decoding != ErrorKind::malformed || fused_ || failed == nullptr || failed <= begin) {
    return decoding;
  }
  StreamStage decoder = before;
  Slot prefix;
  if (!decoder.run(begin, failed, false, prefix.decoded)) return decoding;
  const StreamStage fold = fold_;
  const StreamStage lines = lines_;
  const StreamStage encoder = encoder_;
  const Writer writer = std::move(writer_);
  writer_ = [](const std::uint8_t*, std::size_t) { return true; };
  const ErrorKind later = finishSlot(prefix);
  writer_ = writer;
  fold_ = fold;
  lines_ = lines;
  encoder_ = encoder;
  return later == ErrorKind::unmapped ? later : decoding;
}

ErrorKind ConversionStream::Impl::finishSlot(Slot& slot) {
  if (fused_) return write(slot.decoded);
  Area* folded = &slot.decoded;
  if (fold_.converter() != nullptr) {
    std::uint8_t* const decoded = slot.decoded.data();
    if (!fold_.run(decoded, decoded + slot.decoded.size, slot.last, slot.folded)) {
      return fold_.error();
    }
    folded = &slot.folded;
  }
  const Area* text = folded;
  std::uint8_t* const decoded = folded->data();
  // Most text has the line endings asked for already; then the stage would
  // copy it unchanged. A CR at the end of a piece may still pair with an LF.
  const bool unchanged = !lines_.carrying() &&
                         line_end_->leavesUnchanged(decoded, decoded + folded->size) &&
                         (slot.last || !endsWithCr(*folded));
  if (!unchanged) {
    if (!lines_.run(decoded, decoded + folded->size, slot.last, slot.lines)) {
      return lines_.error();
    }
    text = &slot.lines;
  }
  std::uint8_t* const internal = const_cast<std::uint8_t*>(text->data());
  if (!encoder_.run(internal, internal + text->size, slot.last, slot.encoded)) {
    return encoder_.error();
  }
  return write(slot.encoded);
}

ErrorKind ConversionStream::Impl::write(const Area& output) {
  if (output.size != 0 && !writer_(output.data(), output.size)) return ErrorKind::output;
  return ErrorKind::none;
}

void ConversionStream::Impl::keepPast(const std::uint8_t* begin, const std::uint8_t* end,
                                      const Saved& saved, const Slot& slot) {
  // Which piece each held character came from (see replay, which follows
  // the same rules a step at a time).
  const std::uint64_t piece = pieces_++;
  const bool foldHeld = saved.fold.carrying();
  const std::uint64_t heldByFold = fold_origin_;
  if (!fold_.carrying()) {
    fold_origin_ = kNoPiece;
  } else if (slot.decoded.size != 0) {
    fold_origin_ = piece;
  }
  const std::size_t units =
      (fold_.converter() != nullptr ? slot.folded.size : slot.decoded.size) / 2;
  if (!encoder_.carrying()) {
    encoder_origin_ = kNoPiece;
  } else if (units >= 2 || (units == 1 && !foldHeld)) {
    encoder_origin_ = piece;
  } else if (units == 1) {
    encoder_origin_ = heldByFold;
  }
  const std::uint64_t oldest = std::min(fold_origin_, encoder_origin_);
  while (!past_.empty() && past_.front().piece < oldest) past_.pop_front();
  if (oldest > piece) return;
  try {
    // Room before the bytes, where a stage puts what it carries.
    std::vector<std::uint8_t> bytes(Area::kHeadroom);
    bytes.insert(bytes.end(), begin, end);
    past_.push_back(Past{saved, consumed_, piece, std::move(bytes)});
  } catch (const std::bad_alloc&) {
    past_.clear();  // the held character is then placed at the failed piece
  }
  // A hold that no piece renews is of tiny pieces; a few of them are kept.
  while (past_.size() > kPastPieces) past_.pop_front();
}

bool ConversionStream::Impl::startWorker() {
  stopping_ = false;
  try {
    thread_ = std::thread(&ConversionStream::Impl::work, this, next_slot_);
  } catch (const std::system_error&) {
    return false;  // the caller's thread does all the work
  }
  return true;
}

void ConversionStream::Impl::work(std::size_t index) {
  for (;;) {
    Slot& slot = slots_[index];
    ErrorKind previous;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return slot.busy || stopping_; });
      if (!slot.busy) return;
      previous = worker_error_;
    }
    // After a failure the remaining pieces are only handed back.
    const ErrorKind error = previous == ErrorKind::none ? finishSlot(slot) : previous;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      worker_error_ = error;
      slot.busy = false;
    }
    changed_.notify_all();
    index = (index + 1) % kSlots;
  }
}

bool ConversionStream::Impl::waitForSlot(Slot& slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !slot.busy; });
  return worker_error_ == ErrorKind::none;
}

void ConversionStream::Impl::stopWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (worker_error_ != ErrorKind::none) {
    // The worker's pieces come before the caller's: its failure is the first.
    error_ = worker_error_;
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

// After a step whose characters stand at `step` (`decoded`: it decoded
// some; `units` reached the encoder), which characters the fold stage and
// the encoder hold, and where they came from: a hold that this step renewed
// is of this step's character.
void ConversionStream::Impl::holdPlaces(Held& held, const Place& step, bool decoded,
                                        std::size_t units, bool foldHeld) const {
  const Place heldByFold = held.fold;
  held.fold = fold_.carrying() ? (decoded ? step : heldByFold) : Place{};
  if (!encoder_.carrying()) {
    held.encoder = Place{};
  } else if (units >= 2 || (units == 1 && !foldHeld)) {
    held.encoder = step;
  } else if (units == 1) {
    held.encoder = heldByFold;
  }
}

// Runs a piece that changed something again from the stages as they stood
// before it, one input byte at a time, as locate() does for a failure, and
// lists each change where the step that made it places it. The stages and
// the tally end as the piece left them; only the listing is new.
void ConversionStream::Impl::locateChanges(std::uint8_t* begin, const std::uint8_t* end, bool last,
                                           const Saved& saved) {
  const Saved after{decoder_, fold_, lines_, encoder_, tally_};
  // Where the characters that the fold stage and the encoder hold at the
  // start of this piece stand: the pieces they came from are stepped through
  // again (as locate() does for a failure).
  Held held;
  if (!past_.empty()) {
    const Error kept = failure_;
    const Saved& start = past_.front().saved;
    decoder_ = start.decoder;
    fold_ = start.fold;
    lines_ = start.lines;
    encoder_ = start.encoder;
    tally_ = start.tally;
    for (Past& past : past_) {
      replay(past.bytes.data() + Area::kHeadroom, past.bytes.data() + past.bytes.size(), false,
             past.consumed, held);
    }
    failure_ = kept;
  }
  decoder_ = saved.decoder;
  fold_ = saved.fold;
  lines_ = saved.lines;
  encoder_ = saved.encoder;
  tally_ = saved.tally;
  Area decoded;
  Area folded;
  Area lines;
  Area encoded;
  const auto size = static_cast<std::size_t>(end - begin);
  for (std::size_t i = 0; i <= size && changes_.size() < options_.changes_listed; ++i) {
    const bool final = i == size;
    if (final && !last) break;
    std::uint8_t* const at = begin + i;
    const std::uint8_t* const stepEnd = final ? at : at + 1;
    const std::uint8_t* const pending = at - decoder_.carried();
    Error change;
    change.offset = consumed_ + i - decoder_.carried();
    change.line = tally_.line();
    change.column = tally_.column();
    const StreamStage before = decoder_;
    if (!decoder_.run(at, stepEnd, final, decoded)) break;
    // This step's changes, listed in the input's order once all are known.
    std::vector<Error> found_here;
    // One new byte ends a few malformed sequences at most (EUC-JP 8F E3
    // then a byte that no pair takes ends three), each kept with its place,
    // its length and where its stand-in begins.
    const int kept = std::min(decoder_.runChanges(), ConversionBuffer::kChangesKept);
    for (int k = 0; k < kept; ++k) {
      const StreamStage::Change& made = decoder_.keptChange(k);
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
    const bool foldHeld = fold_.carrying();
    const bool encoderHeld = encoder_.carrying();
    const std::size_t encoderCarried = encoder_.carried();
    std::uint8_t* text = decoded.data();
    std::size_t textSize = decoded.size;
    if (fold_.converter() != nullptr) {
      if (!fold_.run(text, text + textSize, final, folded)) break;
      text = folded.data();
      textSize = folded.size;
    }
    if (!lines_.run(text, text + textSize, final, lines)) break;
    std::uint8_t* const internal = lines.data();
    if (!encoder_.run(internal, internal + lines.size, final, encoded)) break;
    // Where this step's characters stand, and the bytes they came from.
    Place step;
    step.known = true;
    step.offset = change.offset;
    step.line = change.line;
    step.column = change.column;
    Error stepBytes;
    keepBytes(stepBytes, pending, stepEnd);
    step.byte_count = stepBytes.byte_count;
    step.bytes = stepBytes.bytes;
    // A character the encoder held from before (a kana that a voiced mark
    // may follow) is placed where it was read, not at this step.
    const int refused = std::min(encoder_.runChanges(), ConversionBuffer::kChangesKept);
    for (int k = 0; k < refused; ++k) {
      const std::uint8_t* const unit = encoder_.keptChange(k).at;
      const Place& place = encoderHeld && unit == internal - encoderCarried && held.encoder.known
                               ? held.encoder
                               : step;
      Error found;
      found.kind = ErrorKind::unmapped;
      found.offset = place.offset;
      found.line = place.line;
      found.column = place.column;
      found.bytes = place.bytes;
      found.byte_count = place.byte_count;
      int length;
      found.character = characterOf(unit, internal + lines.size, length);
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
    holdPlaces(held, step, decoded.size != 0, textSize / 2, foldHeld);
  }
  decoder_ = after.decoder;
  fold_ = after.fold;
  lines_ = after.lines;
  encoder_ = after.encoder;
  tally_ = after.tally;
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
// decoded gives its offset, line and column. A character that the fold stage
// or the encoder still held from an earlier piece (a kana waiting for a
// mark) is placed by running those pieces again first.
void ConversionStream::Impl::locate(std::uint8_t* begin, const std::uint8_t* end, bool last,
                                    const Saved& saved, ErrorKind first) {
  const bool fromPast = !past_.empty();
  const Saved& start = fromPast ? past_.front().saved : saved;
  decoder_ = start.decoder;
  fold_ = start.fold;
  lines_ = start.lines;
  encoder_ = start.encoder;
  tally_ = start.tally;
  failure_ = Error{};
  Held held;
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
                                    std::uint64_t consumed, Held& held) {
  Area decoded;
  Area folded;
  Area lines;
  Area encoded;
  const auto size = static_cast<std::size_t>(end - begin);
  for (std::size_t i = 0; i <= size; ++i) {
    const bool final = i == size;
    if (final && !last) break;
    std::uint8_t* const at = begin + i;
    const std::uint8_t* const stepEnd = final ? at : at + 1;
    // The first byte that no step has consumed yet begins the next
    // character; the decoder carries it and those after it.
    const std::uint8_t* const pending = at - decoder_.carried();
    Place step;
    step.offset = consumed + i - decoder_.carried();
    step.line = tally_.line();
    step.column = tally_.column();
    failure_.offset = step.offset;
    failure_.line = step.line;
    failure_.column = step.column;
    const StreamStage before = decoder_;
    const bool foldHeld = fold_.carrying();
    const bool encoderHeld = encoder_.carrying();
    if (!decoder_.run(at, stepEnd, final, decoded)) {
      failure_.kind = decoder_.error();
      const std::uint8_t* const bad =
          decoder_.failedAt() != nullptr ? decoder_.failedAt() : pending;
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
    std::uint8_t* const text = decoded.data();
    std::uint8_t* foldedText = text;
    std::size_t foldedSize = decoded.size;
    if (fold_.converter() != nullptr) {
      if (!fold_.run(text, text + decoded.size, final, folded)) {
        failure_.kind = fold_.error();
        return true;
      }
      foldedText = folded.data();
      foldedSize = folded.size;
    }
    if (!lines_.run(foldedText, foldedText + foldedSize, final, lines)) {
      failure_.kind = lines_.error();
      return true;
    }
    std::uint8_t* const internal = lines.data();
    if (!encoder_.run(internal, internal + lines.size, final, encoded)) {
      // The character that this byte completed is the one the encoder
      // refused, unless the refused unit is one held from before: nothing
      // else reached the encoder in this step but line endings.
      failure_.kind = encoder_.error();
      keepBytes(failure_, pending, stepEnd);
      const std::uint8_t* const unit = encoder_.failedAt();
      if (failure_.kind == ErrorKind::too_large || unit == nullptr ||
          internal + lines.size - unit < 2) {
        return true;
      }
      const std::uint8_t* const input = internal - encoder_.carried();
      bool firstOfStep = true;
      for (const std::uint8_t* q = internal; q < unit; q += 2) {
        firstOfStep = firstOfStep && isLineEnd(q);
      }
      const Place* place = nullptr;
      if (encoderHeld && unit == input) {
        place = &held.encoder;
      } else if (foldHeld && unit >= internal && firstOfStep) {
        place = &held.fold;
      }
      if (place != nullptr && place->known) {
        failure_.offset = place->offset;
        failure_.line = place->line;
        failure_.column = place->column;
        failure_.byte_count = place->byte_count;
        failure_.bytes = place->bytes;
      }
      std::uint32_t c = static_cast<std::uint32_t>(unit[0] << 8 | unit[1]);
      const std::uint32_t next = internal + lines.size - unit >= 4
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
      failure_.character = c;
      return true;
    }
    tally_ = next;
    // Where the held characters stand: a hold that this step renewed is of
    // this step's character.
    step.known = true;
    Error bytes;
    keepBytes(bytes, pending, stepEnd);
    step.byte_count = bytes.byte_count;
    step.bytes = bytes.bytes;
    holdPlaces(held, step, decoded.size != 0, foldedSize / 2, foldHeld);
  }
  return false;
}

ConversionStream::ConversionStream(int inputCode, int outputCode, int lineEnding, Writer writer)
    : ConversionStream(inputCode, outputCode, lineEnding, std::move(writer), Options{}) {}

ConversionStream::ConversionStream(int inputCode, int outputCode, int lineEnding, Writer writer,
                                   Options options)
    : impl_(new (std::nothrow)
                Impl(inputCode, outputCode, lineEnding, std::move(writer), options)) {}

ConversionStream::~ConversionStream() = default;

namespace {

const Error kNoFailure{ErrorKind::no_memory};
const std::vector<Error> kNoChanges;

}  // namespace

bool ConversionStream::feed(const std::uint8_t* data, std::size_t size) {
  return impl_ != nullptr && impl_->feed(data, size);
}

std::span<std::uint8_t> ConversionStream::space() {
  return impl_ != nullptr ? impl_->space() : std::span<std::uint8_t>{};
}

bool ConversionStream::commit(std::size_t size) {
  return impl_ != nullptr && impl_->commit(size);
}

bool ConversionStream::flush() {
  return impl_ != nullptr && impl_->flush();
}

bool ConversionStream::finish() {
  return impl_ != nullptr && impl_->finish();
}

std::vector<std::uint8_t> ConversionStream::heldInput() const {
  return impl_ != nullptr ? impl_->heldInput() : std::vector<std::uint8_t>{};
}

std::uint32_t ConversionStream::decoderPlace() const {
  return impl_ != nullptr ? impl_->decoderPlace() : kNoPlace;
}

bool ConversionStream::resumeAt(std::uint32_t place) {
  return impl_ != nullptr && impl_->resumeAt(place);
}

ErrorKind ConversionStream::error() const {
  return impl_ != nullptr ? impl_->error() : ErrorKind::no_memory;
}

const Error& ConversionStream::failure() const {
  return impl_ != nullptr ? impl_->failure() : kNoFailure;
}

unsigned ConversionStream::lineEndingsSeen() const {
  return impl_ != nullptr ? impl_->lineEndingsSeen() : 0;
}

std::uint64_t ConversionStream::changeCount() const {
  return impl_ != nullptr ? impl_->changeCount() : 0;
}

std::vector<Error> ConversionStream::takeChanges() {
  return impl_ != nullptr ? impl_->takeChanges() : std::vector<Error>{};
}

const std::vector<Error>& ConversionStream::changes() const {
  return impl_ != nullptr ? impl_->changes() : kNoChanges;
}

}  // namespace mek
