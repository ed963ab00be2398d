#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "codec/stream_stage.h"
#include "convert/parallel_pieces.h"
#include "mek/conversion_stream.h"
#include "mek/detail/text_position.h"
#include "mek/end_of_line.h"

namespace mek {

// The state of a ConversionStream: its four stages, the areas of the pieces
// under way, the worker thread and, with Options::locate, what is kept to
// trace a failure back to its place in the input.
class ConversionStream::Impl {
 public:
  Impl(int inputCode, int outputCode, int lineEnding, Writer writer, Options options);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool feed(const std::uint8_t* data, std::size_t size);
  std::span<std::uint8_t> space();
  bool commit(std::size_t size);
  bool flush();
  bool finish();
  std::vector<std::uint8_t> heldInput() const;
  std::uint32_t decoderPlace() const;
  bool resumeAt(std::uint32_t place);

  ErrorKind error() const { return error_; }
  const Error& failure() const { return failure_; }
  unsigned lineEndingsSeen() const { return tally_.seen(); }
  std::uint64_t changeCount() const {
    return decoder_.changes() + encoder_.changes() +
           (parallel_ != nullptr ? parallel_->changes() : 0);
  }
  const std::vector<Error>& changes() const { return changes_; }
  std::vector<Error> takeChanges() { return std::exchange(changes_, {}); }

 private:
  struct Slot;
  // The stages and counts before a piece, from where a failed piece is run
  // again a byte at a time to find its place.
  struct Saved {
    StreamStage decoder;
    StreamStage fold;
    StreamStage lines;
    StreamStage encoder;
    TextTally tally;
  };

  // Where a character stands in the input, for a failure there.
  struct Place {
    bool known = false;
    std::uint64_t offset = 0;
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::array<std::uint8_t, 4> bytes{};
    std::uint8_t byte_count = 0;
  };
  // The characters that the fold stage and the encoder hold for the next
  // piece.
  struct Held {
    Place fold;
    Place encoder;
  };
  // A piece that a held character came from, kept to be run again.
  struct Past {
    Saved saved;
    std::uint64_t consumed;
    std::uint64_t piece;
    std::vector<std::uint8_t> bytes;  // Area::kHeadroom bytes of room, then the piece
  };
  static constexpr std::uint64_t kNoPiece = ~std::uint64_t{0};
  static constexpr std::size_t kPastPieces = 16;

  bool ready() const { return error_ == ErrorKind::none && !finished_; }
  bool decode(std::uint8_t* begin, const std::uint8_t* end, bool last);
  ErrorKind finishSlot(Slot& slot);  // line endings, encoder, writer
  ErrorKind firstFailure(const StreamStage& before, std::uint8_t* begin);
  ErrorKind write(const Area& output);
  // With parallel_: converts the gathered input up to its last safe line
  // end, side by side when the stream stands at a line start, and keeps the
  // rest for the next piece.
  bool commitLines(std::size_t gathered);
  // Waits for the side by side pieces to be written; false on a failure.
  bool drainParallel();
  bool startWorker();
  void work(std::size_t firstSlot);
  bool waitForSlot(Slot& slot);
  void stopWorker();
  bool fail(ErrorKind error);
  void locate(std::uint8_t* begin, const std::uint8_t* end, bool last, const Saved& saved,
              ErrorKind first);
  void locateChanges(std::uint8_t* begin, const std::uint8_t* end, bool last, const Saved& saved);
  // Runs a piece again a byte at a time; true once it has found the failure.
  bool replay(std::uint8_t* begin, const std::uint8_t* end, bool last, std::uint64_t consumed,
              Held& held);
  void keepPast(const std::uint8_t* begin, const std::uint8_t* end, const Saved& saved,
                const Slot& slot);
  void holdPlaces(Held& held, const Place& step, bool decoded, std::size_t units,
                  bool foldHeld) const;

  // With a fused path: the decoder stage writes the output code, and the
  // other stages never run.
  bool fused_ = false;
  StreamStage decoder_;
  const Converter* first_decoder_ = nullptr;  // the decoder stage's converter at the start
  StreamStage fold_;                          // without folds, no converter and never run
  StreamStage lines_;
  StreamStage encoder_;
  const EndOfLineConverter* line_end_ = nullptr;
  Writer writer_;
  Options options_;
  Area input_;
  std::size_t input_size_ = 0;  // bytes gathered by feed()
  std::unique_ptr<Slot[]> slots_;
  std::size_t next_slot_ = 0;
  std::size_t pieces_ = 0;
  ErrorKind error_ = ErrorKind::none;
  bool finished_ = false;
  // With Options::locate: the input bytes of the pieces done, the tally of
  // their decoded text, and the failure.
  std::uint64_t consumed_ = 0;
  TextTally tally_;
  Error failure_;
  std::vector<Error> changes_;
  ErrorPolicy policy_;
  // With Options::locate under a forgiving policy, the decoder writes a mark
  // for each malformed sequence, so that it counts as one column whatever
  // the policy writes for it; the policy's stand-in takes the mark's place
  // before the text goes on.
  ErrorPolicy marking_policy_;
  bool marks_ = false;
  // With Options::locate: the pieces since the oldest held character, and
  // which pieces the held characters came from.
  std::deque<Past> past_;
  std::uint64_t fold_origin_ = kNoPiece;
  std::uint64_t encoder_origin_ = kNoPiece;

  // The worker and what it shares with the caller.
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  ErrorKind worker_error_ = ErrorKind::none;

  // Side by side conversion of whole lines, for fused paths that allow it
  // (declared last: it writes through writer_ until it is gone).
  std::unique_ptr<ParallelPieces> parallel_;
  bool at_line_start_ = false;  // the sequential stage stands at a line start
};

}  // namespace mek
