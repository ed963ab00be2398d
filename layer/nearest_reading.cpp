#include <array>
#include <memory>
#include <new>

#include "detect/scored_detection.h"
#include "mek/detail/conversion_stream.h"
#include "mek/mek.h"

namespace mek {

// Each candidate decoded under the replace policy into nothing but a tally
// of its first ScoredDetector::kScoredBytes of text, with its changes
// counted and the first of them placed.
class NearestReading::Impl {
 public:
  static constexpr std::array<Code, 6> kCandidates = {Code::utf8,   Code::sjis,     Code::cp932,
                                                      Code::euc_jp, Code::utf16_le, Code::utf16_be};

  explicit Impl(Transfer decoding) {
    ConversionStream::Options options;
    options.transfer_in = decoding;
    options.locate = true;
    options.errors = Errors::replace;
    options.changes_listed = 1;
    for (std::size_t i = 0; i < kCandidates.size(); ++i) {
      Reading& reading = readings_[i];
      reading.tally.japanese_code = kCandidates[i] == Code::sjis || kCandidates[i] == Code::cp932 ||
                                    kCandidates[i] == Code::euc_jp;
      reading.stream = std::make_unique<ConversionStream>(
          kCandidates[i], Code::utf16_be, LineEnding::keep,
          [&reading](const std::uint8_t* data, std::size_t size) {
            for (std::size_t j = 0; j + 1 < size; j += 2) {
              if (reading.tallied >= ScoredDetector::kScoredBytes) break;
              reading.tally.add(static_cast<std::uint16_t>(data[j] << 8 | data[j + 1]));
              reading.tallied += 2;
            }
            return true;
          },
          options);
    }
  }

  void feed(std::string_view bytes) {
    size_ += bytes.size();
    for (Reading& reading : readings_) {
      reading.stream->feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      if (reading.stream->error().kind == ErrorKind::no_memory) throw std::bad_alloc();
    }
  }

  Undetected finish() {
    Undetected answer;
    std::uint64_t fewest = 1 + size_ / 100;  // "a few places"
    std::int64_t best = 0;
    for (std::size_t i = 0; i < kCandidates.size(); ++i) {
      Reading& reading = readings_[i];
      if (!reading.stream->finish()) {
        if (reading.stream->error().kind == ErrorKind::no_memory) throw std::bad_alloc();
        continue;
      }
      const std::uint64_t changes = reading.stream->changeCount();
      if (changes == 0 || changes > fewest || reading.stream->changes().empty() ||
          !countsAsText(reading.tally.characters, reading.tally.noise, false)) {
        continue;
      }
      // Fewer places first; between as few, the reading that looks more like
      // Japanese text (EUC-JP bytes read as cp932 are half-width katakana and
      // stray kanji); a tie keeps the candidate that comes first.
      const std::int64_t score = reading.tally.score();
      if (answer.code == Code::autodetect || changes < fewest || score > best) {
        fewest = changes;
        best = score;
        answer.code = kCandidates[i];
        answer.first = reading.stream->changes().front();
        answer.first.kind = ErrorKind::undetected;
      }
    }
    return answer;
  }

 private:
  struct Reading {
    std::unique_ptr<ConversionStream> stream;
    ReadingTally tally;
    std::uint64_t tallied = 0;
  };
  std::array<Reading, kCandidates.size()> readings_;
  std::uint64_t size_ = 0;
};

NearestReading::NearestReading(Transfer decoding) : impl_(std::make_unique<Impl>(decoding)) {}
NearestReading::~NearestReading() = default;
NearestReading::NearestReading(NearestReading&&) noexcept = default;
NearestReading& NearestReading::operator=(NearestReading&&) noexcept = default;

void NearestReading::feed(std::string_view bytes) {
  impl_->feed(bytes);
}

Undetected NearestReading::finish() {
  return impl_->finish();
}

Undetected NearestReading::of(std::string_view input, Transfer decoding) {
  NearestReading reading(decoding);
  reading.feed(input);
  return reading.finish();
}

}  // namespace mek
