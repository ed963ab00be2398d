#pragma once

// The C++ layer of mek: whole conversions, detection, streams and text
// buffers with value types, enumerations and owned memory. Everything here
// is built on the converter interface beneath it (mek/converter.h,
// mek/registry.h, mek/detail/conversion_stream.h, mek/text_buffer.h), which stays
// available for callers that manage their own memory.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mek/error.h"
#include "mek/text_buffer.h"
#include "mek/types.h"

namespace mek {

class ConversionStream;

struct Options {
  Errors errors = Errors::strict;
  // With Errors::replace and not 0: written instead of both U+FFFD and `?`.
  // It must be a character that the output code carries.
  char32_t replacement = 0;
  // sjis, euc_jp, jis and iso2022jp write a character without a code of its
  // own at its twin's position (as --fallback does).
  bool fallback = false;
  // The folds of the decoded text (--wide-kana, --compose-kana,
  // --narrow-ascii).
  Fold folds = Fold::none;
  // How the input code is detected when `from` is Code::autodetect.
  Detection detection = Detection::score;
};

struct Result {
  std::string bytes;  // the converted text; empty after a failure
  // The input's code: as given, or as detected. After an ErrorKind::undetected
  // failure, the code that reads the text all but a few places (see
  // NearestReading), or Code::autodetect.
  Code from = Code::autodetect;
  Error error;
  // Under a forgiving policy: how many sequences and characters were
  // changed, and the first of them.
  std::uint64_t changes = 0;
  Error first_change;
  [[nodiscard]] bool ok() const noexcept { return error.kind == ErrorKind::none; }
};

// The code's full name ("sjis", "utf16_le_bom"; "auto" for autodetect).
[[nodiscard]] std::string_view name(Code code) noexcept;

// Converts a whole text. With Code::autodetect as `from`, the code is
// detected first. Throws only std::bad_alloc.
[[nodiscard]] Result convert(std::string_view input, Code from, Code to,
                             LineEnding eol = LineEnding::lf, const Options& options = {});
[[nodiscard]] Result convert(std::span<const std::byte> input, Code from, Code to,
                             LineEnding eol = LineEnding::lf, const Options& options = {});

// Every problem of a text, converted to `to` (Code::autodetect: only
// decoded), in the input's order, at most `limit` of them: malformed
// sequences and characters `to` cannot carry. A text whose code cannot be
// detected gives one ErrorKind::undetected error, placed as NearestReading
// places it. Throws only std::bad_alloc.
[[nodiscard]] std::vector<Error> check(std::string_view input, Code from, Code to,
                                       std::size_t limit = 1000);

// The code a text is taken to be in; Code::autodetect when no code takes
// it.
[[nodiscard]] Code detect(std::string_view input, Detection how = Detection::score) noexcept;
[[nodiscard]] Code detect(std::span<const std::byte> input,
                          Detection how = Detection::score) noexcept;

// Why a text's code could not be detected: the code that reads all of it but
// a few places (at most one in a hundred bytes, or a cut-off end) as text,
// and the first of those places as an ErrorKind::undetected error with its
// offset, line, column and bytes. `code` is Code::autodetect, and the error
// unplaced (line 0), when no code comes that close.
struct Undetected {
  Code code = Code::autodetect;
  Error first{ErrorKind::undetected};
};

// Reads a text that arrives in pieces in each of utf8, sjis, cp932, euc_jp,
// utf16_le and utf16_be under the replace policy, to find the nearest
// reading of a text that detection refused.
class NearestReading {
 public:
  NearestReading();
  ~NearestReading();
  NearestReading(NearestReading&&) noexcept;
  NearestReading& operator=(NearestReading&&) noexcept;
  NearestReading(const NearestReading&) = delete;
  NearestReading& operator=(const NearestReading&) = delete;

  // The next piece. Throws only std::bad_alloc.
  void feed(std::string_view bytes);
  // Ends the text. Throws only std::bad_alloc.
  [[nodiscard]] Undetected finish();
  // The same for a whole text.
  [[nodiscard]] static Undetected of(std::string_view input);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// How a Stream runs. The output, the failures and the changes are the same
// under every setting; only the time, the memory and what is told differ.
struct StreamSettings {
  // Input bytes converted in one step; the memory a stream holds grows with
  // it.
  std::size_t piece_size = std::size_t{1} << 20;
  // Other threads may help: the writer is then called from them, in order,
  // never two calls at once.
  bool threads = false;
  // Failures and changes are traced back to their place in the input, and
  // the line endings of the decoded text are told; one thread then does all
  // the work. Without it, error() tells only the kind of a failure, and
  // firstChange() and changeList() nothing.
  bool locate = true;
  // With locate: how many changes changeList() keeps, the first in the
  // input's order.
  std::size_t changes_listed = 1;
  // A pair with a fused path (one scan for decoder, line endings and
  // encoder) takes it; false keeps the three stages, for comparison.
  bool fused = true;
};

// A conversion over a text that arrives in pieces of any size. The writer
// gets the output in order and answers false to stop the conversion.
//
// Threads that share one Stream take turns: each call holds the stream's
// lock (space() and its commit() belong to one thread).
class Stream {
 public:
  using Writer = std::function<bool(std::string_view bytes)>;

