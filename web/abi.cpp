// A small C interface over <mek/mek.h> for WebAssembly: codes by number,
// detection with scores, conversion streams that keep their output until the
// caller takes it, and failures as flat records of doubles that JavaScript
// reads straight from memory. Every call runs on the caller's one thread:
// streams are made with StreamSettings::threads off, so neither pieces side
// by side nor a worker thread is started.
//
// The handles are the only state, owned by the caller: made by *_new and
// given back to *_free.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mek/mek.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define MEK_ABI extern "C" EMSCRIPTEN_KEEPALIVE
#else
#define MEK_ABI extern "C"
#endif

namespace {

// An Error as JavaScript reads it: ten doubles, which hold every field
// exactly (offsets, lines and columns stay below 2^53).
struct FlatError {
  double kind = 0;
  double offset = 0;
  double line = 0;
  double column = 0;
  double character = 0;
  double byte_count = 0;
  double bytes[4] = {};
};

FlatError flatten(const mek::Error& error) {
  FlatError flat;
  flat.kind = static_cast<double>(error.kind);
  flat.offset = static_cast<double>(error.offset);
  flat.line = static_cast<double>(error.line);
  flat.column = static_cast<double>(error.column);
  flat.character = static_cast<double>(error.character);
  flat.byte_count = error.byte_count;
  for (std::size_t i = 0; i < 4; ++i) flat.bytes[i] = error.bytes[i];
  return flat;
}

std::string_view viewOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

bool knownCode(int code) {
  return code >= 0 && code < static_cast<int>(mek::codes().size());
}

}  // namespace

struct MekDetector {
  mek::StreamDetector detector;
  std::int32_t scores[4] = {};  // by_mark, score, runner_up, runner_up_score
};

struct MekNearest {
  mek::NearestReading reading{mek::Transfer::none};
  FlatError first;
};

struct MekStream {
  std::string output;  // what the stream wrote and the caller has not yet taken
  mek::Stream stream;
  FlatError record;       // the last error or change asked for
  std::size_t taken = 0;  // listed changes already handed over
  std::vector<mek::Error> changes;

  MekStream(mek::Code from, mek::Code to, mek::LineEnding eol, const mek::Options& options,
            const mek::StreamSettings& settings)
      : stream(
            from, to, eol,
            [this](std::string_view bytes) {
              output.append(bytes);
              return true;
            },
            options, settings) {}
};

// Codes: numbers 0 .. mek_code_count() - 1, 0 being autodetect.
MEK_ABI int mek_code_count() {
  return static_cast<int>(mek::codes().size());
}
MEK_ABI const char* mek_code_name(int code) {
  return knownCode(code) ? mek::name(mek::codeOfNumber(code)).data() : "";
}
MEK_ABI const char* mek_code_description(int code) {
  return knownCode(code) ? mek::describe(mek::codeOfNumber(code)).data() : "";
}
// The code a name stands for, as the command line takes names; -1 for none.
MEK_ABI int mek_code_for(const char* name) {
  const std::optional<mek::Code> code = mek::codeFor(name);
  return code ? mek::numberOf(*code) : -1;
}
// "LF", "CRLF", "CR", "MIXED" or "NONE" for LineEndingsSeen flags.
MEK_ABI const char* mek_line_endings_name(unsigned seen) {
  return mek::lineEndingsName(seen).data();
}
MEK_ABI int mek_carries(int code, std::uint32_t character) {
  return knownCode(code) && mek::carries(mek::codeOfNumber(code), character);
}

// Detection over pieces. `how`: 0 first, 1 score.
MEK_ABI MekDetector* mek_detector_new(int how) {
  return new MekDetector{
      mek::StreamDetector(how == 0 ? mek::Detection::first : mek::Detection::score)};
}
MEK_ABI void mek_detector_feed(MekDetector* d, const std::uint8_t* data, std::size_t size) {
  d->detector.feed(viewOf(data, size));
}
MEK_ABI int mek_detector_settled(const MekDetector* d) {
  return d->detector.settled();
}
// The code, 0 when no code takes the text.
MEK_ABI int mek_detector_finish(MekDetector* d) {
  const int code = mek::numberOf(d->detector.finish());
  const mek::DetectionScores scores = d->detector.scores();
  d->scores[0] = scores.by_mark;
  d->scores[1] = static_cast<std::int32_t>(scores.score);
  d->scores[2] = mek::numberOf(scores.runner_up);
  d->scores[3] = static_cast<std::int32_t>(scores.runner_up_score);
  return code;
}
// After finish: four int32, by_mark, score, runner_up, runner_up_score.
MEK_ABI const std::int32_t* mek_detector_scores(const MekDetector* d) {
  return d->scores;
}
MEK_ABI void mek_detector_free(MekDetector* d) {
  delete d;
}

