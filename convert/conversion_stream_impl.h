#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "codec/stream_stage.h"
#include "convert/line_cuts.h"
#include "convert/parallel_pieces.h"
#include "convert/stage_list.h"
#include "mek/detail/conversion_stream.h"
#include "mek/detail/text_position.h"
#include "mek/end_of_line.h"

namespace mek {

// The state of a ConversionStream: its list of stages, the areas of the
// pieces under way, the worker thread and, with Options::locate, what is
// kept to trace a failure back to its place in the input.
class ConversionStream::Impl {
 public:
  Impl(Code from, Code to, LineEnding eol, Writer writer, Options options);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool feed(const std::uint8_t* data, std::size_t size);
  std::span<std::uint8_t> space();
  bool commit(std::size_t size);
  bool flush();
  bool finish();
  std::vector<std::uint8_t> held() const;
  std::uint32_t place() const;
  bool resumeAt(std::uint32_t place);

  Error error() const {
    Error error = failure_;
    if (error.kind == ErrorKind::none) error.kind = error_;
    return error;
  }
  unsigned lineEndingsSeen() const { return tally_.seen(); }
  std::uint64_t changeCount() const {
    std::uint64_t changes = parallel_ != nullptr ? parallel_->changes() : 0;
    for (const Stage& stage : stages_) changes += stage.stream.changes();
    return changes;
  }
  const std::vector<Error>& changes() const { return changes_; }
  std::vector<Error> takeChanges() { return std::exchange(changes_, {}); }
  std::vector<RepairedStretch> repairs() const {
    for (const Stage& stage : stages_) {
      if (stage.repair) return stage.repair->repairs();
    }
    return {};
  }

 private:
  struct Slot;
  // The stages and counts before a piece, from where a failed piece is run
  // again a byte at a time to find its place.
  struct Saved {
    std::vector<Stage> stages;
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
    bool line_end = false;  // a unit that --repair holds: whether it ends a line
  };
  // What the stages after the decoder did in one run, for following the
  // characters they hold back: whether each carried something before it, and
  // how many units it gave.
  struct Run {
    std::vector<bool> held_before;
    std::vector<std::size_t> units;
    const std::uint8_t* repair_input = nullptr;  // what the stage of --repair got
  };
  // Pieces in a row that a held character came from, kept to be run
  // again: the stages before the first, and the bytes of them all.
  struct Past {
    Saved saved;
    std::uint64_t consumed;
    std::uint64_t piece;              // the first
    std::uint64_t last_piece;         // the last
    std::vector<std::uint8_t> bytes;  // Area::kHeadroom bytes of room, then the pieces
  };
  static constexpr std::uint64_t kNoPiece = ~std::uint64_t{0};
  static constexpr std::size_t kPastPieces = 16;
  static constexpr std::size_t kPastBytes = 1 << 20;

  bool ready() const { return error_ == ErrorKind::none && !finished_; }
  StreamStage& decoder() { return stages_[decoder_at_].stream; }
  const StreamStage& decoder() const { return stages_[decoder_at_].stream; }
  // Runs stages [first, end) over `text` (its data and size), each into its
  // area of `areas`; on success `text` is the last one's output. With `run`,
  // notes what each did.
  ErrorKind runStages(std::size_t first, std::size_t end, Area* areas, std::uint8_t*& text,
                      std::size_t& size, bool last, Run* run = nullptr);
  bool decode(std::uint8_t* begin, const std::uint8_t* end, bool last);
  // The stages after the decoder, then the writer; with `run`, notes what
  // each stage did.
  ErrorKind finishSlot(Slot& slot, Run* run = nullptr);
  ErrorKind firstFailure(const StreamStage& before, std::uint8_t* begin);
  ErrorKind write(const std::uint8_t* data, std::size_t size);
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

