// The engine beneath <mek/mek.h>: mek::Stream runs on ConversionStream. What
// is in mek/detail/ serves the library's own layers and may change from one
// version to the next; it is no stable interface. Use <mek/mek.h>.

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mek/converter.h"
#include "mek/detail/text_position.h"
#include "mek/error.h"
#include "mek/types.h"

namespace mek {

// A stage of the list a ConversionStream runs, and what it is made from
// (convert/stage_list.h, in the source tree).
struct Stage;
struct StageRequest;
using StageMaker = bool (*)(const StageRequest& request, Stage& stage);

// Lines in a row that Options::repair took back by the same wrong turns.
struct RepairedStretch {
  std::string chain;             // the turns in the order taken: "utf8 read as cp932"
  std::uint64_t start = 0;       // characters of the decoded text, [start, end)
  std::uint64_t end = 0;         // (the end of the last line, before its line end)
  std::uint64_t first_line = 0;  // lines of the decoded text, from 1
  std::uint64_t last_line = 0;
  std::uint64_t lost = 0;  // characters the turns lost, written under the error policy
};

// A whole conversion over a text that arrives in pieces of any size: an
// ordered list of stages (convert/stage_list.h), the decoder, the folds, the
// line endings and the encoder, with room for stages of bytes before the
// decoder and after the encoder. The output comes out in order through the
// writer and is byte for byte what one conversion of the whole text gives;
// so do failures. Memory stays bounded by the piece size, whatever the
// length of the text.
//
//   mek::ConversionStream stream(mek::Code::sjis, mek::Code::utf8, mek::LineEnding::lf,
//                                [&](const std::uint8_t* data, std::size_t size) {
//                                  return std::fwrite(data, 1, size, stdout) == size;
//                                });
//   while (...) stream.feed(bytes, count);
//   if (!stream.finish()) ... stream.error() ...
class ConversionStream {
 public:
  // Takes each stretch of output in order; answering false stops the
  // conversion with ErrorKind::output.
  using Writer = std::function<bool(const std::uint8_t* data, std::size_t size)>;

  static constexpr std::size_t kDefaultPieceSize = std::size_t{1} << 20;

  struct Options {
    // Input bytes converted in one step; any size from 1 gives the same
    // output.
    std::size_t piece_size = kDefaultPieceSize;
    // With true, a text longer than two pieces is converted by two threads:
    // the calling thread decodes, a worker thread rewrites line endings,
    // encodes and calls the writer (in order, never two calls at once).
    bool worker = false;
    // With true, the Shift_JIS, EUC-JP and ISO-2022-JP encoders write a
    // character without a code of its own at its twin's position.
    bool fallback = false;
    // With true, lines are counted as the text goes (one thread then does
    // all the work), so that a failure is traced back to its place in the
    // input (error()), and the kinds of line ending in the decoded text
    // are told (lineEndingsSeen()).
    bool locate = false;
    // What to do where the input cannot be converted as it stands (see
    // ErrorPolicy); kStrict fails the conversion there.
    Errors errors = Errors::strict;
    // With kReplace and not 0: written instead of both U+FFFD and `?`; the
    // output code must carry it (see carries()).
    char32_t replacement = 0;
    // With locate: how many changes changes() lists at most.
    std::size_t changes_listed = 1;
    // The folds that run over the decoded text
    // before the line endings.
    Fold folds = Fold::none;
    // Transfer encodings taken off the input before it is decoded, and put
    // on the output after it is encoded.
    Transfer transfer_in = Transfer::none;
    Transfer transfer_out = Transfer::none;
    // Encoded words of the header block decoded first among the text
    // stages; written (B or Q) last before the line endings.
    bool mime_decode = false;
    Transfer mime_encode = Transfer::none;
    // Stages beside those the options ask for, each put in the list by its
    // kind (bytes before the decoder, text, bytes after the encoder), after
    // the others of its kind.
    std::vector<StageMaker> added_stages;
    // With true, lines that are mojibake of Japanese text are taken back
    // after decoding (repairs() tells which); a character the wrong turns
    // lost is malformed input under the error policy.
    bool repair = false;
    // With true, a pair that has a fused path (Shift_JIS, cp932, EUC-JP,
    // ISO-2022-JP, UTF-16 and UTF-32 to UTF-8, UTF-8 to Shift_JIS, cp932,
    // EUC-JP, ISO-2022-JP and UTF-16LE, with any line ending) is converted in one
    // scan per piece instead of three stages; the output, failures and
    // changes are the same. Options::locate, folds and added stages take the
    // list.
    bool fused = true;
    // With worker and a fused path whose input can be cut after line ends
    // (see line_cuts.h): this many workers convert the pieces while the
    // caller reads; 0 is as many as the processors (at most 8).
    std::size_t piece_workers = 0;
  };

