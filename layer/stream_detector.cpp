#include <cstring>
#include <new>
#include <optional>

#include "codec/stream_stage.h"
#include "detect/detector.h"
#include "detect/scored_detection.h"
#include "mek/mek.h"

namespace mek {

// One of the two detectors, and the area the pieces are read into: the
// detectors carry the bytes a piece cuts short into the room before the
// next one, which the area keeps free.
class StreamDetector::Impl {
 public:
  explicit Impl(Detection how) {
    if (how == Detection::score) {
      scored_.emplace();
    } else {
      first_.emplace();
    }
  }

  std::span<std::byte> space(std::size_t size) {
    if (!area_.reserve(size == 0 ? 1 : size)) return {};
    return {reinterpret_cast<std::byte*>(area_.data()), size};
  }

  void commit(std::size_t size) {
    std::uint8_t* const begin = area_.data();
    if (first_) {
      first_->feed(begin, begin + size);
    } else {
      scored_->feed(begin, begin + size);
    }
  }

  [[nodiscard]] bool settled() const { return first_ ? first_->settled() : scored_->settled(); }

  Code finish() {
    if (first_) return static_cast<Code>(first_->finish());
    const ScoredAnswer answer = scored_->finish();
    if (answer.no_memory) throw std::bad_alloc();
    scores_ = DetectionScores{answer.by_mark, answer.score, static_cast<Code>(answer.runner_up),
                              answer.runner_up_score};
    return static_cast<Code>(answer.code);
  }

  [[nodiscard]] const DetectionScores& scores() const { return scores_; }

 private:
  std::optional<Detector> first_;
  std::optional<ScoredDetector> scored_;
  Area area_;
  DetectionScores scores_;
};

StreamDetector::StreamDetector(Detection how) : impl_(std::make_unique<Impl>(how)) {}
StreamDetector::~StreamDetector() = default;
StreamDetector::StreamDetector(StreamDetector&&) noexcept = default;
StreamDetector& StreamDetector::operator=(StreamDetector&&) noexcept = default;

void StreamDetector::feed(std::string_view bytes) {
  // In steps, so that the area stays small whatever the size of the piece.
  constexpr std::size_t kStep = std::size_t{1} << 16;
  while (!bytes.empty()) {
    const std::size_t size = bytes.size() < kStep ? bytes.size() : kStep;
    const std::span<std::byte> room = space(size);
    if (room.empty()) throw std::bad_alloc();
    std::memcpy(room.data(), bytes.data(), size);
    commit(size);
    bytes.remove_prefix(size);
  }
}

std::span<std::byte> StreamDetector::space(std::size_t size) {
  return impl_->space(size);
}

void StreamDetector::commit(std::size_t size) {
  impl_->commit(size);
}

bool StreamDetector::settled() const noexcept {
  return impl_->settled();
}

Code StreamDetector::finish() {
  return impl_->finish();
}

DetectionScores StreamDetector::scores() const noexcept {
  return impl_->scores();
}

}  // namespace mek