  // `from` must name a code (not Code::autodetect); detect first.
  Stream(Code from, Code to, LineEnding eol, Writer writer, const Options& options = {},
         const StreamSettings& settings = {});
  // Without a writer: the stream keeps its output, and takeOutput() hands
  // over what has come so far.
  explicit Stream(Code from, Code to, LineEnding eol = LineEnding::lf, const Options& options = {},
                  const StreamSettings& settings = {});
  ~Stream();
  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // The next piece; false once the conversion has failed.
  bool feed(std::string_view bytes);
  bool feed(std::span<const std::byte> bytes);
  // Room to read the next bytes into directly, which saves feed's copy
  // (empty once the conversion has failed), and the call that converts the
  // first `size` bytes written there.
  [[nodiscard]] std::span<std::byte> space();
  bool commit(std::size_t size);
  // Converts and writes all that was fed so far but what a later byte could
  // still change (a cut-off sequence, a character a fold may join, the
  // return of a shift state); false once the conversion has failed.
  bool flush();
  // After flush(), for an incremental codec's state: the input bytes the
  // decoder holds (a sequence cut off so far), and where it stands in the
  // text, a number below 2^26 (0: at the start; kNoPlace: cannot be told).
  // resumeAt(place), before anything is fed, starts a stream between the
  // same codes there; false for a place it cannot stand at.
  static constexpr std::uint32_t kNoPlace = ~std::uint32_t{0};
  [[nodiscard]] std::string held() const;
  [[nodiscard]] std::uint32_t place() const noexcept;
  bool resumeAt(std::uint32_t place);
  // Ends the text; true when the whole text converted.
  [[nodiscard]] bool finish();
  // Without a writer: the output so far, which the stream then forgets.
  [[nodiscard]] std::string takeOutput();
  // How it failed, with the place in the input.
  [[nodiscard]] Error error() const noexcept;
  // Under a forgiving policy: the changes so far, the first of them, and
  // with StreamSettings::locate the first changes_listed of them.
  [[nodiscard]] std::uint64_t changes() const noexcept;
  [[nodiscard]] Error firstChange() const noexcept;
  [[nodiscard]] const std::vector<Error>& changeList() const noexcept;
  // The changes listed so far, which the stream then forgets (to tell them
  // as they come, in bounded memory).
  [[nodiscard]] std::vector<Error> takeChanges();
  // With StreamSettings::locate, after finish(): the kinds of line ending in
  // the decoded text, as LineEndingsSeen flags (kSeenLf, kSeenCrLf, kSeenCr;
  // mek/text_position.h).
  [[nodiscard]] unsigned lineEndingsSeen() const noexcept;

 private:
  struct Shared;  // the lock, and the output kept without a writer
  std::unique_ptr<Shared> shared_;
  std::unique_ptr<ConversionStream> stream_;
};

// How sure detection by score was (Detection::score): the chosen code's
// score and the next best code that decodes the whole text, with its score.
// A score is the mean weight of the decoded characters in hundredths.
struct DetectionScores {
  bool by_mark = false;  // a byte-order mark decided; nothing was scored
  std::int64_t score = 0;
  Code runner_up = Code::autodetect;  // autodetect: no other code decodes it
  std::int64_t runner_up_score = 0;
};

// Detection over a text that arrives in pieces of any size, as from a pipe:
// the answer is detect()'s for the whole text, and the pieces are not kept.
class StreamDetector {
 public:
  explicit StreamDetector(Detection how = Detection::score);
  ~StreamDetector();
  StreamDetector(StreamDetector&&) noexcept;
  StreamDetector& operator=(StreamDetector&&) noexcept;
  StreamDetector(const StreamDetector&) = delete;
  StreamDetector& operator=(const StreamDetector&) = delete;

  // The next piece. Throws only std::bad_alloc.
  void feed(std::string_view bytes);
  // Room for up to `size` next bytes, read into directly (empty when memory
  // is short), and the call that takes the first `size` written there.
  [[nodiscard]] std::span<std::byte> space(std::size_t size);
  void commit(std::size_t size);
  // True when more input cannot change the answer.
  [[nodiscard]] bool settled() const noexcept;
  // Ends the text: its code, or Code::autodetect when no code takes it.
  // Throws only std::bad_alloc.
  [[nodiscard]] Code finish();
  // After finish() with Detection::score.
  [[nodiscard]] DetectionScores scores() const noexcept;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Text in the internal form (UTF-16 big-endian units) that owns its storage:
// a TextBuffer that remembers the allocator it was made with and releases
// its block when it goes. Move-only.
class Text {
 public:
  explicit Text(const Allocator& allocator = kHeapAllocator) noexcept : allocator_(allocator) {}
  ~Text();
  Text(Text&& other) noexcept;
  Text& operator=(Text&& other) noexcept;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  // The text of `input` in code `from` (detected for Code::autodetect);
  // nothing when it does not decode or memory is short.
  [[nodiscard]] static std::optional<Text> decode(std::string_view input, Code from,
                                                  const Allocator& allocator = kHeapAllocator);
  // The same under an error policy (a sequence cut off by the end fails, or
  // is replaced or dropped as the policy says).
  [[nodiscard]] static std::optional<Text> decode(std::string_view input, Code from,
                                                  const Options& options,
                                                  const Allocator& allocator = kHeapAllocator);
  // The text in code `to`; nothing when a character cannot be written
  // under the policy.
  [[nodiscard]] std::optional<std::string> encode(Code to, const Options& options = {}) const;

  [[nodiscard]] std::span<const std::byte> bytes() const noexcept;
  [[nodiscard]] std::size_t characters() const noexcept;
  [[nodiscard]] bool empty() const noexcept { return buffer_.length == 0; }
  // For the operations of mek/text_buffer.h; pass allocator() to those that
  // allocate.
  [[nodiscard]] TextBuffer* get() noexcept { return &buffer_; }
  [[nodiscard]] const TextBuffer* get() const noexcept { return &buffer_; }
  [[nodiscard]] const Allocator& allocator() const noexcept { return allocator_; }

 private:
  void release() noexcept;

  TextBuffer buffer_{};
  Allocator allocator_;
};

}  // namespace mek
