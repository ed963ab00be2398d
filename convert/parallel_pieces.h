#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "codec/stream_stage.h"
#include "mek/detail/conversion_stream.h"

namespace mek {

// Converts pieces of a text side by side on workers (as many as the
// processors, at most kMaxWorkers), and writes their output in input order,
// never two writes at once. The caller only reads and hands pieces over:
// a worker that waits for its turn to write never holds up the reading of
// the next piece, so one worker converts while another writes.
// Each piece must begin where a line has just ended (after the first piece of
// the text) and end with an LF that leaves nothing for the next piece (see
// line_cuts.h), so that it converts alone to the bytes the sequential stage
// would give it: the fused path's state is then the same at every such
// place. The workers take the pieces in turn, each with the area that holds
// it.
class ParallelPieces {
 public:
  using Writer = ConversionStream::Writer;

  // Each worker holds a piece and its output: about four pieces of memory.
  static constexpr std::size_t kMaxWorkers = 8;

  // `fused` converts each piece from `lineState`, its piece state after a
  // line end, under `policy`; `workers` 0 chooses by the processors.
  ParallelPieces(const Converter& fused, int code, const ErrorPolicy* policy,
                 std::int32_t lineState, const Writer& writer, std::size_t workers);
  ~ParallelPieces();
  ParallelPieces(const ParallelPieces&) = delete;
  ParallelPieces& operator=(const ParallelPieces&) = delete;

  // Converts the first `cut` bytes of `input` as the next piece, and leaves
  // the rest of its `gathered` bytes at the start of `input`. A worker takes
  // the piece with the area that holds it, and `input` gets the worker's
  // area before, so the piece is not copied. False once any piece has
  // failed.
  bool convert(Area& input, std::size_t cut, std::size_t gathered);
  // Waits until every piece is written. Answers the failure of the first
  // piece, in input order, that failed, or kNone.
  ErrorKind drain();
  // The changes the pieces made under a forgiving policy.
  std::uint64_t changes() const;

 private:
  // A piece, its output and what became of it.
  struct Lane {
    Area input;
    Area output;
    std::uint64_t index = 0;
    ErrorKind error = ErrorKind::none;
    std::uint64_t changes = 0;
  };

  // A worker thread and the piece it holds.
  struct Worker {
    enum Phase : int { kIdle, kHanded, kStop };
    Lane lane;
    std::thread thread;
    // kHanded: its lane holds a piece to convert; kStop: it ends.
    std::atomic<int> phase{kIdle};
    // Waits until the worker holds no piece.
    void waitIdle() const;
  };

  ErrorKind run(std::uint8_t* begin, const std::uint8_t* end, Lane& lane) const;
  // Waits for the turn of `lane`'s piece, then writes it unless a piece
  // before it failed, and passes the turn on.
  void commitInTurn(Lane& lane);
  void work(Worker& worker);
  bool handOver(Worker& worker, Area& input, std::size_t cut, std::size_t gathered,
                std::uint64_t index);
  bool good() const;

  const Converter& fused_;
  int code_;
  const ErrorPolicy* policy_;
  std::int32_t line_state_;
  const Writer& writer_;

  std::vector<std::unique_ptr<Worker>> workers_;
  std::uint64_t next_index_ = 0;

  // The index of the piece whose turn it is to write.
  std::atomic<std::uint64_t> next_write_{0};
  std::atomic<ErrorKind> error_{ErrorKind::none};
  std::atomic<std::uint64_t> changes_{0};
};

}  // namespace mek
