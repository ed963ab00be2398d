// Whole texts: detection, conversion, exact sizes and checks.

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "convert/huge_pages.h"
#include "detect/scored_detection.h"
#include "layer/engine.h"
#include "mek/codes.h"
#include "mek/detect.h"

namespace mek {
namespace {

// The code of a whole text, detected as options say: after its transfer
// encoding is taken off, when there is one.
Code detectFor(std::string_view input, const Options& options) {
  if (options.decode_transfer == Transfer::none) return detect(input, options.detection);
  StreamDetector detector(options.detection, options.decode_transfer);
  detector.feed(input);
  return detector.finish();
}

// Runs the whole conversion of `input` into `sink` (reset() before each run,
// write() for each stretch of output, false to stop). Most texts convert as
// they are: a first run counts no lines and may use a second thread. Only
// a text that failed or was changed is run again, locating, to tell where.
template <class Sink>
Sized runWhole(std::string_view input, Code from, Code to, LineEnding eol, const Options& options,
               Sink& sink) {
  if (from == Code::autodetect) from = detectFor(input, options);
  Sized result;
  if (from == Code::autodetect) {
    const Undetected why = NearestReading::of(input, options.decode_transfer);
    result.from = why.code;
    result.error = why.first;
    return result;
  }
  result.from = from;
  for (const bool locate : {false, true}) {
    sink.reset();
    ConversionStream::Options given = locating(options);
    given.locate = locate;
    given.worker = !locate;
    ConversionStream stream(
        from, to, eol,
        [&sink](const std::uint8_t* data, std::size_t size) { return sink.write(data, size); },
        given);
    const bool ok = stream.feed(bytesOf(input), input.size()) && stream.finish();
    if (stream.error().kind == ErrorKind::no_memory) throw std::bad_alloc();
    if (ok && stream.changeCount() == 0) {
      result.size = sink.size();
      return result;
    }
    if (!locate) continue;
    if (ok) {
      result.size = sink.size();
      result.changes = stream.changeCount();
      result.first_change = firstChangeOf(stream);
      return result;
    }
    result.error = stream.error();
    if (result.error.kind == ErrorKind::output && sink.full()) {
      result.error = Error{ErrorKind::too_large};
    }
    return result;
  }
  return result;
}

// Keeps the output in a string.
struct StringSink {
  std::string& bytes;
  std::size_t reserve;
  void reset() {
    bytes.clear();
    // Room for most outputs at once: growing a large string step by step
    // copies it and touches fresh pages again and again.
    bytes.reserve(reserve);
    adviseHugePages(bytes.data(), bytes.capacity());
  }
  bool write(const std::uint8_t* data, std::size_t size) {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::size_t size() const { return bytes.size(); }
  bool full() const { return false; }
};

// Counts the output and keeps none of it.
struct CountingSink {
  std::size_t count = 0;
  void reset() { count = 0; }
  bool write(const std::uint8_t*, std::size_t size) {
    count += size;
    return true;
  }
  std::size_t size() const { return count; }
  bool full() const { return false; }
};

// Writes the output into the caller's memory, and refuses what does not fit.
struct SpanSink {
  std::span<std::byte> out;
  std::size_t count = 0;
  bool overflow = false;
  void reset() { count = 0; }
  bool write(const std::uint8_t* data, std::size_t size) {
    const std::size_t room = out.size() - count;
    const std::size_t taken = size < room ? size : room;
    if (taken != 0) std::memcpy(out.data() + count, data, taken);
    count += taken;
    overflow = taken < size;
    return !overflow;
  }
  std::size_t size() const { return count; }
  bool full() const { return overflow; }
};

}  // namespace

Code detect(std::string_view input, Detection how) noexcept {
  const std::uint8_t* const begin = bytesOf(input);
  if (how == Detection::score) {
    return codeOfNumber(ScoredDetector::detect(begin, begin + input.size()).code);
  }
  return codeOfNumber(detectEncoding(begin, begin + input.size()));
}

Code detect(std::span<const std::byte> input, Detection how) noexcept {
  return detect(viewOf(input), how);
}

Result convert(std::string_view input, Code from, Code to, LineEnding eol, const Options& options) {
  Result result;
  StringSink sink{result.bytes, input.size() * 2 + 64};
  const Sized sized = runWhole(input, from, to, eol, options, sink);
  result.from = sized.from;
  result.error = sized.error;
  result.changes = sized.changes;
  result.first_change = sized.first_change;
  if (!result.ok()) result.bytes.clear();
  return result;
}

Result convert(std::span<const std::byte> input, Code from, Code to, LineEnding eol,
               const Options& options) {
  return convert(viewOf(input), from, to, eol, options);
}

Sized measure(std::string_view input, Code from, Code to, LineEnding eol, const Options& options) {
  CountingSink sink;
  Sized sized = runWhole(input, from, to, eol, options, sink);
  if (!sized.ok()) sized.size = 0;
  return sized;
}

Sized convertInto(std::string_view input, Code from, Code to, std::span<std::byte> out,
                  LineEnding eol, const Options& options) {
  SpanSink sink{out};
  return runWhole(input, from, to, eol, options, sink);
}

std::vector<Error> check(std::string_view input, Code from, Code to, const Options& options,
                         std::size_t limit) {
  if (from == Code::autodetect) from = detectFor(input, options);
  std::vector<Error> problems;
  if (from == Code::autodetect) {
    problems.push_back(NearestReading::of(input, options.decode_transfer).first);
    return problems;
  }
  // Every problem is replaced and placed; the policy asked for does not
  // change what is a problem.
  ConversionStream::Options given = locating(options);
  given.errors = Errors::replace;
  given.replacement = 0;
  given.changes_listed = limit;
  ConversionStream stream(
      from, to == Code::autodetect ? Code::utf16_be : to, LineEnding::lf,
      [](const std::uint8_t*, std::size_t) { return true; }, given);
  stream.feed(bytesOf(input), input.size());
  if (!stream.finish()) {
    if (stream.error().kind == ErrorKind::no_memory) throw std::bad_alloc();
    problems.push_back(stream.error());
    return problems;
  }
  problems = stream.changes();
  // A stage that holds a header field or a line lets its characters go
  // when the field ends, so what the encoder refuses there is found after
  // problems later in the input: the list is given in the input's order.
  std::stable_sort(problems.begin(), problems.end(),
                   [](const Error& a, const Error& b) { return a.offset < b.offset; });
  return problems;
}

std::vector<Error> check(std::string_view input, Code from, Code to, std::size_t limit) {
  return check(input, from, to, Options{}, limit);
}

}  // namespace mek
