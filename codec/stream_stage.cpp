#include "codec/stream_stage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

namespace mek {
namespace {

// Bytes beyond a converter's bound in an area converted into without
// measuring: block stores never write past the count of the scan, so this is
// a margin of safety, not a need.
constexpr std::size_t kBoundSlack = 64;

}  // namespace

Area::~Area() {
  std::free(block_);
}

bool Area::reserve(std::size_t size) {
  if (block_ != nullptr && size <= capacity_) return true;
  // Grows by half again at least, so that slowly growing pieces do not
  // reallocate each time.
  std::size_t wanted = size;
  if (block_ != nullptr && wanted < capacity_ + capacity_ / 2) wanted = capacity_ + capacity_ / 2;
  void* block = std::realloc(block_, kHeadroom + wanted);
  if (block == nullptr) return false;
  block_ = static_cast<std::uint8_t*>(block);
  capacity_ = wanted;
  return true;
}

std::uint8_t* StreamStage::withCarry(std::uint8_t* begin, const std::uint8_t*& end) {
  if (carry_size_ == 0) return begin;
  if (carry_size_ > kMaxCarry) {
    // Only a stage that holds whole lines gets here, a piece a line: the
    // copy costs what the stage's own scan of the line does.
    try {
      std::vector<std::uint8_t>& joined = joined_.bytes;
      joined.assign(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(carry_size_));
      joined.insert(joined.end(), static_cast<const std::uint8_t*>(begin), end);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    end = joined_.bytes.data() + joined_.bytes.size();
    return joined_.bytes.data();
  }
  begin -= carry_size_;
  std::memmove(begin, carry_, carry_size_);
  return begin;
}

void StreamStage::carryIn(const std::uint8_t* bytes, std::size_t size) {
  carry_size_ = size < kMaxCarry ? size : kMaxCarry;
  if (carry_size_ != 0) std::memcpy(carry_, bytes, carry_size_);
}

bool StreamStage::fail(ErrorKind error) {
  error_ = error;
  return false;
}

bool StreamStage::converterFailed(const ConversionBuffer& buffer, ErrorKind error) {
  // A converter that failed without saying where is taken to have failed at
  // the start of its input.
  const bool inside = buffer.stop >= buffer.in_begin && buffer.stop <= buffer.in_end;
  failed_at_ = inside ? buffer.stop : buffer.in_begin;
  failed_kind_ = buffer.size;
  // A fused path does an encoder's work in a decoder's stage.
  if (error == ErrorKind::malformed && buffer.size == kUnmappable) error = ErrorKind::unmapped;
  return fail(error);
}

bool StreamStage::advance(const ConversionBuffer& buffer, const Piece& piece,
                          std::size_t produced) {
  state_ = piece.end_state;
  const std::size_t left = static_cast<std::size_t>(buffer.in_end - buffer.stop);
  if (!started_ && (buffer.stop != buffer.in_begin || produced != 0)) {
    started_ = true;
    const Converter* rest =
        after_start_ != nullptr ? after_start_(code_, buffer.in_begin, buffer.in_end) : nullptr;
    if (rest != nullptr) converter_ = rest;
  }
  if (piece.last) {
    // What the converter left at the end of the text is a sequence that the
    // end cut off; `run` fails on it, `check` only notes it.
    carry_size_ = 0;
    cut_off_ = left != 0;
    return true;
  }
  // Converters leave at most one cut-off sequence, which is short, or what
  // the stage holds.
  if (left > max_carry_) return fail(failure_);
  if (left > kMaxCarry) {
    try {
      held_.assign(buffer.stop, buffer.in_end);
    } catch (const std::bad_alloc&) {
      return fail(ErrorKind::no_memory);
    }
  } else if (left != 0) {
    std::memcpy(carry_, buffer.stop, left);
  }
  carry_size_ = left;
  return true;
}

bool StreamStage::run(std::uint8_t* begin, const std::uint8_t* end, bool last, Area& out) {
  if (error_ != ErrorKind::none) return false;
  ConversionBuffer buffer;
  buffer.in_begin = withCarry(begin, end);
  if (buffer.in_begin == nullptr) return fail(ErrorKind::no_memory);
  input_ = buffer.in_begin;
  buffer.in_end = end;
  buffer.policy = policy_;
  Piece piece{state_, state_, last};
  // Room for a substitute of a sequence that the end cuts off.
  const std::size_t tail = last ? 2 * std::size(ErrorPolicy{}.substitute) : 0;
  // Under the strict policy a converter's bound on its output lets the piece
  // be converted in one scan, into an area of that size, instead of being
  // measured first; the scan fails where measuring would have.
  const bool strict = policy_ == nullptr || policy_->action == Errors::strict;
  const std::size_t bound =
      strict ? converter_->outputBound(static_cast<std::size_t>(end - buffer.in_begin)) : 0;
  if (bound != 0 && bound <= static_cast<std::size_t>(INT32_MAX)) {
#if defined(MEK_CHECKED)
    // Checked builds measure as well, and stop when the bound is wrong.
    ConversionBuffer measured = buffer;
    Piece trial = piece;
    if (converter_->measurePiece(measured, trial) &&
        static_cast<std::size_t>(measured.size) > bound) {
      std::abort();
    }
#endif
    if (!out.reserve(bound + tail + kBoundSlack)) return fail(ErrorKind::no_memory);
    buffer.out = out.data();
    if (!converter_->convertPiece(buffer, piece)) {
      return converterFailed(buffer,
                             buffer.size == kOutputTooLarge ? ErrorKind::too_large : failure_);
    }
  } else {
    if (!converter_->measurePiece(buffer, piece)) {
      return converterFailed(buffer,
                             buffer.size == kOutputTooLarge ? ErrorKind::too_large : failure_);
    }
    const auto size = static_cast<std::size_t>(buffer.size);
    if (!out.reserve(size + tail)) return fail(ErrorKind::no_memory);
    buffer.out = out.data();
    piece = Piece{state_, state_, last};
    if (!converter_->convertPiece(buffer, piece)) return converterFailed(buffer, failure_);
  }
  out.size = static_cast<std::size_t>(buffer.size);
  run_changes_ = buffer.changes;
  first_change_ = buffer.first_change;
  last_change_ = buffer.last_change;
  last_change_output_ = static_cast<std::size_t>(buffer.last_change_output);
  for (int i = 0; i < ConversionBuffer::kChangesKept; ++i) {
    kept_[i] = {buffer.change_at[i], static_cast<std::size_t>(buffer.change_length[i]),
                static_cast<std::size_t>(buffer.change_output[i])};
  }
  if (!advance(buffer, piece, out.size)) return false;
  if (cut_off_) {
    // Malformed at its first byte, whatever the converter; a forgiving
    // policy writes its substitute for it (a decoder's: internal form).
    if (policy_ == nullptr || policy_->action == Errors::strict) {
      failed_at_ = buffer.stop;
      failed_kind_ = kMalformedInput;
      return fail(ErrorKind::malformed);
    }
    last_change_output_ = out.size;
    if (policy_->action != Errors::skip) {
      for (int i = 0; i < policy_->substitute_units; ++i) {
        out.data()[out.size++] = static_cast<std::uint8_t>(policy_->substitute[i] >> 8);
        out.data()[out.size++] = static_cast<std::uint8_t>(policy_->substitute[i]);
      }
    }
    cut_off_ = false;
    if (first_change_ == nullptr) first_change_ = buffer.stop;
    last_change_ = buffer.stop;
    if (run_changes_ >= 0 && run_changes_ < ConversionBuffer::kChangesKept) {
      kept_[run_changes_] = {buffer.stop, static_cast<std::size_t>(buffer.in_end - buffer.stop),
                             last_change_output_};
    }
    ++run_changes_;
  }
  changes_ += static_cast<std::uint64_t>(run_changes_);
  return true;
}

bool StreamStage::check(std::uint8_t* begin, const std::uint8_t* end, bool last) {
  if (error_ != ErrorKind::none) return false;
  ConversionBuffer buffer;
  buffer.in_begin = withCarry(begin, end);
  if (buffer.in_begin == nullptr) return fail(ErrorKind::no_memory);
  input_ = buffer.in_begin;
  buffer.in_end = end;
  Piece piece{state_, state_, last};
  if (!converter_->measurePiece(buffer, piece)) return converterFailed(buffer, failure_);
  return advance(buffer, piece, static_cast<std::size_t>(buffer.size));
}

}  // namespace mek
