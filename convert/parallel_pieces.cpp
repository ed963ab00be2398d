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
  if (workers == 0) workers = processors > 1 ? processors : 1;
  const std::size_t count = std::clamp<std::size_t>(workers, 1, kMaxWorkers);
  for (std::size_t i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>());
}

ParallelPieces::~ParallelPieces() {
  for (const auto& worker : workers_) {
    if (!worker->thread.joinable()) continue;
    worker->waitIdle();
    worker->phase.store(Worker::kStop, std::memory_order_release);
    worker->phase.notify_one();
    worker->thread.join();
  }
}

void ParallelPieces::Worker::waitIdle() const {
  for (int now = phase.load(std::memory_order_acquire); now != kIdle;
       now = phase.load(std::memory_order_acquire)) {
    phase.wait(now, std::memory_order_acquire);
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
  for (std::uint64_t turn = next_write_.load(std::memory_order_acquire); turn != lane.index;
       turn = next_write_.load(std::memory_order_acquire)) {
    next_write_.wait(turn, std::memory_order_acquire);
  }
  // The turn is this piece's alone until it passes it on, so writes never
  // overlap and come in input order.
  if (error_.load(std::memory_order_relaxed) == ErrorKind::none) {
    ErrorKind error = lane.error;
    if (error == ErrorKind::none) {
      changes_.fetch_add(lane.changes, std::memory_order_relaxed);
      if (lane.output.size != 0 && !writer_(lane.output.data(), lane.output.size)) {
        error = ErrorKind::output;
      }
    }
    if (error != ErrorKind::none) error_.store(error, std::memory_order_relaxed);
  }
  next_write_.fetch_add(1, std::memory_order_release);
  next_write_.notify_all();
}

void ParallelPieces::work(Worker& worker) {
  for (;;) {
    worker.phase.wait(Worker::kIdle, std::memory_order_acquire);
    const int phase = worker.phase.load(std::memory_order_acquire);
    if (phase == Worker::kStop) return;
    if (phase != Worker::kHanded) continue;
    Lane& lane = worker.lane;
    lane.error = run(lane.input.data(), lane.input.data() + lane.input.size, lane);
    commitInTurn(lane);
    worker.phase.store(Worker::kIdle, std::memory_order_release);
    worker.phase.notify_all();
  }
}

bool ParallelPieces::good() const {
  return error_.load(std::memory_order_acquire) == ErrorKind::none;
}

bool ParallelPieces::handOver(Worker& worker, Area& input, std::size_t cut, std::size_t gathered,
                              std::uint64_t index) {
  // Once the worker is done with its piece before, it takes the area that
  // holds this one, and the caller's input goes on in the worker's old area
  // with the rest of the last line.
  worker.waitIdle();
  Lane& lane = worker.lane;
  lane.index = index;
  const std::size_t rest = gathered - cut;
  if (!lane.input.reserve(gathered)) {
    std::memmove(input.data(), input.data() + cut, rest);
    lane.error = ErrorKind::no_memory;
    commitInTurn(lane);
    return false;
  }
  lane.input.swap(input);
  if (rest != 0) std::memcpy(input.data(), lane.input.data() + cut, rest);
  lane.input.size = cut;
  if (!good()) {
    // A piece before failed: this one only passes its turn on, so that
    // drain() still sees every piece through.
    lane.error = ErrorKind::none;
    commitInTurn(lane);
    return false;
  }
  if (!worker.thread.joinable()) {
    try {
      worker.thread = std::thread(&ParallelPieces::work, this, std::ref(worker));
    } catch (const std::system_error&) {
      // No thread: the caller converts this piece too.
      lane.error = run(lane.input.data(), lane.input.data() + cut, lane);
      commitInTurn(lane);
      return good();
    }
  }
  worker.phase.store(Worker::kHanded, std::memory_order_release);
  worker.phase.notify_one();
  return good();
}

bool ParallelPieces::convert(Area& input, std::size_t cut, std::size_t gathered) {
  const std::uint64_t index = next_index_++;
  return handOver(*workers_[index % workers_.size()], input, cut, gathered, index);
}

ErrorKind ParallelPieces::drain() {
  for (std::uint64_t turn = next_write_.load(std::memory_order_acquire); turn != next_index_;
       turn = next_write_.load(std::memory_order_acquire)) {
    next_write_.wait(turn, std::memory_order_acquire);
  }
  return error_.load(std::memory_order_acquire);
}

std::uint64_t ParallelPieces::changes() const {
  return changes_.load(std::memory_order_acquire);
}

}  // namespace mek
