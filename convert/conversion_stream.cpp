#include "mek/detail/conversion_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "convert/after_start.h"
#include "convert/conversion_stream_impl.h"
#include "convert/fused_paths.h"
#include "convert/line_cuts.h"
#include "convert/parallel_pieces.h"
#include "mek/codes.h"
#include "mek/registry.h"

namespace mek {

// The areas of one piece on its way through the list, one for each stage's
// output. Two of them let the caller decode one piece while the worker
// finishes the other.
struct ConversionStream::Impl::Slot {
  std::unique_ptr<Area[]> areas;
  std::uint8_t* decoded = nullptr;  // the decoder's output, where the worker begins
  std::size_t decoded_size = 0;
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

}  // namespace

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

ConversionStream::Impl::Impl(Code from, Code to, LineEnding eol, Writer writer, Options options)
    : writer_(std::move(writer)), options_(options), slots_(new (std::nothrow) Slot[kSlots]) {
  if (options_.piece_size == 0) options_.piece_size = 1;
  // A failed piece is traced on the thread that still holds its input.
  if (options_.locate) options_.worker = false;
  const int inputCode = numberOf(from);
  const int outputCode = numberOf(to);
  const int lineEnding = numberOf(eol);
  const Converter* decoding = findDecoder(inputCode);
  const Converter* encoding = findEncoder(outputCode);
  const EndOfLineConverter* lines = findLineEndConverter(lineEnding);
  policy_ = errorPolicyFor(options_.errors, options_.fallback, options_.replacement, outputCode);
  if (decoding == nullptr || encoding == nullptr || lines == nullptr || !writer_) {
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
  Stage decoderStage;
  decoderStage.stream = StreamStage(decoding, ErrorKind::malformed, inputCode,
                                    &findDecoderAfterStart, marks_ ? &marking_policy_ : &policy_);
  Stage encoderStage;
  encoderStage.stream =
      StreamStage(encoding, ErrorKind::unmapped, outputCode, &findEncoderAfterStart, &policy_);
  try {
    stages_ = stageList({inputCode, outputCode, lineEnding, options_.folds, options_.transfer_in,
                         options_.transfer_out, options_.mime_decode, options_.mime_encode,
                         options_.repair, &policy_},
                        decoderStage, encoderStage, options_.added_stages);
    for (std::size_t i = 0; i < kSlots; ++i) slots_[i].areas.reset(new Area[stages_.size()]);
    origins_.assign(stages_.size(), kNoPiece);
    if (options_.locate) {
      for (Run* run : {&piece_run_, &step_run_}) {
        run->held_before.assign(stages_.size(), false);
        run->units.assign(stages_.size(), 0);
      }
      step_areas_.reset(new Area[stages_.size()]);
    }
  } catch (const std::bad_alloc&) {
    error_ = ErrorKind::no_memory;
    return;
  }
  for (std::size_t i = 0; i < stages_.size(); ++i) {
    if (stages_[i].kind == StageKind::decoder) decoder_at_ = i;
    if (stages_[i].kind == StageKind::encoder) encoder_at_ = i;
    if (stages_[i].repair) repair_at_ = i;
  }
  // A fused path does the work of the decoder, the line endings and the
  // encoder in the decoder's scan, when the list has no other stage.
  const bool threeStages = stages_.size() == 3 && stages_[1].stream.converter() == lines;
  const Converter* fused = options_.fused && !options_.locate && threeStages
                               ? findFusedPath(inputCode, outputCode, lineEnding)
                               : nullptr;
  if (fused != nullptr) {
    stages_.resize(1);
    stages_[0].stream = StreamStage(fused, ErrorKind::malformed, inputCode, nullptr, &policy_);
    encoder_at_ = stages_.size();
    fused_ = true;
    // Where the fused path's pieces can be cut after line ends, the caller
    // and a worker convert them side by side.
    line_cut_ = lineCutFor(inputCode);
    if (options_.worker && line_cut_ != nullptr) {
      parallel_.reset(new (std::nothrow) ParallelPieces(*fused, inputCode, &policy_, kFusedStarted,
                                                        writer_, options_.piece_workers));
    }
  }
  first_decoder_ = decoder().converter();
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
  const std::uint8_t* const cut = line_cut_(data, data + gathered, offset_);
  if (cut == nullptr) {
    // No line ends here: the sequential stage takes the piece and carries
    // what it leaves, after the pieces before it are written.
    at_line_start_ = false;
    offset_ += gathered;
    return drainParallel() && decode(data, data + gathered, false);
  }
  offset_ += static_cast<std::uint64_t>(cut - data);
  // The rest of the last line waits for the next piece, at the start of the
  // input area.
  const auto rest = static_cast<std::size_t>(data + gathered - cut);
  bool ok;
  if (at_line_start_) {
    ok = parallel_->convert(input_, static_cast<std::size_t>(cut - data), gathered) ||
         fail(parallel_->drain());
  } else {
    // The first piece, or the first after one without a line end, goes
    // through the sequential stage, which then stands at a line start.
    ok = drainParallel() && decode(data, cut, false);
    at_line_start_ = ok;
    std::memmove(data, cut, rest);
  }
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
    offset_ += gathered;
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

std::vector<std::uint8_t> ConversionStream::Impl::held() const {
  if (stages_.empty()) return {};
  const StreamStage& first = stages_.front().stream;
  std::vector<std::uint8_t> held(first.carriedBytes(), first.carriedBytes() + first.carried());
  held.insert(held.end(), input_.data(), input_.data() + input_size_);
  return held;
}

std::uint32_t ConversionStream::Impl::place() const {
  if (stages_.empty()) return 0;
  // A stage of bytes before the decoder has a state of its own.
  if (decoder_at_ != 0) return kNoPlace;
  const StreamStage::Mark mark = decoder().mark();
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
  if ((place & 1) == 0 || place >> (6 + kPlaceStateBits) != 0 || decoder_at_ != 0) return false;
  const int number = static_cast<int>(place >> 1 & 31);
  const Converter* converter = number == 0 ? first_decoder_ : decoderOfNumber(number);
  if (converter == nullptr) return false;
  decoder().restore({true, converter, static_cast<std::int32_t>(place >> 6)});
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
  if (!options_.locate && thread_.joinable() && !waitForSlot(slot)) {
    stopWorker();
    return false;
  }
  // The stages of bytes before the decoder: the decoder reads their output.
  std::uint8_t* input = begin;
  std::size_t size = static_cast<std::size_t>(end - begin);
  ErrorKind error = runStages(0, decoder_at_, slot.areas.get(), input, size, last);
  if (error != ErrorKind::none) {
    // Places count the decoder's input: such a failure has none.
    stopWorker();
    return fail(error);
  }
  begin = input;
  end = input + size;
  Area& decoded = slot.areas[decoder_at_];
  if (options_.locate) {
    const Saved saved{stages_, tally_};
    TextTally tally = tally_;
    Run& run = piece_run_;
    if (!decoder().run(begin, end, last, decoded)) {
      error = decoder().error();
    } else {
      tally.add(decoded.data(), decoded.size);
      slot.last = last;
      error =
          marks_ && !expandMarks(decoded, policy_) ? ErrorKind::no_memory : finishSlot(slot, &run);
    }
    if (error == ErrorKind::none) {
      tally_ = tally;
      if (last) tally_.finish();
      // The changes are placed while the pieces that held characters came
      // from are still kept.
      if (changes_.size() < options_.changes_listed &&
          std::any_of(stages_.begin(), stages_.end(),
                      [](const Stage& stage) { return stage.stream.runChanges() != 0; })) {
        locateChanges(begin, end, last, saved);
      }
      keepPast(begin, end, saved, run);
      consumed_ += static_cast<std::size_t>(end - begin);
      return true;
    }
    if (error != ErrorKind::output && error != ErrorKind::no_memory) {
      locate(begin, end, last, saved, error);
      error = failure_.kind;
    }
    return fail(error);
  }
  const StreamStage before = decoder();
  if (!decoder().run(begin, end, last, decoded)) {
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
  error = finishSlot(slot);
  return error == ErrorKind::none || fail(error);
}

// The decoder failed in the piece at `begin`: the characters it decoded
// before the failure may hold one that the later stages refuse, which comes
// first in the input. They are run through copies of those stages to tell.
ErrorKind ConversionStream::Impl::firstFailure(const StreamStage& before, std::uint8_t* begin) {
  const ErrorKind decoding = decoder().error();
  const std::uint8_t* const failed = decoder().failedAt();
  if (decoding != ErrorKind::malformed || fused_ || failed == nullptr || failed <= begin) {
    return decoding;
  }
  StreamStage decoder = before;
  Area prefix;
  if (!decoder.run(begin, failed, false, prefix)) return decoding;
  const std::vector<Stage> stages = stages_;
  std::unique_ptr<Area[]> areas(new (std::nothrow) Area[stages_.size()]);
  if (areas == nullptr) return decoding;
  std::uint8_t* text = prefix.data();
  std::size_t size = prefix.size;
  const ErrorKind later =
      runStages(decoder_at_ + 1, stages_.size(), areas.get(), text, size, false);
  stages_ = stages;
  return later == ErrorKind::unmapped ? later : decoding;
}

ErrorKind ConversionStream::Impl::runStages(std::size_t first, std::size_t end, Area* areas,
                                            std::uint8_t*& text, std::size_t& size, bool last,
                                            Run* run) {
  for (std::size_t i = first; i < end; ++i) {
    if (stages_[i].repair) {
      RepairStage& lines = *stages_[i].repair;
      if (run != nullptr) {
        run->held_before[i] = lines.holding();
        run->repair_input = text;
      }
      if (!lines.run(text, text + size, last, areas[i])) return lines.error();
      text = areas[i].data();
      size = areas[i].size;
      if (run != nullptr) run->units[i] = size / 2;
      continue;
    }
    StreamStage& stage = stages_[i].stream;
    const bool carrying = stage.carrying();
    if (run != nullptr) run->held_before[i] = carrying;
    const auto passes = stages_[i].passes;
    if (carrying || passes == nullptr || !passes(*stage.converter(), text, text + size, last)) {
      if (!stage.run(text, text + size, last, areas[i])) return stage.error();
      text = areas[i].data();
      size = areas[i].size;
    }
    if (run != nullptr) run->units[i] = size / 2;
  }
  return ErrorKind::none;
}

ErrorKind ConversionStream::Impl::finishSlot(Slot& slot, Run* run) {
  Area& decoded = slot.areas[decoder_at_];
  std::uint8_t* text = decoded.data();
  std::size_t size = decoded.size;
  if (run != nullptr) run->units[decoder_at_] = size / 2;
  const ErrorKind error =
      runStages(decoder_at_ + 1, stages_.size(), slot.areas.get(), text, size, slot.last, run);
  if (error != ErrorKind::none) return error;
  return write(text, size);
}

ErrorKind ConversionStream::Impl::write(const std::uint8_t* data, std::size_t size) {
  if (size != 0 && !writer_(data, size)) return ErrorKind::output;
  return ErrorKind::none;
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

ConversionStream::ConversionStream(Code from, Code to, LineEnding eol, Writer writer)
    : ConversionStream(from, to, eol, std::move(writer), Options{}) {}

ConversionStream::ConversionStream(Code from, Code to, LineEnding eol, Writer writer,
                                   Options options)
    : impl_(new (std::nothrow) Impl(from, to, eol, std::move(writer), std::move(options))) {}

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

std::vector<std::uint8_t> ConversionStream::held() const {
  return impl_ != nullptr ? impl_->held() : std::vector<std::uint8_t>{};
}

std::uint32_t ConversionStream::place() const {
  return impl_ != nullptr ? impl_->place() : kNoPlace;
}

bool ConversionStream::resumeAt(std::uint32_t place) {
  return impl_ != nullptr && impl_->resumeAt(place);
}

Error ConversionStream::error() const {
  return impl_ != nullptr ? impl_->error() : kNoFailure;
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

std::vector<RepairedStretch> ConversionStream::repairs() const {
  return impl_ != nullptr ? impl_->repairs() : std::vector<RepairedStretch>{};
}

const std::vector<Error>& ConversionStream::changes() const {
  return impl_ != nullptr ? impl_->changes() : kNoChanges;
}

}  // namespace mek