  // Detection is not part of the stream: Code::autodetect is no input code
  // here. An unknown code or line ending makes every operation fail with
  // ErrorKind::malformed.
  ConversionStream(Code from, Code to, LineEnding eol, Writer writer);
  ConversionStream(Code from, Code to, LineEnding eol, Writer writer, Options options);
  ~ConversionStream();
  ConversionStream(const ConversionStream&) = delete;
  ConversionStream& operator=(const ConversionStream&) = delete;

  // Converts the next `size` bytes of the text. False once the conversion
  // has failed.
  bool feed(const std::uint8_t* data, std::size_t size);
  // Room to read the next bytes into directly (saves the copy of feed), and
  // the call that converts the first `size` bytes written there.
  std::span<std::uint8_t> space();
  bool commit(std::size_t size);
  // Converts every byte fed so far and hands its output to the writer
  // before it returns, but for what a later byte could still change: a
  // sequence cut off so far, a character a fold or a line ending may still
  // join, and a shift state's return (the text has not ended). For output as
  // input arrives (a pipe, an incremental codec). False once the conversion
  // has failed.
  bool flush();
  // After flush(): the input bytes that the first stage holds (a sequence
  // cut off so far), and where the decoder stands in the text as a number
  // below 2^26 (0: at the start) that resumeAt() takes. An incremental
  // codec's state; kNoPlace when it cannot be told (a piece is still under
  // way, or a stage of bytes runs before the decoder).
  static constexpr std::uint32_t kNoPlace = ~std::uint32_t{0};
  std::vector<std::uint8_t> held() const;
  std::uint32_t place() const;
  // Before anything is fed: the decoder reads on from `place` (a place() of
  // a stream between the same codes), as in the middle of a text. False for
  // a place it cannot stand at.
  bool resumeAt(std::uint32_t place);
  // Ends the text: converts what was carried over and waits for the worker.
  // True when the whole text converted.
  bool finish();

  // Why the conversion failed (ErrorKind::none while it has not) and, with
  // Options::locate, where: a surrogate without its partner that reached
  // the encoder is malformed input at its own place.
  Error error() const;
  // With Options::locate, after finish(): the LineEndingsSeen flags of the
  // decoded text.
  unsigned lineEndingsSeen() const;
  // Under a forgiving policy: how many malformed sequences and characters
  // were changed, and with Options::locate the first changes_listed of them
  // in the input's order, placed as error() places a failure.
  std::uint64_t changeCount() const;
  const std::vector<Error>& changes() const;
  // The changes listed so far, which the stream then forgets: a caller that
  // tells them as they come keeps the memory bounded.
  std::vector<Error> takeChanges();
  // With Options::repair: the stretches repaired so far, in the text's
  // order.
  std::vector<RepairedStretch> repairs() const;

 private:
  class Impl;
  // Null when the stream's state could not be allocated: every operation
  // then fails with kNoMemory.
  std::unique_ptr<Impl> impl_;
};

}  // namespace mek
