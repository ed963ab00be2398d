#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "codec/piece.h"
#include "mek/converter.h"
#include "mek/error.h"

namespace mek {

// A growable byte area that keeps kHeadroom bytes free before its data, where
// a stage puts the bytes it carries over from the piece before.
class Area {
 public:
  static constexpr std::size_t kHeadroom = 32;

  Area() = default;
  ~Area();
  Area(const Area&) = delete;
  Area& operator=(const Area&) = delete;

  // Makes room for `size` bytes of data; false when memory is short (the
  // data already there is then kept).
  bool reserve(std::size_t size);
  std::uint8_t* data() { return block_ == nullptr ? nullptr : block_ + kHeadroom; }
  const std::uint8_t* data() const { return block_ == nullptr ? nullptr : block_ + kHeadroom; }
  std::size_t capacity() const { return capacity_; }
  // Trades blocks with `other`, data and all: a piece changes hands
  // without a copy.
  void swap(Area& other) noexcept {
    std::swap(block_, other.block_);
    std::swap(capacity_, other.capacity_);
    std::swap(size, other.size);
  }

  // Bytes of data in use, set by whoever fills the area.
  std::size_t size = 0;

 private:
  std::uint8_t* block_ = nullptr;
  std::size_t capacity_ = 0;
};

// One stage of a streamed conversion: a converter run over a text piece by
// piece. The bytes that a piece leaves unconsumed at its end (a sequence cut
// by the piece boundary) are carried into the next piece, and the
// converter's shift state goes with them, so that the pieces give the bytes
// that one run over the whole text gives. Converters that treat the start of
// a text specially (byte-order marks) hand over to a converter for the rest
// once the start has been read.
class StreamStage {
 public:
  // The converter for the rest of the text, given the converter's code and
  // the input that began the text; null keeps the converter.
  using AfterStart = const Converter* (*)(int code, const std::uint8_t* begin,
                                          const std::uint8_t* end);
  // The most bytes a piece can leave unconsumed, unless the stage holds
  // more (holdUpTo).
  static constexpr std::size_t kMaxCarry = 16;
  static_assert(kMaxCarry <= Area::kHeadroom);

  StreamStage() = default;
  StreamStage(const Converter* converter, ErrorKind failure, int code = 0,
              AfterStart afterStart = nullptr, const ErrorPolicy* policy = nullptr)
      : converter_(converter),
        after_start_(afterStart),
        policy_(policy),
        code_(code),
        failure_(failure) {}

  // Converts the next piece [begin, end) into `out` (its data and size). The
  // bytes carried from the piece before are put right before `begin`, which
  // needs Area::kHeadroom writable bytes before it. `last` ends the text.
  // A sequence that the end of the text cuts off fails it as malformed
  // input at its first byte; a forgiving error policy writes its substitute
  // instead (for decoders).
  bool run(std::uint8_t* begin, const std::uint8_t* end, bool last, Area& out);
  // The same without output: only whether the piece is acceptable. A
  // sequence cut off by the end of the text is accepted, and cutOff() tells
  // of it.
  bool check(std::uint8_t* begin, const std::uint8_t* end, bool last);
  bool cutOff() const { return cut_off_; }
  // Under a forgiving error policy: the changes made so far, and those of
  // the last successful run with where the first and the last of them
  // began in its input (null when none).
  std::uint64_t changes() const { return changes_; }
  std::int32_t runChanges() const { return run_changes_; }
  const std::uint8_t* firstChange() const { return first_change_; }
  const std::uint8_t* lastChange() const { return last_change_; }
  // Where the last change's stand-in begins in the last run's output.
  std::size_t lastChangeOutput() const { return last_change_output_; }
  // The first ConversionBuffer::kChangesKept changes of the last run: where
  // each began in its input, how many bytes a decoder replaced there, and
  // where its stand-in begins in the output.
  struct Change {
    const std::uint8_t* at = nullptr;
    std::size_t length = 0;
    std::size_t output = 0;
  };
  const Change& keptChange(int i) const { return kept_[i]; }

  // Lets the converter leave up to `bytes` unconsumed (a whole line or
  // header field that the next piece may still end). What is beyond
  // kMaxCarry is kept on the heap, and the next piece is then run from a
  // copy that begins with it.
  void holdUpTo(std::size_t bytes) { max_carry_ = bytes; }

