#include "convert/parallel_pieces.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <system_error>

namespace mek {

ParallelPieces::ParallelPieces(const Converter& fused, int code, const ErrorPolicy* policy,
                               std::int32_t lineState, const Writer& writer, std::size_t workers)
    : fused_(fused), code_(code), policy_(policy), line_state_(lineState), writer_(writer) {
  const unsigned processors = std::thread::hardware_concurrency();
  if (workers == 0) workers = processors > 1 ? processors - 1 : 1;
  const std::size_t count = std::clamp<std::size_t>(workers, 1, kMaxWorkers);
  for (std::size_t i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>());
}

ParallelPieces::~ParallelPieces() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (const auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

ErrorKind ParallelPieces::run(std::uint8_t* begin, const std::uint8_t* end, Lane& lane) const {
  StreamStage stage(&fused_, ErrorKind::malformed, code_, nullptr, policy_);
  stage.resumeAt(line_state_);
  if (!stage.run(begin, end, false, lane.output)) return stage.error();
  lane.changes = stage.changes();
  // A piece that ends where its line cut says leaves nothing over.
  return stage.carrying() ? ErrorKind::malformed : ErrorKind::none;
}

void ParallelPieces::commitInTurn(Lane& lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return next_write_ == lane.index; });
  if (error_ == ErrorKind::none) {
    error_ = lane.error;
    if (error_ == ErrorKind::none) {
      changes_ += lane.changes;
      // The turn is held while writing, so writes never overlap.
      if (lane.output.size != 0 && !writer_(lane.output.data(), lane.output.size)) {
        error_ = ErrorKind::output;
      }
    }
  }
  ++next_write_;
  lock.unlock();
  changed_.notify_all();
}

void ParallelPieces::work(Worker& worker) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return worker.handed || stopping_; });
      if (!worker.handed) return;
    }
    Lane& lane = worker.lane;
    lane.error = run(lane.input.data(), lane.input.data() + lane.input.size, lane);
    commitInTurn(lane);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      worker.handed = false;
    }
    changed_.notify_all();
  }
}

bool ParallelPieces::good() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_ == ErrorKind::none;
}

bool ParallelPieces::handOver(Worker& worker, std::uint8_t* begin, const std::uint8_t* end,
                              std::uint64_t index) {
  // Once the worker is done with its piece before, it takes a copy of this
  // one.
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !worker.handed; });
    if (error_ != ErrorKind::none) return false;
  }
  Lane& lane = worker.lane;
  lane.index = index;
  const auto size = static_cast<std::size_t>(end - begin);
  if (!lane.input.reserve(size)) {
    lane.error = ErrorKind::no_memory;
    commitInTurn(lane);
    return false;
  }
  if (size != 0) std::memcpy(lane.input.data(), begin, size);
  lane.input.size = size;
  if (!worker.thread.joinable()) {
    try {
      worker.thread = std::thread(&ParallelPieces::work, this, std::ref(worker));
    } catch (const std::system_error&) {
      // No thread: the caller converts this piece too.
      lane.error = run(lane.input.data(), lane.input.data() + size, lane);
      commitInTurn(lane);
      return good();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    worker.handed = true;
  }
  changed_.notify_all();
  return good();
}

bool ParallelPieces::convert(std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint64_t index = next_index_++;
  const std::size_t turn = index % (workers_.size() + 1);
  if (turn < workers_.size()) return handOver(*workers_[turn], begin, end, index);
  own_.index = index;
  own_.error = run(begin, end, own_);
  commitInTurn(own_);
  return good();
}

ErrorKind ParallelPieces::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return next_write_ == next_index_; });
  return error_;
}

std::uint64_t ParallelPieces::changes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changes_;
}

}  // namespace mek
