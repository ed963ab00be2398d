#include "convert/parallel_pieces.h"

#include <cstring>
#include <system_error>

namespace mek {

const std::uint8_t* safeLineCut(const std::uint8_t* begin, const std::uint8_t* end) {
  for (const std::uint8_t* p = end; p > begin;) {
    const void* lf = memrchr(begin, 0x0A, static_cast<std::size_t>(p - begin));
    if (lf == nullptr) return nullptr;
    const auto* at = static_cast<const std::uint8_t*>(lf);
    if (at == begin || at[-1] < 0x80) return at + 1;
    p = at;
  }
  return nullptr;
}

ParallelPieces::ParallelPieces(const Converter& fused, int code, const ErrorPolicy* policy,
                               std::int32_t lineState, const Writer& writer)
    : fused_(fused), code_(code), policy_(policy), line_state_(lineState), writer_(writer) {}

ParallelPieces::~ParallelPieces() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

StreamError ParallelPieces::run(std::uint8_t* begin, const std::uint8_t* end, Lane& lane) const {
  StreamStage stage(&fused_, StreamError::kMalformed, code_, nullptr, policy_);
  stage.resumeAt(line_state_);
  if (!stage.run(begin, end, false, lane.output)) return stage.error();
  lane.changes = stage.changes();
  // A piece that ends as safeLineCut says leaves nothing over.
  return stage.carrying() ? StreamError::kMalformed : StreamError::kNone;
}

void ParallelPieces::commitInTurn(Lane& lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return next_write_ == lane.index; });
  if (error_ == StreamError::kNone) {
    error_ = lane.error;
    if (error_ == StreamError::kNone) {
      changes_ += lane.changes;
      // The turn is held while writing, so writes never overlap.
      if (lane.output.size != 0 && !writer_(lane.output.data(), lane.output.size)) {
        error_ = StreamError::kOutput;
      }
    }
  }
  ++next_write_;
  lock.unlock();
  changed_.notify_all();
}

void ParallelPieces::work() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return handed_ || stopping_; });
      if (!handed_) return;
    }
    worker_.error = run(worker_.input.data(), worker_.input.data() + worker_.input.size, worker_);
    commitInTurn(worker_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handed_ = false;
    }
    changed_.notify_all();
  }
}

bool ParallelPieces::convert(std::uint8_t* begin, const std::uint8_t* end) {
  const auto size = static_cast<std::size_t>(end - begin);
  const std::uint64_t index = next_index_++;
  if (index % 2 == 0) {
    // The worker's piece: once it is done with the one before, it takes a
    // copy of this one.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !handed_; });
      if (error_ != StreamError::kNone) return false;
    }
    if (!worker_.input.reserve(size)) {
      worker_.error = StreamError::kNoMemory;
      worker_.index = index;
      commitInTurn(worker_);
      return false;
    }
    if (size != 0) std::memcpy(worker_.input.data(), begin, size);
    worker_.input.size = size;
    worker_.index = index;
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread(&ParallelPieces::work, this);
      } catch (const std::system_error&) {
        // No second thread: the caller converts this piece too.
        worker_.error = run(worker_.input.data(), worker_.input.data() + size, worker_);
        commitInTurn(worker_);
        std::lock_guard<std::mutex> lock(mutex_);
        return error_ == StreamError::kNone;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handed_ = true;
    }
    changed_.notify_all();
    std::lock_guard<std::mutex> lock(mutex_);
    return error_ == StreamError::kNone;
  }
  own_.index = index;
  own_.error = run(begin, end, own_);
  commitInTurn(own_);
  std::lock_guard<std::mutex> lock(mutex_);
  return error_ == StreamError::kNone;
}

StreamError ParallelPieces::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return next_write_ == next_index_; });
  return error_;
}

std::uint64_t ParallelPieces::changes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changes_;
}

}  // namespace mek