  bool carrying() const { return carry_size_ != 0; }
  // Where the stage stands in a text: whether the text has begun, the
  // converter that reads on and its shift state; restore() starts the stage
  // there with nothing carried.
  struct Mark {
    bool started = false;
    const Converter* converter = nullptr;
    std::int32_t state = 0;
  };
  Mark mark() const { return {started_, converter_, state_}; }
  void restore(const Mark& mark) {
    started_ = mark.started;
    converter_ = mark.converter;
    state_ = mark.state;
    carry_size_ = 0;
    cut_off_ = false;
  }
  // The bytes carried into the next run (carried() of them).
  const std::uint8_t* carriedBytes() const {
    return carry_size_ > kMaxCarry ? held_.data() : carry_;
  }
  // Starts the stage in the middle of a text, from its converter's `state`,
  // with nothing carried.
  void resumeAt(std::int32_t state) {
    state_ = state;
    started_ = true;
  }
  // Starts the stage in the middle of a text whose bytes up to here another
  // scan has consumed by the same rules, leaving `size` bytes over.
  void carryIn(const std::uint8_t* bytes, std::size_t size);
  // The bytes carried from the piece before into the next run; after a
  // failed run, those that run began with.
  std::size_t carried() const { return carry_size_; }
  ErrorKind error() const { return error_; }
  // After the converter failed: where in the failed run's input (the
  // carried bytes are put right before the piece) and its kind of failure
  // (kMalformedInput, kUnmappable or kOutputTooLarge).
  const std::uint8_t* failedAt() const { return failed_at_; }
  std::int32_t failedKind() const { return failed_kind_; }
  const Converter* converter() const { return converter_; }
  // Where the input of the last run or check began (the carried bytes
  // first), to which failedAt() and keptChange() point.
  const std::uint8_t* lastInput() const { return input_; }
  // The converter's shift state where the next run begins.
  std::int32_t state() const { return state_; }

 private:
  // Puts the carried bytes before `begin` and answers where the input
  // starts; a carry beyond kMaxCarry goes with the piece into joined_, and
  // `end` then moves there too.
  std::uint8_t* withCarry(std::uint8_t* begin, const std::uint8_t*& end);
  // Carries what `buffer` left unconsumed and moves on to the rest converter.
  bool advance(const ConversionBuffer& buffer, const Piece& piece, std::size_t produced);
  bool fail(ErrorKind error);
  // Keeps what the converter left in `buffer` after it failed.
  bool converterFailed(const ConversionBuffer& buffer, ErrorKind error);

  const Converter* converter_ = nullptr;
  AfterStart after_start_ = nullptr;
  const ErrorPolicy* policy_ = nullptr;  // null: strict; check() is always strict
  int code_ = 0;
  ErrorKind failure_ = ErrorKind::malformed;
  ErrorKind error_ = ErrorKind::none;
  bool started_ = false;
  std::int32_t state_ = 0;
  std::uint8_t carry_[kMaxCarry] = {};
  std::size_t carry_size_ = 0;
  std::size_t max_carry_ = kMaxCarry;
  // Room that a copy of the stage (kept to run a piece again) does not take
  // along: it only matters during a run.
  struct Scratch {
    std::vector<std::uint8_t> bytes;
    Scratch() = default;
    Scratch(const Scratch&) {}
    Scratch& operator=(const Scratch&) { return *this; }
  };
  std::vector<std::uint8_t> held_;  // a carry beyond kMaxCarry
  Scratch joined_;                  // such a carry and the piece after it
  bool cut_off_ = false;            // the last piece left a sequence unconsumed
  std::uint64_t changes_ = 0;
  std::int32_t run_changes_ = 0;
  const std::uint8_t* first_change_ = nullptr;
  const std::uint8_t* last_change_ = nullptr;
  std::size_t last_change_output_ = 0;
  Change kept_[ConversionBuffer::kChangesKept];
  const std::uint8_t* failed_at_ = nullptr;
  std::int32_t failed_kind_ = 0;
  const std::uint8_t* input_ = nullptr;
};

}  // namespace mek
