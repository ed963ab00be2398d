#include "convert/conversion_stream.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "convert/registry.h"

namespace mek {

// The areas of one piece on its way from the decoder to the writer. Two of
// them let the caller decode one piece while the worker finishes the other.
struct ConversionStream::Slot {
  Area decoded;
  Area lines;
  Area encoded;
  bool last = false;
  bool busy = false;  // queued for or held by the worker
};

namespace {

constexpr std::size_t kSlots = 2;

bool endsWithCr(const Area& text) {
  return text.size >= 2 && text.data()[text.size - 2] == 0 && text.data()[text.size - 1] == 0x0D;
}

}  // namespace

ConversionStream::ConversionStream(int inputCode, int outputCode, int lineEnding, Writer writer)
    : ConversionStream(inputCode, outputCode, lineEnding, std::move(writer), Options{}) {}

ConversionStream::ConversionStream(int inputCode, int outputCode, int lineEnding, Writer writer,
                                   Options options)
    : writer_(std::move(writer)), options_(options), slots_(new (std::nothrow) Slot[kSlots]) {
  if (options_.piece_size == 0) options_.piece_size = 1;
  const Converter* decoder = findDecoder(inputCode);
  const Converter* encoder = findEncoder(outputCode, options_.fallback);
  line_end_ = findLineEndConverter(lineEnding);
  if (decoder == nullptr || encoder == nullptr || line_end_ == nullptr || !writer_) {
    error_ = StreamError::kMalformed;
    return;
  }
  if (slots_ == nullptr) {
    error_ = StreamError::kNoMemory;
    return;
  }
  decoder_ = StreamStage(decoder, StreamError::kMalformed, inputCode, &findDecoderAfterStart);
  lines_ = StreamStage(line_end_, StreamError::kMalformed);
  encoder_ = StreamStage(encoder, StreamError::kUnmapped, outputCode, &findEncoderAfterStart);
}

ConversionStream::~ConversionStream() {
  stopWorker();
}

bool ConversionStream::fail(StreamError error) {
  if (error_ == StreamError::kNone) error_ = error;
  return false;
}

std::span<std::uint8_t> ConversionStream::space() {
  if (!ready() || !input_.reserve(options_.piece_size)) return {};
  const std::size_t room =
      options_.piece_size > input_size_ ? options_.piece_size - input_size_ : 0;
  return {input_.data() + input_size_, room};
}

bool ConversionStream::commit(std::size_t size) {
  if (!ready()) return false;
  input_size_ += size;
  const std::size_t gathered = input_size_;
  input_size_ = 0;
  return decode(input_.data(), input_.data() + gathered, false);
}

bool ConversionStream::feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (!ready()) return false;
    if (!input_.reserve(options_.piece_size)) return fail(StreamError::kNoMemory);
    const std::size_t n = std::min(size, options_.piece_size - input_size_);
    std::memcpy(input_.data() + input_size_, data, n);
    input_size_ += n;
    data += n;
    size -= n;
    if (input_size_ == options_.piece_size && !commit(0)) return false;
  }
  return ready();
}

bool ConversionStream::finish() {
  if (!ready()) {
    stopWorker();
    return false;
  }
  if (!input_.reserve(input_size_)) return fail(StreamError::kNoMemory);
  const std::size_t gathered = input_size_;
  input_size_ = 0;
  decode(input_.data(), input_.data() + gathered, true);
  stopWorker();
  finished_ = true;
  return error_ == StreamError::kNone;
}

bool ConversionStream::decode(std::uint8_t* begin, const std::uint8_t* end, bool last) {
  Slot& slot = slots_[next_slot_];
  if (thread_.joinable() && !waitForSlot(slot)) {
    stopWorker();
    return false;
  }
  if (!decoder_.run(begin, end, last, slot.decoded)) {
    // A failure the worker met in an earlier piece comes first.
    stopWorker();
    return fail(decoder_.error());
  }
  slot.last = last;
  ++pieces_;
  if (!thread_.joinable() && options_.worker && pieces_ >= 2 && !last) startWorker();
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.busy = true;
    }
    changed_.notify_all();
    next_slot_ = (next_slot_ + 1) % kSlots;
    return true;
  }
  const StreamError error = finishSlot(slot);
  return error == StreamError::kNone || fail(error);
}

StreamError ConversionStream::finishSlot(Slot& slot) {
  const Area* text = &slot.decoded;
  const std::uint8_t* const decoded = slot.decoded.data();
  // Most text has the line endings asked for already; then the stage would
  // copy it unchanged. A CR at the end of a piece may still pair with an LF.
  const bool unchanged = !lines_.carrying() &&
                         line_end_->leavesUnchanged(decoded, decoded + slot.decoded.size) &&
                         (slot.last || !endsWithCr(slot.decoded));
  if (!unchanged) {
    if (!lines_.run(slot.decoded.data(), decoded + slot.decoded.size, slot.last, slot.lines)) {
      return lines_.error();
    }
    text = &slot.lines;
  }
  std::uint8_t* const internal = const_cast<std::uint8_t*>(text->data());
  if (!encoder_.run(internal, internal + text->size, slot.last, slot.encoded)) {
    return encoder_.error();
  }
  if (slot.encoded.size != 0 && !writer_(slot.encoded.data(), slot.encoded.size)) {
    return StreamError::kOutput;
  }
  return StreamError::kNone;
}

bool ConversionStream::startWorker() {
  stopping_ = false;
  try {
    thread_ = std::thread(&ConversionStream::work, this, next_slot_);
  } catch (const std::system_error&) {
    return false;  // the caller's thread does all the work
  }
  return true;
}

void ConversionStream::work(std::size_t index) {
  for (;;) {
    Slot& slot = slots_[index];
    StreamError previous;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return slot.busy || stopping_; });
      if (!slot.busy) return;
      previous = worker_error_;
    }
    // After a failure the remaining pieces are only handed back.
    const StreamError error = previous == StreamError::kNone ? finishSlot(slot) : previous;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      worker_error_ = error;
      slot.busy = false;
    }
    changed_.notify_all();
    index = (index + 1) % kSlots;
  }
}

bool ConversionStream::waitForSlot(Slot& slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !slot.busy; });
  return worker_error_ == StreamError::kNone;
}

void ConversionStream::stopWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (worker_error_ != StreamError::kNone) {
    // The worker's pieces come before the caller's: its failure is the first.
    error_ = worker_error_;
  }
}

}  // namespace mek
