#pragma once

// The door to mek: whole conversions, exact sizes, checks, detection and
// streams, with value types, enumerations and owned memory. It stands alone:
// a caller needs no other header of mek. The words it shares with every
// layer are in mek/types.h; ErrorKind and Error, the one record of a
// failure or a change, are in mek/error.h.
//
// Failures come back in one shape: an Error with a kind and a place.
// Results that end (Result, Sized) carry one in `error` with ok();
// Stream::error() and StreamDetector answer it at any time; check() lists
// them. Lookups (codeFor, lineEndingFor) answer std::nullopt for a name
// they do not know, and detect() Code::autodetect for a text no code takes,
// which NearestReading then explains.

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
#include "mek/types.h"

namespace mek {

class ConversionStream;

// One name a code is known by: its full name, a classic name or an alias.
// The `listed` names are the classic table: matched exactly and first, in
// this order, and shown in the tool's usage grid; the others are only found
// by the forgiving match.
struct CodeName {
  Code code;
  const char* name;
  bool listed;
};
// Every name: the classic table, then the later codes and the names other
// tools and people use.
[[nodiscard]] std::span<const CodeName> codeNames() noexcept;
// Every code, Code::autodetect first, in the order of their numbers.
[[nodiscard]] std::span<const Code> codes() noexcept;
// The code a name stands for, as the command line takes it: an exact match
// among the classic names first; failing that, the first name that matches
// with case ignored and '-' and '_' left out ("SJIS", "UTF-8", "utf_16LE").
// "auto" is Code::autodetect. Nothing for a name that matches none.
[[nodiscard]] std::optional<Code> codeFor(std::string_view name) noexcept;
// The one code with a name within two edits of `typed` (a letter added,
// dropped, changed, or two swapped; case, '-' and '_' ignored), to suggest
// after a name codeFor() does not know; nothing when none is that close or
// several codes are. `input`: "auto" counts too. Throws only std::bad_alloc.
[[nodiscard]] std::optional<Code> codeNear(std::string_view typed, bool input);
// The code's full name ("sjis", "utf16_le_bom"; "auto" for autodetect), and
// a line that says what it is.
[[nodiscard]] std::string_view name(Code code) noexcept;
[[nodiscard]] std::string_view describe(Code code) noexcept;
// Whether `to` writes the character c (as a replacement must be).
[[nodiscard]] bool carries(Code to, char32_t c) noexcept;

// The line endings' names (-unix, -win, -mac, -u, -w, -m, -keep), matched
// exactly; the `listed` ones in the order of the usage grid.
struct LineEndingName {
  LineEnding line_ending;
  const char* name;
  bool listed;
};
[[nodiscard]] std::span<const LineEndingName> lineEndingNames() noexcept;
[[nodiscard]] std::optional<LineEnding> lineEndingFor(std::string_view name) noexcept;
[[nodiscard]] std::string_view describe(LineEnding eol) noexcept;
// The kind of line ending that LineEndingsSeen flags tell, as `mek --guess`
// names it: "LF", "CRLF", "CR", "MIXED" or "NONE".
[[nodiscard]] std::string_view lineEndingsName(unsigned seen) noexcept;

// How a conversion treats what it cannot convert as it stands, and what it
// does to the text on the way. The same defaults hold for the tool, the C++
// layer and the Python module.
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
  // A transfer encoding of mail bodies taken off the input before it is
  // decoded (detection, and the places of failures, see the decoded bytes),
  // and one put on the output after it is encoded (--base64-decode,
  // --qp-decode, --base64-encode, --qp-encode).
  Transfer decode_transfer = Transfer::none;
  Transfer encode_transfer = Transfer::none;
  // The encoded words of a mail's header block (the lines up to the first
  // empty one) decoded before the other text stages (--mime-decode), and
  // its lines that hold characters beyond ASCII written as B
  // (Transfer::base64) or Q (Transfer::quoted_printable) words of the
  // output code (--mime-encode). A header field or line longer than 8192
  // characters passes as it stands.
  bool mime_decode = false;
  Transfer mime_encode = Transfer::none;
  // Lines that are mojibake of Japanese text are taken back after decoding,
  // as repair() does (--repair); a character the wrong turns lost is
  // malformed input under `errors`.
  bool repair = false;
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

// Converts a whole text. With Code::autodetect as `from`, the code is
// detected first. Throws only std::bad_alloc.
[[nodiscard]] Result convert(std::string_view input, Code from, Code to,
                             LineEnding eol = LineEnding::lf, const Options& options = {});
[[nodiscard]] Result convert(std::span<const std::byte> input, Code from, Code to,
                             LineEnding eol = LineEnding::lf, const Options& options = {});

// Every problem of a text, converted to `to` (Code::autodetect: only
// decoded), in the input's order, at most `limit` of them: malformed
// sequences and characters `to` cannot carry, whatever `options.errors`
// says. The fallback, the folds and the way of detection apply as they
// would to the conversion. A text whose code cannot be detected gives one
// ErrorKind::undetected error, placed as NearestReading places it. Throws
// only std::bad_alloc.
[[nodiscard]] std::vector<Error> check(std::string_view input, Code from, Code to,
                                       const Options& options, std::size_t limit = 1000);
[[nodiscard]] std::vector<Error> check(std::string_view input, Code from, Code to,
                                       std::size_t limit = 1000);

// An exact-size conversion into memory of the caller's: measure() tells
// the bytes convert() would give, without keeping them, and convertInto()
// writes them into `out`. `size` is those bytes; the rest is as in Result.
// Only pieces of the input are held while it runs, whatever its length.
struct Sized {
  std::size_t size = 0;
  Code from = Code::autodetect;
  Error error;
  std::uint64_t changes = 0;
  Error first_change;
  [[nodiscard]] bool ok() const noexcept { return error.kind == ErrorKind::none; }
};
[[nodiscard]] Sized measure(std::string_view input, Code from, Code to,
                            LineEnding eol = LineEnding::lf, const Options& options = {});
// `out` must hold measure()'s size for the same arguments: an output that
// does not fit fails with ErrorKind::too_large, with `out` written up to
// its end. Throws only std::bad_alloc.
[[nodiscard]] Sized convertInto(std::string_view input, Code from, Code to,
                                std::span<std::byte> out, LineEnding eol = LineEnding::lf,
                                const Options& options = {});

// The code a text is taken to be in; Code::autodetect when no code takes
// it.
[[nodiscard]] Code detect(std::string_view input, Detection how = Detection::score) noexcept;
[[nodiscard]] Code detect(std::span<const std::byte> input,
                          Detection how = Detection::score) noexcept;

// One stretch of mojibake that repair() took back: the wrong turns it had
// taken, in the order taken ("utf8 read as cp932"; two as "cp932 read as
// cp1252, then utf8 read as cp1252", or "utf8 read as cp932 twice"); where it
// stands in the text given, as characters [start, end) and the line of
// `start` (from 1); and how many characters the turns had lost, which the
// repaired text holds as U+FFFD.
struct Repair {
  std::string chain;
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t line = 0;
  std::size_t lost = 0;
  std::size_t last_line = 0;  // the line of the stretch's end
};
struct Repaired {
  std::u32string text;
  std::vector<Repair> repairs;  // in the text's order
};

// Finds the lines of a text that are mojibake of Japanese text (Japanese
// text read through the wrong code, once or twice) and takes them back, as
// --repair does; every other line stays as it is. Throws only
// std::bad_alloc.
[[nodiscard]] Repaired repair(std::u32string_view text);

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
  // With a transfer encoding, the readings are of the input with it taken
  // off, and the places count those bytes.
  explicit NearestReading(Transfer decoding = Transfer::none);
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
  [[nodiscard]] static Undetected of(std::string_view input, Transfer decoding = Transfer::none);

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
  // Under a forgiving policy: how many changes so far, the first of them,
  // and with StreamSettings::locate the first changes_listed of them.
  [[nodiscard]] std::uint64_t changeCount() const noexcept;
  [[nodiscard]] Error firstChange() const noexcept;
  [[nodiscard]] const std::vector<Error>& changes() const noexcept;
  // The changes listed so far, which the stream then forgets (to tell them
  // as they come, in bounded memory).
  [[nodiscard]] std::vector<Error> takeChanges();
  // With StreamSettings::locate, after finish(): the kinds of line ending in
  // the decoded text, as LineEndingsSeen flags (kSeenLf, kSeenCrLf, kSeenCr;
  // mek/types.h).
  [[nodiscard]] unsigned lineEndingsSeen() const noexcept;
  // With Options::repair: the stretches repaired so far (start and end count
  // characters of the decoded text).
  [[nodiscard]] std::vector<Repair> repairs() const;

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
  // With a transfer encoding, what is detected is the input with it taken
  // off, as the conversion decodes it (Options::decode_transfer).
  explicit StreamDetector(Detection how = Detection::score, Transfer decoding = Transfer::none);
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

}  // namespace mek
