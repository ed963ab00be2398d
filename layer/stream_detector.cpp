#include <cstring>
#include <new>
#include <optional>

#include "codec/stream_stage.h"
#include "convert/transfer_codecs.h"
#include "detect/detector.h"
#include "detect/scored_detection.h"
#include "mek/mek.h"

namespace mek {

// One of the two detectors, and the area the pieces are read into: the
// detectors carry the bytes a piece cuts short into the room before the
// next one, which the area keeps free. With a transfer encoding, the pieces
// go through its decoder first, and the detectors read what it gives.
class StreamDetector::Impl {
 public:
  Impl(Detection how, Transfer decoding) {
    if (how == Detection::score) {
      scored_.emplace();
    } else {
      first_.emplace();
    }
    if (const Converter* transfer = findTransferDecoder(decoding); transfer != nullptr) {
      transfer_.emplace(transfer, ErrorKind::malformed);
    }
  }

  std::span<std::byte> space(std::size_t size) {
    if (!area_.reserve(size == 0 ? 1 : size)) return {};
    return {reinterpret_cast<std::byte*>(area_.data()), size};
  }

  void commit(std::size_t size) { take(area_.data(), size, false); }

  // Ends the text: what the transfer decoder still holds comes out.
  void end() {
    if (transfer_ && area_.reserve(1)) take(area_.data(), 0, true);
  }

  [[nodiscard]] bool settled() const {
    if (transfer_ && transfer_->error() != ErrorKind::none) return true;
    return first_ ? first_->settled() : scored_->settled();
  }

  Code finish() {
    end();
    if (first_) return static_cast<Code>(first_->finish());
    const ScoredAnswer answer = scored_->finish();
    if (answer.no_memory) throw std::bad_alloc();
    scores_ = DetectionScores{answer.by_mark, answer.score, static_cast<Code>(answer.runner_up),
                              answer.runner_up_score};
    return static_cast<Code>(answer.code);
  }

  [[nodiscard]] const DetectionScores& scores() const { return scores_; }

 private:
  // Feeds the detector the `size` bytes at `begin`, through the transfer
  // decoder when there is one; input that is no valid transfer encoding is
  // detected as far as it decodes (the conversion then fails there).
  void take(std::uint8_t* begin, std::size_t size, bool last) {
    if (transfer_) {
      if (transfer_->error() != ErrorKind::none) return;
      if (!transfer_->run(begin, begin + size, last, decoded_)) return;
      begin = decoded_.data();
      size = decoded_.size;
      if (begin == nullptr) return;
    }
    if (first_) {
      first_->feed(begin, begin + size);
    } else {
      scored_->feed(begin, begin + size);
    }
  }

  std::optional<Detector> first_;
  std::optional<ScoredDetector> scored_;
  std::optional<StreamStage> transfer_;
  Area area_;
  Area decoded_;
  DetectionScores scores_;
};

StreamDetector::StreamDetector(Detection how, Transfer decoding)
    : impl_(std::make_unique<Impl>(how, decoding)) {}
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