// The nearest reading of a text detection refused, over pieces.
MEK_ABI MekNearest* mek_nearest_new() {
  return new MekNearest;
}
MEK_ABI void mek_nearest_feed(MekNearest* n, const std::uint8_t* data, std::size_t size) {
  n->reading.feed(viewOf(data, size));
}
// The code that reads all but a few places (0: none), with the first of
// those places at mek_nearest_error().
MEK_ABI int mek_nearest_finish(MekNearest* n) {
  const mek::Undetected why = n->reading.finish();
  n->first = flatten(why.first);
  return mek::numberOf(why.code);
}
MEK_ABI const FlatError* mek_nearest_error(const MekNearest* n) {
  return &n->first;
}
MEK_ABI void mek_nearest_free(MekNearest* n) {
  delete n;
}

// A conversion stream. `errors`: 0 strict, 1 replace, 2 skip, 3 html;
// `replacement`: 0 or a character the output code carries; `folds`: Fold
// flags; `listed`: how many changes are kept to be listed. Null for a code
// or line ending it does not know.
MEK_ABI MekStream* mek_stream_new(int from, int to, int eol, int errors, std::uint32_t replacement,
                                  int fallback, unsigned folds, std::uint32_t listed) {
  if (!knownCode(from) || from == 0 || !knownCode(to) || to == 0 || eol < 1 || eol > 4 ||
      errors < 0 || errors > 3 || folds > 7) {
    return nullptr;
  }
  mek::Options options;
  options.errors = static_cast<mek::Errors>(errors);
  options.replacement = replacement;
  options.fallback = fallback != 0;
  options.folds = static_cast<mek::Fold>(folds);
  mek::StreamSettings settings;
  settings.threads = false;
  settings.locate = true;
  settings.changes_listed = listed;
  return new MekStream(mek::codeOfNumber(from), mek::codeOfNumber(to), mek::lineEndingOfNumber(eol),
                       options, settings);
}
// The next piece; 0 once the conversion has failed.
MEK_ABI int mek_stream_feed(MekStream* s, const std::uint8_t* data, std::size_t size) {
  return s->stream.feed(viewOf(data, size));
}
// Converts and keeps as output all that was fed but what a later byte could
// still change; 0 once the conversion has failed.
MEK_ABI int mek_stream_flush(MekStream* s) {
  return s->stream.flush();
}
// Ends the text; 1 when the whole text converted.
MEK_ABI int mek_stream_finish(MekStream* s) {
  return s->stream.finish();
}
// The output not yet taken; mek_stream_take() forgets it.
MEK_ABI const std::uint8_t* mek_stream_output(const MekStream* s) {
  return reinterpret_cast<const std::uint8_t*>(s->output.data());
}
MEK_ABI std::size_t mek_stream_output_size(const MekStream* s) {
  return s->output.size();
}
MEK_ABI void mek_stream_take(MekStream* s) {
  s->output.clear();
}
MEK_ABI const FlatError* mek_stream_error(MekStream* s) {
  s->record = flatten(s->stream.error());
  return &s->record;
}
// How many changes so far (a double: counts may pass 2^32).
MEK_ABI double mek_stream_change_count(const MekStream* s) {
  return static_cast<double>(s->stream.changeCount());
}
// The changes listed since the last call, which are then forgotten, one by
// one: mek_stream_next_change() gives the next, or null when none is left.
MEK_ABI const FlatError* mek_stream_next_change(MekStream* s) {
  if (s->taken == s->changes.size()) {
    s->changes = s->stream.takeChanges();
    s->taken = 0;
    if (s->changes.empty()) return nullptr;
  }
  s->record = flatten(s->changes[s->taken++]);
  return &s->record;
}
// After finish: LineEndingsSeen flags of the decoded text.
MEK_ABI unsigned mek_stream_line_endings(const MekStream* s) {
  return s->stream.lineEndingsSeen();
}
MEK_ABI void mek_stream_free(MekStream* s) {
  delete s;
}