  // Tracing failures and changes back to the input (failure_place.cpp).
  void locate(std::uint8_t* begin, const std::uint8_t* end, bool last, const Saved& saved,
              ErrorKind first);
  void locateChanges(std::uint8_t* begin, const std::uint8_t* end, bool last, const Saved& saved);
  // Runs a piece again a byte at a time; true once it has found the failure.
  bool replay(std::uint8_t* begin, const std::uint8_t* end, bool last, std::uint64_t consumed,
              std::vector<Place>& held);
  void keepPast(const std::uint8_t* begin, const std::uint8_t* end, const Saved& saved,
                const Run& run);
  // After a run (a step, or a piece), what each stage that holds characters
  // back holds now: `now` for a hold that the run renewed, the hold of the
  // stage before for a character that stage let go, else as before.
  template <class Origin>
  void followHolds(std::vector<Origin>& held, const Origin& now, const Origin& none,
                   const Run& run) const;
  // The places of the units that the stages holding whole lines hold
  // (Stage::holds_lines, and the line-holding stage of --repair): before a
  // step's stages run, how much each carries; after, the units each got in the step are placed at
  // `step`; linePlace() then tells where a unit of stage i's last run stands, and trimLines() keeps
  // the places of what each carries on.
  void startLines();
  void beforeLines();
  // Completes `step` (its offset, line and column set) with the bytes
  // [from, to) it read, and places the units that the line-holding stages
  // got in it (extendLines, repairGiven).
  void placeStep(Place& step, const std::uint8_t* from, const std::uint8_t* to, const Run& run,
                 const Area* areas);
  void extendLines(const Place& step, const Run& run);
  Place linePlace(std::size_t i, const std::uint8_t* at) const;
  // The place of the index-th unit of stage i's last input (what it held,
  // then what it got).
  Place placeOfUnit(std::size_t i, std::size_t index) const;
  // The units that stage i holds: the lines of --repair, or what a stream
  // stage carries.
  std::size_t heldUnits(std::size_t i) const;
  void trimLines();
  // The failure of a text stage that holds lines, placed where linePlace()
  // says; false for the other stages.
  bool placeLineFailure();
  // Where the text that gave the (skip + 1)th character c stands, when a
  // stage that holds lines let it go in the last step (Stage::source_of);
  // unknown otherwise.
  Place sourcePlace(char32_t c, std::size_t skip = 0) const;
  // The changes of the stages that hold lines in the last step.
  void lineChanges(const Place& step, std::vector<Error>& found) const;
  // With --repair, after extendLines(): where each unit that the
  // line-holding stage gave in the last step and that is no line end was
  // read, in order (repair_given_).
  void repairGiven(const Run& run, const Area* areas);
  // The place of the character at `unit`, which reached the encoder in the
  // last step's text at `internal`, when the line-holding stage gave it.
  const Place* repairLinePlace(const std::uint8_t* internal, const std::uint8_t* unit) const;
  // The stage before the encoder that holds characters back, or kNoStage.
  static constexpr std::size_t kNoStage = ~std::size_t{0};
  std::size_t holderBeforeEncoder() const;
  void restore(const Saved& saved) {
    stages_ = saved.stages;
    tally_ = saved.tally;
  }

  // The list, in order (see StageKind). With a fused path the decoder writes
  // the output code and is the last stage.
  std::vector<Stage> stages_;
  std::size_t decoder_at_ = 0;
  std::size_t encoder_at_ = 0;  // stages_.size() with a fused path
  bool fused_ = false;
  const Converter* first_decoder_ = nullptr;  // the decoder's converter at the start
  Writer writer_;
  Options options_;
  Area input_;
  std::size_t input_size_ = 0;  // bytes gathered by feed()
  std::unique_ptr<Slot[]> slots_;
  std::size_t next_slot_ = 0;
  std::size_t pieces_ = 0;
  ErrorKind error_ = ErrorKind::none;
  bool finished_ = false;
  // With Options::locate: the decoder's input bytes of the pieces done, the
  // tally of their decoded text, and the failure.
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
  // for each stage which piece the character it holds came from.
  std::deque<Past> past_;
  std::vector<std::uint64_t> origins_;
  // With Options::locate, for each stage that holds lines: the places of
  // the units it holds, and how many units the input of its last run had.
  std::vector<std::deque<Place>> line_places_;
  std::vector<std::size_t> line_units_;
  // With Options::locate: what the stages did in the last piece and in the
  // last step of a piece run again, and the areas of such a step.
  Run piece_run_;
  Run step_run_;
  std::unique_ptr<Area[]> step_areas_;
  std::size_t repair_at_ = kNoStage;  // the line-holding stage of --repair
  std::vector<Place> repair_given_;

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
  LineCut line_cut_ = nullptr;  // where pieces side by side may end
  std::uint64_t offset_ = 0;    // where the gathered input begins in the text
};

// Puts the policy's stand-in where the marks are that a decoder wrote for
// malformed sequences while places are tallied (see kMark in
// conversion_stream.cpp); false when memory is short.
bool expandMarks(Area& text, const ErrorPolicy& policy);

}  // namespace mek
